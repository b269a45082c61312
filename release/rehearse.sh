#!/usr/bin/env bash
# Rehearses the release workflow's build job here: a fresh minimal Debian 12
# root (what a debian:12 container holds, with the git that the job installs
# before its checkout), a depth-1 clone of the commit in it (what
# actions/checkout fetches), owned by another user as the runner's workspace
# is, and release/release.sh run there as root, as the job runs it. Passes
# when the job would, fails when it would. Needs root (mmdebstrap, chroot).
# The release is signed, by the stand-in service release/hooks/throwaway-sign.sh
# through WINPROBE_SIGN_HOOK, as the job signs through its service's hook: so
# the signed path, and the check that the signed exe and zip are the
# reproduced ones once the signature is removed, run where they will. Signed
# only: the check's two builds are the unsigned build, compared byte for
# byte, and a second, unsigned release would add three more builds. The
# release's own tests run there too (release.sh runs them), among them the
# signing test with the osslsigncode the job installs (Debian 12's) and
# PKCS#12 files made by Debian 12's OpenSSL 3.
#   release/rehearse.sh [--unsigned] [DIST]
# DIST (build/rehearsal) receives what the job would publish, its notes
# among it, which must call the throwaway signature a test signature; with
# --unsigned nothing signs, as in a repository with no signing set up, and
# the notes must say the release is unsigned.
set -euo pipefail
cd "$(dirname "$0")/.."
sign_hook=release/hooks/throwaway-sign.sh
if [ "${1:-}" = --unsigned ]; then
    sign_hook=
    shift
fi
dist=${1:-build/rehearsal}

source scripts/stop-report.sh
source scripts/fresh-debian.sh
workspace=/__w/winprobe/winprobe
fresh_debian_clone bookworm "$workspace"
root=$fresh_debian_root commit=$fresh_debian_commit
# The runner's user owns the workspace; the job's steps run as root.
chown -R 1001:1001 "$root$workspace"

step="running release/release.sh${sign_hook:+, signed,} in the root"
fresh_debian_run "$root" GITHUB_ACTIONS=true GITHUB_WORKSPACE="$workspace" \
    WINPROBE_REPOSITORY_URL=https://github.com/rehearsal/winprobe \
    WINPROBE_SIGN_HOOK="$sign_hook" -- "cd $workspace && release/release.sh"

step="keeping what it would publish in $dist"
rm -rf "$dist"
mkdir -p "$dist"
cp -r "$root$workspace/dist/." "$dist/"
if [ -n "$sign_hook" ]; then
    grep -q '^\*\*Test signature, not trusted by Windows\.\*\*' "$dist/notes.md" ||
        fail "$dist/notes.md does not call the throwaway signature a test signature"
else
    grep -q '^\*\*Unsigned\.\*\*' "$dist/notes.md" ||
        fail "$dist/notes.md does not say that the release is unsigned"
fi
echo "rehearse: the release job passed on $commit, ${sign_hook:+signed, }in a bare Debian 12 root; its files are in $dist"
