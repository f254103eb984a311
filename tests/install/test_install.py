"""Installation into a temporary prefix: every file in its standard place, the desktop entry and
the metainfo valid, and the installed program answering --help and --version."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

BUILD_DIR = sys.argv.pop(1)
VERSION = sys.argv.pop(1)
APP_ID = "org.vorlan.Vorlan"


class Install(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = tempfile.mkdtemp(prefix="vorlan-install-")
        subprocess.run(["cmake", "--install", BUILD_DIR, "--prefix", cls.prefix],
                       check=True, stdout=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.prefix)

    def path(self, relative):
        return os.path.join(self.prefix, relative)

    def test_every_file_in_place(self):
        expected = ["bin/vorlan",
                    f"share/applications/{APP_ID}.desktop",
                    f"share/metainfo/{APP_ID}.metainfo.xml",
                    f"share/icons/hicolor/scalable/apps/{APP_ID}.svg"]
        expected += [f"share/icons/hicolor/{size}x{size}/apps/{APP_ID}.png"
                     for size in (16, 32, 48, 64, 128, 256)]
        for relative in expected:
            self.assertTrue(os.path.isfile(self.path(relative)), relative)
        self.assertTrue(os.access(self.path("bin/vorlan"), os.X_OK))
        # Sound output is a module loaded on the first sound, in the library folder; the program
        # itself does not link the multimedia library.
        modules = [os.path.join(folder, name) for folder, _dirs, names in os.walk(self.prefix)
                   for name in names if name == "vorlan-sound.so"]
        self.assertEqual(len(modules), 1, modules)
        self.assertEqual(os.path.basename(os.path.dirname(modules[0])), "vorlan")
        linked = subprocess.run(["ldd", self.path("bin/vorlan")], capture_output=True, text=True)
        self.assertNotIn("Multimedia", linked.stdout)
        with open(self.path(f"share/applications/{APP_ID}.desktop"), encoding="utf-8") as entry:
            text = entry.read()
        for line in ("Name=Vorlan", "Comment=簡易チャットシステム", "Exec=vorlan", f"Icon={APP_ID}"):
            self.assertIn(line + "\n", text)

    def test_desktop_entry_and_metainfo_validate(self):
        if not shutil.which("desktop-file-validate"):
            self.skipTest("desktop-file-validate is not installed")
        subprocess.run(["desktop-file-validate", self.path(f"share/applications/{APP_ID}.desktop")],
                       check=True)
        if shutil.which("appstreamcli"):
            subprocess.run(["appstreamcli", "validate", "--no-net",
                            self.path(f"share/metainfo/{APP_ID}.metainfo.xml")],
                           check=True, stdout=subprocess.DEVNULL)

    def test_help_and_version_need_no_display(self):
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        env["QT_QPA_PLATFORM"] = "xcb"  # would fail at once if a window were attempted
        program = self.path("bin/vorlan")
        helped = subprocess.run([program, "--help"], env=env, capture_output=True, text=True,
                                timeout=10)
        self.assertEqual(helped.returncode, 0, helped.stderr)
        self.assertIn("Usage: vorlan [PORT]", helped.stdout)
        versioned = subprocess.run([program, "--version"], env=env, capture_output=True,
                                   text=True, timeout=10)
        self.assertEqual((versioned.returncode, versioned.stdout), (0, f"Vorlan {VERSION}\n"))


if __name__ == "__main__":
    # A skip exits with 77, which ctest shows as "Not Run" rather than as a pass.
    result = unittest.main(exit=False).result
    sys.exit(1 if not result.wasSuccessful() else 77 if result.skipped else 0)
