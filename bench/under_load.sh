#!/usr/bin/env bash
# Runs zel_bench while a busy loop holds one CPU, so that the pool's second worker competes with
# another process for its core, as on a shared machine. The loop is pinned to the last CPU and
# stopped when the benchmark ends, however it ends.
#
#     bench/under_load.sh build/bench/bench/zel_bench out.json [zel_bench arguments...]
#
# then `bench/ratios.py threads out.json` gives all-thread time over one-thread time per kernel.
set -euo pipefail
if [ $# -lt 2 ]; then
    echo "usage: $0 ZEL_BENCH OUT.json [ARGS...]" >&2
    exit 2
fi
binary=$1
out=$2
shift 2

cpu=$(($(nproc) - 1))
taskset -c "$cpu" bash -c 'while :; do :; done' &
busy=$!
trap 'kill "$busy" 2>/dev/null || true' EXIT

"$binary" --benchmark_out="$out" --benchmark_out_format=json "$@"
