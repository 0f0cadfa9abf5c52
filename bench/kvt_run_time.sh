#!/usr/bin/env bash
# Times the whole kvt_run process: the median wall time over RUNS runs (hyperfine, Debian
# package), and the median of the elapsed time kvt_run prints in its own report.
# Usage: bench/kvt_run_time.sh [path/to/kvt_run] [runs]
set -euo pipefail
binary=${1:-build/release/runner/kvt_run}
runs=${2:-30}
json=$(mktemp)
trap 'rm -f "$json"' EXIT

hyperfine --shell=none --warmup 3 --runs "$runs" --output=null --export-json "$json" "$binary" \
    >&2
python3 - "$json" <<'PY'
import json, sys
result = json.load(open(sys.argv[1]))["results"][0]
print(f"process wall time: median {result['median'] * 1e3:.3f} ms over {len(result['times'])} runs "
      f"(min {result['min'] * 1e3:.3f} ms, max {result['max'] * 1e3:.3f} ms)")
PY

# The report line reads like "Tempo de Execução: 926.007µs"; units ns, µs, ms or s.
for _ in $(seq "$runs"); do
    "$binary" | sed -n 's/.*Tempo de Execu.*: \([0-9.]*\)\([^0-9.]*\)$/\1 \2/p'
done | python3 -c '
import statistics, sys
scale = {"ns": 1e-6, "µs": 1e-3, "us": 1e-3, "ms": 1.0, "s": 1e3}
values = [float(v) * scale[u] for v, u in (line.split() for line in sys.stdin)]
print(f"printed elapsed time: median {statistics.median(values):.3f} ms over {len(values)} runs "
      f"(min {min(values):.3f} ms, max {max(values):.3f} ms)")
'
