#!/usr/bin/env bash
# Authenticode signatures on the release exe, with osslsigncode. A signature
# sits in the file's certificate table, outside what it signs: removed, it
# gives back the unsigned bytes, which the reproducibility check compares.
#   release/sign.sh sign EXE
#       Signs EXE in place (the release build does, after linking, when
#       configured with -DWINPROBE_SIGN=ON), with either
#         WINPROBE_SIGN_HOOK       a command, run as HOOK EXE, that signs EXE
#                                  in place: the client of a cloud signing
#                                  service, whose key never leaves it
#                                  (release/signing.md)
#       or
#         WINPROBE_SIGN_PFX        a PKCS#12 file with the certificate and key
#         WINPROBE_SIGN_PASSWORD   its password (may be empty)
#       and, with the PKCS#12, WINPROBE_SIGN_TIMESTAMP_URL, an RFC 3161
#       time-stamping service, so that the signature outlives the
#       certificate (a hook stamps as its service does). Then checks that
#       EXE carries a signature and, that removed, is the exe it was given.
#       With WINPROBE_SIGN_TRUST=public (the release job's setting for its
#       service) it stops, naming why, unless the signature is a publicly
#       trusted one of Azure Artifact Signing (release/authenticode.py says
#       what that means); without it, a signature is a test signature.
#   release/sign.sh same SIGNED UNSIGNED
#       Whether SIGNED, its signature removed, is UNSIGNED byte for byte.
#   release/sign.sh describe EXE
#       What EXE's signature says, one "key: value" a line on stdout:
#         signed: yes|no
#         trust: public|test          (signed only; public only when the
#                                      public-trust checks pass)
#         subject: ISSUED-TO          issuer: ISSUED-BY
#         timestamp: STAMPER, YYYY-MM-DDTHH:MM:SSZ | none
#       Status 0 for any exe it can read, signed or not.
set -euo pipefail

# shellcheck source=scripts/stop-report.sh
source "$(dirname "$0")/../scripts/stop-report.sh"

authenticode=$(dirname "$0")/authenticode.py

# describe reads the file itself: no osslsigncode needed, nothing else on
# stdout.
if [ "${1:-}" = describe ]; then
    [ $# = 2 ] || fail "usage: release/sign.sh describe EXE"
    [ -f "$2" ] || fail "$2: no such file"
    python3 "$authenticode" describe "$2" || fail "cannot describe $2's signature"
    exit 0
fi

trust=${WINPROBE_SIGN_TRUST:-}
case $trust in
'' | public) ;;
*) fail "WINPROBE_SIGN_TRUST: '$trust' is neither public nor empty" ;;
esac

command -v osslsigncode >/dev/null ||
    fail "needs osslsigncode (Debian: scripts/install-deps.sh release installs it)"
work=$(mktemp -d)
stop_at_exit rm -rf "$work"

signed() {
    rm -f "$work/signature"
    osslsigncode extract-signature -in "$1" -out "$work/signature" >/dev/null 2>&1
}

# SIGNED without its signature is UNSIGNED (called NAME, where given), or
# the script stops saying why.
same() {
    local name=${3:-$2}
    signed "$1" || fail "$1 carries no signature"
    rm -f "$work/stripped.exe"
    osslsigncode remove-signature -in "$1" -out "$work/stripped.exe" >"$work/log" 2>&1 ||
        fail "osslsigncode could not remove the signature of $1: $(cat "$work/log")"
    read -r stripped _ < <(sha256sum "$work/stripped.exe")
    read -r unsigned _ < <(sha256sum "$2")
    echo "sign: $1 without its signature: $stripped; $name: $unsigned"
    [ "$stripped" = "$unsigned" ] || fail "$1 is not $name signed: their code differs"
}

case ${1:-} in
sign)
    [ $# = 2 ] || fail "usage: release/sign.sh sign EXE"
    exe=$2
    [ -f "$exe" ] || fail "$exe: no such file"
    cp "$exe" "$work/unsigned.exe"
    if [ -n "${WINPROBE_SIGN_HOOK:-}" ]; then
        echo "sign: signing $exe with $WINPROBE_SIGN_HOOK" >&2
        # shellcheck disable=SC2086 # a command with its own arguments
        $WINPROBE_SIGN_HOOK "$exe" || fail "$WINPROBE_SIGN_HOOK failed on $exe"
    elif [ -n "${WINPROBE_SIGN_PFX:-}" ]; then
        [ -r "$WINPROBE_SIGN_PFX" ] || fail "WINPROBE_SIGN_PFX: cannot read $WINPROBE_SIGN_PFX"
        # The password through a file, not the command line that ps shows.
        # osslsigncode refuses an empty password file, and without -readpass
        # it opens the PKCS#12 with the empty password: no file for that one.
        password=()
        if [ -n "${WINPROBE_SIGN_PASSWORD:-}" ]; then
            (umask 077 && printf '%s' "$WINPROBE_SIGN_PASSWORD" >"$work/password")
            password=(-readpass "$work/password")
        fi
        stamp=()
        [ -z "${WINPROBE_SIGN_TIMESTAMP_URL:-}" ] || stamp=(-ts "$WINPROBE_SIGN_TIMESTAMP_URL")
        echo "sign: signing $exe with the certificate in $WINPROBE_SIGN_PFX" >&2
        osslsigncode sign -pkcs12 "$WINPROBE_SIGN_PFX" "${password[@]}" -h sha256 \
            -n winprobe "${stamp[@]}" -in "$exe" -out "$work/signed.exe" >"$work/log" 2>&1 ||
            fail "osslsigncode could not sign $exe: $(cat "$work/log")"
        cat "$work/signed.exe" >"$exe"
    else
        fail "signing was asked for, but neither WINPROBE_SIGN_HOOK nor WINPROBE_SIGN_PFX is set"
    fi
    # What a service sends back is checked here, before anything packs it:
    # a signature, and nothing else changed.
    same "$exe" "$work/unsigned.exe" "the exe as built" >&2
    if [ "$trust" = public ]; then
        python3 "$authenticode" public "$exe" ||
            fail "$exe is signed, but not as a public release must be (WINPROBE_SIGN_TRUST=public); see above"
        echo "sign: $exe carries a public-trust signature: time-stamped, the service's usage, its root" >&2
    else
        echo "sign: $exe carries a test signature (WINPROBE_SIGN_TRUST is not public)" >&2
    fi
    ;;
same)
    [ $# = 3 ] || fail "usage: release/sign.sh same SIGNED UNSIGNED"
    same "$2" "$3"
    ;;
*)
    fail "usage: release/sign.sh sign EXE | same SIGNED UNSIGNED | describe EXE"
    ;;
esac
