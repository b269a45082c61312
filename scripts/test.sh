#!/usr/bin/env bash
# Builds winprobe and its tests, then runs the whole suite under a private
# Wine on a private virtual display, against the build this machine runs (see
# prepare.sh). Arguments go to ctest.
#   WINPROBE_DESKTOP=bare     (the default) Wine's own desktop
#   WINPROBE_DESKTOP=windows  what a Windows session shows: the desktop
#                             window, a taskbar and a hidden tooltip, put up
#                             by winprobe_desktop.exe before the tests start
# Either on the screen WINENV_SCREEN sets (see winenv.sh); a hosted Windows
# runner's is 1024x768.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/stop-report.sh
source scripts/prepare.sh

desktop=${WINPROBE_DESKTOP:-bare}
case $desktop in
bare | windows) ;;
*) fail "WINPROBE_DESKTOP is '$desktop'; it takes bare or windows" ;;
esac

winprobe_prepare --session wineprefix
if [ "$desktop" = windows ]; then
    step="putting up the windows desktop"
    winenv_start_shell "build/$WINPROBE_PRESET/bin/winprobe_desktop.exe"
fi
step="running the suite"
echo "winprobe: the suite runs against build/$WINPROBE_PRESET ($WINPROBE_ARCH)" \
    "on the $desktop desktop ($WINENV_SCREEN), and checks the 32-bit" \
    "${WINPROBE_SHIPPED_EXE:-build/mingw-x86/bin/winprobe.exe} as a file"
ctest --preset "$WINPROBE_PRESET" "$@"
