#!/usr/bin/env python3
"""A download mirror for testing the engine: serves a folder over HTTP with byte ranges,
ETag, Last-Modified and a Repr-Digest (sha-256), and misbehaves on request.

    mirror.py --root DIR [--host 127.0.0.1] [--port 0] [--script FILE] [--tls CHAIN.pem KEY.pem]

Prints the port it listens on (one line on stdout), then serves until interrupted. With --tls
it speaks HTTPS (Python's ssl, TLS 1.2 and 1.3), sending CHAIN.pem (leaf first) as the
certificate; everything else is as over plain HTTP. with_mirror.py --tls starts a plain mirror
with TLS twins on the same folder, sharing one script and one log.

It also works as a forward proxy target: a request line with an absolute URI
(GET http://dl1.orlenz.com/service/setup.exe HTTP/1.1) is served from DIR/dl1.orlenz.com/ if
that folder exists, else from DIR itself; the same holds for the Host header.

Faults are scripted per request, by a JSON script given with --script or posted to
/_mirror/script (which also clears the log and the counters):

    {"rules": [{"path": "/setup.exe", "ranged": false, "skip": 0, "times": 1,
                "fault": "close_after", "bytes": 100000}, ...],
     "max_concurrent": 1, "refuse": "503"}

A rule applies to requests for its path (any file when absent), for its "host" when given (the
host a request names, as a proxy sees it: one of two mirror hosts), only to requests with
(ranged: true) or without (false) a Range header when given, likewise with or without an
If-Range header ("if_range": asked once the client knew the file), only to those that came
over "scheme": "http" or "https" when given, with "authorized" only to those with (true) or
without (false) a Proxy-Authorization header, and with "during": S only for S seconds from the
first request it met (a mirror that goes away for a while); it lets `skip` matching requests
pass, then acts on `times` of them (-1: on all). The first rule that acts wins; with
"validators": false it also leaves out ETag, Last-Modified and digest. Faults:

    close_after   bytes=N: send N bytes of the body, then close the connection
    stall         bytes=N, seconds=S: send N bytes, then nothing for S seconds, then close
    pause         bytes=N, seconds=S: send N bytes, wait S seconds, send the rest
    status        status=C, retry_after=V, location=U, proxy_authenticate=A: answer C with a
                  short body
    redirect      location=U, status=302
    hotspot       answer 200 with a network's sign-in page (94 bytes of HTML) whatever was asked,
                  typed text/html, or application/octet-stream with "typed": false; with a
                  "redirect" rule before it for the file, the page is where that leads; with
                  "lead": T, the text T first (a byte order mark, white space), then the page
                  seconds=S (0.5) later, so that a client's first read holds only T
    reset         abort the connection before answering
    short_body    bytes=N: announce the full length, send N bytes fewer, close
    long_body     bytes=N: send N junk bytes after the announced length, then close
    ignore_range  answer 200 with the whole file although a range was asked for
    wrong_range   shift=N: answer 206 for a range starting N bytes later than asked
    range_416     answer 416 Range Not Satisfiable
    change        file=F: from now on this path serves file F (new ETag), then answer normally
    big_headers   bytes=N: add a header line N bytes long
    no_length     send the whole file (even for a range) without Content-Length, close to end it
    bad_digest    advertise the digest of other content
    fake_length   bytes=N: the whole file, announced with a Content-Length of N; send a little, close
    no_validators no ETag, Last-Modified or digest
    no_ranges     no Accept-Ranges (ranges are still served)
    cap_range     bytes=N: answer a range with at most its first N bytes (206, the Content-Range
                  saying so), as servers that cap the size of range answers do
    tls_garbage   bytes=N: over TLS, send N bytes of the body, then bytes that are no TLS record
                  (a record damaged on the way), then close
    hold          until=P, count=N, seconds=S: answer (as usual) only once N requests (1) for
                  the path P have come, or after S seconds (10): orders two clients' requests
                  for a test
    to_https      status=301: redirect to https://<same host>:<port><same path and query>, port
                  the TLS twin's (or port=N); only over plain HTTP. {"fault": "to_https",
                  "status": 308, "times": -1} sends every file request to the twin.

Faults of framing and of servers that flood (each also with "whole": true to answer 200 with
the whole file whatever the range asked):

    chunked         the body in the chunked coding, chunks of chunk=N bytes (7919), with an
                    extension on every size line and trailers=T trailer lines (1)
    trailer_flood   chunked, and after the last chunk trailer lines without end, one every
                    interval=S seconds (0: as fast as they go), until the client goes
    interim         count=N interim answers before the real one (100 Continue, then 103 Early
                    Hints with a Link), one every interval=S seconds; count=-1: without end,
                    the real answer never comes
    http10          answer as an HTTP/1.0 server: closes after the answer, or keeps the
                    connection with keep_alive=true ("Connection: keep-alive")
    length_mismatch a 206 whose Content-Length is shift=N bytes (100) off its Content-Range:
                    the range's bytes, then junk up to the announced length, or fewer bytes
    gzip            the body gzip-compressed with "Content-Encoding: gzip", whatever was asked
    no_length_cut   bytes=N: as no_length, but the connection closes after N bytes
    tls_close       as no_length, ended over TLS with the server's close_notify (a plain close
                    elsewhere); no_length and no_length_cut over TLS end without one

Proxy tunnels: a CONNECT host:port request opens a tunnel to one of our TLS servers on this
machine (a target port that is one of theirs picks that one, any other target the TLS twin's),
whatever the host, so that https://dl1.orlenz.com/... through this mirror as a proxy reaches
the twin. CONNECT requests match only rules with "connect": true, whose fault may be `status`
(answer status=C instead of opening the tunnel) or `reset`. They are logged as
    CONNECT dl1.orlenz.com:443 range=- if_range=- status=200 fault=- inflight=0 abs=1 tunnel=PORT

Over TLS, file requests are logged with " tls=TLSv1.3 sni=NAME" at the end (sni=- without SNI).
The script may also hold "tls": {"cert": CASE, "min": "1.2", "max": "1.3"}: the certificate
case (tls_certs.py) that a switchable TLS server (the twin) sends on new connections, and the
TLS versions every TLS server of the script accepts.

"keepalive": N ends every connection after its N-th file request, as a server's limit of
requests per connection does: that answer says "Connection: close" (or, with
"keepalive_silent": true, says nothing), and requests pipelined behind it go unanswered. With
"keepalive_silent": "reset" the connection then ends in a reset, once that answer has left, as
a server's does when it closes with requests unread.
A GET with If-None-Match naming the file's ETag (or "*"), or without it an If-Modified-Since
no earlier than the file's date, is answered 304 Not Modified, as nginx does; "conditionals":
false in the script makes the mirror ignore both, as a server without conditional requests.

max_concurrent limits file requests in flight; one more is refused with 503 and
Retry-After: 1 (refuse: "503") or by a reset (refuse: "reset"). "rate": B paces every file
body at B bytes per second per request, as a far mirror would. "burst": B caps each connection
at B body bytes per second as servers that count by the second do (lighttpd's
connection.kbytes-per-second): in each second a connection sends its B bytes as fast as they
go, then nothing until the next second begins. The seconds count from when the script was set,
so that a test chooses where in a second its download begins.

GET /_mirror/stats tells how many body bytes the mirror has written to its connections since
the script was set, and to each connection, by the client's port as the log's peer= names it:
{"body_bytes": N, "requests": R, "peers": {"PORT": N, ...}}.

GET /_mirror/log lists the file requests served so far, one line each:
    GET /setup.exe range=bytes=0-99 if_range="abc" status=206 fault=- inflight=1 abs=0
followed by " peer=PORT", the client's port (one per connection). An answer with the file's
bytes (200, 206) that left out its validators ends its line with " validators=0".
A request that carried Proxy-Authorization ends its line with " proxy_authorization=1".
GET /_mirror/tls_log lists the TLS handshakes, one line each:
    handshake ok port=PORT cert=good version=TLSv1.2 cipher=ECDHE-RSA-AES256-GCM-SHA384 sni=dl1.orlenz.com resumed=0 ms=84
    handshake failed port=PORT cert=expired sni=127.0.0.1 ms=90 error=[SSL: ...]_(a client's alert)
"""

