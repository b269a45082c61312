"""scripts/stop-report.sh, which every script in scripts/ sources first: a
script that stops says on stderr its name, the status, its phase and what
stopped it, and runs its clean-ups first. Takes the scripts folder."""

import pathlib
import signal
import subprocess
import sys
import tempfile
import unittest

SCRIPTS = pathlib.Path(sys.argv.pop(1)).resolve()

# A script that sources the report, then does what its argument says.
PROBE = f"""#!/usr/bin/env bash
set -euo pipefail
source {SCRIPTS}/stop-report.sh
first() {{ echo "first clean-up, status $stop_status, signal '$stop_signal'"; }}
stop_at_exit first
stop_at_exit echo "second clean-up"
build() {{
    local target=$1
    false "$target"
}}
refuse() {{
    return 4
}}
case $1 in
command) step="building"; build winprobe ;;
fail) step="checking"; fail "the zip holds 2 files, not 3" ;;
returns) refuse ;;
quietly) echo "the program failed with status 7" >&2; stop_quietly 7 ;;
plain) set +e; false; set -e; step="copying"; exit 3 ;;
wait) step="waiting"; sleep 30 >/dev/null 2>&1 & stop_at_exit kill $!; echo ready; wait $! ;;
slow)
    slow() {{ echo "slow clean-up begun"; sleep 2; echo "slow clean-up done"; }}
    step="waiting"; stop_at_exit slow; echo ready; read -r -t 30 ;;
esac
"""


class StopReport(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        self.script = pathlib.Path(tmp.name, "probe.sh")
        self.script.write_text(PROBE)

    def run_probe(self, what):
        return subprocess.run(["bash", str(self.script), what], capture_output=True, text=True,
                              timeout=60)

    def signal_probe(self, signum):
        with subprocess.Popen(["bash", str(self.script), "wait"], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True) as probe:
            self.assertEqual("ready\n", probe.stdout.readline())
            probe.send_signal(signum)
            out, err = probe.communicate(timeout=60)
            return probe.returncode, out, err

    def test_a_failing_command_is_named_where_it_failed(self):
        done = self.run_probe("command")
        self.assertEqual(1, done.returncode)
        self.assertIn('probe: stopped with status 1 while building: "false "$target"" '
                      '(probe.sh line 9) ended with status 1', done.stderr)

    def test_a_function_that_returns_a_failure_is_named_at_its_call(self):
        done = self.run_probe("returns")
        self.assertEqual(4, done.returncode)
        self.assertIn("probe: stopped with status 4: the function called at probe.sh line 17 "
                      "returned 4", done.stderr)

    def test_fail_says_why_and_where(self):
        done = self.run_probe("fail")
        self.assertEqual(1, done.returncode)
        self.assertIn("probe: stopped with status 1 while checking: the zip holds 2 files, "
                      "not 3 (probe.sh line 16)", done.stderr)

    def test_an_exit_with_a_status_names_the_phase_and_no_failure_it_passed_over(self):
        # "false" failed under set +e, which the script meant to pass over.
        done = self.run_probe("plain")
        self.assertEqual(3, done.returncode)
        self.assertIn("probe: stopped with status 3 while copying\n", done.stderr)

    def test_a_stop_the_script_has_explained_adds_nothing(self):
        done = self.run_probe("quietly")
        self.assertEqual(7, done.returncode)
        self.assertEqual("the program failed with status 7\n", done.stderr)

    def test_clean_ups_run_in_order_with_the_status_before_the_report(self):
        done = self.run_probe("fail")
        self.assertEqual("first clean-up, status 1, signal ''\nsecond clean-up\n", done.stdout)

    def test_each_signal_has_its_own_status(self):
        for signum, status, why in [(signal.SIGINT, 130, "interrupted (SIGINT)"),
                                    (signal.SIGTERM, 143, "asked to end (SIGTERM)"),
                                    (signal.SIGHUP, 129, "its terminal hung up (SIGHUP)")]:
            with self.subTest(signal=signum.name):
                returncode, out, err = self.signal_probe(signum)
                self.assertEqual(status, returncode, err)
                self.assertIn(f"probe: stopped with status {status} while waiting: {why}", err)
                self.assertIn(f"status {status}, signal '{signum.name[3:]}'", out)

    def test_a_second_interrupt_cuts_no_clean_up_short(self):
        # Ctrl+C pressed twice, or reaching a process group twice.
        # It waits in a builtin, reading the input the test keeps open: no
        # child of its own to stop.
        with subprocess.Popen(["bash", str(self.script), "slow"], stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              text=True) as probe:
            self.assertEqual("ready\n", probe.stdout.readline())
            probe.send_signal(signal.SIGINT)
            self.assertEqual("first clean-up, status 130, signal 'INT'\n", probe.stdout.readline())
            self.assertEqual("second clean-up\n", probe.stdout.readline())
            self.assertEqual("slow clean-up begun\n", probe.stdout.readline())
            probe.send_signal(signal.SIGINT)
            out, err = probe.communicate(timeout=60)
        self.assertEqual(130, probe.returncode, err)
        self.assertEqual("slow clean-up done\n", out)
        self.assertEqual("probe: stopped with status 130 while waiting: interrupted (SIGINT)\n",
                         err)


if __name__ == "__main__":
    unittest.main()
