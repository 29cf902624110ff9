#!/usr/bin/env python3
"""The TLS bench as Windows' own stacks see it under Wine.

    tls_bench_check.py trust WINE_RUN TRUST_ROOT.exe CERTDIR
        The fixture: makes the certificates (tools/mirror/tls_certs.py) once and puts the
        prefix's trust in its known state, idempotently: the test root ("Orlenz Test Root") in
        the current user's Root store, the intermediate not in the CA store (else the
        incomplete chain would be completed from there), the trial root not trusted.

    tls_bench_check.py bench WINE_RUN TLS_CHECK.exe TRUST_ROOT.exe
        Under with_mirror.py --tls: proves the bench. A root is refused until trusted and
        accepted after (the trial root, trusted and untrusted again here, so that the test root
        the other TLS tests rely on stays as it is); the good server is accepted by WinHTTP and
        by an SSPI handshake of our own, directly and through the mirror's CONNECT proxy; every
        bad certificate is refused, with the chain and SSL policy status expected of it. Ends
        with a table of what each case gave.
"""

import os
import re
import subprocess
import sys
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "..", "tools", "mirror"))
import tls_certs  # noqa: E402

# CERT_TRUST_* (chain error status) and the SSL policy's HRESULTs.
TRUST_NOT_TIME_VALID = 0x1
TRUST_UNTRUSTED_ROOT = 0x20
TRUST_PARTIAL_CHAIN = 0x10000
CERT_E_EXPIRED = 0x800B0101
CERT_E_UNTRUSTEDROOT = 0x800B0109
CERT_E_CHAINING = 0x800B010A
CERT_E_CN_NO_MATCH = 0x800B010F

# case: (chain error status, SSL policy results accepted). Wine 8's SSL policy passes a
# partial chain (0); Windows says CERT_E_CHAINING. The chain status is what refuses it.
EXPECTED = {
    "self_signed": (TRUST_UNTRUSTED_ROOT, {CERT_E_UNTRUSTEDROOT}),
    "untrusted_root": (TRUST_UNTRUSTED_ROOT, {CERT_E_UNTRUSTEDROOT}),
    "wrong_host": (0, {CERT_E_CN_NO_MATCH}),
    "expired": (TRUST_NOT_TIME_VALID, {CERT_E_EXPIRED}),
    "not_yet_valid": (TRUST_NOT_TIME_VALID, {CERT_E_EXPIRED}),
    "incomplete_chain": (TRUST_PARTIAL_CHAIN, {0, CERT_E_CHAINING}),
}

failures = []


def check(ok, what):
    print(("ok    " if ok else "FAIL  ") + what, flush=True)
    if not ok:
        failures.append(what)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run(wine_run, *args):
    start = time.monotonic()
    p = subprocess.run([wine_run, *args], capture_output=True, text=True, errors="replace", timeout=240)
    out = p.stdout.replace("\r", "")
    print("$ %s  (%.1f s, exit %d)" % (" ".join(os.path.basename(a) for a in args), time.monotonic() - start,
                                      p.returncode))
    for line in out.splitlines():
        print("    " + line)
    if p.stderr.strip():
        print("    stderr: " + p.stderr.strip().replace("\n", "\n    stderr: "))
    return p.returncode, out


def fields(line):
    """key=value pairs of one output line (values may be quoted)."""
    return {k: v.strip('"') for k, v in re.findall(r'(\w+)=("[^"]*"|\S+)', line)}


def blocks(out):
    """The output of `tls_check winhttp URL...`, one dict per URL: winhttp, check, ..."""
    found = []
    for line in out.splitlines():
        word = line.split(" ", 1)[0]
        if word == "url":
            found.append({"url": line[4:]})
        elif found and word in ("winhttp", "winhttp_ignoring", "check", "cert"):
            found[-1].setdefault(word, fields(line))
    return found


def sspi(out):
    got = {}
    for line in out.splitlines():
        word = line.split(" ", 1)[0]
        if word in ("sspi", "check", "verdict", "cert", "proxy"):
            got.setdefault(word, {}).update(fields(line))
            if word == "verdict":
                got["verdict"]["is"] = line.split()[1]
    return got


def hexint(s):
    return int(s, 16) if s else -1


# --- the fixture ----------------------------------------------------------------------------

def trust(wine_run, trust_root, certdir):
    tls_certs.ensure(certdir)
    code, _ = run(wine_run, trust_root, "add", windows_path(os.path.join(certdir, "root.der")))
    check(code == 0, "test root trusted in the current user's Root store")
    code, _ = run(wine_run, trust_root, "remove", windows_path(os.path.join(certdir, "intermediate.pem")),
                  "--store", "CA")
    check(code == 0, "intermediate not in the CA store")
    code, _ = run(wine_run, trust_root, "remove", windows_path(os.path.join(certdir, "trial-root.der")))
    check(code == 0, "trial root not trusted")
    code, _ = run(wine_run, trust_root, "check", windows_path(os.path.join(certdir, "root.der")))
    check(code == 0, "test root trusted (check)")


