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
#       or
#         WINPROBE_SIGN_PFX        a PKCS#12 file with the certificate and key
#         WINPROBE_SIGN_PASSWORD   its password (may be empty)
#       and, with either, WINPROBE_SIGN_TIMESTAMP_URL, an RFC 3161
#       time-stamping service, so that the signature outlives the
#       certificate. Then checks that EXE carries a signature.
#   release/sign.sh same SIGNED UNSIGNED
#       Whether SIGNED, its signature removed, is UNSIGNED byte for byte.
set -euo pipefail

die() {
    echo "sign: $*" >&2
    exit 1
}

command -v osslsigncode >/dev/null ||
    die "needs osslsigncode (Debian: scripts/install-deps.sh release installs it)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

signed() {
    osslsigncode extract-signature -in "$1" -out "$work/signature" >/dev/null 2>&1
}

case ${1:-} in
sign)
    [ $# = 2 ] || die "usage: release/sign.sh sign EXE"
    exe=$2
    if [ -n "${WINPROBE_SIGN_HOOK:-}" ]; then
        echo "sign: signing $exe with $WINPROBE_SIGN_HOOK" >&2
        # shellcheck disable=SC2086 # a command with its own arguments
        $WINPROBE_SIGN_HOOK "$exe" || die "$WINPROBE_SIGN_HOOK failed on $exe"
    elif [ -n "${WINPROBE_SIGN_PFX:-}" ]; then
        [ -r "$WINPROBE_SIGN_PFX" ] || die "WINPROBE_SIGN_PFX: cannot read $WINPROBE_SIGN_PFX"
        # The password through a file, not the command line that ps shows.
        (umask 077 && printf '%s' "${WINPROBE_SIGN_PASSWORD:-}" >"$work/password")
        stamp=()
        [ -z "${WINPROBE_SIGN_TIMESTAMP_URL:-}" ] || stamp=(-ts "$WINPROBE_SIGN_TIMESTAMP_URL")
        echo "sign: signing $exe with the certificate in $WINPROBE_SIGN_PFX" >&2
        osslsigncode sign -pkcs12 "$WINPROBE_SIGN_PFX" -readpass "$work/password" -h sha256 \
            -n winprobe "${stamp[@]}" -in "$exe" -out "$work/signed.exe" >"$work/log" 2>&1 ||
            die "osslsigncode could not sign $exe: $(cat "$work/log")"
        cat "$work/signed.exe" >"$exe"
    else
        die "signing was asked for, but neither WINPROBE_SIGN_HOOK nor WINPROBE_SIGN_PFX is set"
    fi
    signed "$exe" || die "$exe carries no signature after signing"
    ;;
same)
    [ $# = 3 ] || die "usage: release/sign.sh same SIGNED UNSIGNED"
    signed "$2" || die "$2 carries no signature"
    osslsigncode remove-signature -in "$2" -out "$work/stripped.exe" >"$work/log" 2>&1 ||
        die "osslsigncode could not remove the signature of $2: $(cat "$work/log")"
    read -r stripped _ < <(sha256sum "$work/stripped.exe")
    read -r unsigned _ < <(sha256sum "$3")
    echo "sign: $2 without its signature: $stripped; $3: $unsigned"
    [ "$stripped" = "$unsigned" ] || die "$2 is not $3 signed: their code differs"
    ;;
*)
    die "usage: release/sign.sh sign EXE | release/sign.sh same SIGNED UNSIGNED"
    ;;
esac
