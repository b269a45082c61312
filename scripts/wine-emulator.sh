#!/usr/bin/env bash
# How ctest starts a test program under Wine: the toolchain files
# (cmake/mingw-x86.cmake, cmake/mingw-x64.cmake) give CMake this script, then
# their Wine loader, as the cross-compiling emulator.
#   scripts/wine-emulator.sh LOADER PROGRAM [ARG...]
# Says with what status a program failed, which ctest does not show.
# Now and then Wine cannot load or start a program's DLLs: the program ends
# at once, before it prints a line, and only Wine's loader says why (winenv.sh
# keeps its messages on). Such a start is made once more, and said so; a
# program that fails in any other way, or twice, fails.
#
# The program's stdout and stderr pass through as they come, copies kept for
# the checks below: at a test's TIMEOUT, ctest (3.25, Debian 12's) kills
# this script and every process under it with SIGKILL, which no trap sees,
# so whatever waited here to be printed afterwards would be lost.
#
# A Windows exit status reaches this script as Wine's loader leaves it: its
# low byte only (ExitProcess(0xC00000FD) gives 253). An unhandled exception
# is named on stderr ("wine: Unhandled stack overflow at ..."), and the
# program then ends with the debugger's status, the exception's low byte, or
# even 0 (0xC0000409 raised did): that line gives the full code, and the
# start fails whatever the status. A signal is told from such a status by the
# wait status itself, which perl reports.
set -uo pipefail
# shellcheck source=scripts/stop-report.sh
source "$(dirname "${BASH_SOURCE[0]}")/stop-report.sh"

[ $# -ge 2 ] || fail "usage: scripts/wine-emulator.sh LOADER PROGRAM [ARG...]"
# The loader starts every further process of the program through WINELOADER:
# the same one, whichever Wine it would look for first.
export WINELOADER=$1
out=$(mktemp)
err=$(mktemp)
how=$(mktemp)
stop_at_exit rm -f "$out" "$err" "$how"

# Runs the program; writes "status N" or "signal N" to the file $1.
# shellcheck disable=SC2016 # perl's variables
wait_status='
    my $file = shift;
    my $r = system { $ARGV[0] } @ARGV;
    open(my $fh, ">", $file) or die "wine-emulator: $file: $!\n";
    if ($r == -1) { print STDERR "wine-emulator: cannot start $ARGV[0]: $!\n"; print $fh "status 127\n"; }
    elsif ($r & 127) { print $fh "signal ", $r & 127, "\n"; }
    else { print $fh "status ", $r >> 8, "\n"; }'

# The code an unhandled exception's line on stderr names, if there is one.
exception_code() {
    local line
    line=$(grep -m1 '^wine: Unhandled ' "$err") || return 1
    case $line in
    "wine: Unhandled stack overflow"*) echo "0xC00000FD (stack overflow)" ;;
    "wine: Unhandled page fault"*) echo "0xC0000005 (access violation)" ;;
    "wine: Unhandled division by zero"*) echo "0xC0000094 (division by zero)" ;;
    "wine: Unhandled illegal instruction"*) echo "0xC000001D (illegal instruction)" ;;
    "wine: Unhandled privileged instruction"*) echo "0xC0000096 (privileged instruction)" ;;
    "wine: Unhandled exception 0x"*)
        line=${line#wine: Unhandled exception 0x}
        line=${line%% *}
        echo "0x${line^^}"
        ;;
    *) return 1 ;;
    esac
}

for attempt in 1 2; do
    : >"$how"
    { perl -e "$wait_status" "$how" "$@" 2>&1 >&3 3>&- | tee "$err" >&2; } 3>&1 | tee "$out"
    read -r kind value <"$how" || { kind=status value=255; }
    if [ "$kind:$value" = status:0 ] && ! code=$(exception_code); then
        stop_quietly 0
    fi
    if [ "$attempt" = 2 ] || [ -s "$out" ] || ! grep -q ':err:module:' "$err"; then
        break
    fi
    echo "wine-emulator: Wine could not start $2 ($kind $value); starting it once more" >&2
done
if [ "$kind" = signal ]; then
    echo "wine-emulator: $2 was ended by signal $value" >&2
    stop_quietly $((128 + value))
fi
if code=$(exception_code); then
    echo "wine-emulator: $2 failed with status $code, unhandled; Wine's loader ended with $value" >&2
    if [ "$value" = 0 ]; then
        value=$((${code%% *} & 0xFF))
    fi
elif [ "$value" -gt 127 ]; then
    printf 'wine-emulator: %s failed with status %d (0x%02X: the low byte of its Windows exit status, all Wine passes on; an NTSTATUS such as 0xC00000FD ends in it)\n' \
        "$2" "$value" "$value" >&2
else
    echo "wine-emulator: $2 failed with status $value" >&2
fi
# Said above: the status is the program's.
stop_quietly "$value"
