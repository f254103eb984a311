"""Whole-process figures: a release vorlan under Xvfb in a private network namespace, fed from a
second namespace host; start-up against a minimal Qt window. Everything runs inside a lab of
tests/e2e/netlab.py, which removes its namespaces, processes and folders on every way out.

Used by run.py; on its own: python3 wholeprocess.py <build folder> [--view-lines N] [--perf FILE]
prints the figures as JSON.
"""

import argparse
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


class Display:
    """Xvfb inside a lab host, on a display number it picks itself."""

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
        self.maps = []
        self._condition = threading.Condition()
        self._watcher = host.popen(["xev", "-display", self.name, "-root", "-event",
                                    "substructure"], stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL, text=True, bufsize=1)
        threading.Thread(target=self._watch, daemon=True).start()
        time.sleep(0.5)

    def _watch(self):
        for line in self._watcher.stdout:
            if line.startswith("MapNotify"):
                with self._condition:
                    self.maps.append(time.monotonic())
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

    def env(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.name
        env["QT_QPA_PLATFORM"] = "xcb"
        env.pop("WAYLAND_DISPLAY", None)
        return env

    def title_count(self, name_pattern):
        """The member count in the caption of the window whose name matches; None when no such
        window or no count."""
        code, out, _err = self.host.run(["xdotool", "search", "--name", name_pattern],
                                        env=self.env())
        for window in out.decode().split():
            code, name, _err = self.host.run(["xdotool", "getwindowname", window], env=self.env())
            match = re.search(r"\((\d+)\)\s*$", name.decode("utf-8", "replace"))
            if code == 0 and match:
                return int(match.group(1))
        return None


def settings_file(log_folder):
    return ("[OPT]\r\nUserName=bench\r\nLogChk=1\r\nLogDir=%s\r\n" % log_folder).encode("cp932")


def rss_bytes(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    return None


def cpu_seconds(pid):
    """User and system time the process has used so far."""
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / float(os.sysconf("SC_CLK_TCK"))


def run_delay_seconds(pid):
    """Time the process's threads have waited, runnable, for a processor (schedstat)."""
    total = 0
    for thread in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, thread)) as stat:
                total += int(stat.read().split()[1])
        except OSError:
            pass
    return total / 1e9


def udp_receive_errors(host):
    """RcvbufErrors of the host's namespace: datagrams dropped for want of buffer."""
    _code, out, _err = host.run(["cat", "/proc/net/snmp"])
    lines = [line.split() for line in out.decode().splitlines() if line.startswith("Udp:")]
    if len(lines) < 2:
        return 0
    return int(dict(zip(lines[0], lines[1])).get("RcvbufErrors", 0))


