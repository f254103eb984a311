#include "app/windowlifetime.h"

#include "app/mainwindow.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

#if QT_CONFIG(xcb)
#include <xcb/xcb.h>
#endif

namespace vorlan {

namespace {

// The handler only writes a byte to a socket pair; the UI thread does the rest.
int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &byte, 1);
}

void closeEverything(QWidget &window)
{
    while (QWidget *modal = QApplication::activeModalWidget()) {
        modal->close();
        if (modal->isVisible())
            break; // it refused; the main window's close still tells the others
    }
    window.close();
}

#if QT_CONFIG(xcb)
// The X server connection the program shows its window on, the window to close when it breaks,
// and the message handler that was in place before.
xcb_connection_t *displayConnection = nullptr;
MainWindow *displayWindow = nullptr;
QtMessageHandler earlierHandler = nullptr;

// The xcb platform ends the program with exit(1) from inside the event loop as soon as it finds
// its connection to the X server broken: no leave notice, no closed log, no saved geometry. It
// checks on every wake-up of the loop, which may come between the loop's poll and its dispatch,
// so no notifier on the connection's socket is sure to run first; what always comes first is the
// warning it writes on its way out. A message on the UI thread while the connection is broken
// therefore runs the shutdown there and then, and the program ends without going back to the
// loop.
void onMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (earlierHandler)
        earlierHandler(type, context, text);
    if (!displayWindow || !xcb_connection_has_error(displayConnection)
        || QThread::currentThread() != displayWindow->thread())
        return;
    MainWindow *window = std::exchange(displayWindow, nullptr);
    window->displayLost();
    std::fflush(nullptr);
    ::_exit(0);
}
#endif

// Watches the display connection while the program runs (on the xcb platform only).
class DisplayWatch
{
public:
    explicit DisplayWatch(MainWindow &window)
    {
#if QT_CONFIG(xcb)
        const auto *x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
        displayConnection = x11 ? x11->connection() : nullptr;
        if (!displayConnection)
            return;
        displayWindow = &window;
        earlierHandler = qInstallMessageHandler(onMessage);
#else
        Q_UNUSED(window);
#endif
    }

    ~DisplayWatch()
    {
#if QT_CONFIG(xcb)
        if (displayConnection)
            qInstallMessageHandler(earlierHandler);
        displayWindow = nullptr;
        displayConnection = nullptr;
#endif
    }

    DisplayWatch(const DisplayWatch &) = delete;
    DisplayWatch &operator=(const DisplayWatch &) = delete;
};

} // namespace

int runMainWindow(MainWindow &window, const std::function<void()> &running)
{
    bool isRunning = false;
    bool quitRequested = false;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) == 0) {
        auto *notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, &window);
        QObject::connect(notifier, &QSocketNotifier::activated, &window, [&] {
            char byte;
            [[maybe_unused]] const ssize_t got = ::read(signalPipe[1], &byte, 1);
            quitRequested = true;
            if (isRunning)
                closeEverything(window);
            else if (QWidget *box = QApplication::activeModalWidget())
                box->close(); // a start-up message: the program ends once start-up returns
        });
        struct sigaction action = {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int signal : {SIGTERM, SIGINT, SIGHUP})
            sigaction(signal, &action, nullptr);
    }

    const DisplayWatch displayWatch(window);
    if (const int exitCode = window.Form_Load())
        return exitCode;
    if (quitRequested) {
        window.close();
        return 0;
    }
    isRunning = true;
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, &window,
                     [&window] { closeEverything(window); });
    window.show();
    if (running)
        running();
    return QApplication::exec();
}

} // namespace vorlan
