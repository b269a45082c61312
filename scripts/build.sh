#!/usr/bin/env bash
# Installs what is missing, then builds the build this machine runs (see
# prepare.sh): every target, or the ones named. The 32-bit exe is built as
# well on every machine, so that the suite can check it even where it cannot
# run. The release is built by release/release.sh, not here.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/stop-report.sh
source scripts/prepare.sh

winprobe_prepare "$@"
