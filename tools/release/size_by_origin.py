#!/usr/bin/env python3
"""What each part of a binary costs, from the linker's map (-Wl,-Map): the bytes of every input
section kept in the image, summed by where it came from (our libraries, the C++ runtime, the
unwinder, the C runtime, ...) and by what it is (code, read-only data, unwind tables, ...).
Debug sections (stripped for shipping) and .bss (no bytes in the file) are left out; sizes are
before section alignment.

    size_by_origin.py MAP [MAP...]
"""

import collections
import os
import re
import sys

# Output sections whose bytes are in the shipped file, by what they are.
KINDS = {
    ".text": "code", ".rdata": "read-only data", ".data": "data", ".eh_frame": "unwind tables",
    ".idata": "import tables", ".edata": "export table", ".rsrc": "resources",
    ".reloc": "relocations", ".tls": "thread-local data", ".CRT": "C runtime tables",
    ".buildid": "build id",
}

# Members of the C++ runtime that exist for exceptions and for terminate's message.
EXCEPTION_MEMBERS = re.compile(r"^(eh_\w+|vterminate|cp-demangle|functexcept|cow-stdexcept|"
                               r"stdexcept|system_error)\.o$")


def origin(path):
    """Where an input file came from, in a few words."""
    m = re.search(r"([^/]+)\.a\((.+)\)$", path)
    archive, member = (m.group(1), m.group(2)) if m else (None, os.path.basename(path))
    if archive == "libstdc++":
        return "C++ runtime: exceptions" if EXCEPTION_MEMBERS.match(member) else "C++ runtime"
    if archive in ("libgcc", "libgcc_eh"):
        return "libgcc (with the unwinder)"
    if archive in ("libwinpthread", "libpthread"):
        return "winpthreads"
    if archive in ("libmingw32", "libmingwex", "libmoldname") or member in (
            "crt2.o", "dllcrt2.o", "crtbegin.o", "crtend.o"):
        return "MinGW C runtime"
    if archive and path.startswith("/usr/"):
        return "import libraries"
    if path == "dll stuff":
        return "linker: relocations, exports"
    if re.search(r"\.ltrans\d*\.ltrans\.o$", path):  # our sources, optimised at link time
        return "ours: optimised at link time"
    target = re.search(r"CMakeFiles/([^/]+)\.dir/", path)
    if target:  # a target's own objects
        return "ours: " + target.group(1)
    return "ours: " + (re.sub(r"^lib", "", archive) if archive else member)


def parse(map_text):
    """{(origin, kind): bytes} of the sections kept in the image."""
    sizes = collections.Counter()
    text = map_text.split("Linker script and memory map", 1)[-1]
    kind = None
    pending = None  # an input section whose name filled its line
    for line in text.splitlines():
        out = re.match(r"^(\.[\w$.]+)(\s+0x[0-9a-f]+\s+0x[0-9a-f]+)?\s*$", line)
        if out:
            kind = KINDS.get(out.group(1))
            continue
        if kind is None:
            continue
        m = re.match(r"^ (\S+)\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$", line)
        if m:
            sizes[origin(m.group(3)), kind] += int(m.group(2), 16)
            pending = None
            continue
        m = re.match(r"^ (\.\S+)\s*$", line)
        if m:
            pending = m.group(1)
            continue
        m = re.match(r"^\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$", line)
        if m and pending:
            sizes[origin(m.group(2)), kind] += int(m.group(1), 16)
        pending = None
    return sizes


def report(sizes):
    """One line per origin, largest first: all its bytes, then its code and unwind tables
    (what exceptions cost besides the runtime's support), then the totals by kind."""
    by_origin, by_kind = collections.Counter(), collections.Counter()
    for (where, what), size in sizes.items():
        by_origin[where] += size
        by_kind[what] += size
    total = sum(by_origin.values())
    lines = [f"  {'origin':<30} {'bytes':>8} {'share':>6} {'code':>8} {'unwind':>8}"]
    for where, size in by_origin.most_common():
        lines.append(f"  {where:<30} {size:>8} {100 * size / total:5.1f}% "
                     f"{sizes[where, 'code']:>8} {sizes[where, 'unwind tables']:>8}")
    lines.append(f"  {'together':<30} {total:>8}")
    lines.append("  by kind: " + ", ".join(f"{what} {size}" for what, size in
                                           by_kind.most_common()))
    return lines


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    for path in sys.argv[1:]:
        with open(path, encoding="utf-8", errors="replace") as f:
            print(f"== {os.path.basename(path)}")
            print("\n".join(report(parse(f.read()))))
    return 0


if __name__ == "__main__":
    sys.exit(main())
