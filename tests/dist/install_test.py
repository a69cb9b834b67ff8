#!/usr/bin/env python3
"""`cmake --install` into a scratch root: every file where the desktop looks
for it, the desktop entry, AppStream metadata and manual pages valid, and the
installed program finds its files in share/pixhold/.

usage: install_test.py BUILD_DIR VERSION"""

import gzip
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import running  # noqa: E402

BUILD = None
VERSION = None
APP_ID = "com.norvane.Pixhold"
ICON_SIZES = [16, 22, 24, 32, 48, 64, 128, 256, 512]

EXPECTED = [
    "usr/bin/pixhold",
    "usr/bin/pixhold-db",
    "usr/share/pixhold/Pixhold.hlp",
    "usr/share/pixhold/Norv.hlp",
    "usr/share/pixhold/pixhold.jpg",
    "usr/share/applications/%s.desktop" % APP_ID,
    "usr/share/metainfo/%s.metainfo.xml" % APP_ID,
    "usr/share/icons/hicolor/scalable/apps/%s.svg" % APP_ID,
    "usr/share/man/man1/pixhold.1.gz",
    "usr/share/man/man1/pixhold-db.1.gz",
    "usr/share/doc/pixhold/copyright",
    "usr/share/doc/pixhold/changelog.Debian.gz",
] + ["usr/share/icons/hicolor/%dx%d/apps/%s.png" % (s, s, APP_ID) for s in ICON_SIZES]


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        raise AssertionError(path + " is not a PNG file")
    return struct.unpack(">II", head[16:24])


def desktop_entry(path):
    values = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            if "=" in line and not line.startswith("#"):
                key, value = line.rstrip("\n").split("=", 1)
                values[key] = value
    return values


class InstallTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="pixhold-install-")
        cls.root = os.path.join(cls.tmp, "root")
        env = dict(os.environ, DESTDIR=cls.root)
        result = subprocess.run(["cmake", "--install", BUILD, "--prefix", "/usr"], env=env,
                                capture_output=True, text=True)
        if result.returncode != 0:
            raise AssertionError("cmake --install failed:\n" + result.stdout + result.stderr)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def path(self, relative):
        return os.path.join(self.root, relative)

    def test_every_file_is_in_its_place(self):
        installed = sorted(os.path.relpath(os.path.join(d, f), self.root)
                           for d, _, files in os.walk(self.root) for f in files)
        self.assertEqual(installed, sorted(EXPECTED))
        for program in ("usr/bin/pixhold", "usr/bin/pixhold-db"):
            self.assertTrue(os.access(self.path(program), os.X_OK), program)

    def test_desktop_entry_is_valid_and_names_what_is_installed(self):
        entry = self.path("usr/share/applications/%s.desktop" % APP_ID)
        result = subprocess.run(["desktop-file-validate", entry], capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(result.stdout + result.stderr, "", "no warnings either")
        values = desktop_entry(entry)
        self.assertEqual(values["Exec"].split()[0], "pixhold")
        self.assertTrue(os.path.exists(self.path("usr/bin/" + values["Exec"].split()[0])))
        self.assertEqual(values["Icon"], APP_ID)
        self.assertEqual(set(filter(None, values["Categories"].split(";"))) & {"Graphics", "Photography"},
                         {"Graphics", "Photography"})

    def test_appstream_metadata_is_valid(self):
        metainfo = self.path("usr/share/metainfo/%s.metainfo.xml" % APP_ID)
        for command in (["appstreamcli", "validate", "--no-net", metainfo],
                        ["appstreamcli", "validate-tree", "--no-net", self.root]):
            result = subprocess.run(command, capture_output=True, text=True)
            self.assertEqual(result.returncode, 0, " ".join(command) + "\n" + result.stdout + result.stderr)
        component = ET.parse(metainfo).getroot()
        self.assertEqual(component.findtext("id"), APP_ID)
        self.assertEqual(component.findtext("launchable"), APP_ID + ".desktop")
        newest = component.find("releases/release")
        self.assertEqual(newest.get("version"), VERSION, "the newest release is this version")

    def test_icons_have_their_sizes(self):
        for size in ICON_SIZES:
            path = self.path("usr/share/icons/hicolor/%dx%d/apps/%s.png" % (size, size, APP_ID))
            self.assertEqual(png_size(path), (size, size), path)
        svg = ET.parse(self.path("usr/share/icons/hicolor/scalable/apps/%s.svg" % APP_ID)).getroot()
        self.assertEqual(svg.tag, "{http://www.w3.org/2000/svg}svg")

    def test_manual_pages_render_without_warnings(self):
        for name in ("pixhold.1.gz", "pixhold-db.1.gz"):
            page = self.path("usr/share/man/man1/" + name)
            with gzip.open(page) as f:
                self.assertTrue(f.read().startswith(b".TH "), name)
            result = subprocess.run(["man", "--warnings", "-l", page], capture_output=True, text=True,
                                    env=dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8", MAN_KEEP_FORMATTING=""))
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(result.stderr, "", name)
            self.assertIn("SYNOPSIS", result.stdout)

    def test_installed_program_finds_its_files_and_ends_on_sigterm(self):
        scratch = running.Scratch()
        try:
            process = running.start(self.path("usr/bin/pixhold"), scratch)
            running.wait_until_running(process, scratch.data_folder)
            process.send_signal(signal.SIGTERM)
            code, output = running.finish(process)
            self.assertEqual(code, 0, output)
            values = running.read_ini(scratch.ini)
            # The program folder is where the help files are: share/pixhold/.
            self.assertEqual(values[("Defaults", "LastImportDir")], self.path("usr/share/pixhold") + "/")
            self.assertEqual(values[("Options", "DBPath")], scratch.data_folder)
        finally:
            scratch.close()


if __name__ == "__main__":
    BUILD = os.path.abspath(sys.argv.pop(1))
    VERSION = sys.argv.pop(1)
    unittest.main(verbosity=2)
