"""The release's one tool: it packs the zip, writes the files that go beside
it, and checks all of them.

    release.py zip --epoch SECONDS --out ZIP FOLDER
    release.py text --names ENV --out FILE SOURCE
    release.py buildinfo --names ENV --out FILE --source-dir DIR
        --cxx COMPILER --rc RC --cmake CMAKE --ninja NINJA FILE...
    release.py manifests --names ENV --out-dir DIR --zip ZIP TEMPLATE...
    release.py check --names ENV --build-dir DIR --source-dir DIR --cxx COMPILER
        [--version X.Y.Z] [--repository-url URL] [--package-id ID]
    release.py notes --names ENV --build-dir DIR --commit SHA
        --signature FILE --route ROUTE --out FILE TEMPLATE

ENV is the build folder's release.env, where release/CMakeLists.txt writes
every name of the release (package, folder, architecture, version,
repository) as NAME='value' lines; nothing here makes a name of its own. The
check's options stand in for a name of ENV, so that the tests can give it
another. Every template (the read-me, the manifests, the notes) is filled by
one engine, fill(): @NAME@ takes the value of NAME, and a name without a
value stops the tool.

The zip holds one folder, FOLDER's name, with FOLDER's files in a fixed order,
every entry stamped with the given time and the same attributes, and nothing
of the machine (owner, permissions, time zone) inside: the same inputs give
the same bytes on any machine, at any time, under any user. Its SHA-256 goes
beside it as "<digest>  <name>".

The build record names every Debian package whose files shape the bytes, as
the package database has them at build time, so that anyone can install the
same versions and rebuild the same zip. The manifests are the templates with
the version, the download address, the zip's SHA-256 and the release date
(the day of SOURCE_DATE_EPOCH, in UTC) filled in.

The notes say what was published: the version and the commit, whether and
how the exe was signed (from `release/sign.sh describe`), and the commands
that fetch, verify and rebuild this release, filled in; notes with a
placeholder left in them are refused.

The check prints every fault it finds and exits 1 if there was one: the zip
holds exactly the staged files, stamped with the commit's time, and its
checksum file matches; the read-me inside names no placeholder and links
only to the repository or to files the zip holds; the build record names
the toolchain actually installed; the winget and Scoop manifests parse, hold
every field their formats require, and point at this zip, its SHA-256, the
exe inside it and the version in that exe's version resource; the winget
files carry what the community repository's validation asks for: the schema
header of their type, an identifier Owner.winprobe and the release date.
"""

import argparse
import datetime
import hashlib
import json
import os
import pathlib
import re
import shlex
import shutil
import struct
import subprocess
import sys
import time
import zipfile

ZIP_EPOCH_MIN = 315532800  # 1980-01-01, the earliest time a zip entry holds
FILE_ATTRIBUTE_ARCHIVE = 0x20
# The files a user finds after unpacking, in the zip's one folder.
ZIP_FILES = ["LICENSE.txt", "README.txt", "winprobe.exe"]
READ_ME = "README.txt"
# What a template's blank looks like, and what is left of one once filled:
# an @NAME@, or OWNER, the placeholder address's owner.
BLANK = re.compile(r"@([A-Z0-9_]+)@")
LEFT_OVER = re.compile(r"@[A-Z0-9_]+@|\bOWNER\b")


def read_names(path):
    """The release's names, as release/CMakeLists.txt wrote them."""
    names = {}
    for line in pathlib.Path(path).read_text().splitlines():
        if line and not line.startswith("#"):
            name, _, value = shlex.split(line)[0].partition("=")
            names[name] = value
    return names


def fill(text, values, where):
    """The one template engine: each @NAME@ in text takes values[NAME]."""
    def value(match):
        if match.group(1) not in values:
            sys.exit(f"release.py: {where}: no value for {match.group(0)}")
        return str(values[match.group(1)])

    return BLANK.sub(value, text)


