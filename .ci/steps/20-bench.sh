#!/usr/bin/env bash
# packages: hyperfine gnuplot-nox python3
# Builds the benchmarks in a build directory of their own and runs every benchmark once at tiny
# sizes, times kvt_run a few times and draws the plot from the tiny results, so that the whole
# performance tool chain keeps compiling and running. Timings are printed, never checked.
set -euo pipefail
cd "$(dirname "$0")/../.."

build=${ZEL_BENCH_BUILD_DIR:-build/ci-bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZEL_BUILD_BENCHMARKS=ON -DZEL_BUILD_TESTS=OFF
cmake --build "$build" --parallel 2 --target zel_bench kvt_run

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
"$build/bench/zel_bench" --benchmark_filter='/n:(2|10|12)/' --benchmark_min_time=0.0001 \
    --benchmark_out="$out/bench.json" --benchmark_out_format=json
python3 bench/report.py "$out/bench.json" --plot "$out/bench.dat" >/dev/null
gnuplot -e "data='$out/bench.dat'; out='$out/bench.png'" bench/plot.gp
bench/kvt_run_time.sh "$build/runner/kvt_run" 3
