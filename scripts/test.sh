#!/usr/bin/env bash
# Builds winprobe and its tests, then runs the whole suite under a private
# Wine on a private virtual display, against the build this machine runs (see
# arch.sh). Arguments go to ctest.
#   WINPROBE_DESKTOP=bare     (the default) Wine's own desktop, on winenv.sh's
#                             screen
#   WINPROBE_DESKTOP=windows  what a Windows session shows: a 1024x768 screen
#                             with the desktop window, a taskbar and a hidden
#                             tooltip, put up before the tests start
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/arch.sh
source scripts/winenv.sh

desktop=${WINPROBE_DESKTOP:-bare}
case $desktop in
bare) ;;
windows) export WINENV_SCREEN=1024x768 ;;
*)
    echo "winprobe: WINPROBE_DESKTOP is '$desktop'; it takes bare or windows" >&2
    exit 1
    ;;
esac

scripts/install-deps.sh
winprobe_choose_build
# shellcheck disable=SC2119 # every target; the arguments are ctest's
winprobe_build
winenv_session "$PWD/build/$WINPROBE_PRESET/wineprefix"
if [ "$desktop" = windows ]; then
    winenv_start_shell "build/$WINPROBE_PRESET/bin/winprobe_helper.exe" desktop
fi
echo "winprobe: the suite runs against build/$WINPROBE_PRESET ($WINPROBE_ARCH)" \
    "on the $desktop desktop ($WINENV_SCREEN), and checks the 32-bit" \
    "build/release/bin/winprobe.exe as a file"
ctest --preset "$WINPROBE_PRESET" "$@"
