#!/usr/bin/env python3
"""What the shipped binaries import from Windows, against the checked-in list of functions known
to exist on Windows 7 SP1 (win7_imports.txt beside this script). A function the list does not
name would keep the program from starting there ("entry point not found"), so it fails the
build, named with its DLL. So does a library imported at load time that is neither a Known DLL
of every Windows we support (which Windows only ever takes from the system folder) nor one
shipped beside the binaries (--beside NAME): Windows would look for it in the program's folder
first, where anyone may have left a file of that name.

    check_imports.py [--list FILE] [--objdump PROGRAM] [--nm PROGRAM] [--stamp FILE]
                     [--beside DLL]... BINARY...

The list: a `[dll]` heading, then one function per line (DLL names compare without case); `#`
starts a comment; an import by ordinal is written `@ORDINAL`. The imports are read from
`objdump -p`; the late ones (delay imports, which objdump does not show) from their
descriptors, found by their symbols (`nm`), in the binary as built. With --stamp, FILE is
written when every binary passes (for the build).
"""

import argparse
import os
import re
import shutil
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
LIST = os.path.join(HERE, "win7_imports.txt")
# The Known DLLs that Windows 7 SP1 and every later Windows name alike (the session manager's
# KnownDLLs; wininet, urlmon, iertutil, lpk and usp10 left it after Windows 7).
KNOWN_DLLS = {"advapi32.dll", "clbcatq.dll", "comdlg32.dll", "difxapi.dll", "gdi32.dll",
              "imagehlp.dll", "imm32.dll", "kernel32.dll", "msctf.dll", "msvcrt.dll",
              "normaliz.dll", "nsi.dll", "ole32.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll",
              "sechost.dll", "setupapi.dll", "shell32.dll", "shlwapi.dll", "user32.dll",
              "wldap32.dll", "ws2_32.dll"}


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


def delay_imports(read, descriptors, image_base, wide):
    """[(dll, function)] of the delay-import descriptors at the virtual addresses `descriptors`,
    reading the image through read(va, size). `wide`: 8-byte thunks (x86_64)."""
    imports = []

    def text(va):
        raw = read(va, 256)
        return raw[:raw.index(b"\0")].decode("ascii")

    for at in descriptors:
        attributes, name, _, addresses, names = struct.unpack("<5I", read(at, 20))
        # Addresses are relative to the image, or (attribute bit 0 clear) absolute.
        base = image_base if attributes & 1 else 0
        dll = text(base + name)
        slot, address, size = base + names, base + addresses, 8 if wide else 4
        while True:
            thunk = int.from_bytes(read(slot, size), "little")
            if not thunk:
                break
            if thunk >> (size * 8 - 1):
                function = "@%d" % (thunk & 0xFFFF)
            else:
                function = text(base + thunk + 2 if base else thunk + 2)
            # Until its first call, a late import's slot leads to the loader's stub; an empty
            # one (a stub the linker dropped) would be a call to address zero.
            if not int.from_bytes(read(address, size), "little"):
                function += " (its slot is empty: the call would jump to zero)"
            imports.append((dll, function))
            slot += size
            address += size
    return imports


def late_imports(binary, nm):
    """The delay imports of `binary` (unstripped), by its descriptors' symbols."""
    with open(binary, "rb") as f:
        image = f.read()
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    optional = pe + 24
    wide = struct.unpack_from("<H", image, optional)[0] == 0x20B
    image_base = (struct.unpack_from("<Q", image, optional + 24)[0] if wide
                  else struct.unpack_from("<I", image, optional + 28)[0])
    table = []
    for i in range(sections):
        va, raw_size, raw_at = struct.unpack_from("<4x3I", image,
                                                  optional + optional_size + 40 * i + 8)
        table.append((image_base + va, raw_size, raw_at))

    def read(at, size):
        for va, raw_size, raw_at in table:
            if va <= at < va + raw_size:
                return image[raw_at + at - va:raw_at + min(raw_size, at - va + size)]
        raise ValueError("0x%x is in no section of %s" % (at, binary))

    listed = subprocess.run([nm, binary], capture_output=True, text=True, check=True).stdout
    return delay_imports(read, descriptors_in(listed), image_base, wide)


def descriptors_in(nm_text):
    """The addresses of every delay-import descriptor that `nm` lists."""
    return [int(m.group(1), 16) for m in
            re.finditer(r"^([0-9a-fA-F]+) \S __DELAY_IMPORT_DESCRIPTOR_\S+$", nm_text, re.M)]


def unknown_imports(imports, allowed):
    return [(dll, name) for dll, name in imports if name not in allowed.get(dll.lower(), ())]


def searched_libraries(imports, beside):
    """The libraries among load-time `imports` that Windows would look for beside the program:
    neither a Known DLL nor one of `beside`, each once, as the binary names it."""
    found = []
    for dll, _ in imports:
        lower = dll.lower()
        if lower not in KNOWN_DLLS and lower not in beside and dll not in found:
            found.append(dll)
    return found


def objdump_program(requested):
    for candidate in [requested, "i686-w64-mingw32-objdump", "objdump"]:
        if candidate and shutil.which(candidate):
            return candidate
    raise SystemExit("check_imports: no objdump found (binutils-mingw-w64-i686)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--list", default=LIST)
    parser.add_argument("--objdump")
    parser.add_argument("--nm")
    parser.add_argument("--stamp")
    parser.add_argument("--beside", action="append", default=[])
    parser.add_argument("binaries", nargs="+")
    args = parser.parse_args()
    try:
        allowed = read_list(args.list)
    except ValueError as e:
        print(f"check_imports: {e}", file=sys.stderr)
        return 2
    objdump = objdump_program(args.objdump)
    failed = unlisted = False
    for binary in args.binaries:
        run = subprocess.run([objdump, "-p", binary], capture_output=True, text=True)
        imports = parse_imports(run.stdout)
        if run.returncode != 0 or not imports:
            print(f"check_imports: cannot read the imports of {binary}: {run.stderr.strip()}",
                  file=sys.stderr)
            failed = True
            continue
        searched = searched_libraries(imports, {name.lower() for name in args.beside})
        if searched:
            failed = True
            print(f"check_imports: {os.path.basename(binary)} imports at load time what is no "
                  f"Known DLL: {', '.join(searched)} (import it late, or load it by the system "
                  f"folder's path: runtime/SystemLibrary)", file=sys.stderr)
        if args.nm:
            late = late_imports(binary, args.nm)
            if not late:
                print(f"check_imports: no late imports found in {binary}: is it stripped?",
                      file=sys.stderr)
                failed = True
            imports += late
        unknown = unknown_imports(imports, allowed)
        if unknown:
            failed = unlisted = True
            print(f"check_imports: {os.path.basename(binary)} imports what is not known to "
                  f"exist on Windows 7 SP1:", file=sys.stderr)
            for dll, name in unknown:
                print(f"  {dll}: {name}", file=sys.stderr)
    if unlisted:
        print(f"Check each on Windows 7 SP1 as docs/releases.md says (\"Windows versions\") before "
              f"adding it to {os.path.relpath(os.path.abspath(args.list), ROOT)}, or call it "
              f"through GetProcAddress.",
              file=sys.stderr)
    if failed:
        return 1
    if args.stamp:
        with open(args.stamp, "w") as f:
            f.write("imports checked\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
