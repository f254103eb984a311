// The settings file: lists must cost in proportion to their length, and the settings phase of
// start-up and the geometry save of shutdown must not follow the size of the file.
#include "benchsupport.h"

#include "app/mainwindow.h"
#include "app/startupsettings.h"
#include "base/codec.h"
#include "settings/inifile.h"

#include <QFile>
#include <QTemporaryDir>

namespace vorlan::bench {

namespace {

QStringList listOf(int count)
{
    QStringList items;
    for (int i = 0; i < count; ++i)
        items.append(QStringLiteral("192.168.%1.%2").arg(i / 250).arg(i % 250 + 1));
    return items;
}

// As "Ok" in the options dialog writes a list.
void WriteList(benchmark::State &state)
{
    QTemporaryDir folder;
    IniFile ini(folder.filePath(QStringLiteral("Vorlan.ini")));
    const QList<IniWrite> writes = listWrites(QStringLiteral("IP"), listOf(int(state.range(0))));
    for (auto _ : state)
        ini.writeAll(writes);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// As the start-up reads a list: the file read once, then the list from it.
void ReadList(benchmark::State &state)
{
    QTemporaryDir folder;
    IniFile ini(folder.filePath(QStringLiteral("Vorlan.ini")));
    ini.writeAll(listWrites(QStringLiteral("IP"), listOf(int(state.range(0)))));
    for (auto _ : state)
        benchmark::DoNotOptimize(ini.snapshot().readList(QStringLiteral("IP")));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// A settings file as the options dialog leaves it (about 1 KB), padded to bytes with a section
// the program does not read, as a file shared with other tools may carry.
QByteArray settingsFile(const QString &logFolder, qsizetype bytes)
{
    QByteArray text =
        "[OPT]\r\nUserName=山田\r\nMiss=さん\r\nCO=255\r\nFT=3\r\nLogChk=1\r\nLogDir="
        + encodeCp932(logFolder)
        + "\r\nNormal=1\r\nKeyWord=2\r\nSpecify=2\r\nBeepNormal=0\r\nBeepKeyWord=1\r\n"
          "BeepSpecify=1\r\nMemberFontName=IPAGothic\r\nMemberFontSize=9\r\n"
          "HomeFontName=IPAGothic\r\nHomeFontSize=10\r\nSendFontName=IPAGothic\r\n"
          "SendFontSize=10\r\n[POSITION]\r\n";
    for (const char *key : {"X", "Y", "W", "H", "LY", "LW", "LH", "2Y", "2W", "EY", "EL", "DY",
                            "DL", "HY", "HW", "HH", "SY", "SW", "CY", "CW", "M1", "M2", "M3",
                            "M4", "M5", "M6"})
        text += QByteArray(key) + "=1440\r\n";
    text += "[IP]\r\n1=192.168.0.10\r\n2=192.168.0.11\r\n3=pc-sales\r\n4=\r\n"
            "[KEY]\r\n1=山田\r\n2=会議\r\n3=\r\n[ICON]\r\n[WAVE]\r\n";
    if (text.size() < bytes)
        text += "[MEMO]\r\n";
    for (int i = 0; text.size() < bytes; ++i)
        text += "note" + QByteArray::number(i) + "=" + QByteArray(100, 'n') + "\r\n";
    return text;
}

struct SettingsWindow
{
    explicit SettingsWindow(qsizetype bytes)
    {
        path = folder.filePath(QStringLiteral("Vorlan.ini"));
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(settingsFile(folder.path(), bytes));
        file.close();
        MainWindowOptions options;
        options.iniPath = path;
        window = std::make_unique<MainWindow>(options);
        window->setMessagePresenter([](const QString &, QMessageBox::Icon) {});
    }

    QTemporaryDir folder;
    QString path;
    std::unique_ptr<MainWindow> window;
};

void StartupSettingsPhase(benchmark::State &state)
{
    SettingsWindow settings(state.range(0));
    for (auto _ : state) {
        settings.window->lstIP().clear();
        settings.window->lstPopup().clear();
        applyStartupSettings(*settings.window);
    }
}

void ShutdownGeometrySave(benchmark::State &state)
{
    SettingsWindow settings(state.range(0));
    applyStartupSettings(*settings.window);
    for (auto _ : state)
        saveWindowGeometry(*settings.window);
}

} // namespace

void registerSettingsBenchmarks()
{
    const Sizes &s = sizes();
    for (auto *benchmark : {benchmark::RegisterBenchmark("WriteList", WriteList),
                            benchmark::RegisterBenchmark("ReadList", ReadList)})
        tuned(benchmark)->Arg(s.smallList)->Arg(s.largeList)->Unit(benchmark::kMillisecond);
    for (auto *benchmark : {benchmark::RegisterBenchmark("StartupSettingsPhase", StartupSettingsPhase),
                            benchmark::RegisterBenchmark("ShutdownGeometrySave", ShutdownGeometrySave)})
        tuned(benchmark)->Arg(1024)->Arg(s.largeSettingsBytes)->Unit(benchmark::kMillisecond);
}

} // namespace vorlan::bench
