# Shared by scripts/run.sh, scripts/test.sh and .ci/run: the package list, installing what is
# missing, and numbered steps that say what they do, how long they took, and what to do when one
# fails. Sourced, never run on its own.

ZEL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
ZEL_PACKAGES_FILE=$ZEL_ROOT/scripts/packages.txt

# The packages of the given groups (run, test, ci), one a line, in the list's order.
zel_packages() {
    local wanted=" $* "
    local name groups group
    while read -r name groups _; do
        case $name in '' | '#'*) continue ;; esac
        for group in ${groups//,/ }; do
            if [[ $wanted == *" $group "* ]]; then
                echo "$name"
                break
            fi
        done
    done <"$ZEL_PACKAGES_FILE"
}

# The packages of the given groups that dpkg does not report as installed.
zel_missing_packages() {
    local package
    for package in $(zel_packages "$@"); do
        if [ "$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null)" != installed ]; then
            echo "$package"
        fi
    done
}

# apt-get as root: directly when we are root, through sudo otherwise.
zel_as_root() {
    if [ "$(id -u)" = 0 ]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo "$@"
    else
        echo "need root to run: $*" >&2
        echo "run this script as root, or install sudo and give this user the right to use it" >&2
        return 1
    fi
}

# Installs the missing packages of the given groups from the machine's Debian archive. Does
# nothing, and asks for nothing, when they are all there.
zel_install_packages() {
    local missing
    missing=$(zel_missing_packages "$@" | tr '\n' ' ')
    missing=${missing% }
    if [ -z "$missing" ]; then
        echo "    every package is installed"
        return 0
    fi
    echo "    missing: $missing"
    if [ "$(id -u)" != 0 ]; then
        echo "    (apt-get update and apt-get install run with sudo)"
    fi
    zel_as_root apt-get update -qq || return
    # shellcheck disable=SC2086  # one word a package
    zel_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        $missing
}

ZEL_STEP_NUMBER=0
ZEL_STEP_TOTAL=${ZEL_STEP_TOTAL:-0}
ZEL_STEP_TIMES=()

# zel_step "what it does" "what to do if it fails" command [args...]
# Runs one step with its heading and its time; on failure names the step, gives the hint and
# returns the command's status.
zel_step() {
    local title=$1 hint=$2
    shift 2
    ZEL_STEP_NUMBER=$((ZEL_STEP_NUMBER + 1))
    local label="[$ZEL_STEP_NUMBER/$ZEL_STEP_TOTAL]"
    echo "==> $label $title"
    local start=$SECONDS status=0
    "$@" || status=$?
    local took=$((SECONDS - start))
    ZEL_STEP_TIMES+=("$(printf '%6d s  %s' "$took" "$title")")
    if [ "$status" -ne 0 ]; then
        echo "==> $label FAILED after $took s (exit status $status): $title" >&2
        echo "    what to do: $hint" >&2
        return "$status"
    fi
    echo "==> $label done in $took s"
}

# The time of every step taken so far, one a line.
zel_step_times() {
    local line
    echo "step times:"
    for line in "${ZEL_STEP_TIMES[@]}"; do
        echo "$line"
    done
}

# The number of parallel build jobs: one per CPU.
zel_jobs() {
    nproc 2>/dev/null || echo 1
}
