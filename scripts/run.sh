#!/usr/bin/env bash
# Builds the optimised kvt_run and runs it, on a bare Debian 12 machine as on a developer's:
# installs the Debian packages it lacks (group "run" of scripts/packages.txt; as root, or through
# sudo for an ordinary user), configures build/release, builds kvt_run alone and runs it.
# A second run installs nothing and rebuilds only what changed.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$ZEL_ROOT"

build=build/release
ZEL_STEP_TOTAL=4

zel_step "installing the Debian packages kvt_run needs" \
    "check that apt-get can reach the Debian archive (apt-get update), then run this again" \
    zel_install_packages run
zel_step "configuring $build (Release)" \
    "read the CMake error above; remove $build and run this again if it came from an old cache" \
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZEL_BUILD_TESTS=OFF \
    -DZEL_BUILD_EXAMPLES=OFF -DZEL_BUILD_CHEM=OFF ${ZEL_CMAKE_ARGS:-}
zel_step "building kvt_run with $(zel_jobs) jobs" \
    "read the first compiler error above" \
    cmake --build "$build" --parallel "$(zel_jobs)" --target kvt_run
zel_step "running $build/runner/kvt_run" \
    "kvt_run printed its reason on standard error above" \
    "./$build/runner/kvt_run"
