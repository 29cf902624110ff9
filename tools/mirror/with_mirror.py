#!/usr/bin/env python3
"""Runs a command with a mirror serving a fresh temporary folder, then stops the mirror and
removes the folder. For the engine's tests:

    with_mirror.py [--tls CERTDIR] [--relay DELAY_MS:RATE] COMMAND ARGS...

The command finds the mirror through its environment:
    XLDL_TEST_MIRROR         host:port of the mirror (control at /_mirror/...)
    XLDL_TEST_MIRROR_DIRECT  host:port of the mirror itself (the same without --relay)
    XLDL_TEST_ROOT           the served folder
    XLDL_TEST_ROOT_WIN       the same folder as Wine sees it (Z:\\...)
--relay puts the relay (bench/relay/: a delay line, built on first use) in front of the
mirror, so that it looks far: DELAY_MS one way (a round trip of twice that, and two for the
first answer on a new connection), RATE bytes/s per connection on the way down (k/m suffixes;
left out or 0: no cap). XLDL_TEST_MIRROR is then the relay; the control requests work through
it too (delayed like the rest), or without delay at XLDL_TEST_MIRROR_DIRECT.
The exit code is the command's.

With --tls, the certificates of tls_certs.py are made in CERTDIR (or reused), and beside the
plain mirror run HTTPS servers on the same folder, sharing its script, log and counters:
    XLDL_TEST_TLS_MIRROR      host:port of the TLS twin (the good certificate; a script's
                              "tls": {"cert": CASE} switches it); also XLDL_TEST_TLS_GOOD
    XLDL_TEST_TLS_<CASE>      host:port of a server that always sends that case's chain:
                              SELF_SIGNED, UNTRUSTED_ROOT, WRONG_HOST, EXPIRED, NOT_YET_VALID,
                              INCOMPLETE_CHAIN, TRIAL_ROOT
    XLDL_TEST_TLS_CERTS       CERTDIR; XLDL_TEST_TLS_CERTS_WIN as Wine sees it
    XLDL_TEST_TLS_ROOT_CA_WIN the test root to trust (Z:\\...\\root.der)
The plain mirror then redirects to the twin on a to_https rule, and as a proxy tunnels every
CONNECT to the twin (or to the server whose port the CONNECT names).
"""

import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "..", "bench", "relay"))
from mirror import Mirror, stop_all  # noqa: E402
import tls_certs  # noqa: E402


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def start_tls(mirror, root, certdir, env):
    """TLS servers beside the plain `mirror`: its twin and one per certificate case."""
    certs = tls_certs.ensure(certdir)
    servers = [Mirror(root, tls=certs, cert="good", switchable=True, twin_of=mirror)]
    env["XLDL_TEST_TLS_MIRROR"] = "127.0.0.1:%d" % servers[0].port
    for case in certs:
        server = servers[0]
        if case != "good":
            server = Mirror(root, tls=certs, cert=case, twin_of=mirror)
            servers.append(server)
        env["XLDL_TEST_TLS_" + case.upper()] = "127.0.0.1:%d" % server.port
    mirror.tls_port = servers[0].port
    mirror.tunnels = {s.port for s in servers}
    certdir = os.path.abspath(certdir)
    env["XLDL_TEST_TLS_CERTS"] = certdir
    env["XLDL_TEST_TLS_CERTS_WIN"] = windows_path(certdir)
    env["XLDL_TEST_TLS_ROOT_CA_WIN"] = windows_path(os.path.join(certdir, "root.der"))
    return servers


def main():
    args = sys.argv[1:]
    certdir = relay_link = None
    while len(args) >= 2 and args[0] in ("--tls", "--relay"):
        if args[0] == "--tls":
            certdir = args[1]
        else:
            relay_link = args[1]
        args = args[2:]
    if not args:
        print(__doc__, file=sys.stderr)
        return 2
    root = tempfile.mkdtemp(prefix="xldl-mirror-")
    mirror = Mirror(root)
    env = dict(os.environ)
    servers = [mirror]
    relay = None
    env["XLDL_TEST_MIRROR_DIRECT"] = env["XLDL_TEST_MIRROR"] = "127.0.0.1:%d" % mirror.port
    env["XLDL_TEST_ROOT"] = root
    env["XLDL_TEST_ROOT_WIN"] = windows_path(root)
    started = []
    try:
        if certdir:
            servers += start_tls(mirror, root, certdir, env)
        for s in servers:
            s.start()
            started.append(s)
        if relay_link:
            from relay import Relay, parse_link
            delay_ms, rate = parse_link(relay_link)
            relay = Relay(env["XLDL_TEST_MIRROR_DIRECT"], delay_ms, rate=rate)
            relay.start()
            env["XLDL_TEST_MIRROR"] = relay.address
        return subprocess.call(args, env=env)
    finally:
        if relay:
            relay.stop()
        stop_all(started)
        for s in servers:
            if s not in started:
                s.server_close()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