import argparse
import base64
import email.utils
import fcntl
import gzip
import hashlib
import json
import os
import select
import socket
import ssl
import struct
import sys
import termios
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

CHUNK = 64 * 1024


class Script:
    """The rules in force, their counters, the log and the requests in flight."""

    def __init__(self):
        self.lock = threading.Lock()
        self.came = threading.Condition(self.lock)
        self.set({})

    def arrived(self, path):
        """A request for `path` came: whoever holds an answer until then goes on."""
        with self.lock:
            self.paths[path] = self.paths.get(path, 0) + 1
            self.came.notify_all()

    def hold(self, path, count, seconds):
        """Waits until `count` requests for `path` have come since the script was set,
        `seconds` at most."""
        with self.lock:
            self.came.wait_for(lambda: self.paths.get(path, 0) >= count, seconds)

    def set(self, script):
        with self.lock:
            self.rules = [dict(r) for r in script.get("rules", [])]
            for r in self.rules:
                r["_seen"] = 0
                r["_fired"] = 0
            self.max_concurrent = int(script.get("max_concurrent", 0))
            self.rate = float(script.get("rate", 0))
            self.burst = int(script.get("burst", 0))
            self.since = time.monotonic()
            self.body_bytes = 0
            self.peer_bytes = {}
            self.requests = 0
            self.refuse = script.get("refuse", "503")
            self.keepalive = int(script.get("keepalive", 0))
            self.keepalive_silent = bool(script.get("keepalive_silent", False))
            self.keepalive_reset = script.get("keepalive_silent") == "reset"
            self.conditionals = bool(script.get("conditionals", True))
            self.swaps = {}
            self.paths = {}
            self.tls = dict(script.get("tls", {}))
            self.log = []
            self.tls_log = []
            self.inflight = 0
            self.peak = 0

    def pick(self, path, ranged, scheme="http", connect=False, host=None, if_range=False,
             authorized=False):
        with self.lock:
            for r in self.rules:
                if bool(r.get("connect", False)) != connect:
                    continue
                if "authorized" in r and bool(r["authorized"]) != authorized:
                    continue
                if "path" in r and r["path"] != path:
                    continue
                if "host" in r and r["host"] != host:
                    continue
                if "ranged" in r and bool(r["ranged"]) != ranged:
                    continue
                if "if_range" in r and bool(r["if_range"]) != if_range:
                    continue
                if r.get("scheme", "http" if r.get("fault") == "to_https" else scheme) != scheme:
                    continue
                if "during" in r:
                    first = r.setdefault("_first", time.monotonic())
                    if time.monotonic() - first > float(r["during"]):
                        continue
                r["_seen"] += 1
                if r["_seen"] <= int(r.get("skip", 0)):
                    continue
                times = int(r.get("times", 1))
                if times >= 0 and r["_fired"] >= times:
                    continue
                r["_fired"] += 1
                return r
            return None