def write_text(args):
    """A text file for Notepad: its blanks filled, CR LF line ends."""
    text = fill(args.source.read_text(), read_names(args.names), args.source.name)
    args.out.parent.mkdir(parents=True, exist_ok=True)
    args.out.write_bytes(text.replace("\r\n", "\n").replace("\n", "\r\n").encode())


def zip_entry(name, epoch):
    info = zipfile.ZipInfo(name, time.gmtime(max(epoch, ZIP_EPOCH_MIN))[:6])
    info.create_system = 0  # MS-DOS and Windows attributes
    info.external_attr = FILE_ATTRIBUTE_ARCHIVE
    info.compress_type = zipfile.ZIP_DEFLATED
    return info


def pack(args):
    folder = args.folder
    with zipfile.ZipFile(args.out, "w") as zf:
        for path in sorted(p for p in folder.iterdir() if p.is_file()):
            zf.writestr(zip_entry(f"{folder.name}/{path.name}", args.epoch), path.read_bytes(),
                        compresslevel=9)
    digest = hashlib.sha256(args.out.read_bytes()).hexdigest()
    sums = args.out.with_name(args.out.name + ".sha256")
    sums.write_bytes(f"{digest}  {args.out.name}\n".encode())


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
        f"SOURCE_DATE_EPOCH: {read_names(args.names)['WINPROBE_SOURCE_DATE_EPOCH']}",
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


def download_url(names):
    return (f"{names['WINPROBE_REPOSITORY_URL']}/releases/download/v{names['PROJECT_VERSION']}/"
            f"{names['WINPROBE_ZIP']}")


def release_values(names, zip_path):
    """The names, and what the built zip adds to them."""
    digest = hashlib.sha256(zip_path.read_bytes()).hexdigest()
    epoch = int(names["WINPROBE_SOURCE_DATE_EPOCH"])
    return {
        **names,
        "DOWNLOAD_URL": download_url(names),
        "SHA256": digest,
        "SHA256_UPPER": digest.upper(),
        "RELEASE_DATE": datetime.datetime.fromtimestamp(epoch, datetime.timezone.utc)
        .date().isoformat(),
    }


def winget_names(names):
    """winget names its files after the package: ID.yaml, ID.installer.yaml,
    ID.locale.en-US.yaml."""
    ident = names["WINPROBE_PACKAGE_ID"]
    return [f"{ident}.yaml", f"{ident}.installer.yaml", f"{ident}.locale.en-US.yaml"]


def manifests(args):
    values = release_values(read_names(args.names), args.zip)
    ident = values["WINPROBE_PACKAGE_ID"]
    args.out_dir.mkdir(parents=True, exist_ok=True)
    # The release publishes the folder whole: no manifest of an earlier
    # identifier may stay in it.
    for stale in args.out_dir.glob("*.yaml"):
        stale.unlink()
    for template in args.templates:
        text = fill(template.read_text(), values, template.name)
        name = template.name.removesuffix(".in")
        if template.parent.name == "winget":
            name = f"{ident}.{name}".replace(".version.yaml", ".yaml")
        elif template.parent.name == "scoop":
            name = values["WINPROBE_SCOOP_MANIFEST"]
        (args.out_dir / name).write_text(text)



# The routes a release is signed by (release.sh passes one): none, a
# PKCS#12 file, or a hook; the throwaway hook is the test signer.
THROWAWAY_HOOK = "throwaway-sign.sh"


def read_description(description):
    """`release/sign.sh describe`'s lines, as a dict."""
    return dict(line.split(": ", 1) for line in description.splitlines() if ": " in line)


