"""Breaks a copy of the release (zip, staged files, read-me, build record,
manifests) one thing at a time and checks that `release.py check` fails on
each with the fault named, and passes on the unbroken copy. Takes the
check's arguments.
"""

import json
import pathlib
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile

TOOL = pathlib.Path(__file__).resolve().parent.parent / "release.py"
ARGS = sys.argv[1:]


def arg(name):
    return ARGS[ARGS.index(name) + 1]


# The release's names, read where the build wrote them.
sys.path.insert(0, str(TOOL.parent))
from release import read_names  # noqa: E402

NAMES = read_names(arg("--names"))
build = pathlib.Path(arg("--build-dir"))
package = NAMES["WINPROBE_PACKAGE_NAME"]
version = NAMES["PROJECT_VERSION"]
ident = NAMES["WINPROBE_PACKAGE_ID"]
ZIP = NAMES["WINPROBE_ZIP"]

WINGET_VERSION = f"manifests/{ident}.yaml"
INSTALLER = f"manifests/{ident}.installer.yaml"
LOCALE = f"manifests/{ident}.locale.en-US.yaml"
SCOOP = f"manifests/{NAMES['WINPROBE_SCOOP_MANIFEST']}"
RECORD = NAMES["WINPROBE_BUILDINFO"]
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
    ("scoop that does not parse", SCOOP, swap(r"\}\s*\Z", ""), f"{NAMES['WINPROBE_SCOOP_MANIFEST']} does not parse"),
    ("record of another compiler version", RECORD,
     swap(r"^(  \S*g\+\+-mingw-w64\S* )(\S+)", r"\g<1>1:\2"), "is installed"),
    ("record without the compiler", RECORD, swap(r"^  \S*g\+\+-mingw-w64.*\n", ""),
     "does not name the compiler's package"),
    ("record of another commit", RECORD, swap("^commit: .*", "commit: 0123456"), "names no commit"),
    ("record of another time", RECORD, swap("^SOURCE_DATE_EPOCH: .*", "SOURCE_DATE_EPOCH: 1"),
     "SOURCE_DATE_EPOCH"),
    ("record of another zip", RECORD, swap(rf"^  \S+(  {re.escape(ZIP)})", rf"  {OTHER_DIGEST}\1"),
     "the zip's SHA-256"),
]


# (what is broken in the read-me, change, words the check must print)
READ_ME_FAULTS = [
    ("a placeholder left", swap(r"\A", "@PROJECT_VERSION@ "), "placeholder @PROJECT_VERSION@"),
    ("the owner left a placeholder", swap(r"\A", "github.com/OWNER/winprobe "), "placeholder OWNER"),
    ("a link outside the repository", swap(r"\A", "https://example.org/winprobe\r\n"),
     "https://example.org/winprobe is not in the repository"),
    ("a file the zip does not hold", swap(r"\A", "See CHANGES.txt.\r\n"),
     "names CHANGES.txt, which the zip does not hold"),
    ("a line without CR", swap(r"\r\n", "\n"), "a line does not end in CR LF"),
]


