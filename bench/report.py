#!/usr/bin/env python3
"""Reads the JSON of zel_bench (--benchmark_out) and prints each memory-bound result as a
fraction of the bandwidth probe measured by the same binary at the same qubit count and thread
setting: gates, copy and reset against the in-place scale probe (read + write), expectation
values and entropy against the read-only probe.

    python3 bench/report.py results.json                 # markdown table of every result
    python3 bench/report.py results.json --plot out.dat  # also the data behind the plot
    python3 bench/report.py results.json --targets       # only the summary per target

Only the standard library is used.
"""

import argparse
import json
import statistics
import sys

PROBE_OF = {
    "gate": "probe/scale",
    "top": "probe/scale",
    "state": "probe/scale",
    "expectation": "probe/read",
    "entropy": "probe/read",
}

# Kernels drawn in the plot: label -> (family, fixed arguments), all threads.
PLOTTED = {
    "H, qubit 0": ("gate/H", {"q": "0"}),
    "H, top qubit": ("gate/H", {"q": "2"}),
    "RZ, top qubit": ("gate/RZ", {"q": "2"}),
    "CX, top pair": ("gate/CX", {"q": "2", "rev": "0"}),
    "SWAP, top pair": ("gate/SWAP", {"q": "2", "rev": "1"}),
    "H2 expectation": ("expectation/h2", {}),
    "entropy": ("entropy", {}),
}


def parse(name):
    """'gate/H/n:22/q:2/threads:0/real_time' -> ('gate/H', {'n': '22', ...})."""
    family, args = [], {}
    for part in name.split("/"):
        if ":" in part:
            key, value = part.split(":", 1)
            args[key] = value
        elif part not in ("real_time", "manual_time"):
            family.append(part)
    return "/".join(family), args


def load(path):
    with open(path, encoding="utf-8") as handle:
        data = json.load(handle)
    results = {}
    for bench in data["benchmarks"]:
        if bench.get("run_type") == "aggregate" and bench.get("aggregate_name") != "median":
            continue
        family, args = parse(bench["run_name"] if "run_name" in bench else bench["name"])
        key = (family, tuple(sorted(args.items())))
        results.setdefault(key, []).append(bench)
    merged = {}
    for key, runs in results.items():
        # Repetitions: the median of each value.
        merged[key] = {
            "real_time": statistics.median(r["real_time"] for r in runs),
            "time_unit": runs[0]["time_unit"],
            "bytes_per_second": statistics.median(r.get("bytes_per_second", 0.0) for r in runs),
        }
    return data.get("context", {}), merged


def fraction(results, family, args):
    result = results[(family, tuple(sorted(args.items())))]
    probe_family = PROBE_OF.get(family.split("/")[0])
    if probe_family is None or result["bytes_per_second"] == 0:
        return None
    probe_args = {"n": args["n"], "threads": args["threads"]}
    probe = results.get((probe_family, tuple(sorted(probe_args.items()))))
    if probe is None or probe["bytes_per_second"] == 0:
        return None
    return result["bytes_per_second"] / probe["bytes_per_second"]


ONE_QUBIT = ["X", "Y", "Z", "H", "S", "SX", "T", "RX", "RY", "RZ"]
TWO_QUBIT = ["CX", "CZ", "SWAP"]


def print_targets(results):
    """Min / median / max fraction per target group, qubit count and thread setting."""
    groups = [
        ("one-qubit gates, every position", [f"gate/{k}" for k in ONE_QUBIT], {}),
        ("CX, CZ, SWAP, every pair and order", [f"gate/{k}" for k in TWO_QUBIT], {}),
        ("one-qubit gates, top qubit, straight loop", [f"top/{k}" for k in ONE_QUBIT],
         {"blocked": "0"}),
        ("one-qubit gates, top qubit, blocked", [f"top/{k}" for k in ONE_QUBIT], {"blocked": "1"}),
        ("H2 expectation", ["expectation/h2"], {}),
        ("random 40-term sum", ["expectation/random40"], {}),
        ("entropy", ["entropy"], {}),
    ]
    print("| target group | n | threads | min | median | max | worst case |")
    print("|---|---:|---:|---:|---:|---:|---|")
    for title, families, fixed in groups:
        for n in ("20", "22", "24", "26"):
            for threads in ("1", "0"):
                shares = []
                for (family, args), _ in results.items():
                    args = dict(args)
                    if (family in families and args.get("n") == n and args.get("threads") == threads
                            and all(args.get(k) == v for k, v in fixed.items())):
                        share = fraction(results, family, args)
                        if share is not None:
                            label = family.split("/")[-1] + "".join(
                                f" {k}:{v}" for k, v in sorted(args.items()) if k in ("q", "rev"))
                            shares.append((share, label))
                if not shares:
                    continue
                shares.sort()
                median = statistics.median(s for s, _ in shares)
                print(f"| {title} | {n} | {'all' if threads == '0' else '1'} | {shares[0][0]:.0%} | "
                      f"{median:.0%} | {shares[-1][0]:.0%} | {shares[0][1]} |")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("json")
    parser.add_argument("--plot", help="write 'n fraction...' columns for bench/plot.gp")
    parser.add_argument("--targets", action="store_true", help="print only the target summary")
    parser.add_argument("--plot-threads", default="1", choices=["1", "0"],
                        help="thread setting of the plotted results: 1, or 0 for all threads")
    options = parser.parse_args()
    context, results = load(options.json)
    if options.targets:
        print_targets(results)
        return 0

    print(f"Host: {context.get('host_name', '?')}, {context.get('num_cpus', '?')} CPUs, "
          f"{context.get('mhz_per_cpu', '?')} MHz, load average "
          f"{', '.join(f'{x:.2f}' for x in context.get('load_avg', []))} at the start")
    print()
    print("| benchmark | time | GB/s | fraction of probe |")
    print("|---|---:|---:|---:|")
    for (family, args), result in sorted(results.items(),
                                         key=lambda item: (item[0][0], int(dict(item[0][1]).get("n", 0)), item[0][1])):
        label = family + "/" + "/".join(f"{k}:{v}" for k, v in args)
        share = fraction(results, family, dict(args))
        rate = result["bytes_per_second"] / 1e9
        print(f"| {label} | {result['real_time']:.4g} {result['time_unit']} | "
              f"{rate:.2f} | {'' if share is None else f'{share:.0%}'} |")

    if options.plot:
        sizes = sorted({int(dict(args)["n"]) for (family, args) in results
                        if "n" in dict(args) and family.startswith("probe/")})
        with open(options.plot, "w", encoding="utf-8") as out:
            out.write("n " + " ".join(f'"{label}"' for label in PLOTTED) + "\n")
            for n in sizes:
                row = [str(n)]
                for family, fixed in PLOTTED.values():
                    args = dict(fixed, n=str(n), threads=options.plot_threads)
                    try:
                        share = fraction(results, family, args)
                    except KeyError:
                        share = None
                    row.append("NaN" if share is None else f"{share:.4f}")
                out.write(" ".join(row) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
