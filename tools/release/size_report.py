#!/usr/bin/env python3
"""The size of what a user downloads: each binary and their sum, against the budget.

    size_report.py [--strip OBJCOPY] [--budget BYTES] [--goal BYTES] BINARY...

With --strip, each binary is measured as a stripped copy (objcopy --strip-all into a
temporary folder; the binary itself is left as it is), as the package step ships it. Fails
(exit 1) when the sum exceeds the budget; the goal is only reported.
"""

import argparse
import os
import subprocess
import sys
import tempfile

# The shipped pair plus 5 %: link-time optimisation, the Win32-threads runtime, no exception
# machinery in the engine and no printf took it from 1,053,724 to 632,860 bytes; runs with
# switches (their controller, the log, the copy from a file, the engine's account of its
# sources) took it from 635,420 to 666,140.
BUDGET = 684 * 1024
GOAL = 600 * 1024


def kib(n):
    return f"{n / 1024:.1f} KB"


def measure(binaries, objcopy):
    """[(name, bytes)]; stripped copies when `objcopy` is given."""
    sizes = []
    with tempfile.TemporaryDirectory() as work:
        for binary in binaries:
            path = binary
            if objcopy:
                path = os.path.join(work, os.path.basename(binary))
                subprocess.run([objcopy, "--strip-all", binary, path], check=True)
            sizes.append((os.path.basename(binary), os.path.getsize(path)))
    return sizes


def report(sizes, budget, goal):
    """The report's lines and whether the sum is within the budget."""
    total = sum(size for _, size in sizes)
    width = max(len(name) for name, _ in sizes + [("together", 0)])
    lines = [f"  {name:<{width}}  {size:>9} bytes  {kib(size):>10}" for name, size in sizes]
    lines.append(f"  {'together':<{width}}  {total:>9} bytes  {kib(total):>10}"
                 f"  ({100 * total / budget:.0f} % of the budget of {kib(budget)},"
                 f" {100 * total / goal:.0f} % of the goal of {kib(goal)})")
    return lines, total <= budget


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--strip", metavar="OBJCOPY")
    parser.add_argument("--budget", type=int, default=BUDGET)
    parser.add_argument("--goal", type=int, default=GOAL)
    parser.add_argument("binaries", nargs="+")
    args = parser.parse_args()
    lines, within = report(measure(args.binaries, args.strip), args.budget, args.goal)
    print("size" + (" (stripped)" if args.strip else "") + ":")
    print("\n".join(lines))
    if not within:
        print(f"size: over the budget of {args.budget} bytes: find what grew "
              f"(bench/binary_size.sh) before shipping", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
