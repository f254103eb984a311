"""The other host of the whole-process benchmarks, run inside a lab namespace:

    python3 peerhost.py <target address> <port> <own address>

It binds 0.0.0.0:<port>, notes the kernel's arrival time (wall clock) of every datagram the
target sends it, and takes commands on stdin, answering one line each on stdout:

    rejoins          "rejoins" and the arrival times of the Rejoin datagrams seen since the last
                     such command: what a click on the target's reload button sends first
    typed            "typed" and, for each chat line from the target since the last such
                     command, "<arrival time>=<text>": what a line typed into it sends
    hello            sends the target one chat line, so that it lists this host
    joinburst <count> <fake prefix>
                     waits for the target's Rejoin (a click on its reload button), then sends
                     <count> JoinReply as fast as it can, the first from this host, the others
                     from addresses <fake prefix>.<n>.<k> that no host holds (raw datagrams with
                     that source); answers "sent <seconds>", or "sent none" when no Rejoin came
    quit

The chat lines of a flood come from a paced sender on the same host (vorlan_paced_sender).
"""

import socket
import struct
import sys
import threading
import time

HEADER = "%s 0peer,peerhost,%s,10:00:00"
SO_TIMESTAMPNS = getattr(socket, "SO_TIMESTAMPNS", 35)


class Listener:
    def __init__(self, sock):
        self.sock = sock
        self.lock = threading.Condition()
        self.rejoins, self.typed = [], []
        threading.Thread(target=self._run, daemon=True).start()

    def _run(self):
        while True:
            data, ancillary, _flags, _source = self.sock.recvmsg(65536, 256)
            arrived = time.time()
            for level, kind, value in ancillary:
                if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS:
                    seconds, nanoseconds = struct.unpack("qq", value[:16])
                    arrived = seconds + nanoseconds / 1e9
            with self.lock:
                if data[:3] == b"203":
                    self.rejoins.append(arrived)
                elif data[:4] == b"100 ":
                    text = data.decode("cp932", "replace").split(",", 4)[-1]
                    self.typed.append("%.6f=%s" % (arrived, text))
                self.lock.notify_all()

    def take(self, name):
        with self.lock:
            items = list(getattr(self, name))
            getattr(self, name).clear()
        return items

    def wait_rejoin(self, timeout):
        deadline = time.monotonic() + timeout
        with self.lock:
            while not self.rejoins:
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    return False
                self.lock.wait(remaining)
            return True


def spoofed(source, target, data):
    """One UDP datagram as if from source (the IP header written here; the kernel fills in its
    checksum and length, and a zero UDP checksum means none): every member of a burst comes from
    the address its header names, as the receiver requires."""
    udp = struct.pack("!HHHH", target[1], target[1], 8 + len(data), 0) + data
    ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 0, 0, 64, socket.IPPROTO_UDP, 0,
                     socket.inet_aton(source), socket.inet_aton(target[0]))
    return ip + udp


def join_burst(sock, listener, target, address, count, prefix):
    listener.take("rejoins")
    if not listener.wait_rejoin(30):
        return None
    raw = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW)
    packets = [(None, (HEADER % ("202", address)).encode("cp932"))]
    for n in range(1, count):
        fake = "%s.%d.%d" % (prefix, 1 + n // 250, 1 + n % 250)
        packets.append((fake, spoofed(fake, target, ("202 0member%d,pc%d,%s,10:00:00"
                                                      % (n, n, fake)).encode("cp932"))))
    start = time.monotonic()
    for source, packet in packets:
        if source is None:
            sock.sendto(packet, target)
        else:
            raw.sendto(packet, (target[0], 0))
    return time.monotonic() - start


def main():
    target_address, port, address = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    target = (target_address, port)
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 20)
    sock.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
    sock.bind(("0.0.0.0", port))
    listener = Listener(sock)
    print("ready", flush=True)
    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        if words[0] == "quit":
            break
        if words[0] in ("rejoins", "typed"):
            print(" ".join([words[0]] + ["%.6f" % t if isinstance(t, float) else t
                                         for t in listener.take(words[0])]), flush=True)
        elif words[0] == "hello":
            sock.sendto((HEADER % ("100", address) + ",hello").encode("cp932"), target)
            print("hello", flush=True)
        elif words[0] == "joinburst":
            seconds = join_burst(sock, listener, target, address, int(words[1]), words[2])
            print("sent %s" % ("none" if seconds is None else "%.6f" % seconds), flush=True)
        else:
            print("error", flush=True)


if __name__ == "__main__":
    main()
