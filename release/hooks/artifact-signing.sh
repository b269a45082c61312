#!/usr/bin/env bash
# Signs EXE in place through Azure Artifact Signing (formerly Trusted
# Signing), whose keys stay in Microsoft's HSMs: the release workflow's build
# job runs it as WINPROBE_SIGN_HOOK (release/hooks/artifact-signing.sh EXE).
# Only EXE's digest goes to the service; jsign puts the signature and
# certificate chain it returns, with an RFC 3161 time stamp, into EXE, and
# release/sign.sh then checks that nothing but a signature was added.
#
# No stored secret: the job's GitHub OIDC token (the job needs id-token:
# write) is exchanged at Microsoft Entra ID for an access token of an app
# registration that trusts this repository's workflow (a federated
# credential) and holds the "Artifact Signing Certificate Profile Signer"
# role. release/signing.md says how to set it up.
#   AZURE_TENANT_ID, AZURE_CLIENT_ID     the app registration
#   WINPROBE_ARTIFACT_SIGNING_ENDPOINT   the account's region endpoint, such
#                                        as https://eus.codesigning.azure.net
#   WINPROBE_ARTIFACT_SIGNING_ACCOUNT    the Artifact Signing account
#   WINPROBE_ARTIFACT_SIGNING_PROFILE    its certificate profile
#   WINPROBE_SIGN_TIMESTAMP_URL          the time-stamping service (Microsoft's
#                                        by default)
#   WINPROBE_JSIGN                       the command that runs jsign (jsign)
#   ACTIONS_ID_TOKEN_REQUEST_URL, ACTIONS_ID_TOKEN_REQUEST_TOKEN
#                                        set by GitHub Actions in such a job
set -euo pipefail

# shellcheck source=scripts/stop-report.sh
source "$(dirname "$0")/../../scripts/stop-report.sh"

[ $# = 1 ] || fail "usage: release/hooks/artifact-signing.sh EXE"
exe=$1
[ -f "$exe" ] || fail "$exe: no such file"
missing=()
for name in AZURE_TENANT_ID AZURE_CLIENT_ID WINPROBE_ARTIFACT_SIGNING_ENDPOINT \
    WINPROBE_ARTIFACT_SIGNING_ACCOUNT WINPROBE_ARTIFACT_SIGNING_PROFILE \
    ACTIONS_ID_TOKEN_REQUEST_URL ACTIONS_ID_TOKEN_REQUEST_TOKEN; do
    [ -n "${!name:-}" ] || missing+=("$name")
done
[ ${#missing[@]} = 0 ] ||
    fail "not set: ${missing[*]} (release/signing.md; the ACTIONS_ID_TOKEN_REQUEST_* come with id-token: write)"
jsign=${WINPROBE_JSIGN:-jsign}
for tool in curl python3 "${jsign%% *}"; do
    command -v "$tool" >/dev/null || fail "needs $tool"
done
stamp=${WINPROBE_SIGN_TIMESTAMP_URL:-http://timestamp.acs.microsoft.com}

# Tokens go through files only this user reads, never a command line.
umask 077
secrets=$(mktemp -d)
stop_at_exit rm -rf "$secrets"

# FIELD of the JSON object on stdin, written without a newline; fails when
# it is missing or empty.
field() {
    python3 -c 'import json, sys
value = json.load(sys.stdin).get(sys.argv[1])
sys.exit(1) if not isinstance(value, str) or not value else sys.stdout.write(value)' "$1"
}

# An error answer's own words, for the message (never a token: there is none).
answer() {
    python3 -c 'import json, sys
try:
    data = json.load(open(sys.argv[1]))
    print(data.get("error_description") or data.get("message") or data)
except Exception:
    print(open(sys.argv[1], errors="replace").read()[:500])' "$1" 2>/dev/null || true
}

# The claims iss, aud and sub of the JWT in file $1, one a line; the
# token's header and signature are never read.
claims() {
    python3 -c 'import base64, json, sys
try:
    payload = open(sys.argv[1]).read().split(".")[1]
    claims = json.loads(base64.urlsafe_b64decode(payload + "=" * (-len(payload) % 4)))
except Exception:
    sys.exit("artifact-signing: the OIDC token is no JWT: its claims cannot be shown")
for name in ("iss", "aud", "sub"):
    value = claims.get(name, "(none)")
    print(f"artifact-signing: the OIDC token claims {name}: {value}")' "$1" || true
}

echo "artifact-signing: asking GitHub for the job's OIDC token for Entra ID" >&2
printf 'Authorization: bearer %s\n' "$ACTIONS_ID_TOKEN_REQUEST_TOKEN" >"$secrets/github-header"
curl --silent --show-error --fail-with-body -H "@$secrets/github-header" \
    -o "$secrets/github.json" "$ACTIONS_ID_TOKEN_REQUEST_URL&audience=api%3A%2F%2FAzureADTokenExchange" \
    2>"$secrets/log" || fail "GitHub gave no OIDC token: $(cat "$secrets/log") $(answer "$secrets/github.json")"
field value <"$secrets/github.json" >"$secrets/assertion" ||
    fail "GitHub's answer holds no OIDC token"

echo "artifact-signing: exchanging it at Entra ID (tenant $AZURE_TENANT_ID, app $AZURE_CLIENT_ID)" >&2
curl --silent --show-error --fail-with-body -o "$secrets/entra.json" \
    --data-urlencode "client_id=$AZURE_CLIENT_ID" \
    --data-urlencode "scope=https://codesigning.azure.net/.default" \
    --data-urlencode "grant_type=client_credentials" \
    --data-urlencode "client_assertion_type=urn:ietf:params:oauth:client-assertion-type:jwt-bearer" \
    --data-urlencode "client_assertion@$secrets/assertion" \
    "https://login.microsoftonline.com/$AZURE_TENANT_ID/oauth2/v2.0/token" 2>"$secrets/log" || {
    # A refusal is most often a federated credential whose subject is not the
    # token's (newer repositories' subjects carry ids): the token's issuer,
    # audience and subject say which. They are not secret; the token is.
    claims "$secrets/assertion" >&2
    fail "Entra ID gave no access token: $(cat "$secrets/log") $(answer "$secrets/entra.json")"
}
field access_token <"$secrets/entra.json" >"$secrets/access-token" ||
    fail "Entra ID's answer holds no access token"

profile=$WINPROBE_ARTIFACT_SIGNING_ACCOUNT/$WINPROBE_ARTIFACT_SIGNING_PROFILE
echo "artifact-signing: signing $exe with $profile at $WINPROBE_ARTIFACT_SIGNING_ENDPOINT," \
    "time stamp from $stamp" >&2
# shellcheck disable=SC2086 # a command with its own arguments
$jsign --storetype TRUSTEDSIGNING --keystore "$WINPROBE_ARTIFACT_SIGNING_ENDPOINT" \
    --storepass "file:$secrets/access-token" --alias "$profile" --alg SHA-256 \
    --tsaurl "$stamp" --tsmode RFC3161 --name winprobe "$exe" ||
    fail "jsign could not sign $exe with $profile"
