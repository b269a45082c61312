#!/usr/bin/env bash
# Builds the release of the current commit twice, in two fresh clones in
# different folders, at different times, under a different time zone and
# umask, and checks that winprobe.exe and the zip come out byte for byte the
# same. Prints both SHA-256 values of each.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
commit=$(git rev-parse --short HEAD)
[ -z "$(git status --porcelain --untracked-files=no)" ] ||
    echo "check-reproducible: uncommitted changes are not in the builds; $commit is" >&2

build() { # FOLDER, then the environment to build in
    local dir=$1
    shift
    git clone --quiet --no-local . "$dir"
    # shellcheck disable=SC2016 # UMASK is the inner shell's to expand
    (cd "$dir" && env "$@" bash -c 'umask "$UMASK"; cmake --workflow --preset release' >/dev/null)
}
build "$work/one/winprobe" TZ=UTC UMASK=022
sleep 2
build "$work/two/elsewhere/src" TZ=Asia/Kolkata UMASK=077

status=0
cd "$work/one/winprobe/build/release"
for file in bin/winprobe.exe winprobe-*-win32.zip; do
    read -r one _ < <(sha256sum "$file")
    read -r two _ < <(sha256sum "$work/two/elsewhere/src/build/release/$file")
    echo "release of $commit, $(basename "$file"): $one, then $two"
    if [ "$one" != "$two" ]; then
        echo "check-reproducible: the two builds of $(basename "$file") differ" >&2
        status=1
    fi
done
[ "$status" = 0 ] && echo "release of $commit: both builds byte for byte the same"
exit "$status"
