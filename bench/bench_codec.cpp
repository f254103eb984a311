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

void EncodeLine(benchmark::State &state)
{
    // 0: every character encodable; 1: one character (a snowman) that is not.
    const QString line = lineWith(state.range(0) ? QStringLiteral("☃") : QStringLiteral("☆"));
    for (auto _ : state)
        benchmark::DoNotOptimize(encodeCp932(line));
}

} // namespace

void registerCodecBenchmarks()
{
    tuned(benchmark::RegisterBenchmark("EncodeLine", EncodeLine))
        ->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
}

} // namespace vorlan::bench
