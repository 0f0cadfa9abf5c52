#!/usr/bin/env bash
# The libFuzzer target of the simulator (random circuits, states and Pauli sums checked against
# plain reference kernels) for a fixed number of executions from the committed seed corpus, in the
# sanitizer build of 10-sanitize.sh. A crash fails the step; the input goes to fuzz/regressions/
# once the fault is fixed, where the test suite replays it.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/lib/asan-build.sh
runs=${ZEL_FUZZ_RUNS:-150000}
start=$SECONDS
zel_asan_fuzz zel_fuzz "$runs" 1024 fuzz/corpus fuzz/regressions
echo "fuzz: $runs executions, $((SECONDS - start)) s"
