#!/usr/bin/env bash
# The libFuzzer target (clang, with AddressSanitizer and UndefinedBehaviorSanitizer) for a fixed
# number of executions from the committed seed corpus: about a minute on two cores. A crash
# fails the step; libFuzzer writes the input to crash-* in the working folder, and the input
# goes to fuzz/regressions/ once the fault is fixed.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${ZEL_CI_BUILD_ROOT:-build}/ci-fuzz
runs=${ZEL_FUZZ_RUNS:-700000}
start=$SECONDS

CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZEL_SANITIZE=fuzzer-no-link,address,undefined -DZEL_BUILD_FUZZERS=ON -DZEL_WERROR=ON \
    -DZEL_BUILD_TESTS=OFF -DZEL_BUILD_BENCHMARKS=OFF -DZEL_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$build" --parallel 2 --target zel_fuzz

# libFuzzer adds what it finds to its first corpus folder: work on a copy, keep the commit clean.
corpus=$(mktemp -d)
cp fuzz/corpus/* fuzz/regressions/* "$corpus"/ 2>/dev/null || true
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
"$build/fuzz/zel_fuzz" -runs="$runs" -seed=1 -max_len=1024 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$build/" "$corpus"
rm -rf "$corpus"
echo "fuzz: $runs executions, $((SECONDS - start)) s"