def describe_signature(said, route):
    """The notes' words on the signature, from what `release/sign.sh
    describe` said and the route release.sh took; stops where the two
    disagree."""
    if said.get("signed") not in ("yes", "no"):
        sys.exit(f"release.py: sign.sh describe said no 'signed: yes|no': {said!r}")
    if said["signed"] == "no":
        if route != "none":
            sys.exit(f"release.py: the release was to be signed ({route}), but its exe carries "
                     "no signature")
        return ("**Unsigned.** `winprobe.exe` carries no signature: SmartScreen warns before it "
                "starts, and Smart App Control blocks it (the README says what to do).")
    for key in ("trust", "subject", "issuer", "timestamp"):
        if not said.get(key):
            sys.exit(f"release.py: sign.sh describe gave no '{key}' for a signed exe")
    if route == "none":
        sys.exit("release.py: no signing was configured, yet the exe carries a signature")
    kind, _, hook = route.partition(":")
    throwaway = kind == "hook" and pathlib.PurePath(hook).name == THROWAWAY_HOOK
    if kind == "hook" and not throwaway:
        how = f"through the signing service's hook `{hook}`"
    elif throwaway:
        how = (f"by the throwaway test signer `{hook}` (a self-signed certificate made for "
               "this one signature, then thrown away)")
    elif kind == "pfx":
        how = "with a PKCS#12 certificate and key (`WINPROBE_SIGN_PFX`)"
    else:
        sys.exit(f"release.py: unknown signing route {route!r}")
    stamp = ("no time stamp" if said["timestamp"] == "none"
             else f"a time stamp from {said['timestamp']}")
    who = f"by \"{said['subject']}\" (issued by \"{said['issuer']}\"), {how}, with {stamp}"
    if said["trust"] == "public" and not throwaway:
        return f"**Signed** {who}."
    if said["trust"] in ("test", "public"):
        return (f"**Test signature, not trusted by Windows.** `winprobe.exe` is signed {who}. "
                "Windows treats it as it treats an unsigned exe: SmartScreen warns, and Smart "
                "App Control blocks it.")
    sys.exit(f"release.py: sign.sh describe gave trust {said['trust']!r}")


def rebuild_check(said, names, digest):
    """The notes' last command: what shows that the rebuild is the release.
    A rebuild is unsigned, so a signed release's zip cannot match it; its
    exe, with the signature removed, must."""
    if said["signed"] == "no":
        return f"sha256sum build/release/{names['WINPROBE_ZIP']}    # {digest}"
    return "\n".join([
        "# The release's exe is signed and the rebuilt one is not: once its",
        "# signature is removed, it must be the rebuilt exe byte for byte.",
        f"# With {names['WINPROBE_ZIP']} downloaded into this folder:",
        f"python3 -m zipfile -e {names['WINPROBE_ZIP']} published",
        f"release/sign.sh same published/{names['WINPROBE_PACKAGE_NAME']}/winprobe.exe "
        "build/release/bin/winprobe.exe",
    ])


def notes(args):
    names = read_names(args.names)
    build = pathlib.Path(args.build_dir)
    values = release_values(names, build / names["WINPROBE_ZIP"])
    asset_url = download_url(names).rsplit("/", 1)[0]
    winget = winget_names(names)
    said = read_description(args.signature.read_text())
    values.update({
        "COMMIT": args.commit,
        "SIGNATURE": describe_signature(said, args.route),
        "REBUILD_CHECK": rebuild_check(said, names, values["SHA256"]),
        "ASSET_URL": asset_url,
        "WINGET_FILES": ", ".join(f"`{name}`" for name in winget),
        # Without -UseBasicParsing, Windows PowerShell 5.1 stops each download
        # at a security prompt (its December 2025 update); 7 accepts and ignores it.
        "WINGET_DOWNLOADS": "\n".join(
            f"Invoke-WebRequest {asset_url}/{name} -OutFile {name} -UseBasicParsing"
            for name in winget),
    })
    text = fill(args.template.read_text(), values, args.template.name)
    left = sorted(set(LEFT_OVER.findall(text)))
    if left:
        sys.exit(f"release.py: the notes would keep the placeholder(s) {', '.join(left)}: "
                 "give the repository's address as WINPROBE_REPOSITORY_URL")
    args.out.write_text(text)


