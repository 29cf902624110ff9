#!/usr/bin/env python3
"""Certificates for the TLS mirror, made with the openssl command into a folder of their own,
once: a later call reuses them while they are complete and still fit (the good leaf has at
least 30 days left, the not-yet-valid one is still 30 days from starting).

    tls_certs.py DIR        make (or reuse) them; prints DIR

DIR/root.pem, root.der       "Orlenz Test Root": the one root a test prefix trusts
DIR/intermediate.pem         "Orlenz Test Intermediate", signed by the root
DIR/other-root.pem           "Orlenz Other Root": never trusted
DIR/trial-root.pem, .der     "Orlenz Trial Root": trusted only for a moment, by the test that
                             proves trusting and untrusting a root in the prefix
DIR/CASE/chain.pem           what the server sends for CASE (leaf first)
DIR/CASE/key.pem             the leaf's key
DIR/CASE/leaf.pem            the leaf alone

The cases (CASES below): good, self_signed, untrusted_root, wrong_host, expired,
not_yet_valid, incomplete_chain, trial_root. Every key is RSA 2048, every signature sha256,
every leaf has the serverAuth EKU. Dates are set with `openssl ca -startdate/-enddate`; the
CAs start three years back, so that each leaf's dates lie within its issuers'.
"""

import datetime
import fcntl
import json
import os
import shutil
import subprocess
import sys
import tempfile

VERSION = 1
NAMES = ["dl1.orlenz.com", "dl2.orlenz.com", "localhost"]
IPS = ["127.0.0.1"]

# case: (what it is, issuer, names, ips, start days, end days, chain sent after the leaf)
# issuer "self" is a self-signed leaf; days are from now.
CASES = {
    "good": ("valid chain for the mirror hosts, leaf + intermediate",
             "intermediate", NAMES, IPS, -1, 397, ["intermediate"]),
    "self_signed": ("self-signed leaf for the right names",
                    "self", NAMES, IPS, -1, 397, []),
    "untrusted_root": ("leaf signed by a root nobody trusts, leaf + that root",
                       "other-root", NAMES, IPS, -1, 397, ["other-root"]),
    "wrong_host": ("valid chain, but the leaf names only wrong.example",
                   "intermediate", ["wrong.example"], [], -1, 397, ["intermediate"]),
    "expired": ("valid chain, leaf notAfter 30 days ago",
                "intermediate", NAMES, IPS, -400, -30, ["intermediate"]),
    "not_yet_valid": ("valid chain, leaf notBefore a year ahead",
                      "intermediate", NAMES, IPS, 365, 730, ["intermediate"]),
    "incomplete_chain": ("leaf signed by the intermediate, sent without it",
                         "intermediate", NAMES, IPS, -1, 397, []),
    "trial_root": ("valid chain to the trial root, leaf + trial root",
                   "trial-root", NAMES, IPS, -1, 397, ["trial-root"]),
}

CAS = {  # name: (common name, issuer or None for self-signed)
    "root": ("Orlenz Test Root", None),
    "intermediate": ("Orlenz Test Intermediate", "root"),
    "other-root": ("Orlenz Other Root", None),
    "trial-root": ("Orlenz Trial Root", None),
}

# The throw-away CA every certificate here is issued through (its database under {work}); the
# code-signing bench (tools/signing/test_signer.py) issues through it as well.
CA_CONFIG = """
[ca]
default_ca = bench
[bench]
database = {work}/index.txt
new_certs_dir = {work}/issued
serial = {work}/serial
default_md = sha256
policy = anything
unique_subject = no
copy_extensions = none
email_in_dn = no
[anything]
countryName = optional
organizationName = optional
commonName = supplied
[req]
distinguished_name = dn
[dn]
"""

CONFIG = CA_CONFIG + """
[root]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[intermediate]
basicConstraints = critical, CA:true, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
[leaf]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
{aki}
subjectAltName = {san}
"""


def _stamp(days):
    t = datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(days=days)
    return t.strftime("%y%m%d%H%M%SZ")


def _run(*args):
    r = subprocess.run(["openssl", *args], capture_output=True, text=True)
    if r.returncode != 0:
        raise RuntimeError("openssl %s failed:\n%s%s" % (" ".join(args), r.stdout, r.stderr))
    return r.stdout


def _key(path):
    _run("genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", path)


def _sign(work, ext, subject, key, out, start, end, issuer=None, san="", aki=True, config=CONFIG):
    """Signs a request for `key` with `issuer` (cert, key), or the key itself (self-signed),
    through `openssl ca`, whose -startdate/-enddate set both dates; `ext` is a section of
    `config` (CA_CONFIG and the extensions)."""
    with open(os.path.join(work, "serial"), "w") as f:
        f.write(_run("rand", "-hex", "16"))  # a fresh random serial for every certificate
    text = config.format(work=work, san=san or "DNS:unused.invalid",
                         aki="authorityKeyIdentifier = keyid:always" if aki else "")
    config = os.path.join(work, "ca.cnf")
    with open(config, "w") as f:
        f.write(text)
    csr = os.path.join(work, "req.csr")
    _run("req", "-new", "-key", key, "-subj", subject, "-out", csr, "-config", config)
    args = ["ca", "-batch", "-notext", "-config", config, "-extensions", ext, "-preserveDN",
            "-startdate", _stamp(start), "-enddate", _stamp(end), "-in", csr, "-out", out]
    if issuer:
        args += ["-cert", issuer[0], "-keyfile", issuer[1]]
    else:
        args += ["-selfsign", "-keyfile", key]
    _run(*args)


