#!/usr/bin/env python3
"""The test bench's code-signing certificates, made with the openssl command, once: a later call
reuses them while they are complete and the maker's has at least 30 days left.

    test_signer.py OUT_DIR      make (or reuse) them; prints OUT_DIR

OUT_DIR/root.pem             "Orlenz Test Signing Root": the root a bench trusts
OUT_DIR/maker.pem, .key      a code-signing certificate in the maker's name, "Orlenz Software
                             Co., Ltd.", issued by that root (RSA 2048, sha256, codeSigning)
"""

import os
import subprocess
import sys
import tempfile

MAKER = "Orlenz Software Co., Ltd."
FILES = ["root.pem", "maker.pem", "maker.key"]

EXTENSIONS = """
[root]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[maker]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
"""


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, capture_output=True)


def usable(out):
    if not all(os.path.exists(os.path.join(out, f)) for f in FILES):
        return False
    check = subprocess.run(["openssl", "x509", "-checkend", str(30 * 86400), "-noout",
                            "-in", os.path.join(out, "maker.pem")], capture_output=True)
    return check.returncode == 0


def make(out):
    with tempfile.TemporaryDirectory(dir=out) as work:
        ext = os.path.join(work, "ext.cnf")
        with open(ext, "w") as f:
            f.write(EXTENSIONS)
        root_key = os.path.join(work, "root.key")
        root = os.path.join(work, "root.pem")
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "3650",
                "-subj", "/CN=Orlenz Test Signing Root", "-keyout", root_key, "-out", root,
                "-config", ext, "-extensions", "root")
        key = os.path.join(work, "maker.key")
        request = os.path.join(work, "maker.csr")
        openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-sha256",
                "-subj", f"/C=CN/O={MAKER}/CN={MAKER}", "-keyout", key, "-out", request)
        cert = os.path.join(work, "maker.pem")
        openssl("x509", "-req", "-in", request, "-CA", root, "-CAkey", root_key,
                "-CAcreateserial", "-sha256", "-days", "825", "-extfile", ext,
                "-extensions", "maker", "-out", cert)
        # The maker's certificate last: a reader that finds it sees the others are there.
        for name in ["root.pem", "maker.key", "maker.pem"]:
            os.replace(os.path.join(work, name), os.path.join(out, name))


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    if not usable(out):
        make(out)
    print(out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
