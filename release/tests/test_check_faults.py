"""Breaks the release's build record and manifests one field at a time, in a
copy, and checks that check_release_files.py fails on each with the fault
named, and passes on the unbroken copy. Takes check_release_files.py's
arguments.
"""

import json
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

CHECK = pathlib.Path(__file__).with_name("check_release_files.py")
args = sys.argv[1:]
build = pathlib.Path(args[args.index("--build-dir") + 1])
package = args[args.index("--package-name") + 1]
version = args[args.index("--version") + 1]
ident = args[args.index("--package-id") + 1]

WINGET_VERSION = f"manifests/{ident}.yaml"
INSTALLER = f"manifests/{ident}.installer.yaml"
LOCALE = f"manifests/{ident}.locale.en-US.yaml"
SCOOP = "manifests/winprobe.json"
RECORD = f"{package}-buildinfo.txt"
OTHER_DIGEST = "0" * 64


def drop(field):
    return lambda text: re.sub(rf"^( *-? *){field}:.*\n", r"\1", text, count=1, flags=re.M)


def swap(pattern, replacement):
    return lambda text: re.sub(pattern, replacement, text, count=1, flags=re.M)


def drop_json(field):
    return lambda text: json.dumps({k: v for k, v in json.loads(text).items() if k != field})


# (what is broken, file, change, words the check must print)
FAULTS = [
    ("version file without DefaultLocale", WINGET_VERSION, drop("DefaultLocale"), "has no DefaultLocale"),
    ("version file of another schema", WINGET_VERSION, swap("^ManifestVersion: 1.12.0", "ManifestVersion: 1.10.0"),
     "not ManifestVersion 1.12.0"),
    ("version file of another type", WINGET_VERSION, swap("ManifestType: version", "ManifestType: installer"),
     "not of ManifestType version"),
    ("installer without Installers", INSTALLER, swap(r"^Installers:(.|\n)*?(?=^Manifest)", ""), "has no Installers"),
    ("installer without InstallerSha256", INSTALLER, drop("InstallerSha256"), "has no InstallerSha256"),
    ("installer without Architecture", INSTALLER, swap("- Architecture: .*\n    ", "- "), "has no Architecture"),
    ("installer with another SHA-256", INSTALLER, swap("(InstallerSha256: ).*", rf"\g<1>{OTHER_DIGEST}"),
     "InstallerSha256 is not the zip's"),
    ("installer with another address", INSTALLER, swap(r"(InstallerUrl: .*)\.zip", r"\1-x.zip"), "InstallerUrl is not"),
    ("installer not a zip", INSTALLER, swap("InstallerType: zip", "InstallerType: exe"), "InstallerType is not zip"),
    ("installer not portable", INSTALLER, swap("NestedInstallerType: portable", "NestedInstallerType: exe"),
     "NestedInstallerType is not portable"),
    ("installer for x64", INSTALLER, swap("Architecture: x86", "Architecture: x64"), "Architecture is not x86"),
    ("nested file not in the zip", INSTALLER, swap(r"\\winprobe\.exe", r"\\bin\\winprobe.exe"), "is not in the zip"),
    ("another command alias", INSTALLER, swap("PortableCommandAlias: winprobe", "PortableCommandAlias: probe"),
     "command alias is not winprobe"),
    ("version file without its schema header", WINGET_VERSION, swap(r"\A# yaml-language-server:.*\n", ""),
     "the first line is not the version 1.12.0 schema header"),
    ("installer with the version file's header", INSTALLER,
     swap(r"winget-manifest\.installer\.", "winget-manifest.version."),
     "the first line is not the installer 1.12.0 schema header"),
    ("locale header of another schema version", LOCALE, swap(r"defaultLocale\.1\.12\.0\.schema", "defaultLocale.1.10.0.schema"),
     "the first line is not the defaultLocale 1.12.0 schema header"),
    ("installer header below a comment", INSTALLER, swap(r"\A(# yaml-language-server:.*\n)(#.*\n)", r"\2\1"),
     "the first line is not the installer 1.12.0 schema header"),
    ("installer without ReleaseDate", INSTALLER, drop("ReleaseDate"), "winget: ReleaseDate None is not"),
    ("installer released another day", INSTALLER, swap(r"^(ReleaseDate: )\S+", r"\g<1>1999-12-31"),
     "winget: ReleaseDate datetime.date(1999, 12, 31) is not"),
    ("locale without License", LOCALE, drop("License"), "has no License"),
    ("locale without ShortDescription", LOCALE, drop("ShortDescription"), "has no ShortDescription"),
    ("locale without Publisher", LOCALE, drop("Publisher"), "has no Publisher"),
    ("locale without PackageName", LOCALE, drop("PackageName"), "has no PackageName"),
    ("locale without PackageLocale", LOCALE, drop("PackageLocale"), "has no PackageLocale"),
    ("locale that does not parse", LOCALE, swap("^Tags:", "Tags: [window"), "does not parse"),
    ("winget version not the exe's", LOCALE, swap(r'PackageVersion: "[^"]*"', 'PackageVersion: "9.9.9"'),
     "PackageVersion '9.9.9', the exe"),
    ("scoop without version", SCOOP, drop_json("version"), "scoop: no version"),
    ("scoop without description", SCOOP, drop_json("description"), "scoop: no description"),
    ("scoop without homepage", SCOOP, drop_json("homepage"), "scoop: no homepage"),
    ("scoop without license", SCOOP, drop_json("license"), "scoop: no license"),
    ("scoop without url", SCOOP, drop_json("url"), "scoop: no url"),
    ("scoop without hash", SCOOP, drop_json("hash"), "scoop: no hash"),
    ("scoop without bin", SCOOP, drop_json("bin"), "scoop: no bin"),
    ("scoop without checkver", SCOOP, drop_json("checkver"), "scoop: no checkver"),
    ("scoop without autoupdate", SCOOP, drop_json("autoupdate"), "scoop: no autoupdate"),
    ("scoop with another SHA-256", SCOOP, swap('("hash": ")[^"]*', rf"\g<1>{OTHER_DIGEST}"), "hash is not the zip's"),
    ("scoop bin not in the zip", SCOOP, swap('"bin": "winprobe.exe"', '"bin": "probe.exe"'), "is not in the zip"),
    ("scoop version not the exe's", SCOOP, swap('("version": ")[^"]*', r"\g<1>9.9.9"), "scoop: version '9.9.9'"),
    ("scoop with another address", SCOOP, swap(r'("url": "[^"$]*)\.zip', r"\1-x.zip"), "scoop: url is not"),
    ("scoop updating to another address", SCOOP, swap(r"download/v\$version", "download/$version"),
     "autoupdate's url"),
    ("scoop that does not parse", SCOOP, swap(r"\}\s*\Z", ""), "winprobe.json does not parse"),
    ("record of another compiler version", RECORD,
     swap(r"^(  \S*g\+\+-mingw-w64\S* )(\S+)", r"\g<1>1:\2"), "is installed"),
    ("record without the compiler", RECORD, swap(r"^  \S*g\+\+-mingw-w64.*\n", ""),
     "does not name the compiler's package"),
    ("record of another commit", RECORD, swap("^commit: .*", "commit: 0123456"), "names no commit"),
    ("record of another time", RECORD, swap("^SOURCE_DATE_EPOCH: .*", "SOURCE_DATE_EPOCH: 1"),
     "SOURCE_DATE_EPOCH"),
    ("record of another zip", RECORD, swap(rf"^  \S+(  {re.escape(package)}\.zip)", rf"  {OTHER_DIGEST}\1"),
     "the zip's SHA-256"),
]


