"""Whole-process figures: a release vorlan under Xvfb in a private network namespace (host 1),
fed by an open-loop paced sender on a second namespace host (host 2), each figure against a
baseline measured in the same run: the plain C receiver (vorlan_floor_receiver) for receiving,
the minimal Qt window for start-up, the same program without a flood for key latency. Every
figure is taken in repetitions that alternate with those of its baseline, so both sides see the
same moments of a shared machine. Everything runs inside a lab of tests/e2e/netlab.py, which
removes its namespaces, processes and folders on every way out; X clients (xdotool, xev, the
key presser) run inside the lab host too, on the lab's own display.

Used by run.py; on its own: python3 wholeprocess.py <build folder> [--quick] prints the figures
as JSON.
"""

import argparse
import contextlib
import json
import os
import re
import statistics
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

import netlab  # noqa: E402

PORT = 8888
# The paces of the ingest figures, lines a second offered, and how long each round offers them:
# the slowest pace runs longest, so its memory figure rests on enough lines.
RATES = (500, 2000, 5000, 10000, 20000)
ROUND_SECONDS = {500: 12}
DEFAULT_ROUND_SECONDS = 3
PAYLOAD = "受信試験の行です。流量を測るための日本語と数字が並んでいます。" * 2
PAYLOAD_CHARACTERS = 40
# The send box's and the reload button's centres, from the design's twips at 96 dpi.
SEND_BOX = (8 + 577 // 2, 256 + 13)
RELOAD_BUTTON = (304 + 32, 120 + 10)


def process_cpu_seconds(pid):
    """Processor time of the whole process so far, every thread counted, ended ones too."""
    return time.clock_gettime(((~pid) << 3) | 2)


def rss_bytes(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    return 0


def median(values):
    return statistics.median(values) if values else None


class Display:
    """Xvfb inside a lab host, on a display number it picks itself, with a watcher of the root
    window's map events and of the window-state requests clients send to it."""

    def __init__(self, host):
        self.host = host
        read_end, write_end = os.pipe()
        self.process = host.popen(["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp",
                                   "-screen", "0", "1280x800x24"],
                                  pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.name = ":" + number
        self.maps, self.state_requests = [], []
        self._condition = threading.Condition()
        # Map events come with substructure notification; what clients send to the root for a
        # window manager (a window-state request) with structure notification.
        self._watcher = host.popen(["xev", "-display", self.name, "-root", "-event",
                                    "substructure", "-event", "structure"], stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL, text=True, bufsize=1)
        threading.Thread(target=self._watch, daemon=True).start()
        time.sleep(0.5)

    def _watch(self):
        for line in self._watcher.stdout:
            with self._condition:
                if line.startswith("MapNotify"):
                    self.maps.append(time.monotonic())
                elif line.startswith("ClientMessage"):
                    self.state_requests.append(None)
                elif "message_type" in line and "_NET_WM_STATE" in line and self.state_requests:
                    self.state_requests[-1] = time.monotonic()
                self._condition.notify_all()

    def wait_map(self, after, timeout=30):
        """The time of the first top-level window mapped after `after`; None on time-out."""
        deadline = time.monotonic() + timeout
        with self._condition:
            while True:
                later = [t for t in self.maps if t > after]
                if later:
                    return later[0]
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    return None
                self._condition.wait(remaining)

    def attention_requests(self, after):
        """Window-state requests (what asking for the taskbar's attention sends) since `after`."""
        with self._condition:
            return len([t for t in self.state_requests if t is not None and t > after])

    def env(self, **extra):
        env = dict(os.environ)
        env["DISPLAY"] = self.name
        env["QT_QPA_PLATFORM"] = "xcb"
        env.pop("WAYLAND_DISPLAY", None)
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        env.update(extra)
        return env

    def xdotool(self, *args):
        """xdotool on this display, inside the lab host; its standard output."""
        _code, out, _err = self.host.run(["xdotool"] + list(args), env=self.env())
        return out.decode("utf-8", "replace")

    def window(self, name_pattern):
        """The id of the first window whose name matches; None when there is none."""
        windows = self.xdotool("search", "--name", name_pattern).split()
        return windows[0] if windows else None

    def click(self, window, x, y):
        self.xdotool("mousemove", "--window", window, str(x), str(y), "click", "1")

    def title_count(self, name_pattern):
        """The member count in the caption of the window whose name matches; None when no such
        window or no count."""
        for window in self.xdotool("search", "--name", name_pattern).split():
            match = re.search(r"\((\d+)\)\s*$", self.xdotool("getwindowname", window))
            if match:
                return int(match.group(1))
        return None


class PropertyWatch:
    """Counts the changes of one property of one window (xev inside the lab host)."""

    def __init__(self, display, window, atom):
        self.atom, self.changes = atom, 0
        self._process = display.host.popen(["xev", "-display", display.name, "-id", window,
                                            "-event", "property"], stdout=subprocess.PIPE,
                                           stderr=subprocess.DEVNULL, text=True, bufsize=1)
        threading.Thread(target=self._watch, daemon=True).start()
        time.sleep(0.3)

    def _watch(self):
        for line in self._process.stdout:
            if "(%s)" % self.atom in line:
                self.changes += 1

    def close(self):
        self._process.kill()


def settings_file(log_folder):
    return ("[OPT]\r\nUserName=bench\r\nLogChk=1\r\nLogDir=%s\r\n" % log_folder).encode("cp932")


def udp_receive_errors(host):
    """RcvbufErrors of the host's namespace: datagrams the kernel dropped for want of buffer."""
    _code, out, _err = host.run(["cat", "/proc/net/snmp"])
    lines = [line.split() for line in out.decode().splitlines() if line.startswith("Udp:")]
    if len(lines) < 2:
        return 0
    return int(dict(zip(lines[0], lines[1])).get("RcvbufErrors", 0))


class Receiver:
    """A receiving program in host 1 whose lines go to files in a folder of its own."""

    def size(self):
        total = 0
        for name in os.listdir(self.folder):
            total += os.path.getsize(os.path.join(self.folder, name))
        return total

    def lines(self):
        count = 0
        for name in os.listdir(self.folder):
            with open(os.path.join(self.folder, name), "rb") as file:
                count += file.read().count(self.marker)
        return count

    def wait_drained(self, quiet=0.5, limit=30):
        """Until nothing more is written for `quiet` seconds."""
        last, since = self.size(), time.monotonic()
        deadline = since + limit
        while time.monotonic() < deadline:
            time.sleep(0.1)
            size = self.size()
            if size != last:
                last, since = size, time.monotonic()
            elif time.monotonic() - since >= quiet:
                return

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()


class FloorReceiver(Receiver):
    name = "floor"
    marker = b"\n"

    def __init__(self, rig):
        self.folder = rig.lab.tempdir("floor")
        self.process = rig.receiver.popen([rig.tools["floor"], str(PORT),
                                           os.path.join(self.folder, "lines.txt")],
                                          stdout=subprocess.PIPE, text=True)
        if self.process.stdout.readline().strip() != "ready":
            raise RuntimeError("the C receiver did not start")


class VorlanReceiver(Receiver):
    name = "vorlan"
    marker = b"->\t"

    def __init__(self, rig, env=None):
        folder = rig.lab.tempdir("vorlan")
        self.folder = os.path.join(folder, "logs")
        os.mkdir(self.folder)
        copy = os.path.join(folder, "vorlan")
        subprocess.run(["cp", rig.tools["vorlan"], copy], check=True)
        with open(os.path.join(folder, "Vorlan.ini"), "wb") as ini:
            ini.write(settings_file(self.folder))
        self.began = time.monotonic()
        self.process = rig.receiver.popen([copy, str(PORT)], env=rig.display.env(**(env or {})),
                                          cwd=folder, stdin=subprocess.DEVNULL,
                                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.shown = rig.display.wait_map(self.began)
        if self.shown is None:
            raise RuntimeError("vorlan showed no window")
        time.sleep(1)
        self.window = rig.display.window("^Vorlan")


class Rig:
    """The lab, its display, the other host's listener and the tools."""

    def __init__(self, lab, build):
        self.lab = lab
        self.receiver, self.sender = lab.host(1), lab.host(2)
        self.tools = {"vorlan": os.path.join(build, "vorlan"),
                      "floor": os.path.join(build, "bench", "vorlan_floor_receiver"),
                      "sender": os.path.join(build, "bench", "vorlan_paced_sender"),
                      "minimal": os.path.join(build, "bench", "vorlan_minimal_window"),
                      "notifications": os.path.join(build, "bench", "vorlan_bench_notifications")}
        self.display = Display(self.receiver)
        self.folder = lab.tempdir("rig")
        self.first = 0
        self.peer = self.sender.popen([sys.executable, os.path.join(HERE, "peerhost.py"),
                                       self.receiver.address, str(PORT), self.sender.address],
                                      stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                                      bufsize=1)
        if self.peer.stdout.readline().strip() != "ready":
            raise RuntimeError("the other host did not start")

    def ask(self, command):
        self.peer.stdin.write(command + "\n")
        self.peer.stdin.flush()
        return self.peer.stdout.readline().split()

    def start(self, name, **kwargs):
        return VorlanReceiver(self, **kwargs) if name == "vorlan" else FloorReceiver(self)

    def send_async(self, rate, count):
        """Starts offering count chat lines of PAYLOAD_CHARACTERS characters at rate a second;
        the process answers "sent <count> <seconds> <errors>" when done."""
        path = os.path.join(self.folder, "lines-%d" % self.first)
        with open(path, "wb") as out:
            for n in range(self.first, self.first + count):
                text = ("%07d " % n + PAYLOAD)[:PAYLOAD_CHARACTERS]
                out.write(("100 0peer,peerhost,%s,10:00:00,%s\n"
                           % (self.sender.address, text)).encode("cp932"))
        self.first += count
        return self.sender.popen([self.tools["sender"], self.receiver.address, str(PORT),
                                  str(rate), path], stdout=subprocess.PIPE, text=True)

    def send(self, rate, count):
        words = self.send_async(rate, count).communicate()[0].split()
        return int(words[1]), float(words[2])


def ingest_round(rig, name, rate, seconds):
    """One program, freshly started, offered rate lines a second for `seconds` after a warm-up:
    lines lost (by its file and by the kernel's counter), its processor time per line and as a
    share of one core, and its resident memory's growth per line."""
    receiver = rig.start(name)
    try:
        rig.send(2000, 200)  # the first layout, the glyphs, the log file
        receiver.wait_drained()
        time.sleep(0.3)
        pid = receiver.process.pid
        lines, errors = receiver.lines(), udp_receive_errors(rig.receiver)
        cpu, rss = process_cpu_seconds(pid), rss_bytes(pid)
        server = process_cpu_seconds(rig.display.process.pid)
        sent, elapsed = rig.send(rate, int(rate * seconds))
        receiver.wait_drained()
        cpu = process_cpu_seconds(pid) - cpu
        server = process_cpu_seconds(rig.display.process.pid) - server
        rss = rss_bytes(pid) - rss
        received = receiver.lines() - lines
        errors = udp_receive_errors(rig.receiver) - errors
    finally:
        receiver.close()
    return {"sent": sent, "received": received, "lost": sent - received, "kernel_drops": errors,
            "seconds": elapsed, "cpu_per_line": cpu / max(received, 1),
            "core_share": cpu / elapsed, "x_server_per_line": server / max(received, 1),
            "bytes_per_line": rss / max(received, 1)}


def ingest(rig, rates, repetitions, seconds_for):
    """Every pace, vorlan and the C receiver alternately, repetitions times; the paces rotate
    from one repetition to the next."""
    rounds = {rate: {"vorlan": [], "floor": []} for rate in rates}
    for r in range(repetitions):
        for i in range(len(rates)):
            rate = rates[(i + r) % len(rates)]
            order = ("floor", "vorlan") if (r + i) % 2 == 0 else ("vorlan", "floor")
            for name in order:
                rounds[rate][name].append(ingest_round(rig, name, rate, seconds_for(rate)))
    return rounds


@contextlib.contextmanager
def busy_cores(popen=subprocess.Popen):
    """A fixed background job on every core (a busy loop each, started with popen) while the
    block runs."""
    spinners = [popen([sys.executable, "-c", "while True: pass"])
                for _ in range(os.cpu_count() or 1)]
    try:
        yield
    finally:
        for spinner in spinners:
            spinner.kill()
            spinner.wait()


def loaded(rig, rate, repetitions, seconds):
    """Rounds at one pace with the machine loaded (busy_cores)."""
    with busy_cores(rig.receiver.popen):
        rounds = {"vorlan": [], "floor": []}
        for r in range(repetitions):
            for name in (("floor", "vorlan") if r % 2 == 0 else ("vorlan", "floor")):
                rounds[name].append(ingest_round(rig, name, rate, seconds))
        return rounds


class Keys:
    """The key presser (xinput.py) inside the lab host, on its display."""

    def __init__(self, rig):
        self.process = rig.receiver.popen([sys.executable, os.path.join(HERE, "xinput.py")],
                                          env=rig.display.env(), stdin=subprocess.PIPE,
                                          stdout=subprocess.PIPE, text=True, bufsize=1)
        if self.process.stdout.readline().strip() != "ready":
            raise RuntimeError("no key presser on the lab's display")

    def ask(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()
        return self.process.stdout.readline().split()

    def line(self, text):
        """Types text and Return; the time just before Return went to the display."""
        self.ask("type " + text)
        return float(self.ask("enter")[1])

    def close(self):
        self.ask("quit")
        self.process.wait()


def typed_arrivals(rig):
    arrivals = {}
    for item in rig.ask("typed")[1:]:
        when, _sep, text = item.partition("=")
        arrivals.setdefault(text, float(when))
    return arrivals


def key_latency(rig, view_lines, repetitions, presses=5, rate=20000):
    """A line typed into the send box and sent with Return, until its datagram reaches the other
    host: during a flood of rate lines a second into a view that holds view_lines already, and
    without a flood, in alternating phases of one program."""
    vorlan = rig.start("vorlan")
    keys = None
    try:
        rig.ask("hello")  # the other host is listed, so a typed line goes to it
        rig.send(rate, view_lines)
        vorlan.wait_drained()
        rig.display.click(vorlan.window, *SEND_BOX)
        keys = Keys(rig)
        keys.line("probe")
        time.sleep(2)
        if "probe" not in typed_arrivals(rig):
            return {"error": "the click into the send box or the keys had no effect"}
        pressed = {"flood": {}, "quiet": {}}
        for r in range(repetitions):
            for phase in (("flood", "quiet") if r % 2 == 0 else ("quiet", "flood")):
                flood = None
                if phase == "flood":
                    flood = rig.send_async(rate, int(rate * (presses * 0.3 + 1.5)))
                    time.sleep(0.5)
                for k in range(presses):
                    text = "k%d%s%d" % (r, phase[0], k)
                    pressed[phase][text] = keys.line(text)
                    time.sleep(0.3)
                if flood:
                    flood.communicate()
                vorlan.wait_drained()
        time.sleep(1)
        arrivals = typed_arrivals(rig)
        result = {}
        for phase, presses_of in pressed.items():
            result[phase] = [arrivals[text] - when if text in arrivals else None
                             for text, when in presses_of.items()]
        return result
    finally:
        if keys:
            keys.close()
        vorlan.close()


def background_flood(rig, rate, seconds):
    """A flood into a window that is not the active one: the desktop notifications it makes
    (a notification service of the benchmark's own on a session bus in the lab), the caption
    changes, the taskbar attention requests, and the lines lost."""
    bus = rig.receiver.popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    address = bus.stdout.readline().strip()
    service = rig.receiver.popen([rig.tools["notifications"]],
                                 env=dict(os.environ, DBUS_SESSION_BUS_ADDRESS=address),
                                 stdout=subprocess.PIPE, text=True, bufsize=1)
    if service.stdout.readline().strip() != "ready":
        raise RuntimeError("no notification service")
    notes = []
    threading.Thread(target=lambda: notes.extend(iter(service.stdout.readline, "")),
                     daemon=True).start()
    vorlan = rig.start("vorlan", env={"DBUS_SESSION_BUS_ADDRESS": address})
    other = None
    try:
        # Another program's window takes the focus: vorlan's window is in the background.
        began = time.monotonic()
        other = rig.receiver.popen([rig.tools["minimal"]], env=rig.display.env(),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        rig.display.wait_map(began)
        time.sleep(1)
        # Without a window manager, the input focus goes where it is set: to vorlan first, so
        # that it knows itself active, then to the other window.
        for window in (vorlan.window, rig.display.window("^Minimal window")):
            rig.display.xdotool("windowfocus", "--sync", window)
            time.sleep(0.5)
        captions = PropertyWatch(rig.display, vorlan.window, "_NET_WM_NAME")
        before = time.monotonic()
        lines = vorlan.lines()
        sent, elapsed = rig.send(rate, int(rate * seconds))
        vorlan.wait_drained()
        time.sleep(6)  # a summary of the last lines may still be due
        captions.close()
        received = vorlan.lines() - lines
        summaries = [line.split(" ", 3)[3].strip() for line in notes if line.startswith("notify")]
        return {"sent": sent, "received": received, "lost": sent - received, "seconds": elapsed,
                "notifications": len(summaries), "last_summary": summaries[-1] if summaries else "",
                "caption_changes": captions.changes,
                "attention_requests": rig.display.attention_requests(before)}
    finally:
        vorlan.close()
        for process in (other, service, bus):
            if process and process.poll() is None:
                process.kill()
                process.wait()


def startup(rig, runs):
    """Spawn to window mapped, and resident memory 2 s later, for vorlan and the minimal window,
    alternately."""
    results = {"vorlan": {"seconds": [], "rss": []}, "minimal": {"seconds": [], "rss": []}}
    for r in range(runs):
        for name in (("minimal", "vorlan") if r % 2 == 0 else ("vorlan", "minimal")):
            if name == "vorlan":
                vorlan = rig.start("vorlan")
                began, shown, process = vorlan.began, vorlan.shown, vorlan.process
                time.sleep(1)
            else:
                began = time.monotonic()
                process = rig.receiver.popen([rig.tools["minimal"]], env=rig.display.env(),
                                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                shown = rig.display.wait_map(began)
                time.sleep(2)
            memory = rss_bytes(process.pid)
            process.kill()
            process.wait()
            if shown is not None:
                results[name]["seconds"].append(shown - began)
                results[name]["rss"].append(memory)
            time.sleep(0.3)
    return results


def join_burst(rig, count):
    """A click on the reload button of a running vorlan, and count JoinReply answers sent as
    fast as possible as soon as its Rejoin reaches the other host; how many members it lists
    afterwards (the roster is emptied by the reload and refilled by the answers). A click that
    sends no Rejoin leaves the burst unsent."""
    # The answers come from addresses off the segment that no route leads back to: like many
    # hosts, the receiver checks no reverse path, or the kernel would drop them all unseen.
    code, _out, err = rig.receiver.run(["sysctl", "-q", "-w", "net.ipv4.conf.all.rp_filter=0",
                                        "net.ipv4.conf.eth0.rp_filter=0"])
    if code != 0:
        raise RuntimeError("cannot switch the reverse-path check off: %s" % err)
    errors_before = udp_receive_errors(rig.receiver)
    vorlan = rig.start("vorlan")
    try:
        # The program lists itself once its own announcement comes back; the reload lists it
        # again, so the answers add exactly count rows to it.
        before = rig.display.title_count("^Vorlan") or 0
        prefix = ".".join(rig.receiver.address.split(".")[:2])
        rig.peer.stdin.write("joinburst %d %s\n" % (count, prefix))
        rig.peer.stdin.flush()
        rig.display.click(vorlan.window, *RELOAD_BUTTON)
        word = rig.peer.stdout.readline().split()
        sent = time.monotonic()
        listed, last_change = None, time.monotonic()
        while time.monotonic() - last_change < 3 and time.monotonic() - sent < 60:
            now = rig.display.title_count("^Vorlan")
            if now != listed:
                listed, last_change = now, time.monotonic()
            if listed is not None and listed - before >= count:
                break
            time.sleep(0.05)
        answered = len(word) > 1 and word[1] != "none"
        return {"clicked": answered, "sent": count if answered else 0, "asked": count,
                "listed": (listed or 0) - before,
                "dropped": udp_receive_errors(rig.receiver) - errors_before}
    finally:
        vorlan.close()


def measure(build, repetitions=5, quick=False):
    netlab.require_privilege()
    rates = (500, 5000, 20000) if quick else RATES
    with netlab.Lab(2) as lab:
        rig = Rig(lab, build)
        figures = {"rates": list(rates)}

        def seconds_for(rate):
            return (1 if quick else ROUND_SECONDS.get(rate, DEFAULT_ROUND_SECONDS))

        figures["ingest"] = ingest(rig, rates, repetitions, seconds_for)
        figures["loaded"] = loaded(rig, 20000, repetitions, seconds_for(20000))
        figures["keys"] = key_latency(rig, 20000 if quick else 100000, repetitions)
        with busy_cores(rig.receiver.popen):
            figures["keys loaded"] = key_latency(rig, 20000 if quick else 100000, repetitions)
        figures["background"] = background_flood(rig, 20000, seconds_for(20000) + 2)
        figures["startup"] = startup(rig, repetitions)
        figures["burst"] = join_burst(rig, 1000)
    return figures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--quick", action="store_true", help="short rounds, fewer paces")
    parser.add_argument("--only", help="one part: ingest, loaded, keys, background, startup, burst")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    if not args.only:
        print(json.dumps(measure(build, args.repetitions, args.quick), indent=2))
        return
    netlab.require_privilege()
    with netlab.Lab(2) as lab:
        rig = Rig(lab, build)
        seconds = 1 if args.quick else DEFAULT_ROUND_SECONDS
        part = {
            "ingest": lambda: ingest(rig, (500, 5000, 20000), args.repetitions, lambda r: seconds),
            "loaded": lambda: loaded(rig, 20000, args.repetitions, seconds),
            "keys": lambda: key_latency(rig, 20000 if args.quick else 100000, args.repetitions),
            "background": lambda: background_flood(rig, 20000, seconds + 2),
            "startup": lambda: startup(rig, args.repetitions),
            "burst": lambda: join_burst(rig, 1000),
        }[args.only]()
        print(json.dumps(part, indent=2))


if __name__ == "__main__":
    main()
