"""The README's pictures can still be made: scripts/screenshots, run into a temporary folder with
the program under test, makes every picture the README shows, each the size of the one committed
and none of them blank. Run as: python3 test_screenshots.py <path-to-vorlan>"""

import collections
import os
import re
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import desktop  # noqa: E402
import netlab  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
COMMITTED = os.path.join(ROOT, "docs", "screenshots")
# Title bars follow the fonts a machine has; the windows themselves are laid out in twips.
SLACK = 16


def measure(path):
    """Width, height, the number of colours and the share of the pixels the commonest takes."""
    out = subprocess.run(["identify", "-format", "%w %h", path], capture_output=True, text=True,
                         check=True).stdout
    pixels = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], capture_output=True,
                            check=True).stdout
    counts = collections.Counter(pixels[i:i + 3] for i in range(0, len(pixels), 3))
    width, height = (int(word) for word in out.split())
    return width, height, len(counts), counts.most_common(1)[0][1] * 3 / len(pixels)


class ScreenshotsTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        desktop.require_commands("Xvfb", "xdotool", "openbox", "import", "identify", "convert",
                                 "dbus-daemon")
        netlab.require_privilege()

    def test_the_script_makes_every_picture_the_readme_shows(self):
        with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as readme:
            shown = re.findall(r"docs/screenshots/([\w-]+\.png)", readme.read())
        self.assertGreaterEqual(len(shown), 4, "the README shows no pictures")
        with tempfile.TemporaryDirectory() as output:
            result = subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "screenshots"),
                                     "--build", os.path.dirname(netlab.LabTest.binary), output],
                                    capture_output=True, text=True, timeout=240)
            self.assertEqual(result.returncode, 0, result.stderr[-4000:])
            for name in shown:
                with self.subTest(picture=name):
                    made = os.path.join(output, name)
                    self.assertTrue(os.path.exists(made), "not made")
                    width, height, colours, commonest = measure(made)
                    committed = measure(os.path.join(COMMITTED, name))
                    self.assertLessEqual(abs(width - committed[0]), SLACK, (width, height))
                    self.assertLessEqual(abs(height - committed[1]), SLACK, (width, height))
                    # A window with its text and controls, not an empty or black rectangle.
                    self.assertGreater(colours, 100)
                    self.assertLess(commonest, 0.8)


if __name__ == "__main__":
    netlab.main()
