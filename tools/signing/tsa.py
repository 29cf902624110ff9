#!/usr/bin/env python3
"""A time-stamping authority on 127.0.0.1 for the test bench: RFC 3161, backed by `openssl ts
-reply`, or with --legacy the older Authenticode protocol (`osslsigncode sign -t`), answered
with a PKCS #7 signature by `openssl cms -sign` over the signature value it is sent. It stamps
with a certificate made by test_signer.py and, when asked, at another time than now (the
openssl command then runs under faketime), so that a signature can carry a time stamp from a
day when its certificate was valid; or, borrowed, one that stamps another hash than the one
asked about, as a token lifted from another signature does.

    tsa.py CERT_DIR [--tsa tsa|untrusted_tsa|...] [--days DAYS] [--borrowed] [--legacy]

prints the URL it answers on (http://127.0.0.1:PORT/) and serves until interrupted. As a
module: `with Responder(cert_dir, "tsa", -200) as r: ... r.url ...`.
"""

import argparse
import base64
import hashlib
import os
import subprocess
import sys
import tempfile
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

CONFIG = """
[tsa]
default_tsa = stamp
[stamp]
serial = {work}/serial
crypto_device = builtin
signer_cert = {cert}
signer_key = {key}
signer_digest = sha256
default_policy = 1.3.6.1.4.1.55555.1.1
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha1
"""


def _tlv(data, at):
    """(start of the contents, end) of the DER element at `at`."""
    length = data[at + 1]
    start = at + 2
    if length & 0x80:
        count = length & 0x7F
        length = int.from_bytes(data[start:start + count], "big")
        start += count
    return start, start + length


def other_imprint(query):
    """The query with its messageImprint's hash replaced by the hash of that hash: a hash of
    something else, of the same length."""
    q = bytearray(query)
    inside, _ = _tlv(q, 0)                 # TimeStampReq
    _, version_end = _tlv(q, inside)       # version
    imprint, _ = _tlv(q, version_end)      # messageImprint
    _, algorithm_end = _tlv(q, imprint)    # hashAlgorithm
    start, end = _tlv(q, algorithm_end)    # hashedMessage
    q[start:end] = hashlib.sha256(bytes(q[start:end])).digest()[:end - start]
    return bytes(q)


def legacy_digest(request):
    """The signature value a legacy request asks to be stamped: TimeStampRequest {countersignature
    type, content {data type, [0] {OCTET STRING}}}."""
    inside, _ = _tlv(request, 0)          # TimeStampRequest
    _, type_end = _tlv(request, inside)   # countersignatureType
    content, _ = _tlv(request, type_end)  # ContentInfo
    _, data_end = _tlv(request, content)  # contentType
    explicit, _ = _tlv(request, data_end)  # [0]
    start, end = _tlv(request, explicit)  # the OCTET STRING
    return request[start:end]


class Responder:
    def __init__(self, cert_dir, name="tsa", days=0.0, borrowed=False, legacy=False):
        self.work = tempfile.mkdtemp(prefix="tsa-")
        self.config = os.path.join(self.work, "ts.cnf")
        with open(self.config, "w") as f:
            f.write(CONFIG.format(work=self.work, cert=os.path.join(cert_dir, name + ".pem"),
                                  key=os.path.join(cert_dir, name + ".key")))
        with open(os.path.join(self.work, "serial"), "w") as f:
            f.write("01\n")
        self.cert = os.path.join(cert_dir, name + ".pem")
        self.key = os.path.join(cert_dir, name + ".key")
        self.days = days
        self.borrowed = borrowed
        self.legacy = legacy
        self.lock = threading.Lock()
        responder = self

        class Handler(BaseHTTPRequestHandler):
            def log_message(self, format, *args):
                pass

            def do_POST(self):
                query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
                if responder.legacy:
                    reply = responder.legacy_reply(query)
                    kind = "application/octet-stream"
                else:
                    reply = responder.reply(query)
                    kind = "application/timestamp-reply"
                self.send_response(200 if reply else 500)
                self.send_header("Content-Type", kind)
                self.send_header("Content-Length", str(len(reply)))
                self.end_headers()
                self.wfile.write(reply)

        self.server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = "http://127.0.0.1:%d/" % self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)

    def reply(self, query):
        """The DER reply to a DER query, or b"" when openssl fails."""
        if self.borrowed:
            query = other_imprint(query)
        with self.lock:  # one serial file
            q = os.path.join(self.work, "query.tsq")
            r = os.path.join(self.work, "reply.tsr")
            with open(q, "wb") as f:
                f.write(query)
            args = ["openssl", "ts", "-reply", "-config", self.config, "-queryfile", q, "-out", r]
            return self._run(args, r)

    def legacy_reply(self, request):
        """The base64 PKCS #7 answer to a base64 legacy request, or b"" when openssl fails: the
        signature value as signed content, with contentType, signingTime and messageDigest
        (its hash) signed; the authority's certificate comes with it."""
        digest = legacy_digest(base64.b64decode(request))
        if self.borrowed:
            digest = hashlib.sha256(digest).digest()[:len(digest)]
        with self.lock:
            content = os.path.join(self.work, "digest.bin")
            r = os.path.join(self.work, "stamp.p7")
            with open(content, "wb") as f:
                f.write(digest)
            signed = self._run(["openssl", "cms", "-sign", "-binary", "-nodetach", "-nosmimecap",
                                "-md", "sha256", "-signer", self.cert, "-inkey", self.key,
                                "-in", content, "-outform", "DER", "-out", r], r)
            return base64.b64encode(signed) if signed else b""

    def _run(self, args, out):
        """The file `out` that the openssl command `args` writes, at the authority's time."""
        if self.days:
            args = ["faketime", "-f", "%+dd" % round(self.days)] + args
        done = subprocess.run(args, capture_output=True)
        if done.returncode != 0:
            sys.stderr.write(done.stderr.decode(errors="replace"))
            return b""
        with open(out, "rb") as f:
            return f.read()

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.server.shutdown()
        self.server.server_close()
        for name in os.listdir(self.work):
            os.remove(os.path.join(self.work, name))
        os.rmdir(self.work)


def main():
    parser = argparse.ArgumentParser(description="RFC 3161 responder for the test bench")
    parser.add_argument("cert_dir")
    parser.add_argument("--tsa", default="tsa")
    parser.add_argument("--days", type=float, default=0.0)
    parser.add_argument("--borrowed", action="store_true")
    parser.add_argument("--legacy", action="store_true")
    a = parser.parse_args()
    with Responder(a.cert_dir, a.tsa, a.days, a.borrowed, a.legacy) as r:
        print(r.url, flush=True)
        try:
            threading.Event().wait()
        except KeyboardInterrupt:
            pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
