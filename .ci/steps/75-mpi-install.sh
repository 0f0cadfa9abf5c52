#!/usr/bin/env bash
# packages: openmpi-bin libopenmpi-dev
# Builds the libraries with zel-mpi, installs them into a temporary prefix, builds the
# distributed example of the guide against the installed zel::mpi (find_package(zel 0.1 CONFIG
# COMPONENTS mpi)) and runs it on two ranks.
set -euo pipefail
cd "$(dirname "$0")/../.."

work=$(mktemp -d "${TMPDIR:-/tmp}/zel-mpi-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

echo "+ install with ZEL_BUILD_MPI into $prefix"
cmake -S . -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DZEL_BUILD_MPI=ON -DZEL_BUILD_TESTS=OFF \
    -DZEL_BUILD_EXAMPLES=OFF -DZEL_BUILD_BENCHMARKS=OFF
cmake --build "$work/build" --parallel 2
cmake --install "$work/build" --prefix "$prefix"

echo "+ consumer of the installed zel::mpi"
cmake -S zel-mpi/tests/consumer -B "$work/consumer" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$prefix"
cmake --build "$work/consumer" --parallel 2

# Open MPI refuses to start as root unless told, and this machine may have fewer cores than ranks.
flags=(--oversubscribe)
if [ "$(id -u)" = 0 ]; then
    flags+=(--allow-run-as-root)
fi
echo "+ mpirun ${flags[*]} -np 2 distributed_search"
mpirun "${flags[@]}" -np 2 "$work/consumer/distributed_search"
