#!/usr/bin/env bash
# Builds and runs every test (every CTest label: the libraries, the examples, kvt_run, the Python
# module, the distributed state on 1, 2 and 4 MPI ranks, the chemistry component and the zel
# tool), on a bare Debian 12 machine as on a developer's: installs the Debian packages it lacks
# (groups "run" and "test" of scripts/packages.txt; as root, or through sudo for an ordinary
# user), configures build/test, builds everything and runs CTest.
# A second run installs nothing and rebuilds only what changed.
#
#   scripts/test.sh                    everything
#   scripts/test.sh --configure-only   the packages and the configured build/test, no build
#
# ZEL_CMAKE_ARGS adds arguments to the configure step (CI adds -DZEL_WERROR=ON).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$ZEL_ROOT"

build=build/test
configure_only=false
case ${1:-} in
    '') ;;
    --configure-only) configure_only=true ;;
    *)
        echo "usage: scripts/test.sh [--configure-only]" >&2
        exit 2
        ;;
esac
if $configure_only; then ZEL_STEP_TOTAL=2; else ZEL_STEP_TOTAL=4; fi

zel_step "installing the Debian packages the tests need" \
    "check that apt-get can reach the Debian archive (apt-get update), then run this again" \
    zel_install_packages run test
# Line tables only (-g1): backtraces and debuggers still name the file and line, and the build
# takes a quarter less time than with full debug information.
# shellcheck disable=SC2086  # ZEL_CMAKE_ARGS is a list of words
zel_step "configuring $build (RelWithDebInfo, Python module, MPI)" \
    "read the CMake error above; remove $build and run this again if it came from an old cache" \
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" -DZEL_BUILD_PYTHON=ON \
    -DZEL_BUILD_MPI=ON ${ZEL_CMAKE_ARGS:-}
$configure_only && exit 0
zel_step "building everything with $(zel_jobs) jobs" \
    "read the first compiler error above" \
    cmake --build "$build" --parallel "$(zel_jobs)"
zel_step "running every test" \
    "the failing tests are listed above; rerun one with: ctest --test-dir $build -R NAME -V" \
    ctest --test-dir "$build" --output-on-failure --parallel "$(zel_jobs)"
