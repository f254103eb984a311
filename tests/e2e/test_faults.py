"""Faults from outside: the process killed in the middle of a burst, a flood of hostile
datagrams, a settings file or paths the program cannot use, a full disk, the interface going
down and up again. Run as: python3 test_faults.py <path-to-vorlan>"""

import hashlib
import os
import random
import re
import stat
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import netlab  # noqa: E402
from peer import header  # noqa: E402

PORT = 8888
BURST = 400


CODES = ["100", "101", "201", "202", "203", "301", "402", "404", "405", "406", "500", "501"]
NASTY = ["a,b", "\t", "\r\n", "<b>x</b>", '<img src="file:///etc/passwd">', "%s%n", "&amp;", "\u202e"]


def hostile_datagrams(rng, subnet, count):
    """Random bytes, empty datagrams, broken code page 932, headers of every code with hostile
    fields or no payload, the largest datagrams UDP carries, and requests naming an address
    beyond the segment, whose replies cannot be sent. The others name lab addresses no host
    holds: replies stay inside the lab, and none reaches the scripted peer to be taken for an
    answer to its own request."""
    for _ in range(count):
        kind = rng.randrange(40) // 5  # 0 to 7, the last one rarer
        address = "%s.%d" % (subnet, rng.randrange(100, 250))
        if kind == 5:
            yield (header("501", address) + ",").encode() + b"x\r\n" * 16000 + b"end"
        elif kind in (6, 7) and rng.randrange(4) == 0:
            yield (header("405", "1.2.3.%d" % rng.randrange(1, 250))).encode()
        elif kind in (6, 7):
            yield rng.randbytes(rng.randrange(1, 200))
        elif kind == 0:
            yield rng.randbytes(rng.randrange(1, 1400))
        elif kind == 1:
            yield b""
        elif kind == 2:
            yield (header("100", address) + ",").encode() + bytes([0x81, 0xff, 0x80, 0xa0, 0xfd, 0x82])
        elif kind == 3:
            yield header(rng.choice(CODES), address)  # no payload, no start time for some
        else:
            name = "".join(rng.choice(NASTY) for _ in range(3))
            text = header(rng.choice(CODES), address, user=name, host=rng.choice(NASTY))
            yield (text + "," + "".join(rng.choice(NASTY) for _ in range(4))).encode("cp932", "replace")


def named_address(data, subnet):
    """The address a hostile datagram's header names, else one of the lab's that no host holds."""
    fields = data.split(b",")
    if len(fields) > 3 and re.fullmatch(rb"\d+\.\d+\.\d+\.\d+", fields[2]):
        return fields[2].decode()
    return subnet + ".250"


