#!/usr/bin/env python3
"""The mirror itself: ranges and validators as HTTP has them, the proxy form, and a few
scripted faults, checked with a plain HTTP client; then the TLS bench: the certificates of
tls_certs.py as OpenSSL's verifier judges them, the TLS twin, redirects to it, CONNECT
tunnels and the switch of certificate and TLS version."""

import hashlib
import base64
import gzip
import http.client
import json
import os
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from mirror import Mirror, stop_all  # noqa: E402
import tls_certs  # noqa: E402
import with_mirror  # noqa: E402


def served_folder(size, dl1_bytes):
    """A folder with setup.exe of `size` random bytes, and dl1.orlenz.com's own setup.exe."""
    folder = tempfile.TemporaryDirectory()
    data = os.urandom(size)
    with open(os.path.join(folder.name, "setup.exe"), "wb") as f:
        f.write(data)
    os.mkdir(os.path.join(folder.name, "dl1.orlenz.com"))
    with open(os.path.join(folder.name, "dl1.orlenz.com", "setup.exe"), "wb") as f:
        f.write(dl1_bytes)
    return folder, data


def plain_request(port, path, method="GET", headers=None, body=None):
    """One plain HTTP request to the mirror on `port`: (response, body)."""
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    c.request(method, path, body=body, headers=headers or {})
    r = c.getresponse()
    data = r.read()
    c.close()
    return r, data


