#!/usr/bin/env python3
"""resume_cost.py [SIZE_MIB] [KILLS]

What a resumed download costs, against a far mirror (nginx behind the relay: a round trip of
RTT_MS, 200 by default, and RATE bytes/s per connection, 4m): the engine's driver is killed
outright (SIGKILL of its Wine process) at random moments, KILLS times (6), and started again
each time until the file is whole. Prints
  - the time from the start of the driver's engine to the first byte of an answer, for the
    fresh start and for each resume (a resume reads its state and asks under If-Range, with no
    separate probe);
  - the bytes the mirror sent and the engine did not keep, per kill, in MB and in seconds of
    the link at its rate (the state is written every second: a kill loses what came since);
  - that the final file is the served one.
WIN_BUILD=win64 measures the x86_64 build.
"""

import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(HERE, "relay"))
from relay import Relay, parse_rate  # noqa: E402


def sh(*args, **kw):
    return subprocess.run(args, check=True, **kw)


def wine_mode(build):
    entry = "/proc/sys/fs/binfmt_misc/qemu-i386"
    if build == "win32" and os.path.exists(entry) and open(entry).read().startswith("enabled"):
        return "emulated by qemu-i386"
    return "native"


def main():
    size_mib = int(sys.argv[1]) if len(sys.argv) > 1 else 64
    kills = int(sys.argv[2]) if len(sys.argv) > 2 else 6
    rtt = float(os.environ.get("RTT_MS", "200"))
    rate = parse_rate(os.environ.get("RATE", "4m"))
    build_kind = os.environ.get("WIN_BUILD", "win32")
    build = os.path.join(os.environ.get("BUILD_DIR", os.path.join(ROOT, "build")), build_kind)
    if not shutil.which("nginx"):
        sh("apt-get", "install", "-y", "-q", "--no-install-recommends", "nginx",
           stdout=subprocess.DEVNULL)
    if not os.path.exists(os.path.join(build, "CMakeCache.txt")):
        toolchain = "mingw-x86_64" if build_kind == "win64" else "mingw-i686"
        sh("cmake", "-S", ROOT, "-B", build,
           "-DCMAKE_TOOLCHAIN_FILE=%s/cmake/%s.cmake" % (ROOT, toolchain), stdout=subprocess.DEVNULL)
    sh("cmake", "--build", build, "--target", "xldl_driver", stdout=subprocess.DEVNULL)
    driver = os.path.join(build, "tools", "xldl_driver", "xldl_driver.exe")
    wine_run = os.path.join(build, "wine-run")

    work = tempfile.mkdtemp(prefix="resume-cost-")
    www, out = os.path.join(work, "www"), os.path.join(work, "out")
    os.makedirs(www)
    os.makedirs(out)
    served = os.path.join(www, "file.bin")
    with open(served, "wb") as f:
        f.write(os.urandom(size_mib << 20))
    port = _free_port()
    conf = os.path.join(work, "nginx.conf")
    with open(conf, "w") as f:
        f.write("""worker_processes 1; pid %(w)s/nginx.pid; error_log %(w)s/error.log; daemon on;
events { worker_connections 64; }
http { access_log off; sendfile on; client_body_temp_path %(w)s; proxy_temp_path %(w)s;
  fastcgi_temp_path %(w)s; uwsgi_temp_path %(w)s; scgi_temp_path %(w)s;
  server { listen 127.0.0.1:%(p)d; root %(r)s; } }
""" % {"w": work, "p": port, "r": www})
    sh("nginx", "-c", conf)
    relay_log = open(os.path.join(work, "relay.log"), "w")
    relay = Relay("127.0.0.1:%d" % port, rtt / 2, rate=rate, extra=["--log"], log=relay_log)
    relay.start()
    env = dict(os.environ, XLDL_TRACE="Z:" + os.path.join(work, "trace.txt").replace("/", "\\"))
    for v in ("http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY"):
        env.pop(v, None)
    url = "http://%s/file.bin" % relay.address
    folder = "Z:" + out.replace("/", "\\")
    subprocess.run([wine_run, "--server-start"])
    rng = random.Random(20261208)
    firsts = []
    try:
        print("build: %s, Wine %s; %d MiB through a relay of %g ms round trip, %.1f MB/s per "
              "connection" % (build_kind, wine_mode(build_kind), size_mib, rtt, rate / 1e6))
        for run in range(kills + 1):
            trace = os.path.join(work, "trace.txt")
            if os.path.exists(trace):
                os.remove(trace)
            p = subprocess.Popen([wine_run, driver, url, folder, "--quiet"], env=env,
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                 start_new_session=True)
            if run < kills:
                time.sleep(2 + rng.random() * 3)
                # Outright: the Wine process of the driver, not a request to stop.
                subprocess.run(["pkill", "-KILL", "-f", "xldl_driver.exe"])
                p.wait()
            else:
                p.wait()
            first = _first_answer_ms(trace)
            kind = "fresh start" if run == 0 else ("resume %d" % run)
            firsts.append((kind, first))
            print("  %-12s first answer %s ms after the engine started%s" % (
                kind, "%.0f" % first if first is not None else "?",
                "" if run < kills else " (ran to the end)"))
        print(p.stdout.read().decode(errors="replace").replace("\r", "").strip().splitlines()[-1])
    finally:
        relay.stop()
        subprocess.run(["nginx", "-c", conf, "-s", "stop"], stderr=subprocess.DEVNULL)

    whole = open(os.path.join(out, "file.bin"), "rb").read() == open(served, "rb").read()
    relay_log.close()
    down = sum(int(m) for m in re.findall(r"down (\d+) B", open(relay_log.name).read()))
    wasted = down - (size_mib << 20)
    print("  the file is %s" % ("the served one" if whole else "NOT the served one"))
    print("  the mirror sent %.1f MB for a %.1f MB file: %.1f MB fetched again, %.2f MB per kill "
          "(%.2f s of one connection's transfer at %.1f MB/s)" % (
              down / 1e6, (size_mib << 20) / 1e6, wasted / 1e6, wasted / 1e6 / kills,
              wasted / kills / rate, rate / 1e6))
    fresh = firsts[0][1]
    resumes = sorted(f for k, f in firsts[1:] if f is not None)
    if fresh is not None and resumes:
        print("  first answer: fresh %.0f ms, resumed %.0f ms (median)" % (
            fresh, resumes[len(resumes) // 2]))
    shutil.rmtree(work, ignore_errors=True)
    return 0 if whole else 1


def _free_port():
    import socket
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def _first_answer_ms(trace):
    """When the first answer's head came, from the trace (ms since the engine started)."""
    try:
        for line in open(trace, errors="replace"):
            if " head " in line:
                return float(line.split()[0])
    except OSError:
        pass
    return None


if __name__ == "__main__":
    sys.exit(main())
