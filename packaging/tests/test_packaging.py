#!/usr/bin/env python3
"""Tests of the Debian package's build helpers, in temporary folders:
plugin-links.cmake (the plug-in links) and deb-drop-directories.py (the
folders taken out of a package's data archive).

  test_packaging.py <packaging source folder> [unittest arguments]
"""

import os
import subprocess
import sys
import tempfile
import unittest

PACKAGING = None  # set from the command line


def run(*command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, **kwargs)


class PluginLinksTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        root = self.tmp.name
        self.bundle = os.path.join(root, "bundle", "plugins")
        self.system = os.path.join(root, "system")
        self.out = os.path.join(root, "links")
        for kind, name in (("platforms", "libqxcb.so"), ("platformthemes", "libqgtk3.so")):
            for top in (self.bundle, self.system):
                os.makedirs(os.path.join(top, kind), exist_ok=True)
                with open(os.path.join(top, kind, name), "w") as f:
                    f.write(top)

    def tearDown(self):
        self.tmp.cleanup()

    def links(self):
        return run("cmake", f"-DBUNDLE_PLUGINS={self.bundle}", f"-DSYSTEM_PLUGINS={self.system}",
                   f"-DOUT={self.out}", "-P", os.path.join(PACKAGING, "plugin-links.cmake"))

    def test_every_plugin_becomes_a_link_to_the_system_file_of_the_same_name(self):
        os.makedirs(os.path.join(self.out, "stale"))  # an earlier run's leftovers go
        result = self.links()
        self.assertEqual(result.returncode, 0, result.stderr)
        made = sorted(os.path.relpath(os.path.join(d, f), self.out)
                      for d, _, files in os.walk(self.out) for f in files)
        self.assertEqual(made, ["platforms/libqxcb.so", "platformthemes/libqgtk3.so"])
        for relative in made:
            link = os.path.join(self.out, relative)
            self.assertTrue(os.path.islink(link))
            self.assertEqual(os.readlink(link), os.path.join(self.system, relative))

    def test_a_plugin_the_system_lacks_fails_and_names_it(self):
        os.remove(os.path.join(self.system, "platformthemes", "libqgtk3.so"))
        result = self.links()
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("platformthemes/libqgtk3.so", result.stderr)


class DropDirectoriesTest(unittest.TestCase):
    """A package made by dpkg-deb, with a long path, a link and a non-ASCII
    name below /opt, loses the ./opt/ entry and nothing else."""

    LONG = "a-folder-name-long-enough-to-need-the-gnu-long-name-header-" * 2

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        root = os.path.join(self.tmp.name, "root")
        deep = os.path.join(root, "opt", "lumora", self.LONG)
        os.makedirs(deep)
        os.makedirs(os.path.join(root, "DEBIAN"))
        os.makedirs(os.path.join(root, "usr", "bin"))
        with open(os.path.join(deep, "Grüße.txt"), "w") as f:
            f.write("contents\n")
        os.chmod(os.path.join(deep, "Grüße.txt"), 0o644)
        os.symlink("/opt/lumora/x", os.path.join(root, "usr", "bin", "x"))
        with open(os.path.join(root, "DEBIAN", "control"), "w") as f:
            f.write("Package: drop-test\nVersion: 1.0\nArchitecture: all\n"
                    "Maintainer: Test <test@lumora.example>\nDescription: test\n")
        self.deb = os.path.join(self.tmp.name, "drop-test.deb")
        result = run("dpkg-deb", "--root-owner-group", "-Zxz", "--build", root, self.deb)
        if result.returncode != 0:
            self.skipTest(f"dpkg-deb --build failed: {result.stderr}")

    def tearDown(self):
        self.tmp.cleanup()

    def listing(self):
        result = run("dpkg-deb", "--contents", self.deb)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout.splitlines()

    def drop(self, *entries):
        return run(sys.executable, os.path.join(PACKAGING, "deb-drop-directories.py"), self.deb, *entries)

    def test_only_the_folders_own_entry_goes(self):
        before = self.listing()
        result = self.drop("./opt/")
        self.assertEqual(result.returncode, 0, result.stderr)
        after = self.listing()
        self.assertEqual(after, [line for line in before if not line.endswith(" ./opt/")])
        self.assertEqual(len(after), len(before) - 1)
        extracted = os.path.join(self.tmp.name, "extracted")
        result = run("dpkg-deb", "--extract", self.deb, extracted)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(os.path.join(extracted, "opt", "lumora", self.LONG, "Grüße.txt")) as f:
            self.assertEqual(f.read(), "contents\n")
        self.assertEqual(os.readlink(os.path.join(extracted, "usr", "bin", "x")), "/opt/lumora/x")
        self.assertEqual(run("dpkg-deb", "--field", self.deb, "Package").stdout.strip(), "drop-test")

    def test_an_entry_the_package_lacks_changes_nothing(self):
        before = self.listing()
        result = self.drop("./srv/")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.listing(), before)

    def test_a_file_that_is_no_package_fails_and_is_left_alone(self):
        with open(self.deb, "wb") as f:
            f.write(b"not a package")
        result = self.drop("./opt/")
        self.assertEqual(result.returncode, 1)
        self.assertIn("not an ar archive", result.stderr)
        with open(self.deb, "rb") as f:
            self.assertEqual(f.read(), b"not a package")


if __name__ == "__main__":
    PACKAGING = sys.argv.pop(1)
    unittest.main()
