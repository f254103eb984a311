"""What a peer can make of the conversation view: a past-log request never carries away part of
a private line, and a flood of the longest chat lines leaves the program's memory bounded.
Run as: python3 test_hostile_view.py <path-to-vorlan>"""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import netlab  # noqa: E402
from peer import header  # noqa: E402

PORT = 8888
SCAN = 8192  # how much of the conversation's end a past-log reply looks at
FLOOD_LINES = 200000
FLOOD_PACE = 20000  # lines a second: more than the program takes in, so it runs flat out
LONGEST = 4094
MEMORY_LIMIT = 150 * 1024 * 1024


def udp_datagrams_in(host):
    """How many UDP datagrams the host's kernel has handed to its sockets."""
    _code, out, _err = host.run(["cat", "/proc/net/snmp"])
    names, values = [line.split() for line in out.decode().splitlines() if line.startswith("Udp:")][:2]
    return int(values[names.index("InDatagrams")])


def peak_resident_bytes(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    raise AssertionError("no VmHWM for process %d" % pid)


class HostileViewTest(netlab.LabTest):
    """The program in host 1 (logging off), a scripted peer in host 2."""

    def setUp(self):
        super().setUp()
        self.address = self.lab.host(1).address
        self.peer = self.start_peer(2, PORT)
        self.program = self.start_vorlan(1, port=PORT, ini=b"[OPT]\r\nLogChk=0\r\n")
        self.peer.expect_code("201", source=self.address)

    def send(self, code, payload):
        self.peer.send(header(code, self.peer.address) + "," + payload, self.address)

    def answers(self, timeout=30):
        """The program answers a version request; sent again every two seconds, since behind a
        flood the socket's buffer may have had no room for it."""
        deadline = time.monotonic() + timeout
        while True:
            self.peer.send(header("405", self.peer.address), self.address)
            try:
                return self.peer.expect_code("406", source=self.address, destination=self.peer.address,
                                             timeout=min(2, max(0.1, deadline - time.monotonic())))
            except AssertionError:
                if time.monotonic() >= deadline:
                    raise

    def test_a_private_line_across_the_scans_start_stays_out_of_the_past_log(self):
        for n in range(80):
            self.send("100", "an ordinary line %02d " % n + "o" * 90)
        # Shown as "hh:mm:ss[peer]->\t" + payload + CR LF.
        secret = "".join("secret%04d " % n for n in range(155))
        secret_line = 17 + len("(To:vorlan) " + secret) + 2
        self.send("101", "(To:vorlan) " + secret)
        # Then directed lines (never part of a reply, so older text moves up into it) and one
        # ordinary line, so that the scan starts in the middle of the private line.
        last = "the last line"
        after = SCAN - secret_line // 2 - (16 + len(last) + 2)
        while after > 0:
            shown = min(after, 500)
            after -= shown
            self.send("101", "(To:vorlan) " + "f" * max(0, shown - 19 - 12))
        self.send("100", last)
        self.peer.send(header("500", self.peer.address), self.address)

        reply = self.peer.expect_code("501", source=self.address, destination=self.peer.address)
        self.assertTrue(reply.message.payload.endswith(" peer->\t%s\r\n" % last), reply.text)
        self.assertNotIn("secret", reply.text)

    def test_a_flood_of_the_longest_lines_leaves_memory_bounded_and_the_program_answering(self):
        with open("/proc/%d/comm" % self.program.process.pid) as comm:
            self.assertEqual(comm.read().strip(), "vorlan")  # ip netns exec ran it in its place
        line = header("100", self.peer.address) + ","
        line += "x" * (LONGEST - len(line))
        started = time.monotonic()
        before = udp_datagrams_in(self.lab.host(1))
        sent = self.peer.flood(line, self.address, FLOOD_LINES, FLOOD_PACE)
        self.assertGreater(sent, FLOOD_LINES * 9 // 10)
        self.answers()
        taken = udp_datagrams_in(self.lab.host(1)) - before
        peak = peak_resident_bytes(self.program.process.pid)
        print("%d lines sent, %d taken in, in %.1f s; peak resident memory %.1f MB"
              % (sent, taken, time.monotonic() - started, peak / 1048576), file=sys.stderr)
        # Ten times what the view may hold, at least: its bound was reached over and over.
        self.assertGreater(taken, 20000)
        self.assertLess(peak, MEMORY_LIMIT)
        self.assertTrue(self.program.alive())


if __name__ == "__main__":
    netlab.main()
