#!/usr/bin/env python3
"""Builds and runs the relay (relay.cpp beside this file: a TCP delay line with a rate cap that
makes a server on loopback look like a far mirror).

    relay.py build                 builds it if needed, prints its path
    relay.py run RELAY-ARGS...     builds it if needed and runs it (same arguments as the relay)

From Python:

    from relay import Relay, parse_link
    with Relay("127.0.0.1:8080", delay_ms=100, rate=4e6) as r:
        ... connect to 127.0.0.1:r.port ...

The binary goes to $BUILD_DIR/bench/relay/relay (BUILD_DIR defaults to the repository's
build/), made with the host's g++ -O2 whenever relay.cpp is newer.
"""

import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.join(HERE, "relay.cpp")
ROOT = os.path.dirname(os.path.dirname(HERE))


def binary_path(build_dir=None):
    build_dir = build_dir or os.environ.get("BUILD_DIR") or os.path.join(ROOT, "build")
    return os.path.join(build_dir, "bench", "relay", "relay")


def build(build_dir=None):
    """Compiles the relay when it is missing or older than its source; returns its path."""
    path = binary_path(build_dir)
    if os.path.exists(path) and os.path.getmtime(path) >= os.path.getmtime(SOURCE):
        return path
    os.makedirs(os.path.dirname(path), exist_ok=True)
    tmp = path + ".tmp%d" % os.getpid()
    subprocess.run(["g++", "-std=c++17", "-O2", "-Wall", "-Wextra", "-o", tmp, SOURCE], check=True)
    os.replace(tmp, path)
    return path


def parse_rate(text):
    """'4m' -> 4e6 bytes/s ('k', 'm', 'g' are powers of 1000); '' or '0' -> 0 (no cap)."""
    text = (text or "0").strip()
    scale = {"k": 1e3, "m": 1e6, "g": 1e9}.get(text[-1:].lower(), 1)
    return float(text[:-1] if scale != 1 else text) * scale


def parse_link(link):
    """'DELAY_MS:RATE' (RATE optional, per connection, on the way down) -> (delay_ms, rate)."""
    delay, _, rate = link.partition(":")
    return float(delay), parse_rate(rate)


class Relay:
    """The relay in front of target ('host:port'), on 127.0.0.1:self.port once started.

    delay_ms: one-way delay (round trip twice that); rate: per-connection cap on the way down
    (bytes/s, 0 none); shared_rate: one cap for all connections together; handshake: hold the
    first bytes as a real connect would (2 round trips to the first answer byte); extra: more
    relay arguments; log: a file object for the relay's stderr (per-connection lines with
    --log in extra), else it goes to this process's stderr."""

    def __init__(self, target, delay_ms, rate=0, shared_rate=0, handshake=True, extra=(),
                 build_dir=None, log=None):
        self.args = [build(build_dir), "--target", target, "--delay-ms", repr(float(delay_ms)),
                     "--exit-with-parent"]
        if rate:
            self.args += ["--rate", "%d" % rate]
        if shared_rate:
            self.args += ["--shared-rate", "%d" % shared_rate]
        if not handshake:
            self.args.append("--no-handshake")
        self.args += list(extra)
        self.log = log
        self.process = None
        self.port = None

    def start(self):
        self.process = subprocess.Popen(self.args, stdout=subprocess.PIPE, stderr=self.log,
                                        text=True)
        line = self.process.stdout.readline()
        if not line.strip().isdigit():
            self.process.wait()
            raise RuntimeError("the relay did not start: %s" % " ".join(self.args))
        self.port = int(line)
        return self.port

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if self.process:
            self.process.stdout.close()

    @property
    def address(self):
        return "127.0.0.1:%d" % self.port

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()


def main(argv):
    if len(argv) >= 1 and argv[0] == "build":
        print(build())
        return 0
    if len(argv) >= 1 and argv[0] == "run":
        path = build()
        os.execv(path, [path] + argv[1:])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
