#!/usr/bin/env bash
# Turns benchmark JSON into the table and plot of docs/performance.md.
# Usage: bench/plot.sh results.json [plot.png]   (needs python3 and gnuplot, both Debian)
set -euo pipefail
json=$1
png=${2:-docs/performance.png}
here=$(dirname "$0")
data=$(mktemp)
trap 'rm -f "$data"' EXIT
python3 "$here/report.py" "$json" --plot "$data"
gnuplot -e "data='$data'; out='$png'" "$here/plot.gp"
echo "wrote $png" >&2
