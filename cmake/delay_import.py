#!/usr/bin/env python3
"""A delay-import library for a system DLL, made from MinGW's own import library for it: every
function it names, loaded only when first called (through the delay-load helper, whose hook
loads the DLL from the system folder).

    delay_import.py NM DLLTOOL IMPORT_LIB DLL_NAME MACHINE OUT.a

MACHINE is i386 or i386:x86-64 (dlltool's -m).
"""

import os
import re
import subprocess
import sys
import tempfile


def main():
    nm, dlltool, import_lib, dll, machine, out = sys.argv[1:]
    listed = subprocess.run([nm, import_lib], capture_output=True, text=True, check=True).stdout
    # "__imp__Name@8" on i686 (a leading underscore of the C name), "__imp_Name" on x86_64.
    prefix = "__imp__" if machine == "i386" else "__imp_"
    names = sorted({m.group(1) for m in re.finditer(r"\sI " + re.escape(prefix) + r"(\S+)", listed)})
    if not names:
        sys.exit("no functions in " + import_lib)
    with tempfile.TemporaryDirectory() as work:
        definition = os.path.join(work, dll + ".def")
        with open(definition, "w") as f:
            f.write("LIBRARY %s\nEXPORTS\n" % dll)
            f.writelines(n + "\n" for n in names)
        # Made under a name of no folder: dlltool names its symbols after it, and a build in
        # another folder must give the same bytes.
        name = os.path.basename(out)
        args = [dlltool, "-m", machine, "--deterministic-libraries", "-d", definition,
                "-D", dll, "-y", name, "-t", "t"]
        if machine == "i386":
            args.append("-k")
        subprocess.run(args, check=True, cwd=work)
        os.replace(os.path.join(work, name), out)


if __name__ == "__main__":
    main()
