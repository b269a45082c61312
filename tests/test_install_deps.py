"""scripts/install-deps.sh against a package index that fails: with stand-ins
for apt-get, dpkg, dpkg-query, sudo and sleep on PATH, each play below says
how apt-get answers, and the script must install, fetch again, fall back to
the release's own suite, or stop and say why, as the table says.

    test_install_deps.py SCRIPT
"""

import os
import pathlib
import subprocess
import sys
import tempfile

SCRIPT = pathlib.Path(sys.argv[1]).resolve()
STALE = "http://mirror.test/debian-security/dists/stable-security/main/binary-i386/Packages.xz"
FETCH_ERROR = f"E: Failed to fetch {STALE}  File has unexpected size (1 != 2). Mirror sync in progress?"

# (play, installed already, apt-get update's answers in turn (None: succeeds),
#  install succeeds, exit status, what stderr must hold, install's -o option)
PLAYS = [
    ("all there", True, [], True, 0, [], None),
    ("index whole", False, [None], True, 0, ["installed"], ""),
    ("mirror syncs once", False, [FETCH_ERROR, None], True, 0,
     ["could not read " + STALE, "fetching again", "installed"], ""),
    ("mirror stays stale", False, [FETCH_ERROR] * 3, True, 0,
     [f"the package index {STALE} still cannot be read", "preferring the suite", "installed"],
     "APT::Default-Release="),
    ("stale and skewed", False, [FETCH_ERROR] * 3, False, 1,
     ["could not install", f"the index {STALE} could not be read", "wait for the mirror"],
     "APT::Default-Release="),
    ("apt locked", False, ["E: Could not get lock /var/lib/dpkg/lock-frontend"], True, 1,
     ["Could not get lock", "not on an index that could be fetched again"], None),
]

STAND_INS = {
    "dpkg-query": 'if [ -e "$PLAY/installed" ]; then printf "install ok installed"; fi\n',
    "dpkg": 'echo i386\n',
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


def play(folder, installed, updates, install_ok):
    bin_dir = folder / "bin"
    bin_dir.mkdir()
    for name, body in STAND_INS.items():
        path = bin_dir / name
        path.write_text("#!/bin/bash\n" + body)
        path.chmod(0o755)
    if installed:
        (folder / "installed").touch()
    for n, answer in enumerate(updates, 1):
        if answer is not None:
            (folder / f"update.{n}").write_text(answer + "\n")
    if not install_ok:
        (folder / "install-fails").touch()
    env = dict(os.environ, PATH=f"{bin_dir}:{os.environ['PATH']}", PLAY=str(folder))
    return subprocess.run(["bash", str(SCRIPT), "release"], env=env, capture_output=True,
                          text=True)


def main():
    failures = 0
    for name, installed, updates, install_ok, want_status, want_said, want_option in PLAYS:
        with tempfile.TemporaryDirectory() as tmp:
            folder = pathlib.Path(tmp)
            done = play(folder, installed, updates, install_ok)
            install = folder / "install"
            problems = []
            if done.returncode != want_status:
                problems.append(f"status {done.returncode}, not {want_status}")
            problems += [f"stderr lacks {said!r}" for said in want_said if said not in done.stderr]
            if want_option is None and install.exists():
                problems.append("apt-get install ran")
            if want_option is not None:
                line = install.read_text() if install.exists() else ""
                if not line:
                    problems.append("apt-get install never ran")
                elif want_option and want_option not in line:
                    problems.append(f"apt-get install without {want_option}: {line.strip()}")
                elif not want_option and "Default-Release" in line:
                    problems.append(f"apt-get install preferred a suite: {line.strip()}")
            if installed and (folder / "updates").exists():
                problems.append("apt-get update ran with everything installed")
        print(f"{'ok  ' if not problems else 'FAIL'} {name}")
        for problem in problems:
            print(f"     {problem}")
        if problems:
            print("     stderr: " + done.stderr.replace("\n", "\n             "))
            failures += 1
    if failures:
        sys.exit(f"test_install_deps: {failures} play(s) failed")


if __name__ == "__main__":
    main()
