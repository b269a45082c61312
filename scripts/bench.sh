#!/usr/bin/env bash
# The benchmark: what winprobe costs next to the platform's own floor, and
# what it allocates per cycle. Arguments go to winprobe_bench: --windows N
# for the largest count (10000), --cpu-seconds S for each of the two runs of
# the probe process beside its floors (60; the whole script then takes about
# three minutes).
# The probe's CPU is weighed against two floor processes running beside it:
# floor-bare (its loop without the report) and floor-queries (the same, and
# the report's nine queries of the window found, with nothing printed). Under
# Wine another process's CPU comes in 10 ms steps, more than a whole cycle
# at 100 windows, so this script reads the three processes' CPU from the
# kernel in nanoseconds every 50 ms, and bench/cycles.py tells their cycles
# apart by the second's sleep between them, pairs each of the probe's cycles
# with each floor's nearest in time, and prints the median of the pairs'
# ratios with their spread. Where it pairs no cycles, it prints no ratio and
# the script fails.
# WINPROBE_BENCH_KEEP=DIR keeps each run's samples there (samples-W.txt).
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/stop-report.sh
source scripts/prepare.sh

winprobe_prepare --quiet --session wineprefix winprobe_bench
bin=build/$WINPROBE_PRESET/bin
# Every file of ours in one directory, gone however the script ends, Ctrl+C
# included.
work=$(mktemp -d -t winprobe-bench.XXXXXX)
stop_at_exit rm -rf "$work"
keep=${WINPROBE_BENCH_KEEP:-}
[ -z "$keep" ] || mkdir -p "$keep"

echo "machine: $(nproc) cores, $(awk '/^MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)," \
    "$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo); $("$WINPROBE_WINE" --version), $WINPROBE_ARCH build"
# What else keeps the machine busy moves the absolute figures.
echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"

# CPU used so far by all threads of process $1, in ns, into REPLY.
process_ns() {
    local file ns sum=0
    for file in /proc/"$1"/task/*/schedstat; do
        read -r ns _ 2>/dev/null <"$file" || continue
        sum=$((sum + ns))
    done
    REPLY=$sum
}

# "SECONDS NS..." for each process named every 50 ms until one of them ends
# or this is ended; no command started per line, so that it costs the
# machine little.
sample_cpu() {
    local fd pid line
    exec {fd}<> <(:)
    for (( ; ; )); do
        line=$EPOCHREALTIME
        for pid; do
            [ -d "/proc/$pid" ] || return 0
            process_ns "$pid"
            line+=" $REPLY"
        done
        echo "$line"
        read -r -t 0.05 -u "$fd" || true
    done
}

marks=$work/marks
mkfifo "$marks"
rows=$work/rows
: >"$rows"
unpaired=''
# In the background, so that a signal reaches the clean-up at once; its
# marks say when each run of the probe beside its floors begins and ends.
"$WINPROBE_WINE" "$bin/winprobe_bench.exe" --marks "$@" >"$marks" &
bench_pid=$!
sampler=''
while IFS= read -r line; do
    line=${line%$'\r'}
    case $line in
    "@cpu begin "*)
        windows=${line#@cpu begin }
        pids=()
        for exe in '\winprobe.exe' '\winprobe_bench.exe --floor-bare' '\winprobe_bench.exe --floor-queries'; do
            pid=$(winenv_pid_of "$exe") ||
                fail "at $windows windows: no process of this session's runs ${exe#\\}"
            pids+=("$pid")
        done
        sample_cpu "${pids[@]}" >"$work/samples" &
        sampler=$!
        ;;
    "@cpu end "*)
        kill "$sampler"
        wait "$sampler" || true
        [ -z "$keep" ] || cp "$work/samples" "$keep/samples-$windows.txt"
        # A run whose cycles cannot be paired gives no row: the others still run.
        python3 bench/cycles.py "$windows" <"$work/samples" >>"$rows" || unpaired+=" $windows"
        ;;
    *) printf '%s\n' "$line" ;;
    esac
done <"$marks"
wait "$bench_pid" || fail "winprobe_bench.exe ended with status $?"

echo
echo "the same runs from the kernel's CPU counts: each process's cycles, their median CPU in ms,"
echo "and the probe's cycle over each floor's nearest in time: pairs, median and quartiles"
python3 bench/cycles.py --header
cat "$rows"
[ -z "$unpaired" ] || fail "no probe/floor ratio at$unpaired windows (see above)"

# Heap allocations per cycle, from Wine's heap trace: 1000 of the probe's
# cycles, then 1000 bare enumerations over the same windows.
trace=$work/heap-trace
WINEDEBUG=trace+heap,+debugstr "$WINPROBE_WINE" "$bin/winprobe_bench.exe" --alloc-phases 1000 2>"$trace" &
wait $! || fail "winprobe_bench.exe --alloc-phases ended with status $?"
awk '
    /winprobe-bench: probe cycles begin/ { phase = "probe" }
    /winprobe-bench: probe cycles end/   { phase = "" }
    /winprobe-bench: floor begins/       { phase = "floor" }
    /winprobe-bench: floor ends/         { phase = "" }
    phase != "" && /RtlAllocateHeap/     { n[phase]++ }
    END {
        printf "heap allocations per cycle: probe cycle %.2f, bare enumeration %.2f\n",
            n["probe"] / 1000, n["floor"] / 1000
    }' "$trace"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg); the script took $SECONDS s"
