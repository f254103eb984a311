"""Shutdown, reload and the version request between running programs: a program sent SIGTERM,
or whose X display goes away, tells every other member and keeps its log and geometry; a
second program's reload finds every running peer again and its "情報" fills the Information
column.
Run as: python3 test_requests.py <path-to-vorlan> (vorlan-driver must stand beside it)."""

import os
import queue
import shutil
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import desktop  # noqa: E402
import netlab  # noqa: E402
from peer import BROADCAST, header  # noqa: E402

PORT = 8888
POSITION_KEYS = ("X Y W H LY LW LH 2Y 2W EY EL DY DL HY HW HH SY SW CY CW "
                 "M1 M2 M3 M4 M5 M6").split()


def section(path, name):
    """The key=value lines of one section of a settings file, in file order."""
    entries, inside = [], False
    with open(path, "rb") as file:
        for line in file.read().decode("cp932").split("\r\n"):
            if line.startswith("["):
                inside = line.strip().upper() == "[%s]" % name
            elif inside and "=" in line:
                key, value = line.split("=", 1)
                entries.append((key.strip(), value.strip()))
    return entries


class Driven:
    """vorlan-driver in a host: the program whose buttons the test presses."""

    def __init__(self, host, ini=None):
        self.folder = host.lab.tempdir("driven")
        binary = os.path.join(self.folder, "vorlan-driver")
        shutil.copy2(os.path.join(os.path.dirname(netlab.LabTest.binary), "vorlan-driver"), binary)
        if ini is not None:
            with open(os.path.join(self.folder, "Vorlan.ini"), "wb") as file:
                file.write(ini.replace("\n", "\r\n").encode("cp932"))
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        self.stderr = open(os.path.join(self.folder, "stderr.txt"), "wb")
        self.process = host.popen([binary, str(PORT)], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=self.stderr, env=env,
                                  cwd=self.folder, text=True, bufsize=1)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        self.answer("ready", "ready")

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.rstrip("\n"))

    def answer(self, command, prefix, timeout=10):
        if command != "ready":
            self.process.stdin.write(command + "\n")
            self.process.stdin.flush()
        deadline = time.monotonic() + timeout
        while True:
            line = self.lines.get(timeout=max(0.01, deadline - time.monotonic()))
            if line.split(" ")[0] == prefix:
                return line

    def click(self, name):
        self.answer("click " + name, "clicked")

    def rows(self):
        """Address to Information, in row order."""
        words = self.answer("rows", "rows").split(" ")[1:]
        return dict(word.split("=", 1) for word in words)

    def wait_rows(self, predicate, what, timeout=10):
        deadline = time.monotonic() + timeout
        while True:
            rows = self.rows()
            if predicate(rows):
                return rows
            if time.monotonic() > deadline:
                raise AssertionError("%s: the roster holds %r" % (what, rows))
            time.sleep(0.05)

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait(timeout=10)
        self.stderr.close()


