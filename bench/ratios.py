#!/usr/bin/env python3
"""Ratios measured in the same run, from one or more JSON files of zel_bench
(--benchmark_out, ideally with --benchmark_repetitions and medians):

    python3 bench/ratios.py threads results.json...   # all-thread time / one-thread time
    python3 bench/ratios.py fused results.json...     # fused time / per-gate time of circuits
    python3 bench/ratios.py fused results.json... --plot fused.dat
                                                       # also the data of the fused plot
    python3 bench/ratios.py probe results.json...     # gates as a fraction of the scale probe
    python3 bench/ratios.py qubits results.json...    # one-qubit kinds on every qubit, as a
                                                       # fraction of the scale probe's bandwidth
    python3 bench/ratios.py lower results.json...     # two-qubit kinds by lower qubit, and by
                                                       # upper qubit with the other on qubit 0:
                                                       # time over that of one scale probe pass
    python3 bench/ratios.py paired results.json...    # one-qubit kinds timed against a probe
                                                       # pass over the same state, by qubit
                                                       # (paired_read/: the reads of the same
                                                       # pattern against a read-only pass;
                                                       # far/: the top qubits with the far-pair
                                                       # traversal on and off)
    python3 bench/ratios.py paired results.json... --summary
                                                       # the same, one row per kind and n

Results repeated across files (or repetitions) are reduced to their median first. Only the
standard library is used.
"""

import argparse
import json
import statistics
import sys

# The benchmark-name parser shared with report.py (this folder is on the module path when the
# script runs).
from report import parse


# Counters reported by some benchmarks (the passes of a fused circuit), by the same keys.
COUNTERS = {}


def load(paths):
    """{(family, frozen args): median real time} over every file; counters go to COUNTERS."""
    times = {}
    for path in paths:
        with open(path, encoding="utf-8") as handle:
            data = json.load(handle)
        for bench in data["benchmarks"]:
            if bench.get("run_type") == "aggregate":
                continue
            family, args = parse(bench.get("run_name", bench["name"]))
            key = (family, tuple(sorted(args.items())))
            times.setdefault(key, []).append(bench["real_time"])
            if "passes" in bench:
                COUNTERS[key] = bench["passes"]
    return {key: statistics.median(values) for key, values in times.items()}


def with_arg(args, **changes):
    merged = dict(args)
    merged.update(changes)
    return tuple(sorted(merged.items()))


def thread_ratios(times):
    print("| benchmark | 1 thread | all threads | all / 1 |")
    print("|---|---|---|---|")
    worst = 0.0
    ratios = []
    for (family, args), one in sorted(times.items()):
        arguments = dict(args)
        if arguments.get("threads") != "1":
            continue
        both = times.get((family, with_arg(arguments, threads="0")))
        if both is None:
            continue
        ratio = both / one
        worst = max(worst, ratio)
        ratios.append(ratio)
        label = family + "/" + "/".join(f"{k}:{v}" for k, v in args if k != "threads")
        print(f"| {label} | {one:.4g} | {both:.4g} | {ratio:.2f} |")
    if ratios:
        print(f"\nmedian all / 1: {statistics.median(ratios):.2f}")
        print(f"above 1.1: {sum(r > 1.1 for r in ratios)} of {len(ratios)}")
    print(f"largest all / 1: {worst:.2f}")


def fused_ratios(times, plot):
    print("| n | gates | k | passes | per gate | fused | fused / per gate |")
    print("|---|---|---|---|---|---|---|")
    rows = []
    for (family, args), fused in sorted(times.items(), key=lambda kv: sorted(kv[0][1])):
        arguments = dict(args)
        if family != "circuit" or arguments.get("k") == "0":
            continue
        per_gate = times.get((family, with_arg(arguments, k="0")))
        if per_gate is None:
            continue
        passes = COUNTERS.get((family, args))
        rows.append((int(arguments["n"]), int(arguments["gates"]), int(arguments["k"]),
                     arguments.get("threads"), per_gate, fused,
                     "" if passes is None else f"{passes:.0f}"))
    for n, gates, k, threads, per_gate, fused, passes in sorted(rows):
        print(f"| {n} | {gates} | {k} (threads:{threads}) | {passes} | {per_gate:.4g} | "
              f"{fused:.4g} | {fused / per_gate:.2f} |")
    if plot:
        with open(plot, "w", encoding="utf-8") as out:
            out.write("# n gates k threads per_gate_ms fused_ms\n")
            for row in sorted(rows):
                out.write(" ".join(str(x) for x in row[:6]) + "\n")


