#!/usr/bin/env bash
# The whole test suite under AddressSanitizer and UndefinedBehaviorSanitizer, warnings as errors,
# in the clang build that also holds the fuzz targets of the later steps (.ci/lib/asan-build.sh).
# The first report ends the process that made it, and so fails its test.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/lib/asan-build.sh
start=$SECONDS

zel_asan_configure
cmake --build "$zel_asan_build" --parallel 2

export ASAN_OPTIONS=halt_on_error=1:abort_on_error=0:detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# The process-level tests of the zel tool keep their molecules of up to six orbitals here.
ZEL_TEST_SMALL=1 ctest --test-dir "$zel_asan_build" --output-on-failure --parallel 2

# The install of a build without zel-mpi, consumed by an outside CMake project: the package
# configuration's path without MPI. (The optimised build of 20-bench-install.sh installs with it.)
prefix=$(mktemp -d "${TMPDIR:-/tmp}/zel-asan-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
cmake --install "$zel_asan_build" --prefix "$prefix/install" >/dev/null
flags="-fsanitize=address,undefined,fuzzer-no-link"
CXX=clang++ cmake -S tests/consumer -B "$prefix/consumer" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_PREFIX_PATH="$prefix/install" -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$prefix/consumer" --parallel 2
"$prefix/consumer/zel_consumer" >/dev/null
echo "sanitize: the install without zel-mpi builds and runs a consumer"

echo "sanitize: $((SECONDS - start)) s"
