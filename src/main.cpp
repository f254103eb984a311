#include "app/commandline.h"
#include "app/mainwindow.h"
#include "app/windowlifetime.h"
#include "instance/bringforward.h"
#include "instance/singleinstance.h"
#include "net/portargument.h"
#include "settings/settingslocation.h"

#include <QApplication>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

QStringList argumentsOf(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

int refuse()
{
    std::fputs(vorlan::usageText(), stderr);
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    // Answered, or refused, before any display or socket is opened.
    switch (vorlan::readCommandLine(argumentsOf(argc, argv))) {
    case vorlan::CommandLineRequest::Help:
        std::fputs(vorlan::usageText(), stdout);
        return 0;
    case vorlan::CommandLineRequest::Version:
        std::printf("Vorlan %d.%d.%d\n", VORLAN_VERSION_MAJOR, VORLAN_VERSION_MINOR,
                    VORLAN_VERSION_PATCH);
        return 0;
    case vorlan::CommandLineRequest::Refused:
        return refuse();
    case vorlan::CommandLineRequest::Run:
        break;
    }

    QApplication app(argc, argv);
    // An option Qt left is one it does not take on this platform (-title away from X11, say).
    const QStringList rest = QApplication::arguments().mid(1);
    if (std::any_of(rest.begin(), rest.end(), vorlan::isOption))
        return refuse();
    QApplication::setApplicationName(QStringLiteral("Vorlan"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.vorlan.Vorlan"));

    vorlan::MainWindowOptions options;
    options.iniPath = vorlan::settingsFilePath(
        QCoreApplication::applicationDirPath(),
        QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation));
    options.commandLine = rest.join(u' ');
    options.realNetwork = true;

    // A copy of this user's already runs on the port: it comes forward, and this one ends. A port
    // out of range is refused by the window as always.
    std::optional<vorlan::SingleInstance> instance;
    if (const std::optional<quint16> port = vorlan::portFromCommandLine(options.commandLine)) {
        instance.emplace(vorlan::instanceName(*port));
        if (instance->start() == vorlan::SingleInstance::Start::Raised)
            return 0;
    }

    vorlan::MainWindow window(std::move(options));
    if (instance)
        vorlan::bringForwardOnRequest(*instance, window);
    return vorlan::runMainWindow(window, [&instance] {
        if (instance)
            instance->serve();
    });
}
