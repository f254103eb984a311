// Reading the settings file must cost in proportion to its size, whatever it holds: a damaged or
// hostile Vorlan.ini may be large. The report's complexity line should read N, not N^2.
#include "settings/inifile.h"

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

    const IniFile ini(path);
    for (auto _ : state)
        benchmark::DoNotOptimize(ini.readList(QStringLiteral("IP")));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(ReadNumberedList)->RangeMultiplier(4)->Range(1000, 64000)->Complexity()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
