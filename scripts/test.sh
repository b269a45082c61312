#!/usr/bin/env bash
# Builds winprobe and its tests, then runs the whole suite under a private
# Wine on a private virtual display. Arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset mingw-i686 >/dev/null
cmake --build --preset mingw-i686

source scripts/winenv.sh
trap winenv_stop EXIT
trap 'exit 130' INT TERM
winenv_start "$PWD/build/mingw-i686/wineprefix"
ctest --preset mingw-i686 "$@"
