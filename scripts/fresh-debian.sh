#!/usr/bin/env bash
# Runs a command of this commit on a fresh Debian, as a new contributor's
# machine would: a minimal root of the release SUITE (mmdebstrap's minbase,
# with only git and ca-certificates added), a depth-1 clone of the commit in
# it, and COMMAND (the README's scripts/test.sh unless given) run there as
# root, in mount and process namespaces of its own with /dev, /proc, /sys and
# a /tmp of its own. Nothing is installed in the root but by the commit's own
# scripts. The root goes when it ends. Needs root (mmdebstrap, chroot).
#   scripts/fresh-debian.sh SUITE [COMMAND...]     SUITE: bookworm, trixie
# Sourced, it only defines fresh_debian_make ROOT SUITE [PACKAGES] and
# fresh_debian_run ROOT [VAR=VALUE...] -- COMMAND, which release/rehearse.sh's
# Debian 12 root shares.
set -euo pipefail

# A minimal root of SUITE in the folder ROOT, with PACKAGES (comma-separated)
# beside git and ca-certificates; the mirror's own apt settings (a snapshot
# that needs no Valid-Until, say) as this machine's apt has them.
fresh_debian_make() {
    local root=$1 suite=$2 packages=git,ca-certificates${3:+,$3}
    mmdebstrap --quiet --variant=minbase --include="$packages" \
        --aptopt="$(apt-config dump Acquire::Check-Valid-Until)" \
        "$suite" "$root" \
        "deb http://deb.debian.org/debian $suite main" \
        "deb http://deb.debian.org/debian $suite-updates main" \
        "deb http://deb.debian.org/debian-security $suite-security main"
}

# Runs a shell command line in ROOT as root with only the variables given:
# its mounts and every process it started go when it ends.
fresh_debian_run() {
    local root=$1
    shift
    local vars=()
    while [ $# -gt 0 ] && [ "$1" != -- ]; do
        vars+=("$1")
        shift
    done
    [ "${1:-}" = -- ] && shift
    # shellcheck disable=SC2016 # expanded by the inner shell
    unshare --mount --pid --fork --propagation private bash -euc '
        root=$1
        shift
        mount --rbind /dev "$root/dev"
        mount -t proc proc "$root/proc"
        mount -t sysfs sysfs "$root/sys"
        mount -t tmpfs tmpfs "$root/tmp"
        exec chroot "$root" env -i \
            PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
            HOME=/root LANG=C.UTF-8 "$@"
    ' fresh-debian "$root" "${vars[@]}" bash -c "$*"
}

[ "${BASH_SOURCE[0]}" = "$0" ] || return 0

cd "$(dirname "$0")/.."
source scripts/stop-report.sh
root=
remove_root() {
    [ -z "$root" ] || rm -rf "$root"
}
stop_at_exit remove_root

step="checking that it may"
[ $# -ge 1 ] || fail "usage: scripts/fresh-debian.sh SUITE [COMMAND...]"
suite=$1
shift
[ $# -gt 0 ] || set -- scripts/test.sh
[ "$(id -u)" = 0 ] || fail "needs root, for mmdebstrap and chroot"
commit=$(git rev-parse HEAD)
[ -z "$(git status --porcelain --untracked-files=no)" ] ||
    echo "fresh-debian: uncommitted changes are not run; $commit is" >&2

step="installing mmdebstrap"
scripts/install-deps.sh ci

step="making a minimal $suite root"
start=$SECONDS
root=$(mktemp -d)
fresh_debian_make "$root" "$suite"
echo "fresh-debian: the $suite root took $((SECONDS - start)) s" >&2

step="cloning $commit one commit deep"
workspace=/src/winprobe
git clone --quiet --depth 1 --no-local "file://$PWD" "$root$workspace"
git -C "$root$workspace" -c advice.detachedHead=false checkout --quiet "$commit"

step="running $* in the $suite root"
start=$SECONDS
fresh_debian_run "$root" ${CI:+CI="$CI"} -- "cd $workspace && $*"
echo "fresh-debian: $* passed in the $suite root in $((SECONDS - start)) s" >&2
