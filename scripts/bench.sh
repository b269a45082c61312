#!/usr/bin/env bash
# The benchmark: what winprobe costs next to the platform's own floor, and
# what it allocates per cycle. Arguments go to winprobe_bench: --windows N
# for the largest count (10000), --cpu-seconds S for each of the two runs of
# the probe process beside its floor (60; the whole script then takes about
# four minutes).
# Under Wine a process's CPU comes in 10 ms steps, some 20 to 40 of them a
# minute at 100 windows, and one burst of other work on the machine can fall
# on one process's cycles and not the other's. So beside the bench's own
# figures this script reads both processes' CPU from the kernel in
# nanoseconds, every 50 ms, tells each cycle (a burst of CPU between idle
# seconds), pairs each of the probe's cycles with the floor's nearest in
# time, and prints the median of those pairs' ratios with their spread.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/arch.sh
source scripts/winenv.sh

scripts/install-deps.sh
winprobe_choose_build
winprobe_build winprobe_bench >/dev/null
winenv_session "$PWD/build/$WINPROBE_PRESET/wineprefix"
bin=build/$WINPROBE_PRESET/bin

echo "machine: $(nproc) cores, $(awk '/^MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)," \
    "$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo); $("$WINPROBE_WINE" --version), $WINPROBE_ARCH build"
# What else keeps the machine busy moves the absolute figures.
echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"

# The unix process of this session's Wine program whose command line ends in
# $1 (Wine shows the Windows one), as of now.
session_pid() {
    local dir cmdline
    for dir in /proc/[0-9]*; do
        # Wine leaves NULs after the arguments: squeezed into one space.
        cmdline=$(tr -s '\0' ' ' 2>/dev/null <"$dir/cmdline") || continue
        case ${cmdline% } in *"$1") ;; *) continue ;; esac
        grep -qzxF "WINPROBE_SESSION=$WINPROBE_SESSION" "$dir/environ" 2>/dev/null || continue
        echo "${dir#/proc/}"
        return 0
    done
    return 1
}

