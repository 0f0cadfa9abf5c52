#!/usr/bin/env bash
# ThreadSanitizer over the worker pool and the state's parallel passes. The pool is built on
# std::thread, atomics and futexes, all of which TSan sees in an instrumented build.
#
# Two runs: the pool's contract tests must be free of reports, and a deliberate race through the
# pool must be reported. The second run proves the first one could have failed.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${ZEL_CI_BUILD_ROOT:-build}/ci-tsan
start=$SECONDS

CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEL_SANITIZE=thread \
    -DZEL_WERROR=ON -DZEL_BUILD_TESTS=ON -DZEL_BUILD_BENCHMARKS=OFF -DZEL_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$build" --parallel 2 --target pool_contract_test
test_binary=$build/tests/failure/pool_contract_test

export TSAN_OPTIONS="halt_on_error=1"
"$test_binary"

canary_log=$(mktemp)
if "$test_binary" --gtest_also_run_disabled_tests --gtest_filter='*RaceCanary' >"$canary_log" 2>&1; then
    cat "$canary_log"
    echo "tsan: the deliberate race went unreported; this configuration cannot be trusted" >&2
    exit 1
fi
if ! grep -q "ThreadSanitizer: data race" "$canary_log"; then
    cat "$canary_log"
    echo "tsan: the race canary failed without a race report" >&2
    exit 1
fi
rm -f "$canary_log"
echo "tsan: contract clean, canary race reported ($((SECONDS - start)) s)"
