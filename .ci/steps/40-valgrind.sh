#!/usr/bin/env bash
# packages: valgrind
# The plain build of everything (libraries, kvt_run, tests, examples) with warnings as errors,
# then kvt_run under valgrind memcheck: any memory error, and any block left allocated at exit,
# fails.
#
# memcheck tracks the heap (malloc, operator new, aligned_alloc); amplitude buffers of 2 MiB and
# more are mapped directly with mmap and are outside its view, but kvt_run's two-qubit states all
# come from the heap.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${ZEL_CI_BUILD_ROOT:-build}/ci-valgrind
start=$SECONDS

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEL_WERROR=ON -DZEL_BUILD_TESTS=ON \
    -DZEL_BUILD_EXAMPLES=ON -DZEL_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" --parallel 2

valgrind --tool=memcheck --error-exitcode=99 --leak-check=full --show-leak-kinds=all \
    --errors-for-leak-kinds=all --track-origins=yes "$build/runner/kvt_run" >/dev/null
echo "valgrind: $((SECONDS - start)) s"