faults = []


def expect(condition, message):
    if not condition:
        faults.append(message)
    return condition


# Required fields of the winget multi-file manifests (schema 1.12.0), by file.
WINGET_REQUIRED = {
    "version": ["PackageIdentifier", "PackageVersion", "DefaultLocale", "ManifestType",
                "ManifestVersion"],
    "installer": ["PackageIdentifier", "PackageVersion", "Installers", "ManifestType",
                  "ManifestVersion"],
    "defaultLocale": ["PackageIdentifier", "PackageVersion", "PackageLocale", "Publisher",
                      "PackageName", "License", "ShortDescription", "ManifestType",
                      "ManifestVersion"],
}
WINGET_INSTALLER_REQUIRED = ["Architecture", "InstallerUrl", "InstallerSha256"]
# winget-pkgs rejects a file whose schema header is missing or names another
# type or version than its ManifestType and ManifestVersion.
WINGET_HEADER = "# yaml-language-server: $schema=https://aka.ms/winget-manifest.{}.1.12.0.schema.json"
# What an identifier's parts may not hold, and how long each may be.
WINGET_ID_FORBIDDEN = re.compile(r'[.\s\\/:*?"<>|\x00-\x1f]')
WINGET_ID_PART_MAX = 32
# Scoop's required and expected fields, and what an update needs.
SCOOP_REQUIRED = ["version", "description", "homepage", "license", "url", "hash", "bin",
                  "checkver", "autoupdate"]


IMAGE_SCN_MEM_EXECUTE = 0x20000000


def pe_header(data):
    """The offset of a PE file's "PE\\0\\0" header: the one place the release
    finds it."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    return pe


def pe_sections(data):
    """(virtual size, virtual address, raw size, raw offset, flags) of each
    section of a PE file's bytes, and the offset of its data directories."""
    pe = pe_header(data)
    count, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    table = optional + optional_size
    sections = [struct.unpack_from("<IIII12xI", data, table + 40 * i + 8) for i in range(count)]
    return sections, directories


def pe_time_stamp(data):
    """The TimeDateStamp of a PE file's header, or None."""
    try:
        return struct.unpack_from("<I", data, pe_header(data) + 8)[0]
    except (ValueError, struct.error):
        return None


def code_offset(data):
    """The file offset of the first executable section's bytes."""
    for _, _, raw_size, raw, flags in pe_sections(data)[0]:
        if flags & IMAGE_SCN_MEM_EXECUTE and raw_size:
            return raw
    raise ValueError("no executable section")


def version_resource(exe):
    """major.minor.patch from the exe's VS_FIXEDFILEINFO (file and product
    version must agree, the fourth part must be 0), or None."""
    data = exe
    try:
        sections, directories = pe_sections(data)
    except (ValueError, struct.error):
        return None
    rsrc_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]

    def offset(rva):
        for size, address, _, raw, _ in sections:
            if address <= rva < address + max(size, 1):
                return raw + rva - address
        raise ValueError(f"RVA {rva:#x} in no section")

    root = offset(rsrc_rva)

    def entries(directory):
        named, ids = struct.unpack_from("<HH", data, root + directory + 12)
        for i in range(named + ids):
            yield struct.unpack_from("<II", data, root + directory + 16 + 8 * i)

    def first(directory, wanted=None):
        for name, target in entries(directory):
            if wanted is None or name == wanted:
                return target
        return None

    rt_version = first(0, 16)
    if rt_version is None:
        return None
    name = first(rt_version & 0x7FFFFFFF)
    language = first(name & 0x7FFFFFFF)
    rva, _ = struct.unpack_from("<II", data, root + language)
    info = offset(rva)
    # VS_VERSIONINFO: three WORDs, "VS_VERSION_INFO\0" in UTF-16, padding to
    # a DWORD, then VS_FIXEDFILEINFO.
    fixed = info + 6 + 32
    fixed += -fixed % 4
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", data, fixed)
    if signature != 0xFEEF04BD or (file_ms, file_ls) != (product_ms, product_ls) or file_ls & 0xFFFF:
        return None
    return f"{file_ms >> 16}.{file_ms & 0xFFFF}.{file_ls >> 16}"


