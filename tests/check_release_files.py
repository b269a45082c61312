"""Checks what the release build wrote beside the zip: the build record names
the toolchain actually installed, and the winget and Scoop manifests parse,
hold every field their formats require, and point at this zip, its SHA-256,
the exe inside it and the version in that exe's version resource; the winget
files also carry what the community repository's validation asks for: the
schema header of their type, an identifier Owner.winprobe and the release
date.

Prints every fault it finds and exits 1 if there was one.
"""

import argparse
import datetime
import hashlib
import json
import os
import pathlib
import re
import struct
import subprocess
import sys
import zipfile

try:
    import yaml
except ImportError:
    sys.exit("check_release_files: needs PyYAML (Debian: python3-yaml)")

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


def version_resource(exe):
    """major.minor.patch from the exe's VS_FIXEDFILEINFO (file and product
    version must agree, the fourth part must be 0), or None."""
    data = exe
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        return None
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    rsrc_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    table = optional + optional_size

    def offset(rva):
        for i in range(sections):
            size, address, _, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
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
    expect(f"  {zip_digest}  {args.package_name}.zip" in lines,
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
    for tool in ("binutils-mingw-w64-i686" if args.package_name.endswith("win32")
                 else "binutils-mingw-w64-x86-64", "cmake", "ninja-build"):
        expect(re.search(rf"^  {re.escape(tool)} \S+ \S+:", record, re.M),
               f"the build record names no {tool}")


def winget_file(path, kind):
    try:
        text = path.read_text()
        manifest = yaml.safe_load(text)
    except (OSError, yaml.YAMLError) as error:
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
    arch = "x86" if args.package_name.endswith("win32") else "x64"
    expect(entry.get("Architecture") == arch, f"winget: Architecture is not {arch}")
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


def check_scoop(manifests, entries, zip_digest, download, version, repository):
    try:
        scoop = json.loads((manifests / "winprobe.json").read_text())
    except (OSError, ValueError) as error:
        faults.append(f"winprobe.json does not parse: {error}")
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


def main():
    parser = argparse.ArgumentParser()
    for option in ("--build-dir", "--package-name", "--version", "--epoch", "--source-dir",
                   "--cxx", "--repository-url", "--package-id"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    build = pathlib.Path(args.build_dir)
    zip_path = build / f"{args.package_name}.zip"
    zip_digest = hashlib.sha256(zip_path.read_bytes()).hexdigest()
    with zipfile.ZipFile(zip_path) as archive:
        entries = set(archive.namelist())
        exe = archive.read(f"{args.package_name}/winprobe.exe")
    version = version_resource(exe)
    expect(version == args.version,
           f"the exe's version resource says {version}, CMakeLists.txt {args.version}")
    version = version or args.version
    repository = args.repository_url.rstrip("/")
    download = f"{repository}/releases/download/v{version}/{zip_path.name}"

    record = build / f"{args.package_name}-buildinfo.txt"
    if expect(record.exists(), f"the build wrote no {record.name}"):
        check_buildinfo(args, record.read_text(), zip_digest)
    manifests = build / "manifests"
    check_winget(args, manifests, entries, zip_digest, download, version, repository)
    check_scoop(manifests, entries, zip_digest, download, version, repository)

    for fault in faults:
        print(f"check_release_files: {fault}", file=sys.stderr)
    if faults:
        return 1
    print(f"check_release_files: {args.package_name}: build record and manifests agree "
          f"with the zip ({zip_digest}) and the exe's version {version}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