class RequestsTest(netlab.LabTest):
    """Programs in hosts 1 and 3, the driven program in host 2, a scripted peer in host 4 that
    the driven program also lists in its IP section."""
    hosts = 4

    def setUp(self):
        super().setUp()
        self.peer = self.start_peer(4, PORT)
        self.a, self.b, self.c, self.me = (self.lab.host(k).address for k in (1, 2, 3, 4))
        self.first = self.start_vorlan(1, port=PORT, label="h1")
        self.peer.expect_code("201", source=self.a)
        self.third = self.start_vorlan(3, port=PORT, label="h3")
        self.peer.expect_code("201", source=self.c)
        self.driven = Driven(self.lab.host(2), "[IP]\n1=%s\n" % self.me)
        self.addCleanup(self.driven.close)
        self.peer.expect_code("201", source=self.b, destination=BROADCAST)
        # The scripted peer announces itself; every program lists it and answers.
        self.peer.send(header("201", self.me), BROADCAST)
        for address in (self.a, self.b, self.c):
            self.peer.expect_code("202", source=address)
        self.driven.wait_rows(lambda rows: set(rows) == {self.a, self.b, self.c, self.me},
                              "the driven program lists everybody")

    def test_sigterm_tells_every_member_and_keeps_the_geometry(self):
        self.assertEqual(self.first.terminate(), 0, self.first.stderr_text())
        leave = self.peer.expect_code("301", source=self.a)
        self.assertEqual(leave.destination, self.me, "a Leave goes by unicast")
        self.assertEqual(len(self.peer.all(lambda d: d.code == "301")), 1)
        self.driven.wait_rows(lambda rows: self.a not in rows, "the other program removed it")
        # The third program was told too: its view ends with the leave line.
        self.peer.send(header("500", self.me), self.c)
        payload = self.peer.expect_code("501", source=self.c).message.payload
        self.assertTrue(payload.endswith("が退席しました。\r\n"), payload)

        entries = section(self.first.ini_path, "POSITION")
        self.assertEqual([key for key, _ in entries], POSITION_KEYS)
        self.assertTrue(all(value.lstrip("-").isdigit() for _, value in entries), entries)

    def test_sigterm_over_the_options_dialog_and_a_picker_still_ends_the_program(self):
        # Each modal window runs a loop of its own: all of them must close, not only the top one.
        for command in ("click comOption", "click comMessageFont"):
            self.driven.process.stdin.write(command + "\n")
            self.driven.process.stdin.flush()
            self.driven.lines.get(timeout=10)  # "clicked ...", said before the click runs
        time.sleep(0.5)
        self.driven.process.terminate()
        self.assertEqual(self.driven.process.wait(timeout=10), 0)
        self.assertEqual(self.peer.expect_code("301", source=self.b).destination, self.me)

    def test_reload_finds_every_running_peer_again_and_information_fills_in(self):
        # A member that no longer answers: it must be gone after the reload.
        ghost = self.lab.subnet + ".99"
        self.peer.spoof(header("202", ghost, user="ghost"), self.b, ghost)
        self.driven.wait_rows(lambda rows: ghost in rows, "the ghost is listed")

        self.driven.click("comReload")
        rejoins = [self.peer.expect_code("203", source=self.b) for _ in range(3)]
        # The broadcast, then the configured entry, then the peer as a former member.
        self.assertEqual([d.destination for d in rejoins], [BROADCAST, self.me, self.me])
        self.peer.send(header("202", self.me), self.b)
        rows = self.driven.wait_rows(lambda rows: set(rows) == {self.a, self.b, self.c, self.me},
                                     "the reload finds every running peer")
        self.assertEqual(list(rows)[0], self.b, "the local row comes first")

        self.driven.click("comInfo")
        request = self.peer.expect_code("405", source=self.b)
        self.assertEqual(request.destination, self.me)
        self.peer.send(header("406", self.me) + ",V9.9.9", self.b)
        rows = self.driven.wait_rows(lambda rows: all(rows.values()), "every row has its version")
        self.assertEqual(rows, {self.b: "V1.2.9", self.a: "V1.2.9", self.c: "V1.2.9",
                                self.me: "V9.9.9"})


class DisplayGoneTest(netlab.LabTest):
    """The program on a private X server in host 1, a scripted peer in host 2. The X server
    going away (a logout without a session manager) closes the program as its close box does."""
    hosts = 2

    def test_the_display_going_away_tells_the_members_and_keeps_the_log_and_the_geometry(self):
        desktop.require_commands("Xvfb")
        session = desktop.Session(self.lab.host(1))
        self.addCleanup(session.close)
        display = session.start_xvfb()
        address = self.lab.host(1).address
        peer = self.start_peer(2, PORT)
        logs = self.lab.tempdir("log")
        ini = ("[OPT]\nUserName=taro\nLogChk=1\nLogDir=%s\n[POSITION]\nX=1500\nY=1200\nW=9000\nH=6000\n"
               % logs)
        program = self.start_vorlan(1, port=PORT, ini=ini.replace("\n", "\r\n").encode("cp932"),
                                    env={"QT_QPA_PLATFORM": "xcb", "DISPLAY": display})
        peer.expect_code("201", source=address)
        peer.send(header("201", peer.address), BROADCAST)
        peer.expect_code("202", source=address)
        peer.send(header("100", peer.address) + ",last line", address)
        peer.send(header("405", peer.address), address)
        peer.expect_code("406", source=address)  # the line was handled before this

        session.servers[0].terminate()  # the X server goes away
        self.assertEqual(program.wait_exit(10), 0, program.stderr_text())
        self.assertEqual(peer.expect_code("301", source=address).destination, peer.address)
        files = os.listdir(logs)
        self.assertEqual(len(files), 1, files)
        with open(os.path.join(logs, files[0]), "rb") as file:
            lines = file.read().decode("cp932").split("\r\n")
        self.assertEqual([line[8:] for line in lines[1:]],
                         ["\ttaroが参加しました。", "\tpeerが参加しました。", " peer->\tlast line", ""])
        entries = section(program.ini_path, "POSITION")
        self.assertEqual([key for key, _ in entries], POSITION_KEYS)
        self.assertEqual(entries[:4], [("X", "1500"), ("Y", "1200"), ("W", "9000"), ("H", "6000")])


class RequestsWithoutGatewayTest(RequestsTest):
    """The reload's broadcast leaves by the segment's interface even with no default route."""
    default_route = False
    test_sigterm_tells_every_member_and_keeps_the_geometry = None
    test_sigterm_over_the_options_dialog_and_a_picker_still_ends_the_program = None


if __name__ == "__main__":
    netlab.main()
