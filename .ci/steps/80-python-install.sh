#!/usr/bin/env bash
# Installs the Python module with pip, offline, into a fresh virtual environment that sees
# Debian's packages (NumPy), and runs the H2 example with that environment's interpreter from
# outside the source tree, so that it can only import the installed package.
set -euo pipefail
cd "$(dirname "$0")/../.."
repo=$PWD
start=$SECONDS

work=$(mktemp -d "${TMPDIR:-/tmp}/zel-python.XXXXXX")
trap 'rm -rf "$work"' EXIT

/usr/bin/python3 -m venv --system-site-packages "$work/venv"
python=$work/venv/bin/python
echo "+ pip install --no-build-isolation --no-index ."
"$python" -m pip install --quiet --no-build-isolation --no-index "$repo"

cd "$work"
location=$("$python" -c 'import zel; print(zel.__file__)')
case "$location" in
    "$work/venv/"*) ;;
    *)
        echo "python-install: zel was imported from $location, not from the environment" >&2
        exit 1
        ;;
esac
echo "+ $python python/examples/h2_ground_state.py (zel from $location)"
"$python" "$repo/python/examples/h2_ground_state.py"
echo "python-install: $((SECONDS - start)) s"