def probe_fractions(times):
    print("| gate | n | q | threads | gate time | scale probe | probe / gate |")
    print("|---|---|---|---|---|---|---|")
    for (family, args), time in sorted(times.items()):
        arguments = dict(args)
        if not family.startswith("gate/") or "rev" in arguments:
            continue
        probe = times.get(("probe/scale", tuple(sorted(
            {"n": arguments["n"], "threads": arguments["threads"]}.items()))))
        if probe is None:
            continue
        # A one-qubit kind that changes half of the amplitudes moves half the bytes.
        print(f"| {family} | {arguments['n']} | {arguments['q']} | {arguments['threads']} | "
              f"{time:.4g} | {probe:.4g} | {probe / time:.2f} |")


def load_rates(paths):
    """{(family, frozen args): median bytes per second} over every file."""
    rates, medians = {}, {}
    for path in paths:
        with open(path, encoding="utf-8") as handle:
            data = json.load(handle)
        for bench in data["benchmarks"]:
            if "bytes_per_second" not in bench:
                continue
            family, args = parse(bench.get("run_name", bench["name"]))
            key = (family, tuple(sorted(args.items())))
            if bench.get("run_type") != "aggregate":
                rates.setdefault(key, []).append(bench["bytes_per_second"])
            elif bench.get("aggregate_name") == "median":
                # Files written with --benchmark_report_aggregates_only hold only these.
                medians.setdefault(key, []).append(bench["bytes_per_second"])
    for key, values in medians.items():
        rates.setdefault(key, values)
    return {key: statistics.median(values) for key, values in rates.items()}


def spans(qubits):
    """[1, 2, 3, 7] -> '1-3, 7'."""
    out = []
    for q in sorted(qubits):
        if out and out[-1][1] == q - 1:
            out[-1][1] = q
        else:
            out.append([q, q])
    return ", ".join(str(a) if a == b else f"{a}-{b}" for a, b in out)


def qubit_fractions(paths, goal=0.9):
    """Each kind's bandwidth on every qubit over the scale probe's (the bytes a kernel must move:
    Z, S and T on qubits 2 and up move half the lines)."""
    rates = load_rates(paths)
    rows = {}
    for (family, args), rate in rates.items():
        arguments = dict(args)
        if not family.startswith("qubit/"):
            continue
        probe = rates.get(("probe/scale", tuple(sorted(
            {"n": arguments["n"], "threads": arguments["threads"]}.items()))))
        if probe is None:
            continue
        key = (family.split("/")[1], int(arguments["n"]))
        rows.setdefault(key, {})[int(arguments["t"])] = rate / probe
    print(f"| kind | n | median | lowest (qubit) | qubits below {goal} |")
    print("|---|---|---|---|---|")
    for (kind, n), fractions in sorted(rows.items()):
        low = min(fractions, key=fractions.get)
        below = [q for q, f in fractions.items() if f < goal]
        print(f"| {kind} | {n} | {statistics.median(fractions.values()):.2f} | "
              f"{fractions[low]:.2f} ({low}) | {spans(below) or '-'} |")


def sweep_passes(times, prefix, key):
    """CX, CZ and SWAP by one qubit (lower/<kind>/n/low/rev, upper/<kind>/n/high/rev), in passes
    of the scale probe."""
    columns = {}
    for (family, args), time in times.items():
        arguments = dict(args)
        if not family.startswith(prefix + "/"):
            continue
        probe = times.get(("probe/scale", tuple(sorted(
            {"n": arguments["n"], "threads": "1"}.items()))))
        if probe is None:
            continue
        name = family.split("/")[1] + (" rev" if arguments["rev"] == "1" else "")
        columns.setdefault(name, {})[int(arguments[key])] = time / probe
    names = sorted(columns)
    print(f"| {prefix} qubit | " + " | ".join(names) + " |")
    print("|---" * (len(names) + 1) + "|")
    for low in sorted({q for column in columns.values() for q in column}):
        cells = (f"{columns[name][low]:.2f}" if low in columns[name] else "-" for name in names)
        print(f"| {low} | " + " | ".join(cells) + " |")


