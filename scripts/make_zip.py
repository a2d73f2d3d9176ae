#!/usr/bin/env python3
"""Writes a zip whose bytes depend only on its contents: entries in the order given, every entry
with the same fixed time and attributes, the same compression.

usage: make_zip.py ZIP EPOCH NAME=FILE...   (EPOCH: the entries' time, seconds since 1970, UTC)
"""
import sys
import time
import zipfile


def main():
    target, epoch, entries = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
    # Zip times have two-second steps and start in 1980.
    stamp = time.gmtime(max(epoch, 315532800))[:6]
    with zipfile.ZipFile(target, "w") as archive:
        for entry in entries:
            name, path = entry.split("=", 1)
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 0  # made on "MS-DOS": attributes are Windows ones
            info.external_attr = 0x20  # FILE_ATTRIBUTE_ARCHIVE, as Explorer's own zips
            with open(path, "rb") as f:
                archive.writestr(info, f.read(), compresslevel=9)


if __name__ == "__main__":
    main()
