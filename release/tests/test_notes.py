"""The release notes, written by `release.py notes` from a release build
and what `release/sign.sh describe` says of its exe: an unsigned release
says so; one signed by the throwaway signer says it carries a test
signature; one signed through the service names the signer, the route and
the time stamp; and notes that would keep a placeholder (the repository's
owner unknown) are refused. Every command in them names this release.

    test_notes.py RELEASE_ENV BUILD_DIR
"""

import pathlib
import re
import subprocess
import sys
import tempfile
import unittest

TOOL = pathlib.Path(__file__).resolve().parent.parent / "release.py"
TEMPLATE = TOOL.parent / "templates" / "notes.md.in"
sys.path.insert(0, str(TOOL.parent))
from release import read_names  # noqa: E402

BUILT = read_names(sys.argv[1])
BUILD = pathlib.Path(sys.argv[2])


def with_owner(owner):
    """The build's names, the repository's owner made OWNER (a build given no
    address has the placeholder already)."""
    names = dict(BUILT)
    host, _, repository = names["WINPROBE_REPOSITORY_URL"].removeprefix("https://").split("/")[:3]
    names["WINPROBE_REPOSITORY_URL"] = f"https://{host}/{owner}/{repository}"
    names["WINPROBE_REPOSITORY"] = f"{owner}/{repository}"
    names["WINPROBE_PACKAGE_ID"] = f"{owner}.{names['PROJECT_NAME']}"
    return "".join(f"{name}='{value}'\n" for name, value in names.items())


OWNED = tempfile.NamedTemporaryFile("w", suffix=".env", delete=False)
OWNED.write(with_owner("example-owner"))
OWNED.close()
NAMES_FILE = pathlib.Path(OWNED.name)
NAMES = read_names(NAMES_FILE)
COMMIT = "0123456789abcdef0123456789abcdef01234567"
THROWAWAY = "release/hooks/throwaway-sign.sh"
SERVICE = "release/hooks/artifact-signing.sh"

UNSIGNED = "signed: no\n"
TEST_SIGNED = """signed: yes
trust: test
subject: CN=winprobe throwaway 20260101T000000Z
issuer: CN=winprobe throwaway 20260101T000000Z
timestamp: none
"""
SERVICE_SIGNED = """signed: yes
trust: public
subject: CN=Example Maintainer, O=Example Maintainer, C=CA
issuer: CN=Microsoft ID Verified CS EOC CA 01, O=Microsoft Corporation, C=US
timestamp: CN=Microsoft Public RSA Time Stamping Authority, 2026-01-01 00:00:00 UTC
"""


