#!/usr/bin/env bash
# Builds the release of the current commit twice under reprotest, each build
# in a fresh clone of its own, the second with everything reprotest can vary
# on this machine: the clock more than a year later (faketime), locale, time
# zone, umask, build path, HOME, PATH, environment, kernel personality,
# address space randomisation, CPU count, and where the kernel allows it the
# host name and the order of directory entries. Compares everything the
# release publishes (exe, zip, .sha256, build record, manifests); where the
# two differ, prints diffoscope's report and fails.
#   scripts/check-reproducible.sh [BUILD_DIR]
# With BUILD_DIR, a release build of the same commit (the one a release
# publishes), its exe and zip must be the same bytes as the two builds'.
set -euo pipefail
cd "$(dirname "$0")/.."

published_build=${1:-}
scripts/install-deps.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
commit=$(git rev-parse --short HEAD)
[ -z "$(git status --porcelain --untracked-files=no)" ] ||
    echo "check-reproducible: uncommitted changes are not in the builds; $commit is" >&2

# Each build clones this bundle, so that neither sees this checkout's build
# folders or untracked files, nor needs this checkout's owner or git config.
mkdir "$work/source"
git bundle create --quiet "$work/source/winprobe.bundle" HEAD

# reprotest's second locale, made here so that it exists (an absent locale
# silently falls back to C and varies nothing).
locale=et_EE.UTF-8
mkdir "$work/locales"
localedef -i et_EE -f UTF-8 "$work/locales/$locale"
export LOCPATH=$work/locales
if [ -n "$(LC_ALL=$locale locale 2>&1 >/dev/null)" ]; then
    echo "check-reproducible: could not make the locale $locale" >&2
    exit 1
fi

# The variations that need more than a plain user process: try each, leave
# out what this machine or container refuses, and say so.
vary=(+all -user_group "time.faketimes=+400days" "locales.locale=$locale")
left_out=("user_group (needs a second account with password-free sudo)")
arch=$(uname -m)
if ! setarch "$arch" -R true 2>/dev/null; then
    vary+=(-aslr)
    left_out+=("aslr (personality ADDR_NO_RANDOMIZE refused)")
fi
if ! setarch "$arch" --uname-2.6 true 2>/dev/null; then
    vary+=(-kernel)
    left_out+=("kernel (setarch refused)")
fi
if ! unshare -r --uts true 2>/dev/null; then
    vary+=(-domain_host)
    left_out+=("domain_host (no user namespace for unshare -r --uts)")
fi
mkdir "$work/fuse-a" "$work/fuse-b"
if disorderfs -q --shuffle-dirents=yes "$work/fuse-a" "$work/fuse-b" 2>/dev/null; then
    fusermount -u "$work/fuse-b"
else
    vary+=(-fileordering)
    left_out+=("fileordering (no FUSE for disorderfs)")
fi
if [ "$(nproc)" -lt 2 ]; then
    left_out+=("num_cpus (one CPU: both builds run on it)")
fi
variations=$(
    IFS=,
    echo "${vary[*]}"
)
echo "check-reproducible: release of $commit, varying $variations"
printf 'check-reproducible: left out %s\n' "${left_out[@]}"

# shellcheck disable=SC2016 # expanded by the build's shell
build='git -c advice.detachedHead=false clone --quiet winprobe.bundle winprobe
cd winprobe
cmake --workflow --preset release >../build.log 2>&1 || { cat ../build.log; exit 1; }
mkdir ../published
cp build/release/bin/winprobe.exe build/release/winprobe-*.zip* \
   build/release/winprobe-*-buildinfo.txt build/release/manifests/* ../published/'
status=0
TMPDIR=$work reprotest --verbosity 1 --vary="$variations" --store-dir "$work/store" \
    -c "$build" "$work/source" 'published/*' || status=$?
if [ "$status" != 0 ]; then
    echo "check-reproducible: the two builds of $commit differ or failed (reprotest: $status)" >&2
    exit 1
fi

if [ -n "$published_build" ]; then
    for path in "$published_build"/bin/winprobe.exe "$published_build"/winprobe-*-win32.zip; do
        name=$(basename "$path")
        read -r built _ < <(sha256sum "$path")
        read -r reproduced _ < <(find "$work/store/control" -name "$name" -exec sha256sum {} +)
        echo "release of $commit, $name: $built in $published_build, $reproduced reproduced"
        if [ "$built" != "$reproduced" ]; then
            echo "check-reproducible: $path is not the build reproduced" >&2
            status=1
        fi
    done
fi
[ "$status" = 0 ] && echo "release of $commit: both builds byte for byte the same"
exit "$status"
