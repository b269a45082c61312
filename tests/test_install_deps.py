"""scripts/install-deps.sh against a package index that fails: with stand-ins
for apt-get, dpkg, dpkg-query, sudo and sleep on PATH, each test says how
apt-get answers, and the script must install, fetch again, fall back to the
release's own suite, or stop and say why.

    test_install_deps.py SCRIPT
"""

import os
import pathlib
import subprocess
import sys
import tempfile
import unittest

SCRIPT = pathlib.Path(sys.argv.pop(1)).resolve()
STALE = "http://mirror.test/debian-security/dists/stable-security/main/binary-i386/Packages.xz"
FETCH_ERROR = f"E: Failed to fetch {STALE}  File has unexpected size (1 != 2). Mirror sync in progress?"
LOCKED = "E: Could not get lock /var/lib/dpkg/lock-frontend"

STAND_INS = {
    "dpkg-query": 'if [ -e "$PLAY/installed" ]; then printf "install ok installed"; fi\n',
    "dpkg": 'echo i386\n',
    # A release that lacks a package: apt-cache names no candidate for it.
    "apt-cache": '''if grep -qx "$2" "$PLAY/lacks" 2>/dev/null; then
    printf '%s:\\n  Installed: (none)\\n  Candidate: (none)\\n' "$2"
else
    printf '%s:\\n  Installed: (none)\\n  Candidate: 1.0-1\\n' "$2"
fi
''',
    "sudo": 'exec "$@"\n',
    "sleep": 'echo "$1" >>"$PLAY/slept"\n',
    "apt-get": '''for arg in "$@"; do
    case $arg in
    update)
        n=$(($(cat "$PLAY/updates" 2>/dev/null || echo 0) + 1))
        echo "$n" >"$PLAY/updates"
        if [ -e "$PLAY/update.$n" ]; then cat "$PLAY/update.$n"; exit 100; fi
        exit 0 ;;
    install)
        echo "$*" >"$PLAY/install"
        [ -e "$PLAY/install-fails" ] || exit 0
        echo "E: Unable to correct problems, you have held broken packages."; exit 100 ;;
    esac
done
exit 2
''',
}


class InstallDeps(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        self.folder = pathlib.Path(tmp.name)

    def play(self, installed=False, updates=(), install_ok=True, group="release", lacks=()):
        """Runs the script; updates are apt-get update's answers in turn
        (None: it succeeds); lacks, the packages the release does not offer."""
        bin_dir = self.folder / "bin"
        bin_dir.mkdir()
        for name, body in STAND_INS.items():
            path = bin_dir / name
            path.write_text("#!/bin/bash\n" + body)
            path.chmod(0o755)
        if installed:
            (self.folder / "installed").touch()
        for n, answer in enumerate(updates, 1):
            if answer is not None:
                (self.folder / f"update.{n}").write_text(answer + "\n")
        if not install_ok:
            (self.folder / "install-fails").touch()
        (self.folder / "lacks").write_text("".join(p + "\n" for p in lacks))
        env = dict(os.environ, PATH=f"{bin_dir}:{os.environ['PATH']}", PLAY=str(self.folder))
        return subprocess.run(["bash", str(SCRIPT), group], env=env, capture_output=True,
                              text=True, timeout=60)

    def install_line(self):
        """apt-get install's arguments, or None where it never ran."""
        install = self.folder / "install"
        return install.read_text() if install.exists() else None

    def updates(self):
        updates = self.folder / "updates"
        return int(updates.read_text()) if updates.exists() else 0

    def test_everything_installed_touches_no_index(self):
        done = self.play(installed=True)
        self.assertEqual(0, done.returncode, done.stderr)
        self.assertEqual(0, self.updates())
        self.assertIsNone(self.install_line())

    def test_a_whole_index_installs_from_every_suite(self):
        done = self.play(updates=[None])
        self.assertEqual(0, done.returncode, done.stderr)
        self.assertIn("installed", done.stderr)
        self.assertNotIn("Default-Release", self.install_line())

    def test_an_index_caught_in_a_sync_is_fetched_again(self):
        done = self.play(updates=[FETCH_ERROR, None])
        self.assertEqual(0, done.returncode, done.stderr)
        self.assertIn("could not read " + STALE, done.stderr)
        self.assertIn("fetching again", done.stderr)
        self.assertEqual(2, self.updates())
        self.assertNotIn("Default-Release", self.install_line())

    def test_an_index_that_stays_stale_installs_from_the_release_suite(self):
        done = self.play(updates=[FETCH_ERROR] * 3)
        self.assertEqual(0, done.returncode, done.stderr)
        self.assertEqual(3, self.updates())
        self.assertIn(f"the package index {STALE} still cannot be read", done.stderr)
        self.assertIn("preferring the suite", done.stderr)
        self.assertIn("APT::Default-Release=", self.install_line())

    def test_an_install_that_fails_on_a_stale_index_says_to_wait(self):
        done = self.play(updates=[FETCH_ERROR] * 3, install_ok=False)
        self.assertEqual(1, done.returncode, done.stderr)
        self.assertIn("held broken packages", done.stderr)
        self.assertIn(f"the index {STALE} could not be read", done.stderr)
        self.assertIn("wait for the mirror", done.stderr)
        self.assertIn("could not install", done.stderr)

    def test_a_locked_apt_is_not_retried_and_nothing_installs(self):
        done = self.play(updates=[LOCKED])
        self.assertEqual(1, done.returncode, done.stderr)
        self.assertIn("Could not get lock", done.stderr)
        self.assertIn("not on an index that could be fetched again", done.stderr)
        self.assertEqual(1, self.updates())
        self.assertIsNone(self.install_line())

    def test_a_package_the_release_lacks(self):
        # Without 32-bit Wine the 64-bit build runs: said, and the rest installs.
        done = self.play(updates=[None], group="dev", lacks=["wine32:i386"])
        self.assertEqual(0, done.returncode, done.stderr)
        self.assertIn("offers no wine32:i386; the 64-bit build runs under wine64", done.stderr)
        installed = self.install_line().split()
        self.assertNotIn("wine32:i386", installed)
        self.assertIn("wine64", installed)
        # Without anything standing in, it stops before installing anything.
        self.folder = pathlib.Path(tempfile.mkdtemp(dir=self.folder))
        done = self.play(updates=[None], group="dev", lacks=["wine64", "googletest"])
        self.assertEqual(1, done.returncode, done.stderr)
        self.assertIn("offers no googletest wine64, and nothing here stands in for it", done.stderr)
        self.assertIsNone(self.install_line())

    def test_an_unknown_group_is_refused_with_the_groups(self):
        done = self.play(group="everything")
        self.assertEqual(1, done.returncode, done.stderr)
        self.assertIn("no group 'everything'; the groups are dev, lint, release, ci and workflows",
                      done.stderr)
        self.assertEqual(0, self.updates())


if __name__ == "__main__":
    unittest.main()
