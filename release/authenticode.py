"""What an exe's Authenticode signature says, read from the file itself so
that every osslsigncode version gives the same answer; release/sign.sh runs
it.

    authenticode.py describe EXE   signed, trust, subject, issuer, time stamp
    authenticode.py public EXE     stops, naming each reason, unless the
                                   signature is one Azure Artifact Signing
                                   makes with a Public Trust profile

The public-trust check reads three things: an RFC 3161 time stamp over this
signature (the service's certificates last 72 hours; the stamp is what keeps
a signature valid after that), the service's Public Trust usage on the
signing certificate, and a chain, each link's signature checked with
OpenSSL, up to the root the service's certificates are issued under.
release/signing.md names the source of each pinned fact.
"""

import base64
import datetime
import hashlib
import os
import pathlib
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from release import pe_sections  # noqa: E402

# --- Pinned facts: the one place they live (release/signing.md: sources) ---
# Carried by every Public Trust certificate of the service, and by no test
# or private-trust one.
PUBLIC_TRUST_EKU = "1.3.6.1.4.1.311.97.1.0"
# The root the service's public-trust chain ends in, by name and by its
# SHA-1 thumbprint (what Windows shows as the root's thumbprint).
PUBLIC_TRUST_ROOT = "CN=Microsoft Identity Verification Root Certificate Authority 2020, " \
                    "O=Microsoft Corporation, C=US"
PUBLIC_TRUST_ROOT_SHA1 = "f40042e2e5f7e8ef8189fed15519aece42c3bfa2"

# Object identifiers read here.
SIGNED_DATA = "1.2.840.113549.1.7.2"
TST_INFO = "1.2.840.113549.1.9.16.1.4"
RFC3161_STAMP = "1.3.6.1.4.1.311.3.3.1"  # Microsoft's unsigned attribute for it
COUNTERSIGNATURE = "1.2.840.113549.1.9.6"  # the older Authenticode stamp
SIGNING_TIME = "1.2.840.113549.1.9.5"
EXTENDED_KEY_USAGE = "2.5.29.37"
SUBJECT_KEY_ID = "2.5.29.14"
HASHES = {"1.3.14.3.2.26": "sha1", "2.16.840.1.101.3.4.2.1": "sha256",
          "2.16.840.1.101.3.4.2.2": "sha384", "2.16.840.1.101.3.4.2.3": "sha512"}
NAME_KEYS = {"2.5.4.3": "CN", "2.5.4.6": "C", "2.5.4.7": "L", "2.5.4.8": "ST",
             "2.5.4.10": "O", "2.5.4.11": "OU", "2.5.4.5": "SERIALNUMBER",
             "2.5.4.9": "STREET", "1.2.840.113549.1.9.1": "E"}
WIN_CERT_TYPE_PKCS_SIGNED_DATA = 2
SECURITY_DIRECTORY = 4


class Unreadable(Exception):
    pass


# --- DER, as much of it as a signature needs ---

