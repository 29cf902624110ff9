#!/usr/bin/env python3
"""Long runs of the engine's parser fuzzers (tests/fuzz/, libFuzzer with ASan and UBSan).

    tools/fuzz/fuzz.py [--runs N] [--seconds S] [--jobs J] [NAME...]

Builds the fuzz tree (build/fuzz, clang) when needed, then runs each fuzzer (all of them by
default: head status_line chunked answer state url proxy date digest settings) until it has
made N executions (10 million by default) or S seconds have passed, J at a time (the number
of processors by default). Each starts from its seed corpus (tests/fuzz/corpus/NAME, never
written) and the build tree's own (build/fuzz/tests/fuzz/corpus/NAME, which keeps what it
finds). Prints per fuzzer the executions, seconds, executions per second, coverage and
corpus size, and any finding: the input that broke it, in build/fuzz/tests/fuzz/findings/,
to be turned into a regression test. Exits non-zero when anything was found.
"""

import argparse
import concurrent.futures
import os
import re
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = os.path.join(os.environ.get("BUILD_DIR", os.path.join(ROOT, "build")), "fuzz")
HERE = os.path.join(BUILD, "tests", "fuzz")
NAMES = ["head", "status_line", "chunked", "answer", "state", "url", "proxy", "date", "digest",
         "settings"]


def build():
    if not os.path.exists(os.path.join(BUILD, "CMakeCache.txt")):
        subprocess.run(["cmake", "-S", ROOT, "-B", BUILD, "-DXLDL_FUZZ=ON",
                        "-DCMAKE_C_COMPILER=clang", "-DCMAKE_CXX_COMPILER=clang++"],
                       check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", BUILD, "-j", str(os.cpu_count() or 2)], check=True,
                   stdout=subprocess.DEVNULL)


def run(name, runs, seconds):
    work = os.path.join(HERE, "corpus", name)
    findings = os.path.join(HERE, "findings")
    os.makedirs(work, exist_ok=True)
    os.makedirs(findings, exist_ok=True)
    cmd = [os.path.join(HERE, "fuzz_" + name), "-runs=%d" % runs, "-timeout=10",
           "-rss_limit_mb=2048", "-print_final_stats=1",
           "-artifact_prefix=%s/%s-" % (findings, name), work,
           os.path.join(ROOT, "tests", "fuzz", "corpus", name)]
    if seconds:
        cmd.insert(2, "-max_total_time=%d" % seconds)
    start = time.monotonic()
    p = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                       errors="replace")
    took = time.monotonic() - start

    def stat(key):
        m = re.search(r"stat::%s:\s*(\d+)" % key, p.stderr)
        return int(m.group(1)) if m else 0

    cov = re.findall(r"cov: (\d+)", p.stderr)
    finding = re.findall(r"Test unit written to (\S+)", p.stderr)
    return {"name": name, "execs": stat("number_of_executed_units"), "seconds": took,
            "rate": int(stat("number_of_executed_units") / max(took, 1e-3)), "cov": int(cov[-1]) if cov else 0,
            "corpus": len(os.listdir(work)), "rss": stat("peak_rss_mb"), "code": p.returncode,
            "finding": finding[-1] if finding else None,
            "why": next((l for l in p.stderr.splitlines() if "broken:" in l or "ERROR:" in l
                         or "runtime error" in l), "")}


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--runs", type=int, default=10_000_000)
    ap.add_argument("--seconds", type=int, default=0)
    ap.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    ap.add_argument("names", nargs="*", default=NAMES)
    args = ap.parse_args()
    unknown = set(args.names) - set(NAMES)
    if unknown:
        ap.error("no such fuzzer: " + " ".join(sorted(unknown)))
    build()
    print("%-12s %12s %9s %10s %6s %7s %6s  %s" % ("fuzzer", "executions", "seconds", "exec/s",
                                                  "cov", "corpus", "MiB", "finding"), flush=True)
    found = False
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        for r in pool.map(lambda n: run(n, args.runs, args.seconds), args.names):
            what = "-"
            if r["code"] != 0:
                found = True
                what = "%s (%s)" % (r["finding"] or "exit %d" % r["code"], r["why"].strip())
            print("%-12s %12d %9.0f %10d %6d %7d %6d  %s" % (
                r["name"], r["execs"], r["seconds"], r["rate"], r["cov"], r["corpus"], r["rss"],
                what), flush=True)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
