#!/usr/bin/env bash
# The long churn run: SECONDS (default 600) of top-level windows churning
# under the cursor while winprobe runs with its output on a file; then every
# block it printed is checked, as the short run in the test suite does.
# Meanwhile the probe's Wine process is read from outside, through Linux's
# /proc (Wine gives no memory or handle figures for another process): its
# private memory and open descriptors after the first minute and at the end;
# it fails if what the probe wrote itself, or its descriptors, grew.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}

source scripts/arch.sh
winprobe_choose_build
scripts/build.sh winprobe winprobe_churn winprobe_stress_tests >/dev/null
source scripts/winenv.sh
# A prefix of its own, so that the suite can run beside it.
winenv_session "$PWD/build/$WINPROBE_PRESET/wineprefix-churn"

# The Wine process whose program is winprobe.exe.
probe_pid() {
    local pid
    for pid in $(ls /proc | grep -E '^[0-9]+$'); do
        case $(readlink "/proc/$pid/exe" 2>/dev/null) in */wine | */wine64 | */wine-preloader | */wine64-preloader) ;; *) continue ;; esac
        if tr '\0' '\n' <"/proc/$pid/cmdline" 2>/dev/null | head -n 1 | grep -q 'winprobe\.exe$'; then
            echo "$pid"
            return
        fi
    done
}

# "DIRTY_KIB CLEAN_KIB DESCRIPTORS" of a running process; fails once it has
# gone. Private dirty pages are what it wrote itself (heaps, stacks, data):
# Windows' private bytes. Private clean pages are library code read in as it
# is first run.
footprint() {
    local kib fds
    kib=$(awk '/^Private_Dirty:/ { d = $2 } /^Private_Clean:/ { c = $2 } END { print d, c }' \
        "/proc/$1/smaps_rollup" 2>/dev/null)
    fds=$(ls "/proc/$1/fd" 2>/dev/null | wc -l)
    [ -n "$kib" ] && [ "$fds" -gt 0 ] && echo "$kib $fds"
}

WINPROBE_CHURN_SECONDS=$seconds "$WINPROBE_WINE" "build/$WINPROBE_PRESET/bin/winprobe_stress_tests.exe" \
    --gtest_filter='Churn.*' &
test_pid=$!

first_look=$((seconds / 4 < 60 ? seconds / 4 : 60))
start=$(date +%s)
pid= first= last=
while kill -0 "$test_pid" 2>/dev/null; do
    sleep 2
    [ -n "$pid" ] && [ -d "/proc/$pid" ] || pid=$(probe_pid)
    [ -n "$pid" ] || continue
    now=$(footprint "$pid" 2>/dev/null) || continue
    last=$now
    if [ -z "$first" ] && [ $(($(date +%s) - start)) -ge "$first_look" ]; then
        first=$now
    fi
done
status=0
wait "$test_pid" || status=$?
read -r first_dirty first_clean first_fds <<<"$first"
read -r last_dirty last_clean last_fds <<<"$last"
echo "probe after $first_look s: $first_dirty KiB private dirty, $first_clean KiB private clean, $first_fds descriptors"
echo "probe at the end: $last_dirty KiB private dirty, $last_clean KiB private clean, $last_fds descriptors"
if [ "$last_dirty" -gt "$first_dirty" ] || [ "$last_fds" -gt "$first_fds" ]; then
    echo "the probe grew"
    status=1
fi
exit "$status"
