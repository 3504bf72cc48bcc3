#!/usr/bin/env python3
"""The zips for Windows users, one for each build: each holds exactly the program and
its guide; the guide is made from the README as it is now; the program carries the
version set in CMake and names its architecture, carries its manifest, imports only
Windows' own DLLs and nothing that Windows 7 lacks, and is built for the machine its zip
is named for.

    package_test.py --zip Z [--zip Z...] --version V --readme README.md
                    --guide-maker windows-guide.py

Each zip is named dazirar-oru-<version>-win32.zip or ...-win64.zip.
"""
import argparse
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree
import zipfile

ARGS = None
# What Windows itself provides; anything else would have to ship in the zip.
WINDOWS_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "comdlg32.dll",
                "ws2_32.dll", "msvcrt.dll", "advapi32.dll", "shell32.dll", "ole32.dll"}
# For each architecture: the PE machine type, the bits the version resource names,
# and the binutils that read its programs.
ARCHITECTURES = {"win32": (0x14C, 32, "i686-w64-mingw32-"),
                 "win64": (0x8664, 64, "x86_64-w64-mingw32-")}

# The per-monitor DPI calls of Windows 8.1 and 10: imported, they would keep the
# program from starting on Windows 7; the program looks them up when it runs.
NEWER_DPI_CALLS = {"GetDpiForWindow", "GetDpiForSystem", "AdjustWindowRectExForDpi",
                   "GetSystemMetricsForDpi", "SystemParametersInfoForDpi",
                   "SetProcessDpiAwarenessContext", "SetThreadDpiAwarenessContext",
                   "EnableNonClientDpiScaling", "GetDpiForMonitor", "SetProcessDpiAwareness"}
RT_MANIFEST = 24
SUPPORTED_OS = {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
                "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
                "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
                "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11"}


def resource_id(data, at):
    """A type or name field of a .res header: an ordinal, or a text."""
    (first,) = struct.unpack_from("<H", data, at)
    if first == 0xFFFF:
        return struct.unpack_from("<H", data, at + 2)[0], at + 4
    end = at
    while struct.unpack_from("<H", data, end)[0] != 0:
        end += 2
    return data[at:end].decode("utf-16-le"), end + 2


def resources(exe, binutils):
    """(type, name, language, bytes) of every resource of the program."""
    with tempfile.NamedTemporaryFile(suffix=".res") as res:
        subprocess.run([binutils + "windres", "-i", exe, "-O", "res", "-o", res.name],
                       check=True)
        data = res.read()
    found = []
    at = 0
    while at + 8 <= len(data):
        size, header = struct.unpack_from("<II", data, at)
        kind, field = resource_id(data, at + 8)
        name, field = resource_id(data, field)
        field = (field + 3) & ~3
        (language,) = struct.unpack_from("<H", data, field + 6)
        if size > 0:
            found.append((kind, name, language, data[at + header:at + header + size]))
        at = (at + header + size + 3) & ~3
    return found


def pe_machine(path):
    """The machine field of a PE file's COFF header."""
    with open(path, "rb") as f:
        data = f.read(4096)
    assert data[:2] == b"MZ", "not an MZ executable"
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0", "no PE header"
    return struct.unpack_from("<H", data, pe + 4)[0]


