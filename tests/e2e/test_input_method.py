"""Japanese typed through an input method (fcitx5 with Mozc) on a real X server: the preedit shows
in the compose box, the Enter that commits the conversion only commits it, and the next Enter
sends the converted text whole. Run as: python3 test_input_method.py <path-to-vorlan>
(vorlan-driver must stand beside it)."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import desktop  # noqa: E402
import netlab  # noqa: E402
from peer import BROADCAST, header  # noqa: E402

PORT = 8888
MOZC_SERVER = "/usr/lib/mozc/mozc_server"

# Mozc as the only input method besides the plain layout, switched on in every new input field.
PROFILE = """[Groups/0]
Name=Default
Default Layout=us
DefaultIM=mozc

[Groups/0/Items/0]
Name=keyboard-us
Layout=

[Groups/0/Items/1]
Name=mozc
Layout=

[GroupOrder]
0=Default
"""
CONFIG = """[Behavior]
ActiveByDefault=True
"""


class InputMethodTest(netlab.LabTest):
    """The driven program, its X server, session bus and input method in host 1; a scripted peer
    in host 2. Mozc's server refuses to run as root, so the session belongs to `nobody`."""

    @classmethod
    def setUpClass(cls):
        desktop.require_commands("Xvfb", "xdotool", "fcitx5", "fcitx5-remote", "dbus-daemon",
                                 "setpriv", MOZC_SERVER)
        super().setUpClass()

    def setUp(self):
        super().setUp()
        self.peer = self.start_peer(2, PORT)
        self.session = desktop.Session(self.lab.host(1), user="nobody")
        self.addCleanup(self.session.close)
        self.session.start_xvfb()
        self.session.start_bus()
        self.session.write(".config/fcitx5/profile", PROFILE)
        self.session.write(".config/fcitx5/config", CONFIG)
        self.session.popen(["fcitx5", "--keep"], log="fcitx5")
        desktop.wait_until(lambda: self.remote() is not None, "fcitx5 on the session bus")

    def remote(self, *args):
        code, out, _err = self.session.run(["fcitx5-remote", *args])
        return out.strip() if code == 0 else None

    def key(self, *keys):
        code, _out, err = self.session.run(["xdotool", *keys])
        self.assertEqual(code, 0, err)

    def test_the_enter_that_commits_a_conversion_does_not_send(self):
        program = desktop.Driven(self.session, PORT, env={"QT_QPA_PLATFORM": "xcb",
                                                           "QT_IM_MODULE": "fcitx"})
        address = self.lab.host(1).address
        self.peer.expect_code("201", source=address)
        self.peer.send(header("201", self.peer.address), BROADCAST)
        self.peer.expect_code("202", source=address)

        program.answer("focus", "focused")
        program.wait_state("window", lambda s: s["active"] and s["focus"] == "txtSend",
                           "the compose box in the active window")
        desktop.wait_until(lambda: self.remote("-n") == "mozc", "Mozc for the compose box")

        self.key("type", "--delay", "30", "kaigi")
        program.wait_state("compose", lambda s: s == {"text": "", "preedit": "かいぎ"},
                           "the reading shown in place")
        self.key("key", "space")
        program.wait_state("compose", lambda s: s == {"text": "", "preedit": "会議"},
                           "the conversion shown in place")
        self.key("key", "Return")
        program.wait_state("compose", lambda s: s == {"text": "会議", "preedit": ""},
                           "the conversion committed to the compose box")
        self.assertEqual(self.peer.all(lambda d: d.code in ("100", "101")), [],
                         "the Enter that committed the conversion sent a line")

        self.key("key", "Return")
        chat = self.peer.expect_code("100", source=address)
        self.assertEqual(chat.message.payload, "会議")
        self.assertEqual(program.state("compose"), {"text": "", "preedit": ""})
        self.assertEqual(len(self.peer.all(lambda d: d.code in ("100", "101"))), 1)


if __name__ == "__main__":
    netlab.main()
