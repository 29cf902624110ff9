#!/usr/bin/env python3
"""The installers the tests start or must refuse: a stand-in installer signed in every way the
tool has to tell apart, made once per build into a folder of their own.

    sign_test_installers.py CERT_DIR PROGRAM.exe LIBRARY.dll OUT_DIR

CERT_DIR is made (or reused) by test_signer.py. PROGRAM.exe is the stand-in installer;
LIBRARY.dll a DLL, signed by the maker as "not-a-program.exe" (the shell cannot start it).
OUT_DIR/NAME.exe for each NAME of VARIANTS; OUT_DIR/signed.stamp when all are there. Made
again only when the certificates, the inputs or this script changed.
"""

import os
import random
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import test_signer  # noqa: E402
import tsa  # noqa: E402

# name: (signer, or None to leave it unsigned; time stamp as TSA@DAYS, with " borrowed" for a
# token that stamps another signature's hash, or None; change made after signing; bytes
# appended before signing, by seed)
VARIANTS = {
    "good": ("maker", None, None, None),
    "good-stamped": ("maker", "tsa", None, None),
    "tampered": ("maker", None, "flip_body", None),
    "forged": ("maker", None, "swap_content", None),
    "bad-signature": ("maker", None, "flip_signature", None),
    "unsigned": (None, None, None, None),
    "other-publisher": ("other", None, None, None),
    "lookalike": ("lookalike", None, None, None),
    "untrusted-root": ("untrusted", None, None, None),
    "expired": ("expired", None, None, None),
    "expired-stamped": ("expired", "tsa@-200", None, None),
    "expired-stamped-late": ("expired", "tsa", None, None),
    "expired-untrusted-stamp": ("expired", "untrusted_tsa@-200", None, None),
    "expired-borrowed-stamp": ("expired", "tsa@-200 borrowed", None, None),
    "server-auth": ("server_auth", None, None, None),
    "not-yet-valid": ("not_yet_valid", None, None, None),
    # What the two mirror hosts serve in the whole-job tests: each its own bytes, so that a
    # file tells where it came from; and mirror 1's next version.
    "host1": ("maker", None, None, 1),
    "host2": ("maker", None, None, 2),
    "host1-changed": ("maker", None, None, 3),
}
TAIL_BYTES = 300000


def cert_table(data):
    """(offset of the PE checksum, of the security directory entry, of the certificates)."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    entry = pe + 24 + (96 if magic == 0x10B else 112) + 4 * 8
    offset, size = struct.unpack_from("<II", data, entry)
    if not offset or not size:
        raise ValueError("not signed")
    return pe + 24 + 64, entry, offset


def image_hash(data):
    """The Authenticode SHA-256 of a PE: all but its checksum, security directory entry and
    certificates."""
    import hashlib
    checksum, entry, certs = cert_table(data)
    h = hashlib.sha256()
    h.update(data[:checksum])
    h.update(data[checksum + 4:entry])
    h.update(data[entry + 8:certs])
    return h.digest()


def flip_body(data):
    data[0x400] ^= 0x01  # in the first section: code the signature covers


def swap_content(data):
    # Other bytes, and the signed content rewritten to name their hash: the signature itself
    # and the hash it signs stay as they were, so only that hash no longer fits the content.
    old = image_hash(data)
    flip_body(data)
    at = data.find(old, cert_table(data)[2])
    if at < 0:
        raise ValueError("the image hash is not in the signature")
    data[at:at + len(old)] = image_hash(data)


def flip_signature(data):
    # The RSA-2048 signature value: the last 256-byte OCTET STRING of the signature.
    at = data.rfind(b"\x04\x82\x01\x00", cert_table(data)[2])
    if at < 0:
        raise ValueError("no signature value found")
    data[at + 4 + 100] ^= 0x01


CHANGES = {"flip_body": flip_body, "swap_content": swap_content, "flip_signature": flip_signature}


def make(cert_dir, program, library, out_dir):
    test_signer.ensure(cert_dir)
    done = os.path.join(out_dir, "signed.stamp")
    key = test_signer.signing_key(cert_dir, os.path.abspath(__file__), program, library)
    if test_signer.up_to_date(done, key):
        return
    os.makedirs(out_dir, exist_ok=True)
    responders = {}
    try:
        for name, (signer, stamp, change, tail) in VARIANTS.items():
            source = program
            if tail is not None:
                with open(program, "rb") as f:
                    data = f.read() + random.Random(tail).randbytes(TAIL_BYTES)
                source = os.path.join(out_dir, name + ".unsigned")
                with open(source, "wb") as f:
                    f.write(data)
            target = os.path.join(out_dir, name + ".exe")
            if signer is None:
                with open(source, "rb") as f, open(target, "wb") as g:
                    g.write(f.read())
                continue
            url = None
            if stamp:
                if stamp not in responders:
                    authority, _, when = stamp.partition("@")
                    days, _, how = when.partition(" ")
                    responders[stamp] = tsa.Responder(cert_dir, authority, float(days or 0),
                                                      how == "borrowed")
                    responders[stamp].__enter__()
                url = responders[stamp].url
            test_signer.sign(cert_dir, signer, source, target, url)
            if source != program:
                os.remove(source)
            if change:
                with open(target, "rb") as f:
                    data = bytearray(f.read())
                CHANGES[change](data)
                with open(target, "wb") as f:
                    f.write(data)
        test_signer.sign(cert_dir, "maker", library, os.path.join(out_dir, "not-a-program.exe"))
    finally:
        for r in responders.values():
            r.__exit__(None, None, None)
    with open(done, "w") as f:
        f.write(key + "\n")


def main():
    if len(sys.argv) != 5:
        print(__doc__, file=sys.stderr)
        return 2
    make(*sys.argv[1:])
    return 0


if __name__ == "__main__":
    sys.exit(main())
