#!/usr/bin/env bash
# Builds the release of the current commit twice under reprotest, each build
# in a fresh clone of its own, the second with everything reprotest can vary
# on this machine: the clock more than a year later (faketime), locale, time
# zone, umask, build path, HOME, PATH, environment, kernel personality,
# address space randomisation, CPU count, and where the kernel allows it the
# host name and the order of directory entries. Compares everything the
# release publishes (exe, zip, .sha256, build record, manifests, and the
# release's names); where the
# two differ, prints diffoscope's report and fails.
#   release/check-reproducible.sh [BUILD_DIR]
# With BUILD_DIR, a release build of the same commit (the one a release
# publishes), its exe and zip must be the same bytes as the two builds'; a
# signed exe must be theirs once its signature is removed, and its zip theirs
# once packed again with that exe.
# The builds take their time stamp from here: SOURCE_DATE_EPOCH where the
# caller sets it, else the commit's time, read in this checkout, where even a
# depth-1 clone holds it (a clone of that clone does not).
# It never stops without saying why; on a failure it keeps the builds, their
# logs and diffoscope's report, and says where.
set -euo pipefail
cd "$(dirname "$0")/.."

published_build=${1:-}
source scripts/stop-report.sh
work=
# The work goes when the check passes, and is kept as evidence when not.
keep_or_remove_work() {
    [ -n "$work" ] || return 0
    if [ "$stop_status" = 0 ]; then
        rm -rf "$work"
    else
        echo "check-reproducible: the builds, their logs and reports are kept in $work" >&2
    fi
}
stop_at_exit keep_or_remove_work

step="installing what the check needs"
scripts/install-deps.sh release
step="reading the commit"
commit=$(git rev-parse --short HEAD) || fail "git cannot read the commit here"
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    epoch=$SOURCE_DATE_EPOCH
    echo "check-reproducible: the builds take SOURCE_DATE_EPOCH=$epoch from the caller"
else
    epoch=$(git log -1 --format=%ct) ||
        fail "git cannot read the time of $commit: give it as SOURCE_DATE_EPOCH"
fi
[[ $epoch =~ ^[0-9]+$ ]] || fail "SOURCE_DATE_EPOCH is '$epoch': it takes seconds since 1970"
work=$(mktemp -d)
[ -z "$(git status --porcelain --untracked-files=no)" ] ||
    echo "check-reproducible: uncommitted changes are not in the builds; $commit is" >&2

step="making the builds' source and locale"
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
[ -z "$(LC_ALL=$locale locale 2>&1 >/dev/null)" ] || fail "could not make the locale $locale"

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

# A clone of a depth-1 clone cannot read its commit, so the time is handed in.
# The names of what to compare are the ones each build wrote.
# shellcheck disable=SC2016 # expanded by the build's shell
build='git -c advice.detachedHead=false clone --quiet winprobe.bundle winprobe
cd winprobe
SOURCE_DATE_EPOCH='$epoch' WINPROBE_REPOSITORY_URL='${WINPROBE_REPOSITORY_URL:-}' cmake --workflow --preset release >../build.log 2>&1 || { cat ../build.log; exit 1; }
. build/release/release.env
mkdir ../published
cp "build/release/$WINPROBE_PACKAGE_NAME/winprobe.exe" "build/release/$WINPROBE_ZIP" \
   "build/release/$WINPROBE_ZIP.sha256" "build/release/$WINPROBE_BUILDINFO" \
   build/release/release.env build/release/manifests/* ../published/'
step="building the release twice under reprotest"
status=0
TMPDIR=$work reprotest --verbosity 1 --vary="$variations" --store-dir "$work/store" \
    -c "$build" "$work/source" 'published/*' || status=$?
[ "$status" = 0 ] || fail "the two builds of $commit differ or failed (reprotest: $status)"

step="comparing them with ${published_build:-nothing else}"
# reprotest keeps the first build's files under store/control, in the
# folder the pattern named.
reproduced=$(find "$work/store/control" -name winprobe.exe -printf '%h\n' | head -n 1)
[ -n "$reproduced" ] || fail "reprotest kept no winprobe.exe in $work/store/control"
if [ -n "$published_build" ]; then
    [ -f "$published_build/release.env" ] ||
        fail "$published_build/release.env: no such file; is $published_build a release build?"
    # shellcheck source=/dev/null
    source "$published_build/release.env"
    for path in "$published_build/$WINPROBE_PACKAGE_NAME/winprobe.exe" "$published_build/$WINPROBE_ZIP"; do
        [ -f "$path" ] || fail "$path: no such file; is $published_build a release build?"
        name=$(basename "$path")
        [ -f "$reproduced/$name" ] || fail "the builds made no $name"
        read -r built _ < <(sha256sum "$path")
        read -r again _ < <(sha256sum "$reproduced/$name")
        echo "release of $commit, $name: $built in $published_build, $again reproduced"
        [ "$built" != "$again" ] || continue
        # A signed release: the same once the signature is taken away.
        case $name in
        *.exe)
            if release/sign.sh same "$path" "$reproduced/$name"; then
                echo "release of $commit, $name: signed; without its signature, the exe reproduced"
                continue
            fi
            ;;
        *.zip)
            mkdir -p "$work/repacked/unpacked"
            python3 -m zipfile -e "$path" "$work/repacked/unpacked"
            folder=$WINPROBE_PACKAGE_NAME
            exe=$work/repacked/unpacked/$folder/winprobe.exe
            if [ -f "$exe" ] && release/sign.sh same "$exe" "$reproduced/winprobe.exe" 2>/dev/null; then
                cp "$reproduced/winprobe.exe" "$exe"
                python3 release/release.py zip --epoch "$epoch" --out "$work/repacked/$name" \
                    "$work/repacked/unpacked/$folder"
                if cmp -s "$work/repacked/$name" "$reproduced/$name"; then
                    echo "release of $commit, $name: holds the signed exe; packed again with" \
                        "the exe unsigned, the zip reproduced"
                    continue
                fi
            fi
            ;;
        esac
        echo "check-reproducible: $path is not the build reproduced" >&2
        status=1
    done
fi
[ "$status" = 0 ] || fail "the release in $published_build is not what the builds reproduced"
echo "release of $commit: both builds byte for byte the same${published_build:+, and the same as $published_build}"
