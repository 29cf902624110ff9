#!/usr/bin/env python3
"""The test bench's code signing: certificates made with the openssl command, and Authenticode
signatures made with osslsigncode, time-stamped by a responder of our own (tsa.py).

    test_signer.py OUT_DIR
        Makes the certificates into OUT_DIR once; a later call reuses them while they are
        complete and still fit (the maker's has at least 30 days left). Prints OUT_DIR.

    test_signer.py OUT_DIR sign CASE IN OUT [--stamp TSA[@DAYS]]
        Signs the program IN as CASE (a signer below) into OUT, unless OUT was signed so from
        the same IN with the same certificates already. --stamp adds an RFC 3161 time stamp
        from the authority TSA (tsa or untrusted_tsa), given at DAYS from now (0 when left
        out; -200 is 200 days ago).

Every signature names the time the certificates were made as its signing time, so that
installers signed from one set of certificates are all of one age, whichever was signed
last, and a tool that refuses older installers than it has seen starts each of them; only
a time stamp (whose time counts first) makes one newer or older.

OUT_DIR/root.pem, root.der   "Orlenz Test Code Signing Root": the one root a test prefix trusts
                             for code (tools/trust_root, in the prefix only)
OUT_DIR/maker.pem, maker.key the maker's certificate: subject CN "Orlenz Software Co., Ltd.",
                             code signing, issued by the root. The package step signs with it.
OUT_DIR/SIGNER.pem, .key     the other signers (SIGNERS below); untrusted-root.pem is the root
                             nobody trusts
OUT_DIR/revoked.crl          the revoking authority's list, in which the "revoked" signer is

Every key is RSA 2048, every signature sha256. Dates are set with `openssl ca
-startdate/-enddate`; the roots start five years back, so that each certificate's dates lie
within its issuer's.
"""

import datetime
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "mirror"))
from tls_certs import CA_CONFIG, _key, _run, _sign, made_once  # noqa: E402  (the TLS bench's)

VERSION = 2
MAKER = "Orlenz Software Co., Ltd."

ROOTS = {  # file name: common name
    "root": "Orlenz Test Code Signing Root",
    "untrusted-root": "Orlenz Untrusted Code Signing Root",
}

# signer: (what it is, subject, issuer, extensions, start days, end days)
SIGNERS = {
    "maker": ("the maker", "/C=CN/O=%s/CN=%s" % (MAKER, MAKER), "root", "code", -1, 730),
    "other": ("another publisher under the trusted root, the maker's name only as organisation",
              "/C=CN/O=%s/CN=Kestrel Utilities Co., Ltd." % MAKER, "root", "code", -1, 730),
    "lookalike": ("the maker's name without its last full stop", "/C=CN/CN=" + MAKER[:-1],
                  "root", "code", -1, 730),
    "untrusted": ("the maker's name under a root nobody trusts", "/C=CN/CN=" + MAKER,
                  "untrusted-root", "code", -1, 730),
    "expired": ("the maker's name, expired 30 days ago", "/C=CN/CN=" + MAKER, "root", "code",
                -400, -30),
    "lifetime_expired": ("the maker's name for lifetime signing, expired 30 days ago",
                         "/C=CN/CN=" + MAKER, "root", "code_lifetime", -400, -30),
    "not_yet_valid": ("the maker's name, valid from a year ahead", "/C=CN/CN=" + MAKER, "root",
                      "code", 365, 730),
    "server_auth": ("the maker's name, for TLS servers only", "/C=CN/CN=" + MAKER, "root",
                    "server", -1, 730),
    "revoking_ca": ("an authority under the trusted root that revokes what it issued",
                    "/O=Orlenz Test/CN=Orlenz Test Revoking Authority", "root", "issuer",
                    -4 * 365, 10 * 365),
    "revoked": ("the maker's name, revoked by its issuer", "/C=CN/CN=" + MAKER, "revoking_ca",
                "code", -1, 730),
    "tsa": ("a time-stamping authority under the trusted root",
            "/C=CN/O=Orlenz Test/CN=Orlenz Test Time-Stamping Authority", "root", "stamp",
            -4 * 365, 10 * 365),
    "untrusted_tsa": ("a time-stamping authority under the untrusted root",
                      "/C=CN/O=Orlenz Test/CN=Orlenz Untrusted Time-Stamping Authority",
                      "untrusted-root", "stamp", -4 * 365, 10 * 365),
    "tsa_no_usage": ("an authority under the trusted root that names no extended key usage: "
                     "a chain for time stamping passes it, Windows' time stamp check does not",
                     "/C=CN/O=Orlenz Test/CN=Orlenz Test Stamper Without Usage", "root",
                     "no_usage", -4 * 365, 10 * 365),
}

