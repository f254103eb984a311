// Every logged line reaches the operating system before WriteLog returns; beyond that one write
// it should cost little more than the write itself.
#include "benchsupport.h"

#include "base/codec.h"
#include "conversation/logwriter.h"

#include <QFile>
#include <QTemporaryDir>

namespace vorlan::bench {

namespace {

const QString Item = QStringLiteral("09:00:00 太郎->\tログに残る六十文字ほどの会話の行です。ここから先も続きます。");

void WriteLogCalls(benchmark::State &state)
{
    QTemporaryDir folder;
    SystemClock clock;
    LogWriter log(clock);
    log.open(folder.path());
    const QStringList items{Item};
    const int calls = int(state.range(0));
    for (auto _ : state) {
        for (int i = 0; i < calls; ++i)
            log.WriteLog(items);
    }
    state.SetItemsProcessed(state.iterations() * calls);
}

// The floor: the same bytes, written and flushed one line at a time.
void PlainWriteAndFlush(benchmark::State &state)
{
    QTemporaryDir folder;
    QFile file(folder.filePath(QStringLiteral("plain.txt")));
    file.open(QIODevice::WriteOnly | QIODevice::Append);
    const QByteArray bytes = encodeCp932(Item) + "\r\n";
    const int calls = int(state.range(0));
    for (auto _ : state) {
        for (int i = 0; i < calls; ++i) {
            file.write(bytes);
            file.flush();
        }
    }
    state.SetItemsProcessed(state.iterations() * calls);
}

} // namespace

void registerLogBenchmarks()
{
    for (auto *benchmark : {benchmark::RegisterBenchmark("WriteLogCalls", WriteLogCalls),
                            benchmark::RegisterBenchmark("PlainWriteAndFlush", PlainWriteAndFlush)}) {
        benchmark->Arg(sizes().logWrites)->Unit(benchmark::kMillisecond);
        // Both sides are mostly the kernel's write path, whose cost on a shared machine moves
        // from one moment to the next: the table's runner takes the median of repetitions that
        // it interleaves with the others.
        benchmark->Iterations(sizes().smoke ? 1 : 3);
    }
}

} // namespace vorlan::bench
