#!/usr/bin/env python3
"""What the shipped binaries import from Windows, against the checked-in list of functions known
to exist on Windows 7 SP1 (win7_imports.txt beside this script). A function the list does not
name would keep the program from starting there ("entry point not found"), so it fails the
build, named with its DLL.

    check_imports.py [--list FILE] [--objdump PROGRAM] [--stamp FILE] BINARY...

The list: a `[dll]` heading, then one function per line (DLL names compare without case); `#`
starts a comment; an import by ordinal is written `@ORDINAL`. The imports are read from
`objdump -p`. With --stamp, FILE is written when every binary passes (for the build).
"""

import argparse
import os
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
LIST = os.path.join(HERE, "win7_imports.txt")


def read_list(path):
    """{dll (lower case): set of function names}; raises ValueError on a malformed line."""
    allowed = {}
    dll = None
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            heading = re.fullmatch(r"\[([^\]\s]+)\]", line)
            if heading:
                dll = heading.group(1).lower()
                allowed.setdefault(dll, set())
            elif dll is None or not re.fullmatch(r"[A-Za-z_@?$][\w@?$]*", line):
                raise ValueError(f"{path}:{number}: not a [dll] heading or a function name: {line}")
            else:
                allowed[dll].add(line)
    return allowed


def parse_imports(objdump_text):
    """[(dll, function)] from `objdump -p`; an import by ordinal is named `@ORDINAL`."""
    imports = []
    dll = None
    in_table = False
    for line in objdump_text.splitlines():
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            dll = m.group(1)
            in_table = False
            continue
        if dll is None:
            continue
        if re.match(r"\s*vma:\s+Hint/Ord\s+Member-Name", line):
            in_table = True
            continue
        if not in_table:
            continue
        if not line.strip():
            dll = None
            continue
        # "\t<vma>\t <hint>  <name>", or "\t<vma>\t <ordinal>  <none> <none>" by ordinal
        m = re.match(r"\s*[0-9a-fA-F]+\s+(\d+)\s+(\S+)", line)
        if not m:
            continue
        name = m.group(2)
        imports.append((dll, f"@{m.group(1)}" if name == "<none>" else name))
    return imports


def unknown_imports(imports, allowed):
    return [(dll, name) for dll, name in imports if name not in allowed.get(dll.lower(), ())]


def objdump_program(requested):
    for candidate in [requested, "i686-w64-mingw32-objdump", "objdump"]:
        if candidate and shutil.which(candidate):
            return candidate
    raise SystemExit("check_imports: no objdump found (binutils-mingw-w64-i686)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--list", default=LIST)
    parser.add_argument("--objdump")
    parser.add_argument("--stamp")
    parser.add_argument("binaries", nargs="+")
    args = parser.parse_args()
    try:
        allowed = read_list(args.list)
    except ValueError as e:
        print(f"check_imports: {e}", file=sys.stderr)
        return 2
    objdump = objdump_program(args.objdump)
    failed = False
    for binary in args.binaries:
        run = subprocess.run([objdump, "-p", binary], capture_output=True, text=True)
        imports = parse_imports(run.stdout)
        if run.returncode != 0 or not imports:
            print(f"check_imports: cannot read the imports of {binary}: {run.stderr.strip()}",
                  file=sys.stderr)
            failed = True
            continue
        unknown = unknown_imports(imports, allowed)
        if unknown:
            failed = True
            print(f"check_imports: {os.path.basename(binary)} imports what is not known to "
                  f"exist on Windows 7 SP1:", file=sys.stderr)
            for dll, name in unknown:
                print(f"  {dll}: {name}", file=sys.stderr)
    if failed:
        print(f"Check each on Windows 7 SP1 as the README says (\"Windows versions\") before "
              f"adding it to {os.path.relpath(os.path.abspath(args.list), ROOT)}, or call it "
              f"through GetProcAddress.",
              file=sys.stderr)
        return 1
    if args.stamp:
        with open(args.stamp, "w") as f:
            f.write("imports checked\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
