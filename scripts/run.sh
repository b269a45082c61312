#!/usr/bin/env bash
# Installs what is missing, builds winprobe and runs it under Wine until
# Ctrl+C, beside demo windows that each show one rule of the report. On your
# X display when there is one (move the mouse over the Wine desktop's
# windows; the script never moves it); otherwise on a private virtual
# display, where the demo moves the cursor from one window to the next every
# few seconds and says on stderr what lies under it. The demo runs the probe
# in its own console, so that the two never write to the terminal at once.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/stop-report.sh
source scripts/prepare.sh

# A local display that answers: its socket is there.
display=${DISPLAY:-}
display=${display#:}
display=${display%%.*}
WINENV_USE_DISPLAY=0
if [ -n "$display" ] && [ -S "/tmp/.X11-unix/X$display" ]; then
    WINENV_USE_DISPLAY=1
fi
# The session ends the demo and the probe with every other process of the
# prefix.
winprobe_prepare --quiet --session wineprefix winprobe winprobe_demo

demo=("$WINPROBE_WINE" "build/$WINPROBE_PRESET/bin/winprobe_demo.exe")
if [ "$WINENV_USE_DISPLAY" = 1 ]; then
    echo "winprobe on $DISPLAY: move the mouse over the Wine desktop's windows; Ctrl+C stops it." >&2
else
    demo+=(--tour)
    echo "winprobe on a virtual display; the cursor tours the demo windows; Ctrl+C stops it." >&2
fi
# Only a console gets the probe's lines one by one: on a file or pipe it
# writes 512 bytes at a time, and narration on the same pipe lands inside.
if [ ! -t 1 ]; then
    echo "winprobe: stdout is no terminal, so the probe writes its blocks 512 bytes at a time;" \
        "send the demo's narration elsewhere (2>FILE) rather than into the same pipe or file" >&2
fi
step="running the demo"
# In the background, so that a hang-up reaches the clean-up at once; its
# input stays the terminal, which gives the demo and the probe their console
# and Ctrl+C.
"${demo[@]}" <&0 &
wait $!
