#!/usr/bin/env python3
"""Writes a zip whose bytes depend only on the files put in it.

    make-zip.py OUT.zip SOURCE_DIR FILE...

The entries go in the order given, each stored deflated at level 9 with the same
permissions (rw-r--r--) and the same time: SOURCE_DATE_EPOCH when it is set, else the
time of the source tree's last commit, else 1 January 1980 (the earliest a zip can
hold). Times are taken as UTC, so the machine's time zone does not matter.
"""
import os
import subprocess
import sys
import time
import zipfile

EARLIEST = 315532800  # 1980-01-01 00:00:00 UTC


def build_time(source_dir):
    value = os.environ.get("SOURCE_DATE_EPOCH", "").strip()
    if not value:
        try:
            value = subprocess.run(["git", "-C", source_dir, "log", "-1", "--format=%ct"],
                                   capture_output=True, text=True, check=True).stdout.strip()
        except (OSError, subprocess.CalledProcessError):
            value = ""
    seconds = int(value) if value.isdigit() else EARLIEST
    return time.gmtime(max(seconds, EARLIEST))[:6]


def main():
    out, source_dir, files = sys.argv[1], sys.argv[2], sys.argv[3:]
    stamp = build_time(source_dir)
    partial = out + ".part"
    with zipfile.ZipFile(partial, "w") as z:
        for name in files:
            entry = zipfile.ZipInfo(os.path.basename(name), date_time=stamp)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.create_system = 3  # the permissions below are Unix ones
            entry.external_attr = 0o100644 << 16
            with open(name, "rb") as f:
                z.writestr(entry, f.read(), compresslevel=9)
    os.replace(partial, out)


if __name__ == "__main__":
    main()
