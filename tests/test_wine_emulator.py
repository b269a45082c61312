"""scripts/wine-emulator.sh, the way ctest starts test programs under Wine,
run with a stand-in loader that plays each way a start can go. Only a
program that ends before it prints anything, with Wine's loader saying why,
is started again; every other status reaches ctest unchanged, a Windows one
named in hex. Takes the script's path."""

import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import textwrap
import unittest

SCRIPT = sys.argv.pop(1)
LOADER_ERROR = "0024:err:module:import_dll Library imagehlp.dll not found"
# What Wine 8.0 prints for an exception nothing handled, then the status its
# loader ended with here (a stack overflow: 1; 0xC0000409 raised: 0).
OVERFLOW = ("wine: Unhandled stack overflow at address 0000000140002776 (thread 0150), "
            "starting debugger...")
RAISED = ("wine: Unhandled exception 0xc0000409 in thread 13c at address "
          "000000007B013D7E (thread 013c), starting debugger...")

# What the stand-in does on each start, by the name it is given as the
# program: (stdout, stderr, status) for the first start, then the second.
PLAYS = {
    "passes": [("[  PASSED  ] 1 test.", "", 0)],
    "fails": [("[  FAILED  ] 1 test.", "", 1)],
    "fails-silently": [("", "", 3)],
    "fails-to-start-once": [("", LOADER_ERROR, 53), ("[  PASSED  ] 1 test.", "", 0)],
    "fails-to-start": [("", LOADER_ERROR, 53), ("", LOADER_ERROR, 53)],
    "fails-after-a-line": [("Running main()", LOADER_ERROR, 66), ("", "", 0)],
    # ExitProcess(0xC00000FD): Wine's loader passes on the low byte alone.
    "exits-with-an-ntstatus": [("", "", 253)],
    "overflows-its-stack": [("[ RUN      ] Deep.Recursion", OVERFLOW, 1)],
    "raises-and-ends-with-0": [("", RAISED, 0)],
    "reads-wineloader": [("", "", 0)],
}

STAND_IN = """#!/usr/bin/env python3
import os, pathlib, sys
here = pathlib.Path(__file__)
count = here.with_name("starts")
n = int(count.read_text()) + 1 if count.exists() else 1
count.write_text(str(n))
here.with_name("wineloader").write_text(os.environ.get("WINELOADER", ""))
out, err, status = %r[sys.argv[1]][n - 1]
if out: print(out)
if err: print(err, file=sys.stderr)
sys.exit(status)
""" % (PLAYS,)


def run_script(loader_text, *args):
    """wine-emulator.sh run with loader_text as its loader: what it did, how
    many starts the loader counted, and the WINELOADER it was given."""
    with tempfile.TemporaryDirectory() as tmp:
        loader = pathlib.Path(tmp, "loader")
        loader.write_text(loader_text)
        loader.chmod(0o755)
        env = dict(os.environ)
        env.pop("WINELOADER", None)
        done = subprocess.run(["bash", SCRIPT, str(loader), *args], env=env,
                              capture_output=True, text=True, timeout=60)
        count = pathlib.Path(tmp, "starts")
        given = pathlib.Path(tmp, "wineloader")
        return (done, int(count.read_text()) if count.exists() else 0,
                given.read_text() if given.exists() else None, str(loader))


