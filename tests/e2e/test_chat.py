"""Three programs on one segment: discovery by broadcast, the replies they give a scripted peer
(join, version, past log) and the leave notice. Run as: python3 test_chat.py <path-to-vorlan>"""

import os
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import netlab  # noqa: E402
from peer import BROADCAST, TIME, header, now_seconds, time_between  # noqa: E402

PORT = 8888
JOINED = "が参加しました。"
LEFT = "が退席しました。"


def past_log_start(address):
    return "\t---過去のログ受信 開始 (%sより)---" % address


def past_log_end(address):
    return "\t---過去のログ受信 終了 (%sより)---" % address


class ThreeProgramsTest(netlab.LabTest):
    """Programs in hosts 1 to 3, started one after another; the scripted peer sits in host 4."""

    hosts = 4

    def setUp(self):
        super().setUp()
        self.peer = self.start_peer(4, PORT)
        self.addresses = [self.lab.host(k).address for k in (1, 2, 3)]
        self.me = self.peer.address
        self.before = now_seconds()
        self.programs = []
        self.joins = []
        for k, address in zip((1, 2, 3), self.addresses):
            program = self.start_vorlan(k, port=PORT, label="h%d" % k)
            self.programs.append(program)
            # Each one announces itself before the next starts.
            self.joins.append(self.peer.expect_code("201", source=address))
        self.host_name = self.joins[0].message.host
        # Programs 2 and 3 are settled once the first JoinReply they got led to a past log.
        self.asked = {k: self.wait_for_past_log(k) for k in (2, 3)}

    def wait_for_past_log(self, k, timeout=10):
        """Polls program k until its view shows a received past log; returns the address it came
        from."""
        deadline = time.monotonic() + timeout
        while True:
            payload = self.past_log(k)
            asked = re.search(r"\t---過去のログ受信 開始 \(([\d.]+)より\)---\r\n", payload)
            if asked:
                return asked.group(1)
            self.assertLess(time.monotonic(), deadline,
                            "program %d showed no past log: %r" % (k, payload))
            time.sleep(0.05)

    def start_time(self, k):
        return self.joins[k - 1].message.time

    def join_network(self):
        """The peer announces itself; every program lists it and answers with a JoinReply."""
        self.peer.send(header("201", self.me), BROADCAST)
        return {address: self.peer.expect_code("202", source=address) for address in self.addresses}

    def past_log(self, k):
        """Asks program k for its recent conversation; returns the 501 payload."""
        self.peer.send(header("500", self.me), self.addresses[k - 1])
        reply = self.peer.expect_code("501", source=self.addresses[k - 1])
        self.assertEqual(reply.destination, self.me)
        self.assertEqual(reply.text.split(",", 4)[:4],
                         ["501 0", self.host_name, self.addresses[k - 1], self.start_time(k)])
        return reply.message.payload

    def assert_lines(self, payload):
        self.assertTrue(payload.endswith("\r\n"), "past log %r does not end a line" % payload)
        lines = payload[:-2].split("\r\n")
        after = now_seconds()
        for line in lines:
            if line.startswith("\t---"):
                continue
            stamp = line[:8]
            self.assertTrue(time_between(stamp, self.before, after),
                            "line %r does not start with the local time" % line)
        return lines

    # -- discovery ----------------------------------------------------------------------------

    def test_each_program_broadcasts_one_join_and_learns_of_the_others(self):
        after = now_seconds()
        for join, address in zip(self.joins, self.addresses):
            self.assertEqual(join.destination, BROADCAST)
            self.assertRegex(join.text, r"^201 0,%s,%s,%s$" % (
                re.escape(self.host_name), re.escape(address), TIME))
            self.assertTrue(time_between(join.message.time, self.before, after))

        # Program 1 saw its own Join and the two later ones: three join lines for the host.
        first = self.assert_lines(self.past_log(1))
        self.assertEqual([line[8:] for line in first], ["\t" + self.host_name + JOINED] * 3)

        # Programs 2 and 3 were answered by an earlier one and asked it for its past log: the
        # first answer only.
        self.assertEqual(self.asked[2], self.addresses[0])
        second = self.assert_lines(self.past_log(2))
        self.assertEqual(second.count(past_log_start(self.addresses[0])), 1, second)
        self.assertEqual(second.count(past_log_end(self.addresses[0])), 1, second)
        self.assertIn(self.asked[3], self.addresses[:2])
        third = self.assert_lines(self.past_log(3))
        self.assertEqual(third[1], past_log_start(self.asked[3]), third)
        self.assertEqual(third.count(past_log_end(self.asked[3])), 1, third)

        # No program had a reason to send the peer anything unasked.
        unasked = self.peer.all(lambda d: d.source in self.addresses and d.code not in ("201", "501"))
        self.assertEqual(unasked, [])

    def test_every_program_answers_a_join_with_its_own_header(self):
        replies = self.join_network()
        for k, address in enumerate(self.addresses, start=1):
            reply = replies[address]
            self.assertEqual(reply.destination, self.me, "a JoinReply goes to the joiner only")
            self.assertEqual(reply.text, "202 0%s,%s,%s,%s" % (
                "", self.host_name, address, self.start_time(k)))
        # A second Join from a listed member is answered again.
        self.peer.send(header("201", self.me), BROADCAST)
        for address in self.addresses:
            self.peer.expect_code("202", source=address)
        # The join line is shown once only.
        lines = self.assert_lines(self.past_log(2))
        self.assertEqual(sum(line.endswith("\tpeer" + JOINED) for line in lines), 1, lines)

    def test_version_request_is_answered_with_the_program_version(self):
        for k, address in enumerate(self.addresses, start=1):
            self.peer.send(header("405", self.me), address)
            reply = self.peer.expect_code("406", source=address)
            self.assertEqual(reply.destination, self.me)
            self.assertEqual(reply.text, "406 0,%s,%s,%s,V1.2.9" % (
                self.host_name, address, self.start_time(k)))

    # -- chat lines and the past log ----------------------------------------------------------

    def test_past_log_holds_the_chat_lines_in_order_without_directed_ones(self):
        self.join_network()
        target = self.addresses[0]
        chat = header("100", self.me)
        self.peer.send(chat + ",line 1", target)
        self.peer.send(chat, target)  # no fourth comma: dropped
        self.peer.send(chat + ",line 2", target)
        self.peer.send(header("101", self.me) + ",(To:x) secret", target)
        self.peer.send(chat + ",line 3, with a comma", target)
        self.peer.send(chat + ",日本語の行", target)
        self.peer.send(header("100", self.me, user="") + ",anonymous", target)
        self.peer.send(chat + ",", target)  # an empty line

        lines = self.assert_lines(self.past_log(1))
        self.assertNotIn("secret", "".join(lines))
        joined = [i for i, line in enumerate(lines) if line[8:] == "\tpeer" + JOINED]
        self.assertEqual(len(joined), 1, lines)
        said = [line[8:] for line in lines if "->\t" in line]
        self.assertEqual(said, [" peer->\tline 1", " peer->\tline 2", " peer->\tline 3, with a comma",
                                " peer->\t日本語の行", " peerhost->\tanonymous", " peer->\t"])
        first_chat = next(i for i, line in enumerate(lines) if "->\t" in line)
        self.assertLess(joined[0], first_chat, "the join line comes before the chat lines")
        self.assertEqual(lines[-6:], [line for line in lines if "->\t" in line],
                         "the chat lines are the newest lines")

    # -- leaving ------------------------------------------------------------------------------

    def test_terminated_program_sends_leave_to_listed_members(self):
        self.join_network()
        code = self.programs[0].terminate()
        self.assertEqual(code, 0, "stderr:\n" + self.programs[0].stderr_text())
        leave = self.peer.expect_code("301", source=self.addresses[0])
        self.assertEqual(leave.destination, self.me)
        self.assertEqual(leave.text, "301 0,%s,%s,%s" % (self.host_name, self.addresses[0],
                                                          self.start_time(1)))
        self.assertEqual(len(self.peer.all(lambda d: d.code == "301")), 1)

        # The others had it listed: they show the leave line.
        for k in (2, 3):
            lines = self.assert_lines(self.past_log(k))
            self.assertEqual(lines[-1][8:], "\t" + self.host_name + LEFT, lines)

    def test_leave_is_not_sent_to_a_peer_that_never_joined(self):
        code = self.programs[2].terminate()
        self.assertEqual(code, 0)
        # Program 2 shows the leave, which proves program 3 sent its notices out.
        lines = self.assert_lines(self.past_log(2))
        self.assertEqual(lines[-1][8:], "\t" + self.host_name + LEFT)
        self.assertEqual(self.peer.all(lambda d: d.code == "301"), [])


class ThreeProgramsWithoutGatewayTest(ThreeProgramsTest):
    """Discovery on a segment with no default route: broadcasts still leave by its interface.
    What goes by unicast only is the same on both kinds of segment and runs once."""
    default_route = False
    test_version_request_is_answered_with_the_program_version = None
    test_past_log_holds_the_chat_lines_in_order_without_directed_ones = None
    test_leave_is_not_sent_to_a_peer_that_never_joined = None


if __name__ == "__main__":
    netlab.main()
