#!/usr/bin/env python3
"""The probe's CPU per cycle over its floors', from scripts/bench.sh's samples.

    cycles.py WINDOWS < SAMPLES    one row of the table, or, where a floor's
                                   cycles cannot be paired with the probe's,
                                   why on stderr and status 1
    cycles.py --header             the table's heading

Each line of SAMPLES is "SECONDS PROBE_NS BARE_NS QUERIES_NS": the time of
the poll and each process's CPU so far, in ns, polled about every 50 ms.

Each process sleeps a second between its cycles, so a cycle is CPU seen
between two stretches of at least IDLE_GAP seconds without any, whatever it
costs: at 100 windows one costs well under a millisecond. A cycle may pause
inside on a busy wineserver; IDLE_GAP is long enough to hold such a pause and
short enough to fall inside the sleep.
"""

import sys

# The two add up to less than the second's sleep: a cycle's last CPU is seen
# at most LATE_POLL after it, its next cycle's first no earlier than it
# began, so two cycles are never taken for one.
IDLE_GAP = 0.8
# A poll later than this (the sampler itself kept waiting on a busy machine)
# may hold the end of one cycle and the start of the next: the cycles its
# CPU may belong to are left out.
LATE_POLL = 0.15
# The processes start a third of a second apart; a cycle this far or further
# from the probe's is not the one that met the same load.
PAIR_WITHIN = 0.5

FLOORS = ("bare", "queries")


class Unpaired(Exception):
    """No ratio can be given for a run."""


def parse(lines):
    """Samples as (seconds, [ns per process]) tuples."""
    samples = []
    for number, line in enumerate(lines, 1):
        fields = line.split()
        if not fields:
            continue
        if len(fields) != 1 + 1 + len(FLOORS):
            raise ValueError(f"sample line {number}: {len(fields)} fields: {line!r}")
        samples.append((float(fields[0]), [int(f) for f in fields[1:]]))
    return samples


def cycles(samples, column):
    """(start, ns) of each whole cycle of one process.

    A cycle whose start or end lies within IDLE_GAP of the first or last
    poll may have been cut short, and one that a late poll falls in may hold
    two: both are left out.
    """
    found = []
    if not samples:
        return found
    first_time, last_time = samples[0][0], samples[-1][0]
    prev_time, prev_ns = first_time, samples[0][1][column]
    current = None  # [start, last activity, ns, blurred]

    def close(cycle):
        start, active, ns, blurred = cycle
        if not blurred and start - first_time >= IDLE_GAP and last_time - active >= IDLE_GAP:
            found.append((start, ns))

    for time, values in samples[1:]:
        ns = values[column] - prev_ns
        since = prev_time
        late = time - since > LATE_POLL
        prev_time, prev_ns = time, values[column]
        if ns <= 0:
            # No CPU, or a thread ended and took its count along.
            continue
        if current is not None and time - current[1] >= IDLE_GAP:
            # A late poll may also hold the last of the cycle it ends.
            current[3] = current[3] or (late and since - current[1] < IDLE_GAP)
            close(current)
            current = None
        if current is None:
            current = [time, time, 0, False]
        current[1] = time
        current[2] += ns
        current[3] = current[3] or late
    if current is not None:
        close(current)
    return found


def pair(probe, floor):
    """Ratios of each probe cycle to the floor cycle nearest in time."""
    ratios = []
    for start, ns in probe:
        nearest = min(floor, key=lambda cycle: abs(cycle[0] - start), default=None)
        if nearest is not None and abs(nearest[0] - start) < PAIR_WITHIN:
            ratios.append(ns / nearest[1])
    return ratios


def quantile(values, q):
    """The q-quantile of sorted values, between neighbours."""
    at = q * (len(values) - 1)
    lo = int(at)
    if lo + 1 == len(values):
        return values[lo]
    return values[lo] + (at - lo) * (values[lo + 1] - values[lo])


HEADER = (
    "         cycles seen           CPU per cycle, ms    probe/floor-bare"
    "         probe/floor-queries\n"
    " windows probe  bare queries  probe   bare queries  pairs median quartiles"
    "    pairs median quartiles"
)


def row(windows, samples):
    """The table's row for one run; Unpaired where a floor pairs no cycle."""
    found = [cycles(samples, column) for column in range(1 + len(FLOORS))]
    medians = [quantile(sorted(ns for _, ns in c), 0.5) / 1e6 if c else 0.0 for c in found]
    text = f"{windows:8} {len(found[0]):5} {len(found[1]):5} {len(found[2]):7}"
    text += f" {medians[0]:6.3f} {medians[1]:6.3f} {medians[2]:7.3f}"
    for column, name in enumerate(FLOORS, 1):
        ratios = sorted(pair(found[0], found[column]))
        if not ratios:
            raise Unpaired(
                f"{windows} windows: no cycle of the probe pairs with one of floor-{name} "
                f"(whole cycles seen: probe {len(found[0])}, floor-{name} {len(found[column])}, "
                f"in {len(samples)} polls)"
            )
        text += f"  {len(ratios):5} {quantile(ratios, 0.5):6.3f}"
        text += f" {quantile(ratios, 0.25):.3f}-{quantile(ratios, 0.75):.3f}"
    return text


def main(argv):
    if argv == ["--header"]:
        print(HEADER)
        return 0
    if len(argv) != 1 or not argv[0].isdigit():
        print("usage: cycles.py WINDOWS < SAMPLES | cycles.py --header", file=sys.stderr)
        return 2
    try:
        print(row(int(argv[0]), parse(sys.stdin)))
    except (Unpaired, ValueError) as error:
        print(f"winprobe-bench: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
