#!/usr/bin/env bash
# Builds winprobe and its tests, then runs the whole suite under a private
# Wine on a private virtual display. Arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/build.sh
source scripts/winenv.sh
winenv_session "$PWD/build/mingw-i686/wineprefix"
ctest --preset mingw-i686 "$@"
