"""The Debian package made from this build (CPack, as scripts/package makes it): its fields and
dependencies, its file list, stripped binaries, no lintian error, and the program answering
--version from a throw-away root the package was unpacked into."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

BUILD_DIR = sys.argv.pop(1)
VERSION = sys.argv.pop(1)
APP_ID = "org.vorlan.Vorlan"


def required(command):
    if shutil.which(command):
        return
    if os.environ.get("CI") == "true":
        raise AssertionError(command + " is not installed")
    raise unittest.SkipTest(command + " is not installed")


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        for command in ("cpack", "dpkg-deb", "dpkg-shlibdeps", "file"):
            required(command)
        cls.folder = tempfile.mkdtemp(prefix="vorlan-package-")
        made = subprocess.run(["cpack", "-G", "DEB", "--config",
                               os.path.join(BUILD_DIR, "CPackConfig.cmake"), "-B", cls.folder],
                              capture_output=True, text=True)
        if made.returncode != 0:
            shutil.rmtree(cls.folder)
            raise AssertionError("cpack failed:\n" + made.stdout + made.stderr)
        architecture = subprocess.run(["dpkg", "--print-architecture"], capture_output=True,
                                      text=True, check=True).stdout.strip()
        cls.deb = os.path.join(cls.folder, "vorlan_%s_%s.deb" % (VERSION, architecture))
        cls.root = os.path.join(cls.folder, "root")
        subprocess.run(["dpkg-deb", "-x", cls.deb, cls.root], check=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder)

    def field(self, name):
        return subprocess.run(["dpkg-deb", "-f", self.deb, name], capture_output=True, text=True,
                              check=True).stdout.strip()

    def test_fields_and_dependencies_read_from_the_binaries(self):
        self.assertEqual((self.field("Package"), self.field("Version")), ("vorlan", VERSION))
        depends = self.field("Depends")
        for library in ("libc6", "libqt6widgets6", "libqt6dbus6", "libqt6multimedia6"):
            self.assertRegex(depends, r"(^|, )%s \(>= [^)]+\)" % library)
        self.assertIn("qt6-wayland", self.field("Recommends"))
        description = self.field("Description").splitlines()
        self.assertGreater(len(description), 3, "no extended description")

    def test_file_list(self):
        listing = subprocess.run(["dpkg-deb", "-c", self.deb], capture_output=True, text=True,
                                 check=True).stdout
        files = set()
        for line in listing.splitlines():
            mode, owner, *_rest, path = line.split()
            self.assertEqual(owner, "root/root", line)
            if mode.startswith("-"):
                # The library folder is lib/ or the multiarch lib/<triplet>/, by prefix.
                files.add(re.sub(r"^\./usr/lib/[^/]+-linux-gnu/", "./usr/lib/", path))
        icons = ["./usr/share/icons/hicolor/%sx%s/apps/%s.png" % (size, size, APP_ID)
                 for size in (16, 32, 48, 64, 128, 256)]
        self.assertEqual(files, {
            "./usr/bin/vorlan",
            "./usr/lib/vorlan/vorlan-sound.so",
            "./usr/share/applications/%s.desktop" % APP_ID,
            "./usr/share/metainfo/%s.metainfo.xml" % APP_ID,
            "./usr/share/icons/hicolor/scalable/apps/%s.svg" % APP_ID,
            *icons,
            "./usr/share/man/man1/vorlan.1.gz",
            "./usr/share/doc/vorlan/copyright",
            "./usr/share/doc/vorlan/changelog.gz",
        })

    def test_binaries_are_stripped(self):
        binaries = [os.path.join(folder, name) for folder, _dirs, names in os.walk(self.root)
                    for name in names if name in ("vorlan", "vorlan-sound.so")]
        self.assertEqual(len(binaries), 2, binaries)
        for binary in binaries:
            described = subprocess.run(["file", "-b", binary], capture_output=True, text=True,
                                       check=True).stdout
            self.assertRegex(described, r"\bELF\b.*, stripped", binary)

    def test_unpacked_program_answers_version(self):
        # No display, and a platform that would fail at once if a window were attempted.
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        env["QT_QPA_PLATFORM"] = "xcb"
        answered = subprocess.run([os.path.join(self.root, "usr/bin/vorlan"), "--version"],
                                  env=env, capture_output=True, text=True, timeout=10)
        self.assertEqual((answered.returncode, answered.stdout), (0, "Vorlan %s\n" % VERSION))

    def test_lintian_finds_no_error(self):
        required("lintian")
        checked = subprocess.run(["lintian", "--fail-on", "error", self.deb], capture_output=True,
                                 text=True, timeout=240)
        self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)


if __name__ == "__main__":
    unittest.main()