class Entity:
    """A file's bytes and what the mirror says about them."""

    cache = {}
    cache_lock = threading.Lock()

    def __init__(self, path):
        st = os.stat(path)
        key = (path, st.st_size, st.st_mtime_ns)
        with Entity.cache_lock:
            hit = Entity.cache.get(key)
        if hit:
            self.__dict__.update(hit.__dict__)
            return
        with open(path, "rb") as f:
            self.data = f.read()
        digest = hashlib.sha256(self.data).digest()
        self.size = len(self.data)
        self.etag = '"%s"' % digest[:12].hex()
        self.last_modified = email.utils.formatdate(st.st_mtime, usegmt=True)
        self.repr_digest = "sha-256=:%s:" % base64.b64encode(digest).decode()
        with Entity.cache_lock:
            Entity.cache[key] = self


def parse_range(header, size):
    """(first, last) of a single byte range, 'unsatisfiable', or None (no usable range)."""
    if not header or not header.startswith("bytes=") or "," in header:
        return None
    ranges = header[6:].strip()
    first, _, last = ranges.partition("-")
    try:
        if first == "":
            n = int(last)
            if n <= 0:
                return "unsatisfiable"
            return max(0, size - n), size - 1
        a = int(first)
        b = int(last) if last else size - 1
    except ValueError:
        return None
    if a >= size or b < a:
        return "unsatisfiable"
    return a, min(b, size - 1)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "mirror/1.0"

    def log_message(self, format, *args):  # quiet: the log endpoint tells what happened
        pass

    # --- plumbing -------------------------------------------------------------------------

    def target(self):
        """(host, path, absolute) of the request."""
        raw = self.path
        absolute = raw.startswith("http://") or raw.startswith("https://")
        if absolute:
            parts = urllib.parse.urlsplit(raw)
            host, path = parts.hostname or "", parts.path or "/"
        else:
            host = (self.headers.get("Host") or "").split(":")[0]
            path = urllib.parse.urlsplit(raw).path
        return host, urllib.parse.unquote(path), absolute

    def local_file(self, host, path):
        root = self.server.root
        base = os.path.join(root, host) if host and os.path.isdir(os.path.join(root, host)) else root
        swapped = self.server.script.swaps.get(path)
        name = swapped if swapped else path.lstrip("/")
        full = os.path.normpath(os.path.join(base, name))
        if not full.startswith(os.path.normpath(root)) or not os.path.isfile(full):
            return None
        return full

    def abort(self):
        """Ends the connection with a reset rather than an orderly close."""
        try:
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        except OSError:
            pass
        self.close_connection = True

    def reset_when_sent(self):
        """Resets the connection once all that was written has left (a reset drops the rest),
        however long a slow client takes to read it (a minute at most)."""
        self.wfile.flush()
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and not self.server.stopping.is_set():
            unsent = struct.unpack("i", fcntl.ioctl(self.connection.fileno(), termios.TIOCOUTQ,
                                                    b"\0\0\0\0"))[0]
            if unsent == 0:
                break
            time.sleep(0.005)
        self.abort()

    def send_simple(self, status, extra=(), body=b""):
        self.send_response(status)
        for k, v in extra:
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def send_body(self, data, stop_after=None, stall=None, pause_at=None):
        """Writes `data`, or only its first `stop_after` bytes (then closes), pausing `stall`
        seconds before closing, or `stall` seconds after `pause_at` bytes and going on."""
        if self.command == "HEAD":
            return
        n = len(data) if stop_after is None else min(stop_after, len(data))
        script = self.server.script
        rate = script.rate
        started = time.monotonic()
        i = 0
        peer = str(self.client_address[1])
        while i < n:
            end = min(n, i + (CHUNK if not rate else max(1024, min(CHUNK, int(rate / 20)))))
            if pause_at is not None and i < pause_at <= end:
                end = pause_at
            if rate:  # no byte leaves before its time
                due = started + end / rate
                wait = due - time.monotonic()
                if wait > 0 and self.server.stopping.wait(wait):
                    return
            if script.burst:
                allowed = self.burst_allowance(script.burst)
                if allowed is None:
                    return
                end = min(end, i + allowed)
            # Counted before they leave: a client that has read them may ask the counts at
            # once, and must find them there.
            self.count_sent(peer, end - i)
            try:
                self.wfile.write(data[i:end])
                self.wfile.flush()
            except OSError:
                self.count_sent(peer, -(end - i))
                raise
            if script.burst:
                self.burst_sent += end - i
            if pause_at is not None and end == pause_at:
                self.wfile.flush()
                self.server.stopping.wait(stall)
            i = end
        self.wfile.flush()
        if stall and pause_at is None:
            self.server.stopping.wait(stall)
        if stop_after is not None:
            self.close_connection = True

    def burst_allowance(self, per_second):
        """Bytes this connection may still send in the current second, waiting for the next
        second once it has sent its share; None when the mirror stops. The seconds count from
        when the script was set, for every connection alike: one that begins late in a second
        has the whole share at once, and the next comes when the next second does."""
        since = self.server.script.since
        while True:
            now = time.monotonic()
            second = int(now - since)
            if getattr(self, "burst_second", None) != (since, second):
                self.burst_second = (since, second)
                self.burst_sent = 0
            if self.burst_sent < per_second:
                return per_second - self.burst_sent
            if self.server.stopping.wait(since + second + 1 - now):
                return None

    # --- control --------------------------------------------------------------------------

    def control(self):
        path = urllib.parse.urlsplit(self.path).path
        if path == "/_mirror/log" and self.command == "GET":
            with self.server.script.lock:
                body = "".join(line + "\n" for line in self.server.script.log).encode()
            self.send_simple(200, [("Content-Type", "text/plain")], body)
        elif path == "/_mirror/stats" and self.command == "GET":
            with self.server.script.lock:
                body = json.dumps({"body_bytes": self.server.script.body_bytes,
                                   "requests": self.server.script.requests,
                                   "peers": self.server.script.peer_bytes}).encode()
            self.send_simple(200, [("Content-Type", "application/json")], body)
        elif path == "/_mirror/tls_log" and self.command == "GET":
            with self.server.script.lock:
                body = "".join(line + "\n" for line in self.server.script.tls_log).encode()
            self.send_simple(200, [("Content-Type", "text/plain")], body)
        elif path in ("/_mirror/script", "/_mirror/reset") and self.command == "POST":
            length = int(self.headers.get("Content-Length") or 0)
            text = self.rfile.read(length) if length else b"{}"
            try:
                script = json.loads(text or b"{}") if path == "/_mirror/script" else {}
            except ValueError as e:
                self.send_simple(400, body=str(e).encode())
                return
            self.server.script.set(script)
            self.send_simple(200, body=b"ok\n")
        else:
            self.send_simple(404)

    def do_POST(self):
        self.control()

    def do_HEAD(self):
        self.do_GET()

    # --- files ----------------------------------------------------------------------------

    def do_GET(self):
        if urllib.parse.urlsplit(self.path).path.startswith("/_mirror/"):
            self.control()
            return
        script = self.server.script
        with script.lock:
            script.inflight += 1
            script.peak = max(script.peak, script.inflight)
            inflight = script.inflight
        try:
            self.serve(inflight)
        except (BrokenPipeError, ConnectionResetError, ConnectionAbortedError):
            self.close_connection = True
        finally:
            with script.lock:
                script.inflight -= 1

    def scheme(self):
        return "https" if isinstance(self.connection, ssl.SSLSocket) else "http"

    # --- tunnels ---------------------------------------------------------------------------

    def do_CONNECT(self):
        """Opens a tunnel to one of our TLS servers, whatever host the client named."""
        self.close_connection = True
        target = self.path
        _, _, port = target.rpartition(":")
        rule = self.server.script.pick(target, False, self.scheme(), connect=True)
        fault = rule["fault"] if rule else "-"
        if fault == "reset":
            self.note("reset", fault, 0, True)
            self.abort()
            return
        if fault == "status":
            status = int(rule.get("status", 403))
            self.note(status, fault, 0, True)
            self.send_simple(status, body=b"fault\n")
            return
        dest = self.server.tunnel_port(int(port) if port.isdigit() else 0)
        if not dest:
            self.note(502, fault, 0, True, " tunnel=-")
            self.send_simple(502, body=b"no TLS server to tunnel to\n")
            return
        try:
            upstream = socket.create_connection(("127.0.0.1", dest), timeout=10)
        except OSError:
            self.note(502, fault, 0, True, " tunnel=%d" % dest)
            self.send_simple(502, body=b"tunnel refused\n")
            return
        self.note(200, fault, 0, True, " tunnel=%d" % dest)
        self.send_response(200, "Connection established")
        self.end_headers()
        self.wfile.flush()
        self.relay(upstream)

    def relay(self, upstream):
        """Copies bytes both ways until both sides have closed (or the mirror stops)."""
        client = self.connection
        pending = b""
        client.setblocking(False)
        try:
            pending = self.rfile.peek(1 << 16)  # what the client sent behind the request
            self.rfile.read(len(pending))
        except (BlockingIOError, OSError, ValueError):
            pending = b""
        finally:
            client.setblocking(True)
        upstream.settimeout(None)
        try:
            if pending:
                upstream.sendall(pending)
            peer = {client: upstream, upstream: client}
            while peer and not self.server.stopping.is_set():
                ready, _, _ = select.select(list(peer), [], [], 0.5)
                for s in ready:
                    try:
                        data = s.recv(CHUNK)
                    except OSError:
                        data = b""
                    other = peer[s]
                    if data:
                        try:
                            other.sendall(data)
                            continue
                        except OSError:
                            pass
                    del peer[s]  # one direction is done: pass the close on
                    try:
                        other.shutdown(socket.SHUT_WR)
                    except OSError:
                        pass
        finally:
            upstream.close()

    def note(self, status, fault, inflight, absolute, extra=""):
        def clean(v):
            return (v or "-").replace(" ", "_")
        path = self.path if self.command == "CONNECT" else urllib.parse.urlsplit(self.path).path
        line = "%s %s range=%s if_range=%s status=%s fault=%s inflight=%d abs=%d" % (
            self.command, path, clean(self.headers.get("Range")),
            clean(self.headers.get("If-Range")), status, fault, inflight, int(absolute))
        line += " peer=%d" % self.client_address[1]
        if self.scheme() == "https":
            line += " tls=%s sni=%s" % (self.connection.version(),
                                        getattr(self.connection, "sni", None) or "-")
        line += extra
        # Credentials meant for a proxy must never reach a server: said wherever they do.
        if self.headers.get("Proxy-Authorization"):
            line += " proxy_authorization=1"
        with self.server.script.lock:
            self.server.script.log.append(line)
            self.server.script.requests += 1

    def not_modified(self, e):
        """Whether the request's condition says the client has the file as it is."""
        tags = self.headers.get("If-None-Match")
        if tags is not None:
            wanted = [t.strip() for t in tags.split(",")]
            return "*" in wanted or any(t.removeprefix("W/") == e.etag for t in wanted)
        since = self.headers.get("If-Modified-Since")
        if since is None:
            return False
        try:
            since_time = email.utils.parsedate_to_datetime(since).timestamp()
        except (TypeError, ValueError):
            return False
        return email.utils.parsedate_to_datetime(e.last_modified).timestamp() <= since_time

    def serve(self, inflight):
        script = self.server.script
        host, path, absolute = self.target()
        range_header = self.headers.get("Range")
        if script.max_concurrent and inflight > script.max_concurrent:
            if script.refuse == "reset":
                self.note("reset", "refused", inflight, absolute)
                self.abort()
            else:
                self.note(503, "refused", inflight, absolute)
                self.send_simple(503, [("Retry-After", "1")], b"busy\n")
            return

        script.arrived(path)
        rule = script.pick(path, range_header is not None, self.scheme(), host=host,
                           if_range=self.headers.get("If-Range") is not None,
                           authorized=self.headers.get("Proxy-Authorization") is not None)
        fault = rule["fault"] if rule else "-"
        if fault == "hold":
            script.hold(rule["until"], int(rule.get("count", 1)), float(rule.get("seconds", 10)))
        if fault == "change":
            with script.lock:
                script.swaps[path] = rule["file"]
        if fault == "reset":
            self.note("reset", fault, inflight, absolute)
            self.abort()
            return
        if fault == "status":
            status = int(rule.get("status", 503))
            extra = []
            if "retry_after" in rule:
                extra.append(("Retry-After", str(rule["retry_after"])))
            if "location" in rule:
                extra.append(("Location", rule["location"]))
            if "proxy_authenticate" in rule:
                extra.append(("Proxy-Authenticate", rule["proxy_authenticate"]))
            self.note(status, fault, inflight, absolute)
            self.send_simple(status, extra, b"fault\n")
            return
        if fault == "hotspot":
            page = (b'<!DOCTYPE html><html><title>Wi-Fi</title>'
                    b'<body><a href="/login">Sign in now</a></body></html>\n')
            kind = "text/html; charset=utf-8" if rule.get("typed", True) else "application/octet-stream"
            lead = rule.get("lead", "").encode("utf-8")
            self.note(200, fault, inflight, absolute)
            if not lead:
                self.send_simple(200, [("Content-Type", kind), ("Cache-Control", "no-store")], page)
                return
            self.send_response(200)
            self.send_header("Content-Type", kind)
            self.send_header("Content-Length", str(len(lead + page)))
            self.end_headers()
            self.send_body(lead + page, stall=float(rule.get("seconds", 0.5)), pause_at=len(lead))
            return
        if fault == "redirect":
            status = int(rule.get("status", 302))
            self.note(status, fault, inflight, absolute)
            self.send_simple(status, [("Location", rule["location"])])
            return
        if fault == "to_https":
            status = int(rule.get("status", 301))
            port = int(rule.get("port", self.server.tls_port or 443))
            parts = urllib.parse.urlsplit(self.path)
            where = host or "127.0.0.1"
            if ":" in where:
                where = "[%s]" % where
            location = "https://%s:%d%s" % (where, port, parts.path or "/")
            if parts.query:
                location += "?" + parts.query
            self.note(status, fault, inflight, absolute)
            self.send_simple(status, [("Location", location)], b"moved to https\n")
            return

        full = self.local_file(host, path)
        if not full:
            self.note(404, fault, inflight, absolute)
            self.send_simple(404, body=b"not found\n")
            return
        e = Entity(full)

        headers = []
        if fault != "no_ranges":
            headers.append(("Accept-Ranges", "bytes"))
        if fault != "no_validators" and (not rule or rule.get("validators", True)):
            headers += [("ETag", e.etag), ("Last-Modified", e.last_modified)]
            if fault == "bad_digest":
                other = hashlib.sha256(e.data + b"!").digest()
                headers.append(("Repr-Digest", "sha-256=:%s:" % base64.b64encode(other).decode()))
            else:
                headers.append(("Repr-Digest", e.repr_digest))
        if fault == "big_headers":
            headers.append(("X-Padding", "p" * int(rule.get("bytes", 65536))))

        validated = any(k == "ETag" for k, _ in headers)
        if script.conditionals and validated and self.not_modified(e):
            self.note(304, fault, inflight, absolute)
            self.send_response(304)
            for k, v in headers:
                if k in ("ETag", "Last-Modified"):
                    self.send_header(k, v)
            self.end_headers()
            return

        # Which bytes: the range asked for, unless the validator no longer matches.
        # A stream without (or with a false) length is a whole file: no range can be cut from it.
        whole_only = fault in ("ignore_range", "no_length", "fake_length", "no_length_cut",
                               "tls_close", "gzip") or bool(rule and rule.get("whole"))
        wanted = parse_range(range_header, e.size) if not whole_only else None
        if_range = self.headers.get("If-Range")
        if wanted and if_range and if_range not in (e.etag, e.last_modified):
            wanted = None
        if wanted == "unsatisfiable" or fault == "range_416":
            self.note(416, fault, inflight, absolute)
            self.send_simple(416, [("Content-Range", "bytes */%d" % e.size)] + headers)
            return
        status, first, last = 200, 0, e.size - 1
        if wanted:
            status, (first, last) = 206, wanted
            if fault == "wrong_range":
                first = min(e.size - 1, first + int(rule.get("shift", 1000)))
            if fault == "cap_range":
                last = min(last, first + int(rule.get("bytes", 65536)) - 1)
            headers.append(("Content-Range", "bytes %d-%d/%d" % (first, last, e.size)))
        body = e.data[first:last + 1]

        self.note(status, fault, inflight, absolute, "" if validated else " validators=0")
        if fault == "interim" and not self.send_interims(rule):
            return  # an endless flood: the answer never comes
        if fault == "http10":
            self.protocol_version = "HTTP/1.0"  # this answer's status line only
        self.send_response(status)
        for k, v in headers:
            self.send_header(k, v)
        if fault == "no_length":
            self.send_header("Connection", "close")
            self.end_headers()
            self.send_body(body, stop_after=len(body))
            return
        if fault in ("no_length_cut", "tls_close"):
            self.send_header("Connection", "close")
            self.end_headers()
            cut = int(rule.get("bytes", len(body) // 2)) if fault == "no_length_cut" else len(body)
            self.send_body(body, stop_after=cut)
            if fault == "tls_close":
                self.close_notify()
            return
        if fault in ("chunked", "trailer_flood"):
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            self.send_chunked(body, rule, fault == "trailer_flood")
            return
        if fault == "gzip":
            body = gzip.compress(body, mtime=0)
            self.send_header("Content-Encoding", "gzip")
        if fault == "length_mismatch" and status == 206:
            announced = max(0, len(body) + int(rule.get("shift", 100)))
            self.send_header("Content-Length", str(announced))
            self.end_headers()
            self.send_body((body + b"\xa5" * announced)[:announced])
            return
        if fault == "http10":
            if rule.get("keep_alive"):
                self.send_header("Connection", "keep-alive")
            else:
                self.close_connection = True
        if fault == "fake_length":
            self.send_header("Content-Length", str(int(rule.get("bytes", 1 << 50))))
            self.end_headers()
            self.send_body(body, stop_after=min(len(body), 1024))
            return
        self.send_header("Content-Length", str(len(body)))
        self.served = getattr(self, "served", 0) + 1
        if script.keepalive and self.served >= script.keepalive:
            if not script.keepalive_silent:
                self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        if fault == "tls_garbage" and isinstance(self.connection, ssl.SSLSocket):
            self.send_body(body[:int(rule.get("bytes", len(body) // 2))])
            # Straight onto the TCP stream, past TLS: an application data record that cannot
            # decrypt.
            os.write(self.connection.fileno(), b"\x17\x03\x03\x00\x40" + os.urandom(64))
            self.close_connection = True
            return
        if fault == "close_after":
            self.send_body(body, stop_after=int(rule.get("bytes", len(body) // 2)))
        elif fault == "stall":
            self.send_body(body, stop_after=int(rule.get("bytes", 0)), stall=float(rule.get("seconds", 30)))
        elif fault == "pause":
            self.send_body(body, stall=float(rule.get("seconds", 1)),
                           pause_at=min(len(body), int(rule.get("bytes", 0))))
        elif fault == "short_body":
            self.send_body(body, stop_after=max(0, len(body) - int(rule.get("bytes", len(body) // 2))))
        elif fault == "long_body":
            self.send_body(body + b"\xa5" * int(rule.get("bytes", 4096)))
            self.close_connection = True
        else:
            self.send_body(body)
            if script.keepalive_reset and self.close_connection:
                self.reset_when_sent()
        if fault == "http10":
            del self.protocol_version  # the next answer on this connection is HTTP/1.1 again

    # --- framing and flooding faults ------------------------------------------------------

    def send_interims(self, rule):
        """Sends the interim answers of an `interim` rule; False when they never end."""
        count = int(rule.get("count", 2))
        interval = float(rule.get("interval", 0))
        sent = 0
        while count < 0 or sent < count:
            if self.server.stopping.is_set():
                return False
            if sent % 2 == 0:
                self.wfile.write(b"HTTP/1.1 100 Continue\r\n\r\n")
            else:
                self.wfile.write(b"HTTP/1.1 103 Early Hints\r\nLink: </setup.css>; rel=preload\r\n\r\n")
            self.wfile.flush()
            sent += 1
            if interval and self.server.stopping.wait(interval):
                return False
        return count >= 0

    def count_sent(self, peer, n):
        script = self.server.script
        with script.lock:
            script.body_bytes += n
            script.peer_bytes[peer] = script.peer_bytes.get(peer, 0) + n

    def send_chunked(self, body, rule, flood):
        """The body in chunks, then trailers: a few, or (flood) without end."""
        if self.command == "HEAD":
            return
        size = max(1, int(rule.get("chunk", 7919)))
        for i in range(0, len(body), size):
            piece = body[i:i + size]
            self.wfile.write(b"%x; n=%d\r\n" % (len(piece), i // size) + piece + b"\r\n")
            with self.server.script.lock:
                self.server.script.body_bytes += len(piece)
        self.wfile.write(b"0\r\n")
        if not flood:
            for t in range(int(rule.get("trailers", 1))):
                self.wfile.write(b"X-Trailer-%d: %d\r\n" % (t, len(body)))
            self.wfile.write(b"\r\n")
            self.wfile.flush()
            return
        interval = float(rule.get("interval", 0))
        line = b"X-Flood: " + b"f" * 54 + b"\r\n"
        while not self.server.stopping.is_set():
            self.wfile.write(line * (1 if interval else 64))
            self.wfile.flush()
            if interval and self.server.stopping.wait(interval):
                break
        self.close_connection = True

    def close_notify(self):
        """Ends a TLS connection the proper way: the server's close_notify before the close."""
        self.close_connection = True
        if not isinstance(self.connection, ssl.SSLSocket):
            return
        try:
            self.wfile.flush()
            self.connection.settimeout(5)
            self.connection.unwrap()
        except (OSError, ValueError):
            pass


TLS_VERSIONS = {"1.2": ssl.TLSVersion.TLSv1_2, "1.3": ssl.TLSVersion.TLSv1_3}


class Mirror(ThreadingHTTPServer):
    """The mirror on one port. With `tls` ({case: (chain.pem, key.pem)}, or one such pair) it
    serves HTTPS, sending `cert` (a case of tls); when `switchable`, a script's "tls"."cert"
    picks another case of tls for new connections. `twin_of` shares another mirror's script,
    log and counters. A plain mirror sends to_https redirects and CONNECT tunnels to
    `tls_port`, or to the port asked for when it is one of `tunnels`."""

    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, root, host="127.0.0.1", port=0, script=None, tls=None, cert=None,
                 switchable=False, twin_of=None):
        self.root = os.path.abspath(root)
        self.script = twin_of.script if twin_of else Script()
        if script:
            self.script.set(script)
        self.stopping = threading.Event()
        if isinstance(tls, (tuple, list)):
            tls, cert = {"given": tuple(tls)}, "given"
        self.certs = tls or {}
        self.cert = cert or (next(iter(self.certs)) if self.certs else None)
        self.switchable = switchable
        self.contexts = {}
        self.tls_port = None
        self.tunnels = set()
        super().__init__((host, port), Handler)
        if self.certs:
            self.context(self.cert)  # a bad certificate file shows now, not at the first client

    @property
    def port(self):
        return self.server_address[1]

    def tunnel_port(self, asked):
        return asked if asked in self.tunnels else self.tls_port

    def context(self, case):
        with self.script.lock:
            tls = dict(self.script.tls)
        key = (case, tls.get("min"), tls.get("max"))
        ctx = self.contexts.get(key)
        if ctx is None:
            ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            chain, keyfile = self.certs[case]
            ctx.load_cert_chain(chain, keyfile)
            if tls.get("min"):
                ctx.minimum_version = TLS_VERSIONS[str(tls["min"])]
            if tls.get("max"):
                ctx.maximum_version = TLS_VERSIONS[str(tls["max"])]

            def remember_sni(sock, name, _ctx):
                sock.sni = name
            ctx.sni_callback = remember_sni
            self.contexts[key] = ctx
        return ctx

    def shutdown_request(self, request):
        # A connection aborted by a fault ends in a reset alone: a FIN before it would read
        # as an orderly end.
        try:
            linger = struct.unpack("ii", request.getsockopt(socket.SOL_SOCKET, socket.SO_LINGER, 8))
        except OSError:
            linger = (0, 0)
        if linger == (1, 0):
            self.close_request(request)
        else:
            self.close_in_stages(request)
            self.close_request(request)

    def close_in_stages(self, sock):
        """Ends our side, then reads and drops what the client still sends until it ends its
        own (or the mirror stops, or a minute has passed), as servers close: a socket closed
        with requests unread resets the connection, and the reset takes with it whatever of
        the last answer had not yet left."""
        try:
            sock.shutdown(socket.SHUT_WR)
            sock.settimeout(0.5)
        except OSError:
            return
        until = time.monotonic() + 60
        while time.monotonic() < until and not self.stopping.is_set():
            try:
                if not sock.recv(CHUNK):
                    return
            except socket.timeout:
                continue
            except OSError:
                return

    def finish_request(self, request, client_address):
        if not self.certs:
            super().finish_request(request, client_address)
            return
        conn = self.handshake(request)  # in the connection's own thread
        if conn is None:
            return
        try:
            super().finish_request(conn, client_address)
        finally:  # what shutdown_request does for a plain socket (the raw one is detached)
            self.close_in_stages(conn)
            conn.close()

    def handshake(self, raw):
        case = self.cert
        if self.switchable:
            with self.script.lock:
                case = self.script.tls.get("cert") or self.cert
        start = time.monotonic()
        raw.settimeout(60)  # a client under emulation takes its time
        conn = None
        try:
            conn = self.context(case).wrap_socket(raw, server_side=True)
            conn.settimeout(None)
        except (OSError, ssl.SSLError, ValueError) as e:
            ms = (time.monotonic() - start) * 1000
            line = "handshake failed port=%d cert=%s sni=%s ms=%.0f error=%s" % (
                self.port, case, getattr(conn, "sni", None) or "-", ms, str(e).replace(" ", "_"))
            with self.script.lock:
                self.script.tls_log.append(line)
            raw.close()
            return None
        ms = (time.monotonic() - start) * 1000
        line = "handshake ok port=%d cert=%s version=%s cipher=%s sni=%s resumed=%d ms=%.0f" % (
            self.port, case, conn.version(), conn.cipher()[0], getattr(conn, "sni", None) or "-",
            int(conn.session_reused), ms)
        with self.script.lock:
            self.script.tls_log.append(line)
        return conn

    def start(self):
        thread = threading.Thread(target=self.serve_forever, daemon=True)
        thread.start()
        return thread

    def stop(self):
        self.stopping.set()
        self.shutdown()
        self.server_close()


def stop_all(mirrors):
    """Stops started mirrors together (each stop waits up to half a second for its loop)."""
    threads = [threading.Thread(target=m.stop) for m in mirrors]
    for t in threads:
        t.start()
    for t in threads:
        t.join()


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--root", required=True, help="folder to serve")
    ap.add_argument("--host", default="127.0.0.1")
    ap.add_argument("--port", type=int, default=0, help="0: any free port (printed)")
    ap.add_argument("--script", help="JSON fault script")
    ap.add_argument("--tls", nargs=2, metavar=("CHAIN", "KEY"),
                    help="serve HTTPS with this certificate chain (leaf first) and key")
    args = ap.parse_args()
    script = None
    if args.script:
        with open(args.script) as f:
            script = json.load(f)
    mirror = Mirror(args.root, args.host, args.port, script, tls=args.tls)
    print(mirror.port, flush=True)
    print("mirror: serving %s on %s://%s:%d/" % (mirror.root, "https" if args.tls else "http",
                                                args.host, mirror.port),
          file=sys.stderr, flush=True)
    try:
        mirror.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        mirror.stopping.set()
        mirror.server_close()


if __name__ == "__main__":
    main()