def load_passes(paths):
    """paired/<kind>/n/t: the `passes` counter (the median over the iterations of gate time over
    the probe pass just before it, on the same state), keyed by (n, t, kind), one value per file.
    paired_read/n/t/lookahead, the reads of the same pattern against a read-only pass, comes in
    as the kind read/<lookahead>; far/<kind>/n/t/blocked as <kind>/blocked:<0 or 1>."""
    values = {}
    for path in paths:
        with open(path, encoding="utf-8") as handle:
            data = json.load(handle)
        for bench in data["benchmarks"]:
            family, args = parse(bench.get("run_name", bench["name"]))
            if "passes" not in bench:
                continue
            if family.startswith("paired/"):
                kind = family.split("/")[1]
            elif family == "paired_read":
                kind = f"read/{args['lookahead']}"
            elif family.startswith("far/"):
                kind = f"{family.split('/')[1]}/blocked:{args['blocked']}"
            else:
                continue
            values.setdefault((int(args["n"]), int(args["t"]), kind), []).append(bench["passes"])
    return values


def paired_summary(paths, goal=1 / 0.9):
    """One row per kind and n from the paired/ medians over the files: the median over the
    qubits, the highest (its qubit) and the qubits above `goal` passes (0.9 of the probe's
    speed)."""
    rows = {}
    for (n, qubit, kind), passes in load_passes(paths).items():
        rows.setdefault((kind, n), {})[qubit] = statistics.median(passes)
    print(f"| kind | n | median | highest (qubit) | qubits above {goal:.2f} |")
    print("|---|---|---|---|---|")
    for (kind, n), by_qubit in sorted(rows.items()):
        high = max(by_qubit, key=by_qubit.get)
        above = [q for q, p in by_qubit.items() if p > goal]
        print(f"| {kind} | {n} | {statistics.median(by_qubit.values()):.2f} | "
              f"{by_qubit[high]:.2f} ({high}) | {spans(above) or '-'} |")


def paired_passes(paths):
    """The paired/ medians over the files; a table per n, qubits as rows, kinds as columns."""
    values = load_passes(paths)
    for n in sorted({key[0] for key in values}):
        kinds = sorted({key[2] for key in values if key[0] == n})
        print(f"| n = {n}, qubit | " + " | ".join(kinds) + " |")
        print("|---" * (len(kinds) + 1) + "|")
        for qubit in sorted({key[1] for key in values if key[0] == n}):
            cells = (f"{statistics.median(values[(n, qubit, kind)]):.2f}"
                     if (n, qubit, kind) in values else "-" for kind in kinds)
            print(f"| {qubit} | " + " | ".join(cells) + " |")
        print()


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("what",
                        choices=["threads", "fused", "probe", "qubits", "lower", "paired"])
    parser.add_argument("files", nargs="+")
    parser.add_argument("--plot", help="with 'fused': write the plot data here")
    parser.add_argument("--summary", action="store_true",
                        help="with 'paired': one row per kind and n instead of every qubit")
    options = parser.parse_args()
    if options.what == "qubits":
        qubit_fractions(options.files)
        return 0
    if options.what == "paired":
        (paired_summary if options.summary else paired_passes)(options.files)
        return 0
    times = load(options.files)
    if options.what == "threads":
        thread_ratios(times)
    elif options.what == "fused":
        fused_ratios(times, options.plot)
    elif options.what == "lower":
        sweep_passes(times, "lower", "low")
        print()
        sweep_passes(times, "upper", "high")
    else:
        probe_fractions(times)
    return 0


if __name__ == "__main__":
    sys.exit(main())
