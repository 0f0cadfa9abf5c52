#!/usr/bin/env bash
# Turns benchmark JSON into the table and plot of docs/performance.md.
# Usage: bench/plot.sh results.json [plot.png] [1|0]   (threads of the plotted results: 1, or
# 0 for all; needs python3 and gnuplot, both Debian)
set -euo pipefail
json=$1
png=${2:-docs/performance.png}
threads=${3:-1}
here=$(dirname "$0")
data=$(mktemp)
trap 'rm -f "$data"' EXIT
python3 "$here/report.py" "$json" --plot "$data" --plot-threads "$threads" >/dev/null
label=$([ "$threads" = 1 ] && echo "one thread" || echo "all threads")
gnuplot -e "data='$data'; out='$png'; threads='$label'" "$here/plot.gp"
echo "wrote $png" >&2
