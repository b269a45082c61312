#!/usr/bin/env bash
# Builds winprobe and its tests, then runs the whole suite under a private
# Wine on a private virtual display, against the build this machine runs (see
# arch.sh). Arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
source scripts/arch.sh
winprobe_choose_build
scripts/build.sh
source scripts/winenv.sh
winenv_session "$PWD/build/$WINPROBE_PRESET/wineprefix"
echo "winprobe: the suite runs against build/$WINPROBE_PRESET ($WINPROBE_ARCH)" \
    "and checks the 32-bit build/release/bin/winprobe.exe as a file"
ctest --preset "$WINPROBE_PRESET" "$@"
