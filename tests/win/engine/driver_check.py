#!/usr/bin/env python3
"""xldl_driver against the mirror (run under with_mirror.py): a download that ends well exits
0 with the file in place, one that cannot exits 1 and leaves nothing."""

import os
import subprocess
import sys

wine_run, driver = sys.argv[1], sys.argv[2]
root, root_win, mirror = (os.environ[k] for k in ("XLDL_TEST_ROOT", "XLDL_TEST_ROOT_WIN", "XLDL_TEST_MIRROR"))
data = os.urandom(1500000)
with open(os.path.join(root, "setup.exe"), "wb") as f:
    f.write(data)
os.mkdir(os.path.join(root, "out"))
out, out_win = os.path.join(root, "out"), root_win + "\\out"


def drive(path):
    p = subprocess.run([wine_run, driver, "http://%s%s" % (mirror, path), out_win, "--quiet", "--timeout", "30"],
                       capture_output=True, text=True)
    print(p.stdout, end="")
    return p.returncode, p.stdout


failures = []
code, text = drive("/setup.exe")
if code != 0 or "finished 1500000 bytes" not in text:
    failures.append("download: exit %d" % code)
with open(os.path.join(out, "setup.exe"), "rb") as f:
    if f.read() != data:
        failures.append("download: the file differs")
code, text = drive("/missing.exe")
if code != 1 or "failed error=2 http=404" not in text:
    failures.append("missing file: exit %d" % code)
if os.path.exists(os.path.join(out, "missing.exe")) or os.path.exists(os.path.join(out, "missing.exe.part")):
    failures.append("missing file: something was left")
for f in failures:
    print("FAILED:", f)
sys.exit(1 if failures else 0)