class MirrorTest(unittest.TestCase):
    def setUp(self):
        self.dir, self.data = served_folder(300000, b"other host")
        self.mirror = Mirror(self.dir.name)
        self.mirror.start()

    def tearDown(self):
        self.mirror.stop()
        self.dir.cleanup()

    def get(self, path, headers=None, method="GET", body=None):
        return plain_request(self.mirror.port, path, method, headers, body)

    def script(self, s):
        r, _ = self.get("/_mirror/script", method="POST", body=json.dumps(s))
        self.assertEqual(r.status, 200)

    def test_whole_file_with_validators_and_digest(self):
        r, body = self.get("/setup.exe")
        self.assertEqual(r.status, 200)
        self.assertEqual(body, self.data)
        self.assertEqual(r.getheader("Accept-Ranges"), "bytes")
        digest = base64.b64encode(hashlib.sha256(self.data).digest()).decode()
        self.assertEqual(r.getheader("Repr-Digest"), "sha-256=:%s:" % digest)
        self.assertTrue(r.getheader("ETag").startswith('"'))
        self.assertTrue(r.getheader("Last-Modified").endswith("GMT"))

    def test_ranges_honour_if_range(self):
        etag = self.get("/setup.exe")[0].getheader("ETag")
        r, body = self.get("/setup.exe", {"Range": "bytes=100-199", "If-Range": etag})
        self.assertEqual(r.status, 206)
        self.assertEqual(r.getheader("Content-Range"), "bytes 100-199/300000")
        self.assertEqual(body, self.data[100:200])
        r, body = self.get("/setup.exe", {"Range": "bytes=-10"})
        self.assertEqual(body, self.data[-10:])
        r, body = self.get("/setup.exe", {"Range": "bytes=100-", "If-Range": '"stale"'})
        self.assertEqual(r.status, 200)
        self.assertEqual(body, self.data)
        r, _ = self.get("/setup.exe", {"Range": "bytes=300000-"})
        self.assertEqual(r.status, 416)
        self.assertEqual(r.getheader("Content-Range"), "bytes */300000")

    def test_conditional_requests_answer_not_modified(self):
        first = self.get("/setup.exe")[0]
        etag, date = first.getheader("ETag"), first.getheader("Last-Modified")
        for headers in ({"If-None-Match": etag, "Range": "bytes=0-0"},
                        {"If-None-Match": '"other", ' + etag},
                        {"If-None-Match": "*"},
                        {"If-Modified-Since": date}):
            r, body = self.get("/setup.exe", headers)
            self.assertEqual((r.status, body), (304, b""), headers)
            self.assertEqual(r.getheader("ETag"), etag)
        # A changed file, or a date before the file's: the file (or the range) as always.
        r, body = self.get("/setup.exe", {"If-None-Match": '"other"', "Range": "bytes=0-0"})
        self.assertEqual((r.status, body), (206, self.data[:1]))
        r, _ = self.get("/setup.exe", {"If-None-Match": '"other"', "If-Modified-Since": date})
        self.assertEqual(r.status, 200, "If-None-Match decides when both are given")
        r, _ = self.get("/setup.exe", {"If-Modified-Since": "Mon, 01 Jan 2001 00:00:00 GMT"})
        self.assertEqual(r.status, 200)
        self.script({"conditionals": False})
        r, body = self.get("/setup.exe", {"If-None-Match": etag, "Range": "bytes=0-0"})
        self.assertEqual((r.status, body), (206, self.data[:1]))

    def test_proxy_form_maps_hosts_to_folders(self):
        r, body = self.get("http://dl1.orlenz.com:80/setup.exe")
        self.assertEqual(body, b"other host")
        r, body = self.get("http://unknown.example/setup.exe")
        self.assertEqual(body, self.data)
        r, _ = self.get("/../etc/passwd")
        self.assertEqual(r.status, 404)
        log = self.get("/_mirror/log")[1].decode().splitlines()
        self.assertIn("abs=1", log[0])
        self.assertIn("abs=0", log[2])

    def test_faults_fire_as_scripted(self):
        self.script({"rules": [{"path": "/setup.exe", "skip": 1, "fault": "close_after", "bytes": 1000},
                               {"path": "/setup.exe", "ranged": True, "fault": "status", "status": 503,
                                "retry_after": 7}]})
        self.assertEqual(self.get("/setup.exe")[1], self.data)  # skipped
        with self.assertRaises(http.client.IncompleteRead):
            self.get("/setup.exe")
        r, _ = self.get("/setup.exe", {"Range": "bytes=0-9"})
        self.assertEqual((r.status, r.getheader("Retry-After")), (503, "7"))
        r, body = self.get("/setup.exe", {"Range": "bytes=0-9"})
        self.assertEqual((r.status, body), (206, self.data[:10]))
        statuses = [line.split(" status=")[1].split()[0] for line in self.get("/_mirror/log")[1].decode().splitlines()]
        self.assertEqual(statuses, ["200", "200", "503", "206"])

    def test_a_hotspot_answers_every_request_with_its_page(self):
        self.script({"rules": [{"path": "/setup.exe", "fault": "redirect", "location": "/portal"},
                               {"fault": "hotspot", "typed": False, "times": 1},
                               {"fault": "hotspot", "times": -1}]})
        r, _ = self.get("/setup.exe")
        self.assertEqual((r.status, r.getheader("Location")), (302, "/portal"))
        pages = [self.get(path, {"Range": "bytes=0-9"}) for path in ("/portal", "/setup.exe", "/x")]
        self.assertEqual([r.getheader("Content-Type").split(";")[0] for r, _ in pages],
                         ["application/octet-stream", "text/html", "text/html"])
        for r, body in pages:
            self.assertEqual((r.status, len(body)), (200, 94))
            self.assertTrue(body.startswith(b"<!DOCTYPE html>"))

    def test_rules_for_one_host_leave_the_other_alone(self):
        self.script({"rules": [{"host": "dl1.orlenz.com", "fault": "status", "status": 502, "times": -1}]})
        self.assertEqual(self.get("http://dl1.orlenz.com/setup.exe")[0].status, 502)
        r, body = self.get("http://dl2.orlenz.com/setup.exe")
        self.assertEqual((r.status, body), (200, self.data))
        self.assertEqual(self.get("/setup.exe", {"Host": "dl1.orlenz.com"})[0].status, 502)

    def test_server_limits(self):
        # A range answer capped at 1000 bytes, saying so.
        self.script({"rules": [{"fault": "cap_range", "bytes": 1000}]})
        r, body = self.get("/setup.exe", {"Range": "bytes=5000-99999"})
        self.assertEqual(r.status, 206)
        self.assertEqual(r.getheader("Content-Range"), "bytes 5000-5999/300000")
        self.assertEqual(body, self.data[5000:6000])
        # Two requests per connection: the second answer says close, the third is not answered;
        # ended by a reset, the connection still delivers both answers whole first. The third
        # is sent once the first answer is coming, so that the mirror, which took the first two
        # in at once, leaves it unread; the answers are larger than the connection holds before
        # they are read, so their ends are still to be sent when the mirror is done.
        for silent in (False, True, "reset"):
            self.script({"keepalive": 2, "keepalive_silent": silent})
            s = socket.create_connection(("127.0.0.1", self.mirror.port), timeout=10)
            ask = b"GET /setup.exe HTTP/1.1\r\nHost: x\r\nRange: bytes=0-199999\r\n\r\n"
            s.sendall(ask * 2)
            got, reset = s.recv(65536), False
            s.sendall(ask)
            while True:
                try:
                    chunk = s.recv(65536)
                except ConnectionResetError:
                    reset = True
                    break
                if not chunk:
                    break
                got += chunk
            s.close()
            self.assertEqual(got.count(b"HTTP/1.1 206"), 2, silent)
            self.assertEqual(got.count(self.data[:200000]), 2, silent)
            self.assertEqual(b"Connection: close" in got, not silent)
            self.assertEqual(reset, silent == "reset", silent)

    def test_bursts_share_each_second_per_connection(self):
        # 100000 bytes a second per connection: 250000 bytes on one connection need the
        # shares of three seconds from the script on, whatever the machine's speed; the
        # per-connection count names the client's port.
        began = time.monotonic()
        self.script({"burst": 100000})
        c = http.client.HTTPConnection("127.0.0.1", self.mirror.port, timeout=10)
        c.request("GET", "/setup.exe", headers={"Range": "bytes=0-249999"})
        body = c.getresponse().read()
        ended = time.monotonic()
        port = c.sock.getsockname()[1]
        c.close()
        self.assertEqual(body, self.data[:250000])
        self.assertGreaterEqual(ended - began, 2)
        stats = json.loads(self.get("/_mirror/stats")[1])
        self.assertEqual(stats["peers"], {str(port): 250000})

    def test_a_held_answer_waits_for_as_many_requests_as_counted(self):
        self.script({"rules": [{"path": "/setup.exe", "fault": "hold", "until": "/x", "count": 2,
                                "seconds": 60}]})
        held = socket.create_connection(("127.0.0.1", self.mirror.port), timeout=0.5)
        held.sendall(b"GET /setup.exe HTTP/1.1\r\nHost: x\r\n\r\n")
        self.assertEqual(self.get("/x")[0].status, 404)
        with self.assertRaises(socket.timeout):
            held.recv(100)
        self.get("/x")
        held.settimeout(10)
        self.assertTrue(held.recv(100).startswith(b"HTTP/1.1 200"))
        held.close()

    def test_changed_file_gets_a_new_tag(self):
        with open(os.path.join(self.dir.name, "v2.exe"), "wb") as f:
            f.write(b"second version")
        etag = self.get("/setup.exe")[0].getheader("ETag")
        self.script({"rules": [{"path": "/setup.exe", "fault": "change", "file": "v2.exe"}]})
        r, body = self.get("/setup.exe", {"Range": "bytes=5-", "If-Range": etag})
        self.assertEqual((r.status, body), (200, b"second version"))
        self.assertNotEqual(r.getheader("ETag"), etag)

    def test_refused_beyond_the_connection_limit(self):
        self.script({"max_concurrent": 1, "rules": [{"fault": "pause", "bytes": 10, "seconds": 1}]})
        slow = socket.create_connection(("127.0.0.1", self.mirror.port))
        slow.sendall(b"GET /setup.exe HTTP/1.1\r\nHost: x\r\n\r\n")
        slow.recv(100)  # the first answer is under way
        r, _ = self.get("/setup.exe")
        self.assertEqual((r.status, r.getheader("Retry-After")), (503, "1"))
        slow.close()

    def raw(self, request, wait=0.5, most=3.0):
        """The bytes the mirror sends for one raw request, until `wait` seconds of quiet, a
        close, 4 MiB or `most` seconds."""
        s = socket.create_connection(("127.0.0.1", self.mirror.port), timeout=wait)
        s.sendall(request)
        got = b""
        until = time.monotonic() + most
        try:
            while len(got) < 4 << 20 and time.monotonic() < until:
                data = s.recv(65536)
                if not data:
                    break
                got += data
        except socket.timeout:
            pass
        s.close()
        return got

    def test_framing_faults(self):
        # Chunks with extensions and a trailer, undone by http.client; a whole file for a range.
        self.script({"rules": [{"fault": "chunked", "chunk": 1000, "whole": True, "times": 2}]})
        r, body = self.get("/setup.exe", {"Range": "bytes=0-9"})
        self.assertEqual((r.status, r.getheader("Transfer-Encoding"), body),
                         (200, "chunked", self.data))
        raw = self.raw(b"GET /setup.exe HTTP/1.1\r\nHost: x\r\nRange: bytes=0-9\r\n\r\n")
        self.assertIn(b"\r\n3e8; n=0\r\n", raw[:2000])
        self.assertTrue(raw.endswith(b"\r\n0\r\nX-Trailer-0: 300000\r\n\r\n"), raw[-40:])
        # HTTP/1.0: the status line says so, and the connection closes unless kept.
        self.script({"rules": [{"fault": "http10", "times": 2}]})
        raw = self.raw(b"GET /setup.exe HTTP/1.1\r\nHost: x\r\nRange: bytes=0-9\r\n\r\n"
                       b"GET /setup.exe HTTP/1.1\r\nHost: x\r\nRange: bytes=0-9\r\n\r\n")
        self.assertTrue(raw.startswith(b"HTTP/1.0 206 "), raw[:20])
        self.assertEqual(raw.count(b"HTTP/1."), 1, "closed after the answer")
        self.script({"rules": [{"fault": "http10", "keep_alive": True}]})
        raw = self.raw(b"GET /setup.exe HTTP/1.1\r\nHost: x\r\nRange: bytes=0-9\r\n\r\n"
                       b"GET /setup.exe HTTP/1.1\r\nHost: x\r\nRange: bytes=0-9\r\n\r\n")
        self.assertIn(b"Connection: keep-alive", raw)
        self.assertTrue(raw.startswith(b"HTTP/1.0 206 ") and b"HTTP/1.1 206 " in raw, raw[:100])
        # Content-Length off the range; gzip; a close-delimited body cut short.
        self.script({"rules": [{"fault": "length_mismatch", "shift": 5}]})
        raw = self.raw(b"GET /setup.exe HTTP/1.1\r\nHost: x\r\nRange: bytes=10-19\r\n\r\n")
        self.assertIn(b"Content-Range: bytes 10-19/300000\r\n", raw)
        self.assertIn(b"Content-Length: 15\r\n", raw)
        self.assertTrue(raw.endswith(self.data[10:20] + b"\xa5" * 5))
        self.script({"rules": [{"fault": "gzip"}, {"fault": "no_length_cut", "bytes": 1234}]})
        r, body = self.get("/setup.exe", {"Range": "bytes=0-9"})
        self.assertEqual((r.status, r.getheader("Content-Encoding")), (200, "gzip"))
        self.assertEqual(gzip.decompress(body), self.data)
        raw = self.raw(b"GET /setup.exe HTTP/1.1\r\nHost: x\r\n\r\n")
        self.assertNotIn(b"Content-Length", raw)
        self.assertTrue(raw.endswith(b"\r\n\r\n" + self.data[:1234]))

    def test_flooding_faults(self):
        # Interim answers before the real one, or without end; trailers without end.
        self.script({"rules": [{"fault": "interim", "count": 3},
                               {"fault": "interim", "count": -1, "interval": 0.01},
                               {"fault": "trailer_flood", "whole": True}]})
        raw = self.raw(b"GET /setup.exe HTTP/1.1\r\nHost: x\r\nRange: bytes=0-9\r\n\r\n")
        self.assertTrue(raw.startswith(b"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\n"
                                       b"Link: </setup.css>; rel=preload\r\n\r\n"
                                       b"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 206 "), raw[:200])
        raw = self.raw(b"GET /setup.exe HTTP/1.1\r\nHost: x\r\n\r\n", most=0.5)
        self.assertGreater(raw.count(b"HTTP/1.1 100 Continue"), 3)
        self.assertNotIn(b"200 OK", raw)
        raw = self.raw(b"GET /setup.exe HTTP/1.1\r\nHost: x\r\n\r\n")
        flood = raw[raw.index(b"\r\n0\r\n") + 5:]
        self.assertGreater(len(flood), 1 << 20, "trailers keep coming")
        self.assertNotIn(b"\r\n\r\n", flood)


