#pragma once

#include <functional>

class QWidget;

namespace vorlan {

class MainWindow;

// Runs the main window as the program does, from start-up to the end of the event loop, and
// returns the exit code. SIGTERM, SIGINT and SIGHUP, and the desktop session ending, close the
// main window like its close box does, so the leave notices go out and the log and settings are
// closed properly; every modal window on top of it (a message box, the options dialog, a picker
// over that) is closed first, since each runs a loop of its own that would keep the program
// alive. A signal during start-up ends the program once start-up has returned.
// When the connection to the X server breaks (the session ended without a session manager, the
// server was killed), the same shutdown runs without the window system and the program ends
// with 0 there and then. running is called once start-up has succeeded and the window is shown.
int runMainWindow(MainWindow &window, const std::function<void()> &running = {});

} // namespace vorlan
