"""Start-up from a prepared Vorlan.ini: the user name and the configured peer in the announcement,
and the day's conversation log. Run as: python3 test_settings_log.py <path-to-vorlan>"""

import os
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import netlab  # noqa: E402
from peer import BROADCAST, TIME, header, now_seconds, time_between  # noqa: E402

PORT = 8888
USER = "太郎"


def ini_bytes(text):
    return text.replace("\n", "\r\n").encode("cp932")


def today():
    return time.strftime("%Y%m%d", time.localtime())


class SettingsAndLogTest(netlab.LabTest):
    """The program in host 1; scripted peers in host 2 (same segment) and host 3 (also listed in
    the IP section)."""

    hosts = 3

    def setUp(self):
        super().setUp()
        self.address = self.lab.host(1).address
        self.peers = {}
        for k in (2, 3):
            self.peers[k] = self.start_peer(k, PORT)
        self.log_folder = self.lab.tempdir("log")

    def start(self, ini_text):
        self.before = now_seconds()
        self.days = {today()}
        return self.start_vorlan(1, port=PORT, ini=ini_bytes(ini_text))

    def test_join_carries_the_user_name_to_the_broadcast_and_the_listed_peer(self):
        listed = self.lab.host(3).address
        program = self.start("[OPT]\nUserName=%s\nLogChk=1\nLogDir=%s\n[IP]\n1=%s\n2=\n"
                             % (USER, self.log_folder, listed))
        seen = self.peers[2].expect_code("201", source=self.address)
        self.assertEqual(seen.destination, BROADCAST)
        self.assertTrue(seen.data.startswith(b"201 0" + USER.encode("cp932") + b","),
                        "the user name is not sent in code page 932: %r" % seen.data)
        self.assertRegex(seen.text, r"^201 0%s,[^,]+,%s,%s$" % (USER, re.escape(self.address), TIME))
        self.assertTrue(time_between(seen.message.time, self.before, now_seconds()))

        # Host 3 hears the broadcast and a copy sent to it.
        broadcast = self.peers[3].expect_code("201", source=self.address, destination=BROADCAST)
        direct = self.peers[3].expect_code("201", source=self.address, destination=listed)
        self.assertEqual(broadcast.data, seen.data)
        self.assertEqual(direct.data, seen.data)

        # Host 2 is not listed: after a round trip that follows the announcement it still has
        # the broadcast alone.
        self.peers[2].send(header("405", self.peers[2].address), self.address)
        self.peers[2].expect_code("406", source=self.address)
        self.assertEqual(len(self.peers[2].all(lambda d: d.code == "201"
                                               and d.source == self.address)), 1)
        self.assertEqual(program.terminate(), 0, program.stderr_text())

    def test_conversation_is_logged_in_the_days_file(self):
        text = "[OPT]\nUserName=%s\nLogChk=1\nLogDir=%s\n[IP]\n1=%s\n2=\n" % (
            USER, self.log_folder, self.lab.host(3).address)
        program = self.start(text)
        peer = self.peers[2]
        peer.expect_code("201", source=self.address)

        peer.send(header("201", peer.address), BROADCAST)
        peer.expect_code("202", source=self.address)
        chat = header("100", peer.address)
        peer.send(chat + ",line 1", self.address)
        peer.send(chat + ",日本語の行", self.address)
        peer.send(header("101", peer.address) + ",(To:%s) secret" % USER, self.address)
        peer.send(chat + ",", self.address)
        peer.send(header("405", peer.address), self.address)
        peer.expect_code("406", source=self.address)
        self.assertEqual(program.terminate(), 0, program.stderr_text())
        after = now_seconds()
        self.days.add(today())

        files = os.listdir(self.log_folder)
        self.assertEqual(len(files), 1, files)
        self.assertIn(files[0][:-4], self.days)
        self.assertTrue(files[0].endswith(".txt"))
        with open(os.path.join(self.log_folder, files[0]), "rb") as file:
            raw = file.read()
        content = raw.decode("cp932")  # strict: the file is code page 932 throughout
        self.assertTrue(content.endswith("\r\n"), repr(content))
        self.assertNotIn("\n", content.replace("\r\n", ""), "every line ends with CR LF")
        lines = content[:-2].split("\r\n")
        day = files[0][:-4]
        self.assertEqual(lines[0], "*** %s/%s/%s ***" % (day[:4], day[4:6], day[6:]))
        expected = [
            "\t%sが参加しました。" % USER,
            "\tpeerが参加しました。",
            " peer->\tline 1",
            " peer->\t日本語の行",
            "[peer]->\t(To:%s) secret" % USER,
            " peer->\t",
        ]
        self.assertEqual(len(lines), 1 + len(expected), lines)
        for line, tail in zip(lines[1:], expected):
            self.assertEqual(line[8:], tail, lines)
            self.assertTrue(time_between(line[:8], self.before, after), line)

        # Nothing in the settings the user wrote was lost on the way out.
        with open(program.ini_path, "rb") as file:
            kept = file.read()
        for line in ini_bytes(text).split(b"\r\n"):
            self.assertIn(line, kept.split(b"\r\n"))

    def test_a_killed_program_leaves_every_logged_line_in_the_file(self):
        program = self.start("[OPT]\nUserName=%s\nLogChk=1\nLogDir=%s\n" % (USER, self.log_folder))
        peer = self.peers[2]
        peer.expect_code("201", source=self.address)
        peer.send(header("100", peer.address) + ",last words", self.address)
        peer.send(header("405", peer.address), self.address)
        peer.expect_code("406", source=self.address)  # the chat line was handled before this
        program.kill()  # SIGKILL: no shutdown, no close of the log file
        files = os.listdir(self.log_folder)
        self.assertEqual(len(files), 1, files)
        with open(os.path.join(self.log_folder, files[0]), "rb") as file:
            content = file.read().decode("cp932")
        self.assertTrue(content.endswith(" peer->\tlast words\r\n"), repr(content))

    def test_logging_without_a_folder_is_switched_off(self):
        program = self.start("[OPT]\nUserName=%s\nLogChk=1\nLogDir=\n" % USER)
        peer = self.peers[2]
        peer.expect_code("201", source=self.address)
        peer.send(header("100", peer.address) + ",not logged", self.address)
        peer.send(header("405", peer.address), self.address)
        peer.expect_code("406", source=self.address)
        with open(program.ini_path, "rb") as file:
            lines = file.read().split(b"\r\n")
        self.assertIn(b"LogChk=0", lines)
        self.assertNotIn(b"LogChk=1", lines)
        self.assertEqual(program.terminate(), 0, program.stderr_text())
        self.assertEqual(os.listdir(self.log_folder), [])
        self.assertEqual([line for line in program.lines if "ログ" in line], [])


if __name__ == "__main__":
    netlab.main()
