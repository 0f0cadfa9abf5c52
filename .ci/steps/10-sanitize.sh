#!/usr/bin/env bash
# packages: g++
# The whole test suite under AddressSanitizer and UndefinedBehaviorSanitizer (g++), warnings as
# errors. The first report ends the process that made it, and so fails its test.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${ZEL_CI_BUILD_ROOT:-build}/ci-asan
start=$SECONDS

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEL_SANITIZE=address,undefined \
    -DZEL_WERROR=ON -DZEL_BUILD_BENCHMARKS=OFF -DZEL_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$build" --parallel 2

export ASAN_OPTIONS=halt_on_error=1:abort_on_error=0:detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
ctest --test-dir "$build" --output-on-failure --parallel 2

echo "sanitize: $((SECONDS - start)) s"