class ZipChecks:
    """The checks of one zip; a test class per zip sets ZIP and ARCH."""
    ZIP = None
    ARCH = None

    @classmethod
    def setUpClass(cls):
        cls.machine, cls.bits, cls.binutils = ARCHITECTURES[cls.ARCH]
        cls.dir = tempfile.TemporaryDirectory()
        with zipfile.ZipFile(cls.ZIP) as z:
            cls.names = sorted(z.namelist())
            z.extractall(cls.dir.name)
        cls.exe = cls.dir.name + "/dazirar-oru.exe"

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def test_holds_the_program_and_its_guide_only(self):
        self.assertEqual(self.names, ["README.txt", "dazirar-oru.exe"])

    def test_the_guide_is_the_readme_of_now_in_plain_text(self):
        with open(self.dir.name + "/README.txt", "rb") as f:
            guide = f.read()
        with tempfile.NamedTemporaryFile() as fresh:
            subprocess.run([sys.executable, ARGS.guide_maker, ARGS.readme, ARGS.version,
                            fresh.name, ARGS.changelog], check=True)
            self.assertEqual(guide, fresh.read(),
                             "the guide in the zip is not the README's and the changelog's")
        text = guide.decode("ascii")
        self.assertNotIn("\n", text.replace("\r\n", ""), "a line end that is not CR LF")
        self.assertTrue(text.startswith("Dazirar OrU " + ARGS.version + "\r\n"))
        words = " ".join(text.split())  # a phrase may be wrapped onto two lines
        for needed in ("Mise en ecoute", "Deconnexion", "Proprietes", "Reprendre", ".sip",
                       "capture.txt", "For Windows users", "no installer", "System type",
                       "dazirar-oru-" + ARGS.version + "-win32.zip",
                       "dazirar-oru-" + ARGS.version + "-win64.zip",
                       "What is new in " + ARGS.version, "certutil -hashfile"):
            self.assertIn(needed, words)
        self.assertNotIn("`", text)
        self.assertNotIn("**", text)

    def test_the_program_is_built_for_the_machine_its_zip_names(self):
        self.assertEqual(hex(pe_machine(self.exe)), hex(self.machine))

    def test_the_program_imports_only_windows_own_dlls(self):
        dump = subprocess.run([self.binutils + "objdump", "-p", self.exe], check=True,
                              capture_output=True, text=True).stdout
        dlls = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
        self.assertIn("ws2_32.dll", dlls)
        self.assertEqual(dlls - WINDOWS_DLLS, set())

    def test_the_program_imports_nothing_that_windows_7_lacks(self):
        dump = subprocess.run([self.binutils + "objdump", "-p", self.exe], check=True,
                              capture_output=True, text=True).stdout
        imported = set(re.findall(r"^\s+[0-9a-f]+\s+\d+\s+(\w+)$", dump, re.MULTILINE))
        self.assertIn("CreateWindowExA", imported)
        self.assertEqual(imported & NEWER_DPI_CALLS, set())

    def test_the_program_declares_its_dpi_awareness_in_its_manifest(self):
        manifests = [r for r in resources(self.exe, self.binutils) if r[0] == RT_MANIFEST]
        self.assertEqual([(kind, name) for kind, name, _, _ in manifests], [(RT_MANIFEST, 1)])
        root = ElementTree.fromstring(manifests[0][3])
        asm1 = "{urn:schemas-microsoft-com:asm.v1}"
        settings = root.find("{urn:schemas-microsoft-com:asm.v3}application/"
                             "{urn:schemas-microsoft-com:asm.v3}windowsSettings")
        self.assertIsNotNone(settings, "no windowsSettings")
        aware = settings.find("{http://schemas.microsoft.com/SMI/2005/WindowsSettings}dpiAware")
        awareness = settings.find(
            "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}dpiAwareness")
        self.assertIsNotNone(aware, "no dpiAware for Windows 7 to 10 before 1607")
        self.assertEqual(aware.text.strip().lower(), "true/pm")
        self.assertIsNotNone(awareness, "no dpiAwareness for Windows 10 from 1607 on")
        modes = [mode.strip().lower() for mode in awareness.text.split(",")]
        self.assertEqual(modes, ["permonitorv2", "permonitor"])
        compatibility = root.find("{urn:schemas-microsoft-com:compatibility.v1}compatibility/"
                                  "{urn:schemas-microsoft-com:compatibility.v1}application")
        self.assertIsNotNone(compatibility, "no supportedOS entries")
        ids = {os.get("Id").lower() for os in compatibility.findall(
            "{urn:schemas-microsoft-com:compatibility.v1}supportedOS")}
        self.assertEqual(ids, set(SUPPORTED_OS))
        # No visual styles: the controls keep their classic look.
        self.assertIsNone(root.find(asm1 + "dependency"))

    def test_the_program_carries_the_version_and_names_its_architecture(self):
        rc = subprocess.run([self.binutils + "windres", "-i", self.exe, "-O", "rc"],
                            check=True, capture_output=True, text=True).stdout
        values = dict(re.findall(r'VALUE "(\w+)", "([^"]*)"', rc))
        numbers = ", ".join(ARGS.version.split(".") + ["0"])
        self.assertIn("FILEVERSION " + numbers, rc)
        self.assertIn("PRODUCTVERSION " + numbers, rc)
        self.assertEqual(values.get("ProductName"), "Dazirar OrU")
        self.assertEqual(values.get("FileVersion"), ARGS.version)
        self.assertEqual(values.get("ProductVersion"), ARGS.version)
        self.assertEqual(values.get("OriginalFilename"), "dazirar-oru.exe")
        self.assertEqual(values.get("FileDescription"),
                         "Dazirar OrU, terminal serveur TCP (Windows %d bits)" % self.bits)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--zip", action="append", required=True)
    for option in ("--version", "--readme", "--changelog", "--guide-maker"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    for path in ARGS.zip:
        named = re.fullmatch(r"dazirar-oru-(.+)-(win32|win64)\.zip", os.path.basename(path))
        if not named or named.group(1) != ARGS.version:
            sys.exit("%s is not named dazirar-oru-%s-win32.zip or -win64.zip" % (path, ARGS.version))
        name = "ZipTest_" + named.group(2)
        globals()[name] = type(name, (ZipChecks, unittest.TestCase),
                               {"ZIP": path, "ARCH": named.group(2)})
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
