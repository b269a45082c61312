"""The release's signature, with the osslsigncode on PATH: scripts/sign.sh
signs an exe with a throwaway PKCS#12 made here by this machine's OpenSSL,
with a password or an empty one; the signature verifies against that
certificate and no other; removed, it gives back the unsigned exe byte for
byte, and an exe whose code differs, signed as validly, is told apart. The
release's hook path too: a stand-in service (release/hooks/throwaway-sign.sh)
signs, and a hook that changes the code or signs nothing is caught.

    test_signing.py SIGN_SCRIPT EXE [unittest options]

EXE may be signed already: its signature is removed first.
"""

import os
import pathlib
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

SIGN = EXE = HOOK = None


def run(*args, env=None):
    """Status and output (stdout and stderr together) of a command."""
    done = subprocess.run([str(a) for a in args], capture_output=True, text=True, env=env)
    return done.returncode, done.stdout + done.stderr


def code_offset(exe):
    """The file offset of the first byte of the first executable section of
    a PE file's bytes: the one place this test reads PE headers."""
    pe = struct.unpack_from("<I", exe, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H12xH", exe, pe + 6)
    table = pe + 24 + optional_size
    for i in range(sections):
        raw_size, raw = struct.unpack_from("<II", exe, table + 40 * i + 16)
        flags = struct.unpack_from("<I", exe, table + 40 * i + 36)[0]
        if flags & 0x20000000 and raw_size:  # IMAGE_SCN_MEM_EXECUTE
            return raw
    raise ValueError("no executable section")


def throwaway_certificate(folder, name, password):
    """A self-signed certificate (PEM) and a PKCS#12 with it and its key."""
    key, cert, pfx = (folder / f"{name}.{ext}" for ext in ("key", "pem", "pfx"))
    for args in (["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                  "-subj", f"/CN=winprobe {name}", "-keyout", key, "-out", cert],
                 ["pkcs12", "-export", "-inkey", key, "-in", cert, "-out", pfx,
                  "-passout", f"pass:{password}"]):
        status, out = run("openssl", *args)
        if status:
            raise RuntimeError(f"openssl {args[0]} failed: {out}")
    return cert, pfx


def sign_env(**settings):
    """This process's environment with no signing settings but these."""
    env = {k: v for k, v in os.environ.items() if not k.startswith("WINPROBE_SIGN")}
    env.update(settings)
    return env


def find_hook(sign):
    """release/hooks/throwaway-sign.sh in a folder above SIGN_SCRIPT."""
    for folder in pathlib.Path(sign).resolve().parents:
        hook = folder / "release" / "hooks" / "throwaway-sign.sh"
        if hook.is_file():
            return hook
    raise FileNotFoundError(f"no release/hooks/throwaway-sign.sh above {sign}")


class Signing(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        for tool in ("openssl", "osslsigncode"):
            if not shutil.which(tool):
                raise RuntimeError(f"needs {tool} (scripts/install-deps.sh installs it)")
        status, out = run("osslsigncode", "--version")
        print(f"test_signing: {out.splitlines()[0] if out else 'osslsigncode'}", file=sys.stderr)
        cls.folder = pathlib.Path(tempfile.mkdtemp())
        cls.unsigned = cls.folder / "unsigned.exe"
        status, _ = run("osslsigncode", "remove-signature", "-in", EXE, "-out", cls.unsigned)
        if status:  # not signed: remove-signature refuses
            shutil.copyfile(EXE, cls.unsigned)
        cls.password = "throwaway pass"
        cls.cert, cls.pfx = throwaway_certificate(cls.folder, "signer", cls.password)
        cls.empty_cert, cls.empty_pfx = throwaway_certificate(cls.folder, "empty", "")
        cls.stranger, _ = throwaway_certificate(cls.folder, "stranger", cls.password)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder)

    def copy(self, name, data=None):
        """A copy of the unsigned exe (or of DATA) named NAME, for one test."""
        path = self.folder / f"{self._testMethodName}-{name}"
        path.write_bytes(self.unsigned.read_bytes() if data is None else data)
        return path

    def sign(self, exe, **settings):
        """sign.sh sign EXE with these settings: status and output."""
        return run(SIGN, "sign", exe, env=sign_env(**settings))

    def sign_with_password(self, exe):
        return self.sign(exe, WINPROBE_SIGN_PFX=str(self.pfx), WINPROBE_SIGN_PASSWORD=self.password)

    def verifies(self, exe, cert):
        return run("osslsigncode", "verify", "-CAfile", cert, "-in", exe)

    def hook(self, body):
        """A hook script with this body, run as HOOK EXE."""
        path = self.folder / f"{self._testMethodName}-hook.sh"
        path.write_text(f"#!/bin/sh\nset -e\n{body}\n")
        path.chmod(0o755)
        return path

    def test_password_signs_and_verifies_against_its_certificate_only(self):
        exe = self.copy("signed.exe")
        status, out = self.sign_with_password(exe)
        self.assertEqual(status, 0, f"sign.sh sign failed: {out}")
        status, out = self.verifies(exe, self.cert)
        self.assertEqual(status, 0, f"the signature does not verify against its certificate: {out}")
        status, _ = self.verifies(exe, self.stranger)
        self.assertNotEqual(status, 0, "the signature verifies against a certificate that did not sign it")

    def test_empty_password_signs(self):
        exe = self.copy("signed.exe")
        status, out = self.sign(exe, WINPROBE_SIGN_PFX=str(self.empty_pfx), WINPROBE_SIGN_PASSWORD="")
        self.assertEqual(status, 0, f"sign.sh sign failed with an empty password: {out}")
        status, out = self.verifies(exe, self.empty_cert)
        self.assertEqual(status, 0, f"the signature does not verify against its certificate: {out}")

    def test_wrong_password_is_refused(self):
        exe = self.copy("signed.exe")
        status, out = self.sign(exe, WINPROBE_SIGN_PFX=str(self.pfx), WINPROBE_SIGN_PASSWORD="wrong")
        self.assertNotEqual(status, 0, f"signing with a wrong password passed: {out}")
        self.assertIn("could not sign", out)
        self.assertEqual(exe.read_bytes(), self.unsigned.read_bytes(), "a refused signing changed the exe")

    def test_signature_removed_gives_back_the_unsigned_exe(self):
        exe = self.copy("signed.exe")
        self.assertEqual(self.sign_with_password(exe)[0], 0)
        status, out = run(SIGN, "same", exe, self.unsigned)
        self.assertEqual(status, 0, f"signed and stripped, the exe is not the unsigned one: {out}")

    def test_other_code_signed_as_validly_is_told_apart(self):
        data = bytearray(self.unsigned.read_bytes())
        data[code_offset(data)] ^= 0xFF
        altered = self.copy("altered.exe", bytes(data))
        # Signed by osslsigncode itself: sign.sh would refuse it, as the PE
        # checksum no longer matches the code and signing puts it right.
        other = self.folder / "other.exe"
        status, out = run("osslsigncode", "sign", "-pkcs12", self.pfx, "-pass", self.password,
                          "-in", altered, "-out", other)
        self.assertEqual(status, 0, f"osslsigncode could not sign the altered exe: {out}")
        self.assertEqual(self.verifies(other, self.cert)[0], 0, "the altered exe's signature does not verify")
        status, out = run(SIGN, "same", other, self.unsigned)
        self.assertNotEqual(status, 0, f"an exe whose code differs passed as the unsigned one: {out}")
        self.assertIn("code differs", out)

    def test_unsigned_exe_is_not_taken_for_signed(self):
        status, out = run(SIGN, "same", self.unsigned, self.unsigned)
        self.assertNotEqual(status, 0, f"an unsigned exe passed as a signed one: {out}")
        self.assertIn("no signature", out)

    def test_nothing_to_sign_with_is_refused(self):
        exe = self.copy("signed.exe")
        status, out = self.sign(exe)
        self.assertNotEqual(status, 0, f"signing with nothing configured did not refuse: {out}")
        self.assertIn("neither", out)

    def test_hook_signs_as_a_release_does(self):
        exe = self.copy("signed.exe")
        status, out = self.sign(exe, WINPROBE_SIGN_HOOK=str(HOOK))
        self.assertEqual(status, 0, f"sign.sh sign with the stand-in hook failed: {out}")
        status, out = run(SIGN, "same", exe, self.unsigned)
        self.assertEqual(status, 0, f"the hook's exe, its signature removed, is not the unsigned one: {out}")

    def test_hook_that_changes_the_code_is_caught(self):
        exe = self.copy("signed.exe")
        offset = code_offset(self.unsigned.read_bytes())
        # One byte of code overwritten, then signed as the service would.
        hook = self.hook(f'printf "\\314" | dd of="$1" bs=1 seek={offset} conv=notrunc 2>/dev/null\n'
                         f'"{HOOK}" "$1"')
        status, out = self.sign(exe, WINPROBE_SIGN_HOOK=str(hook))
        self.assertNotEqual(status, 0, f"a hook that changed the code passed: {out}")
        self.assertIn("code differs", out)

    def test_hook_that_signs_nothing_is_caught(self):
        exe = self.copy("signed.exe")
        status, out = self.sign(exe, WINPROBE_SIGN_HOOK=str(self.hook("true")))
        self.assertNotEqual(status, 0, f"a hook that signed nothing passed: {out}")
        self.assertIn("no signature", out)

    def test_hook_failure_is_reported(self):
        exe = self.copy("signed.exe")
        status, out = self.sign(exe, WINPROBE_SIGN_HOOK=str(self.hook("exit 3")))
        self.assertNotEqual(status, 0, f"a failing hook passed: {out}")
        self.assertIn("failed on", out)


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit("usage: test_signing.py SIGN_SCRIPT EXE [unittest options]")
    SIGN, EXE = pathlib.Path(sys.argv[1]).resolve(), pathlib.Path(sys.argv[2]).resolve()
    HOOK = find_hook(SIGN)
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
