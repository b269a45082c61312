#!/usr/bin/env bash
# The benchmark: what winprobe costs next to the platform's own floor, and
# what it allocates per cycle. Arguments go to winprobe_bench: --windows N
# for the largest count (10000), --cpu-seconds S for each of the two runs of
# the probe process beside its floor (60; the whole script then takes four
# to five minutes). Longer runs steady the ratios, whose CPU figures come in
# 10 ms steps under Wine, some 20 to 40 of them a minute at 100 windows:
# --cpu-seconds 300 takes about 12.
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
# In the background, so that a signal reaches the clean-up at once.
"$WINPROBE_WINE" "$bin/winprobe_bench.exe" "$@" &
wait $!

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
