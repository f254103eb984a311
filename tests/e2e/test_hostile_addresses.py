"""A network added to the host while the program runs: requests naming its broadcast address
are not answered from then on, and are again once it is gone, without a restart.
Run as: python3 test_hostile_addresses.py <path-to-vorlan>"""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import netlab  # noqa: E402
from peer import header  # noqa: E402

PORT = 8888


class AddedNetworkTest(netlab.LabTest):
    """The program in host 1, a scripted peer in host 2; a second network joins them later."""

    def test_a_network_added_later_is_refused_and_accepted_again_once_removed(self):
        host = self.lab.host(1)
        # Like many hosts, host 1 checks no reverse path: a datagram from an address that is a
        # broadcast address on another network of its own comes in.
        code, _out, err = host.run(["sysctl", "-q", "-w", "net.ipv4.conf.all.rp_filter=0",
                                    "net.ipv4.conf.eth0.rp_filter=0"])
        self.assertEqual(code, 0, err)
        peer = self.start_peer(2, PORT)
        self.start_vorlan(1, port=PORT)
        address = host.address
        peer.expect_code("201", source=address)

        broadcast = self.lab.add_network([1, 2])  # eth1 in both hosts
        time.sleep(0.5)
        for code in ("500", "405"):
            # From the broadcast address itself, as the header says.
            peer.spoof(header(code, broadcast), address, broadcast)
        peer.send(header("405", peer.address), address)
        peer.expect_code("406", source=address, destination=peer.address)
        time.sleep(0.5)
        self.assertEqual(peer.all(lambda d: d.destination == broadcast), [],
                         "a reply went to the whole new network")
        self.assertEqual(peer.errors, [])

        # Gone again, the address is a unicast address on the first segment like any other:
        # the reply leaves there, and the host asks who holds it.
        prefix = self.lab.subnet.rsplit(".", 1)[0]
        netlab._ip("-n", host.namespace, "addr", "del", prefix + ".1.1/24", "dev", "eth1")
        time.sleep(0.5)
        peer.spoof(header("405", broadcast), address, broadcast)
        deadline = time.monotonic() + 10
        while not netlab._ip("-n", host.namespace, "neigh", "show", "to", broadcast,
                             "dev", "eth0").stdout.strip():
            if time.monotonic() > deadline:
                self.fail("no reply went to the former broadcast address")
            time.sleep(0.1)


if __name__ == "__main__":
    netlab.main()
