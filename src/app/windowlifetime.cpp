#include "app/windowlifetime.h"

#include "app/mainwindow.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

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

} // namespace

int runMainWindow(MainWindow &window)
{
    bool running = false;
    bool quitRequested = false;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) == 0) {
        auto *notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, &window);
        QObject::connect(notifier, &QSocketNotifier::activated, &window, [&] {
            char byte;
            [[maybe_unused]] const ssize_t got = ::read(signalPipe[1], &byte, 1);
            quitRequested = true;
            if (running)
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

    if (const int exitCode = window.Form_Load())
        return exitCode;
    if (quitRequested) {
        window.close();
        return 0;
    }
    running = true;
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, &window,
                     [&window] { closeEverything(window); });
    window.show();
    return QApplication::exec();
}

} // namespace vorlan
