#!/usr/bin/env python3
"""Checks the relay against what it was asked for, with servers of its own on loopback.

    selftest.py [--delay-ms 50] [--rates 1m,4m,16m] [--seconds 3]   measure and check
    selftest.py --functional                                       bytes and closes only

The measuring run prints, for each setting, the round trip (first exchange on a new connection:
two round trips, with the connect; later exchanges: one), the time to the first byte of an
answer, the rate of one connection and of four at once (from each connection's first byte to its
last), the shared cap, the delay of a close and of a reset in each direction, and the relay's own
CPU use; it fails (exit 1) when a figure is more than 3 % (or 3 ms for times) off. --functional
runs with a 5 ms delay and checks no time at all (for ctest): bytes through unchanged both ways,
a close and a reset passed on in each direction, a refused target.
"""

import argparse
import os
import socket
import struct
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from relay import Relay, parse_rate  # noqa: E402

BLOCK = bytes(range(256)) * 4096  # 1 MiB


class Server:
    """Loopback server; each connection reads one command line and acts:
       echo            echo everything until EOF, then close
       send N          send N bytes (BLOCK pattern), then close
       close           close at once (FIN)
       reset           reset at once
       hold            wait; note when the peer's EOF or reset arrives"""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(64)
        self.port = self.sock.getsockname()[1]
        self.events = []  # (what, monotonic time)
        self.lock = threading.Lock()
        threading.Thread(target=self.accept_loop, daemon=True).start()

    def note(self, what):
        with self.lock:
            self.events.append((what, time.monotonic()))

    def accept_loop(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            threading.Thread(target=self.serve, args=(conn,), daemon=True).start()

    def serve(self, conn):
        try:
            line = b""
            while not line.endswith(b"\n"):
                got = conn.recv(1)
                if not got:
                    conn.close()
                    return
                line += got
            words = line.decode().split()
            self.note("request " + words[0])
            if words[0] == "echo":
                while True:
                    data = conn.recv(1 << 20)
                    if not data:
                        break
                    conn.sendall(data)
                conn.shutdown(socket.SHUT_WR)
                conn.recv(1)
            elif words[0] == "send":
                left = int(words[1])
                while left > 0:
                    n = min(left, len(BLOCK))
                    conn.sendall(BLOCK[:n])
                    left -= n
                conn.shutdown(socket.SHUT_WR)
                conn.recv(1)
            elif words[0] == "close":
                conn.shutdown(socket.SHUT_WR)
                conn.recv(1)
            elif words[0] == "reset":
                conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            elif words[0] == "hold":
                try:
                    got = conn.recv(1)
                    self.note("eof" if not got else "data")
                except ConnectionResetError:
                    self.note("reset")
        except OSError:
            pass
        finally:
            conn.close()


def connect(port):
    s = socket.create_connection(("127.0.0.1", port))
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return s


def recv_exact(s, n):
    data = b""
    while len(data) < n:
        got = s.recv(n - len(data))
        if not got:
            raise EOFError("closed after %d of %d bytes" % (len(data), n))
        data += got
    return data


def round_trips(port, count=6):
    """(first exchange after connect, median of the later ones), in seconds."""
    s = connect(port)
    start = time.monotonic()
    s.sendall(b"echo\nx")
    recv_exact(s, 1)
    first = time.monotonic() - start
    later = []
    for _ in range(count):
        t = time.monotonic()
        s.sendall(b"y")
        recv_exact(s, 1)
        later.append(time.monotonic() - t)
    s.close()
    later.sort()
    return first, later[len(later) // 2]


def download(port, size, result, index):
    """Fetches size bytes; result[index] = (time to first byte, rate first..last byte, ok,
    first byte's time, last byte's time)."""
    s = connect(port)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
    start = time.monotonic()
    s.sendall(b"send %d\n" % size)
    got, first, first_len, last, ok = 0, None, 0, None, True
    expect = memoryview(BLOCK)
    while True:
        data = s.recv(1 << 20)
        if not data:
            break
        now = time.monotonic()
        if first is None:
            first, first_len = now, len(data)
        last = now
        off = got % len(BLOCK)
        if off + len(data) <= len(BLOCK):
            ok = ok and expect[off:off + len(data)] == data
        got += len(data)
    s.close()
    ok = ok and got == size
    # The first recv's bytes came at `first`: the rate counts what came after them.
    rate = (size - first_len) / (last - first) if last and last > first else 0
    result[index] = (first - start if first else 0, rate, ok, first or 0, last or 0)


def parallel(port, size, n):
    result = [None] * n
    threads = [threading.Thread(target=download, args=(port, size, result, i)) for i in range(n)]
    start = time.monotonic()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return result, time.monotonic() - start


def close_delays(server, port):
    """(server close -> client EOF, server reset -> client reset, client close -> server EOF,
    client reset -> server reset), each measured from the moment it happened, in seconds."""
    out = []
    for what in ("close", "reset"):
        # The server acts when the request arrives: it is noted, and the client's view of the
        # close comes D later.
        with server.lock:
            server.events.clear()
        s = connect(port)
        s.sendall(what.encode() + b"\n")
        seen = None
        try:
            got = s.recv(1)
            seen = "eof" if not got else "data"
        except ConnectionResetError:
            seen = "reset"
        t = time.monotonic()
        s.close()
        with server.lock:
            acted = [e[1] for e in server.events if e[0] == "request " + what]
        out.append((seen, t - acted[0] if acted else None))
    for what in ("close", "reset"):
        with server.lock:
            server.events.clear()
        s = connect(port)
        s.sendall(b"hold\n")
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            with server.lock:
                if any(e[0] == "request hold" for e in server.events):
                    break
            time.sleep(0.001)
        if what == "reset":
            s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            t = time.monotonic()
            s.close()
        else:
            t = time.monotonic()
            s.shutdown(socket.SHUT_WR)
        deadline = time.monotonic() + 10
        seen = None
        while time.monotonic() < deadline and seen is None:
            with server.lock:
                for e in server.events:
                    if e[0] in ("eof", "reset", "data"):
                        seen = e
            time.sleep(0.001)
        if what == "close":
            s.close()
        out.append((seen[0] if seen else None, seen[1] - t if seen else None))
    return out


def median(values):
    values = sorted(v for v in values if v is not None)
    return values[len(values) // 2] if values else None


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class Checker:
    def __init__(self):
        self.failures = []
        self.count = 0

    def report(self):
        print("%d passed, %d failed" % (self.count - len(self.failures), len(self.failures)))
        for f in self.failures:
            print("OFF:", f)
        return 1 if self.failures else 0

    def time(self, label, got, want, tol_ratio=0.03, tol_abs=0.003):
        self.count += 1
        ok = got is not None and abs(got - want) <= max(tol_abs, want * tol_ratio)
        print("  %-44s %9.1f ms  (asked %7.1f ms)  %s" % (
            label, (got or 0) * 1000, want * 1000, "ok" if ok else "OFF"))
        if not ok:
            self.failures.append(label)

    def rate(self, label, got, want, tol_ratio=0.03):
        self.count += 1
        ok = abs(got - want) <= want * tol_ratio
        print("  %-44s %9.3f MB/s (asked %7.3f MB/s) %s" % (
            label, got / 1e6, want / 1e6, "ok" if ok else "OFF"))
        if not ok:
            self.failures.append(label)

    def true(self, label, ok):
        self.count += 1
        print("  %-44s %s" % (label, "ok" if ok else "FAILED"))
        if not ok:
            self.failures.append(label)


def measure(args):
    server = Server()
    check = Checker()
    target = "127.0.0.1:%d" % server.port
    d = args.delay_ms / 1000.0
    for rate in [parse_rate(r) for r in args.rates.split(",")]:
        size = int(rate * args.seconds)
        print("delay %g ms one way (round trip %g ms), %.3g MB/s per connection, %d bytes each"
              % (args.delay_ms, 2 * args.delay_ms, rate / 1e6, size))
        with Relay(target, args.delay_ms, rate=rate) as relay:
            # Medians of a few tries: the test's own threads (Python) can be late now and then.
            trips = [round_trips(relay.port) for _ in range(5)]
            check.time("round trip, first exchange (connect + 1)", median(t[0] for t in trips), 4 * d)
            check.time("round trip, later exchanges", median(t[1] for t in trips), 2 * d)
            firsts = []
            for _ in range(5):
                result, _ = parallel(relay.port, 100000, 1)
                firsts.append(result[0][0])
            check.time("first answer byte, new connection", median(firsts), 4 * d)
            result, _ = parallel(relay.port, size, 1)
            r1, ok = result[0][1:3]
            check.rate("rate, one connection", r1, rate)
            check.true("bytes, one connection", ok)
            cpu0, t0 = cpu_seconds(relay.process.pid), time.monotonic()
            result, _ = parallel(relay.port, size, 4)
            cpu = (cpu_seconds(relay.process.pid) - cpu0) / (time.monotonic() - t0)
            for i, (ttfb, r, ok, _, _) in enumerate(result):
                check.rate("rate, connection %d of 4" % (i + 1), r, rate)
                check.true("bytes, connection %d of 4" % (i + 1), ok)
            print("  relay CPU during the 4 connections: %.1f %% of one core" % (100 * cpu))
            check.true("relay CPU below 25 %", cpu < 0.25)
            tries = [close_delays(server, relay.port) for _ in range(5)]
            for i, (label, want) in enumerate(zip(
                    ("server close -> client EOF", "server reset -> client reset",
                     "client close -> server EOF", "client reset -> server reset"),
                    ("eof", "reset", "eof", "reset"))):
                seen = [t[i][0] for t in tries]
                check.true(label + " (%s)" % ",".join(sorted(set(map(str, seen)))),
                           all(x == want for x in seen))
                check.time(label + ", delay", median(t[i][1] for t in tries), d)
    shared = parse_rate(args.shared)
    size = int(shared * args.seconds / 4)
    print("delay %g ms one way, %.3g MB/s shared by all connections, 4 x %d bytes"
          % (args.delay_ms, shared / 1e6, size))
    with Relay(target, args.delay_ms, shared_rate=shared) as relay:
        result, elapsed = parallel(relay.port, size, 4)
        span = max(r[4] for r in result) - min(r[3] for r in result)
        check.rate("4 connections together, first to last byte", 4 * size / span, shared)
        check.time("all 4 done (2 RTT + 4 x size / shared cap)", elapsed,
                   4 * d + 4 * size / shared, tol_ratio=0.03, tol_abs=0.01)
        check.true("bytes", all(r[2] for r in result))
    return check.report()


def functional():
    server = Server()
    check = Checker()
    target = "127.0.0.1:%d" % server.port
    with Relay(target, 5, rate=50e6) as relay:
        s = connect(relay.port)
        data = os.urandom(8 << 20)
        s.sendall(b"echo\n")
        back = bytearray()

        def reader():
            while True:
                got = s.recv(1 << 20)
                if not got:
                    return
                back.extend(got)

        t = threading.Thread(target=reader)
        t.start()
        s.sendall(data)
        s.shutdown(socket.SHUT_WR)
        t.join(60)
        s.close()
        check.true("8 MiB echoed unchanged, then closed", bytes(back) == data)
        result, _ = parallel(relay.port, 3 << 20, 4)
        check.true("4 downloads of 3 MiB at once, unchanged", all(r and r[2] for r in result))
        for label, (seen, _), want in zip(
                ("server close -> client EOF", "server reset -> client reset",
                 "client close -> server EOF", "client reset -> server reset"),
                close_delays(server, relay.port), ("eof", "reset", "eof", "reset")):
            check.true(label + " (%s)" % seen, seen == want)
    # A target that refuses: the client is reset.
    free = socket.socket()
    free.bind(("127.0.0.1", 0))
    port = free.getsockname()[1]
    free.close()
    with Relay("127.0.0.1:%d" % port, 5) as relay:
        s = connect(relay.port)
        try:
            s.sendall(b"x")
            seen = "data" if s.recv(1) else "eof"
        except ConnectionResetError:
            seen = "reset"
        s.close()
        check.true("refused target -> client reset (%s)" % seen, seen == "reset")
    return check.report()


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--functional", action="store_true")
    p.add_argument("--delay-ms", type=float, default=50)
    p.add_argument("--rates", default="1m,4m,16m")
    p.add_argument("--shared", default="8m")
    p.add_argument("--seconds", type=float, default=3)
    args = p.parse_args()
    return functional() if args.functional else measure(args)


if __name__ == "__main__":
    sys.exit(main())
