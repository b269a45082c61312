#!/usr/bin/env bash
# Installs what is missing, then builds the build this machine runs (see
# arch.sh): every target, or the ones named. The shipped 32-bit exe is built
# as well on every machine, so that the suite can check it even where it
# cannot run.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/arch.sh

scripts/install-deps.sh
winprobe_choose_build
winprobe_build "$@"
