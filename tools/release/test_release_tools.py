#!/usr/bin/env python3
"""The release checks themselves: the import check reads objdump's import tables right and
names what the list lacks; the size report holds the budget; the program's manifest says what
Windows must read in it, in the namespaces Windows reads it from (a misplaced element is
silently ignored)."""

import os
import struct
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)

import check_imports  # noqa: E402
import size_report  # noqa: E402

# As `i686-w64-mingw32-objdump -p` prints an import table: two DLLs, one import by ordinal.
OBJDUMP = """
The Import Tables (interpreted .idata section contents)
 vma:            Hint    Time      Forward  DLL       First
                 Table   Stamp     Chain    Name      Thunk
 000a1000\t000a10a0 00000000 00000000 000a26c0 000a1460

\tDLL Name: KERNEL32.dll
\tvma:  Hint/Ord Member-Name Bound-To
\ta1820\t    1  CloseHandle
\ta1830\t  712  GetTickCount64

 000a1014\t000a10b8 00000000 00000000 000a26e8 000a1478

\tDLL Name: COMCTL32.DLL
\tvma:  Hint/Ord Member-Name Bound-To
\t80000011\t   17  <none>
\ta1882\t   63  ImageList_Create

 000a1028\t00000000 00000000 00000000 00000000 00000000

There is an export table in .edata at 0x6b1b9000

The Export Tables (interpreted .edata section contents)
\t[   0] +base[   1] 0000 XL_Init
"""


class ImportCheck(unittest.TestCase):
    def allowed(self, text):
        with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as f:
            f.write(text)
        self.addCleanup(os.unlink, f.name)
        return check_imports.read_list(f.name)

    def test_reads_every_import_of_every_table_and_nothing_else(self):
        self.assertEqual(check_imports.parse_imports(OBJDUMP), [
            ("KERNEL32.dll", "CloseHandle"), ("KERNEL32.dll", "GetTickCount64"),
            ("COMCTL32.DLL", "@17"), ("COMCTL32.DLL", "ImageList_Create")])

    def test_reads_the_late_imports_of_each_descriptor(self):
        # Two descriptors, one with addresses relative to the image (its bit 0 set), one with
        # absolute ones; a function by name and one by ordinal, whose slot is empty.
        base = 0x400000
        memory = {}

        def put(at, data):
            for i, b in enumerate(data):
                memory[at + i] = b

        put(base + 0x1000, struct.pack("<5I", 1, 0x100, 0, 0x280, 0x200))
        put(base + 0x1020, struct.pack("<5I", 0, base + 0x140, 0, base + 0x2A0, base + 0x240))
        put(base + 0x280, struct.pack("<2I", base + 0x50, 0))
        put(base + 0x2A0, struct.pack("<I", base + 0x60))
        put(base + 0x100, b"crypt32.dll\0")
        put(base + 0x140, b"bcrypt.dll\0")
        put(base + 0x200, struct.pack("<3I", 0x300, 0x80000000 | 17, 0))
        put(base + 0x240, struct.pack("<2I", base + 0x320, 0))
        put(base + 0x300, b"\0\0CertOpenStore\0")
        put(base + 0x320, b"\0\0BCryptHash\0")
        read = lambda at, size: bytes(memory.get(at + i, 0) for i in range(size))  # noqa: E731
        self.assertEqual(
            check_imports.delay_imports(read, [base + 0x1000, base + 0x1020], base, False),
            [("crypt32.dll", "CertOpenStore"),
             ("crypt32.dll", "@17 (its slot is empty: the call would jump to zero)"),
             ("bcrypt.dll", "BCryptHash")])

    def test_finds_every_late_import_descriptor_nm_lists(self):
        listed = ("00401000 T _main\n"
                  "0040a014 I __DELAY_IMPORT_DESCRIPTOR_libcrypt32_delay_a\n"
                  "0040a000 r __DELAY_IMPORT_DESCRIPTOR_libbcrypt_delay_a\n"
                  "0040a028 I __head_libbcrypt_delay_a\n")
        self.assertEqual(check_imports.descriptors_in(listed), [0x40a014, 0x40a000])

    def test_only_known_dlls_and_what_is_shipped_beside_at_load_time(self):
        imports = check_imports.parse_imports(OBJDUMP) + [("xldl.dll", "XL_Init")]
        self.assertEqual(check_imports.searched_libraries(imports, {"xldl.dll"}), ["COMCTL32.DLL"])
        self.assertEqual(check_imports.searched_libraries(imports, {"comctl32.dll"}), ["xldl.dll"])
        for dll in ["comctl32.dll", "version.dll", "uxtheme.dll", "wininet.dll", "dbghelp.dll"]:
            self.assertNotIn(dll, check_imports.KNOWN_DLLS)

    def test_names_each_import_the_list_lacks(self):
        imports = check_imports.parse_imports(OBJDUMP)
        cases = [
            ("everything listed, DLL names in any case",
             "[kernel32.dll]\nCloseHandle\nGetTickCount64\n[Comctl32.dll]\n@17\nImageList_Create\n",
             []),
            ("a function listed under another DLL",
             "[kernel32.dll]\nCloseHandle\nGetTickCount64\nImageList_Create\n[comctl32.dll]\n@17\n",
             [("COMCTL32.DLL", "ImageList_Create")]),
            ("a DLL not listed at all, an ordinal not listed",
             "[kernel32.dll]  # comment\nCloseHandle  # another\nGetTickCount64\n",
             [("COMCTL32.DLL", "@17"), ("COMCTL32.DLL", "ImageList_Create")]),
            ("names compare exactly", "[kernel32.dll]\ncloseHandle\nGetTickCount64\n"
             "[comctl32.dll]\n@17\nImageList_Create\n", [("KERNEL32.dll", "CloseHandle")]),
        ]
        for what, text, expected in cases:
            with self.subTest(what):
                self.assertEqual(check_imports.unknown_imports(imports, self.allowed(text)),
                                 expected)

    def test_a_malformed_list_is_refused_with_its_line(self):
        for text in ["CloseHandle\n", "[kernel32.dll]\nClose Handle\n", "[kernel32 dll]\nA\n"]:
            with self.subTest(text), self.assertRaisesRegex(ValueError, r":\d+: "):
                self.allowed(text)

    def test_the_checked_in_list_reads(self):
        allowed = check_imports.read_list(check_imports.LIST)
        for dll in ["kernel32.dll", "user32.dll", "gdi32.dll", "ws2_32.dll", "secur32.dll",
                    "msvcrt.dll", "xldl.dll"]:
            self.assertIn(dll, allowed)
        # Functions Windows 7 does not have must never be on it.
        for dll, name in [("kernel32.dll", "GetSystemTimePreciseAsFileTime"),
                          ("user32.dll", "GetDpiForWindow"),
                          ("user32.dll", "SetProcessDpiAwarenessContext"),
                          ("kernel32.dll", "SetDefaultDllDirectories")]:
            self.assertNotIn(name, allowed[dll])


