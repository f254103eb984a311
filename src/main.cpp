#include "app/mainwindow.h"
#include "settings/settingslocation.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// SIGTERM, SIGINT and SIGHUP close the main window like its close box does, so the leave
// notices go out and the log and settings are closed properly. An open message box is closed
// first: it would hold the program otherwise. A signal during start-up ends the program once
// start-up has returned. The handler only writes a byte to a socket pair; the UI thread does the
// rest.
int signalPipe[2] = {-1, -1};
bool running = false;
bool quitRequested = false;

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &byte, 1);
}

void closeOnSignals(QWidget &window)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char byte;
        [[maybe_unused]] const ssize_t got = ::read(signalPipe[1], &byte, 1);
        quitRequested = true;
        if (QWidget *box = QApplication::activeModalWidget())
            box->close();
        if (running)
            window.close();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
}

constexpr char Usage[] =
    "Usage: vorlan [PORT]\n"
    "Vorlan - 簡易チャットシステム: a serverless chat for one local network.\n"
    "\n"
    "  PORT       the UDP port all peers share, 1 to 65535 (default 8888;\n"
    "             empty, 0 or not a number also give 8888)\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Settings are kept in Vorlan.ini beside the program when that folder can be\n"
    "written, otherwise in ~/.config/Vorlan/Vorlan.ini.\n";

// --help and --version answer without a display; every other argument is the port, as always.
bool answeredInformationRequest(int argc, char *argv[])
{
    if (argc != 2)
        return false;
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(Usage, stdout);
        return true;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("Vorlan %d.%d.%d\n", VORLAN_VERSION_MAJOR, VORLAN_VERSION_MINOR,
                    VORLAN_VERSION_PATCH);
        return true;
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    if (answeredInformationRequest(argc, argv))
        return 0;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vorlan"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.vorlan.Vorlan"));

    vorlan::MainWindowOptions options;
    options.iniPath = vorlan::settingsFilePath(
        QCoreApplication::applicationDirPath(),
        QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation));
    options.commandLine = QApplication::arguments().mid(1).join(u' ');
    options.broadcastOnEveryInterface = true;
    vorlan::MainWindow window(std::move(options));
    closeOnSignals(window);
    if (const int exitCode = window.Form_Load())
        return exitCode;
    if (quitRequested) {
        window.close();
        return 0;
    }
    running = true;
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window, &QWidget::close);
    window.show();
    return QApplication::exec();
}
