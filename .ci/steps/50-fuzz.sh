#!/usr/bin/env bash
# The three libFuzzer targets, in the sanitizer build of 10-sanitize.sh, each for a fixed number
# of executions from its committed seed corpus with seed 1:
#   zel_fuzz          random circuits, states and Pauli sums checked against plain reference
#                     kernels (fuzz/corpus/, fuzz/regressions/);
#   zel_qasm_fuzz     bytes into the OpenQASM reader, with the token dictionary: every text that
#                     parses must export and read back to the same circuit (fuzz/qasm_corpus/);
#   zel_fcidump_fuzz  bytes into the FCIDUMP reader (fuzz/fcidump_corpus/).
# A fuzzer runs on one core, so the simulator's runs beside the two readers' one after the other.
# A crash fails the step; once the fault is fixed the input goes into the target's corpus folder
# (fuzz/regressions/ for the simulator, reject_* in fuzz/qasm_corpus/ when the reader must refuse
# it), where the test suite replays it.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/lib/asan-build.sh
simulator_runs=${ZEL_FUZZ_RUNS:-100000}
qasm_runs=${ZEL_QASM_FUZZ_RUNS:-200000}
fcidump_runs=${ZEL_FCIDUMP_FUZZ_RUNS:-100000}
start=$SECONDS

zel_asan_configure
cmake --build "$zel_asan_build" --parallel 2 --target zel_fuzz zel_qasm_fuzz zel_fcidump_fuzz

zel_asan_fuzz zel_fuzz "$simulator_runs" 1024 fuzz/corpus fuzz/regressions &
simulator=$!
status=()
zel_asan_fuzz zel_qasm_fuzz "$qasm_runs" 4096 fuzz/qasm_corpus -- -dict=fuzz/qasm.dict &&
    status[1]=0 || status[1]=$?
zel_asan_fuzz zel_fcidump_fuzz "$fcidump_runs" 4096 fuzz/fcidump_corpus &&
    status[2]=0 || status[2]=$?
wait "$simulator" && status[0]=0 || status[0]=$?

failed=false
targets=(zel_fuzz zel_qasm_fuzz zel_fcidump_fuzz)
for i in 0 1 2; do
    log=$zel_asan_build/${targets[i]}.log
    if [ "${status[i]}" -ne 0 ]; then
        echo "==> ${targets[i]} failed with status ${status[i]}; the end of its output:"
        tail -n 80 "$log"
        failed=true
    else
        echo "==> ${targets[i]}: $(grep -m1 '^stat::number_of_executed_units' "$log" || true)"
    fi
done
if $failed; then
    echo "fuzz: crash inputs are in $zel_asan_build/ (crash-*, timeout-*, oom-*)" >&2
    exit 1
fi
echo "fuzz: $simulator_runs, $qasm_runs and $fcidump_runs executions, $((SECONDS - start)) s"
