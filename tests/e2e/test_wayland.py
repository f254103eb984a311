"""The program as a native Wayland client under Weston (headless backend): the window maps, a
received line shows and raises the alert (attention request and desktop notification) without
an error, and a line typed into the compose box is sent. Run as: python3 test_wayland.py
<path-to-vorlan> (vorlan-driver must stand beside it)."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import desktop  # noqa: E402
import netlab  # noqa: E402
from peer import BROADCAST, header  # noqa: E402

PORT = 8888


class WaylandTest(netlab.LabTest):
    """The driven program, Weston and a session bus in host 1; a scripted peer in host 2."""

    @classmethod
    def setUpClass(cls):
        desktop.require_commands("weston", "dbus-daemon", "dbus-monitor")
        super().setUpClass()

    def setUp(self):
        super().setUp()
        self.peer = self.start_peer(2, PORT)
        self.session = desktop.Session(self.lab.host(1))
        self.addCleanup(self.session.close)
        self.session.start_weston()
        self.session.start_bus()
        self.monitor = self.session.popen(["dbus-monitor", "--session",
                                           "interface='org.freedesktop.Notifications'"],
                                          log="notifications")
        # Watching once it has given up its name to become a monitor.
        desktop.wait_until(lambda: "member=NameLost" in self.session.log_text(),
                           "the bus monitor")

    def test_chats_as_a_native_wayland_client(self):
        # Qt's own Wayland input method asks the seat for its text input, and a headless
        # compositor has no seat; the compose module stands for a desktop's input method, as
        # QT_IM_MODULE chooses one there.
        program = desktop.Driven(self.session, PORT, ini="[POSITION]\nX=1500\nY=1200\n",
                                 env={"QT_QPA_PLATFORM": "wayland", "QT_IM_MODULE": "compose"})
        address = self.lab.host(1).address
        self.peer.expect_code("201", source=address)
        self.peer.send(header("201", self.peer.address), BROADCAST)
        self.peer.expect_code("202", source=address)
        program.wait_state("window", lambda s: s["platform"] == "wayland" and s["exposed"],
                           "the window mapped by the compositor")

        # The window counts as active from the start: a line raises it.
        self.peer.send(header("100", self.peer.address) + ",こんにちは", address)
        # Inactive (the hidden test button), the next line blinks, asks for attention and
        # shows a notification.
        program.answer("click comTest", "clicked")
        self.peer.send(header("100", self.peer.address) + ",お知らせ", address)
        self.peer.send(header("500", self.peer.address), address)
        shown = self.peer.expect_code("501", source=address).message.payload
        self.assertIn(" peer->\tこんにちは\r\n", shown)
        self.assertIn(" peer->\tお知らせ\r\n", shown)
        desktop.wait_until(lambda: 'string "お知らせ"' in self.session.log_text(),
                           "the notification asked for on the session bus")

        program.answer("type 会議は三時から", "typed")
        program.answer("enter", "entered")
        chat = self.peer.expect_code("100", source=address)
        self.assertEqual(chat.message.payload, "会議は三時から")
        self.assertTrue(program.state("window")["exposed"])
        with open(os.path.join(self.session.folder, "driven.log"), encoding="utf-8") as log:
            complaints = [line for line in log if "wayland" in line.lower()]
        self.assertEqual(complaints, [], "the Wayland client complained")

        # The compositor placed the window: the position stored for other sessions is kept.
        self.assertEqual(program.terminate(), 0)
        with open(os.path.join(program.folder, "Vorlan.ini"), encoding="cp932") as ini:
            position = ini.read().split("[POSITION]")[1]
        self.assertRegex(position, r"^\nX=1500\nY=1200\nW=\d+\nH=\d+\n")

if __name__ == "__main__":
    netlab.main()
