"""The sending host of the whole-process benchmarks, run inside a lab namespace:

    python3 flood.py <target address> <port> <own address>

It binds 0.0.0.0:<port> and takes commands on stdin, answering one line each on stdout:

    lines <count> <window>   sends <count> 60-character chat lines to the target, in windows of
                             <window> lines each followed by a VersionRequest whose reply marks
                             that every line before it was handled; answers
                             "done <seconds> <late windows>"
    joinburst <count> <fake prefix>
                             waits for the target's Rejoin (a click on its reload button), then
                             sends <count> JoinReply as fast as it can, the first from this
                             host, the others reporting addresses <fake prefix>.<n>.<k> (texts
                             only; nothing is sent to them); answers "sent <seconds>"
    rejoins                  answers "rejoins" and the kernel arrival times (wall clock, seconds)
                             of the Rejoin datagrams seen since the last such command: what a
                             click on the target's reload button sends first
    quit
"""

import socket
import struct
import sys
import time

HEADER = "%s 0peer,peerhost,%s,10:00:00"
BODY = "受信試験の行です。流量を測るための日本語と数字が並んでいます。一行はちょうど六十文字になるように切りそろえます。"
REPLY_TIMEOUT = 10
SO_TIMESTAMPNS = getattr(socket, "SO_TIMESTAMPNS", 35)
REJOINS = []


def chat(address, n):
    text = ("%08d " % n + BODY)[:60]
    return (HEADER % ("100", address) + "," + text).encode("cp932")


def wait_code(sock, code, timeout):
    deadline = time.monotonic() + timeout
    while True:
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            return False
        sock.settimeout(remaining)
        try:
            data, ancillary, _flags, _source = sock.recvmsg(65536, 256)
        except socket.timeout:
            return False
        if data[:3] == b"203":
            for level, kind, value in ancillary:
                if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS:
                    seconds, nanoseconds = struct.unpack("qq", value[:16])
                    REJOINS.append(seconds + nanoseconds / 1e9)
        if data[:3] == code:
            return True


def send_lines(sock, target, address, count, window, first):
    request = (HEADER % ("405", address)).encode("cp932")
    late = 0
    start = time.monotonic()
    sent = 0
    while sent < count:
        batch = min(window, count - sent)
        for k in range(batch):
            sock.sendto(chat(address, first + sent + k), target)
        sent += batch
        sock.sendto(request, target)
        if not wait_code(sock, b"406", REPLY_TIMEOUT):
            late += 1
    return time.monotonic() - start, late


def join_burst(sock, target, address, count, prefix):
    if not wait_code(sock, b"203", 30):
        return None
    messages = [(HEADER % ("202", address)).encode("cp932")]
    for n in range(1, count):
        fake = "%s.%d.%d" % (prefix, 1 + n // 250, 1 + n % 250)
        messages.append(("202 0member%d,pc%d,%s,10:00:00" % (n, n, fake)).encode("cp932"))
    start = time.monotonic()
    for message in messages:
        sock.sendto(message, target)
    return time.monotonic() - start


def main():
    target_address, port, address = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    target = (target_address, port)
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 20)
    sock.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
    sock.bind(("0.0.0.0", port))
    print("ready", flush=True)
    first = 0
    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        if words[0] == "quit":
            break
        if words[0] == "lines":
            count, window = int(words[1]), int(words[2])
            seconds, late = send_lines(sock, target, address, count, window, first)
            first += count
            print("done %.6f %d" % (seconds, late), flush=True)
        elif words[0] == "rejoins":
            print(" ".join(["rejoins"] + ["%.6f" % t for t in REJOINS]), flush=True)
            REJOINS.clear()
        elif words[0] == "joinburst":
            seconds = join_burst(sock, target, address, int(words[1]), words[2])
            print("sent %s" % ("none" if seconds is None else "%.6f" % seconds), flush=True)
        else:
            print("error", flush=True)


if __name__ == "__main__":
    main()
