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

# name: (signer, or None to leave it unsigned; time stamp as TSA@DAYS, with " legacy" for an
# Authenticode counter-signature rather than RFC 3161 and " borrowed" for a token that stamps
# another signature's hash, or None; change made after signing; bytes appended before
# signing, by seed)
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
    # Newer than expired-stamped, by its stamp.
    "expired-legacy-stamped": ("expired", "tsa@-100 legacy", None, None),
    "expired-legacy-late": ("expired", "tsa legacy", None, None),
    "expired-legacy-untrusted": ("expired", "untrusted_tsa@-200 legacy", None, None),
    "expired-legacy-borrowed": ("expired", "tsa@-200 legacy borrowed", None, None),
    "expired-legacy-forged": ("expired", "tsa@-200 legacy", "flip_stamp_signature", None),
    "expired-legacy-no-usage": ("expired", "tsa_no_usage@-200 legacy", None, None),
    "lifetime-expired-stamped": ("lifetime_expired", "tsa@-200", None, None),
    "server-auth": ("server_auth", None, None, None),
    "revoked": ("revoked", None, "carry_crl", None),
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


def flip_body(data, cert_dir=None):
    data[0x400] ^= 0x01  # in the first section: code the signature covers


def swap_content(data, cert_dir=None):
    # Other bytes, and the signed content rewritten to name their hash: the signature itself
    # and the hash it signs stay as they were, so only that hash no longer fits the content.
    old = image_hash(data)
    flip_body(data)
    at = data.find(old, cert_table(data)[2])
    if at < 0:
        raise ValueError("the image hash is not in the signature")
    data[at:at + len(old)] = image_hash(data)


def flip_signature(data, cert_dir=None):
    # The RSA-2048 signature value: the last 256-byte OCTET STRING of the signature.
    at = data.rfind(b"\x04\x82\x01\x00", cert_table(data)[2])
    if at < 0:
        raise ValueError("no signature value found")
    data[at + 4 + 100] ^= 0x01


def flip_stamp_signature(data, cert_dir=None):
    # The time-stamping authority's signature value: its SignerInfo is the last part of the
    # signer's, so its 256 bytes are the last such OCTET STRING.
    at = data.rfind(b"\x04\x82\x01\x00", cert_table(data)[2])
    first = data.find(b"\x04\x82\x01\x00", cert_table(data)[2])
    if at < 0 or at == first:
        raise ValueError("no time stamp's signature value found")
    data[at + 4 + 100] ^= 0x01


def _element(data, at):
    """(start of the contents, end) of the DER element at `at`."""
    length, start = data[at + 1], at + 2
    if length & 0x80:
        count = length & 0x7F
        length, start = int.from_bytes(data[start:start + count], "big"), start + count
    return start, start + length


def _der(tag, contents):
    n = len(contents)
    if n < 0x80:
        return bytes([tag, n]) + contents
    size = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([tag, 0x80 | len(size)]) + size + contents


def carry_crl(data, cert_dir):
    # The signer's revocation list, put among the signature's unsigned parts (its crls, after
    # its certificates), where a system takes it as known: what is signed stays as it was.
    with open(os.path.join(cert_dir, "revoked.crl"), "rb") as f:
        crl = f.read()
    _, entry, certs = cert_table(data)
    pkcs7 = bytes(data[certs + 8:])
    info, _ = _element(pkcs7, 0)                 # ContentInfo
    _, type_end = _element(pkcs7, info)          # contentType
    signed, _ = _element(pkcs7, type_end)        # [0]
    body, body_end = _element(pkcs7, signed)     # SignedData
    at, parts = body, []
    while at < body_end:
        end = _element(pkcs7, at)[1]
        parts.append(pkcs7[at:end])
        at = end
    # version, digestAlgorithms, contentInfo, [0] certificates, then the signer infos
    if len(parts) != 5 or parts[3][0] != 0xA0:
        raise ValueError("not a signature with certificates and no revocation lists")
    parts.insert(4, _der(0xA1, crl))
    signed_data = _der(0x30, b"".join(parts))
    blob = _der(0x30, pkcs7[info:type_end] + _der(0xA0, signed_data))
    blob += b"\0" * (-(8 + len(blob)) % 8)
    _, revision, kind = struct.unpack_from("<IHH", data, certs)
    data[certs:] = struct.pack("<IHH", 8 + len(blob), revision, kind) + blob
    struct.pack_into("<I", data, entry + 4, 8 + len(blob))


CHANGES = {"flip_body": flip_body, "swap_content": swap_content, "flip_signature": flip_signature,
           "flip_stamp_signature": flip_stamp_signature, "carry_crl": carry_crl}


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
            legacy = False
            if stamp:
                authority, *how = stamp.split()
                authority, _, days = authority.partition("@")
                legacy = "legacy" in how
                if stamp not in responders:
                    responders[stamp] = tsa.Responder(cert_dir, authority, float(days or 0),
                                                      "borrowed" in how, legacy)
                    responders[stamp].__enter__()
                url = responders[stamp].url
            test_signer.sign(cert_dir, signer, source, target, url, legacy)
            if source != program:
                os.remove(source)
            if change:
                with open(target, "rb") as f:
                    data = bytearray(f.read())
                CHANGES[change](data, cert_dir)
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
