#!/usr/bin/env bash
# The long churn run: SECONDS (default 600) of top-level windows churning
# under the cursor while winprobe runs with its output on a file; then every
# block it printed is checked, as the short run in the test suite does, and
# the probe's footprint after the first minute is held against the end's.
# Wine gives no memory or handle figures for another process, so meanwhile
# this script reads the probe's Wine process through Linux's /proc and keeps
# its figures in a file that the test reads in their place
# (WINPROBE_FOOTPRINT_FILE). The test alone decides when to read and what
# counts as growth.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/stop-report.sh
source scripts/prepare.sh
seconds=${1:-600}
[[ $seconds =~ ^[1-9][0-9]*$ ]] || fail "SECONDS is '$seconds'; it takes a whole number of seconds"

# A prefix of its own, so that the suite can run beside it.
winprobe_prepare --quiet --session wineprefix-churn winprobe_stress_tests

# "PRIVATE_DIRTY_KIB PRIVATE_CLEAN_KIB DESCRIPTORS" of a running process;
# fails once it has gone.
footprint() {
    local kib fds
    kib=$(awk '/^Private_Dirty:/ { d = $2 } /^Private_Clean:/ { c = $2 } END { print d, c }' \
        "/proc/$1/smaps_rollup" 2>/dev/null) || return 1
    fds=$(find "/proc/$1/fd" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l) || return 1
    [ -n "$kib" ] && [ "$fds" -gt 0 ] && echo "$kib $fds"
}

# Beside the test programs; the test reads it by the same relative path.
figures=build/$WINPROBE_PRESET/churn-footprint.txt
rm -f "$figures"
step="churning for $seconds s"
WINPROBE_CHURN_SECONDS=$seconds WINPROBE_FOOTPRINT_FILE=$figures \
    "$WINPROBE_WINE" "build/$WINPROBE_PRESET/bin/winprobe_stress_tests.exe" --gtest_filter='Churn.*' &
test_pid=$!
pid=''
while kill -0 "$test_pid" 2>/dev/null; do
    if [ -z "$pid" ] || [ ! -d "/proc/$pid" ]; then
        # Other runs of the probe may share the machine: this session's.
        pid=$(winenv_pid_of '\winprobe.exe') || pid=''
    fi
    # Replaced whole, so that the test never reads half a line.
    if [ -n "$pid" ] && now=$(footprint "$pid"); then
        echo "$now" >"$figures.new"
        mv -f "$figures.new" "$figures"
    fi
    sleep 1
done
wait "$test_pid"