class FaultTest(netlab.LabTest):
    """The program in host 1, a scripted peer in host 2."""

    def setUp(self):
        super().setUp()
        self.address = self.lab.host(1).address
        self.peer = self.start_peer(2, PORT)

    def start(self, **kwargs):
        return self.start_vorlan(1, port=PORT, **kwargs)

    def answers(self, timeout=20):
        """The program answers a version request within timeout seconds. The request is sent
        again every two seconds: behind a flood, the socket's buffer may have had no room."""
        deadline = time.monotonic() + timeout
        while True:
            self.peer.send(header("405", self.peer.address), self.address)
            try:
                self.peer.expect_code("406", source=self.address, destination=self.peer.address,
                                      timeout=min(2, max(0.1, deadline - time.monotonic())))
                return
            except AssertionError:
                if time.monotonic() >= deadline:
                    raise

    def test_kill_in_a_burst_leaves_every_handled_line_whole_in_the_log(self):
        folder = self.lab.tempdir("log")
        program = self.start(ini=("[OPT]\r\nLogChk=1\r\nLogDir=%s\r\n" % folder).encode())
        self.peer.expect_code("201", source=self.address)
        chat = header("100", self.peer.address) + ",burst %04d"
        for n in range(1, BURST // 2 + 1):
            self.peer.send(chat % n, self.address)
        self.peer.send(header("405", self.peer.address), self.address)
        for n in range(BURST // 2 + 1, BURST + 1):
            self.peer.send(chat % n, self.address)
        self.peer.expect_code("406", source=self.address)  # the first half was handled before it
        program.kill()  # SIGKILL while the second half is still arriving

        files = os.listdir(folder)
        self.assertEqual(len(files), 1, files)
        with open(os.path.join(folder, files[0]), "rb") as file:
            raw = file.read()
        self.assertTrue(raw.endswith(b"\r\n"), "a half-written line: %r" % raw[-80:])
        numbers = [int(n) for n in re.findall(r" peer->\tburst (\d{4})\r\n", raw.decode("cp932"))]
        self.assertGreaterEqual(len(numbers), BURST // 2)
        self.assertEqual(numbers, list(range(1, len(numbers) + 1)), "lines lost or out of order")

    def test_a_flood_of_hostile_datagrams_leaves_it_answering_and_showing(self):
        # An office segment without a gateway: replies to addresses beyond it fail at once.
        netlab._ip("-n", self.lab.host(1).namespace, "route", "del", "default")
        folder = self.lab.tempdir("log")
        program = self.start(ini=("[OPT]\r\nLogChk=1\r\nLogDir=%s\r\n" % folder).encode())
        self.peer.expect_code("201", source=self.address)
        chunks = 3
        for chunk in range(chunks):
            for data in hostile_datagrams(random.Random(chunk), self.lab.subnet, 1000):
                data = data.encode("cp932", "replace") if isinstance(data, str) else data
                if len(data) > 1400:
                    self.peer.send(data, self.address)  # dropped unread, whatever its source
                else:
                    # From the address the header names, as a host that forges its source does:
                    # otherwise the program drops the datagram before reading it.
                    self.peer.spoof(data, self.address, named_address(data, self.lab.subnet))
            # One round trip per chunk keeps the flood within what the socket buffers hold.
            self.answers(timeout=60)
        self.peer.send(header("100", self.peer.address) + ",after the flood", self.address)
        self.answers()
        self.assertTrue(program.alive())
        self.assertEqual(program.terminate(timeout=30), 0, program.stderr_text())
        with open(os.path.join(folder, os.listdir(folder)[0]), "rb") as file:
            raw = file.read()
        self.assertIn(b" peer->\tafter the flood\r\n", raw)
        self.assertTrue(raw.endswith(b"\r\n"), repr(raw[-200:]))
        self.assertNotIn(b"x\r\nx\r\nx\r\n", raw, "an oversize datagram was taken in")
        self.assertIn("send:", program.stderr_text(), "no reply failed: the flood missed its aim")

    def test_requests_naming_the_segments_broadcast_are_not_answered(self):
        # Answered, each would broadcast a past log to the segment. The source is forged to
        # match, and host 1 checks no reverse path, so the requests do reach the program.
        code, _out, err = self.lab.host(1).run(["sysctl", "-q", "-w", "net.ipv4.conf.all.rp_filter=0",
                                                "net.ipv4.conf.eth0.rp_filter=0"])
        self.assertEqual(code, 0, err)
        self.start()
        self.peer.expect_code("201", source=self.address)
        broadcast = self.lab.subnet + ".255"
        for code in ("500", "405", "201"):
            self.peer.spoof(header(code, broadcast), self.address, broadcast)
        self.answers()
        answered = self.peer.all(lambda d: d.source == self.address and d.code in ("501", "406", "202")
                                 and d.destination != self.peer.address)
        self.assertEqual(answered, [])

    def test_icon_wave_and_log_paths_that_are_no_files_give_a_working_program(self):
        def prepare(folder):
            os.mkfifo(os.path.join(folder, "fifo"))
            os.mkdir(os.path.join(folder, "dir"))
            logs = os.path.join(folder, "logs")
            os.mkdir(logs)
            os.mkfifo(os.path.join(logs, time.strftime("%Y%m%d") + ".txt"))
            ini = ("[ICON]\r\nStand={0}/fifo\r\nMove={0}/dir\r\nPop=/dev/zero\r\nDesk={0}/fifo\r\n"
                   "[WAVE]\r\nMove={0}/fifo\r\nPop=/dev/zero\r\n"
                   "[OPT]\r\nLogChk=1\r\nLogDir={0}/logs\r\nNormal=0\r\nBeepNormal=2\r\n").format(folder)
            with open(os.path.join(folder, "Vorlan.ini"), "wb") as file:
                file.write(ini.encode())

        # Start-up reaches the log's message (a box the user closes before going online): no
        # open of a FIFO or a device held it up. A signal closes the box and the program.
        program = self.start(prepare=prepare)
        self.assertTrue(self.wait_line(program, lambda line: line.startswith("ログを保存できません"),
                                       timeout=20), program.stderr_text())
        self.assertEqual(program.terminate(timeout=20), 0, program.stderr_text())
        self.assertTrue(stat.S_ISFIFO(os.stat(os.path.join(program.folder, "fifo")).st_mode))

        # Without the log, the program comes up, and a line that would play the FIFO as its
        # sound is shown and answered like any other.
        def prepare_without_log(folder):
            prepare(folder)
            ini = os.path.join(folder, "Vorlan.ini")
            with open(ini, "rb") as file:
                content = file.read().replace(b"LogChk=1", b"LogChk=0")
            with open(ini, "wb") as file:
                file.write(content)

        program = self.start(prepare=prepare_without_log, label="nolog")
        self.peer.expect_code("201", source=self.address, timeout=20)
        self.peer.send(header("100", self.peer.address) + ",a line that would play the FIFO", self.address)
        self.answers()
        self.assertEqual(program.terminate(timeout=20), 0, program.stderr_text())

    def test_a_full_disk_turns_logging_off_and_leaves_whole_lines(self):
        folder = self.lab.tempdir("tiny")
        # A file system of its own that fills up after a few dozen lines.
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=8k", "tmpfs", folder], check=True)
        self.addCleanup(subprocess.run, ["umount", "-l", folder], check=False)
        program = self.start(ini=("[OPT]\r\nLogChk=1\r\nLogDir=%s\r\n" % folder).encode())
        self.peer.expect_code("201", source=self.address)
        line = header("100", self.peer.address) + ",line %03d " + "x" * 100
        for n in range(200):
            self.peer.send(line % n, self.address)
            if n % 50 == 49:
                self.answers()
        self.assertTrue(self.wait_line(program, lambda text: text.startswith("ログを保存できません")),
                        program.stderr_text())
        self.answers()  # the program goes on
        self.assertTrue(program.alive())
        # Logging is off from the failure on: the many lines after it try no further write.
        failures = [text for text in program.lines if text.startswith("ログを保存できません")]
        self.assertEqual(len(failures), 1, program.stderr_text())
        with open(os.path.join(folder, os.listdir(folder)[0]), "rb") as file:
            raw = file.read()
        self.assertTrue(raw.endswith(b"\r\n"), repr(raw[-200:]))
        self.assertIn(b"line 000 ", raw)

    def test_unusable_settings_files_give_defaults_and_stay_as_they_were(self):
        garbage = random.Random(7).randbytes(64 * 1024)
        valid = b"[OPT]\r\nUserName=hostile\r\nLogChk=0\r\n"
        large = valid + b";" * (50 * 1024 * 1024) + b"\r\n"

        def write(content):
            def prepare(folder):
                with open(os.path.join(folder, "Vorlan.ini"), "wb") as file:
                    file.write(content)
            return prepare

        cases = {
            "garbage": write(garbage),
            "50 MB": write(large),
            "FIFO": lambda folder: os.mkfifo(os.path.join(folder, "Vorlan.ini")),
            "folder": lambda folder: os.mkdir(os.path.join(folder, "Vorlan.ini")),
            "device": lambda folder: os.symlink("/dev/zero", os.path.join(folder, "Vorlan.ini")),
        }
        for name, prepare in cases.items():
            with self.subTest(name):
                program = self.start(prepare=prepare, label=name.replace(" ", ""))
                path = program.ini_path
                before = self.state(path)
                try:
                    self.peer.expect_code("201", source=self.address, timeout=20)  # it is up
                    self.answers()
                    self.assertEqual(program.terminate(timeout=20), 0, program.stderr_text())
                finally:
                    program.kill()  # the next case needs the port
                after = self.state(path)
                if name == "garbage":
                    # Geometry may be added at shutdown, but no byte of the file may be lost.
                    kept = after.split(b"\n")
                    position = 0
                    for line in garbage.split(b"\n")[:-1]:
                        position = kept.index(line, position) + 1
                else:
                    self.assertEqual(after, before)
                if name == "50 MB":
                    self.assertNotIn(b"hostile", b"".join(
                        d.data for d in self.peer.all(lambda d: d.source == self.address)),
                        "a file past any settings size was read")

    def test_interface_down_and_up_again_fails_the_sends_then_works_without_restart(self):
        program = self.start()
        self.peer.expect_code("201", source=self.address)
        host = self.lab.host(1)
        netlab._ip("-n", host.namespace, "link", "set", "eth0", "down")
        # With the interface down only loopback reaches the program; its reply to the peer
        # then has no way out. The request comes from the peer's address, as its header says.
        request = header("405", self.peer.address).encode("cp932")
        code, _out, err = host.run([sys.executable, "-c",
                                    "import socket, struct, sys\n"
                                    "s = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW)\n"
                                    "data = bytes.fromhex(sys.argv[2])\n"
                                    "udp = struct.pack('!HHHH', %d, %d, 8 + len(data), 0) + data\n"
                                    "ip = struct.pack('!BBHHHBBH4s4s', 0x45, 0, 20 + len(udp), 0, 0, 64, 17, 0,\n"
                                    "                 socket.inet_aton(sys.argv[1]), socket.inet_aton('127.0.0.1'))\n"
                                    "s.sendto(ip + udp, ('127.0.0.1', 0))" % (PORT, PORT),
                                    self.peer.address, request.hex()])
        self.assertEqual(code, 0, err)
        self.assertTrue(self.wait_line(program, lambda line: line.startswith("send:")),
                        program.stderr_text())

        netlab._ip("-n", host.namespace, "link", "set", "eth0", "up")
        netlab._ip("-n", host.namespace, "route", "replace", "default", "dev", "eth0")
        self.answers()
        self.assertTrue(program.alive())

    @staticmethod
    def wait_line(program, predicate, timeout=10):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if any(predicate(line) for line in list(program.lines)):
                return True
            time.sleep(0.05)
        return False

    @staticmethod
    def state(path):
        """What a path holds: its bytes for a regular file, else its kind."""
        if os.path.islink(path):
            return "link to " + os.readlink(path)
        if os.path.isfile(path):
            with open(path, "rb") as file:
                content = file.read()
            return content if len(content) < 1024 * 1024 else hashlib.sha256(content).hexdigest()
        return "fifo" if not os.path.isdir(path) else "folder"


if __name__ == "__main__":
    netlab.main()
