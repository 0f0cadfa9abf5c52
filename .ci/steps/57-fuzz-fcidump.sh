#!/usr/bin/env bash
# The libFuzzer target of the FCIDUMP reader (clang, with AddressSanitizer and
# UndefinedBehaviorSanitizer) for a fixed number of executions from the committed seed corpus.
# A crash fails the step; libFuzzer writes the input to crash-* in the build folder, and the input
# goes to fuzz/fcidump_corpus/ once the fault is fixed, where the test suite replays it.
set -euo pipefail
cd "$(dirname "$0")/../.."
# The same build folder and configuration as 50-fuzz.sh, so the libraries are built once.
build=${ZEL_CI_BUILD_ROOT:-build}/ci-fuzz
runs=${ZEL_FCIDUMP_FUZZ_RUNS:-100000}
start=$SECONDS

CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZEL_SANITIZE=fuzzer-no-link,address,undefined -DZEL_BUILD_FUZZERS=ON -DZEL_WERROR=ON \
    -DZEL_BUILD_TESTS=OFF -DZEL_BUILD_BENCHMARKS=OFF -DZEL_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$build" --parallel 2 --target zel_fcidump_fuzz

# libFuzzer adds what it finds to its first corpus folder: work on a copy, keep the commit clean.
corpus=$(mktemp -d)
cp fuzz/fcidump_corpus/* "$corpus"/
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
"$build/fuzz/zel_fcidump_fuzz" -runs="$runs" -seed=1 -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$build/" "$corpus"
rm -rf "$corpus"
echo "fuzz-fcidump: $runs executions, $((SECONDS - start)) s"