def _san(names, ips):
    return ", ".join(["DNS:" + n for n in names] + ["IP:" + i for i in ips])


def _read(path):
    with open(path) as f:
        return f.read()


def _fits(folder):
    try:
        with open(os.path.join(folder, "bench.json")) as f:
            meta = json.load(f)
    except (OSError, ValueError):
        return False
    if meta.get("version") != VERSION or set(meta.get("cases", [])) != set(CASES):
        return False
    needed = ["root.pem", "root.der", "intermediate.pem", "trial-root.der"]
    needed += [os.path.join(c, n) for c in CASES for n in ("chain.pem", "key.pem", "leaf.pem")]
    if not all(os.path.isfile(os.path.join(folder, n)) for n in needed):
        return False
    now = datetime.datetime.now(datetime.timezone.utc).timestamp()
    return meta["good_until"] - now > 30 * 86400 and meta["not_yet_from"] - now > 30 * 86400


def paths(folder):
    """What the mirror needs: {case: (chain.pem, key.pem)} in `folder` (made or not)."""
    return {c: (os.path.join(folder, c, "chain.pem"), os.path.join(folder, c, "key.pem"))
            for c in CASES}


def made_once(folder, fits, make):
    """Makes `folder` with make(FRESH) unless fits(folder): into a fresh folder beside it,
    renamed into place only when complete, one maker at a time (tests and builds started
    together make it once). Returns the folder's absolute path."""
    folder = os.path.abspath(folder)
    os.makedirs(os.path.dirname(folder), exist_ok=True)
    with open(folder + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if fits(folder):
            return folder
        tmp = tempfile.mkdtemp(prefix="." + os.path.basename(folder) + "-",
                               dir=os.path.dirname(folder))
        try:
            make(tmp)
            if os.path.exists(folder):
                shutil.rmtree(folder)
            os.rename(tmp, folder)
        except BaseException:
            shutil.rmtree(tmp, ignore_errors=True)
            raise
    return folder


def ensure(folder):
    """Makes the certificates into `folder` unless they are there and fit; returns paths()."""
    return paths(made_once(folder, _fits, _make))


def _make(tmp):
    work = os.path.join(tmp, ".ca")
    os.makedirs(os.path.join(work, "issued"))
    open(os.path.join(work, "index.txt"), "w").close()
    for name, (cn, issuer) in CAS.items():
        key = os.path.join(tmp, name + ".key")
        _key(key)
        signer = (os.path.join(tmp, issuer + ".pem"), os.path.join(tmp, issuer + ".key")) if issuer else None
        _sign(work, "intermediate" if issuer else "root", "/O=Orlenz Test/CN=" + cn, key,
              os.path.join(tmp, name + ".pem"), -3 * 365, 10 * 365, signer, aki=bool(issuer))
        _run("x509", "-in", os.path.join(tmp, name + ".pem"), "-outform", "DER",
             "-out", os.path.join(tmp, name + ".der"))
    now = datetime.datetime.now(datetime.timezone.utc).timestamp()
    for case, (_, issuer, names, ips, start, end, chain) in CASES.items():
        d = os.path.join(tmp, case)
        os.mkdir(d)
        key, leaf = os.path.join(d, "key.pem"), os.path.join(d, "leaf.pem")
        _key(key)
        signer = None if issuer == "self" else (os.path.join(tmp, issuer + ".pem"),
                                                os.path.join(tmp, issuer + ".key"))
        cn = names[0]
        _sign(work, "leaf", "/O=Orlenz Test/CN=" + cn, key, leaf, start, end, signer,
              san=_san(names, ips), aki=signer is not None)
        with open(os.path.join(d, "chain.pem"), "w") as f:
            f.write(_read(leaf))
            for c in chain:
                f.write(_read(os.path.join(tmp, c + ".pem")))
    shutil.rmtree(work)
    for name in CAS:  # only the roots' and intermediate's certificates stay; keys go
        os.remove(os.path.join(tmp, name + ".key"))
    with open(os.path.join(tmp, "bench.json"), "w") as f:
        json.dump({"version": VERSION, "cases": list(CASES), "made": now,
                   "good_until": now + 397 * 86400, "not_yet_from": now + 365 * 86400}, f)


def main():
    if len(sys.argv) != 2 or sys.argv[1].startswith("-"):
        print(__doc__, file=sys.stderr)
        return 2
    ensure(sys.argv[1])
    print(os.path.abspath(sys.argv[1]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