CONFIG = CA_CONFIG + """
[root]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[issuer]
basicConstraints = critical, CA:true, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
[code]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
[code_lifetime]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning, 1.3.6.1.4.1.311.10.3.13
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
[no_usage]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
[server]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
[stamp]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
"""


def _issue(work, ext, subject, key, out, start, end, issuer=None):
    """A certificate for `key` with `subject`, signed by `issuer` (cert, key) or by itself."""
    _sign(work, ext, subject, key, out, start, end, issuer, config=CONFIG)


def _fits(folder):
    try:
        with open(os.path.join(folder, "signers.json")) as f:
            meta = json.load(f)
    except (OSError, ValueError):
        return False
    if meta.get("version") != VERSION or set(meta.get("signers", [])) != set(SIGNERS):
        return False
    needed = ["root.pem", "root.der", "untrusted-root.pem"]
    needed += [s + ext for s in SIGNERS for ext in (".pem", ".key")] + ["revoked.crl"]
    if not all(os.path.isfile(os.path.join(folder, n)) for n in needed):
        return False
    now = datetime.datetime.now(datetime.timezone.utc).timestamp()
    return meta["maker_until"] - now > 30 * 86400 and meta["not_yet_from"] - now > 30 * 86400


def ensure(folder):
    """Makes the certificates into `folder` unless they are there and fit; returns its path."""
    return made_once(folder, _fits, _make)


def _make(tmp):
    work = os.path.join(tmp, ".ca")
    os.makedirs(os.path.join(work, "issued"))
    open(os.path.join(work, "index.txt"), "w").close()
    for name, cn in ROOTS.items():
        key = os.path.join(tmp, name + ".key")
        _key(key)
        _issue(work, "root", "/O=Orlenz Test/CN=" + cn, key, os.path.join(tmp, name + ".pem"),
               -5 * 365, 15 * 365)
        _run("x509", "-in", os.path.join(tmp, name + ".pem"), "-outform", "DER",
             "-out", os.path.join(tmp, name + ".der"))
    for name, (_, subject, issuer, ext, start, end) in SIGNERS.items():
        key = os.path.join(tmp, name + ".key")
        _key(key)
        _issue(work, ext, subject, key, os.path.join(tmp, name + ".pem"), start, end,
               (os.path.join(tmp, issuer + ".pem"), os.path.join(tmp, issuer + ".key")))
    # The revoking authority's list, in which the "revoked" signer is (a signature carries it).
    authority = ["-config", os.path.join(work, "ca.cnf"), "-cert",
                 os.path.join(tmp, "revoking_ca.pem"), "-keyfile", os.path.join(tmp, "revoking_ca.key")]
    _run("ca", *authority, "-revoke", os.path.join(tmp, "revoked.pem"))
    _run("ca", *authority, "-gencrl", "-crldays", "3650", "-out", os.path.join(work, "revoked.crl"))
    _run("crl", "-in", os.path.join(work, "revoked.crl"), "-outform", "DER",
         "-out", os.path.join(tmp, "revoked.crl"))
    shutil.rmtree(work)
    for name in ROOTS:  # the roots' keys go: nothing more is issued under them
        os.remove(os.path.join(tmp, name + ".key"))
    now = datetime.datetime.now(datetime.timezone.utc).timestamp()
    with open(os.path.join(tmp, "signers.json"), "w") as f:
        json.dump({"version": VERSION, "signers": list(SIGNERS), "made": now,
                   "maker_until": now + SIGNERS["maker"][5] * 86400,
                   "not_yet_from": now + SIGNERS["not_yet_valid"][4] * 86400}, f)


