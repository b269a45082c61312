#!/usr/bin/env bash
# The release build, whole: what the release workflow's build job runs in a
# debian:12 container on the checkout it gets (one commit deep), and what
# .ci/run rehearses in a bare Debian 12 root from a depth-1 clone.
#   release/release.sh [DIST]
# Installs what a release needs and nothing else, builds the release preset
# from a fresh build folder (signed where a certificate is configured), runs
# the release's own tests (ctest --preset release), checks that two more
# builds give the same bytes, and gathers what is published into DIST
# (dist): assets/ (the zip, its .sha256, the build record and the
# manifests), exe/winprobe.exe (the exe the attestation names), notes.md
# (the release notes: how it was signed, the commands that fetch, verify and
# rebuild it) and release.env (the release's names, for the workflow).
# Every name comes from build/release/release.env, which the build writes.
# Environment:
#   WINPROBE_REPOSITORY_URL   the repository's address (https://HOST/OWNER/REPO),
#                             for the read-me, the manifests and the notes
#   WINPROBE_SIGN_HOOK        a signing service's command (a path in the
#                             repository is taken from its root), as the
#                             release workflow sets it; or
#   WINPROBE_SIGN_PFX_BASE64  a PKCS#12 certificate and key, base64, with
#                             WINPROBE_SIGN_PASSWORD; or WINPROBE_SIGN_PFX
#                             (a file): see release/sign.sh and
#                             release/signing.md. With none of them the
#                             release is unsigned, and says so.
set -euo pipefail
cd "$(dirname "$0")/.."
dist=${1:-dist}

source scripts/stop-report.sh
keys=
forget_keys() {
    [ -z "$keys" ] || rm -rf "$keys"
}
stop_at_exit forget_keys

step="installing what a release needs"
scripts/install-deps.sh release

step="reading the commit"
# The job runs as root on a workspace that belongs to the runner's user, and
# git refuses another user's repository: trusted there, and only there.
if ! error=$(git rev-parse HEAD 2>&1 >/dev/null); then
    case $error in
    *"dubious ownership"*)
        [ "${GITHUB_ACTIONS:-}" = true ] ||
            fail "git refuses this checkout, which belongs to another user: $error"
        echo "release: the workspace belongs to the runner's user; trusting $PWD" >&2
        git config --global --add safe.directory "$PWD"
        ;;
    *) fail "this is no git checkout that git can read: $error" ;;
    esac
fi
commit=$(git rev-parse HEAD)
[ -z "$(git status --porcelain --untracked-files=no)" ] ||
    fail "the checkout of $commit has uncommitted changes: a release is built from a commit alone"

# The read-me, the manifests and the notes name the repository: a release
# names it, never the placeholder owner.
url=${WINPROBE_REPOSITORY_URL:-}
if [[ ! $url =~ ^https://[^/]+/[^/]+/[^/]+$ || $url == */OWNER/* ]]; then
    fail "WINPROBE_REPOSITORY_URL is '$url': give the repository's address, https://HOST/OWNER/REPO (the release workflow does)"
fi

step="preparing the signature"
sign=OFF
route=none
if [ -n "${WINPROBE_SIGN_PFX_BASE64:-}" ]; then
    keys=$(mktemp -d)
    base64 -d <<<"$WINPROBE_SIGN_PFX_BASE64" >"$keys/signing.pfx" ||
        fail "WINPROBE_SIGN_PFX_BASE64 is not base64"
    export WINPROBE_SIGN_PFX=$keys/signing.pfx
fi
if [ -n "${WINPROBE_SIGN_HOOK:-}" ]; then
    # The notes name the hook as the repository names it.
    route=hook:$WINPROBE_SIGN_HOOK
    # The build runs the hook from its build folder: a path in the
    # repository is taken from its root.
    hook=${WINPROBE_SIGN_HOOK%% *}
    if [[ $hook == */* && $hook != /* ]]; then
        [ -x "$hook" ] || fail "WINPROBE_SIGN_HOOK: $hook is no executable file in the repository"
        export WINPROBE_SIGN_HOOK=$PWD/$WINPROBE_SIGN_HOOK
    fi
    sign=ON
    echo "release: the exe is signed by WINPROBE_SIGN_HOOK ($WINPROBE_SIGN_HOOK)"
elif [ -n "${WINPROBE_SIGN_PFX:-}" ]; then
    sign=ON
    route=pfx
    echo "release: the exe is signed with a PKCS#12 certificate (not publicly trusted" \
        "unless it came from a CA, which since June 2023 it cannot: release/signing.md)"
else
    echo "release: UNSIGNED: no signing is configured (WINPROBE_SIGN_HOOK, or" \
        "WINPROBE_SIGN_PFX_BASE64 and WINPROBE_SIGN_PASSWORD: release/signing.md);" \
        "Smart App Control blocks an unsigned exe"
fi

step="building the release"
rm -rf build/release
cmake --preset release -DWINPROBE_SIGN=$sign >/dev/null
cmake --build --preset release
# The names the build decided: WINPROBE_ZIP, WINPROBE_PACKAGE_NAME and the rest.
# shellcheck source=/dev/null
source build/release/release.env

step="running the release's own tests"
ctest --preset release

step="checking that the release builds again to the same bytes"
release/check-reproducible.sh build/release

step="writing the release notes"
exe=build/release/$WINPROBE_PACKAGE_NAME/winprobe.exe
release/sign.sh describe "$exe" >build/release/signature.txt
python3 release/release.py notes --names build/release/release.env --build-dir build/release \
    --commit "$commit" --signature build/release/signature.txt --route "$route" \
    --out build/release/notes.md release/templates/notes.md.in

step="gathering what is published into $dist"
rm -rf "$dist"
mkdir -p "$dist/assets" "$dist/exe"
cp "build/release/$WINPROBE_ZIP" "build/release/$WINPROBE_ZIP.sha256" \
    "build/release/$WINPROBE_BUILDINFO" build/release/manifests/* "$dist/assets/"
# The exe the zip holds, signed where the release is.
cp "$exe" "$dist/exe/"
cp build/release/notes.md build/release/release.env "$dist/"
echo "release: $commit, $(sed -n 's/^signed: //p' build/release/signature.txt | sed 's/yes/signed/; s/no/unsigned/'), in $dist:"
(cd "$dist" && sha256sum assets/* exe/* notes.md)
