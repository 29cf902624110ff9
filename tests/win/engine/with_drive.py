#!/usr/bin/env python3
"""Runs a Windows test in the build's drives prefix (wine-prefix-drives, its own, so that
nothing here disturbs the tests that share the build's prefix) with drive D: as CASE has it:

    with_drive.py CASE WINE_RUN TRUST_ROOT.exe CERT_DIR COMMAND ARGS...

    usable     an empty folder that takes files
    none       no drive D: (its link in the prefix leads nowhere)
    readonly   a folder mounted read-only (needs root and mount; else exit 77: skipped)
    blocked    a folder where a file named "KOrva" is in the way

The code-signing test root (CERT_DIR/root.der) is trusted in the prefix first. COMMAND finds
the case in XLDL_TEST_DRIVE. WINE_RUN is the prefix's wrapper (wine-run-drives). The exit code
is the command's.
"""

import os
import shutil
import subprocess
import sys

SKIPPED = 77


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def main():
    if len(sys.argv) < 6:
        print(__doc__, file=sys.stderr)
        return 2
    case, wine_run, trust_root, cert_dir = sys.argv[1:5]
    command = sys.argv[5:]
    build = os.path.dirname(os.path.abspath(wine_run))
    prefix = os.path.join(build, "wine-prefix-drives")
    base = os.path.join(build, "drives", case)
    # The trust first: it also makes the prefix on first use.
    r = subprocess.run([wine_run, trust_root, "add", windows_path(os.path.join(cert_dir, "root.der"))],
                       capture_output=True, text=True)
    print(r.stdout.strip())
    if r.returncode != 0:
        print("trusting the test root failed:\n" + r.stderr, file=sys.stderr)
        return 1
    mounted = None
    if os.path.ismount(os.path.join(base, "d")):
        subprocess.call(["umount", os.path.join(base, "d")])
    shutil.rmtree(base, ignore_errors=True)
    os.makedirs(base)
    target = os.path.join(base, "d")
    if case == "usable":
        os.mkdir(target)
    elif case == "none":
        pass  # the link leads nowhere
    elif case == "blocked":
        os.mkdir(target)
        with open(os.path.join(target, "KOrva"), "w") as f:
            f.write("in the way\n")
    elif case == "readonly":
        source = os.path.join(base, "d-source")
        os.mkdir(source)
        os.mkdir(target)
        if subprocess.call(["mount", "--bind", source, target], stderr=subprocess.DEVNULL) != 0:
            print("skipped: no read-only mount without root")
            return SKIPPED
        mounted = target
        if subprocess.call(["mount", "-o", "remount,bind,ro", target]) != 0:
            subprocess.call(["umount", target])
            print("skipped: the read-only remount failed")
            return SKIPPED
    else:
        print(__doc__, file=sys.stderr)
        return 2
    link = os.path.join(prefix, "dosdevices", "d:")
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(target, link)
    env = dict(os.environ, XLDL_TEST_DRIVE=case)
    try:
        return subprocess.call(command, env=env)
    finally:
        if mounted:
            subprocess.call(["umount", mounted])


if __name__ == "__main__":
    sys.exit(main())
