#!/usr/bin/env bash
# How ctest starts a test program under Wine: winprobe_build (arch.sh) gives
# CMake this script, then the chosen loader, as the cross-compiling emulator.
#   scripts/wine-test.sh LOADER PROGRAM [ARG...]
# Says with what status a program failed, which ctest does not show.
# Now and then Wine cannot load or start a program's DLLs: the program ends
# at once, before it prints a line, and only Wine's loader says why (winenv.sh
# keeps its messages on). Such a start is made once more, and said so; a
# program that fails in any other way, or twice, fails.
set -uo pipefail

if [ $# -lt 2 ]; then
    echo "wine-test: usage: scripts/wine-test.sh LOADER PROGRAM [ARG...]" >&2
    exit 2
fi
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
for attempt in 1 2; do
    "$@" 2>"$err" | tee "$out"
    status=${PIPESTATUS[0]}
    cat "$err" >&2
    [ "$status" != 0 ] || exit 0
    if [ "$attempt" = 2 ] || [ -s "$out" ] || ! grep -q ':err:module:' "$err"; then
        break
    fi
    echo "wine-test: Wine could not start $2 (status $status); starting it once more" >&2
done
if [ "$status" -gt 128 ]; then
    echo "wine-test: $2 was ended by signal $((status - 128))" >&2
else
    echo "wine-test: $2 failed with status $status" >&2
fi
exit "$status"
