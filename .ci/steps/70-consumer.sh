#!/usr/bin/env bash
# packages: pkg-config
# Installs the libraries into a temporary prefix, then builds and runs a small outside program
# against the installed tree twice: once as a CMake project with find_package(zel 0.1 CONFIG),
# once compiled by hand with the flags of `pkg-config --cflags --libs zel`.
set -euo pipefail
cd "$(dirname "$0")/../.."

work=$(mktemp -d "${TMPDIR:-/tmp}/zel-consumer.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

echo "+ install into $prefix"
cmake -S . -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DZEL_BUILD_TESTS=OFF \
    -DZEL_BUILD_EXAMPLES=OFF -DZEL_BUILD_BENCHMARKS=OFF
cmake --build "$work/build" --parallel 2
cmake --install "$work/build" --prefix "$prefix"

echo "+ CMake consumer"
cmake -S tests/consumer -B "$work/consumer" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$prefix"
cmake --build "$work/consumer" --parallel 2
"$work/consumer/zel_consumer"

echo "+ pkg-config consumer"
pc_file=$(find "$prefix" -name zel.pc -print -quit)
if [ -z "$pc_file" ]; then
    echo "zel.pc was not installed" >&2
    exit 1
fi
export PKG_CONFIG_PATH
PKG_CONFIG_PATH=$(dirname "$pc_file")
pkg-config --modversion zel
read -r -a flags <<<"$(pkg-config --cflags --libs zel)"
echo "+ g++ tests/consumer/main.cpp ${flags[*]}"
g++ tests/consumer/main.cpp "${flags[@]}" -o "$work/zel_consumer_pc"
"$work/zel_consumer_pc"
