"""A hostile host on the segment: what one datagram makes the program send, store or show.
Each test prints the bytes out per byte in that the attack gets.
Run as: python3 test_hostile.py <path-to-vorlan> (vorlan-driver must stand beside it)."""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import netlab  # noqa: E402
from peer import BROADCAST, header  # noqa: E402
from test_requests import Driven  # noqa: E402

PORT = 8888
REQUESTS = ("500", "405", "201", "203")


def log_bytes(folder):
    return sum(os.path.getsize(os.path.join(folder, name)) for name in os.listdir(folder))


class HostileHostTest(netlab.LabTest):
    """The program in host 1, the attacker in host 2, a bystander in host 3, a program driven by
    the test in host 4 where one is needed."""
    hosts = 4

    def setUp(self):
        super().setUp()
        self.address = self.lab.host(1).address
        self.attacker = self.start_peer(2, PORT)
        self.bystander = self.start_peer(3, PORT)
        self.log = self.lab.tempdir("log")
        self.program = self.start_vorlan(
            1, port=PORT, ini=("[OPT]\r\nLogChk=1\r\nLogDir=%s\r\n" % self.log).encode())
        self.attacker.expect_code("201", source=self.address)
        self.bystander.expect_code("201", source=self.address)
        # Something to show in a past log: a few kilobytes of ordinary lines.
        for n in range(40):
            self.attacker.send(header("100", self.attacker.address) + ",line %02d " % n + "x" * 80,
                               self.address)
        self.answered()

    def answered(self, peer=None):
        """The program has handled everything the peer sent before: it answers a request."""
        peer = peer or self.attacker
        peer.send(header("405", peer.address), self.address)
        peer.expect_code("406", source=self.address, destination=peer.address)

    def answered_by(self, address, timeout=20):
        """The program at address has handled what the attacker sent before: it answers a
        request, sent again every two seconds in case a full socket buffer dropped it."""
        deadline = time.monotonic() + timeout
        while True:
            self.attacker.send(header("405", self.attacker.address), address)
            try:
                self.attacker.expect_code("406", source=address, timeout=2)
                return
            except AssertionError:
                if time.monotonic() >= deadline:
                    raise

    def sent_to_bystander(self):
        return self.bystander.all(lambda d: d.source == self.address and d.code != "201")

    def report(self, what, bytes_in, bytes_out):
        print("\n%s: %d bytes in, %d bytes out (x%.2f)" % (what, bytes_in, bytes_out,
                                                           bytes_out / max(1, bytes_in)))

    def test_requests_naming_a_third_party_are_not_answered_there(self):
        # Headers naming the bystander, from the attacker's own address: nothing goes anywhere.
        bytes_in = 0
        for _ in range(20):
            for code in REQUESTS:
                text = header(code, self.bystander.address)
                self.attacker.send(text, self.address)
                bytes_in += len(text)
        self.answered()
        self.assertEqual(self.sent_to_bystander(), [])
        self.report("requests naming a third party", bytes_in, 0)

        # The same with the bystander's address forged as the source: the budget answers a few.
        bytes_in = 0
        started = time.monotonic()
        for _ in range(100):
            text = header("500", self.bystander.address)
            self.attacker.spoof(text, self.address, self.bystander.address)
            bytes_in += len(text)
        self.answered()
        elapsed = time.monotonic() - started
        time.sleep(0.5)
        replies = self.sent_to_bystander()
        bytes_out = sum(len(d.data) for d in replies)
        self.report("past-log requests with a forged source", bytes_in, bytes_out)
        self.assertGreater(len(replies), 0, "the forged requests never arrived: the test missed")
        self.assertLessEqual(len(replies), 4 * (int(elapsed) + 1), replies)

    def test_a_request_naming_the_program_itself_is_not_answered(self):
        # Only this host can send from the program's own address: another program on it.
        before = log_bytes(self.log)
        request = header("500", self.address).encode("cp932")
        code, _out, err = self.lab.host(1).run([
            sys.executable, "-c",
            "import socket, sys\n"
            "s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
            "s.bind((sys.argv[1], 0))\n"
            "for _ in range(50):\n"
            "    s.sendto(bytes.fromhex(sys.argv[2]), (sys.argv[1], %d))" % PORT,
            self.address, request.hex()])
        self.assertEqual(code, 0, err)
        self.answered()
        grown = log_bytes(self.log) - before
        self.report("past-log requests naming the program", 50 * len(request), grown)
        self.assertLess(grown, 1000, "the program logged its own past log again")

    def test_joins_naming_made_up_addresses_add_no_rows(self):
        driven = Driven(self.lab.host(4))
        self.addCleanup(driven.close)
        self.attacker.send(header("201", self.attacker.address), BROADCAST)
        driven.wait_rows(lambda rows: self.attacker.address in rows, "the attacker is listed")
        target = self.lab.host(4).address
        for n in range(10000):
            made_up = "%s.%d.%d" % (self.lab.subnet.rsplit(".", 1)[0], 100 + n // 250, n % 250 + 1)
            self.attacker.send(header("201", made_up), target)
            if n % 500 == 499:
                # A round trip per 500 keeps them within what the socket's buffer holds.
                self.answered_by(target)
        rows = driven.rows()
        self.assertEqual(set(rows), {self.lab.host(4).address, self.address, self.attacker.address})

    def test_control_characters_cannot_forge_lines_in_the_log_or_a_past_log(self):
        forged = "\r\n10:00:00 boss->\tfake\x00\n"
        self.attacker.send(header("100", self.attacker.address, user="ta\r\nro") + ",hi" + forged,
                           self.address)
        self.answered()
        self.attacker.send(header("500", self.attacker.address), self.address)
        past = self.attacker.expect_code("501", source=self.address).message.payload
        self.assertFalse(any(line.startswith("10:00:00 boss") for line in past.split("\r\n")), past)
        self.assertEqual(past.count("\n"), past.count("\r\n"))
        self.assertEqual(self.program.terminate(), 0)
        with open(os.path.join(self.log, os.listdir(self.log)[0]), "rb") as file:
            lines = file.read().decode("cp932", errors="replace").split("\r\n")
        forged_lines = [line for line in lines if "boss->" in line]
        self.assertEqual(len(forged_lines), 1, forged_lines)
        self.assertRegex(forged_lines[0], r"^\d\d:\d\d:\d\d ta\?\?ro->\thi\?\?10:00:00 boss->\tfake\?\?$")
        self.assertFalse(any("\n" in line or "\r" in line for line in lines))


if __name__ == "__main__":
    netlab.main()
