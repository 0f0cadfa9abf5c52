#!/usr/bin/env bash
# The libFuzzer target of the FCIDUMP reader for a fixed number of executions from the committed
# seed corpus, in the sanitizer build of 10-sanitize.sh. A crash fails the step; the input goes to
# fuzz/fcidump_corpus/ once the fault is fixed, where the test suite replays it.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/lib/asan-build.sh
runs=${ZEL_FCIDUMP_FUZZ_RUNS:-100000}
start=$SECONDS
zel_asan_fuzz zel_fcidump_fuzz "$runs" 4096 fuzz/fcidump_corpus
echo "fuzz-fcidump: $runs executions, $((SECONDS - start)) s"
