"""A host on two networks: its announcement goes to both, and peers on either find it.
Run as: python3 test_networks.py <path-to-vorlan>"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import netlab  # noqa: E402
from peer import BROADCAST, header  # noqa: E402

PORT = 8888


class TwoNetworksTest(netlab.LabTest):
    hosts = 3
    default_route = False

    def test_a_host_on_two_networks_is_found_on_both(self):
        # Host 1 spans both segments; host 2 is on the first only, host 3 on the second only.
        # No gateway anywhere: the broadcasts alone must find the peers.
        second_broadcast = self.lab.add_network([1, 3])
        self.lab.move_to_network(3, 1)
        first, second = self.start_peer(2, PORT), self.start_peer(3, PORT)
        self.start_vorlan(1, port=PORT)
        address = self.lab.host(1).address

        first.expect_code("201", source=address, destination=BROADCAST)
        join = second.expect_code("201", destination=second_broadcast)
        self.assertIn(",%s," % address, join.text, "the Join names the host's own address")
        for peer in (first, second):
            # Answers leave by the routing table, from the address of the way they take.
            peer.send(header("405", peer.address), address)
            reply = peer.expect_code("406").message
            self.assertEqual((reply.address, reply.payload), (address, "V1.2.9"))
        self.assertEqual(first.all(lambda d: d.code == "201"
                                   and d.destination == second_broadcast), [],
                         "the second network's broadcast stays on the second network")


if __name__ == "__main__":
    netlab.main()