class Notes(unittest.TestCase):
    def write(self, description, route, names_file=NAMES_FILE):
        """The notes' text, or None and what release.py said."""
        with tempfile.TemporaryDirectory() as temp:
            signature = pathlib.Path(temp) / "signature.txt"
            signature.write_text(description)
            out = pathlib.Path(temp) / "notes.md"
            done = subprocess.run(
                [sys.executable, TOOL, "notes", "--names", names_file, "--build-dir", BUILD,
                 "--commit", COMMIT, "--signature", signature, "--route", route, "--out", out,
                 TEMPLATE], capture_output=True, text=True)
            return (out.read_text() if done.returncode == 0 else None), done.stderr

    def notes(self, description, route):
        text, said = self.write(description, route)
        self.assertIsNotNone(text, said)
        return text

    def signature_section(self, text):
        return re.search(r"^## Signature\n(.*?)^## ", text, re.S | re.M).group(1)

    def test_unsigned_release_says_unsigned(self):
        section = self.signature_section(self.notes(UNSIGNED, "none"))
        self.assertIn("**Unsigned.**", section)
        self.assertNotIn("Signed", section)

    def test_throwaway_signature_is_a_test_signature(self):
        section = self.signature_section(self.notes(TEST_SIGNED, f"hook:{THROWAWAY}"))
        self.assertIn("**Test signature, not trusted by Windows.**", section)
        self.assertIn("CN=winprobe throwaway 20260101T000000Z", section)
        self.assertIn(f"throwaway test signer `{THROWAWAY}`", section)
        # Even where describe took it for a public one, the throwaway
        # signer's signature is never published as trusted.
        section = self.signature_section(
            self.notes(SERVICE_SIGNED, f"hook:{THROWAWAY}"))
        self.assertIn("**Test signature", section)

    def test_service_signature_names_signer_route_and_time_stamp(self):
        section = self.signature_section(self.notes(SERVICE_SIGNED, f"hook:{SERVICE}"))
        self.assertIn("**Signed** by \"CN=Example Maintainer, O=Example Maintainer, C=CA\"",
                      section)
        self.assertIn(f"through the signing service's hook `{SERVICE}`", section)
        self.assertIn("a time stamp from CN=Microsoft Public RSA Time Stamping Authority, "
                      "2026-01-01 00:00:00 UTC", section)

    def test_route_and_exe_that_disagree_are_refused(self):
        for description, route, words in [
                (UNSIGNED, f"hook:{SERVICE}", "carries no signature"),
                (SERVICE_SIGNED, "none", "yet the exe carries a signature"),
                ("", "none", "no 'signed: yes|no'")]:
            with self.subTest(route=route, description=description[:12]):
                text, said = self.write(description, route)
                self.assertIsNone(text, "written")
                self.assertIn(words, said)

    def test_commands_name_this_release(self):
        text = self.notes(UNSIGNED, "none")
        repo, zip_name = NAMES["WINPROBE_REPOSITORY"], NAMES["WINPROBE_ZIP"]
        version = NAMES["PROJECT_VERSION"]
        assets = f"{NAMES['WINPROBE_REPOSITORY_URL']}/releases/download/v{version}"
        digest = (BUILD / f"{zip_name}.sha256").read_text().split()[0]
        self.assertIn(f"{NAMES['PROJECT_NAME']} {version}, built on Debian 12 from commit "
                      f"{COMMIT}", text)
        self.assertIn(f"]({assets}/{zip_name})", text)
        self.assertIn(f"-Algorithm SHA256).Hash -eq '{digest.upper()}'", text)
        self.assertIn(f"scoop install {assets}/{NAMES['WINPROBE_SCOOP_MANIFEST']}", text)
        for name in ("", ".installer", ".locale.en-US"):
            manifest = f"{NAMES['WINPROBE_PACKAGE_ID']}{name}.yaml"
            self.assertIn(f"Invoke-WebRequest {assets}/{manifest} -OutFile {manifest}", text)
        # Windows PowerShell 5.1, updated since December 2025, stops an
        # Invoke-WebRequest without -UseBasicParsing at a security prompt.
        downloads = [line for line in text.splitlines() if line.startswith("Invoke-WebRequest ")]
        self.assertEqual(3, len(downloads), text)
        for line in downloads:
            self.assertTrue(line.endswith(" -UseBasicParsing"), line)
        enable = text.index("winget settings --enable LocalManifestFiles")
        install = text.index("winget install --manifest .")
        self.assertLess(enable, install)
        self.assertLess(install, text.index("winget settings --disable LocalManifestFiles"))
        workflow = f"--signer-workflow {repo}/.github/workflows/release.yml"
        self.assertEqual(text.count(workflow), 2)
        self.assertEqual(text.count(f"--repo {repo}"), 2)
        self.assertIn(f"--bundle {NAMES['WINPROBE_ATTESTATION']}", text)
        self.assertIn(f"git clone --depth 1 --branch v{version} "
                      f"{NAMES['WINPROBE_REPOSITORY_URL']}.git", text)
        self.assertIn(f"sha256sum build/release/{zip_name}    # {digest}", text)

    def test_signed_release_is_compared_without_its_signature(self):
        # A rebuild is unsigned: the signed release's zip cannot match it,
        # so its notes must not promise that it does.
        zip_name = NAMES["WINPROBE_ZIP"]
        for description, route in [(TEST_SIGNED, f"hook:{THROWAWAY}"),
                                   (SERVICE_SIGNED, f"hook:{SERVICE}")]:
            with self.subTest(route=route):
                text = self.notes(description, route)
                self.assertNotIn(f"sha256sum build/release/{zip_name}", text)
                self.assertIn(f"python3 -m zipfile -e {zip_name} published", text)
                self.assertIn(f"release/sign.sh same published/{NAMES['WINPROBE_PACKAGE_NAME']}"
                              "/winprobe.exe build/release/bin/winprobe.exe", text)

    def test_placeholder_left_is_refused(self):
        with tempfile.TemporaryDirectory() as temp:
            planted = pathlib.Path(temp) / "release.env"
            planted.write_text(with_owner("OWNER"))
            text, said = self.write(UNSIGNED, "none", planted)
        self.assertIsNone(text, "notes written with OWNER in them")
        self.assertIn("placeholder(s) OWNER", said)


if __name__ == "__main__":
    try:
        unittest.main(argv=[sys.argv[0]], verbosity=2)
    finally:
        NAMES_FILE.unlink()
