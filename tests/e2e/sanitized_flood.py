"""A flood of hostile datagrams against the program built with AddressSanitizer and
UndefinedBehaviorSanitizer (build-asan/vorlan): every header names the scripted peer that sends
it, as the address it comes from, so that each passes the receiver's checks and goes through the
whole dispatch. Any report of the sanitizers ends the program with a failure and fails the test.
Run as: python3 sanitized_flood.py <path-to-the-sanitized-vorlan>"""

import os
import random
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import netlab  # noqa: E402
from peer import header  # noqa: E402

PORT = 8888
CHUNKS = 6
PER_CHUNK = 800

CODES = ["100", "101", "201", "202", "203", "301", "402", "404", "405", "406", "500", "501"]
# Field and list separators, line breaks of every kind, a zero byte (one ends nothing, two end
# the text), markup, format directives, a terminal escape, and characters whose second byte in
# code page 932 is a backslash, "[", "]" or "|".
NASTY = ["a,b", ",", "\t", "\r\n", "\r", "\n", "\x00", "\x00\x00", "<b>x</b>",
         '<img src="file:///etc/passwd">', "%s%n", "&amp;", "\x1b[2J", "ｱ", "表", "ソ", "ー", "ゾ", "ポ"]
# The receiver drops datagrams past this size.
LARGEST_TAKEN = 4096

# A report makes the program abort at once, so the test cannot miss it; leaks are reported when
# it ends on SIGTERM (the toolkit leaves none behind there today).
SANITIZER_ENV = {
    "ASAN_OPTIONS": "halt_on_error=1:abort_on_error=1:detect_leaks=1:detect_stack_use_after_return=1"
                    ":strict_init_order=1:check_initialization_order=1",
    "UBSAN_OPTIONS": "halt_on_error=1:abort_on_error=1:print_stacktrace=1",
}
REPORTS = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:", "SUMMARY: ")


def nasty(rng, count):
    return "".join(rng.choice(NASTY) for _ in range(count))


def hostile_datagrams(rng, address, count):
    """Random bytes, empty datagrams, broken code page 932, headers of every code with hostile
    fields or no payload, datagrams just past what the receiver takes up to the largest UDP
    carries, past-log replies and lines full of separators and line breaks; every header names
    address."""
    for _ in range(count):
        kind = rng.randrange(10)
        code = rng.choice(CODES)
        if kind == 0:
            yield rng.randbytes(rng.randrange(1, 1400))
        elif kind == 1:
            yield rng.choice([b"", b"\x00", b"\x00\x00"])
        elif kind == 2:
            yield (header(code, address) + ",").encode() + rng.randbytes(rng.randrange(1, 64)) + \
                bytes([0x81, 0xff, 0x80, 0xa0, 0xfd, 0x82])
        elif kind == 3:
            yield header(code, address, start=rng.choice(["", "25:61:99", nasty(rng, 1)])).encode("cp932")
        elif kind == 4 and rng.randrange(8) == 0:
            size = rng.choice([LARGEST_TAKEN + 1, 48000, 65507])
            start = (header(code, address) + ",").encode()
            yield start + b"x\r\n" * ((size - len(start)) // 3) + b"e" * ((size - len(start)) % 3)
        elif kind == 4:
            # As large as the receiver takes: a past log of many short lines, or one long line.
            line = header(code, address) + "," + rng.choice(["x\r\n", "\t", nasty(rng, 2)]) * 2000
            yield line.encode("cp932")[:LARGEST_TAKEN]
        else:
            text = header(code, address, user=nasty(rng, 3), host=nasty(rng, 2), flag=rng.choice("0123x"))
            yield (text + "," + nasty(rng, rng.randrange(0, 8))).encode("cp932")


class SanitizedFloodTest(netlab.LabTest):
    """The sanitized program in host 1, a scripted peer in host 2."""

    def test_a_hostile_flood_through_the_whole_dispatch_draws_no_sanitizer_report(self):
        with open(netlab.LabTest.binary, "rb") as file:
            self.assertIn(b"AddressSanitizer", file.read(), "not a sanitized build")
        peer = self.start_peer(2, PORT)
        program = self.start_vorlan(1, port=PORT, env=SANITIZER_ENV)
        address = self.lab.host(1).address
        peer.expect_code("201", source=address, timeout=30)

        for chunk in range(CHUNKS):
            for data in hostile_datagrams(random.Random(chunk), peer.address, PER_CHUNK):
                peer.send(data, address)
            self.assertTrue(self.answers(peer, program, address, "chunk %d" % chunk), self.failure(program))
        answered = peer.all(lambda d: d.source == address and d.code in ("202", "406"))
        self.assertTrue(answered, "no request of the flood was answered: it missed the dispatch")

        self.assertEqual(program.terminate(timeout=60), 0, self.failure(program))
        self.assertFalse(self.reports(program), self.failure(program))

    @staticmethod
    def answers(peer, program, address, mark, timeout=60):
        """A line and a request for the past log are answered with a past log that ends in that
        line: everything before it was handled. Replies to the flood's own requests also come to
        the peer, but none holds the mark. Sent again every few seconds, in case a full socket
        buffer dropped them."""
        line = "probe %s %d" % (mark, random.randrange(1 << 30))
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and program.alive():
            peer.send(header("100", peer.address) + "," + line, address)
            peer.send(header("500", peer.address), address)
            try:
                peer.expect(lambda d: d.source == address and d.code == "501" and line in d.text,
                            timeout=min(5, max(0.1, deadline - time.monotonic())), what=line)
                return True
            except AssertionError:
                pass
        return False

    @staticmethod
    def reports(program):
        return [line for line in program.lines if any(report in line for report in REPORTS)]

    @staticmethod
    def failure(program):
        text = program.stderr_text()
        return "exit code %r; stderr ends:\n%s" % (program.process.poll(), text[-6000:])


if __name__ == "__main__":
    netlab.main()
