#!/usr/bin/env bash
# The test build (build/test: RelWithDebInfo, zel-mpi and zel-chem on, and the benchmarks too,
# which .ci/run adds to the test command) serves three more checks, so the libraries are compiled
# once for all of them:
#   1. every benchmark once at tiny sizes, kvt_run timed a few times and the plot drawn from the
#      tiny results, so that the whole performance tool chain keeps compiling and running
#      (timings are printed, never checked);
#   2. the libraries installed into a temporary prefix, and a small outside program built and run
#      against the installed tree twice: as a CMake project with find_package(zel 0.1 CONFIG), and
#      compiled by hand with the flags of `pkg-config --cflags --libs zel`;
#   3. the distributed example of the guide built against the installed zel::mpi
#      (find_package(zel 0.1 CONFIG COMPONENTS mpi)) and run on two ranks.
set -euo pipefail
cd "$(dirname "$0")/../.."

build=build/test
work=$(mktemp -d "${TMPDIR:-/tmp}/zel-bench-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

if [ ! -x "$build/bench/zel_bench" ]; then
    echo "bench-install: $build/bench/zel_bench is missing; .ci/run builds it with the test command" >&2
    exit 1
fi

echo "+ benchmarks at tiny sizes"
"$build/bench/zel_bench" --benchmark_filter='/n:(2|10|12)/' --benchmark_min_time=0.0001 \
    --benchmark_out="$work/bench.json" --benchmark_out_format=json
python3 bench/report.py "$work/bench.json" --plot "$work/bench.dat" >/dev/null
gnuplot -e "data='$work/bench.dat'; out='$work/bench.png'" bench/plot.gp
bench/kvt_run_time.sh "$build/runner/kvt_run" 3

echo "+ install into $prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

echo "+ CMake consumer"
cmake -S tests/consumer -B "$work/consumer" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/consumer" --parallel 2
"$work/consumer/zel_consumer"

echo "+ pkg-config consumer"
pc_file=$(find "$prefix" -name zel.pc -print -quit)
if [ -z "$pc_file" ]; then
    echo "zel.pc was not installed" >&2
    exit 1
fi
export PKG_CONFIG_PATH
PKG_CONFIG_PATH=$(dirname "$pc_file")
pkg-config --modversion zel
read -r -a flags <<<"$(pkg-config --cflags --libs zel)"
echo "+ g++ tests/consumer/main.cpp ${flags[*]}"
g++ tests/consumer/main.cpp "${flags[@]}" -o "$work/zel_consumer_pc"
"$work/zel_consumer_pc"

echo "+ consumer of the installed zel::mpi"
cmake -S zel-mpi/tests/consumer -B "$work/mpi-consumer" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/mpi-consumer" --parallel 2
# Open MPI refuses to start as root unless told, and this machine may have fewer cores than ranks.
mpi_flags=(--oversubscribe)
if [ "$(id -u)" = 0 ]; then
    mpi_flags+=(--allow-run-as-root)
fi
echo "+ mpirun ${mpi_flags[*]} -np 2 distributed_search"
mpirun "${mpi_flags[@]}" -np 2 "$work/mpi-consumer/distributed_search"
