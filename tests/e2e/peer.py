"""A scripted peer: a plain UDP socket inside a lab host, driven by the test.

Run inside a namespace as `python3 peer.py serve <port>`, it binds 0.0.0.0:<port> with
SO_BROADCAST and speaks lines on stdin / stdout:

    in:  send <address> <hex bytes>      send one datagram to <address>:<port>
    in:  spoof <source> <address> <hex bytes>
                                         the same, with <source> as the IP source address (a
                                         raw socket: what a hostile host on the segment can do)
    in:  flood <address> <count> <per second> <hex bytes>
                                         sends that datagram <count> times at that pace (0: as
                                         fast as the socket takes them), waiting for no answer
    in:  quit
    out: ready <host name> <canonical host name>
    out: recv <source address> <destination address> <hex bytes>
    out: flooded <count sent>            when a flood is out
    out: error <text>

The destination address (from IP_PKTINFO) tells a broadcast from a datagram sent to the host.
Broadcasts leave by eth0 even on a segment without a default route.
The test side uses the Peer class, which starts that process and collects what it receives.
"""

import binascii
import collections
import os
import re
import socket
import struct
import subprocess
import sys
import threading
import time

IP_PKTINFO = getattr(socket, "IP_PKTINFO", 8)
BROADCAST = "255.255.255.255"
TIME = r"\d{2}:\d{2}:\d{2}"


def canonical_host_name():
    """The host's name the way vorlan takes it: the canonical name of gethostname(), else the
    name itself."""
    name = socket.gethostname()
    try:
        info = socket.getaddrinfo(name, None, socket.AF_INET, socket.SOCK_DGRAM, 0,
                                  socket.AI_CANONNAME)
        if info and info[0][3]:
            return info[0][3]
    except OSError:
        pass
    return name


# ---------------------------------------------------------------------------------------------
# The process inside the namespace.

def serve(port):
    out_lock = threading.Lock()

    def emit(line):
        with out_lock:
            sys.stdout.write(line + "\n")
            sys.stdout.flush()

    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    sock.setsockopt(socket.IPPROTO_IP, IP_PKTINFO, 1)
    try:
        sock.bind(("0.0.0.0", port))
    except OSError as error:
        emit("error bind %s" % error)
        return 1

    def receive():
        while True:
            try:
                data, ancillary, _flags, source = sock.recvmsg(65536, 256)
            except OSError:
                return
            destination = "-"
            for level, kind, value in ancillary:
                if level == socket.IPPROTO_IP and kind == IP_PKTINFO and len(value) >= 12:
                    destination = socket.inet_ntoa(value[8:12])
            emit("recv %s %s %s" % (source[0], destination, binascii.hexlify(data).decode()))

    raw = None

    def spoof(source, destination, data):
        """One UDP datagram from source:port to destination:port, its IP header written here.
        The kernel fills in the IP checksum and length; a zero UDP checksum means none."""
        nonlocal raw
        if raw is None:
            raw = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW)
            raw.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
        udp = struct.pack("!HHHH", port, port, 8 + len(data), 0) + data
        ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 0, 0, 64, socket.IPPROTO_UDP, 0,
                         socket.inet_aton(source), socket.inet_aton(destination))
        raw.sendto(ip + udp, (destination, 0))

    threading.Thread(target=receive, daemon=True).start()
    emit("ready %s %s" % (socket.gethostname(), canonical_host_name()))
    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        if words[0] == "quit":
            break
        if words[0] == "send" and len(words) in (2, 3):
            data = binascii.unhexlify(words[2]) if len(words) == 3 else b""
            try:
                if words[1] == BROADCAST:
                    # in_pktinfo naming the interface: no route is needed for the broadcast.
                    pktinfo = struct.pack("@i4s4s", socket.if_nametoindex("eth0"), bytes(4), bytes(4))
                    sock.sendmsg([data], [(socket.IPPROTO_IP, IP_PKTINFO, pktinfo)], 0,
                                 (words[1], port))
                else:
                    sock.sendto(data, (words[1], port))
            except OSError as error:
                emit("error send %s" % error)
        elif words[0] == "spoof" and len(words) in (3, 4):
            try:
                spoof(words[1], words[2], binascii.unhexlify(words[3]) if len(words) == 4 else b"")
            except OSError as error:
                emit("error spoof %s" % error)
        elif words[0] == "flood" and len(words) == 5:
            sent = flood(sock, (words[1], port), int(words[2]), float(words[3]), binascii.unhexlify(words[4]))
            emit("flooded %d" % sent)
        else:
            emit("error unknown command %r" % line.strip())
    return 0


def flood(sock, target, count, per_second, data, burst=100):
    """Sends data count times, in bursts of up to `burst` held to per_second on average;
    returns how many sends the kernel took. A datagram the receiver has no room for is dropped
    there, as on any segment."""
    sent = 0
    started = time.monotonic()
    for first in range(0, count, burst):
        if per_second > 0:
            time.sleep(max(0.0, started + first / per_second - time.monotonic()))
        for _ in range(min(burst, count - first)):
            try:
                sock.sendto(data, target)
                sent += 1
            except OSError:
                pass
    return sent


# ---------------------------------------------------------------------------------------------
# The test side.

Message = collections.namedtuple("Message", "code flag user host address time payload")


def parse(text):
    """Reads a header by the receiver's rules; None when the text would be dropped."""
    if len(text) <= 4:
        return None
    code, flag = text[:3], text[4]
    fields = text[5:].split(",", 3)
    if len(fields) < 4:
        return None
    user, host, address, rest = fields
    if code in ("100", "101", "406", "501"):
        if "," not in rest:
            return None
        start, payload = rest.split(",", 1)
    else:
        start, payload = rest, None
    return Message(code, flag, user, host, address, start, payload)


