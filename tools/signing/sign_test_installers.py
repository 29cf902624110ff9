#!/usr/bin/env python3
"""The installers the tests start or must refuse: a stand-in installer signed in every way the
tool has to tell apart, made once per build into a folder of their own.

    sign_test_installers.py CERT_DIR PROGRAM.exe LIBRARY.dll OUT_DIR

CERT_DIR is made (or reused) by test_signer.py. PROGRAM.exe is the stand-in installer;
LIBRARY.dll a DLL with the installer's version resource, the maker's but no installer.
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
# another signature's hash, two of them joined by " + " for a signature with both, or None;
# change made after signing; bytes appended before signing, by seed)
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
    # Both kinds on one signature: both must verify, and the RFC 3161 time counts.
    "expired-both-stamped": ("expired", "tsa@-200 + tsa legacy", None, None),
    "expired-both-late": ("expired", "tsa + tsa@-200 legacy", None, None),
    "expired-both-untrusted-legacy": ("expired", "tsa@-200 + untrusted_tsa@-200 legacy", None, None),
    "server-auth": ("server_auth", None, None, None),
    "revoked": ("revoked", None, "carry_crl", None),
    "not-yet-valid": ("not_yet_valid", None, None, None),
    # What the two mirror hosts serve in the whole-job tests: each its own bytes, so that a
    # file tells where it came from; and mirror 1's next version.
    "host1": ("maker", None, None, 1),
    "host2": ("maker", None, None, 2),
    "host1-changed": ("maker", None, None, 3),
    # An older build of the maker's (its version resource says 1.0), time-stamped today: what
    # anyone can make of an old build without the maker's key.
    "host1-old-restamped": ("maker", "tsa", None, 4),
    "not-a-program": ("maker", None, None, None),
    "library-newer": ("maker", None, None, None),
    "other-product-newer": ("maker", None, None, None),
}
# What is changed before signing, as the maker would have built it: the version the resource
# says (2.0.0.0) as MAJOR.MINOR, the product it names, the processor it is for; made from
# LIBRARY.dll rather than the stand-in where it says so.
BEFORE_SIGNING = {
    # An older build of the maker's.
    "host1-old-restamped": {"version": (1, 0)},
    # For a processor no 32-bit Windows runs (ARM): every check passes, the shell cannot start it.
    "not-a-program": {"machine": 0x01C4},
    # Other files the maker signed, of a higher version than its installer.
    "library-newer": {"library": True, "version": (3, 0)},
    "other-product-newer": {"product": "Orlenz Software Tools", "version": (3, 0)},
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


def _signer_path(pkcs7):
    """The elements from the ContentInfo down to the first SignerInfo, each as (at, start of its
    contents, end): ContentInfo, [0], SignedData, its SignerInfos, the SignerInfo."""
    path, at = [], 0
    for pick in (1, 0, -1, 0, None):
        start, end = _element(pkcs7, at)
        path.append((at, start, end))
        if pick is None:
            return path
        children, child = [], start
        while child < end:
            children.append(child)
            child = _element(pkcs7, child)[1]
        at = children[pick]


def join_stamps(data, other):
    """Puts the time stamp of `other` (the same signature, stamped the other way) beside the
    one of `data`'s signature, among its unsigned attributes."""
    _, entry, certs = cert_table(data)
    pkcs7 = bytes(data[certs + 8:])
    theirs = bytes(other[cert_table(other)[2] + 8:])
    path = _signer_path(pkcs7)
    # The unsigned attributes end each SignerInfo: [1] SET OF Attribute.
    def unsigned(der, signer):
        at = signer[1]
        while _element(der, at)[1] < signer[2]:
            at = _element(der, at)[1]
        if der[at] != 0xA1:
            raise ValueError("a signature without a time stamp")
        return at, *_element(der, at)
    at, start, end = unsigned(pkcs7, path[-1])
    _, their_start, their_end = unsigned(theirs, _signer_path(theirs)[-1])
    blob = pkcs7[path[-1][1]:at] + _der(0xA1, pkcs7[start:end] + theirs[their_start:their_end])
    blob = _der(pkcs7[path[-1][0]], blob)
    # Each element around it again, with its new length.
    for (at, start, end), (inner, _, inner_end) in zip(reversed(path[:-1]), reversed(path[1:])):
        blob = _der(pkcs7[at], pkcs7[start:inner] + blob + pkcs7[inner_end:end])
    blob += b"\0" * (-(8 + len(blob)) % 8)
    _, revision, kind = struct.unpack_from("<IHH", data, certs)
    data[certs:] = struct.pack("<IHH", 8 + len(blob), revision, kind) + blob
    struct.pack_into("<I", data, entry + 4, 8 + len(blob))


def set_version(data, major, minor):
    """Writes MAJOR.MINOR.0.0 as the file and product version of the version resource's fixed
    part (found by its signature)."""
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        raise ValueError("no version resource")
    struct.pack_into("<4I", data, at + 8, major << 16 | minor, 0, major << 16 | minor, 0)


def set_product(data, name):
    """Puts `name`, as long as the ProductName the stand-in says, in its place."""
    old = "Orlenz Software Setup".encode("utf-16-le")
    new = name.encode("utf-16-le")
    if len(new) != len(old) or data.count(old) != 1:
        raise ValueError("no product name of that length to replace")
    at = data.find(old)
    data[at:at + len(old)] = new


def set_machine(data, machine):
    struct.pack_into("<H", data, struct.unpack_from("<I", data, 0x3C)[0] + 4, machine)


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
        def responder(wanted):
            """The URL of a time-stamping responder as `wanted` says, and whether it is legacy."""
            authority, *how = wanted.split()
            authority, _, days = authority.partition("@")
            if wanted not in responders:
                responders[wanted] = tsa.Responder(cert_dir, authority, float(days or 0),
                                                 "borrowed" in how, "legacy" in how)
                responders[wanted].__enter__()
            return responders[wanted].url, "legacy" in how

        for name, (signer, stamp, change, tail) in VARIANTS.items():
            source = program
            before = BEFORE_SIGNING.get(name, {})
            if tail is not None or before:
                with open(library if before.get("library") else program, "rb") as f:
                    data = bytearray(f.read())
                if tail is not None:
                    data += random.Random(tail).randbytes(TAIL_BYTES)
                if "version" in before:
                    set_version(data, *before["version"])
                if "product" in before:
                    set_product(data, before["product"])
                if "machine" in before:
                    set_machine(data, before["machine"])
                source = os.path.join(out_dir, name + ".unsigned")
                with open(source, "wb") as f:
                    f.write(data)
            target = os.path.join(out_dir, name + ".exe")
            if signer is None:
                with open(source, "rb") as f, open(target, "wb") as g:
                    g.write(f.read())
                continue
            first, _, second = (stamp or "").partition(" + ")
            url, legacy = responder(first) if first else (None, False)
            test_signer.sign(cert_dir, signer, source, target, url, legacy)
            if second:
                url, legacy = responder(second)
                with open(target, "rb") as f:
                    first_stamped = f.read()
                other = test_signer.add_stamp(target, url, legacy)
                # The legacy stamp's certificate rides among the signature's own: that one
                # is kept whole, the RFC 3161 token (which carries its own) joins it.
                data, other = (bytearray(other), first_stamped) if legacy else \
                    (bytearray(first_stamped), other)
                join_stamps(data, other)
                with open(target, "wb") as f:
                    f.write(data)
            if source != program:
                os.remove(source)
            if change:
                with open(target, "rb") as f:
                    data = bytearray(f.read())
                CHANGES[change](data, cert_dir)
                with open(target, "wb") as f:
                    f.write(data)
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
