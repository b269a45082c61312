#!/usr/bin/env bash
# Installs what is missing, builds winprobe and runs it under Wine until
# Ctrl+C, beside demo windows that each show one rule of the report. On your
# X display when there is one (move the mouse over the Wine desktop's
# windows; the script never moves it); otherwise on a private virtual
# display, where the demo moves the cursor from one window to the next every
# few seconds and says on stderr what lies under it.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/arch.sh
winprobe_choose_build
scripts/build.sh winprobe winprobe_demo >/dev/null
bin=build/$WINPROBE_PRESET/bin

# A local display that answers: its socket is there.
display=${DISPLAY:-}
display=${display#:}
display=${display%%.*}
WINENV_USE_DISPLAY=0
if [ -n "$display" ] && [ -S "/tmp/.X11-unix/X$display" ]; then
    WINENV_USE_DISPLAY=1
fi

source scripts/winenv.sh
# Ends the demo windows with every other process of the prefix.
winenv_session "$PWD/build/$WINPROBE_PRESET/wineprefix"

if [ "$WINENV_USE_DISPLAY" = 1 ]; then
    "$WINPROBE_WINE" "$bin/winprobe_demo.exe" &
    echo "winprobe on $DISPLAY: move the mouse over the Wine desktop's windows; Ctrl+C stops it." >&2
else
    "$WINPROBE_WINE" "$bin/winprobe_demo.exe" --tour &
    echo "winprobe on a virtual display; the cursor tours the demo windows; Ctrl+C stops it." >&2
fi
# In the background, so that a hang-up reaches the clean-up at once; its
# input stays the terminal, which gives the probe its console and Ctrl+C.
"$WINPROBE_WINE" "$bin/winprobe.exe" <&0 &
wait $!
