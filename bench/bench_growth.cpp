// Costs that must stay linear: input that anyone can make large must cost in proportion to its
// size, a damaged or hostile Vorlan.ini (long lists, a file of a megabyte), a flood of datagrams
// from ever new senders. These answer no question a user asks, so they have no targets of their
// own: each complexity line of the report must read N, lgN or 1 (N lgN at most), never N^2.
#include "app/mainwindow.h"
#include "app/startupsettings.h"
#include "base/clock.h"
#include "base/codec.h"
#include "conversation/conversationview.h"
#include "app/dispatcher.h"
#include "roster/memberlist.h"
#include "settings/inifile.h"
#include "settings/runningsettings.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace vorlan;

namespace {

void ReadNumberedList(benchmark::State &state)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("Vorlan.ini"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        state.SkipWithError("cannot write the settings file");
    file.write("[IP]\r\n");
    for (int i = 1; i <= state.range(0); ++i)
        file.write(QByteArray::number(i) + "=192.168.0." + QByteArray::number(i % 250) + "\r\n");
    file.close();

    for (auto _ : state)
        benchmark::DoNotOptimize(IniSnapshot(path).readList(QStringLiteral("IP")));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(ReadNumberedList)->RangeMultiplier(4)->Range(1000, 64000)->Complexity()->Unit(benchmark::kMillisecond);

// Every sender that is new adds a roster row; each message must still find its sender's row
// without walking the others.
void NewSenders(benchmark::State &state)
{
    for (auto _ : state) {
        SystemClock clock;
        Identity me;
        me.address = QStringLiteral("10.0.0.1");
        RunningSettings settings;
        MemberList members;
        ConversationView view;
        Dispatcher dispatcher(members, view, me, settings, clock,
                              Dispatcher::Hooks{[](const QString &, const QString &) {}, {}, {}, {}, {}});
        for (int i = 0; i < state.range(0); ++i) {
            const QString address = QStringLiteral("10.%1.%2.%3").arg(i / 65536).arg(i / 256 % 256).arg(i % 256);
            dispatcher.ProcessMessage(QStringLiteral("203 0x,h,%1,t").arg(address), address);
        }
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(NewSenders)->RangeMultiplier(4)->Range(1000, 16000)->Complexity()->Unit(benchmark::kMillisecond);

QStringList listOf(int count)
{
    QStringList items;
    for (int i = 0; i < count; ++i)
        items.append(QStringLiteral("192.168.%1.%2").arg(i / 250).arg(i % 250 + 1));
    return items;
}

// A list as the options dialog writes it, by its number of items (ReadNumberedList reads one).
void WriteList(benchmark::State &state)
{
    QTemporaryDir folder;
    IniFile ini(folder.filePath(QStringLiteral("Vorlan.ini")));
    const QList<IniWrite> writes = listWrites(QStringLiteral("IP"), listOf(int(state.range(0))));
    for (auto _ : state)
        ini.writeAll(writes);
    state.SetComplexityN(state.range(0));
}
BENCHMARK(WriteList)->RangeMultiplier(2)->Range(2000, 16000)->Complexity()->Unit(benchmark::kMillisecond);


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

// The settings phase of start-up and the geometry save of shutdown, by the size of the file.
void StartupSettingsPhase(benchmark::State &state)
{
    SettingsWindow settings(state.range(0));
    for (auto _ : state) {
        settings.window->lstIP().clear();
        settings.window->lstPopup().clear();
        applyStartupSettings(*settings.window);
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(StartupSettingsPhase)->RangeMultiplier(4)->Range(16 * 1024, 1000 * 1000)->Complexity()->Unit(benchmark::kMillisecond);

void ShutdownGeometrySave(benchmark::State &state)
{
    SettingsWindow settings(state.range(0));
    applyStartupSettings(*settings.window);
    for (auto _ : state)
        saveWindowGeometry(*settings.window);
    state.SetComplexityN(state.range(0));
}
BENCHMARK(ShutdownGeometrySave)->RangeMultiplier(4)->Range(16 * 1024, 1000 * 1000)->Complexity()->Unit(benchmark::kMillisecond);

// One typed line to every row of a roster that anyone on the segment can make long: a datagram
// to each, with the window's events let through between sends. Rows on loopback addresses other
// than the window's own, where nothing listens, so nothing leaves the machine.
void TypedLineFanOut(benchmark::State &state)
{
    QTemporaryDir folder;
    MainWindowOptions options;
    options.iniPath = folder.filePath(QStringLiteral("Vorlan.ini"));
    options.commandLine = QStringLiteral("0");
    options.identity = HostIdentity{QStringLiteral("bench"), QStringLiteral("127.0.0.1")};
    options.bindAddress = QStringLiteral("127.0.0.1");
    options.segment = QStringList{QStringLiteral("127.0.0.1")};
    MainWindow window(options);
    window.setMessagePresenter([](const QString &, QMessageBox::Icon) {});
    if (window.Form_Load() != 0) {
        state.SkipWithError("the window did not start");
        return;
    }
    const int rows = int(state.range(0));
    for (int i = 0; i < rows - 1; ++i)
        window.lvMember()->UpdateMember(QStringLiteral("0"), QStringLiteral("user"), QStringLiteral("pc"),
                                        QStringLiteral("127.0.%1.%2").arg(1 + i / 250).arg(i % 250 + 1),
                                        QStringLiteral("09:00:00"));
    for (auto _ : state) {
        window.txtSend()->setPlainText(QStringLiteral("全員に届く一行のメッセージです"));
        window.comEnter_Click();
    }
    state.SetComplexityN(rows);
}
BENCHMARK(TypedLineFanOut)->RangeMultiplier(2)->Range(250, 4000)->Complexity()->Unit(benchmark::kMillisecond);


} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
