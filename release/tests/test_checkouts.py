"""The release from every kind of checkout a builder may have: each either
builds the exe and the zip of a full clone, byte for byte, or stops before
building and says why and what to do. A developer's build needs no commit
time: it configures and builds from any of them. Builds the committed HEAD
of REPO.

    test_checkouts.py REPO
"""

import hashlib
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent))
from release import read_names  # noqa: E402

# Every checkout is made from one snapshot of REPO, taken first, so that a
# commit made in REPO meanwhile changes nothing here.
REPO = pathlib.Path(sys.argv[1]).resolve()
# The developer's build of the exe alone: no GoogleTest or Wine needed.
DEV_PRESET = "mingw-x86"


def git(*args, cwd=None):
    subprocess.run(["git", *args], cwd=cwd, check=True, capture_output=True)


def commit_time():
    return subprocess.run(["git", "-C", str(Checkouts.snapshot), "log", "-1", "--format=%ct"], check=True,
                          capture_output=True, text=True).stdout.strip()


def run(command, source, epoch=False):
    env = {k: v for k, v in os.environ.items() if k != "SOURCE_DATE_EPOCH"}
    if epoch:
        env["SOURCE_DATE_EPOCH"] = commit_time()
    done = subprocess.run(command, cwd=source, env=env, capture_output=True, text=True)
    return done.returncode, " ".join((done.stdout + done.stderr).split())


class Checkouts(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = pathlib.Path(tempfile.mkdtemp())
        cls.snapshot = cls.work / "snapshot"
        # REPO may belong to another user (the release job's workspace does),
        # and is trusted for this one clone of it, where git reads it: in
        # upload-pack, which a local clone starts without the caller's -c.
        trusted = f"git -c safe.directory={REPO} -c safe.directory={REPO}/.git upload-pack"
        git("clone", "--quiet", "--no-local", "--upload-pack", trusted, str(REPO),
            str(cls.snapshot))
        reference = cls.work / "full"
        git("clone", "--quiet", "--no-local", str(cls.snapshot), str(reference))
        cls.expected, out = cls.release(reference)
        if cls.expected is None:
            raise AssertionError(f"a full clone does not build: {out}")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    @staticmethod
    def release(source, epoch=False):
        """The digests of the exe and the zip the release preset builds, or
        None and what the build said."""
        status, out = run(["cmake", "--workflow", "--preset", "release"], source, epoch)
        if status != 0:
            return None, out
        release = source / "build" / "release"
        zip_name = read_names(release / "release.env")["WINPROBE_ZIP"]
        return {path.name: hashlib.sha256(path.read_bytes()).hexdigest()
                for path in [release / "bin" / "winprobe.exe", release / zip_name]}, out

    def checkout(self, name):
        source = self.work / name
        self.addCleanup(shutil.rmtree, source, True)
        return source

    def depth1_clone(self, name="depth1"):
        source = self.checkout(name)
        git("clone", "--quiet", "--depth", "1", f"file://{self.snapshot}", str(source))
        return source

    def clone_of_depth1_clone(self):
        """What a bundle of a depth-1 clone gives: the commit, not its parents."""
        shallow = self.depth1_clone("shallow-source")
        git("bundle", "create", "--quiet", str(self.work / "shallow.bundle"), "HEAD", cwd=shallow)
        source = self.checkout("of-depth1")
        git("-c", "advice.detachedHead=false", "clone", "--quiet", str(self.work / "shallow.bundle"),
            str(source))
        return source

    def source_archive(self, name="archive", archived_time=True):
        """What a "Source code" download gives: the files, no .git; without
        the time git archive writes, a copy made another way."""
        source = self.checkout(name)
        source.mkdir()
        archive = subprocess.run(["git", "-C", str(self.snapshot), "archive", "HEAD"], check=True,
                                 capture_output=True).stdout
        subprocess.run(["tar", "-x", "-C", str(source)], input=archive, check=True)
        if not archived_time:
            (source / ".commit-time").write_text("$Format:%ct$\n")
        return source

    def assertSame(self, source, epoch=False):
        digests, out = self.release(source, epoch)
        self.assertEqual(digests, self.expected, f"no build: {out}" if digests is None else "")

    def assertRefused(self, source, why):
        """Stopped at configure, with the cause and the way out in its
        message, and nothing built."""
        digests, out = self.release(source)
        self.assertIsNone(digests, "built where it should have refused")
        self.assertIn(why, out)
        self.assertIn("SOURCE_DATE_EPOCH", out)
        self.assertFalse((source / "build" / "release" / "bin").exists())

    def test_depth1_clone_gives_the_same_bytes(self):
        self.assertSame(self.depth1_clone())

    def test_autocrlf_clone_gives_the_same_bytes(self):
        source = self.checkout("autocrlf")
        git("-c", "core.autocrlf=true", "clone", "--quiet", "--no-local", str(self.snapshot),
            str(source))
        self.assertSame(source)

    def test_clone_of_a_depth1_clone_is_refused_without_a_time(self):
        source = self.clone_of_depth1_clone()
        self.assertRefused(source, "git cannot read the commit")
        self.assertSame(source, epoch=True)

    def test_git_archive_carries_the_commit_time(self):
        self.assertSame(self.source_archive())

    def test_copy_without_a_time_is_refused_but_builds_for_a_developer(self):
        source = self.source_archive("copy", archived_time=False)
        self.assertRefused(source, "no git checkout, nor an archive")
        self.assertSame(source, epoch=True)
        shutil.rmtree(source / "build")
        for step in (["cmake", "--preset", DEV_PRESET, "-DBUILD_TESTING=OFF"],
                     ["cmake", "--build", "--preset", DEV_PRESET, "--target", "winprobe"]):
            status, out = run(step, source)
            self.assertEqual(status, 0, out)
        self.assertTrue((source / "build" / DEV_PRESET / "bin" / "winprobe.exe").exists())

    @unittest.skipUnless(os.geteuid() == 0, "only root can give a clone to another user")
    def test_another_users_clone_is_refused(self):
        source = self.depth1_clone("other-user")
        for folder, dirs, files in os.walk(source):
            for name in [folder, *(os.path.join(folder, f) for f in dirs + files)]:
                os.lchown(name, 1001, 1001)
        self.assertRefused(source, "belongs to another user")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
