// Input that anyone can make large must cost in proportion to its size: a damaged or hostile
// Vorlan.ini, a flood of datagrams from ever new senders. Each complexity line of the report
// should read N (or N lgN), never N^2.
#include "base/clock.h"
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
