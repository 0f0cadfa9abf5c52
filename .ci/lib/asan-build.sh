# Sourced by the sanitizer and fuzzing steps: one clang build with AddressSanitizer,
# UndefinedBehaviorSanitizer and libFuzzer's coverage instrumentation serves the whole test suite
# and the three fuzz targets, so the libraries are compiled once for both. -O1 with line tables
# keeps reports readable and compiles quickly; asserts stay on. The public headers' stand-alone
# compilation is checked by the test build already: it has no run time for a sanitizer to see.
zel_asan_build=${ZEL_CI_BUILD_ROOT:-build}/ci-asan

# zel_asan_configure: configures $zel_asan_build (idempotent).
zel_asan_configure() {
    CXX=clang++ cmake -S . -B "$zel_asan_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -gline-tables-only" \
        -DZEL_SANITIZE=address,undefined,fuzzer-no-link -DZEL_BUILD_FUZZERS=ON \
        -DZEL_BUILD_TESTS=ON -DZEL_CHECK_HEADERS=OFF -DZEL_WERROR=ON -DZEL_BUILD_BENCHMARKS=OFF \
        -DZEL_BUILD_EXAMPLES=OFF >/dev/null
}

# zel_asan_fuzz TARGET RUNS MAX_LEN CORPUS_DIRS... [-- EXTRA_FLAGS...]: runs the built fuzz
# target for RUNS executions from a copy of the corpus folders (libFuzzer adds what it finds to
# its first folder; the commit stays clean), its output into $zel_asan_build/TARGET.log. A crash
# writes crash-* into the build folder. An input may take 30 s: a text of a hundred bytes can
# expand within the reader's limit to four million operations, which take some 10 s under the
# sanitizers; a hang takes forever. Each target runs on one core, so two may run side by side.
zel_asan_fuzz() {
    local target=$1 runs=$2 max_len=$3
    shift 3
    local dirs=() extra=()
    while [ $# -gt 0 ] && [ "$1" != "--" ]; do
        dirs+=("$1")
        shift
    done
    [ $# -gt 0 ] && shift
    extra=("$@")
    local corpus status=0
    corpus=$(mktemp -d)
    for dir in "${dirs[@]}"; do
        cp "$dir"/* "$corpus"/ 2>/dev/null || true
    done
    ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 \
        UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        "$zel_asan_build/fuzz/$target" -runs="$runs" -seed=1 -max_len="$max_len" -timeout=30 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$zel_asan_build/" \
        "${extra[@]}" "$corpus" >"$zel_asan_build/$target.log" 2>&1 || status=$?
    rm -rf "$corpus"
    return "$status"
}