def osslsigncode():
    return os.environ.get("OSSLSIGNCODE", "osslsigncode")


def signing_time(folder):
    """The signing time every signature from the certificates in `folder` names."""
    with open(os.path.join(folder, "signers.json")) as f:
        return int(json.load(f)["made"])


def sign(folder, signer, source, target, stamp_url=None, legacy=False):
    """Signs the program `source` as `signer` into `target` (replaced whole), with a time stamp
    from `stamp_url` when given: RFC 3161, or `legacy` Authenticode."""
    args = [osslsigncode(), "sign", "-certs", os.path.join(folder, signer + ".pem"),
            "-key", os.path.join(folder, signer + ".key"), "-h", "sha256",
            "-n", "Orlenz Software Setup", "-time", str(signing_time(folder))]
    issuer = SIGNERS[signer][2]
    if issuer in SIGNERS:  # an authority under a root: the signature carries it
        args += ["-ac", os.path.join(folder, issuer + ".pem")]
    if stamp_url:
        args += ["-t" if legacy else "-ts", stamp_url]
    os.makedirs(os.path.dirname(os.path.abspath(target)), exist_ok=True)
    fresh = target + ".signing"
    if os.path.exists(fresh):
        os.remove(fresh)
    r = subprocess.run(args + ["-in", source, "-out", fresh], capture_output=True, text=True)
    if r.returncode != 0 or not os.path.isfile(fresh):
        raise RuntimeError("osslsigncode failed on %s as %s:\n%s%s" % (source, signer, r.stdout,
                                                                       r.stderr))
    os.replace(fresh, target)


def add_stamp(signed, stamp_url, legacy=False):
    """The bytes of the signed program `signed` with its time stamp replaced by one from
    `stamp_url` (RFC 3161, or `legacy` Authenticode); `signed` stays as it was."""
    with tempfile.TemporaryDirectory() as work:
        out = os.path.join(work, "stamped.exe")
        r = subprocess.run([osslsigncode(), "add", "-t" if legacy else "-ts", stamp_url,
                            "-in", signed, "-out", out], capture_output=True, text=True)
        if r.returncode != 0 or not os.path.isfile(out):
            raise RuntimeError("osslsigncode add failed on %s:\n%s%s" % (signed, r.stdout,
                                                                        r.stderr))
        with open(out, "rb") as f:
            return f.read()


def signing_key(folder, *inputs):
    """What a signature made from `inputs` with the certificates in `folder` depends on: the
    certificates' making and the inputs' bytes. Signed files made under another key are made
    again."""
    h = hashlib.sha256()
    with open(os.path.join(folder, "signers.json"), "rb") as f:
        h.update(f.read())
    for name in inputs:
        h.update(name.encode() + b"\0")
        if os.path.isfile(name):
            with open(name, "rb") as f:
                h.update(hashlib.sha256(f.read()).digest())
    return h.hexdigest()


def up_to_date(stamp, key):
    try:
        with open(stamp) as f:
            return f.read().strip() == key
    except OSError:
        return False


def main():
    args = sys.argv[1:]
    if len(args) == 1 and not args[0].startswith("-"):
        print(ensure(args[0]))
        return 0
    if len(args) in (5, 7) and args[1] == "sign" and args[2] in SIGNERS:
        folder = ensure(args[0])
        stamp = None
        if len(args) == 7:
            if args[5] != "--stamp":
                print(__doc__, file=sys.stderr)
                return 2
            stamp = args[6]
        key = signing_key(folder, os.path.abspath(__file__), args[3], " ".join(args[2:]))
        if os.path.isfile(args[4]) and up_to_date(args[4] + ".key", key):
            return 0
        if stamp:
            import tsa
            name, _, days = stamp.partition("@")
            with tsa.Responder(folder, name, float(days or 0)) as responder:
                sign(folder, args[2], args[3], args[4], responder.url)
        else:
            sign(folder, args[2], args[3], args[4])
        with open(args[4] + ".key", "w") as f:
            f.write(key + "\n")
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