class TlsMirrorTest(unittest.TestCase):
    """The plain mirror with its TLS servers, as with_mirror.py --tls starts them."""

    @classmethod
    def setUpClass(cls):
        cls.certs_dir = tempfile.mkdtemp(prefix="tls-certs-test-")
        cls.certs = os.path.join(cls.certs_dir, "certs")
        tls_certs.ensure(cls.certs)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.certs_dir, ignore_errors=True)

    def setUp(self):
        self.dir, self.data = served_folder(200000, b"dl1 over tls")
        self.mirror = Mirror(self.dir.name)
        self.env = {}
        self.servers = [self.mirror] + with_mirror.start_tls(self.mirror, self.dir.name,
                                                             self.certs, self.env)
        for s in self.servers:
            s.start()

    def tearDown(self):
        stop_all(self.servers)
        self.dir.cleanup()

    def port(self, case="MIRROR"):
        return int(self.env["XLDL_TEST_TLS_" + case.upper()].split(":")[1])

    def client_context(self):
        return ssl.create_default_context(cafile=os.path.join(self.certs, "root.pem"))

    def https(self, path, host="127.0.0.1", case="MIRROR", headers=None):
        """GET over TLS from `case`'s server, checking its certificate for `host` (also the
        SNI and the Host header)."""
        c = http.client.HTTPSConnection("127.0.0.1", self.port(case), timeout=10)
        c.sock = self.client_context().wrap_socket(
            socket.create_connection(("127.0.0.1", self.port(case)), timeout=10), server_hostname=host)
        c.request("GET", path, headers=dict(headers or {}, Host=host))
        r = c.getresponse()
        data = r.read()
        c.close()
        return r, data

    def plain(self, path, method="GET", headers=None, body=None):
        return plain_request(self.mirror.port, path, method, headers, body)

    def log(self, which="log"):
        return self.plain("/_mirror/" + which)[1].decode().splitlines()

    def handshake(self, case, host="dl1.orlenz.com"):
        """OpenSSL's verdict on the chain that `case`'s server sends: its verify code or 0."""
        raw = socket.create_connection(("127.0.0.1", self.port(case)), timeout=10)
        try:
            with self.client_context().wrap_socket(raw, server_hostname=host):
                return 0
        except ssl.SSLCertVerificationError as e:
            return e.verify_code

    def test_certificates_as_openssl_judges_them(self):
        # X509_V_ERR_*: 18 depth zero self-signed, 19 self-signed cert in chain, 62 hostname
        # mismatch, 10 expired, 9 not yet valid, 20 unable to get local issuer.
        expected = {"good": 0, "self_signed": 18, "untrusted_root": 19, "wrong_host": 62,
                    "expired": 10, "not_yet_valid": 9, "incomplete_chain": 20, "trial_root": 19}
        self.assertEqual(set(expected), set(tls_certs.CASES))
        got = {case: self.handshake(case) for case in expected}
        self.assertEqual(got, expected)
        self.assertEqual(self.handshake("good", "dl2.orlenz.com"), 0)
        self.assertEqual(self.handshake("good", "localhost"), 0)
        raw = socket.create_connection(("127.0.0.1", self.port()), timeout=10)
        with self.client_context().wrap_socket(raw, server_hostname="127.0.0.1") as tls:
            self.assertEqual(len(tls.getpeercert(binary_form=True)) > 0, True)
        self.assertEqual(self.handshake("wrong_host", "wrong.example"), 0)

    def test_certificates_are_made_once(self):
        stamp = os.path.getmtime(os.path.join(self.certs, "root.der"))
        tls_certs.ensure(self.certs)
        self.assertEqual(os.path.getmtime(os.path.join(self.certs, "root.der")), stamp)
        with open(os.path.join(self.certs, "good", "chain.pem")) as f:
            self.assertEqual(f.read().count("BEGIN CERTIFICATE"), 2)
        with open(os.path.join(self.certs, "incomplete_chain", "chain.pem")) as f:
            self.assertEqual(f.read().count("BEGIN CERTIFICATE"), 1)

    def test_twin_serves_the_same_folder_with_ranges_and_logs_tls(self):
        r, body = self.https("/setup.exe", headers={"Range": "bytes=10-19"})
        self.assertEqual((r.status, body), (206, self.data[10:20]))
        r, body = self.https("/setup.exe", host="dl1.orlenz.com")
        self.assertEqual(body, b"dl1 over tls")
        log = self.log()
        self.assertEqual(len(log), 2)
        self.assertIn("status=206", log[0])
        self.assertRegex(log[0], r" tls=TLSv1\.[23] sni=-$")  # no SNI for an IP address
        self.assertTrue(log[1].endswith("sni=dl1.orlenz.com"), log[1])
        self.assertTrue(self.log("tls_log")[0].startswith("handshake ok port=%d cert=good" % self.port()))

    def test_plain_mirror_redirects_to_the_twin(self):
        self.plain("/_mirror/script", "POST", body=json.dumps(
            {"rules": [{"fault": "to_https", "status": 308, "times": -1}]}))
        r, _ = self.plain("/setup.exe?x=1")
        self.assertEqual((r.status, r.getheader("Location")),
                         (308, "https://127.0.0.1:%d/setup.exe?x=1" % self.port()))
        r, _ = self.plain("/setup.exe", headers={"Host": "dl2.orlenz.com"})
        self.assertEqual(r.getheader("Location"), "https://dl2.orlenz.com:%d/setup.exe" % self.port())
        r, _ = self.plain("http://dl1.orlenz.com/setup.exe")
        self.assertEqual(r.getheader("Location"), "https://dl1.orlenz.com:%d/setup.exe" % self.port())
        r, body = self.https("/setup.exe")  # the rule is for plain HTTP only
        self.assertEqual((r.status, body), (200, self.data))
        for status in (301, 302, 307):
            self.plain("/_mirror/script", "POST", body=json.dumps(
                {"rules": [{"fault": "to_https", "status": status, "port": 443}]}))
            r, _ = self.plain("/setup.exe", headers={"Host": "dl1.orlenz.com"})
            self.assertEqual((r.status, r.getheader("Location")),
                             (status, "https://dl1.orlenz.com:443/setup.exe"))

    def tunnel(self, target):
        s = socket.create_connection(("127.0.0.1", self.mirror.port), timeout=10)
        s.sendall(("CONNECT %s HTTP/1.1\r\nHost: %s\r\n\r\n" % (target, target)).encode())
        head = b""
        while b"\r\n\r\n" not in head:
            chunk = s.recv(1)
            if not chunk:
                break
            head += chunk
        return s, head.decode()

    def test_connect_tunnels_to_the_twin(self):
        s, head = self.tunnel("dl1.orlenz.com:443")
        self.assertTrue(head.startswith("HTTP/1.1 200"), head)
        with self.client_context().wrap_socket(s, server_hostname="dl1.orlenz.com") as tls:
            tls.sendall(b"GET /setup.exe HTTP/1.1\r\nHost: dl1.orlenz.com\r\nConnection: close\r\n\r\n")
            answer = b""
            while True:
                chunk = tls.recv(65536)
                if not chunk:
                    break
                answer += chunk
        self.assertTrue(answer.startswith(b"HTTP/1.1 200"))
        self.assertTrue(answer.endswith(b"dl1 over tls"))
        log = self.log()
        self.assertTrue(log[0].startswith("CONNECT dl1.orlenz.com:443 "), log[0])
        self.assertIn("status=200", log[0])
        self.assertTrue(log[0].endswith(" tunnel=%d" % self.port()), log[0])
        self.assertIn("sni=dl1.orlenz.com", log[1])
        # A CONNECT to the port of one of the servers reaches that one.
        s, head = self.tunnel("dl2.orlenz.com:%d" % self.port("expired"))
        with s, self.assertRaises(ssl.SSLCertVerificationError) as e:
            self.client_context().wrap_socket(s, server_hostname="dl2.orlenz.com")
        self.assertEqual(e.exception.verify_code, 10)
        # A scripted refusal.
        self.plain("/_mirror/script", "POST", body=json.dumps(
            {"rules": [{"connect": True, "fault": "status", "status": 403}]}))
        s, head = self.tunnel("dl1.orlenz.com:443")
        self.assertTrue(head.startswith("HTTP/1.1 403"), head)
        s.close()
        self.assertIn("CONNECT dl1.orlenz.com:443 range=- if_range=- status=403 fault=status", self.log()[0])

    def test_script_switches_certificate_and_versions(self):
        self.plain("/_mirror/script", "POST", body=json.dumps({"tls": {"cert": "expired"}}))
        self.assertEqual(self.handshake("mirror"), 10)
        self.assertEqual(self.handshake("wrong_host"), 62)  # not switchable
        for version in ("1.2", "1.3"):
            self.plain("/_mirror/script", "POST", body=json.dumps({"tls": {"min": version, "max": version}}))
            raw = socket.create_connection(("127.0.0.1", self.port()), timeout=10)
            with self.client_context().wrap_socket(raw, server_hostname="dl1.orlenz.com") as tls:
                self.assertEqual(tls.version(), "TLSv" + version)
        # The server notes a handshake after it is through, which may be after the client's
        # (and so after the next script, for the one before).
        deadline = time.monotonic() + 5
        while (not any("version=TLSv1.3" in line for line in self.log("tls_log"))
               and time.monotonic() < deadline):
            time.sleep(0.05)
        self.assertTrue(any("version=TLSv1.3" in line for line in self.log("tls_log")),
                        self.log("tls_log"))

    def test_command_line_tls_mirror(self):
        good = os.path.join(self.certs, "good")
        p = subprocess.Popen([sys.executable, os.path.join(HERE, "mirror.py"), "--root", self.dir.name,
                              "--tls", os.path.join(good, "chain.pem"), os.path.join(good, "key.pem")],
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        try:
            port = int(p.stdout.readline())
            c = http.client.HTTPSConnection("localhost", port, timeout=10, context=self.client_context())
            c.request("GET", "/setup.exe")
            self.assertEqual(c.getresponse().read(), self.data)
            c.close()
        finally:
            p.terminate()
            p.wait()
            p.stdout.close()


if __name__ == "__main__":
    unittest.main()
