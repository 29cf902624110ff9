#!/usr/bin/env python3
"""Runs a command with the power-cut layer (powercut.py) mounted on a fresh folder over another,
then unmounts it and removes both:

    with_power_cut.py [--at FOLDER] COMMAND ARGS...

The command finds the layer through its environment:
    XLDL_TEST_CUT_CONTROL              127.0.0.1:PORT of the layer's control
    XLDL_TEST_CUT_MOUNT, ..._MOUNT_WIN the mounted folder, as Linux and as Wine see it
    XLDL_TEST_CUT_DISK, ..._DISK_WIN   the folder beneath it: what the disk holds
--at mounts it on FOLDER instead (an existing folder: the build's drive D:), emptied first.
The layer needs root, /dev/fuse and Debian's python3-fuse; without them the command is not
run and this exits 77 (a skipped test), saying which is missing. The exit code is the
command's.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SKIPPED = 77


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def python_with_fuse():
    """An interpreter that has fuse-python (Debian installs it for its own python3 only)."""
    for python in (sys.executable, "/usr/bin/python3"):
        if subprocess.call([python, "-c", "import fuse"], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL) == 0:
            return python
    return None


def mounted(folder):
    """Whether something is mounted on `folder`, also a layer whose process died (the folder
    then cannot even be looked at)."""
    with open("/proc/self/mounts") as mounts:
        return any(line.split()[1] == folder for line in mounts)


def unmount(folder):
    # Wine's server may hold a killed program's files a moment longer.
    for _ in range(20):
        if not mounted(folder) or subprocess.call(["umount", folder],
                                                  stderr=subprocess.DEVNULL) == 0:
            return
        time.sleep(0.5)
    subprocess.call(["umount", "-l", folder])


def main():
    args = sys.argv[1:]
    at = None
    if len(args) >= 2 and args[0] == "--at":
        at, args = os.path.abspath(args[1]), args[2:]
    if not args:
        print(__doc__, file=sys.stderr)
        return 2
    python = python_with_fuse()
    missing = ("not root" if os.geteuid() != 0 else
               "no /dev/fuse" if not os.path.exists("/dev/fuse") else
               "no python3-fuse (scripts/setup installs it)" if not python else None)
    if missing:
        print("skipped: the power-cut layer cannot run here: %s" % missing)
        return SKIPPED
    work = tempfile.mkdtemp(prefix="xldl-power-cut-")
    disk = os.path.join(work, "disk")
    mount = at or os.path.join(work, "mount")
    os.mkdir(disk)
    if at:
        unmount(at)  # a layer a killed run left there
        shutil.rmtree(at, ignore_errors=True)
    os.makedirs(mount, exist_ok=True)
    layer = subprocess.Popen([python, os.path.join(HERE, "powercut.py"), disk, mount],
                             stdout=subprocess.PIPE, text=True)
    try:
        port = layer.stdout.readline().strip()
        deadline = time.monotonic() + 20
        while not mounted(mount) and layer.poll() is None and time.monotonic() < deadline:
            time.sleep(0.05)
        if not port or not mounted(mount):
            print("skipped: the power-cut layer could not mount (FUSE refused)")
            return SKIPPED
        env = dict(os.environ, XLDL_TEST_CUT_CONTROL="127.0.0.1:" + port,
                   XLDL_TEST_CUT_MOUNT=mount, XLDL_TEST_CUT_MOUNT_WIN=windows_path(mount),
                   XLDL_TEST_CUT_DISK=disk, XLDL_TEST_CUT_DISK_WIN=windows_path(disk))
        return subprocess.call(args, env=env)
    finally:
        unmount(mount)
        try:
            layer.wait(20)
        except subprocess.TimeoutExpired:
            layer.kill()
            layer.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