def copy(to):
    for name in (f"{package}.zip", RECORD):
        shutil.copy(build / name, to / name)
    shutil.copytree(build / "manifests", to / "manifests")


def check(folder, extra=()):
    where = list(args)
    where[where.index("--build-dir") + 1] = str(folder)
    return subprocess.run([sys.executable, CHECK, *where, *extra], capture_output=True, text=True)


failures = []


def expect_caught(what, result, words):
    caught = result.returncode == 1 and words in result.stderr
    print(f"{'caught' if caught else 'MISSED'}: {what}")
    if not caught:
        failures.append(f"{what}: exit {result.returncode}, {result.stderr.strip()!r}")


with tempfile.TemporaryDirectory() as temp:
    temp = pathlib.Path(temp)
    whole = temp / "whole"
    whole.mkdir()
    copy(whole)
    result = check(whole)
    if result.returncode != 0:
        failures.append(f"the unbroken copy fails: {result.stderr.strip()}")

    for number, (what, name, change, words) in enumerate(FAULTS):
        folder = temp / str(number)
        folder.mkdir()
        copy(folder)
        path = folder / name
        text = path.read_text()
        broken = change(text)
        if broken == text:
            failures.append(f"{what}: the change found nothing to change in {name}")
            continue
        path.write_text(broken)
        expect_caught(what, check(folder), words)

    # The winget files under another identifier: the old fixed one, and one
    # whose owner part is longer than winget takes.
    owner = re.match(r"https://[^/]+/([^/]+)/", args[args.index("--repository-url") + 1] + "/").group(1)
    long_owner = "o" * 33
    for what, other, url, words in [
            ("identifier not the owner's", "winprobe.winprobe", None,
             f"the identifier winprobe.winprobe is not {owner}.winprobe"),
            ("identifier part longer than 32", f"{long_owner}.winprobe",
             f"https://github.com/{long_owner}/winprobe", f"part '{long_owner}' is not 1 to 32")]:
        folder = temp / other
        folder.mkdir()
        copy(folder)
        for path in (folder / "manifests").glob(f"{ident}.*"):
            text = re.sub(r"^PackageIdentifier: .*", f"PackageIdentifier: {other}", path.read_text(),
                          flags=re.M)
            path.with_name(other + path.name[len(ident):]).write_text(text)
            path.unlink()
        extra = ["--package-id", other] + (["--repository-url", url] if url else [])
        expect_caught(what, check(folder, extra), words)

    # An exe whose version resource is not the project's version.
    folder = temp / "version"
    folder.mkdir()
    copy(folder)
    expect_caught("exe of another version", check(folder, ["--version", "9.9.9"]),
                  f"version resource says {version}")

    # An exe without a version resource (its signature broken) in the zip.
    folder = temp / "no-resource"
    folder.mkdir()
    copy(folder)
    zip_path = folder / f"{package}.zip"
    with zipfile.ZipFile(zip_path) as archive:
        members = [(info, archive.read(info)) for info in archive.infolist()]
    with zipfile.ZipFile(zip_path, "w") as archive:
        for info, data in members:
            if info.filename.endswith(".exe"):
                data = data.replace(b"\xbd\x04\xef\xfe", b"\0\0\0\0")
            archive.writestr(info, data)
    expect_caught("exe without a version resource", check(folder), "version resource says None")

for failure in failures:
    print(f"test_release_files_faults: {failure}", file=sys.stderr)
sys.exit(1 if failures else 0)
