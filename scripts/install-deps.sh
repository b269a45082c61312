#!/usr/bin/env bash
# Installs what winprobe needs on Debian or Ubuntu, and does nothing when all
# of it is there. The one place that installs packages.
#   scripts/install-deps.sh [GROUP...]
#     dev        (the default) what the README's commands need: CMake,
#                Ninja, both MinGW-w64 cross compilers, Python, git,
#                GoogleTest's source, 32- and 64-bit Wine (both install on any
#                x86-64 machine; prepare.sh finds out which runs) and Xvfb
#     lint       the checkers .ci/run runs before the suite: ShellCheck,
#                clang-format, and clang-tidy and clang-query (the stand-in
#                for MSVC's warnings; clang-tools is the release's default
#                LLVM, whatever its number)
#     release    what release/release.sh needs: CMake, Ninja, the 32-bit
#                MinGW-w64 cross compiler, Python with PyYAML, git, the
#                reproducibility check's reprotest, diffoscope, faketime,
#                disorderfs and locales, osslsigncode for signing and openssl
#                (the signing test's certificates)
#     ci         .ci/run's own: mmdebstrap, for the bare Debian roots of the
#                release rehearsal and the Debian 13 run
#     workflows  Node.js and npm, for scripts/lint-workflows.sh
# A package index that cannot be read (a mirror in mid-sync) is fetched again
# a few times; where it still fails, the script names it and goes on with the
# indexes it has, preferring the release's own suite, so that packages from
# two states of one mirror are not mixed. A package the release does not
# offer at all is named; where the work can go on without it, the script says
# what happens instead and goes on, otherwise it stops before installing.
set -euo pipefail
# shellcheck source=scripts/stop-report.sh
source "$(dirname "${BASH_SOURCE[0]}")/stop-report.sh"

build=(cmake ninja-build g++-mingw-w64-i686 python3 git ca-certificates)
release=("${build[@]}" python3-yaml reprotest diffoscope-minimal faketime disorderfs locales
    osslsigncode openssl)
dev=("${build[@]}" g++-mingw-w64-x86-64 googletest wine wine32:i386 wine64 xvfb)
lint=(shellcheck clang-format clang-tidy clang-tools)
ci=(mmdebstrap)
workflows=(nodejs npm)
# What goes on without a package a release lacks.
declare -A instead=(
    [wine32:i386]="the 64-bit build runs under wine64 instead (scripts/prepare.sh chooses)"
)

packages=()
[ $# -gt 0 ] || set -- dev
for group in "$@"; do
    case $group in
    release) packages+=("${release[@]}") ;;
    dev) packages+=("${dev[@]}") ;;
    lint) packages+=("${lint[@]}") ;;
    ci) packages+=("${ci[@]}") ;;
    workflows) packages+=("${workflows[@]}") ;;
    *) fail "no group '$group'; the groups are dev, lint, release, ci and workflows" ;;
    esac
done

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -q -o Acquire::Retries=5)
echo "install-deps: installing ${missing[*]}" >&2
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo[@]}" dpkg --add-architecture i386
fi

# apt-get update fails as a whole when any one index fails, often a mirror
# caught between two syncs ("File has unexpected size ... Mirror sync in
# progress?"): a minute later it is whole again.
step="reading the package indexes"
log=$(mktemp)
stop_at_exit rm -f "$log"
stale=
for attempt in 1 2 3; do
    if "${apt[@]}" update >"$log" 2>&1; then
        stale=
        break
    fi
    stale=$(sed -n 's/^[EW]: Failed to fetch \([^ ]*\).*/\1/p' "$log" | paste -sd ' ')
    if [ -z "$stale" ]; then
        cat "$log" >&2
        fail "apt-get update failed (above), not on an index that could be fetched again"
    fi
    [ "$attempt" = 3 ] && break
    echo "install-deps: could not read $stale; fetching again in $((attempt * 20)) s" >&2
    sleep $((attempt * 20))
done

step="looking for ${missing[*]} in the package indexes"
release_name=$(sed -n 's/^PRETTY_NAME=//p' /etc/os-release 2>/dev/null | tr -d '"')
offered=()
lacking=()
for package in "${missing[@]}"; do
    candidate=$(apt-cache policy "$package" 2>/dev/null | sed -n 's/^ *Candidate: //p')
    if [ -n "$candidate" ] && [ "$candidate" != "(none)" ]; then
        offered+=("$package")
    elif [ -n "${instead[$package]:-}" ]; then
        echo "install-deps: ${release_name:-this release} offers no $package; ${instead[$package]}" >&2
    else
        lacking+=("$package")
    fi
done
[ ${#lacking[@]} -eq 0 ] ||
    fail "${release_name:-this release} offers no ${lacking[*]}, and nothing here stands in for it"
missing=("${offered[@]}")
[ ${#missing[@]} -eq 0 ] && exit 0

step="installing ${missing[*]}"
install=("${apt[@]}" install -y --no-install-recommends)
if [ -n "$stale" ]; then
    # The stale index is left out; where it is an update suite's (security,
    # updates), the same package's architectures can then come from two
    # versions and refuse to install together. The release's own suite first
    # keeps them in step.
    suite=$(sed -n 's/^VERSION_CODENAME=//p' /etc/os-release)
    prefer=
    if [ -n "$suite" ]; then
        install+=(-o "APT::Default-Release=$suite")
        prefer=", preferring the suite $suite"
    fi
    echo "install-deps: the package index $stale still cannot be read" \
        "(a mirror in mid-sync?); installing from the indexes apt has$prefer" >&2
fi
if ! "${install[@]}" "${missing[@]}" >"$log" 2>&1; then
    cat "$log" >&2
    if [ -n "$stale" ]; then
        echo "install-deps: the index $stale could not be read: wait for the mirror" \
            "to finish its sync and run this again, or name another mirror in /etc/apt/sources.list*" >&2
    fi
    fail "could not install ${missing[*]} (apt says why, above)"
fi
echo "install-deps: installed ${missing[*]}" >&2
