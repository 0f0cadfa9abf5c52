#!/usr/bin/env bash
# kvt_run of the test build (RelWithDebInfo, built by the README's test command, which .ci/run
# runs with warnings as errors) under valgrind memcheck: any memory error, and any block left
# allocated at exit, fails.
#
# memcheck tracks the heap (malloc, operator new, aligned_alloc); amplitude buffers of 2 MiB and
# more are mapped directly with mmap and are outside its view, but kvt_run's two-qubit states all
# come from the heap.
set -euo pipefail
cd "$(dirname "$0")/../.."
binary=build/test/runner/kvt_run
start=$SECONDS

if [ ! -x "$binary" ]; then
    echo "valgrind: $binary is missing; .ci/run builds it with the test command first" >&2
    exit 1
fi
valgrind --tool=memcheck --error-exitcode=99 --leak-check=full --show-leak-kinds=all \
    --errors-for-leak-kinds=all --track-origins=yes "$binary" >/dev/null
echo "valgrind: $((SECONDS - start)) s"
