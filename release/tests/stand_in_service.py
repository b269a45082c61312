"""A stand-in for Azure Artifact Signing's certificates and Microsoft's
time-stamping service, made here with this machine's OpenSSL: a root under
the name the service's chain ends in, an intermediate, signing certificates
with and without the service's Public Trust usage, a private root for
comparison, and an RFC 3161 responder (openssl ts -reply) on 127.0.0.1 for
osslsigncode's -ts. None of it is trusted anywhere; the names are what the
checks in release/authenticode.py read."""

import http.server
import pathlib
import subprocess
import threading

# As the service's certificates name their root and their usage.
ROOT_NAME = "/C=US/O=Microsoft Corporation/CN=Microsoft Identity Verification Root Certificate Authority 2020"
PUBLIC_TRUST_EKU = "1.3.6.1.4.1.311.97.1.0"
CODE_SIGNING = "codeSigning"

TSA_CONFIG = """\
[ tsa ]
default_tsa = stand_in
[ stand_in ]
serial = {folder}/tsa-serial
crypto_device = builtin
signer_cert = {folder}/tsa.pem
signer_key = {folder}/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = yes
ess_cert_id_chain = no
ess_cert_id_alg = sha256
"""


def openssl(*args):
    done = subprocess.run(["openssl", *[str(a) for a in args]], capture_output=True, text=True)
    if done.returncode:
        raise RuntimeError(f"openssl {args[0]} failed: {done.stdout}{done.stderr}")
    return done.stdout


class Authority:
    """A key and certificate in FOLDER/NAME.{key,pem}, self-signed or
    issued by ISSUER, with these X.509 extensions."""

    def __init__(self, folder, name, subject, extensions, issuer=None):
        self.key, self.pem = folder / f"{name}.key", folder / f"{name}.pem"
        extfile = folder / f"{name}.ext"
        extfile.write_text("\n".join(extensions) + "\n")
        if issuer is None:
            openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30", "-subj", subject,
                    "-keyout", self.key, "-out", self.pem, "-extensions", "v3", "-config",
                    self._config(folder, name, extensions))
        else:
            request = folder / f"{name}.csr"
            openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-subj", subject,
                    "-keyout", self.key, "-out", request)
            openssl("x509", "-req", "-in", request, "-CA", issuer.pem, "-CAkey", issuer.key,
                    "-CAcreateserial", "-days", "3", "-extfile", extfile, "-out", self.pem)

    @staticmethod
    def _config(folder, name, extensions):
        config = folder / f"{name}.cnf"
        config.write_text("[ req ]\ndistinguished_name = dn\n[ dn ]\n[ v3 ]\n"
                          + "\n".join(extensions) + "\n")
        return config


CA = ["basicConstraints = critical, CA:TRUE", "keyUsage = critical, keyCertSign, cRLSign",
      "subjectKeyIdentifier = hash"]


def signer(usages):
    return ["basicConstraints = CA:FALSE", "keyUsage = critical, digitalSignature",
            f"extendedKeyUsage = {', '.join(usages)}", "authorityKeyIdentifier = keyid"]


class StandInService:
    """The certificates, and the time-stamping responder while running."""

    def __init__(self, folder):
        self.folder = folder = pathlib.Path(folder)
        self.root = Authority(folder, "root", ROOT_NAME, CA)
        self.intermediate = Authority(folder, "intermediate",
                                      "/C=US/O=Microsoft Corporation/CN=Stand-in ID Verified CS CA",
                                      CA + ["authorityKeyIdentifier = keyid"], self.root)
        # Same name as the intermediate, another key: what it issues does not
        # verify against the intermediate.
        self.impostor = Authority(folder, "impostor",
                                  "/C=US/O=Microsoft Corporation/CN=Stand-in ID Verified CS CA", CA)
        self.private_root = Authority(folder, "private-root", "/O=Stand-in/CN=Stand-in Private Root", CA)
        self.private = Authority(folder, "private", "/O=Stand-in/CN=Stand-in Private CS CA",
                                 CA + ["authorityKeyIdentifier = keyid"], self.private_root)
        subject = "/C=US/O=winprobe stand-in/CN=winprobe stand-in publisher"
        self.public = Authority(folder, "public", subject, signer([CODE_SIGNING, PUBLIC_TRUST_EKU]),
                                self.intermediate)
        self.no_usage = Authority(folder, "no-usage", subject, signer([CODE_SIGNING]), self.intermediate)
        self.private_leaf = Authority(folder, "private-leaf", subject,
                                      signer([CODE_SIGNING, PUBLIC_TRUST_EKU]), self.private)
        self.forged = Authority(folder, "forged", subject, signer([CODE_SIGNING, PUBLIC_TRUST_EKU]),
                                self.impostor)
        self.tsa = Authority(folder, "tsa", "/O=winprobe stand-in/CN=Stand-in Time Stamping Authority",
                             ["basicConstraints = CA:FALSE", "keyUsage = critical, digitalSignature",
                              "extendedKeyUsage = critical, timeStamping"])
        (folder / "tsa-serial").write_text("01\n")
        (folder / "tsa.cnf").write_text(TSA_CONFIG.format(folder=folder))
        self.server = None

    def chain(self, leaf, *above):
        """A PEM file with LEAF's certificate and those ABOVE it."""
        path = self.folder / f"chain-{leaf.pem.stem}-{len(above)}.pem"
        path.write_text("".join(a.pem.read_text() for a in (leaf, *above)))
        return path

    def start(self):
        service = self

        class Responder(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                query = service.folder / "tsa-query.der"
                reply = service.folder / "tsa-reply.der"
                query.write_bytes(self.rfile.read(int(self.headers["Content-Length"])))
                openssl("ts", "-reply", "-config", service.folder / "tsa.cnf",
                        "-queryfile", query, "-out", reply)
                body = reply.read_bytes()
                self.send_response(200)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.server = http.server.HTTPServer(("127.0.0.1", 0), Responder)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        return f"http://127.0.0.1:{self.server.server_address[1]}"

    def stop(self):
        if self.server:
            self.server.shutdown()
            self.server.server_close()
