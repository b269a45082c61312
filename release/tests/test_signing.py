"""The release's signature: scripts/sign.sh signs an exe with a throwaway
self-signed certificate made here, the signature verifies against that
certificate and no other, and the exe with its signature removed is the
unsigned exe byte for byte; an exe whose code differs, signed as validly,
fails that comparison.

    test_signing.py SIGN_SCRIPT EXE
"""

import os
import pathlib
import shutil
import struct
import subprocess
import sys
import tempfile

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print(f"FAIL: {message}")
    return condition


def run(*args, env=None):
    done = subprocess.run(args, capture_output=True, text=True, env=env)
    return done.returncode, done.stdout + done.stderr


def throwaway_certificate(folder, name, password):
    """A self-signed certificate and key, as PEM and as a PKCS#12 file."""
    key, cert, pfx = (folder / f"{name}.{ext}" for ext in ("key", "pem", "pfx"))
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                    "-subj", f"/CN=winprobe {name}", "-keyout", key, "-out", cert],
                   check=True, capture_output=True)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out", pfx,
                    "-passout", f"pass:{password}"], check=True, capture_output=True)
    return cert, pfx


def code_offset(exe):
    """The file offset of the first byte of the first executable section."""
    pe = struct.unpack_from("<I", exe, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H12xH", exe, pe + 6)
    table = pe + 24 + optional_size
    for i in range(sections):
        raw_size, raw, flags = (struct.unpack_from("<I", exe, table + 40 * i + 16)[0],
                                struct.unpack_from("<I", exe, table + 40 * i + 20)[0],
                                struct.unpack_from("<I", exe, table + 40 * i + 36)[0])
        if flags & 0x20000000 and raw_size:  # IMAGE_SCN_MEM_EXECUTE
            return raw
    raise ValueError("no executable section")


def main():
    sign, exe = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    for tool in ("openssl", "osslsigncode"):
        if not shutil.which(tool):
            sys.exit(f"test_signing: needs {tool} (scripts/install-deps.sh installs it)")
    folder = pathlib.Path(tempfile.mkdtemp())
    try:
        password = "throwaway pass"
        cert, pfx = throwaway_certificate(folder, "signer", password)
        stranger, _ = throwaway_certificate(folder, "stranger", password)
        env = dict(os.environ, WINPROBE_SIGN_PFX=str(pfx), WINPROBE_SIGN_PASSWORD=password)
        env.pop("WINPROBE_SIGN_HOOK", None)
        unsigned = folder / "unsigned.exe"
        shutil.copyfile(exe, unsigned)

        # Signed, the exe verifies against its certificate and no other.
        signed = folder / "signed.exe"
        shutil.copyfile(unsigned, signed)
        status, out = run(sign, "sign", signed, env=env)
        check(status == 0, f"sign.sh sign failed ({status}): {out}")
        status, out = run("osslsigncode", "verify", "-CAfile", cert, "-in", signed)
        check(status == 0, f"the signature does not verify against its certificate: {out}")
        status, _ = run("osslsigncode", "verify", "-CAfile", stranger, "-in", signed)
        check(status != 0, "the signature verifies against a certificate that did not sign it")

        # Its signature removed, it is the unsigned exe.
        status, out = run(sign, "same", signed, unsigned)
        check(status == 0, f"signed and stripped, the exe is not the unsigned one: {out}")

        # Other code, signed just as validly, is told apart.
        data = bytearray(unsigned.read_bytes())
        data[code_offset(data)] ^= 0xFF
        other = folder / "other.exe"
        other.write_bytes(data)
        status, out = run(sign, "sign", other, env=env)
        check(status == 0, f"sign.sh sign failed on the altered exe ({status}): {out}")
        status, _ = run("osslsigncode", "verify", "-CAfile", cert, "-in", other)
        check(status == 0, "the altered exe's own signature does not verify")
        status, out = run(sign, "same", other, unsigned)
        check(status != 0 and "code differs" in out,
              f"an exe whose code differs passed as the unsigned one ({status}): {out}")

        # Nothing to compare, and nothing to sign with: refusals that say why.
        status, out = run(sign, "same", unsigned, unsigned)
        check(status != 0 and "no signature" in out,
              f"an unsigned exe passed as a signed one ({status}): {out}")
        bare = {k: v for k, v in env.items() if not k.startswith("WINPROBE_SIGN")}
        status, out = run(sign, "sign", folder / "other.exe", env=bare)
        check(status != 0 and "neither" in out,
              f"signing with nothing configured did not refuse ({status}): {out}")
    finally:
        shutil.rmtree(folder)
    if failures:
        sys.exit(f"test_signing: {len(failures)} check(s) failed")
    print("test_signing: signed, verified, stripped and compared; altered code told apart")


if __name__ == "__main__":
    main()
