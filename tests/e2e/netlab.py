"""A private network for end-to-end runs.

A lab is a switch namespace holding a bridge, plus host namespaces each wired to the bridge by a
veth called eth0 (address 10.<x>.0.<k>/24, lo up), with a default route "dev eth0" or, like an
office segment without a gateway, no route beyond the segment. Nothing a lab runs
can reach the machine's own network: every process is started inside one of its host namespaces.

Every name carries the test's process id, so labs of tests running in parallel never meet. The
lab removes its namespaces, processes and temporary folders on every way out: a normal close, an
exception (use it as a context manager), interpreter exit (atexit), and SIGTERM / SIGHUP (a
handler that tears everything down and then exits). Namespaces left by a test that was killed
outright (SIGKILL) are removed by the next lab once their owner's process id is gone.
"""

import atexit
import ctypes
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

IP_TIMEOUT = 20
_STALE = re.compile(r"^vl(\d+)-\d+-(?:sw|h\d+|pr)$")
_STALE_FOLDER = re.compile(r"^vl(\d+)-\d+-")
PR_SET_PDEATHSIG = 1

_lock = threading.RLock()
_live_labs = []
_sequence = [0]
_handlers_installed = [False]


def _ip(*args, check=True):
    result = subprocess.run(["ip", *args], capture_output=True, text=True, timeout=IP_TIMEOUT)
    if check and result.returncode != 0:
        raise RuntimeError("ip %s failed: %s" % (" ".join(args), result.stderr.strip()))
    return result


def _next_tag():
    with _lock:
        sequence = _sequence[0]
        _sequence[0] += 1
    return "vl%d-%d" % (os.getpid(), sequence)


def _pid_alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    return True


def _namespace_names():
    result = _ip("netns", "list", check=False)
    return [line.split()[0] for line in result.stdout.splitlines() if line.strip()]


def _kill_namespace_processes(name):
    """Kills what still runs inside one of our own namespaces, by process id."""
    result = _ip("netns", "pids", name, check=False)
    for word in result.stdout.split():
        try:
            os.kill(int(word), signal.SIGKILL)
        except (ValueError, ProcessLookupError, PermissionError):
            pass


def _owner_gone(match):
    pid = int(match.group(1))
    return pid != os.getpid() and not _pid_alive(pid)


def remove_stale_namespaces():
    """Removes namespaces and temporary folders of our naming whose owning test process no
    longer exists (it was killed outright)."""
    for name in _namespace_names():
        match = _STALE.match(name)
        if match and _owner_gone(match):
            _kill_namespace_processes(name)
            _ip("netns", "del", name, check=False)
    folder = tempfile.gettempdir()
    for name in os.listdir(folder):
        match = _STALE_FOLDER.match(name)
        if match and _owner_gone(match) and os.path.isdir(os.path.join(folder, name)):
            shutil.rmtree(os.path.join(folder, name), ignore_errors=True)


def _die_with_parent():
    """Runs in the child before exec: a test killed outright takes its processes along."""
    try:
        libc = ctypes.CDLL(None, use_errno=True)
        libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)
    except Exception:
        pass


def require_privilege():
    """Skips the calling test class when namespaces cannot be made here; fails instead under CI."""
    reason = None
    probe = _next_tag() + "-pr"
    try:
        result = _ip("netns", "add", probe, check=False)
        if result.returncode != 0:
            reason = "cannot create network namespaces (needs root or user namespaces): " + \
                result.stderr.strip()
        else:
            _ip("netns", "del", probe, check=False)
    except FileNotFoundError:
        reason = "the ip command (iproute2) is not installed"
    except subprocess.TimeoutExpired:
        reason = "ip netns add timed out"
    if reason is None:
        return
    if os.environ.get("CI") == "true":
        raise AssertionError(reason)
    print("skipping end-to-end tests: " + reason, file=sys.stderr)
    raise unittest.SkipTest(reason)


def cleanup_all():
    with _lock:
        labs = list(_live_labs)
    for lab in labs:
        lab.close()


def _on_signal(signum, _frame):
    cleanup_all()
    os._exit(128 + signum)


def _install_handlers():
    with _lock:
        if _handlers_installed[0]:
            return
        _handlers_installed[0] = True
    atexit.register(cleanup_all)
    if threading.current_thread() is threading.main_thread():
        for signum in (signal.SIGTERM, signal.SIGHUP):
            signal.signal(signum, _on_signal)


