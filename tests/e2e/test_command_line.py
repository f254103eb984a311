"""The command line, row by row: an option that is not --help, --version or one of Qt's own is
refused with the usage on standard error and status 2, before any display or socket; Qt's options
reach Qt; a port, negative ones included, is read as always.
Run as: python3 test_command_line.py <path-to-vorlan>"""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import netlab  # noqa: E402

USAGE = "Usage: vorlan [PORT]"
PORT_OUT_OF_RANGE = "ポート番号は1から65535の範囲で指定してください。"
# No display at all: a refusal that waited for Qt would end with Qt's own failure instead.
NO_DISPLAY = {"QT_QPA_PLATFORM": "xcb"}

REFUSED = [
    (["--verbose"], NO_DISPLAY),
    (["-v"], NO_DISPLAY),
    (["-"], NO_DISPLAY),
    (["9000", "--port=9001"], NO_DISPLAY),
    (["-platform", "offscreen", "-x"], NO_DISPLAY),
    # Qt's on X11 only: the offscreen platform leaves it, and then it is refused.
    (["-title", "chat", "9000"], {}),
]
ANSWERED = [
    (["--help"], 0, USAGE),
    (["--version"], 0, "Vorlan 1.2.9"),
    (["-h", "--verbose"], 0, USAGE),
]
# (arguments, the port the program then announces itself on)
RUN = [
    (["-platform", "offscreen", "9000"], 9000),
    (["--style", "Fusion", "-reverse"], 8888),
    (["-stylesheet=", "9000"], 9000),
]


class CommandLineTest(netlab.LabTest):
    """The program in host 1; scripted peers on ports 8888 and 9000 in host 2."""

    def setUp(self):
        super().setUp()
        self.address = self.lab.host(1).address
        self.peers = {port: self.start_peer(2, port) for port in (8888, 9000)}

    def heard(self):
        return [d for peer in self.peers.values() for d in peer.received
                if d.source == self.address]

    def test_options_that_are_not_the_programs_or_qts_are_refused_before_any_socket(self):
        for args, env in REFUSED:
            with self.subTest(args=args):
                program = self.start_vorlan(1, args=args, env=env, label="refused")
                self.assertEqual(program.wait_exit(10), 2, program.stderr_text())
                program.terminate()
                self.assertIn(USAGE, program.lines)
        time.sleep(0.3)
        self.assertEqual(self.heard(), [], "a refused command line still sent something")

    def test_help_and_version_answer_on_standard_output(self):
        for args, code, first_line in ANSWERED:
            with self.subTest(args=args):
                returncode, out, err = self.lab.host(1).run(
                    [netlab.LabTest.binary, *args], env=dict(os.environ, **NO_DISPLAY),
                    timeout=10)
                self.assertEqual((returncode, err), (code, b""))
                self.assertEqual(out.decode().splitlines()[0], first_line)

    def test_qts_options_reach_qt_and_the_rest_is_the_port(self):
        for args, port in RUN:
            with self.subTest(args=args):
                program = self.start_vorlan(1, args=args, label="run")
                self.peers[port].expect_code("201", source=self.address)
                self.assertTrue(program.alive(), program.stderr_text())
                self.assertEqual(program.terminate(), 0, program.stderr_text())
        # A negative number is a port, refused for its range as before.
        program = self.start_vorlan(1, args=["-5"], label="negative")
        self.assertTrue(program.wait_stderr(PORT_OUT_OF_RANGE), program.stderr_text())
        self.assertNotIn(USAGE, program.lines)
        self.assertEqual(program.terminate(), 2)


if __name__ == "__main__":
    netlab.main()
