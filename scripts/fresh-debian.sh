#!/usr/bin/env bash
# Runs a command of this commit on a fresh Debian, as a new contributor's
# machine would: a minimal root of the release SUITE (mmdebstrap's minbase,
# with only git and ca-certificates added), a depth-1 clone of the commit in
# it, and COMMAND (the README's scripts/test.sh unless given) run there as
# root, in mount and process namespaces of its own with /dev, /proc, /sys and
# a /tmp of its own. Nothing is installed in the root but by the commit's own
# scripts. The root goes when it ends. Needs root (mmdebstrap, chroot).
#   scripts/fresh-debian.sh SUITE [COMMAND...]     SUITE: bookworm, trixie
# Sourced (after scripts/stop-report.sh), it only defines fresh_debian_clone
# SUITE WORKSPACE and fresh_debian_run ROOT [VAR=VALUE...] -- COMMAND, which
# release/rehearse.sh's Debian 12 root shares.
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

# A minimal root of SUITE, removed when the caller stops, with the commit
# checked out here cloned one commit deep into its folder WORKSPACE: sets
# fresh_debian_root and fresh_debian_commit. Needs root.
fresh_debian_clone() {
    local suite=$1 workspace=$2
    step="checking that it may"
    [ "$(id -u)" = 0 ] || fail "needs root, for mmdebstrap and chroot"
    fresh_debian_commit=$(git rev-parse HEAD)
    [ -z "$(git status --porcelain --untracked-files=no)" ] ||
        echo "$stop_name: uncommitted changes are not used; $fresh_debian_commit is" >&2

    step="installing mmdebstrap"
    scripts/install-deps.sh ci

    step="making a minimal $suite root"
    local start=$SECONDS
    fresh_debian_root=$(mktemp -d)
    stop_at_exit rm -rf "$fresh_debian_root"
    fresh_debian_make "$fresh_debian_root" "$suite"
    echo "$stop_name: the $suite root took $((SECONDS - start)) s" >&2

    step="cloning $fresh_debian_commit one commit deep"
    git clone --quiet --depth 1 --no-local "file://$PWD" "$fresh_debian_root$workspace"
    git -C "$fresh_debian_root$workspace" -c advice.detachedHead=false \
        checkout --quiet "$fresh_debian_commit"
}

[ "${BASH_SOURCE[0]}" = "$0" ] || return 0

cd "$(dirname "$0")/.."
source scripts/stop-report.sh
[ $# -ge 1 ] || fail "usage: scripts/fresh-debian.sh SUITE [COMMAND...]"
suite=$1
shift
[ $# -gt 0 ] || set -- scripts/test.sh
workspace=/src/winprobe
fresh_debian_clone "$suite" "$workspace"

step="running $* in the $suite root"
start=$SECONDS
fresh_debian_run "$fresh_debian_root" ${CI:+CI="$CI"} -- "cd $workspace && $*"
echo "fresh-debian: $* passed in the $suite root in $((SECONDS - start)) s" >&2