def start_vorlan(lab, host, display, binary, label):
    folder = lab.tempdir(label)
    logs = os.path.join(folder, "logs")
    os.mkdir(logs)
    copy = os.path.join(folder, "vorlan")
    subprocess.run(["cp", binary, copy], check=True)
    with open(os.path.join(folder, "Vorlan.ini"), "wb") as ini:
        ini.write(settings_file(logs))
    began = time.monotonic()
    process = host.popen([copy, str(PORT)], env=display.env(), cwd=folder,
                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
    return process, began, logs


class Flood:
    def __init__(self, host, target):
        self.process = host.popen([sys.executable, os.path.join(HERE, "flood.py"), target,
                                   str(PORT), host.address], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, text=True, bufsize=1)
        if self.process.stdout.readline().strip() != "ready":
            raise RuntimeError("the sending host did not start")

    def tell(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()

    def answer(self):
        return self.process.stdout.readline().split()

    def ask(self, command):
        self.tell(command)
        return self.answer()


def click(display, window, x, y):
    subprocess.run(["xdotool", "mousemove", "--window", window, str(x), str(y), "click", "1"],
                   env=display.env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=20)


def main_window(host, display):
    """The id of vorlan's main window; None when there is none."""
    _code, out, _err = host.run(["xdotool", "search", "--name", "^Vorlan"], env=display.env())
    windows = out.decode().split()
    return windows[0] if windows else None


class Clicker:
    """Clicks the reload button of the window every `every` seconds from a thread while a flood
    runs. Latency of one click: from just before xdotool is started to the kernel's arrival
    time, at the sending host, of the Rejoin the click makes the program broadcast. It covers
    the X server, the program's event loop (waiting behind the lines already taken), the click
    handler and the send: what a user waits for before a click has its effect."""

    # The reload button's centre in the design's twips (4560, 1800, 975 x 300) at 96 dpi.
    BUTTON = (304 + 32, 120 + 10)

    def __init__(self, display, window, every=0.25):
        self.display, self.window, self.every = display, window, every
        self.clicks = []
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def start(self):
        self._thread.start()

    def _run(self):
        x, y = self.BUTTON
        while not self._stop.wait(self.every):
            # Run outside the lab host (the X server's socket is a file) to spare the start of
            # a namespace helper; starting xdotool still counts, a few milliseconds.
            self.clicks.append(time.time())
            click(self.display, self.window, x, y)

    def stop(self):
        self._stop.set()
        self._thread.join()

    def latencies(self, arrivals):
        """Per click, the first arrival after it and before the next click; None if none."""
        result = []
        for i, clicked in enumerate(self.clicks):
            until = self.clicks[i + 1] if i + 1 < len(self.clicks) else float("inf")
            later = [t for t in arrivals if clicked <= t < until]
            result.append(min(later) - clicked if later else None)
        return result


def logged_lines(folder):
    count = 0
    for name in os.listdir(folder):
        with open(os.path.join(folder, name), "rb") as log:
            count += sum(1 for line in log if b"->\t" in line)
    return count


class Samples:
    """Timed samples of a flood into one program: lines per second (wall clock), and per line
    the program's own processor time, the time its threads waited runnable for a processor
    (what other load on the machine costs it), and the X server's processor time."""

    def __init__(self):
        self.rates, self.cpu, self.delay, self.server = [], [], [], []

    def take(self, flood, process, display, count, window):
        cpu, server = cpu_seconds(process.pid), cpu_seconds(display.process.pid)
        delay = run_delay_seconds(process.pid)
        _word, seconds, late = flood.ask("lines %d %d" % (count, window))
        self.rates.append(count / float(seconds))
        self.cpu.append((cpu_seconds(process.pid) - cpu) / count)
        self.delay.append((run_delay_seconds(process.pid) - delay) / count)
        self.server.append((cpu_seconds(display.process.pid) - server) / count)
        return int(late)

    def medians(self, suffix):
        return {"rate" + suffix: statistics.median(self.rates),
                "rates" + suffix: self.rates,
                "cpu_per_line" + suffix: statistics.median(self.cpu),
                "run_delay_per_line" + suffix: statistics.median(self.delay),
                "server_cpu_per_line" + suffix: statistics.median(self.server)}


def ingest(lab, display, binary, view_lines, sample, window, perf_out, samples=6):
    """Rate at an empty view, memory growth per line while the view fills, rate at view_lines.

    Each rate is the median of `samples` samples of `sample` lines: one sample lasts a fraction
    of a second, so a single one follows whatever else the machine does at that moment. The
    empty-view samples each take a freshly started program (after a short warm-up, so the first
    layout and the log file's creation are not counted), so none of them measures a view that
    earlier samples filled; half of them run before the full-view ones and half after, so a
    change in the machine's load during the run weighs on both sides alike."""
    receiver, sender = lab.host(1), lab.host(2)
    flood = Flood(sender, receiver.address)
    errors_before = udp_receive_errors(receiver)
    warm_up = min(200, sample)
    counts = {"late": 0, "sent": 0, "logged": 0}
    empty, full = Samples(), Samples()

    def started(label):
        process, began, logs = start_vorlan(lab, receiver, display, binary, label)
        if display.wait_map(began) is None:
            raise RuntimeError("vorlan showed no window")
        time.sleep(1)
        return process, logs

    def empty_samples(first, count):
        for n in range(first, first + count):
            process, logs = started("empty%d" % n)
            counts["late"] += int(flood.ask("lines %d %d" % (warm_up, window))[2])
            counts["late"] += empty.take(flood, process, display, sample, window)
            process.kill()
            process.wait()
            counts["sent"] += warm_up + sample
            counts["logged"] += logged_lines(logs)

    empty_samples(0, samples // 2)

    process, logs = started("ingest")
    counts["late"] += int(flood.ask("lines %d %d" % (sample, window))[2])
    time.sleep(1)
    rss_start = rss_bytes(process.pid)
    fill = max(view_lines - sample, 0)
    # Clicks while the view fills: the program stays usable however long the flood.
    main = main_window(receiver, display)
    clicker = Clicker(display, main) if main else None
    flood.ask("rejoins")
    if clicker:
        clicker.start()
    counts["late"] += int(flood.ask("lines %d %d" % (fill, window))[2])
    if clicker:
        clicker.stop()
    time.sleep(1)
    arrivals = [float(t) for t in flood.ask("rejoins")[1:]]
    latencies = clicker.latencies(arrivals) if clicker else []
    rss_full = rss_bytes(process.pid)
    recorder = None
    if perf_out:
        recorder = subprocess.Popen(["perf", "record", "--call-graph", "dwarf,32768", "-F", "500",
                                     "-o", perf_out, "-p",
                                     str(process.pid)], stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
        time.sleep(0.5)
    for _ in range(samples):
        # The same pause and warm-up as before each empty-view sample, so both sides start from
        # the same state of the scheduler (a program that has just run flat out for a while
        # waits longer for a processor at first on a busy machine).
        time.sleep(1)
        counts["late"] += int(flood.ask("lines %d %d" % (warm_up, window))[2])
        counts["late"] += full.take(flood, process, display, sample, window)
    if recorder:
        recorder.send_signal(2)
        recorder.wait(timeout=60)
    counts["sent"] += sample + fill + samples * (warm_up + sample)
    counts["logged"] += logged_lines(logs)
    process.kill()
    process.wait()

    empty_samples(samples // 2, samples - samples // 2)
    flood.ask("quit")
    figures = {
        "sample": sample, "samples": samples, "view_lines": sample + fill,
        "bytes_per_line": (rss_full - rss_start) / float(fill) if fill else None,
        "dropped": udp_receive_errors(receiver) - errors_before,
        "late_windows": counts["late"], "click_latencies": latencies,
        "sent": counts["sent"], "logged": counts["logged"],
    }
    figures.update(empty.medians("_empty"))
    figures.update(full.medians("_full"))
    return figures


def startup(lab, display, binary, minimal, runs):
    """Spawn to window mapped, and resident memory 2 s later, for vorlan and the minimal window."""
    host = lab.host(1)
    results = {"vorlan": ([], []), "minimal": ([], [])}
    for _ in range(runs):
        for name in ("minimal", "vorlan"):
            if name == "vorlan":
                process, began, _logs = start_vorlan(lab, host, display, binary, "startup")
            else:
                began = time.monotonic()
                process = host.popen([minimal], env=display.env(), stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
            shown = display.wait_map(began)
            time.sleep(2)
            memory = rss_bytes(process.pid)
            process.kill()
            process.wait()
            if shown is not None:
                results[name][0].append(shown - began)
                results[name][1].append(memory)
            time.sleep(0.3)
    return {name: {"seconds": statistics.median(times), "rss": statistics.median(memory)}
            for name, (times, memory) in results.items() if times}


def join_burst(lab, display, binary, count):
    """A click on the reload button of a running vorlan, and count JoinReply answers sent as
    fast as possible as soon as its Rejoin reaches the other host; how many members it lists
    afterwards (the roster is emptied by the reload and refilled by the answers)."""
    receiver, sender = lab.host(1), lab.host(2)
    flood = Flood(sender, receiver.address)
    errors_before = udp_receive_errors(receiver)
    process, began, _logs = start_vorlan(lab, receiver, display, binary, "burst")
    display.wait_map(began)
    time.sleep(1)
    # The program lists itself once its own announcement comes back; the reload lists it
    # again, so the answers add exactly count rows to it.
    before = display.title_count("^Vorlan") or 0
    window = main_window(receiver, display)
    prefix = ".".join(receiver.address.split(".")[:2])
    flood.tell("joinburst %d %s" % (count, prefix))
    clicked = time.monotonic()
    if window:
        click(display, window, *Clicker.BUTTON)
    word = flood.answer()
    sent = time.monotonic()
    listed, last_change, done = None, time.monotonic(), None
    while time.monotonic() - last_change < 3 and time.monotonic() - sent < 60:
        now = display.title_count("^Vorlan")
        if now != listed:
            listed, last_change = now, time.monotonic()
        if listed is not None and listed - before >= count:
            done = time.monotonic()
            break
        time.sleep(0.05)
    dropped = udp_receive_errors(receiver) - errors_before
    flood.ask("quit")
    process.kill()
    answered = word and word[1] != "none"
    return {"sent": count if answered else 0, "asked": count, "before": before,
            "listed": (listed or 0) - before,
            "send_seconds": float(word[1]) if answered else None,
            "click_to_sent_seconds": (sent - clicked) if answered else None,
            "listed_seconds": (done - sent) if done else None, "dropped": dropped}


def measure(build, view_lines=100000, sample=20000, window=150, runs=5, burst=1000,
            perf_out=None, samples=6):
    binary = os.path.join(build, "vorlan")
    minimal = os.path.join(build, "bench", "vorlan_minimal_window")
    netlab.require_privilege()
    with netlab.Lab(2) as lab:
        display = Display(lab.host(1))
        figures = {"startup": startup(lab, display, binary, minimal, runs)}
        figures["burst"] = join_burst(lab, display, binary, burst)
        figures["ingest"] = ingest(lab, display, binary, view_lines, sample, window, perf_out,
                                   samples)
    return figures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--view-lines", type=int, default=100000)
    parser.add_argument("--sample", type=int, default=20000)
    parser.add_argument("--samples", type=int, default=6)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--perf")
    args = parser.parse_args()
    print(json.dumps(measure(args.build, args.view_lines, args.sample, runs=args.runs,
                             perf_out=args.perf, samples=args.samples), indent=2))


if __name__ == "__main__":
    main()
