#!/usr/bin/env python3
"""Runs a command in a network namespace of its own, for tests of how the engine connects:
names whose IPv6 address swallows packets, works, or is missing, and a resolver that never
answers. Needs root, `ip` and `nft`; without them the command runs all the same, outside, with
XLDL_TEST_NETNS_SKIP saying why, and the tests that need the namespace skip (under CI=true it
fails instead: CI runs as root, where these tests must run).

    with_netns.py --prefix WINEPREFIX COMMAND ARGS...
        makes the namespace and runs COMMAND in it (usually with_mirror.py ... with_netns.py
        --inside ...), then removes the namespace
    with_netns.py --inside COMMAND ARGS...
        inside the namespace, beside the mirror (XLDL_TEST_MIRROR): serves the mirror's port on
        the working IPv6 address too, and runs COMMAND with the Wine prefix's server of this
        namespace

Wine's sockets are made by the wineserver, so the prefix (one for these tests alone) must have
its server started inside the namespace, and none left over from elsewhere. `ip netns exec`
lays /etc/netns/NAME/hosts and resolv.conf over the system's, where Wine's lookups read them.

Names (every address serves the mirror's port, but for the dropped one):
    broken.test   2001:db8::2 (every packet to it dropped) and 127.0.0.1
    dual.test     2001:db8::3 (relayed to the mirror) and 127.0.0.1
    v4only.test   127.0.0.1
    anything else is asked of a name server at the dropped address: it never answers (each
    lookup gives up after about 3 s)
The command finds in its environment XLDL_TEST_NETNS (the namespace's name) and
XLDL_TEST_V6_LOG_WIN (a file with one line per connection accepted on 2001:db8::3, as Wine
sees it). The exit code is the command's.
"""

import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading

DROPPED = "2001:db8::2"
WORKING = "2001:db8::3"
HOSTS = """127.0.0.1 localhost
::1 localhost
%(dropped)s broken.test
127.0.0.1 broken.test
%(working)s dual.test
127.0.0.1 dual.test
127.0.0.1 v4only.test
""" % {"dropped": DROPPED, "working": WORKING}
# Each lookup gives up after a few seconds: longer than the stall of the tests, short enough to
# see a lookup that was left behind end.
RESOLV = "nameserver %s\noptions timeout:3 attempts:1\n" % DROPPED
WINESERVER = "/usr/lib/wine/wineserver64"


def run(*args):
    return subprocess.run(args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)


def skip(reason, command):
    print("with_netns: no network namespace: %s" % reason, file=sys.stderr)
    if os.environ.get("CI") == "true":  # CI runs as root: there these tests must run
        return 1
    env = dict(os.environ, XLDL_TEST_NETNS_SKIP=reason)
    return subprocess.call(command, env=env)


def outside(prefix, command):
    if os.geteuid() != 0:
        return skip("not root", command)
    for tool in ("ip", "nft"):
        if not shutil.which(tool):
            return skip("no `%s` (iproute2, nftables)" % tool, command)
    name = "xldl-eyes-%d" % os.getpid()
    etc = os.path.join("/etc/netns", name)
    made = run("ip", "netns", "add", name)
    if made.returncode != 0:
        return skip("ip netns add: " + made.stderr.strip(), command)
    try:
        os.makedirs(etc)
        with open(os.path.join(etc, "hosts"), "w") as f:
            f.write(HOSTS)
        with open(os.path.join(etc, "resolv.conf"), "w") as f:
            f.write(RESOLV)
        rules = "table inet eyeballs { chain input { type filter hook input priority 0; " \
                "ip6 daddr %s drop; }; }" % DROPPED
        for step in (["ip", "link", "set", "lo", "up"],
                     ["ip", "-6", "addr", "add", DROPPED + "/128", "dev", "lo", "nodad"],
                     ["ip", "-6", "addr", "add", WORKING + "/128", "dev", "lo", "nodad"],
                     ["nft", rules]):
            done = run("ip", "netns", "exec", name, *step)
            if done.returncode != 0:
                return skip("%s: %s" % (" ".join(step), done.stderr.strip()), command)
        env = dict(os.environ, XLDL_TEST_NETNS=name, XLDL_TEST_NETNS_PREFIX=prefix)
        return subprocess.call(["ip", "netns", "exec", name] + command, env=env)
    finally:
        run("ip", "netns", "delete", name)
        shutil.rmtree(etc, ignore_errors=True)


def relay(a, b):
    try:
        while True:
            data = a.recv(65536)
            if not data:
                break
            b.sendall(data)
        b.shutdown(socket.SHUT_WR)
    except OSError:
        pass


def serve_ipv6(port, log):
    """Accepts on [WORKING]:port and relays each connection to the mirror on 127.0.0.1."""
    listener = socket.socket(socket.AF_INET6, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((WORKING, port))
    listener.listen(64)

    def accept():
        while True:
            try:
                client, peer = listener.accept()
                upstream = socket.create_connection(("127.0.0.1", port))
            except OSError:
                return
            with open(log, "a") as f:
                f.write("accepted [%s]:%d\n" % peer[:2])
            for a, b in ((client, upstream), (upstream, client)):
                threading.Thread(target=relay, args=(a, b), daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()
    return listener


def inside(command):
    prefix = os.environ["XLDL_TEST_NETNS_PREFIX"]
    port = int(os.environ["XLDL_TEST_MIRROR"].rsplit(":", 1)[1])
    folder = tempfile.mkdtemp(prefix="xldl-netns-")
    log = os.path.join(folder, "v6.log")
    open(log, "w").close()
    listener = serve_ipv6(port, log)
    env = dict(os.environ, WINEPREFIX=prefix,
               XLDL_TEST_V6_LOG_WIN="Z:" + log.replace("/", "\\"))
    # A server of this prefix left from another run lives in another namespace.
    subprocess.call([WINESERVER, "-k"], env=env, stderr=subprocess.DEVNULL)
    try:
        return subprocess.call(command, env=env)
    finally:
        subprocess.call([WINESERVER, "-k"], env=env, stderr=subprocess.DEVNULL)
        listener.close()
        shutil.rmtree(folder, ignore_errors=True)


def main():
    args = sys.argv[1:]
    if len(args) >= 2 and args[0] == "--inside":
        return inside(args[1:])
    if len(args) >= 3 and args[0] == "--prefix":
        return outside(os.path.abspath(args[1]), args[2:])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