def check_buildinfo(args, record, zip_digest):
    lines = record.splitlines()
    head = subprocess.run(["git", "-C", args.source_dir, "rev-parse", "HEAD"],
                          capture_output=True, text=True)
    if head.returncode == 0:
        expect(any(line.startswith(f"commit: {head.stdout.strip()}") for line in lines),
               f"the build record names no commit {head.stdout.strip()}")
    expect(f"SOURCE_DATE_EPOCH: {args.epoch}" in lines,
           f"the build record does not say SOURCE_DATE_EPOCH: {args.epoch}")
    expect(f"  {zip_digest}  {args.zip}" in lines,
           f"the build record does not give the zip's SHA-256 {zip_digest}")
    # The compiler: the package that owns it, at the version installed now,
    # whose upstream version is the one the compiler reports.
    owner = subprocess.run(["dpkg-query", "-S", os.path.realpath(args.cxx)],
                           capture_output=True, text=True)
    if not expect(owner.returncode == 0, f"no Debian package owns {args.cxx}"):
        return
    package = owner.stdout.split(":")[0]
    installed = subprocess.run(["dpkg-query", "-W", "-f=${Version}", package],
                               capture_output=True, text=True, check=True).stdout
    major = subprocess.run([args.cxx, "-dumpversion"], capture_output=True, text=True,
                           check=True).stdout.split(".")[0].split("-")[0]
    named = [line for line in lines if re.match(rf"  {re.escape(package)} \S+ \S+: compiler\b",
                                                 line)]
    if expect(named, f"the build record does not name the compiler's package {package}"):
        recorded = named[0].split()[1]
        expect(recorded == installed,
               f"the build record says {package} {recorded}; {installed} is installed")
        expect(recorded.startswith(major + "."),
               f"{package} {recorded} is not the GCC {major} that {args.cxx} reports")
    # Debian names the cross binutils for the triple's processor.
    binutils = "binutils-mingw-w64-" + args.triple.split("-")[0].replace("_", "-")
    for tool in (binutils, "cmake", "ninja-build"):
        expect(re.search(rf"^  {re.escape(tool)} \S+ \S+:", record, re.M),
               f"the build record names no {tool}")


def winget_file(path, kind):
    import yaml  # only the check needs PyYAML (Debian: python3-yaml)

    try:
        text = path.read_text()
        manifest = yaml.safe_load(text)
    except (OSError, ValueError, yaml.YAMLError) as error:
        faults.append(f"{path.name} does not parse: {error}")
        return {}
    first = text.split("\n", 1)[0]
    expect(first == WINGET_HEADER.format(kind),
           f"{path.name}: the first line is not the {kind} 1.12.0 schema header: {first!r}")
    for field in WINGET_REQUIRED[kind]:
        expect(manifest.get(field) not in (None, "", []), f"{path.name} has no {field}")
    expect(manifest.get("ManifestType") == kind, f"{path.name} is not of ManifestType {kind}")
    expect(manifest.get("ManifestVersion") == "1.12.0", f"{path.name} is not ManifestVersion 1.12.0")
    return manifest


def winget_identifier(ident, repository):
    """The identifier is the repository owner's, Owner.winprobe, in parts
    winget accepts."""
    owner = re.match(r"https://[^/]+/([^/]+)/", repository + "/")
    wanted = f"{owner.group(1) if owner else '?'}.winprobe"
    expect(ident == wanted, f"winget: the identifier {ident} is not {wanted}, the repository owner's")
    for part in ident.split("."):
        expect(0 < len(part) <= WINGET_ID_PART_MAX and not WINGET_ID_FORBIDDEN.search(part),
               f"winget: the identifier part {part!r} is not 1 to {WINGET_ID_PART_MAX} characters "
               "without blanks or any of \\/:*?\"<>|")


