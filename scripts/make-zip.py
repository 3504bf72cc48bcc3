#!/usr/bin/env python3
"""Writes a zip whose bytes depend only on the files put in it and its time.

    make-zip.py OUT.zip SOURCE_DIR FILE...
    make-zip.py --note-time STAMP SOURCE_DIR

The entries go in the order given, each stored deflated at level 9 with the same
permissions (rw-r--r--) and the same time: SOURCE_DATE_EPOCH when it is set, else the
time of the last commit of SOURCE_DIR when it is a git checkout of its own, else
1 January 1980 (the earliest a zip can hold). Times are taken as UTC, so the machine's
time zone does not matter. --note-time writes that time to STAMP and touches it only
when it changed: the build makes the zip again whenever its time changes.
"""
import os
import subprocess
import sys
import time
import zipfile

EARLIEST = 315532800  # 1980-01-01 00:00:00 UTC


def git(source_dir, *args):
    try:
        return subprocess.run(["git", "-C", source_dir, *args], capture_output=True, text=True,
                              check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return ""


def build_seconds(source_dir):
    value = os.environ.get("SOURCE_DATE_EPOCH", "").strip()
    # A source archive unpacked inside another checkout must not take that one's time.
    if not value and os.path.realpath(git(source_dir, "rev-parse", "--show-toplevel") or "/-") == \
            os.path.realpath(source_dir):
        value = git(source_dir, "log", "-1", "--format=%ct")
    seconds = int(value) if value.isdigit() else EARLIEST
    return max(seconds, EARLIEST)


def note_time(stamp, source_dir):
    text = "%d\n" % build_seconds(source_dir)
    try:
        with open(stamp) as f:
            if f.read() == text:
                return
    except OSError:
        pass
    with open(stamp, "w") as f:
        f.write(text)


def main():
    if sys.argv[1] == "--note-time":
        note_time(sys.argv[2], sys.argv[3])
        return
    out, source_dir, files = sys.argv[1], sys.argv[2], sys.argv[3:]
    stamp = time.gmtime(build_seconds(source_dir))[:6]
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
