#!/usr/bin/env bash
# The libFuzzer target of the OpenQASM reader, with the token dictionary, for a fixed number of
# executions from the committed seed corpus, in the sanitizer build of 10-sanitize.sh. A crash
# fails the step; the input goes to fuzz/qasm_corpus/ (named reject_* when the reader must refuse
# it) once the fault is fixed, where the test suite replays it.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/lib/asan-build.sh
runs=${ZEL_QASM_FUZZ_RUNS:-200000}
start=$SECONDS
zel_asan_fuzz zel_qasm_fuzz "$runs" 4096 fuzz/qasm_corpus -- -dict=fuzz/qasm.dict
echo "fuzz-qasm: $runs executions, $((SECONDS - start)) s"
