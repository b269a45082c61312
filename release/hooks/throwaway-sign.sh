#!/usr/bin/env bash
# A stand-in for a signing service, for tests and the release rehearsal:
# run as a WINPROBE_SIGN_HOOK (release/hooks/throwaway-sign.sh EXE), it signs
# EXE in place with a self-signed certificate made for this one signature and
# then thrown away. Windows trusts nothing it signs; it lets the release's
# signed path run where no service can be reached. Its certificate says so in
# its subject, so that every tool that shows the signer (the release notes
# through release/sign.sh describe, Windows' file properties) shows a test
# signature; and it has no time stamp, no public-trust usage and no chain,
# so release/sign.sh refuses it where the release asks for public trust.
set -euo pipefail

# shellcheck source=scripts/stop-report.sh
source "$(dirname "$0")/../../scripts/stop-report.sh"

[ $# = 1 ] || fail "usage: release/hooks/throwaway-sign.sh EXE"
exe=$1
[ -f "$exe" ] || fail "$exe: no such file"
for tool in openssl osslsigncode; do
    command -v "$tool" >/dev/null || fail "needs $tool"
done
keys=$(mktemp -d)
stop_at_exit rm -rf "$keys"

subject="/OU=throwaway certificate $(date -u +%Y%m%dT%H%M%SZ)/CN=winprobe TEST SIGNATURE - NOT TRUSTED"
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "$subject" \
    -keyout "$keys/key.pem" -out "$keys/cert.pem" >"$keys/log" 2>&1 ||
    fail "openssl could not make a certificate: $(cat "$keys/log")"
osslsigncode sign -certs "$keys/cert.pem" -key "$keys/key.pem" -h sha256 -n winprobe \
    -in "$exe" -out "$keys/signed.exe" >"$keys/log" 2>&1 ||
    fail "osslsigncode could not sign $exe: $(cat "$keys/log")"
cat "$keys/signed.exe" >"$exe"
echo "throwaway-sign: signed $exe with a test signature, '$subject' (self-signed, thrown away)" >&2
