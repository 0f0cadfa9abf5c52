#!/usr/bin/env python3
"""Per-call cost of the module from Python next to the same library call timed in C++.

For each case, the Python call is timed with timeit and the C++ call with a loop in the module
(zel._zel._bench) that makes the same call with no Python in between, alternately, in the same
process. Each figure is the median of several runs of many calls; the difference is what a call
from Python adds. Prints a Markdown table, the machine's load and the thread count.

    PYTHONPATH=build/py/python /usr/bin/python3 python/bench/overhead.py [--quick]

--quick runs every case a few times only, to check that the script works.
"""

import argparse
import os
import platform
import statistics
import timeit

import zel
from zel import _zel


def median_seconds(statement, names, number, repeat):
    """Median over `repeat` runs of the time per execution of `statement`, run `number` times."""
    runs = timeit.repeat(statement, globals=names, number=number, repeat=repeat)
    return statistics.median(t / number for t in runs)


def uniform_state(num_qubits):
    state = zel.ZarnikState(num_qubits)
    for q in range(num_qubits):
        state.apply_gate(zel.GateType.of(zel.GateKind.H), [q])
    return state


def cases(quick):
    """(name, Python statement, its names, C++ timing of the same call, calls per run)."""
    h = zel.GateType.of(zel.GateKind.H)
    h2 = zel.PauliSum.h2_hamiltonian()
    small = uniform_state(2)
    large = uniform_state(20)
    names = {"h": h, "h2": h2, "small": small, "large": large}
    scale = 1 if quick else 1000
    yield (
        "gate H on qubit 0, 2 qubits",
        "small.apply_gate(h, [0])",
        names,
        lambda n: _zel._bench.gate_seconds(small, h, [0], n),
        50 * scale,
    )
    yield (
        "expectation value of the H2 operator (6 terms), 2 qubits",
        "h2.expectation_value(small)",
        names,
        lambda n: _zel._bench.expectation_seconds(h2, small, n)[0],
        50 * scale,
    )
    yield (
        "expectation value of the H2 operator (6 terms), 20 qubits",
        "h2.expectation_value(large)",
        names,
        lambda n: _zel._bench.expectation_seconds(h2, large, n)[0],
        max(1, scale // 20),
    )


def format_seconds(seconds):
    if abs(seconds) < 1e-6:
        return f"{seconds * 1e9:.0f} ns"
    if abs(seconds) < 1e-3:
        return f"{seconds * 1e6:.2f} us"
    return f"{seconds * 1e3:.3f} ms"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="a few calls per case only")
    parser.add_argument("--repeat", type=int, default=7, help="runs per figure (median)")
    args = parser.parse_args()
    repeat = 2 if args.quick else args.repeat

    load = os.getloadavg()
    print(f"zel {zel.__version__}, Python {platform.python_version()}, "
          f"{zel.thread_count()} threads, {os.cpu_count()} CPUs")
    print(f"load average before: {load[0]:.2f} {load[1]:.2f} {load[2]:.2f}\n")
    print("| Call | Python statement | from Python | in C++ | added by Python |")
    print("|---|---|---|---|---|")
    baseline = median_seconds("zel.thread_count()", {"zel": zel},
                              20 if args.quick else 50000, repeat)
    for name, statement, names, in_cpp, number in cases(args.quick):
        python_times, cpp_times = [], []
        # Alternating, so that a change of the machine's load hits both columns alike.
        for _ in range(repeat):
            python_times.append(median_seconds(statement, names, number, 1))
            cpp_times.append(in_cpp(number))
        python_time = statistics.median(python_times)
        cpp_time = statistics.median(cpp_times)
        print(f"| {name} | `{statement}` | {format_seconds(python_time)} | "
              f"{format_seconds(cpp_time)} | {format_seconds(python_time - cpp_time)} |")
    print(f"\nA call of zel.thread_count() (no arguments, no library work): "
          f"{format_seconds(baseline)}")
    load = os.getloadavg()
    print(f"load average after: {load[0]:.2f} {load[1]:.2f} {load[2]:.2f}")


if __name__ == "__main__":
    main()
