"""Start-up on a real network: the announcement, the port argument and a port that another program
holds. Run as: python3 test_startup.py <path-to-vorlan>"""

import os
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import netlab  # noqa: E402
from peer import BROADCAST, TIME, header, now_seconds, time_between  # noqa: E402

PORT = 8888
ADDRESS_IN_USE = "bind:指定されたアドレスは使用中。"
PORT_OUT_OF_RANGE = "ポート番号は1から65535の範囲で指定してください。"


class StartupTest(netlab.LabTest):
    def start_peer(self, k, port=PORT):
        return super().start_peer(k, port)

    def assert_answers_version_request(self, peer, address):
        peer.send(header("405", peer.address), address)
        reply = peer.expect_code("406", source=address)
        self.assertEqual(reply.message.payload, "V1.2.9")
        return reply

    # -- the announcement ---------------------------------------------------------------------

    def test_join_is_broadcast_with_empty_name_host_address_and_start_time(self):
        peer = self.start_peer(2)
        before = now_seconds()
        vorlan = self.start_vorlan(1, port=PORT)
        join = peer.expect_code("201", source=self.lab.host(1).address)
        after = now_seconds()

        self.assertEqual(join.destination, BROADCAST, "the Join goes to the limited broadcast")
        match = re.fullmatch(r"201 0,([^,]*),([^,]*),(%s)" % TIME, join.text)
        self.assertIsNotNone(match, "unexpected Join text %r" % join.text)
        host_name, address, start = match.groups()
        self.assertIn(host_name, peer.host_names())
        self.assertEqual(address, self.lab.host(1).address,
                         "the address is that of the interface carrying the default route")
        self.assertTrue(time_between(start, before, after),
                        "start time %s is not the local time of the start" % start)

        # Nothing else was configured: one announcement, and the program then answers requests
        # with the same header, start time unchanged.
        reply = self.assert_answers_version_request(peer, self.lab.host(1).address)
        self.assertEqual(reply.text, "406 0,%s,%s,%s,V1.2.9" % (host_name, address, start))
        self.assertEqual(len(peer.all(lambda d: d.code == "201" and d.source == address)), 1)
        self.assertTrue(vorlan.alive())

    def test_port_argument_chooses_the_port_and_no_argument_means_8888(self):
        on_9000 = self.start_peer(2, port=9000)
        on_8888 = self.start_peer(2, port=PORT)
        self.start_vorlan(1, args=["9000"])
        on_9000.expect_code("201", source=self.lab.host(1).address)
        self.assert_answers_version_request(on_9000, self.lab.host(1).address)
        self.assertEqual(on_8888.all(lambda d: d.source == self.lab.host(1).address), [],
                         "a program on port 9000 sent to port 8888")

        self.start_vorlan(1, args=[], label="default")
        own = on_8888.expect_code("201", source=self.lab.host(1).address)
        self.assertTrue(own.text.startswith("201 0,"))

    # -- failures -----------------------------------------------------------------------------

    def test_a_port_held_by_another_program_reports_the_address_in_use(self):
        peer = self.start_peer(2)
        self.start_peer(1)  # holds the port, and is not a copy of the program to bring forward
        vorlan = self.start_vorlan(1, port=PORT)
        self.assertTrue(vorlan.wait_stderr(ADDRESS_IN_USE),
                        "no address-in-use message; stderr was:\n" + vorlan.stderr_text())
        # The message box holds the program until someone closes it.
        self.assertTrue(vorlan.alive(), "the program ended without waiting for its box")
        self.assertEqual(peer.all(lambda d: d.source == self.lab.host(1).address), [],
                         "the program announced itself on a port it does not have")
        self.assertEqual(vorlan.terminate(), 1, "stderr:\n" + vorlan.stderr_text())

    def test_port_out_of_range_is_refused_before_any_socket(self):
        # 70000 would wrap to 4464 if it were cut to 16 bits.
        watchers = [self.start_peer(2, port=PORT), self.start_peer(2, port=70000 - 65536)]
        vorlan = self.start_vorlan(1, args=["70000"])
        self.assertTrue(vorlan.wait_stderr(PORT_OUT_OF_RANGE),
                        "no port-range message; stderr was:\n" + vorlan.stderr_text())
        self.assertNotIn(ADDRESS_IN_USE, vorlan.lines)

        # Its own ports are still free: peers bind them in the same host.
        local = [self.start_peer(1, port=PORT), self.start_peer(1, port=70000 - 65536)]
        deadline = time.monotonic() + 0.5
        while time.monotonic() < deadline:
            for watcher in watchers + local:
                self.assertEqual(watcher.all(lambda d: d.source == self.lab.host(1).address), [],
                                 "a refused port argument still sent something")
            time.sleep(0.05)

        # SIGTERM closes the box; the program then ends with the code of the refusal.
        self.assertEqual(vorlan.terminate(), 2, "stderr:\n" + vorlan.stderr_text())

class StartupWithoutGatewayTest(StartupTest):
    """The same on a segment with no default route: broadcasts still leave by its interface."""
    default_route = False


if __name__ == "__main__":
    netlab.main()
