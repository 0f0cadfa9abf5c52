#!/usr/bin/env bash
# Installs the Python module with pip, offline, into a fresh virtual environment that sees
# Debian's packages (NumPy), and runs the H2 example with that environment's interpreter from
# outside the source tree, so that it can only import the installed package.
#
# What this checks is the packaging: setup.py's CMake configure and build, the extension in the
# package, the import. The module's code is tested optimised by the test command (build/test, the
# Python tests included), so here the extension is compiled without optimisation (-O0), which
# halves the step's time; a user's install builds it optimised (Release).
set -euo pipefail
cd "$(dirname "$0")/../.."
repo=$PWD
start=$SECONDS

work=$(mktemp -d "${TMPDIR:-/tmp}/zel-python.XXXXXX")
trap 'rm -rf "$work"' EXIT

/usr/bin/python3 -m venv --system-site-packages "$work/venv"
python=$work/venv/bin/python
echo "+ pip install --no-build-isolation --no-index ."
ZEL_CMAKE_ARGS="'-DCMAKE_CXX_FLAGS_RELEASE=-O0 -DNDEBUG'" \
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
