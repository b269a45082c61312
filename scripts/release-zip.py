"""Packs the release zip so that the same inputs give the same bytes on any
machine, at any time, under any user: one folder, its files in a fixed
order, every entry stamped with the given time and the same attributes, and
nothing of the machine (owner, permissions, time zone) inside. Writes the
zip's SHA-256 beside it as "<digest>  <name>".

    release-zip.py --epoch SECONDS --folder NAME --out ZIP FILE...
"""

import argparse
import hashlib
import pathlib
import time
import zipfile

ZIP_EPOCH_MIN = 315532800  # 1980-01-01, the earliest time a zip entry holds
FILE_ATTRIBUTE_ARCHIVE = 0x20


def entry(name, epoch):
    info = zipfile.ZipInfo(name, time.gmtime(max(epoch, ZIP_EPOCH_MIN))[:6])
    info.create_system = 0  # MS-DOS and Windows attributes
    info.external_attr = FILE_ATTRIBUTE_ARCHIVE
    info.compress_type = zipfile.ZIP_DEFLATED
    return info


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--epoch", type=int, required=True)
    parser.add_argument("--folder", required=True)
    parser.add_argument("--out", type=pathlib.Path, required=True)
    parser.add_argument("files", nargs="+", type=pathlib.Path)
    args = parser.parse_args()

    with zipfile.ZipFile(args.out, "w") as zf:
        for path in sorted(args.files, key=lambda p: p.name):
            name = f"{args.folder}/{path.name}"
            zf.writestr(entry(name, args.epoch), path.read_bytes(), compresslevel=9)
    digest = hashlib.sha256(args.out.read_bytes()).hexdigest()
    sums = args.out.with_name(args.out.name + ".sha256")
    sums.write_bytes(f"{digest}  {args.out.name}\n".encode())


if __name__ == "__main__":
    main()
