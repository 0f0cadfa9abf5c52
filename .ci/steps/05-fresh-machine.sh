#!/usr/bin/env bash
# background: yes
# The README's two commands on a bare Debian 12 system, as a newcomer would run them: a
# `debootstrap --variant=minbase bookworm` root with nothing but the base system, the repository
# cloned into it, then inside it with chroot:
#   1. as root, scripts/run.sh: installs what kvt_run needs, builds it and runs it (transcript
#      kept in the build folder and checked);
#   2. as root, scripts/run.sh again: installs nothing and rebuilds nothing;
#   3. as an ordinary user with sudo, in a copy of its own, scripts/test.sh --configure-only:
#      installs the test packages through sudo and configures the test build (the full suite
#      already runs on the host).
# The Debian mirror comes from the host's own apt configuration; the root is made anew and
# removed afterwards, so nothing carries over between runs.
set -euo pipefail
cd "$(dirname "$0")/../.."
repo=$PWD
out=${ZEL_CI_BUILD_ROOT:-build}/ci-fresh-machine
mkdir -p "$out"
out=$(cd "$out" && pwd)

# The archive the host installs bookworm's main component from, as its apt configuration says.
mirror=$(apt-cache policy 2>/dev/null |
    awk '$3 ~ /^bookworm\/main$/ && $4 ~ /^(amd64|arm64|all)$/ { print $2; exit }')
if [ -z "$mirror" ]; then
    echo "fresh-machine: the host's apt configuration names no bookworm/main archive" >&2
    exit 1
fi

root=$(mktemp -d "${TMPDIR:-/tmp}/zel-bare.XXXXXX")
# The root of the new system: readable by its own users, as / always is.
chmod 755 "$root"
mounted=()
cleanup() {
    local i
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        umount -l "${mounted[i]}" 2>/dev/null || true
    done
    rm -rf --one-file-system "$root"
}
trap cleanup EXIT

echo "+ debootstrap --variant=minbase bookworm (archive from the host's apt configuration)"
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$out/debootstrap.log" 2>&1 || {
    tail -n 30 "$out/debootstrap.log"
    exit 1
}
# The host's apt settings (Acquire::*: proxies, validity checks) go along, nothing else.
apt-config dump | grep '^Acquire::' >"$root/etc/apt/apt.conf.d/90host" || true
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
for fs in proc dev dev/pts; do
    mount --bind "/$fs" "$root/$fs"
    mounted+=("$root/$fs")
done

echo "+ git clone into the bare root"
git clone --quiet --no-local "$repo" "$root/root/zel"

in_root() {
    chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
        /bin/bash -c "$1"
}

echo "+ [root] scripts/run.sh  (transcript: $out/run.log)"
if ! in_root 'cd /root/zel && scripts/run.sh' >"$out/run.log" 2>&1; then
    tail -n 40 "$out/run.log"
    echo "fresh-machine: scripts/run.sh failed on the bare system" >&2
    exit 1
fi
grep -q '^Starting Zarnik Loop. Initial Energy: -1.063653' "$out/run.log"
grep -q '^OPENQASM 3.0;' "$out/run.log"
grep -E '^==> \[[0-9]/[0-9]\] done in [0-9]+ s$' "$out/run.log"

echo "+ [root] scripts/run.sh again: nothing to install, nothing to rebuild"
in_root 'cd /root/zel && scripts/run.sh' >"$out/run-again.log" 2>&1 || {
    tail -n 40 "$out/run-again.log"
    exit 1
}
grep -q 'every package is installed' "$out/run-again.log"
if grep -q 'Building CXX' "$out/run-again.log"; then
    echo "fresh-machine: the second run rebuilt sources" >&2
    exit 1
fi

echo "+ [newcomer, with sudo] scripts/test.sh --configure-only  (log: $out/test-setup.log)"
in_root 'DEBIAN_FRONTEND=noninteractive apt-get install -y -qq sudo >/dev/null &&
    useradd --create-home newcomer &&
    echo "newcomer ALL=(ALL) NOPASSWD: ALL" >/etc/sudoers.d/newcomer &&
    cp -r /root/zel /home/newcomer/zel && rm -rf /home/newcomer/zel/build &&
    chown -R newcomer: /home/newcomer/zel'
if ! in_root 'cd /home/newcomer/zel && exec setpriv --reuid=newcomer --regid=newcomer \
        --init-groups env HOME=/home/newcomer scripts/test.sh --configure-only' \
    >"$out/test-setup.log" 2>&1; then
    tail -n 40 "$out/test-setup.log"
    echo "fresh-machine: the test command's set-up failed on the bare system" >&2
    exit 1
fi
grep -q 'run with sudo' "$out/test-setup.log"
in_root 'source /home/newcomer/zel/scripts/common.sh && [ -z "$(zel_missing_packages run test)" ]'
test -f "$root/home/newcomer/zel/build/test/CMakeCache.txt"
echo "fresh-machine: both commands set up a bare Debian 12 system"
