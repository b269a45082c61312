"""Writes the files that go beside the release zip.

    release-files.py buildinfo --out FILE --source-dir DIR --epoch SECONDS
        --cxx COMPILER --rc RC --cmake CMAKE --ninja NINJA FILE...
    release-files.py manifests --out-dir DIR --zip ZIP --version X.Y.Z
        --epoch SECONDS --package-id ID --repository-url URL --description TEXT
        --platform win32|win64 TEMPLATE...

The build record names every Debian package whose files shape the bytes, as
the package database has them at build time, so that anyone can install the
same versions and rebuild the same zip. The manifests are the templates with
the version, the download address, the zip's SHA-256 and the release date
(the day of SOURCE_DATE_EPOCH, in UTC) filled in.
"""

import argparse
import datetime
import hashlib
import os
import pathlib
import re
import shutil
import subprocess
import sys


def run(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True).stdout


def debian_package(path):
    """(package, version, architecture) of the package that owns path."""
    if not shutil.which("dpkg-query"):
        return None
    # Debian 12 merged /bin and /lib into /usr, but the database may hold
    # either name.
    real = os.path.realpath(path)
    unmerged = re.sub(r"^/usr/(bin|sbin|lib[^/]*)/", r"/\1/", real)
    for candidate in dict.fromkeys([real, os.path.abspath(path), unmerged]):
        owner = subprocess.run(["dpkg-query", "-S", candidate], capture_output=True, text=True)
        if owner.returncode == 0:
            # "name[:arch][, ...]: path"; the arch tells a multi-arch
            # package's copies apart.
            package = owner.stdout.splitlines()[0].split(": ")[0].split(",")[0].strip()
            fields = run("dpkg-query", "-W", "-f=${Package} ${Version} ${Architecture}\n", package)
            return tuple(fields.splitlines()[0].split())
    return None


def compiler_files(cxx):
    """Files of the compiler, its runtime and the Windows headers and
    libraries, each standing for the package that ships it."""
    files = {"compiler": cxx}
    for role, program in [("compiler proper", "cc1plus"), ("assembler", "as"), ("linker", "ld")]:
        files[role] = run(cxx, f"-print-prog-name={program}").strip()
    files["libgcc"] = run(cxx, "-print-libgcc-file-name").strip()
    for role, name in [("C++ library", "libstdc++.a"), ("MinGW-w64 runtime", "crt2.o"),
                       ("Windows import libraries", "libkernel32.a")]:
        files[role] = run(cxx, f"-print-file-name={name}").strip()
    deps = subprocess.run([cxx, "-x", "c++", "-M", "-"], input="#include <windows.h>\n",
                          check=True, capture_output=True, text=True).stdout
    header = re.search(r"(\S*/windows\.h)\b", deps)
    if header:
        files["Windows headers"] = header.group(1)
    return files


def commit(source_dir):
    """The commit built, read now rather than when CMake configured."""
    git = ["git", "-C", source_dir]
    head = subprocess.run(git + ["rev-parse", "HEAD"], capture_output=True, text=True)
    if head.returncode != 0:
        return "unknown (not a git checkout)"
    changed = run(*git, "status", "--porcelain", "--untracked-files=no")
    return head.stdout.strip() + (" with uncommitted changes" if changed else "")


def buildinfo(args):
    files = compiler_files(args.cxx)
    files.update({"resource compiler": args.rc, "CMake": args.cmake, "Ninja": args.ninja,
                  "Python": sys.executable})
    # The zip's deflated bytes come from the zlib that this Python loads.
    import zlib  # noqa: F401  (loaded, so that it shows in the maps below)
    maps = pathlib.Path("/proc/self/maps")
    if maps.exists():
        libz = re.search(r"(/\S*/libz\.so[.0-9]*)$", maps.read_text(), re.M)
        if libz:
            files["zlib, the zip's compressor"] = libz.group(1)
    lines = [
        f"winprobe build record for {', '.join(p.name for p in args.files)}",
        f"commit: {commit(args.source_dir)}",
        f"SOURCE_DATE_EPOCH: {args.epoch}",
    ]
    os_release = pathlib.Path("/etc/os-release")
    if os_release.exists():
        name = re.search(r'^PRETTY_NAME="?([^"\n]*)', os_release.read_text(), re.M)
        lines.append(f"system: {name.group(1) if name else 'unknown'}")
    lines += ["", "packages (name version architecture: what of it the build uses):"]
    packages, strays = {}, []
    for role, path in files.items():
        owner = debian_package(path)
        if owner is None:
            strays.append(f"  not from a Debian package: {path}: {role}")
            continue
        packages.setdefault(owner, []).append(role)
    for owner, roles in sorted(packages.items()):
        lines.append(f"  {' '.join(owner)}: {', '.join(roles)}")
    lines += strays
    lines += ["", "SHA-256:"]
    for path in args.files:
        lines.append(f"  {hashlib.sha256(path.read_bytes()).hexdigest()}  {path.name}")
    args.out.write_text("\n".join(lines) + "\n")


def manifests(args):
    digest = hashlib.sha256(args.zip.read_bytes()).hexdigest()
    package_name = args.zip.stem
    url = args.repository_url.rstrip("/")
    values = {
        "VERSION": args.version,
        "PACKAGE_ID": args.package_id,
        "PACKAGE_NAME": package_name,
        "PLATFORM": args.platform,
        "WINGET_ARCH": {"win32": "x86", "win64": "x64"}[args.platform],
        "REPOSITORY_URL": url,
        "DOWNLOAD_URL": f"{url}/releases/download/v{args.version}/{args.zip.name}",
        "SHA256": digest,
        "SHA256_UPPER": digest.upper(),
        "DESCRIPTION": args.description,
        "RELEASE_DATE": datetime.datetime.fromtimestamp(int(args.epoch), datetime.timezone.utc)
        .date().isoformat(),
    }
    args.out_dir.mkdir(parents=True, exist_ok=True)
    # The release publishes the folder whole: no manifest of an earlier
    # identifier may stay in it.
    for stale in args.out_dir.glob("*.yaml"):
        stale.unlink()
    for template in args.templates:
        text = re.sub(r"@([A-Z0-9_]+)@", lambda m: values[m.group(1)], template.read_text())
        # winget names its files after the package: ID.yaml, ID.installer.yaml,
        # ID.locale.en-US.yaml.
        name = template.name.removesuffix(".in")
        if template.parent.name == "winget":
            name = f"{args.package_id}.{name}".replace(".version.yaml", ".yaml")
        (args.out_dir / name).write_text(text)


def main():
    parser = argparse.ArgumentParser()
    commands = parser.add_subparsers(dest="command", required=True)
    record = commands.add_parser("buildinfo")
    record.add_argument("--out", type=pathlib.Path, required=True)
    record.add_argument("--source-dir", required=True)
    record.add_argument("--epoch", required=True)
    for tool in ("--cxx", "--rc", "--cmake", "--ninja"):
        record.add_argument(tool, required=True)
    record.add_argument("files", nargs="+", type=pathlib.Path)
    made = commands.add_parser("manifests")
    made.add_argument("--out-dir", type=pathlib.Path, required=True)
    made.add_argument("--zip", type=pathlib.Path, required=True)
    for option in ("--version", "--epoch", "--package-id", "--repository-url", "--description"):
        made.add_argument(option, required=True)
    made.add_argument("--platform", choices=["win32", "win64"], required=True)
    made.add_argument("templates", nargs="+", type=pathlib.Path)
    args = parser.parse_args()
    {"buildinfo": buildinfo, "manifests": manifests}[args.command](args)


if __name__ == "__main__":
    main()
