"""The automatic away on a real X server (Xvfb, whose screen-saver extension tells the idle time):
with OPT/AutoAway=1 a peer is told the user is away a minute after the last input, and back
within seconds of a key pressed on that display. The only test that waits a minute; it runs
beside the others. Run as: python3 test_auto_away.py <path-to-vorlan>"""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import desktop  # noqa: E402
import netlab  # noqa: E402
from peer import BROADCAST, header  # noqa: E402

PORT = 8888
MINUTE = 60


class AutoAwayTest(netlab.LabTest):
    """The program, its X server and session bus in host 1; a scripted peer in host 2."""

    @classmethod
    def setUpClass(cls):
        desktop.require_commands("Xvfb", "xdotool", "dbus-daemon")
        super().setUpClass()

    def setUp(self):
        super().setUp()
        self.peer = self.start_peer(2, PORT)
        self.session = desktop.Session(self.lab.host(1))
        self.addCleanup(self.session.close)
        # No input reaches the server from its start on: the idle time counts from here at most.
        self.quiet_since = time.monotonic()
        self.session.start_xvfb()
        self.session.start_bus()

    def desk_notice(self, flag, timeout):
        address = self.lab.host(1).address
        return self.peer.expect(lambda d: d.code == "402" and d.source == address
                                and d.message.flag == flag, timeout=timeout,
                                what="a DeskNotice with flag %s" % flag)

    def test_idle_for_the_minutes_is_away_and_a_key_comes_back(self):
        env = dict(self.session.env, QT_QPA_PLATFORM="xcb")
        vorlan = self.start_vorlan(1, port=PORT, ini=b"[OPT]\r\nUserName=taro\r\nAutoAway=1\r\n",
                                   env=env)
        address = self.lab.host(1).address
        self.peer.expect_code("201", source=address)
        self.peer.send(header("201", self.peer.address), BROADCAST)
        self.peer.expect_code("202", source=address)

        away = self.desk_notice("1", timeout=MINUTE + 40)
        self.assertGreaterEqual(away.arrived - self.quiet_since, MINUTE - 1,
                                "away before a minute without input")
        self.assertEqual(away.message.user, "taro")
        self.assertEqual(self.peer.all(lambda d: d.code == "402" and d.message.flag == "0"), [])

        pressed = time.monotonic()
        code, _out, err = self.session.run(["xdotool", "key", "shift"])
        self.assertEqual(code, 0, err)
        back = self.desk_notice("0", timeout=15)
        self.assertLess(back.arrived - pressed, 10, "back only after %.1f s" % (back.arrived - pressed))
        self.assertTrue(vorlan.alive(), vorlan.stderr_text())
        self.assertEqual(vorlan.terminate(), 0, vorlan.stderr_text())


if __name__ == "__main__":
    netlab.main()
