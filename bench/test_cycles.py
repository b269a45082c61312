"""bench/cycles.py against traces made up to its rules: cycles of any cost
found, pauses and cut or blurred cycles handled, and no ratio without pairs."""

import io
import os
import sys
import unittest
from contextlib import redirect_stderr, redirect_stdout

# No __pycache__ left in the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cycles  # noqa: E402

POLL = 0.05


def trace(processes, seconds=20.0, polls=None):
    """Sample lines for processes given as lists of (start, end, ns): CPU
    spread evenly over each stretch, read at each poll."""
    if polls is None:
        polls = [i * POLL for i in range(int(seconds / POLL) + 1)]
    lines = []
    for t in polls:
        used = []
        for stretches in processes:
            total = 0
            for start, end, ns in stretches:
                share = 1.0 if t >= end else max(0.0, (t - start) / (end - start))
                total += int(ns * share)
            used.append(total)
        lines.append(f"{1000 + t:.6f} " + " ".join(str(u) for u in used))
    return lines


def periodic(offset, ns, seconds=20.0, length=0.004):
    """One cycle of ns every second and a bit from offset, as the loop sleeps
    a second between cycles."""
    stretches, start = [], offset
    while start < seconds:
        stretches.append((start, start + length, ns))
        start += 1.0 + length
    return stretches


class CyclesFound(unittest.TestCase):
    def test_cycles_under_a_millisecond_are_paired(self):
        # The 32-bit build's probe at 100 windows: about 0.67 ms a cycle.
        samples = cycles.parse(
            trace([periodic(0.11, 670_000), periodic(0.44, 610_000), periodic(0.77, 640_000)])
        )
        found = cycles.cycles(samples, 0)
        self.assertGreaterEqual(len(found), 17)
        self.assertTrue(all(ns == 670_000 for _, ns in found))
        fields = cycles.row(100, samples).split()
        self.assertEqual(fields[4:7], ["0.670", "0.610", "0.640"])
        self.assertEqual(fields[8], f"{670 / 610:.3f}")
        self.assertEqual(fields[11], f"{670 / 640:.3f}")

    def test_a_pause_inside_a_cycle_keeps_it_one(self):
        # Waiting 400 ms on a busy wineserver halfway through.
        probe = []
        for start, end, ns in periodic(0.1, 2_000_000, length=0.45):
            probe += [(start, start + 0.02, ns // 2), (end - 0.02, end, ns // 2)]
        samples = cycles.parse(trace([probe, periodic(0.4, 1_000_000), periodic(0.7, 1_000_000)]))
        found = cycles.cycles(samples, 0)
        self.assertGreaterEqual(len(found), 10)
        self.assertTrue(all(ns == 2_000_000 for _, ns in found), found)

    def test_cycles_cut_by_the_first_or_last_poll_are_left_out(self):
        # Polls from 0.5 s to 10.55 s: the first cycle (0.48 to 0.6) and the
        # last (10.48 to 10.6) are each seen only in part.
        polls = [0.5 + i * POLL for i in range(202)]
        stretches = [(0.48 + k, 0.6 + k, 1_200_000) for k in range(11)]
        samples = cycles.parse(trace([stretches, stretches, stretches], polls=polls))
        found = cycles.cycles(samples, 0)
        self.assertEqual([int(start - 1000) for start, _ in found], list(range(1, 10)))
        self.assertTrue(all(ns == 1_200_000 for _, ns in found), found)

    def test_a_floor_cycle_missing_leaves_its_probe_cycle_unpaired(self):
        # The floor's cycle of every other second left out (cut or blurred):
        # the probe's cycle then has none that met the same load.
        bare = periodic(0.43, 600_000)[::2]
        samples = cycles.parse(trace([periodic(0.1, 700_000), bare, periodic(0.76, 600_000)]))
        probe = cycles.cycles(samples, 0)
        floor = cycles.cycles(samples, 1)
        ratios = cycles.pair(probe, floor)
        self.assertEqual(len(ratios), len(floor))
        self.assertLess(len(ratios), len(probe) - 5)
        self.assertTrue(all(r == 700 / 600 for r in ratios), ratios)

    def test_a_late_poll_leaves_out_the_cycles_it_may_hold(self):
        # The sampler kept waiting from 5.05 to 6.3 s: that poll holds the end
        # of the cycle from 5.0 and all of the one from 6.0, which, seen as
        # late as 6.3 s, would run into the one from 7.0.
        polls = [i * POLL for i in range(102)] + [6.3 + i * POLL for i in range(200)]
        probe = [(k, k + 0.2, 3_000_000) for k in range(16)]
        samples = cycles.parse(trace([probe, probe, probe], polls=polls))
        found = cycles.cycles(samples, 0)
        starts = [round(start - 1000) for start, _ in found]
        self.assertEqual(starts, [1, 2, 3, 4, 8, 9, 10, 11, 12, 13, 14, 15])
        self.assertTrue(all(ns == 3_000_000 for _, ns in found), found)

    def test_a_thread_that_ends_takes_no_cpu_back(self):
        samples = cycles.parse(["0.0 0 0 0", "0.05 0 0 0", "1.0 0 0 0", "1.05 500 0 0",
                                "1.1 400 0 0", "2.0 400 0 0", "2.05 400 0 0"])
        self.assertEqual(cycles.cycles(samples, 0), [(1.05, 500)])


class NoPairsNoRatio(unittest.TestCase):
    def run_main(self, lines):
        out, err = io.StringIO(), io.StringIO()
        stdin = sys.stdin
        sys.stdin = io.StringIO("".join(line + "\n" for line in lines))
        try:
            with redirect_stdout(out), redirect_stderr(err):
                status = cycles.main(["100"])
        finally:
            sys.stdin = stdin
        return status, out.getvalue(), err.getvalue()

    def test_a_floor_that_never_ran_fails_the_run(self):
        status, out, err = self.run_main(trace([periodic(0.1, 700_000), [], periodic(0.7, 700_000)]))
        self.assertEqual(status, 1)
        self.assertEqual(out, "")
        self.assertIn("no cycle of the probe pairs with one of floor-bare", err)

    def test_a_run_that_pairs_prints_its_row(self):
        status, out, err = self.run_main(
            trace([periodic(0.1, 700_000), periodic(0.4, 700_000), periodic(0.7, 700_000)])
        )
        self.assertEqual((status, err), (0, ""))
        self.assertEqual(out.split()[0], "100")


if __name__ == "__main__":
    unittest.main()
