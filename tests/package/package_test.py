#!/usr/bin/env python3
"""The zip for Windows users: exactly the program and its guide; the guide made
from the README as it is now; the program carrying the version set in CMake and
importing only Windows' own DLLs.

    package_test.py --zip Z --version V --readme README.md --guide-maker windows-guide.py
"""
import argparse
import re
import subprocess
import sys
import tempfile
import unittest
import zipfile

ARGS = None
# What 64-bit Windows itself provides; anything else would have to ship in the zip.
WINDOWS_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "comdlg32.dll",
                "ws2_32.dll", "msvcrt.dll", "advapi32.dll", "shell32.dll", "ole32.dll"}


class ZipTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        with zipfile.ZipFile(ARGS.zip) as z:
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
                            fresh.name], check=True)
            self.assertEqual(guide, fresh.read(), "the guide in the zip is not the README's")
        text = guide.decode("ascii")
        self.assertNotIn("\n", text.replace("\r\n", ""), "a line end that is not CR LF")
        self.assertTrue(text.startswith("Dazirar OrU " + ARGS.version + "\r\n"))
        for needed in ("Mise en ecoute", "Deconnexion", "Proprietes", "Reprendre", ".sip",
                       "capture.txt", "For Windows users", "no installer"):
            self.assertIn(needed, text)
        self.assertNotIn("`", text)
        self.assertNotIn("**", text)

    def test_the_program_imports_only_windows_own_dlls(self):
        dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", self.exe], check=True,
                              capture_output=True, text=True).stdout
        dlls = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
        self.assertIn("ws2_32.dll", dlls)
        self.assertEqual(dlls - WINDOWS_DLLS, set())

    def test_the_program_carries_the_version(self):
        rc = subprocess.run(["x86_64-w64-mingw32-windres", "-i", self.exe, "-O", "rc"],
                            check=True, capture_output=True, text=True).stdout
        values = dict(re.findall(r'VALUE "(\w+)", "([^"]*)"', rc))
        numbers = ", ".join(ARGS.version.split(".") + ["0"])
        self.assertIn("FILEVERSION " + numbers, rc)
        self.assertIn("PRODUCTVERSION " + numbers, rc)
        self.assertEqual(values.get("ProductName"), "Dazirar OrU")
        self.assertEqual(values.get("FileVersion"), ARGS.version)
        self.assertEqual(values.get("ProductVersion"), ARGS.version)
        self.assertEqual(values.get("OriginalFilename"), "dazirar-oru.exe")
        self.assertTrue(values.get("FileDescription"))


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for option in ("--zip", "--version", "--readme", "--guide-maker"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