class WineEmulator(unittest.TestCase):
    def play(self, play, status, starts, *words):
        """Runs one play: its status and number of starts, the output of the
        start that counted, and the words said on stderr."""
        done, actual_starts, _, _ = run_script(STAND_IN, play)
        self.assertEqual((status, starts), (done.returncode, actual_starts), done.stderr)
        # A start made again printed nothing the first time.
        self.assertEqual(PLAYS[play][starts - 1][0], done.stdout.strip())
        for word in words:
            self.assertIn(word, done.stderr)
        self.assertEqual(starts - 1, done.stderr.count("once more"), done.stderr)
        # None of these ended by a signal, whatever its status.
        self.assertNotIn("signal", done.stderr)
        return done

    def test_a_passing_program_passes_and_says_nothing(self):
        done = self.play("passes", 0, 1)
        self.assertEqual("", done.stderr)

    def test_a_failing_program_passes_on_its_status(self):
        self.play("fails", 1, 1, "fails failed with status 1")

    def test_a_program_that_fails_without_a_word_is_not_started_again(self):
        self.play("fails-silently", 3, 1, "failed with status 3")

    def test_a_start_the_loader_failed_is_made_once_more(self):
        self.play("fails-to-start-once", 0, 2, LOADER_ERROR, "starting it once more")

    def test_a_start_the_loader_fails_twice_fails(self):
        self.play("fails-to-start", 53, 2, "starting it once more", "failed with status 53")

    def test_a_program_that_printed_a_line_is_not_started_again(self):
        self.play("fails-after-a-line", 66, 1, "failed with status 66")

    def test_a_windows_status_is_named_by_its_low_byte_in_hex(self):
        self.play("exits-with-an-ntstatus", 253, 1, "failed with status 253 (0xFD")

    def test_an_unhandled_exception_is_named_by_its_code(self):
        self.play("overflows-its-stack", 1, 1, OVERFLOW, "status 0xC00000FD (stack overflow)")

    def test_an_unhandled_exception_fails_even_where_the_loader_ends_with_0(self):
        self.play("raises-and-ends-with-0", 9, 1, RAISED, "status 0xC0000409")

    def test_the_program_starts_its_own_programs_with_the_same_loader(self):
        _, _, wineloader, loader = run_script(STAND_IN, "reads-wineloader")
        self.assertEqual(loader, wineloader)

    def test_a_killed_program_is_named_with_its_signal(self):
        done, _, _, _ = run_script("#!/usr/bin/env bash\nkill -KILL $$\n", "killed")
        self.assertEqual(137, done.returncode, done.stderr)
        self.assertIn("killed was ended by signal 9", done.stderr)

    def test_no_program_is_refused_with_the_usage(self):
        done, starts, _, _ = run_script(STAND_IN)
        self.assertEqual((1, 0), (done.returncode, starts), done.stderr)
        self.assertIn("usage: scripts/wine-emulator.sh LOADER PROGRAM", done.stderr)

    def test_a_timed_out_program_keeps_what_it_printed(self):
        # ctest's own time-out: it kills the script and all under it.
        ctest = shutil.which("ctest")
        self.assertIsNotNone(ctest, "ctest is not on PATH")
        with tempfile.TemporaryDirectory() as tmp:
            loader = pathlib.Path(tmp, "loader")
            loader.write_text("#!/usr/bin/env bash\n"
                              "echo '[ RUN      ] Slow.Test'\n"
                              "echo 'Slow.Test: waiting for the window' >&2\n"
                              "exec sleep 60\n")
            loader.chmod(0o755)
            pathlib.Path(tmp, "CMakeLists.txt").write_text(textwrap.dedent(f"""\
                cmake_minimum_required(VERSION 3.20)
                project(timeout NONE)
                enable_testing()
                add_test(NAME slow COMMAND bash "{pathlib.Path(SCRIPT).resolve()}" "{loader}" slow.exe)
                set_tests_properties(slow PROPERTIES TIMEOUT 2)
                """))
            # Ninja, which install-deps.sh installs: a bare machine has no make
            # for CMake's default generator.
            configured = subprocess.run([shutil.which("cmake"), "-G", "Ninja", "-S", tmp,
                                         "-B", f"{tmp}/build"],
                                        capture_output=True, text=True, timeout=60)
            self.assertEqual(0, configured.returncode, configured.stdout + configured.stderr)
            done = subprocess.run([ctest, "--output-on-failure"], cwd=f"{tmp}/build",
                                  capture_output=True, text=True, timeout=60)
        self.assertIn("Timeout", done.stdout)
        self.assertIn("[ RUN      ] Slow.Test", done.stdout)
        self.assertIn("Slow.Test: waiting for the window", done.stdout)


if __name__ == "__main__":
    unittest.main()