def check_winget(args, manifests, entries, zip_digest, download, version, repository):
    ident = args.package_id
    winget_identifier(ident, repository)
    files = {
        "version": winget_file(manifests / f"{ident}.yaml", "version"),
        "installer": winget_file(manifests / f"{ident}.installer.yaml", "installer"),
        "defaultLocale": winget_file(manifests / f"{ident}.locale.en-US.yaml", "defaultLocale"),
    }
    for kind, manifest in files.items():
        expect(manifest.get("PackageIdentifier") == ident, f"winget {kind}: not {ident}")
        expect(manifest.get("PackageVersion") == version,
               f"winget {kind}: PackageVersion {manifest.get('PackageVersion')!r}, the exe {version}")
    expect(files["version"].get("DefaultLocale") == files["defaultLocale"].get("PackageLocale"),
           "winget: DefaultLocale is not the defaultLocale file's PackageLocale")
    expect(files["defaultLocale"].get("License") == "MIT", "winget: License is not MIT")

    installer = files["installer"]
    installers = installer.get("Installers") or [{}]
    expect(len(installers) == 1, "winget: not exactly one installer")
    entry = {**installer, **installers[0]}
    for field in WINGET_INSTALLER_REQUIRED:
        expect(entry.get(field), f"winget installer has no {field}")
    # PyYAML reads an unquoted YYYY-MM-DD as a date.
    day = datetime.datetime.fromtimestamp(int(args.epoch), datetime.timezone.utc).date()
    released = entry.get("ReleaseDate")
    expect(released == day or released == day.isoformat(),
           f"winget: ReleaseDate {released!r} is not {day}, the day of SOURCE_DATE_EPOCH")
    expect(entry.get("InstallerType") == "zip", "winget: InstallerType is not zip")
    expect(entry.get("NestedInstallerType") == "portable", "winget: NestedInstallerType is not portable")
    expect(entry.get("Architecture") == args.arch, f"winget: Architecture is not {args.arch}")
    expect(entry.get("InstallerUrl") == download, f"winget: InstallerUrl is not {download}")
    expect(str(entry.get("InstallerSha256", "")).lower() == zip_digest,
           "winget: InstallerSha256 is not the zip's SHA-256")
    nested = entry.get("NestedInstallerFiles") or []
    if expect(len(nested) == 1, "winget: not exactly one nested installer file"):
        path = str(nested[0].get("RelativeFilePath", "")).replace("\\", "/")
        expect(path in entries, f"winget: the nested file {path} is not in the zip")
        expect(path.endswith("/winprobe.exe"), "winget: the nested file is not winprobe.exe")
        expect(nested[0].get("PortableCommandAlias") == "winprobe",
               "winget: the command alias is not winprobe")


def check_scoop(args, manifests, entries, zip_digest, download, version, repository):
    try:
        scoop = json.loads((manifests / args.scoop_manifest).read_text())
    except (OSError, ValueError) as error:
        faults.append(f"{args.scoop_manifest} does not parse: {error}")
        return
    for field in SCOOP_REQUIRED:
        expect(scoop.get(field) not in (None, "", [], {}), f"scoop: no {field}")
    expect(scoop.get("version") == version, f"scoop: version {scoop.get('version')!r}, the exe {version}")
    expect(scoop.get("url") == download, f"scoop: url is not {download}")
    expect(str(scoop.get("hash", "")).lower() in (zip_digest, f"sha256:{zip_digest}"),
           "scoop: hash is not the zip's SHA-256")
    expect(scoop.get("license") == "MIT", "scoop: license is not MIT")
    expect(scoop.get("homepage") == repository, f"scoop: homepage is not {repository}")
    folder = scoop.get("extract_dir")
    bin_path = f"{folder}/{scoop.get('bin')}" if folder else str(scoop.get("bin"))
    expect(bin_path.replace("\\", "/") in entries, f"scoop: bin {bin_path} is not in the zip")
    update = scoop.get("autoupdate") or {}
    # The next release's address: this one's with $version for the version.
    expect(str(update.get("url", "")).replace("$version", version) == download,
           "scoop: autoupdate's url does not give this release's address")
    expect(str(update.get("extract_dir", "")).replace("$version", version) == folder,
           "scoop: autoupdate's extract_dir does not give this release's folder")



