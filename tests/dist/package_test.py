#!/usr/bin/env python3
"""The Debian package: built with CPack from a build folder, its control
fields (the runtime libraries as dependencies), its files, and an install and
purge with dpkg into a scratch root.

usage: package_test.py BUILD_DIR VERSION"""

import glob
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

BUILD = None
VERSION = None


def run(command, **kwargs):
    result = subprocess.run(command, capture_output=True, text=True, **kwargs)
    if result.returncode != 0:
        raise AssertionError(" ".join(command) + " failed:\n" + result.stdout + result.stderr)
    return result.stdout


class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="pixhold-package-")
        # gzip instead of xz: the same package, made faster.
        run(["cpack", "--config", os.path.join(BUILD, "CPackConfig.cmake"), "-B", cls.tmp,
             "-D", "CPACK_DEBIAN_COMPRESSION_TYPE=gzip"])
        debs = glob.glob(os.path.join(cls.tmp, "pixhold_*.deb"))
        if len(debs) != 1:
            raise AssertionError("expected one pixhold_*.deb, found %s" % debs)
        cls.deb = debs[0]

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def field(self, name):
        return run(["dpkg-deb", "-f", self.deb, name]).strip()

    def test_control_fields(self):
        arch = run(["dpkg", "--print-architecture"]).strip()
        self.assertEqual(os.path.basename(self.deb), "pixhold_%s-1_%s.deb" % (VERSION, arch))
        self.assertEqual(self.field("Package"), "pixhold")
        self.assertEqual(self.field("Version"), VERSION + "-1")
        self.assertEqual(self.field("Section"), "graphics")
        self.assertTrue(self.field("Maintainer"))
        description = self.field("Description").splitlines()
        self.assertEqual(description[0], "keeps pictures inside databases")
        self.assertNotIn(description[0], "\n".join(description[1:]), "the summary once")
        depends = [d.strip().split(" ")[0] for d in self.field("Depends").split(",")]
        for library in ("libqt6widgets6", "libqt6gui6", "libqt6core6", "libjpeg62-turbo", "libpng16-16",
                        "libgif7", "libc6", "libstdc++6", "qt6-qpa-plugins"):
            self.assertIn(library, depends)
        self.assertTrue(any(d.startswith("libicu") for d in depends), depends)

    def test_files_are_below_usr_and_owned_by_root(self):
        listing = run(["dpkg-deb", "-c", self.deb]).splitlines()
        names = []
        for line in listing:
            fields = line.split()
            self.assertEqual(fields[1], "root/root", line)
            names.append(fields[5])
        for name in names:
            self.assertTrue(name == "./" or name.startswith("./usr/"), name)
        for wanted in ("./usr/bin/pixhold", "./usr/bin/pixhold-db", "./usr/share/pixhold/Pixhold.hlp",
                       "./usr/share/applications/com.norvane.Pixhold.desktop"):
            self.assertIn(wanted, names)

    def test_installs_into_a_scratch_root_and_purges(self):
        root = os.path.join(self.tmp, "root")
        admin = os.path.join(root, "var", "lib", "dpkg")
        for folder in ("info", "updates", "triggers"):
            os.makedirs(os.path.join(admin, folder), exist_ok=True)
        open(os.path.join(admin, "status"), "w").close()
        dpkg = ["dpkg", "--root=" + root, "--admindir=" + admin, "--log=/dev/null",
                "--force-not-root", "--force-script-chrootless", "--force-depends"]
        run(dpkg + ["--install", self.deb])
        status = run(["dpkg-query", "--admindir=" + admin, "-W", "-f=${Status} ${Version}", "pixhold"])
        self.assertEqual(status, "install ok installed %s-1" % VERSION)
        listed = run(["dpkg-query", "--admindir=" + admin, "-L", "pixhold"]).split()
        for name in ("/usr/bin/pixhold", "/usr/share/pixhold/Pixhold.hlp",
                     "/usr/share/icons/hicolor/48x48/apps/com.norvane.Pixhold.png"):
            self.assertIn(name, listed)
            self.assertTrue(os.path.isfile(root + name), name)
        self.assertTrue(os.access(root + "/usr/bin/pixhold", os.X_OK))
        run(dpkg + ["--purge", "pixhold"])
        self.assertFalse(os.path.exists(root + "/usr/bin/pixhold"))
        self.assertFalse(os.path.exists(root + "/usr/share/pixhold"))


if __name__ == "__main__":
    BUILD = os.path.abspath(sys.argv.pop(1))
    VERSION = sys.argv.pop(1)
    unittest.main(verbosity=2)
