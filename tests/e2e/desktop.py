"""A desktop session inside a lab host, for end-to-end tests that need a real window system: an X
server (Xvfb) or a Wayland compositor (headless Weston), a private session bus, and the program
under test started as vorlan-driver, which answers questions about its window on standard input.

Everything is started inside the host's namespace, so the lab removes it with its namespaces.
Input methods refuse to run as root, so a session can belong to an unprivileged user: its bus,
its home folder and every process started through it then run as that user.
"""

import json
import os
import pwd
import queue
import shutil
import subprocess
import sys
import threading
import time
import unittest

import netlab

X11_SOCKETS = "/tmp/.X11-unix"


def require_commands(*commands):
    """Skips the test when a command is missing; fails instead under CI, where scripts/setup has
    installed them all."""
    missing = [command for command in commands if shutil.which(command) is None]
    if not missing:
        return
    reason = "not installed: " + ", ".join(missing)
    if os.environ.get("CI") == "true":
        raise AssertionError(reason)
    print("skipping: " + reason, file=sys.stderr)
    raise unittest.SkipTest(reason)


def wait_until(predicate, what, timeout=15):
    """Polls predicate until it returns something true; returns that."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.05)


class Session:
    """A home folder, a runtime folder and a session bus in one lab host, for `user` (a name from
    the password database) or for the test's own user when None."""

    def __init__(self, host, user=None):
        self.host = host
        self.folder = host.lab.tempdir("session")
        os.chmod(self.folder, 0o755)
        self.prefix = []
        self.uid = self.gid = None
        if user is not None:
            entry = pwd.getpwnam(user)
            self.uid, self.gid = entry.pw_uid, entry.pw_gid
            self.prefix = ["setpriv", "--reuid=%d" % self.uid, "--regid=%d" % self.gid,
                           "--clear-groups", "--"]
        self.home = self.make_folder("home")
        self.runtime = self.make_folder("runtime", 0o700)
        self.env = {"HOME": self.home, "XDG_RUNTIME_DIR": self.runtime,
                    "XDG_CONFIG_HOME": os.path.join(self.home, ".config"),
                    "PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LANG": "C.UTF-8"}
        self.logs = []
        self.servers = []

    def close(self):
        """Ends the display servers politely, so that they remove their sockets and lock files
        outside the lab's folders; the lab kills whatever is left."""
        for server in self.servers:
            if server.poll() is None:
                server.terminate()
        for server in self.servers:
            try:
                server.wait(timeout=5)
            except subprocess.TimeoutExpired:
                pass

    def make_folder(self, name, mode=0o755):
        path = os.path.join(self.folder, name)
        os.makedirs(path, exist_ok=True)
        os.chmod(path, mode)
        self.give(path)
        return path

    def give(self, path):
        """Hands a file or folder the test wrote over to the session's user."""
        if self.uid is not None:
            os.chown(path, self.uid, self.gid)

    def write(self, relative, text):
        """A file below the home folder, it and the folders on its way the session user's."""
        folder = self.home
        for part in os.path.dirname(relative).split(os.sep):
            folder = os.path.join(folder, part)
            os.makedirs(folder, exist_ok=True)
            self.give(folder)
        path = os.path.join(self.home, relative)
        with open(path, "w", encoding="utf-8") as file:
            file.write(text)
        self.give(path)

    def popen(self, args, log=None, **kwargs):
        """Starts a process of the session in its host, with the session's environment; its output
        goes to a log file that failure messages can quote."""
        env = dict(self.env)
        env.update(kwargs.pop("env", {}))
        if log is None:
            return self.host.popen(self.prefix + list(args), env=env, **kwargs)
        path = os.path.join(self.folder, log + ".log")
        self.logs.append(path)
        with open(path, "wb") as output:
            if "stdout" in kwargs:
                kwargs.setdefault("stderr", output)
            else:
                kwargs.update(stdout=output, stderr=subprocess.STDOUT)
            return self.host.popen(self.prefix + list(args), env=env, **kwargs)

    def run(self, args, timeout=10):
        process = self.popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            out, err = process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            out, err = process.communicate()
        return process.returncode, out.decode(errors="replace"), err.decode(errors="replace")

    def start_bus(self):
        """A session bus of the session's own, on a socket in its runtime folder."""
        process = self.popen(["dbus-daemon", "--session", "--nofork", "--print-address",
                              "--address=unix:path=%s/bus" % self.runtime],
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        address = process.stdout.readline().decode().strip()
        if not address:
            raise AssertionError("the session bus did not start")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address
        return address

    def start_xvfb(self, screen="1024x768x24"):
        """An X server of the session's own; returns its display."""
        # The sockets' folder, made as the system makes it (an X server run as another user
        # would make it its own).
        if not os.path.isdir(X11_SOCKETS) and os.geteuid() == 0:
            os.makedirs(X11_SOCKETS, exist_ok=True)
            os.chmod(X11_SOCKETS, 0o1777)
        read, write = os.pipe()
        self.servers.append(self.popen(["Xvfb", "-displayfd", str(write), "-nolisten", "tcp",
                                        "-screen", "0", screen], log="xvfb",
                                       pass_fds=[write]))
        os.close(write)
        # The number and its line end come in two writes; the server dies if the second fails.
        number = b""
        try:
            while not number.endswith(b"\n"):
                chunk = os.read(read, 64)
                if not chunk:
                    break
                number += chunk
        finally:
            os.close(read)
        number = number.decode().strip()
        if not number:
            raise AssertionError("Xvfb did not start:\n" + self.log_text())
        self.env["DISPLAY"] = ":" + number
        return self.env["DISPLAY"]

    def start_weston(self):
        """A Wayland compositor without a screen or a seat (Weston's headless backend); returns
        its socket's name."""
        name = "wayland-vorlan"
        self.servers.append(self.popen(["weston", "--backend=headless-backend.so", "--socket=" + name,
                                        "--idle-time=0", "--no-config"], log="weston"))
        wait_until(lambda: os.path.exists(os.path.join(self.runtime, name)),
                   "Weston's socket", timeout=10)
        self.env["WAYLAND_DISPLAY"] = name
        return name

    def log_text(self):
        parts = []
        for path in self.logs:
            with open(path, "rb") as file:
                parts.append("--- %s\n%s" % (os.path.basename(path),
                                             file.read()[-4000:].decode(errors="replace")))
        return "\n".join(parts)


class Driven:
    """vorlan-driver (from beside the vorlan under test) started in a session, in a folder of its
    own that the session's user owns, so that it keeps its Vorlan.ini there."""

    def __init__(self, session, port, ini=None, env=None):
        self.session = session
        self.folder = session.make_folder("driven")
        binary = os.path.join(self.folder, "vorlan-driver")
        shutil.copy2(os.path.join(os.path.dirname(netlab.LabTest.binary), "vorlan-driver"), binary)
        if ini is not None:
            path = os.path.join(self.folder, "Vorlan.ini")
            with open(path, "wb") as file:
                file.write(ini.replace("\n", "\r\n").encode("cp932"))
            session.give(path)
        self.process = session.popen([binary, str(port)], log="driven", env=env or {},
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     cwd=self.folder, text=True, bufsize=1)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        self.answer("ready", "ready", timeout=20)

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.rstrip("\n"))
        self.lines.put(None)

    def answer(self, command, prefix, timeout=10):
        if command != "ready":
            self.process.stdin.write(command + "\n")
            self.process.stdin.flush()
        deadline = time.monotonic() + timeout
        while True:
            try:
                line = self.lines.get(timeout=max(0.01, deadline - time.monotonic()))
            except queue.Empty:
                raise AssertionError("no answer to %r; the session's logs:\n%s"
                                     % (command, self.session.log_text()))
            if line is None:
                raise AssertionError("vorlan-driver ended (%s); the session's logs:\n%s"
                                     % (self.process.wait(), self.session.log_text()))
            if line.split(" ")[0] == prefix:
                return line

    def terminate(self, timeout=10):
        """SIGTERM, which closes the window as the session's end does; returns the exit code."""
        self.process.terminate()
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def state(self, command):
        """The JSON answer of `window` or `compose`."""
        return json.loads(self.answer(command, command).split(" ", 1)[1])

    def wait_state(self, command, predicate, what, timeout=15):
        last = [None]

        def check():
            last[0] = self.state(command)
            return predicate(last[0])
        try:
            wait_until(check, what, timeout)
        except AssertionError:
            raise AssertionError("%s: %s is %r; the session's logs:\n%s"
                                 % (what, command, last[0], self.session.log_text()))
        return last[0]