class SizeReport(unittest.TestCase):
    def test_the_budget_is_a_bound_on_the_sum(self):
        cases = [([("a.exe", 600_000), ("b.dll", 448_576)], True),
                 ([("a.exe", 600_000), ("b.dll", 448_577)], False),
                 ([("a.exe", 1_048_577)], False)]
        for sizes, within in cases:
            with self.subTest(sizes):
                lines, ok = size_report.report(sizes, 1_048_576, 600 * 1024)
                self.assertEqual(ok, within)
                self.assertIn(str(sum(s for _, s in sizes)), lines[-1])


ASM1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPAT = "{urn:schemas-microsoft-com:compatibility.v1}"
SETTINGS_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
SETTINGS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
WINDOWS = {  # supportedOS ids
    "Windows 7": "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "Windows 8": "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
    "Windows 8.1": "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "Windows 10 and 11": "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
}


class Manifest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = ET.parse(os.path.join(ROOT, "app", "OrlenzDownloader.manifest")).getroot()

    def test_it_is_an_assembly_manifest(self):
        self.assertEqual(self.root.tag, ASM1 + "assembly")
        self.assertEqual(self.root.get("manifestVersion"), "1.0")

    def test_runs_as_the_user_who_started_it(self):
        levels = [e.get("level") for e in self.root.iter()
                  if e.tag.endswith("}requestedExecutionLevel")]
        self.assertEqual(levels, ["asInvoker"])
        trust = self.root.find(f"{ASM3}trustInfo/{ASM3}security/{ASM3}requestedPrivileges/"
                               f"{ASM3}requestedExecutionLevel")
        self.assertIsNotNone(trust, "not where Windows reads it")
        self.assertIn(trust.get("uiAccess"), (None, "false"))

    def test_declares_windows_7_to_11_and_nothing_else(self):
        ids = [e.get("Id") for e in self.root.findall(
            f"{COMPAT}compatibility/{COMPAT}application/{COMPAT}supportedOS")]
        self.assertEqual(sorted(ids), sorted(WINDOWS.values()))
        every = [e for e in self.root.iter() if e.tag.endswith("}supportedOS")]
        self.assertEqual(len(every), len(ids), "a supportedOS outside the compatibility section")

    def test_system_dpi_aware_and_no_visual_styles(self):
        settings = self.root.find(f"{ASM3}application/{ASM3}windowsSettings")
        self.assertIsNotNone(settings)
        aware = settings.find(SETTINGS_2005 + "dpiAware")
        self.assertIsNotNone(aware)
        self.assertEqual(aware.text.strip().lower(), "true")
        awareness = settings.find(SETTINGS_2016 + "dpiAwareness")
        if awareness is not None:  # where it is read, it must say the same
            self.assertEqual(awareness.text.strip().lower(), "system")
        # The classic look: no dependency, in particular not on common controls 6.
        self.assertEqual([e for e in self.root.iter() if e.tag.endswith("}dependency")], [])


if __name__ == "__main__":
    unittest.main()