class Host:
    def __init__(self, lab, index, namespace, address):
        self.lab = lab
        self.index = index
        self.namespace = namespace
        self.address = address

    def popen(self, args, **kwargs):
        """Starts a process inside this host's namespace; the lab kills it when it closes."""
        process = subprocess.Popen(["ip", "netns", "exec", self.namespace, *args],
                                   preexec_fn=_die_with_parent, **kwargs)
        self.lab.track(process)
        return process

    def run(self, args, timeout=20, **kwargs):
        process = self.popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kwargs)
        try:
            out, err = process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.communicate()
            raise
        return process.returncode, out, err

    def __repr__(self):
        return "Host(%s, %s)" % (self.namespace, self.address)


class Lab:
    """A switch and `hosts` hosts, with or without a default route. Use as a context manager, or
    call close()."""

    def __init__(self, hosts, default_route=True):
        _install_handlers()
        remove_stale_namespaces()
        self.tag = _next_tag()
        pid = os.getpid()
        self.subnet = "10.%d.0" % (20 + pid % 200)
        self.switch = self.tag + "-sw"
        self.hosts = []
        self._namespaces = []
        self._processes = []
        self._tempdirs = []
        self._closed = False
        self.default_route = default_route
        with _lock:
            _live_labs.append(self)
        try:
            self._build(hosts)
        except BaseException:
            self.close()
            raise

    def _add_namespace(self, name):
        self._namespaces.append(name)
        _ip("netns", "add", name)

    def _build(self, count):
        self._add_namespace(self.switch)
        _ip("-n", self.switch, "link", "add", "br0", "type", "bridge")
        _ip("-n", self.switch, "link", "set", "br0", "up")
        for k in range(1, count + 1):
            namespace = "%s-h%d" % (self.tag, k)
            self._add_namespace(namespace)
            port = "p%d" % k
            # The pair is made inside the switch, its far end goes straight into the host:
            # no interface ever appears in the machine's own namespace.
            _ip("-n", self.switch, "link", "add", port, "type", "veth",
                "peer", "name", "eth0", "netns", namespace)
            _ip("-n", self.switch, "link", "set", port, "master", "br0")
            _ip("-n", self.switch, "link", "set", port, "up")
            address = "%s.%d" % (self.subnet, k)
            _ip("-n", namespace, "link", "set", "lo", "up")
            _ip("-n", namespace, "addr", "add", address + "/24", "dev", "eth0")
            _ip("-n", namespace, "link", "set", "eth0", "up")
            if self.default_route:
                _ip("-n", namespace, "route", "add", "default", "dev", "eth0")
            self.hosts.append(Host(self, k, namespace, address))

    def host(self, k):
        return self.hosts[k - 1]

    def add_network(self, members):
        """A further segment on a bridge of its own, joining the hosts numbered in members by a
        veth eth<n> each (address 10.<x>.<n>.<k>/24). Returns the segment's broadcast address."""
        self._networks = getattr(self, "_networks", 0) + 1
        n = self._networks
        prefix = self.subnet.rsplit(".", 1)[0]
        bridge = "br%d" % n
        _ip("-n", self.switch, "link", "add", bridge, "type", "bridge")
        _ip("-n", self.switch, "link", "set", bridge, "up")
        for k in members:
            namespace = self.host(k).namespace
            port = "p%dn%d" % (k, n)
            _ip("-n", self.switch, "link", "add", port, "type", "veth",
                "peer", "name", "eth%d" % n, "netns", namespace)
            _ip("-n", self.switch, "link", "set", port, "master", bridge)
            _ip("-n", self.switch, "link", "set", port, "up")
            _ip("-n", namespace, "addr", "add", "%s.%d.%d/24" % (prefix, n, k), "dev", "eth%d" % n)
            _ip("-n", namespace, "link", "set", "eth%d" % n, "up")
        return "%s.%d.255" % (prefix, n)

    def move_to_network(self, k, n):
        """Takes host k off the first segment, so that it sits on network n alone. It still
        reaches the first segment's addresses on the link, as a host answering a peer that
        spans both networks does."""
        host = self.host(k)
        _ip("-n", host.namespace, "link", "del", "eth0")
        _ip("-n", host.namespace, "route", "add", self.subnet + ".0/24", "dev", "eth%d" % n)
        host.address = "%s.%d.%d" % (self.subnet.rsplit(".", 1)[0], n, k)

    def track(self, process):
        with _lock:
            self._processes.append(process)

    def tempdir(self, label="run"):
        path = tempfile.mkdtemp(prefix="%s-%s-" % (self.tag, label))
        self._tempdirs.append(path)
        return path

    def close(self):
        with _lock:
            if self._closed:
                return
            self._closed = True
            if self in _live_labs:
                _live_labs.remove(self)
        for process in self._processes:
            if process.poll() is None:
                try:
                    process.kill()
                except OSError:
                    pass
        for process in self._processes:
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
            for pipe in (process.stdin, process.stdout, process.stderr):
                if pipe is not None:
                    try:
                        pipe.close()
                    except OSError:
                        pass
        for name in reversed(self._namespaces):
            try:
                _kill_namespace_processes(name)
                _ip("netns", "del", name, check=False)
            except Exception as error:  # keep removing the others
                print("could not remove namespace %s: %s" % (name, error), file=sys.stderr)
        for path in self._tempdirs:
            shutil.rmtree(path, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False


class Vorlan:
    """One vorlan process in a host, from its own copy of the binary (so its own Vorlan.ini and
    logs), on the offscreen platform. stderr is collected line by line."""

    def __init__(self, host, binary, port=None, ini=None, args=None, label="vorlan", prepare=None,
                 env=None):
        """prepare, when given, is called with the program's folder before it starts (to put
        something other than a plain file where Vorlan.ini goes, say); env adds to or replaces
        variables of the program's environment."""
        self.host = host
        self.folder = host.lab.tempdir(label)
        self.binary = os.path.join(self.folder, "vorlan")
        shutil.copy2(binary, self.binary)
        if ini is not None:
            with open(self.ini_path, "wb") as file:
                file.write(ini)
        if prepare is not None:
            prepare(self.folder)
        command = [self.binary]
        if args is not None:
            command += list(args)
        elif port is not None:
            command.append(str(port))
        environment = dict(os.environ)
        environment["QT_QPA_PLATFORM"] = "offscreen"
        environment.pop("DISPLAY", None)
        environment.pop("WAYLAND_DISPLAY", None)
        environment.update(env or {})
        self.lines = []
        self._condition = threading.Condition()
        self.process = host.popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.PIPE, env=environment, cwd=self.folder)
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    @property
    def ini_path(self):
        return os.path.join(self.folder, "Vorlan.ini")

    def _read(self):
        for raw in self.process.stderr:
            line = raw.decode("utf-8", errors="replace").rstrip("\r\n")
            with self._condition:
                self.lines.append(line)
                self._condition.notify_all()
        with self._condition:
            self._condition.notify_all()

    def stderr_text(self):
        with self._condition:
            return "\n".join(self.lines)

    def wait_stderr(self, text, timeout=10):
        """Waits for a stderr line equal to text; returns True when it came."""
        deadline = time.monotonic() + timeout
        with self._condition:
            while True:
                if text in self.lines:
                    return True
                remaining = deadline - time.monotonic()
                if remaining <= 0 or (self.process.poll() is not None and not self._reader.is_alive()):
                    return text in self.lines
                self._condition.wait(min(remaining, 0.2))

    def wait_exit(self, timeout=10):
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def terminate(self, timeout=10):
        """SIGTERM (closes the window properly); returns the exit code, or None on time-out."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        code = self.wait_exit(timeout)
        self._reader.join(timeout=2)
        return code

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait(timeout=10)
        self._reader.join(timeout=2)

    def alive(self):
        return self.process.poll() is None


class LabTest(unittest.TestCase):
    """A test with a lab of its own: `hosts` hosts, with or without a default route. The peers and
    programs it starts end, and the lab goes, when the test ends, however it ends."""

    hosts = 2
    default_route = True
    binary = None  # the vorlan under test, set by main()

    @classmethod
    def setUpClass(cls):
        require_privilege()

    def setUp(self):
        self.lab = Lab(self.hosts, default_route=self.default_route)
        self.addCleanup(self.lab.close)

    def start_peer(self, k, port):
        # peer.py also runs on its own inside the namespaces; it is imported only where needed.
        from peer import Peer
        peer = Peer(self.lab.host(k), port)
        self.addCleanup(peer.close)
        return peer

    def start_vorlan(self, k, **kwargs):
        vorlan = Vorlan(self.lab.host(k), LabTest.binary, **kwargs)
        self.addCleanup(vorlan.kill)
        return vorlan


def main():
    """Runs the calling script's tests against the vorlan named first on its command line."""
    LabTest.binary = binary_from_argv()
    program = unittest.main(module="__main__", verbosity=2, exit=False)
    sys.exit(exit_status(program.result))


def exit_status(result):
    """0 when every test passed; 77 when they passed or were skipped, some skipped, which ctest
    shows as "Not Run" (SKIP_RETURN_CODE) instead of counting a skip as a pass; 1 on a failure."""
    if not result.wasSuccessful():
        return 1
    return 77 if result.skipped else 0


def binary_from_argv():
    """Takes the vorlan path from the command line (python3 test_x.py <vorlan>), leaving the rest
    for unittest."""
    if len(sys.argv) < 2 or sys.argv[1].startswith("-"):
        sys.exit("usage: %s <path-to-vorlan> [unittest options]" % sys.argv[0])
    binary = os.path.abspath(sys.argv.pop(1))
    if not os.access(binary, os.X_OK):
        sys.exit("not an executable: " + binary)
    return binary