def check_zip(args, build, zip_path):
    """The zip holds exactly the staged folder, stamped with the commit's
    time, and its checksum file matches. Returns the zip's entries and the
    exe's bytes."""
    stage = build / args.package_name
    digest = hashlib.sha256(zip_path.read_bytes()).hexdigest()
    sums = zip_path.with_name(zip_path.name + ".sha256")
    expect(sums.exists() and sums.read_text() == f"{digest}  {zip_path.name}\n",
           f"{sums.name} does not give the zip's SHA-256 {digest}")
    want = [f"{args.package_name}/{name}" for name in ZIP_FILES]
    # A zip entry keeps its time to two seconds.
    stamp = time.gmtime(max(int(args.epoch), ZIP_EPOCH_MIN) // 2 * 2)[:6]
    with zipfile.ZipFile(zip_path) as archive:
        entries = sorted(archive.namelist())
        expect(entries == want, f"the zip holds {entries}, not {want}")
        for info in archive.infolist():
            expect(info.date_time == stamp,
                   f"{info.filename} in the zip is stamped {info.date_time}, the commit {stamp}")
            staged = stage / pathlib.PurePosixPath(info.filename).name
            expect(staged.exists() and archive.read(info) == staged.read_bytes(),
                   f"{info.filename} in the zip is not {staged}")

        def entry(name):
            path = f"{args.package_name}/{name}"
            return archive.read(path) if path in entries else b""

        exe, text = entry("winprobe.exe"), entry(READ_ME)
    check_read_me(args, text.decode("utf-8", "replace"), set(ZIP_FILES))
    return set(entries), exe


# A link in the read-me, and a file named in it that a reader would open.
URL = re.compile(r"https?://[^\s<>()\"']+")
FILE_NAME = re.compile(r"(?<![\w/.-])[\w.-]+\.(?:txt|md)\b")


def check_read_me(args, text, files):
    """What a user opens after unpacking: whole lines for Notepad, no
    placeholder left, and every link either the repository's or a file the
    zip holds."""
    expect(text, f"the zip holds no {READ_ME}")
    expect("\n" not in text.replace("\r\n", ""), f"{READ_ME}: a line does not end in CR LF")
    repository = args.repository_url.rstrip("/") + "/"
    # OWNER stands for the repository's owner until the release names it;
    # a local build of the placeholder address keeps it there alone.
    others = text.replace(repository.rstrip("/"), "")
    for placeholder in sorted(set(LEFT_OVER.findall(others))):
        faults.append(f"{READ_ME}: the placeholder {placeholder} is left in it")
    for url in URL.findall(text):
        expect((url.rstrip(".,;:") + "/").startswith(repository),
               f"{READ_ME}: {url} is not in the repository {repository}")
    for name in sorted(set(FILE_NAME.findall(URL.sub("", text)))):
        expect(name in files, f"{READ_ME}: names {name}, which the zip does not hold")


def check(args):
    build = pathlib.Path(args.build_dir)
    zip_path = build / args.zip
    if not expect(zip_path.exists(), f"the build packed no {zip_path.name}"):
        return report(args, None)
    zip_digest = hashlib.sha256(zip_path.read_bytes()).hexdigest()
    entries, exe = check_zip(args, build, zip_path)
    version = version_resource(exe) if exe else None
    expect(version == args.version,
           f"the exe's version resource says {version}, CMakeLists.txt {args.version}")
    stamp = pe_time_stamp(exe)
    expect(stamp == int(args.epoch),
           f"the exe is stamped {stamp}, not SOURCE_DATE_EPOCH {args.epoch}")
    version = version or args.version
    repository = args.repository_url.rstrip("/")
    download = f"{repository}/releases/download/v{version}/{args.zip}"

    record = build / args.buildinfo
    if expect(record.exists(), f"the build wrote no {record.name}"):
        check_buildinfo(args, record.read_text(), zip_digest)
    manifests = build / "manifests"
    check_winget(args, manifests, entries, zip_digest, download, version, repository)
    check_scoop(args, manifests, entries, zip_digest, download, version, repository)
    return report(args, f"build record, manifests and read-me agree with the zip ({zip_digest}) "
                        f"and the exe's version {version}")


def report(args, summary):
    for fault in faults:
        print(f"release check: {fault}", file=sys.stderr)
    if faults:
        return 1
    print(f"release check: {args.package_name}: {summary}")
    return 0


def main():
    parser = argparse.ArgumentParser()
    commands = parser.add_subparsers(dest="command", required=True)
    packer = commands.add_parser("zip")
    packer.add_argument("--epoch", type=int, required=True)
    packer.add_argument("--out", type=pathlib.Path, required=True)
    packer.add_argument("folder", type=pathlib.Path)
    text = commands.add_parser("text")
    text.add_argument("--names", required=True)
    text.add_argument("--out", type=pathlib.Path, required=True)
    text.add_argument("source", type=pathlib.Path)
    record = commands.add_parser("buildinfo")
    record.add_argument("--names", required=True)
    record.add_argument("--out", type=pathlib.Path, required=True)
    record.add_argument("--source-dir", required=True)
    for tool in ("--cxx", "--rc", "--cmake", "--ninja"):
        record.add_argument(tool, required=True)
    record.add_argument("files", nargs="+", type=pathlib.Path)
    made = commands.add_parser("manifests")
    made.add_argument("--names", required=True)
    made.add_argument("--out-dir", type=pathlib.Path, required=True)
    made.add_argument("--zip", type=pathlib.Path, required=True)
    made.add_argument("templates", nargs="+", type=pathlib.Path)
    checker = commands.add_parser("check")
    for option in ("--names", "--build-dir", "--source-dir", "--cxx"):
        checker.add_argument(option, required=True)
    # Stand-ins for names of ENV, for the tests.
    for option in ("--version", "--repository-url", "--package-id"):
        checker.add_argument(option)
    writer = commands.add_parser("notes")
    for option in ("--names", "--build-dir", "--commit", "--route"):
        writer.add_argument(option, required=True)
    writer.add_argument("--signature", type=pathlib.Path, required=True)
    writer.add_argument("--out", type=pathlib.Path, required=True)
    writer.add_argument("template", type=pathlib.Path)
    args = parser.parse_args()
    if args.command == "check":
        names = read_names(args.names)
        args.version = args.version or names["PROJECT_VERSION"]
        args.repository_url = args.repository_url or names["WINPROBE_REPOSITORY_URL"]
        args.package_id = args.package_id or names["WINPROBE_PACKAGE_ID"]
        args.package_name = names["WINPROBE_PACKAGE_NAME"]
        args.zip = names["WINPROBE_ZIP"]
        args.buildinfo = names["WINPROBE_BUILDINFO"]
        args.scoop_manifest = names["WINPROBE_SCOOP_MANIFEST"]
        args.epoch = names["WINPROBE_SOURCE_DATE_EPOCH"]
        args.arch = names["WINPROBE_ARCH"]
        args.triple = names["WINPROBE_MINGW_TRIPLE"]
    return {"zip": pack, "text": write_text, "buildinfo": buildinfo, "manifests": manifests,
            "check": check, "notes": notes}[args.command](args)


if __name__ == "__main__":
    sys.exit(main())
