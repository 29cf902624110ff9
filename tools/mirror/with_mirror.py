#!/usr/bin/env python3
"""Runs a command with a mirror serving a fresh temporary folder, then stops the mirror and
removes the folder. For the engine's tests:

    with_mirror.py COMMAND ARGS...

The command finds the mirror through its environment:
    XLDL_TEST_MIRROR    host:port of the mirror (control at /_mirror/...)
    XLDL_TEST_ROOT      the served folder
    XLDL_TEST_ROOT_WIN  the same folder as Wine sees it (Z:\\...)
The exit code is the command's.
"""

import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from mirror import Mirror  # noqa: E402


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    root = tempfile.mkdtemp(prefix="xldl-mirror-")
    mirror = Mirror(root)
    mirror.start()
    env = dict(os.environ)
    env["XLDL_TEST_MIRROR"] = "127.0.0.1:%d" % mirror.port
    env["XLDL_TEST_ROOT"] = root
    env["XLDL_TEST_ROOT_WIN"] = "Z:" + root.replace("/", "\\")
    try:
        return subprocess.call(sys.argv[1:], env=env)
    finally:
        mirror.stop()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