class ReleaseCheck(unittest.TestCase):
    def setUp(self):
        self.temp = pathlib.Path(tempfile.mkdtemp())
        self.addCleanup(shutil.rmtree, self.temp)

    def copy(self, name="whole"):
        folder = self.temp / name
        folder.mkdir()
        for item in (ZIP, f"{ZIP}.sha256", RECORD):
            shutil.copy(build / item, folder / item)
        for tree in ("manifests", package):
            shutil.copytree(build / tree, folder / tree)
        return folder

    def check(self, folder, *extra):
        where = list(ARGS)
        where[where.index("--build-dir") + 1] = str(folder)
        return subprocess.run([sys.executable, TOOL, "check", *where, *extra],
                              capture_output=True, text=True)

    def assertCaught(self, result, words):
        self.assertEqual(result.returncode, 1, f"passed: {result.stdout}")
        self.assertIn(words, result.stderr)

    def rewrite_zip(self, folder, change):
        """The zip written again, each entry as change(info, data) returns
        its bytes (it may change info too)."""
        zip_path = folder / ZIP
        with zipfile.ZipFile(zip_path) as archive:
            members = [(info, archive.read(info)) for info in archive.infolist()]
        with zipfile.ZipFile(zip_path, "w") as archive:
            for info, data in members:
                archive.writestr(info, change(info, data))

    def rewrite_entry(self, folder, name, change):
        """The zip's entry and its staged file changed alike, so that only
        what the change breaks is at fault."""
        def one(info, data):
            if info.filename != f"{package}/{name}":
                return data
            data = change(data)
            (folder / package / name).write_bytes(data)
            return data

        self.rewrite_zip(folder, one)

    def test_passes_on_the_unbroken_release(self):
        result = self.check(self.copy())
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_catches_each_broken_field(self):
        for number, (what, name, change, words) in enumerate(FAULTS):
            with self.subTest(what):
                path = self.copy(str(number)) / name
                text = path.read_text()
                broken = change(text)
                self.assertNotEqual(broken, text, f"the change found nothing to change in {name}")
                path.write_text(broken)
                self.assertCaught(self.check(path.parents[1] if "/" in name else path.parent),
                                  words)

    def test_catches_an_identifier_not_the_owners(self):
        owner = re.match(r"https://[^/]+/([^/]+)/", NAMES["WINPROBE_REPOSITORY_URL"] + "/").group(1)
        long_owner = "o" * 33
        for other, url, words in [
                ("winprobe.winprobe", None, f"the identifier winprobe.winprobe is not {owner}.winprobe"),
                (f"{long_owner}.winprobe", f"https://github.com/{long_owner}/winprobe",
                 f"part '{long_owner}' is not 1 to 32")]:
            with self.subTest(other):
                folder = self.copy(other)
                for path in (folder / "manifests").glob(f"{ident}.*"):
                    text = re.sub(r"^PackageIdentifier: .*", f"PackageIdentifier: {other}",
                                  path.read_text(), flags=re.M)
                    path.with_name(other + path.name[len(ident):]).write_text(text)
                    path.unlink()
                extra = ["--package-id", other] + (["--repository-url", url] if url else [])
                self.assertCaught(self.check(folder, *extra), words)

    def test_catches_an_exe_of_another_version(self):
        self.assertCaught(self.check(self.copy(), "--version", "9.9.9"),
                          f"version resource says {version}")

    def test_catches_an_exe_without_a_version_resource(self):
        folder = self.copy()
        self.rewrite_entry(folder, "winprobe.exe",
                           lambda data: data.replace(b"\xbd\x04\xef\xfe", b"\0\0\0\0"))
        self.assertCaught(self.check(folder), "version resource says None")

    def test_catches_an_exe_not_stamped_with_the_commits_time(self):
        def restamp(data):
            pe = struct.unpack_from("<I", data, 0x3C)[0]
            return data[:pe + 8] + struct.pack("<I", 1234567890) + data[pe + 12:]

        folder = self.copy()
        self.rewrite_entry(folder, "winprobe.exe", restamp)
        self.assertCaught(self.check(folder), "the exe is stamped 1234567890, not SOURCE_DATE_EPOCH")

    def test_catches_a_zip_that_is_not_the_staged_release(self):
        folder = self.copy("entry")
        with zipfile.ZipFile(folder / ZIP, "a") as archive:
            archive.writestr(f"{package}/extra.dll", b"")
        self.assertCaught(self.check(folder), "the zip holds")
        folder = self.copy("bytes")
        (folder / package / "LICENSE.txt").write_bytes(b"another licence\r\n")
        self.assertCaught(self.check(folder), f"{package}/LICENSE.txt in the zip is not")
        folder = self.copy("sums")
        (folder / f"{ZIP}.sha256").write_text(f"{OTHER_DIGEST}  {ZIP}\n")
        self.assertCaught(self.check(folder), "does not give the zip's SHA-256")
        folder = self.copy("stamp")

        def restamp(info, data):
            info.date_time = (1999, 12, 31, 0, 0, 0)
            return data

        self.rewrite_zip(folder, restamp)
        self.assertCaught(self.check(folder), "is stamped (1999, 12, 31, 0, 0, 0)")

    def test_catches_a_broken_read_me(self):
        for number, (what, change, words) in enumerate(READ_ME_FAULTS):
            with self.subTest(what):
                folder = self.copy(f"read-me-{number}")
                self.rewrite_entry(folder, "README.txt",
                                   lambda data: change(data.decode()).encode())
                self.assertCaught(self.check(folder), words)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
