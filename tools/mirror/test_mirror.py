#!/usr/bin/env python3
"""The mirror itself: ranges and validators as HTTP has them, the proxy form, and a few
scripted faults, checked with a plain HTTP client."""

import hashlib
import base64
import http.client
import json
import os
import socket
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from mirror import Mirror  # noqa: E402


class MirrorTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.data = os.urandom(300000)
        with open(os.path.join(self.dir.name, "setup.exe"), "wb") as f:
            f.write(self.data)
        os.mkdir(os.path.join(self.dir.name, "dl1.orlenz.com"))
        with open(os.path.join(self.dir.name, "dl1.orlenz.com", "setup.exe"), "wb") as f:
            f.write(b"other host")
        self.mirror = Mirror(self.dir.name)
        self.mirror.start()

    def tearDown(self):
        self.mirror.stop()
        self.dir.cleanup()

    def get(self, path, headers=None, method="GET", body=None):
        c = http.client.HTTPConnection("127.0.0.1", self.mirror.port, timeout=10)
        c.request(method, path, body=body, headers=headers or {})
        r = c.getresponse()
        data = r.read()
        c.close()
        return r, data

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


if __name__ == "__main__":
    unittest.main()
