"""One running copy per user and port, on a real X server with a window manager: a second start on
the port brings the running window forward and ends with 0; a start on another port is a copy of
its own; a port held by another user's copy is reported as in use, as always.
Run as: python3 test_single_instance.py <path-to-vorlan>"""

import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import desktop  # noqa: E402
import netlab  # noqa: E402

PORT = 8888
ADDRESS_IN_USE = "bind:指定されたアドレスは使用中。"


class SingleInstanceTest(netlab.LabTest):
    hosts = 1

    @classmethod
    def setUpClass(cls):
        desktop.require_commands("Xvfb", "openbox", "xdotool", "dbus-daemon", "setpriv")
        super().setUpClass()

    def setUp(self):
        super().setUp()
        self.session = desktop.Session(self.lab.host(1))
        self.addCleanup(self.session.close)
        self.session.start_xvfb()
        self.session.start_bus()
        # Its desktop number says the window manager is up. Now and then it fails to open the
        # display it was just given: it is started again.
        openbox = []

        def window_manager_up():
            if not openbox or openbox[-1].poll() is not None:
                openbox.append(self.session.popen(["openbox"], log="openbox%d" % len(openbox)))
            return self.xdotool("get_desktop")[0] == 0
        try:
            desktop.wait_until(window_manager_up, "the window manager")
        except AssertionError as error:
            raise AssertionError("%s:\n%s" % (error, self.session.log_text()))

    def xdotool(self, *args):
        code, out, err = self.session.run(["xdotool", *args])
        return code, out.strip(), err

    def active_window(self):
        code, out, _err = self.xdotool("getactivewindow")
        return out if code == 0 else None

    def start(self, session, port, label, env=None):
        """A copy of the program in a folder of its own (so its own Vorlan.ini) in session."""
        folder = session.make_folder(label)
        binary = os.path.join(folder, "vorlan")
        shutil.copy2(netlab.LabTest.binary, binary)
        return session.popen([binary, str(port)], log=label, cwd=folder,
                             env=dict({"QT_QPA_PLATFORM": "xcb"}, **(env or {})))

    def window_of(self, process):
        return desktop.wait_until(
            lambda: self.xdotool("search", "--onlyvisible", "--pid", str(process.pid))[1]
            .split("\n")[0], "the window of process %d" % process.pid)

    def test_a_second_start_brings_the_running_window_forward_and_ends(self):
        first = self.start(self.session, PORT, "first")
        first_window = self.window_of(first)

        # Another port: a copy of its own, which takes the focus.
        other = self.start(self.session, PORT + 1, "other")
        other_window = self.window_of(other)
        self.assertNotEqual(other_window, first_window)
        self.assertEqual(self.xdotool("windowminimize", "--sync", first_window)[0], 0)

        # Minimised, then merely behind the other window.
        for label in ("second", "third"):
            self.xdotool("windowactivate", "--sync", other_window)
            desktop.wait_until(lambda: self.active_window() == other_window, "the other active")
            later = self.start(self.session, PORT, label)
            try:
                code = later.wait(timeout=15)
            except subprocess.TimeoutExpired:
                code = None
            self.assertEqual(code, 0, self.session.log_text())
            desktop.wait_until(lambda: self.active_window() == first_window,
                               "the first window active again:\n" + self.session.log_text())
        self.assertIsNone(first.poll())
        self.assertIsNone(other.poll())

        # Another user's copy on the same port is no copy of ours: the port is in use for it.
        stranger = desktop.Session(self.lab.host(1), user="nobody")
        theirs = self.start(stranger, PORT, "theirs", env={"QT_QPA_PLATFORM": "offscreen"})
        desktop.wait_until(lambda: ADDRESS_IN_USE in stranger.log_text(), "the address-in-use message")
        self.assertIsNone(theirs.poll(), "the message box holds it until someone closes it")
        self.assertIsNone(first.poll())


if __name__ == "__main__":
    netlab.main()