def seconds_of_day(hhmmss):
    hours, minutes, seconds = (int(part) for part in hhmmss.split(":"))
    return hours * 3600 + minutes * 60 + seconds


def now_seconds():
    now = time.localtime()
    return now.tm_hour * 3600 + now.tm_min * 60 + now.tm_sec


def time_between(hhmmss, before, after, slack=2):
    """Whether the clock time hh:mm:ss lies within [before - slack, after + slack], both taken
    with now_seconds(); a window across midnight is allowed for."""
    if not re.fullmatch(TIME, hhmmss):
        return False
    value = seconds_of_day(hhmmss)
    low, high = (before - slack) % 86400, (after + slack) % 86400
    if low <= high:
        return low <= value <= high
    return value >= low or value <= high


def header(code, address, user="peer", host="peerhost", start="10:00:00", flag="0"):
    return "%s %s%s,%s,%s,%s" % (code, flag, user, host, address, start)


class Datagram:
    def __init__(self, source, destination, data):
        self.source = source
        self.destination = destination
        self.data = data
        self.text = data.decode("cp932", errors="replace")
        self.message = parse(self.text)
        self.arrived = time.monotonic()

    @property
    def code(self):
        return self.message.code if self.message else None

    def __repr__(self):
        return "Datagram(%s -> %s: %r)" % (self.source, self.destination, self.text)


class Peer:
    """A scripted peer in `host`, on `port`. received holds every datagram in arrival order;
    expect() hands out each one at most once."""

    def __init__(self, host, port, timeout=10):
        self.host = host
        self.port = port
        self.address = host.address
        self.received = []
        self.errors = []
        self._taken = set()
        self._condition = threading.Condition()
        self._ready = None
        self._flooded = None
        self.process = host.popen([sys.executable, os.path.abspath(__file__), "serve", str(port)],
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, text=True, bufsize=1)
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()
        deadline = time.monotonic() + timeout
        with self._condition:
            while self._ready is None and not self.errors:
                remaining = deadline - time.monotonic()
                if remaining <= 0 or self.process.poll() is not None:
                    break
                self._condition.wait(min(remaining, 0.2))
        if self._ready is None:
            raise RuntimeError("scripted peer in %s did not start: %s %s" % (
                host.namespace, self.errors, self.process.stderr.read() if self.process.poll()
                is not None else ""))
        self.host_name, self.canonical_name = self._ready

    def _read(self):
        for line in self.process.stdout:
            words = line.split()
            if not words:
                continue
            with self._condition:
                if words[0] == "ready":
                    self._ready = (words[1], words[2])
                elif words[0] == "flooded":
                    self._flooded = int(words[1])
                elif words[0] == "recv":
                    data = binascii.unhexlify(words[3]) if len(words) > 3 else b""
                    self.received.append(Datagram(words[1], words[2], data))
                else:
                    self.errors.append(line.strip())
                self._condition.notify_all()

    def host_names(self):
        """The names vorlan may report for this machine."""
        return {self.host_name, self.canonical_name}

    def send(self, text, address):
        data = text.encode("cp932") if isinstance(text, str) else bytes(text)
        self.process.stdin.write("send %s %s\n" % (address, binascii.hexlify(data).decode()))
        self.process.stdin.flush()

    def spoof(self, text, address, source):
        """Sends text to address as if it came from source."""
        data = text.encode("cp932") if isinstance(text, str) else bytes(text)
        self.process.stdin.write("spoof %s %s %s\n" % (source, address, binascii.hexlify(data).decode()))
        self.process.stdin.flush()

    def flood(self, text, address, count, per_second=0, timeout=120):
        """Sends text to address count times in a row, per_second on average (0: as fast as it
        goes out), without waiting for any reply; returns how many went out."""
        data = text.encode("cp932") if isinstance(text, str) else bytes(text)
        with self._condition:
            self._flooded = None
        self.process.stdin.write("flood %s %d %g %s\n" % (address, count, per_second,
                                                          binascii.hexlify(data).decode()))
        self.process.stdin.flush()
        deadline = time.monotonic() + timeout
        with self._condition:
            while self._flooded is None:
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    raise AssertionError("the flood of %d datagrams did not end within %.0f s" % (count, timeout))
                self._condition.wait(min(remaining, 0.2))
            return self._flooded

    def expect(self, predicate, timeout=10, what="a datagram"):
        """The first datagram not handed out before that satisfies predicate; waits for it."""
        deadline = time.monotonic() + timeout
        with self._condition:
            while True:
                for index, datagram in enumerate(self.received):
                    if index not in self._taken and predicate(datagram):
                        self._taken.add(index)
                        return datagram
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    raise AssertionError("%s did not receive %s within %.0f s; it received: %r" % (
                        self.host.namespace, what, timeout, self.received))
                self._condition.wait(min(remaining, 0.2))

    def expect_code(self, code, source=None, destination=None, timeout=10):
        def matches(datagram):
            return (datagram.code == code
                    and (source is None or datagram.source == source)
                    and (destination is None or datagram.destination == destination))
        return self.expect(matches, timeout, "a %s from %s" % (code, source or "anyone"))

    def all(self, predicate=lambda datagram: True):
        with self._condition:
            return [datagram for datagram in self.received if predicate(datagram)]

    def close(self):
        if self.process.poll() is None:
            try:
                self.process.stdin.write("quit\n")
                self.process.stdin.flush()
            except OSError:
                pass
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=5)
        self._reader.join(timeout=2)
        for pipe in (self.process.stdin, self.process.stdout, self.process.stderr):
            try:
                pipe.close()
            except OSError:
                pass


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "serve":
        sys.exit(serve(int(sys.argv[2])))
    sys.exit("usage: peer.py serve <port>")
