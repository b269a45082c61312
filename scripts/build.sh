#!/usr/bin/env bash
# Installs what is missing, then builds the build this machine runs (see
# arch.sh): every target, or the ones named. The shipped 32-bit exe is built
# as well on every machine, so that the suite can check it even where it
# cannot run.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/arch.sh
winprobe_choose_build

cmake --preset release >/dev/null
cmake --build --preset release --target winprobe
cmake --preset "$WINPROBE_PRESET" -DWINPROBE_RELEASE_EXE="$PWD/build/release/bin/winprobe.exe" \
    >/dev/null
if [ $# -gt 0 ]; then
    cmake --build --preset "$WINPROBE_PRESET" --target "$@"
else
    cmake --build --preset "$WINPROBE_PRESET"
fi
