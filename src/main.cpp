#include "app/mainwindow.h"
#include "app/windowlifetime.h"
#include "settings/settingslocation.h"

#include <QApplication>
#include <QStandardPaths>

#include <cstdio>
#include <cstring>

namespace {

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
    options.realNetwork = true;
    vorlan::MainWindow window(std::move(options));
    return vorlan::runMainWindow(window);
}
