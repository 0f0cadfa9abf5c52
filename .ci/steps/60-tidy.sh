#!/usr/bin/env bash
# clang-tidy with the checks of .clang-tidy over the libraries (zel-mpi and zel-chem included), the
# runner and the zel tool; any finding fails.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${ZEL_CI_BUILD_ROOT:-build}/ci-tidy
start=$SECONDS

# Configuring is enough: the compilation database is written at configure time.
CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEL_BUILD_TESTS=OFF \
    -DZEL_BUILD_BENCHMARKS=OFF -DZEL_BUILD_EXAMPLES=OFF -DZEL_BUILD_MPI=ON >/dev/null

log=$(mktemp)
status=0
run-clang-tidy -p "$build" -j 2 -quiet "$PWD/(zel-core|zel-neural|zel-compiler|zel-mpi|zel-chem|cli|runner)/src/.*\.cpp\$" \
    >"$log" 2>&1 || status=$?
if [ "$status" -ne 0 ] || grep -qE "(warning|error):" "$log"; then
    cat "$log"
    echo "tidy: findings above" >&2
    exit 1
fi
rm -f "$log"
echo "tidy: clean ($((SECONDS - start)) s)"
