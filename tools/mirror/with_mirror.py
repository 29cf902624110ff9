#!/usr/bin/env python3
"""Runs a command with a mirror serving a fresh temporary folder, then stops the mirror and
removes the folder. For the engine's tests:

    with_mirror.py [--relay DELAY_MS:RATE] COMMAND ARGS...

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
"""

import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "..", "bench", "relay"))
from mirror import Mirror  # noqa: E402


def main():
    args = sys.argv[1:]
    relay_spec = None
    if len(args) >= 2 and args[0] == "--relay":
        relay_spec, args = args[1], args[2:]
    if not args:
        print(__doc__, file=sys.stderr)
        return 2
    root = tempfile.mkdtemp(prefix="xldl-mirror-")
    mirror = Mirror(root)
    mirror.start()
    relay = None
    env = dict(os.environ)
    env["XLDL_TEST_MIRROR_DIRECT"] = env["XLDL_TEST_MIRROR"] = "127.0.0.1:%d" % mirror.port
    env["XLDL_TEST_ROOT"] = root
    env["XLDL_TEST_ROOT_WIN"] = "Z:" + root.replace("/", "\\")
    try:
        if relay_spec:
            from relay import Relay, parse_spec
            delay_ms, rate = parse_spec(relay_spec)
            relay = Relay(env["XLDL_TEST_MIRROR_DIRECT"], delay_ms, rate=rate)
            relay.start()
            env["XLDL_TEST_MIRROR"] = relay.address
        return subprocess.call(args, env=env)
    finally:
        if relay:
            relay.stop()
        mirror.stop()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