class Node:
    """One DER element: its tag byte, its content, its whole encoding."""

    def __init__(self, data, start):
        if start + 2 > len(data):
            raise Unreadable("DER cut short")
        self.tag = data[start]
        length, at = data[start + 1], start + 2
        if length & 0x80:
            count = length & 0x7F
            if not 0 < count <= 4 or at + count > len(data):
                raise Unreadable("bad DER length")
            length, at = int.from_bytes(data[at:at + count], "big"), at + count
        if at + length > len(data):
            raise Unreadable("DER cut short")
        self.content = data[at:at + length]
        self.der = data[start:at + length]
        self.end = at + length

    def children(self):
        out, at = [], 0
        while at < len(self.content):
            node = Node(self.content, at)
            out.append(node)
            at = node.end
        return out

    def oid(self):
        if self.tag != 0x06:
            raise Unreadable(f"expected an object identifier, found tag {self.tag:#x}")
        arcs, value = [], 0
        for byte in self.content:
            value = value << 7 | byte & 0x7F
            if not byte & 0x80:
                arcs.append(value)
                value = 0
        first = min(arcs[0] // 40, 2)
        return ".".join(str(a) for a in [first, arcs[0] - 40 * first] + arcs[1:])

    def text(self):
        if self.tag == 0x1E:  # BMPString
            return self.content.decode("utf-16-be", "replace")
        return self.content.decode("utf-8" if self.tag == 0x0C else "latin-1", "replace")

    def time(self):
        text = self.content.decode("ascii", "replace").rstrip("Z")
        text = text.split(".")[0]  # fractions of a second are not shown
        if self.tag == 0x17:  # UTCTime: two-digit year
            text = ("19" if int(text[:2]) >= 50 else "20") + text
        elif self.tag != 0x18:
            raise Unreadable(f"expected a time, found tag {self.tag:#x}")
        return datetime.datetime.strptime(text[:14], "%Y%m%d%H%M%S")


def parse(data):
    return Node(data, 0)


def explicit(node):
    """The one element inside an EXPLICIT context tag."""
    return node.children()[0]


def name(node):
    """A Name, most specific part first, as Windows and RFC 4514 write it."""
    parts = []
    for rdn in reversed(node.children()):
        values = []
        for pair in rdn.children():
            key, value = pair.children()
            text = value.text()
            for special in '\\,+"<>;':
                text = text.replace(special, "\\" + special)
            values.append(f"{NAME_KEYS.get(key.oid(), key.oid())}={text}")
        parts.append("+".join(values))
    return ", ".join(parts)


class Certificate:
    def __init__(self, node):
        self.der = node.der
        tbs = node.children()[0].children()
        if tbs[0].tag == 0xA0:  # version
            tbs = tbs[1:]
        self.serial = tbs[0].content
        self.issuer_node, self.subject_node = tbs[2], tbs[4]
        self.issuer, self.subject = name(tbs[2]), name(tbs[4])
        self.not_before, self.not_after = (t.time() for t in tbs[3].children())
        self.usages, self.key_id = [], None
        for extra in tbs[6:]:
            if extra.tag != 0xA3:
                continue
            for extension in explicit(extra).children():
                parts = extension.children()
                if parts[0].oid() == EXTENDED_KEY_USAGE:
                    usages = parse(parts[-1].content)
                    self.usages = [u.oid() for u in usages.children()]
                elif parts[0].oid() == SUBJECT_KEY_ID:
                    self.key_id = parse(parts[-1].content).content

    def pem(self):
        body = base64.encodebytes(self.der).decode().replace("\n", "")
        lines = [body[i:i + 64] for i in range(0, len(body), 64)]
        return "-----BEGIN CERTIFICATE-----\n" + "\n".join(lines) + "\n-----END CERTIFICATE-----\n"

    def sha1(self):
        return hashlib.sha1(self.der).hexdigest()


class SignedData:
    """A PKCS #7 SignedData: its certificates and its first signer."""

    def __init__(self, content_info):
        parts = content_info.children()
        if parts[0].oid() != SIGNED_DATA:
            raise Unreadable("the signature is no PKCS #7 SignedData")
        fields = explicit(parts[1]).children()
        self.content = fields[2]
        self.certificates = []
        signers = fields[-1]
        for field in fields[3:-1]:
            if field.tag == 0xA0:
                self.certificates = [Certificate(c) for c in field.children() if c.tag == 0x30]
        infos = signers.children()
        if not infos:
            raise Unreadable("the signature has no signer")
        self.signer = infos[0]

    def signer_certificate(self, signer=None):
        """The certificate SIGNER (by default this one's) names, or None."""
        sid = (signer or self.signer).children()[1]
        if sid.tag == 0x80:  # by subject key identifier, as CMS allows
            return next((c for c in self.certificates if c.key_id == sid.content), None)
        issuer, serial = sid.children()
        for cert in self.certificates:
            if cert.issuer_node.der == issuer.der and cert.serial == serial.content:
                return cert
        return None


def attributes(signer, tag):
    """{oid: [values]} of a SignerInfo's attributes in context tag TAG
    (0xA0 signed, 0xA1 unsigned)."""
    found = {}
    for field in signer.children():
        if field.tag == tag:
            for attribute in field.children():
                key, values = attribute.children()
                found.setdefault(key.oid(), []).extend(values.children())
    return found


def encrypted_digest(signer):
    """The signature value of a SignerInfo: its last OCTET STRING."""
    return [f for f in signer.children() if f.tag == 0x04][-1].content


# --- The exe ---

def signature_bytes(exe):
    """The PKCS #7 blob in EXE's certificate table, or None when unsigned."""
    try:
        data = pathlib.Path(exe).read_bytes()
    except OSError as error:
        raise Unreadable(f"cannot read {exe}: {error.strerror}") from None
    try:
        _, directories = pe_sections(data)
        offset, size = struct.unpack_from("<II", data, directories + 8 * SECURITY_DIRECTORY)
    except (ValueError, struct.error):
        raise Unreadable(f"{exe} is not a PE file") from None
    if not offset or not size:
        return None
    if offset + size > len(data):
        raise Unreadable(f"{exe}: its certificate table runs past the end of the file")
    length, _, kind = struct.unpack_from("<IHH", data, offset)
    if kind != WIN_CERT_TYPE_PKCS_SIGNED_DATA or length > size:
        raise Unreadable(f"{exe}: its certificate table holds no Authenticode signature")
    return data[offset + 8:offset + length]


class Stamp:
    def __init__(self, signer, time, imprint_ok):
        self.signer, self.time, self.imprint_ok = signer, time, imprint_ok
        self.rfc3161 = False


def time_stamp(signed):
    """The signature's time stamp (an RFC 3161 one first), or None."""
    unsigned = attributes(signed.signer, 0xA1)
    digest = encrypted_digest(signed.signer)
    for token in unsigned.get(RFC3161_STAMP, []):
        inner = SignedData(token)
        encapsulated = inner.content.children()
        if encapsulated[0].oid() != TST_INFO:
            continue
        info = parse(explicit(encapsulated[1]).content).children()
        imprint = info[2].children()
        algorithm = HASHES.get(imprint[0].children()[0].oid())
        imprint_ok = bool(algorithm) and hashlib.new(algorithm, digest).digest() == imprint[1].content
        tsa = inner.signer_certificate()
        stamp = Stamp(tsa.subject if tsa else "an unnamed time-stamping authority",
                      info[4].time(), imprint_ok)
        stamp.rfc3161 = True
        return stamp
    for counter in unsigned.get(COUNTERSIGNATURE, []):
        signed_attributes = attributes(counter, 0xA0)
        times = signed_attributes.get(SIGNING_TIME, [])
        tsa = signed.signer_certificate(counter)
        return Stamp(tsa.subject if tsa else "an unnamed time-stamping authority",
                     times[0].time() if times else None, True)
    return None


def chain(signed, leaf):
    """The certificates from LEAF upwards, as far as the signature carries
    them, found by issuer name."""
    path = [leaf]
    while path[-1].issuer != path[-1].subject:
        above = [c for c in signed.certificates
                 if c.subject_node.der == path[-1].issuer_node.der and c not in path]
        if not above:
            break
        path.append(above[0])
    return path


def links_verify(path):
    """Whether each certificate of PATH is signed by the next one's key
    (OpenSSL, with the top one as the anchor, times not checked: the
    leaf lasts days and the time stamp vouches for it)."""
    if len(path) < 2:
        return False
    with tempfile.TemporaryDirectory() as folder:
        top, middle, leaf = (os.path.join(folder, n) for n in ("top.pem", "middle.pem", "leaf.pem"))
        pathlib.Path(top).write_text(path[-1].pem())
        pathlib.Path(middle).write_text("".join(c.pem() for c in path[1:-1]) or path[-1].pem())
        pathlib.Path(leaf).write_text(path[0].pem())
        done = subprocess.run(["openssl", "verify", "-partial_chain", "-no_check_time",
                               "-CAfile", top, "-untrusted", middle, leaf],
                              capture_output=True, text=True)
        return done.returncode == 0


def public_trust_faults(signed, leaf, stamp):
    """Why this signature is not the service's public-trust one: [] if it is."""
    faults = []
    if stamp is None or not stamp.rfc3161:
        faults.append("no RFC 3161 time stamp: the certificate lasts 72 hours, and without a"
                      " stamp the signature expires with it")
    elif not stamp.imprint_ok:
        faults.append("the RFC 3161 time stamp is not over this signature")
    if PUBLIC_TRUST_EKU not in leaf.usages:
        faults.append(f"the signing certificate lacks the Public Trust usage {PUBLIC_TRUST_EKU}"
                      " (a Public Trust Test or Private Trust profile?)")
    path = chain(signed, leaf)
    top = path[-1]
    if top.subject == PUBLIC_TRUST_ROOT:
        at_root = top.issuer == top.subject and top.sha1() == PUBLIC_TRUST_ROOT_SHA1
    else:
        at_root = top.issuer == PUBLIC_TRUST_ROOT
    if top.subject == PUBLIC_TRUST_ROOT and not at_root:
        faults.append(f"the chain's root bears the service's root's name but is another certificate"
                      f" (SHA-1 {top.sha1()}, not {PUBLIC_TRUST_ROOT_SHA1})")
    elif not at_root:
        faults.append(f"the certificate chain ends at '{top.issuer}', not at the service's root"
                      f" '{PUBLIC_TRUST_ROOT}' (SHA-1 {PUBLIC_TRUST_ROOT_SHA1})")
    elif len(path) < 2:
        faults.append("the signature carries no certificate above the signing one: its chain"
                      " cannot be checked")
    elif not links_verify(path):
        faults.append("the certificate chain's signatures do not verify")
    return faults


def read(exe):
    """(SignedData, leaf certificate, stamp) of EXE, or None if unsigned."""
    blob = signature_bytes(exe)
    if blob is None:
        return None
    try:
        signed = SignedData(parse(blob))
        leaf = signed.signer_certificate()
        if leaf is None:
            raise Unreadable("the signature does not carry its signer's certificate")
        return signed, leaf, time_stamp(signed)
    except (IndexError, ValueError) as error:
        raise Unreadable(f"{exe}: its signature cannot be read ({error})") from None


def main(argv):
    if len(argv) != 3 or argv[1] not in ("describe", "public"):
        sys.exit("usage: authenticode.py describe|public EXE")
    try:
        found = read(argv[2])
    except Unreadable as error:
        sys.exit(f"authenticode: {error}")
    if argv[1] == "describe":
        if found is None:
            print("signed: no")
            return
        signed, leaf, stamp = found
        print("signed: yes")
        print(f"trust: {'test' if public_trust_faults(signed, leaf, stamp) else 'public'}")
        print(f"subject: {leaf.subject}")
        print(f"issuer: {leaf.issuer}")
        if stamp and stamp.time:
            print(f"timestamp: {stamp.signer}, {stamp.time:%Y-%m-%dT%H:%M:%SZ}")
        else:
            print("timestamp: none")
        return
    if found is None:
        sys.exit(f"authenticode: {argv[2]} is not signed")
    faults = public_trust_faults(*found)
    for fault in faults:
        print(f"authenticode: not a public-trust signature: {fault}", file=sys.stderr)
    sys.exit(1 if faults else 0)


if __name__ == "__main__":
    main(sys.argv)
