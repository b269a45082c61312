"""scripts/prepare.sh and the winenv.sh it sources, sourced as an entry
script does: the stops made before anything is built (a screen size or an
architecture that cannot be), the loader each architecture's toolchain file
names, and the finder of this session's Wine processes. Takes the scripts
folder."""

import os
import pathlib
import subprocess
import sys
import time
import unittest

SCRIPTS = pathlib.Path(sys.argv.pop(1)).resolve()


def source_and_run(command, **env):
    """Runs command in bash after sourcing the report and prepare.sh (which
    sources winenv.sh), as an entry script does."""
    script = (f"set -euo pipefail\nsource {SCRIPTS}/stop-report.sh\n"
              f"source {SCRIPTS}/prepare.sh\n{command}\n")
    return subprocess.run(["bash", "-c", script, "entry"], capture_output=True, text=True,
                          timeout=60, env=dict(os.environ, **env))


class Prepare(unittest.TestCase):
    def test_a_screen_size_that_is_no_size_is_refused(self):
        for screen in ["1024x", "1024*768", "0x768", "big", "1920x1080x24"]:
            with self.subTest(screen=screen):
                done = source_and_run("winenv_check_screen", WINENV_SCREEN=screen)
                self.assertEqual(1, done.returncode, done.stderr)
                self.assertIn(f"WINENV_SCREEN is '{screen}'; it takes WIDTHxHEIGHT", done.stderr)

    def test_a_callers_screen_size_is_kept(self):
        done = source_and_run('winenv_check_screen; echo "$WINENV_SCREEN"',
                              WINENV_SCREEN="1024x768")
        self.assertEqual((0, "1024x768\n"), (done.returncode, done.stdout), done.stderr)

    def test_an_unknown_architecture_is_refused_with_the_names_taken(self):
        done = source_and_run("winprobe_choose_build", WINPROBE_ARCH="i686")
        self.assertEqual(1, done.returncode, done.stderr)
        self.assertIn("WINPROBE_ARCH is 'i686'; it takes x86 or x64", done.stderr)

    def test_each_architecture_has_its_loader_from_its_toolchain_file(self):
        done = source_and_run("winprobe_wine_loader x86; winprobe_wine_loader x64")
        self.assertEqual((0, "/usr/lib/wine/wine\n/usr/lib/wine/wine64\n"),
                         (done.returncode, done.stdout), done.stderr)



class SessionProcesses(unittest.TestCase):
    """Stand-ins for Wine processes: a process whose command line is only
    its name, as Wine shows a program's Windows command line."""

    def start(self, name, session):
        process = subprocess.Popen(["bash", "-c", 'exec -a "$0" cat', name],
                                   stdin=subprocess.PIPE,
                                   env=dict(os.environ, WINPROBE_SESSION=session))
        self.addCleanup(process.wait)
        self.addCleanup(process.stdin.close)
        # Started once its command line is the name: bash's exec comes after.
        cmdline = pathlib.Path(f"/proc/{process.pid}/cmdline")
        deadline = time.monotonic() + 10
        while cmdline.read_bytes() != name.encode() + b"\0":
            self.assertLess(time.monotonic(), deadline, f"{name} never started")
            time.sleep(0.01)
        return process.pid

    def pid_of(self, program, session):
        return source_and_run(f"winenv_pid_of '{program}'", WINPROBE_SESSION=session)

    def test_the_process_of_this_session_running_the_program_is_found(self):
        self.start("C:\\other\\winprobe.exe", "1.1")
        self.start("C:\\build\\winprobe_bench.exe", "2.2")
        ours = self.start("C:\\build\\winprobe.exe", "2.2")
        done = self.pid_of("\\winprobe.exe", "2.2")
        self.assertEqual((0, f"{ours}\n"), (done.returncode, done.stdout), done.stderr)

    def test_arguments_are_part_of_the_command_line_matched(self):
        floor = self.start("C:\\build\\winprobe_bench.exe --floor", "3.3")
        self.start("C:\\build\\winprobe_bench.exe --marks", "3.3")
        done = self.pid_of("\\winprobe_bench.exe --floor", "3.3")
        self.assertEqual((0, f"{floor}\n"), (done.returncode, done.stdout), done.stderr)

    def test_no_such_process_in_this_session_is_a_failure_that_prints_nothing(self):
        self.start("C:\\build\\winprobe.exe", "4.4")
        done = self.pid_of("\\winprobe.exe", "5.5")
        self.assertEqual((1, ""), (done.returncode, done.stdout), done.stderr)


if __name__ == "__main__":
    unittest.main()
