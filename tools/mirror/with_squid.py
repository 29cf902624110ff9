#!/usr/bin/env python3
"""Runs a command beside proxies that ask who you are: squid (Debian's) on 127.0.0.1, in front
of the mirror that with_mirror.py started (XLDL_TEST_MIRROR_DIRECT), stopped afterwards.

    with_squid.py COMMAND ARGS...

Two proxies, each forwarding plain requests to the mirror whatever their host (so that
http://dl1.orlenz.com/... works without a name server) and opening CONNECT tunnels to any
port on this machine (https://localhost:PORT of the mirror's TLS twin):
    XLDL_TEST_SQUID_BASIC  host:port of one that wants Basic (basic_ncsa_auth, a password file
                           made here by htpasswd)
    XLDL_TEST_SQUID_NTLM   host:port of one that offers NTLM first (ntlm_fake_auth, which takes
                           any well-formed exchange), then Basic
    XLDL_TEST_SQUID_USER, XLDL_TEST_SQUID_PASSWORD   the one account both know
    XLDL_TEST_SQUID_LOGS   the folder of their access logs (basic.log, ntlm.log)
The exit code is the command's; 77 when squid or its helpers are not installed.
"""

import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

HELPERS = "/usr/lib/squid"
USER = "orlenz"
PASSWORD = "Tunnel:Pa55 word"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def config(folder, name, port, mirror_port, schemes):
    lines = [
        "http_port 127.0.0.1:%d" % port,
        "pid_filename %s/%s.pid" % (folder, name),
        "cache_log %s/%s.cache.log" % (folder, name),
        "access_log stdio:%s/%s.log squid" % (folder, name),
        "coredump_dir %s" % folder,
        "cache deny all",
        "cache_mem 4 MB",
        "shutdown_lifetime 0 seconds",
        "pinger_enable off",
        "dns_v4_first on" if False else "",
        "cache_effective_user %s" % ("proxy" if os.geteuid() == 0 else os.environ.get("USER", "nobody")),
    ]
    if "ntlm" in schemes:
        lines += ["auth_param ntlm program %s/ntlm_fake_auth" % HELPERS,
                  "auth_param ntlm children 2 startup=1 idle=1"]
    lines += ["auth_param basic program %s/basic_ncsa_auth %s/passwd" % (HELPERS, folder),
              "auth_param basic children 2 startup=1 idle=1",
              "auth_param basic realm Orlenz test proxy",
              "acl known proxy_auth REQUIRED",
              "acl CONNECT method CONNECT",
              "http_access allow known",
              "http_access deny all",
              # Plain requests go to the mirror, which serves by host; tunnels go where asked.
              "cache_peer 127.0.0.1 parent %d 0 no-query originserver name=mirror" % mirror_port,
              "never_direct allow !CONNECT",
              "always_direct allow CONNECT",
              "cache_peer_access mirror deny CONNECT",
              "cache_peer_access mirror allow all"]
    path = os.path.join(folder, name + ".conf")
    with open(path, "w") as f:
        f.write("\n".join(l for l in lines if l) + "\n")
    return path


def wait_listening(port, proc, seconds=60):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            return False
        try:
            socket.create_connection(("127.0.0.1", port), 0.5).close()
            return True
        except OSError:
            time.sleep(0.1)
    return False


def main():
    args = sys.argv[1:]
    squid = shutil.which("squid") or "/usr/sbin/squid"
    if not args or not os.path.exists(squid) or not shutil.which("htpasswd") or \
            not os.path.exists(os.path.join(HELPERS, "ntlm_fake_auth")):
        print("with_squid.py: squid, its helpers or htpasswd missing", file=sys.stderr)
        return 77
    mirror = os.environ.get("XLDL_TEST_MIRROR_DIRECT", "")
    if ":" not in mirror:
        print("with_squid.py: run inside with_mirror.py", file=sys.stderr)
        return 2
    mirror_port = int(mirror.rsplit(":", 1)[1])
    folder = tempfile.mkdtemp(prefix="xldl-squid-")
    os.chmod(folder, 0o777)  # squid drops to its own user for logs
    subprocess.run(["htpasswd", "-b", "-c", "-B", os.path.join(folder, "passwd"), USER, PASSWORD],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.chmod(os.path.join(folder, "passwd"), 0o644)
    env = dict(os.environ)
    procs = []
    try:
        for name, schemes in (("basic", ["basic"]), ("ntlm", ["ntlm", "basic"])):
            port = free_port()
            conf = config(folder, name, port, mirror_port, schemes)
            proc = subprocess.Popen([squid, "-N", "-f", conf], stdout=subprocess.DEVNULL,
                                    stderr=open(os.path.join(folder, name + ".err"), "w"))
            procs.append(proc)
            if not wait_listening(port, proc):
                sys.stderr.write(open(os.path.join(folder, name + ".err")).read())
                log = os.path.join(folder, name + ".cache.log")
                if os.path.exists(log):
                    sys.stderr.write(open(log).read()[-3000:])
                print("with_squid.py: squid did not start", file=sys.stderr)
                return 1
            env["XLDL_TEST_SQUID_" + name.upper()] = "127.0.0.1:%d" % port
        env["XLDL_TEST_SQUID_USER"] = USER
        env["XLDL_TEST_SQUID_PASSWORD"] = PASSWORD
        env["XLDL_TEST_SQUID_LOGS"] = folder
        env["XLDL_TEST_SQUID_LOGS_WIN"] = "Z:" + folder.replace("/", "\\")
        return subprocess.call(args, env=env)
    finally:
        for proc in procs:
            proc.terminate()
        for proc in procs:
            try:
                proc.wait(10)
            except subprocess.TimeoutExpired:
                proc.kill()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
