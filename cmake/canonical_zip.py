"""Writes a zip archive again with the same files, holding nothing of where it was made.

    canonical_zip.py ARCHIVE SOURCE_DATE_EPOCH

Entries go in the order of their names; each carries SOURCE_DATE_EPOCH as its time in UTC, mode
755 if it was a folder or executable and 644 otherwise, and no extra fields (those would hold the
builder's user and group, and more times).
"""

import os
import sys
import time
import zipfile

# A zip time cannot say anything earlier.
DOS_EPOCH = (1980, 1, 1, 0, 0, 0)


def main(archive, epoch):
    when = max(time.gmtime(int(epoch))[:6], DOS_EPOCH)
    with zipfile.ZipFile(archive) as old:
        entries = [(info, old.read(info)) for info in old.infolist()]
    entries.sort(key=lambda entry: entry[0].filename.encode())
    scratch = archive + ".new"
    with zipfile.ZipFile(scratch, "w") as new:
        for info, data in entries:
            canonical = zipfile.ZipInfo(info.filename, when)
            canonical.create_system = 3  # Unix, so that unzip reads the mode
            if info.is_dir():
                canonical.external_attr = 0o40755 << 16 | 0x10  # and MS-DOS's folder bit
            elif (info.external_attr >> 16) & 0o111:
                canonical.external_attr = 0o100755 << 16
            else:
                canonical.external_attr = 0o100644 << 16
            canonical.compress_type = zipfile.ZIP_DEFLATED
            new.writestr(canonical, data, compresslevel=9)
    os.replace(scratch, archive)


if __name__ == "__main__":
    if len(sys.argv) != 3 or not sys.argv[2].isdigit():
        raise SystemExit(__doc__)
    main(sys.argv[1], sys.argv[2])
