#include "app/startupsettings.h"

#include "app/mainwindow.h"
#include "settings/inifile.h"

namespace vorlan {

void applyStartupSettings(MainWindow &window)
{
    IniFile &ini = window.settingsFile();
    window.identity().userName = ini.readText(QStringLiteral("OPT"), QStringLiteral("UserName"));
    window.lstIP() = ini.readList(QStringLiteral("IP"));
}

void saveWindowGeometry(MainWindow &)
{
}

} // namespace vorlan
