#!/usr/bin/env python3
"""Runs a command with a small disk of its own: a tmpfs of SIZE mounted on a fresh folder, for
tests of a disk that fills up. Needs root (mount); without it the command runs all the same,
without the disk, and the tests that need it skip (under CI=true it fails instead: CI runs as
root, where these tests must run).

    with_small_disk.py SIZE COMMAND ARGS...     (SIZE as mount takes it: 16m)

The command finds the disk through its environment:
    XLDL_TEST_SMALL_DISK      the folder
    XLDL_TEST_SMALL_DISK_WIN  the same folder as Wine sees it (Z:\\...)
The exit code is the command's.
"""

import os
import subprocess
import sys
import tempfile


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    size, args = sys.argv[1], sys.argv[2:]
    folder = tempfile.mkdtemp(prefix="xldl-small-disk-")
    env = dict(os.environ)
    mounted = subprocess.call(["mount", "-t", "tmpfs", "-o", "size=" + size, "tmpfs", folder],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL) == 0
    if mounted:
        env["XLDL_TEST_SMALL_DISK"] = folder
        env["XLDL_TEST_SMALL_DISK_WIN"] = "Z:" + folder.replace("/", "\\")
    else:
        print("with_small_disk: no tmpfs of %s could be mounted" % size, file=sys.stderr)
        if os.environ.get("CI") == "true":
            os.rmdir(folder)
            return 1
    try:
        return subprocess.call(args, env=env)
    finally:
        if mounted:
            subprocess.call(["umount", folder])
        os.rmdir(folder)


if __name__ == "__main__":
    sys.exit(main())