# --- the bench ------------------------------------------------------------------------------

def bench(wine_run, tls_check, trust_root):
    env = os.environ
    certdir = env["XLDL_TEST_TLS_CERTS"]
    root = env["XLDL_TEST_ROOT"]
    plain = env["XLDL_TEST_MIRROR"]
    port = {c: env["XLDL_TEST_TLS_" + c.upper()].split(":")[1] for c in tls_certs.CASES}
    data = os.urandom(123457)
    with open(os.path.join(root, "setup.exe"), "wb") as f:
        f.write(data)
    table = []

    def url(case, host="localhost"):
        return "https://%s:%s/setup.exe" % (host, port[case])

    # 1. A root is refused until trusted, accepted after: the trial root, round trip.
    trial = windows_path(os.path.join(certdir, "trial-root.der"))
    run(wine_run, trust_root, "remove", trial)
    code, _ = run(wine_run, trust_root, "check", trial)
    check(code == 1, "trial root not trusted at first")
    _, out = run(wine_run, tls_check, "winhttp", url("trial_root"))
    b = blocks(out)[0]
    check(b["winhttp"]["error"] != "0" and hexint(b["check"]["chain_error"]) == TRUST_UNTRUSTED_ROOT
          and hexint(b["check"]["policy"]) == CERT_E_UNTRUSTEDROOT,
          "before trusting: refused, chain UNTRUSTED_ROOT, policy CERT_E_UNTRUSTEDROOT")
    table.append(("trial root, untrusted", b))
    code, out1 = run(wine_run, trust_root, "add", trial)
    code2, out2 = run(wine_run, trust_root, "add", trial)
    check(code == 0 and out1.startswith("trusted") and code2 == 0 and out2.startswith("already trusted"),
          "trust_root add trusts, and a second add changes nothing")
    _, out = run(wine_run, tls_check, "winhttp", url("trial_root"))
    b = blocks(out)[0]
    check(b["winhttp"]["error"] == "0" and b["winhttp"]["status"] == "200"
          and b["winhttp"]["bytes"] == str(len(data)) and hexint(b["check"]["chain_error"]) == 0
          and hexint(b["check"]["policy"]) == 0, "after trusting: accepted, the whole file")
    table.append(("trial root, trusted", b))
    run(wine_run, trust_root, "remove", trial)
    _, out = run(wine_run, tls_check, "file", windows_path(os.path.join(certdir, "trial_root", "chain.pem")),
                 "dl1.orlenz.com")
    b = blocks("url -\n" + out)[0]
    check(hexint(b["check"]["chain_error"]) == TRUST_UNTRUSTED_ROOT, "after untrusting: refused again")

    # 2. The good server: WinHTTP by name (localhost, dl1 and dl2 through the CONNECT proxy) and
    # by IP address.
    urllib.request.urlopen(urllib.request.Request("http://%s/_mirror/script" % plain, data=b"{}"))
    _, out = run(wine_run, tls_check, "winhttp", url("good"), url("good", "127.0.0.1"))
    by_name, by_ip = blocks(out)
    check(by_name["winhttp"]["error"] == "0" and by_name["winhttp"]["status"] == "200"
          and by_name["winhttp"]["bytes"] == str(len(data)) and hexint(by_name["check"]["chain_error"]) == 0
          and hexint(by_name["check"]["policy"]) == 0
          and by_name["check"]["names"] == "dl1.orlenz.com|Orlenz Test Intermediate|Orlenz Test Root",
          "good certificate accepted by WinHTTP (https://localhost), chain leaf|intermediate|root")
    table.append(("good, https://localhost", by_name))
    # Wine 8 does not match an IP address against the iPAddress entries of the subjectAltName
    # (Windows does): https://127.0.0.1 is CERT_E_CN_NO_MATCH there. Tests use host names.
    check(hexint(by_ip["check"]["chain_error"]) == 0 and hexint(by_ip["check"]["policy"]) in (0, CERT_E_CN_NO_MATCH),
          "https://127.0.0.1: chain trusted, policy %s (Wine 8 matches no IP subjectAltName)"
          % by_ip["check"]["policy"])
    table.append(("good, https://127.0.0.1", by_ip))

    _, out = run(wine_run, tls_check, "winhttp", "https://dl1.orlenz.com/setup.exe", "https://dl2.orlenz.com/setup.exe",
                 "--proxy", plain)
    for b in blocks(out):
        check(b["winhttp"]["error"] == "0" and b["winhttp"]["status"] == "200"
              and b["winhttp"]["bytes"] == str(len(data)) and hexint(b["check"]["policy"]) == 0,
              "%s through the CONNECT proxy accepted" % b["url"])
        table.append((b["url"] + " via proxy", b))
    log = urllib.request.urlopen("http://%s/_mirror/log" % plain).read().decode().splitlines()
    connects = [line for line in log if line.startswith("CONNECT ")]
    check(any(line.startswith("CONNECT dl1.orlenz.com:443 ") and "status=200" in line
              and line.endswith("tunnel=%s" % port["good"]) for line in connects),
          "the proxy logged CONNECT dl1.orlenz.com:443, tunnelled to the twin")
    check(any("sni=dl1.orlenz.com" in line for line in log), "the twin saw SNI dl1.orlenz.com")
    # Wine 8's WinHTTP pools connections by proxy alone: dl2's request goes through the tunnel
    # (and TLS session) opened for dl1, with no CONNECT and no certificate check of its own.
    print("note: WinHTTP opened %d tunnel(s) for dl1 and dl2 in one process: %s" % (len(connects), " / ".join(connects)))

    # 3. Our own SSPI handshake (as the engine will do it): good, through the proxy, and the
    # incomplete chain that only the chain status refuses.
    _, out = run(wine_run, tls_check, "sspi", "127.0.0.1:" + port["good"], "dl1.orlenz.com", "/setup.exe")
    s = sspi(out)
    check(s.get("verdict", {}).get("is") == "accepted" and s["sspi"].get("get") == "HTTP/1.1 200 OK"
          and s["sspi"].get("body_bytes") == str(len(data)), "SSPI: good accepted, GET 200 with the whole file")
    table.append(("good, own SSPI handshake", {"check": s.get("check", {}), "sspi": s.get("sspi", {})}))
    handshake_ms = s.get("sspi", {}).get("handshake_ms")
    protocol = s.get("sspi", {}).get("protocol")
    _, out = run(wine_run, tls_check, "sspi", "dl2.orlenz.com:443", "dl2.orlenz.com", "/setup.exe", "--proxy", plain)
    s = sspi(out)
    check(s.get("verdict", {}).get("is") == "accepted" and s["sspi"].get("body_bytes") == str(len(data)),
          "SSPI through the CONNECT proxy: accepted, the whole file")
    log = urllib.request.urlopen("http://%s/_mirror/log" % plain).read().decode().splitlines()
    check(any(line.startswith("CONNECT dl2.orlenz.com:443 ") and line.endswith("tunnel=%s" % port["good"])
              for line in log) and any("sni=dl2.orlenz.com" in line for line in log),
          "the proxy logged CONNECT dl2.orlenz.com:443 and the twin saw SNI dl2.orlenz.com")
    _, out = run(wine_run, tls_check, "sspi", "127.0.0.1:" + port["incomplete_chain"], "dl1.orlenz.com", "/setup.exe")
    s = sspi(out)
    check(s.get("verdict", {}).get("is") == "refused"
          and hexint(s.get("check", {}).get("chain_error")) == TRUST_PARTIAL_CHAIN
          and s.get("cert", {}).get("store_certs") == "1",
          "SSPI: incomplete chain refused by its chain status (the server sent 1 certificate)")

    # 4. Every bad certificate: refused, with its chain and policy status.
    bad = [c for c in EXPECTED]
    _, out = run(wine_run, tls_check, "winhttp", *[url(c) for c in bad])
    for case, b in zip(bad, blocks(out)):
        chain_error, policies = EXPECTED[case]
        got_chain, got_policy = hexint(b["check"].get("chain_error")), hexint(b["check"].get("policy"))
        check(b["winhttp"]["error"] != "0" and got_chain == chain_error and got_policy in policies,
              "%s refused: WinHTTP error %s, chain 0x%08x, policy 0x%08x" % (case, b["winhttp"]["error"],
                                                                          got_chain, got_policy))
        table.append((case, b))

    tls_log = urllib.request.urlopen("http://%s/_mirror/tls_log" % plain).read().decode().splitlines()
    versions = sorted({fields(line).get("version") for line in tls_log if line.startswith("handshake ok")})
    server_ms = sorted(int(fields(line)["ms"]) for line in tls_log if line.startswith("handshake ok"))
    resumed = sum(fields(line).get("resumed") == "1" for line in tls_log if line.startswith("handshake ok"))

    print("\n%-34s %-8s %-12s %-12s %s" % ("case", "winhttp", "chain_error", "policy", "chain"))
    for name, b in table:
        print("%-34s %-8s %-12s %-12s %s" % (name, b.get("winhttp", {}).get("error", "-"),
                                            b["check"].get("chain_error"), b["check"].get("policy"),
                                            b["check"].get("names")))
    print("\nTLS versions negotiated: %s; own SSPI handshake %s ms (%s); server-side handshakes "
          "median %s ms, max %s ms over %d (%d resumed)" % (", ".join(v for v in versions if v), handshake_ms,
                                                            protocol, server_ms[len(server_ms) // 2] if server_ms else "-",
                                                            server_ms[-1] if server_ms else "-", len(server_ms), resumed))


def main():
    if len(sys.argv) == 5 and sys.argv[1] == "trust":
        trust(*sys.argv[2:])
    elif len(sys.argv) == 5 and sys.argv[1] == "bench":
        bench(*sys.argv[2:])
    else:
        print(__doc__, file=sys.stderr)
        return 2
    print("\n%d failed" % len(failures) if failures else "\nall passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
