"""The release from every kind of checkout a builder may have: each either
builds the exe and the zip of a full clone, byte for byte, or stops before
building and says why and what to do. Builds the committed HEAD of REPO.

    test_release_checkouts.py REPO
"""

import hashlib
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

REPO = pathlib.Path(sys.argv[1]).resolve()
WORK = pathlib.Path(tempfile.mkdtemp())
SAME = "same bytes"

failures = []


def git(*args, cwd=None):
    subprocess.run(["git", *args], cwd=cwd, check=True, capture_output=True)


def full_clone(dest):
    git("clone", "--quiet", "--no-local", str(REPO), str(dest))


def depth1_clone(dest):
    git("clone", "--quiet", "--depth", "1", f"file://{REPO}", str(dest))


def autocrlf_clone(dest):
    git("-c", "core.autocrlf=true", "clone", "--quiet", "--no-local", str(REPO), str(dest))


def clone_of_depth1_clone(dest):
    """What a bundle of a depth-1 clone gives: the commit, not its parents."""
    shallow = WORK / "shallow-source"
    if not shallow.exists():
        depth1_clone(shallow)
        git("bundle", "create", "--quiet", str(WORK / "shallow.bundle"), "HEAD", cwd=shallow)
    git("-c", "advice.detachedHead=false", "clone", "--quiet", str(WORK / "shallow.bundle"),
        str(dest))


def source_archive(dest):
    """What a "Source code" download gives: the files, no .git."""
    dest.mkdir()
    archive = subprocess.run(["git", "-C", str(REPO), "archive", "HEAD"], check=True,
                             capture_output=True).stdout
    subprocess.run(["tar", "-x", "-C", str(dest)], input=archive, check=True)


def other_users_clone(dest):
    depth1_clone(dest)
    for folder, dirs, files in os.walk(dest):
        for name in [folder, *(os.path.join(folder, f) for f in dirs + files)]:
            os.lchown(name, 1001, 1001)


def commit_time():
    return subprocess.run(["git", "-C", str(REPO), "log", "-1", "--format=%ct"], check=True,
                          capture_output=True, text=True).stdout.strip()


# (checkout, how it is made, SOURCE_DATE_EPOCH given, what must happen)
CASES = [
    ("depth-1 clone", depth1_clone, False, SAME),
    ("clone with core.autocrlf=true", autocrlf_clone, False, SAME),
    ("clone of a depth-1 clone", clone_of_depth1_clone, False, "git cannot read the commit"),
    ("clone of a depth-1 clone", clone_of_depth1_clone, True, SAME),
    ("source archive", source_archive, False, "no git checkout"),
    ("source archive", source_archive, True, SAME),
]
# Only root can give a clone to another user.
if os.geteuid() == 0:
    CASES.append(("another user's clone", other_users_clone, False,
                  "belongs to another user"))


def build(source, epoch):
    env = {k: v for k, v in os.environ.items() if k != "SOURCE_DATE_EPOCH"}
    if epoch:
        env["SOURCE_DATE_EPOCH"] = commit_time()
    done = subprocess.run(["cmake", "--workflow", "--preset", "release"], cwd=source, env=env,
                          capture_output=True, text=True)
    out = " ".join((done.stdout + done.stderr).split())
    if done.returncode != 0:
        return None, out
    release = source / "build" / "release"
    digests = {path.name: hashlib.sha256(path.read_bytes()).hexdigest()
               for path in [release / "bin" / "winprobe.exe", *release.glob("winprobe-*.zip")]}
    return digests, out


def main():
    try:
        reference = WORK / "full"
        full_clone(reference)
        expected, out = build(reference, False)
        if expected is None:
            sys.exit(f"test_release_checkouts: a full clone does not build: {out}")
        for i, (checkout, make, epoch, want) in enumerate(CASES):
            name = f"{checkout}{', SOURCE_DATE_EPOCH given' if epoch else ''}"
            source = WORK / f"case{i}"
            make(source)
            digests, out = build(source, epoch)
            if want == SAME:
                ok = digests == expected
                got = digests if digests is not None else f"no build: {out}"
            else:
                # Stopped at configure, with the cause in its message.
                ok = digests is None and want in out and "SOURCE_DATE_EPOCH" in out \
                    and not (source / "build" / "release" / "bin").exists()
                got = digests if digests is not None else out
            print(f"{'ok  ' if ok else 'FAIL'} {name}: want {want}")
            if not ok:
                print(f"     got {got}\n     full clone {expected}")
                failures.append(name)
            shutil.rmtree(source, ignore_errors=True)
    finally:
        shutil.rmtree(WORK, ignore_errors=True)
    if failures:
        sys.exit(f"test_release_checkouts: {len(failures)} checkout(s) failed: {failures}")


if __name__ == "__main__":
    main()
