"""A peer whose every reply fails: on a segment without a default route, VersionRequests that name
an address beyond it make every VersionReply fail with "network unreachable". The program shows
one box, keeps answering, and still ends on SIGTERM.
Run as: python3 test_flood.py <path-to-vorlan>"""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import netlab  # noqa: E402
from peer import header  # noqa: E402

PORT = 8888
UNREACHABLE = "send:リモートホストのネットワークに接続できない。"
FLOOD = 4000
BATCH = 250


class FailingRepliesTest(netlab.LabTest):
    default_route = False

    def test_a_flood_of_failing_replies_leaves_the_program_answering(self):
        peer = self.start_peer(2, PORT)
        vorlan = self.start_vorlan(1, port=PORT)
        address = self.lab.host(1).address
        peer.expect_code("201", source=address)

        def failures():
            return vorlan.stderr_text().count(UNREACHABLE)

        request = header("405", "1.2.3.4", user="x", host="h", start="t")
        for sent in range(BATCH, FLOOD + 1, BATCH):
            for _ in range(BATCH):
                # From the address the header names: a host that forges its source.
                peer.spoof(request, address, "1.2.3.4")
            # Paced so that the socket's buffer holds what the program has not read yet, and
            # the replies stay within the program's reply budget (64 KB a second): past it,
            # requests are dropped unanswered, and no reply fails.
            time.sleep(0.25)
            deadline = time.monotonic() + 10
            while failures() < sent * 9 // 10 and vorlan.alive() and time.monotonic() < deadline:
                time.sleep(0.02)
            self.assertTrue(vorlan.alive(), "ended after %d failures" % failures())
        self.assertGreaterEqual(failures(), FLOOD * 9 // 10)

        # The first failure's box is still open, and the program answers a real peer.
        peer.send(header("405", peer.address), address)
        self.assertEqual(peer.expect_code("406", source=address).message.payload, "V1.2.9")
        self.assertEqual(vorlan.terminate(), 0, "the open box held the exit")


if __name__ == "__main__":
    netlab.main()
