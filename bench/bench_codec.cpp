// A character code page 932 lacks turns into "?" or its best fit; a line holding one must cost
// about what a line without it costs.
#include "benchsupport.h"

#include "base/codec.h"

namespace vorlan::bench {

namespace {

QString lineWith(const QString &character)
{
    return QStringLiteral("09:00:00 太郎->\tこれは六十文字ほどの普通の会話の行です。") + character
           + QStringLiteral("ここから先も日本語と English の混ざった文です。");
}

// 0: every character encodable; then one character that is not: a symbol, a character beyond
// the 16-bit range, one with a best fit, a broken surrogate.
const QString Characters[] = {QStringLiteral("☆"), QStringLiteral("☃"), QStringLiteral("😀"),
                              QStringLiteral("é"), QString(QChar(0xD800))};

void EncodeLine(benchmark::State &state)
{
    const QString line = lineWith(Characters[state.range(0)]);
    for (auto _ : state)
        benchmark::DoNotOptimize(encodeCp932(line));
}

} // namespace

void registerCodecBenchmarks()
{
    tuned(benchmark::RegisterBenchmark("EncodeLine", EncodeLine))
        ->DenseRange(0, 4)->Unit(benchmark::kMicrosecond);
}

} // namespace vorlan::bench