# CPU used so far by all threads of process $1, in ns, into REPLY.
process_ns() {
    local file ns sum=0
    for file in /proc/"$1"/task/*/schedstat; do
        read -r ns _ 2>/dev/null <"$file" || continue
        sum=$((sum + ns))
    done
    REPLY=$sum
}

# "SECONDS PROBE_NS FLOOR_NS" every 50 ms until either process ends or this
# is ended; no command started per line, so that it costs the machine little.
sample_cpu() {
    local fd probe_ns
    exec {fd}<> <(:)
    while [ -d "/proc/$1" ] && [ -d "/proc/$2" ]; do
        process_ns "$1"
        probe_ns=$REPLY
        process_ns "$2"
        echo "$EPOCHREALTIME $probe_ns $REPLY"
        read -r -t 0.05 -u "$fd" || true
    done
}

# One row from the samples of one run: each process's cycles, a burst of
# CPU of 1 ms or more, ended by 800 ms with none (a cycle waiting on a busy
# wineserver can pause for some polls; the next begins a second after the
# last one ended); those under way at the first or the last sample, and
# those a late poll blurs, left out. Each of the probe's cycles is paired with
# the floor's nearest in time, half a second away, which met the same load.
per_cycle() {
    awk -v windows="$1" '
        function close_burst(i) {
            if (!partial[i] && !blurred[i] && total[i] >= 1e6) {
                k = ++n[i]; begun[i, k] = start[i]; cpu[i, k] = total[i]
            }
            on[i] = 0; total[i] = 0; blurred[i] = 0
        }
        function sort(a, count,    x, y, v) {
            for (x = 2; x <= count; x++)
                for (y = x; y > 1 && a[y - 1] > a[y]; y--) { v = a[y]; a[y] = a[y - 1]; a[y - 1] = v }
        }
        # The q-quantile of sorted a[1..count], between neighbours.
        function quantile(a, count, q,    at, lo) {
            at = 1 + q * (count - 1); lo = int(at)
            return lo == count ? a[lo] : a[lo] + (at - lo) * (a[lo + 1] - a[lo])
        }
        NR == 1 { last[1] = $2; last[2] = $3; t = $1; next }
        {
            # A poll late by more than 250 ms (the machine busy) may hold the
            # ends of two cycles: a cycle it falls in is left out.
            late = $1 - t > 0.3; t = $1
            for (i = 1; i <= 2; i++) {
                d = $(i + 1) - last[i]; last[i] = $(i + 1)
                if (d > 20000) {
                    if (!on[i]) { on[i] = 1; start[i] = $1; partial[i] = NR == 2 }
                    total[i] += d; active[i] = $1
                    if (late) blurred[i] = 1
                } else if (on[i] && $1 - active[i] >= 0.8) {
                    close_burst(i)
                }
            }
        }
        END {
            j = 1
            for (k = 1; k <= n[1]; k++) {
                while (j < n[2] && begun[2, j + 1] - begun[1, k] < begun[1, k] - begun[2, j]) j++
                gap = begun[2, j] - begun[1, k]
                if (n[2] && gap < 1 && gap > -1) r[++pairs] = cpu[1, k] / cpu[2, j]
            }
            if (!pairs) { printf "%8d  no cycles of both to pair\n", windows; exit }
            for (i = 1; i <= 2; i++) {
                for (k = 1; k <= n[i]; k++) c[k] = cpu[i, k]
                sort(c, n[i]); median[i] = quantile(c, n[i], 0.5) / 1e6
            }
            sort(r, pairs)
            printf "%8d %6d %6d %8.2f %8.2f %6d %8.3f %6.3f-%.3f %6.3f-%.3f\n", windows, n[1], n[2],
                median[1], median[2], pairs, quantile(r, pairs, 0.5), quantile(r, pairs, 0.25),
                quantile(r, pairs, 0.75), r[1], r[pairs]
        }'
}

marks=$(mktemp -u)
mkfifo "$marks"
kernel=$(mktemp)
# In the background, so that a signal reaches the clean-up at once; its
# marks say when each run of the probe beside its floor begins and ends.
"$WINPROBE_WINE" "$bin/winprobe_bench.exe" --marks "$@" >"$marks" &
bench_pid=$!
sampler=''
while IFS= read -r line; do
    line=${line%$'\r'}
    case $line in
    "@cpu begin "*)
        samples=$(mktemp)
        if probe=$(session_pid '\winprobe.exe') && floor=$(session_pid '\winprobe_bench.exe --floor'); then
            sample_cpu "$probe" "$floor" >"$samples" &
            sampler=$!
        else
            echo "winprobe-bench: the probe's or the floor's process was not found" >&2
        fi
        ;;
    "@cpu end "*)
        if [ -n "$sampler" ]; then
            kill "$sampler"
            wait "$sampler" || true
            sampler=''
            per_cycle "${line#@cpu end }" <"$samples" >>"$kernel"
        fi
        rm -f "$samples"
        ;;
    *) printf '%s\n' "$line" ;;
    esac
done <"$marks"
rm -f "$marks"
wait "$bench_pid"
echo
echo "the same runs from the kernel's CPU counts (ns): the cycles seen, median CPU per cycle in"
echo "ms, and the probe's cycle over the floor's nearest in time: pairs, median, middle half, all"
printf '%8s %6s %6s %8s %8s %6s %8s %13s %13s\n' windows probe floor probe floor pairs ratio \
    quartiles min-max
cat "$kernel"
rm -f "$kernel"

# Heap allocations per cycle, from Wine's heap trace: 1000 of the probe's
# cycles, then 1000 bare enumerations over the same windows.
trace=$(mktemp)
WINEDEBUG=trace+heap,+debugstr "$WINPROBE_WINE" "$bin/winprobe_bench.exe" --alloc-phases 1000 2>"$trace" &
wait $! || true
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
rm -f "$trace"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg); the script took $SECONDS s"
