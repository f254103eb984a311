// Per received chat line, the cost must not grow with the length of the conversation. Each
// benchmark runs with a short (100 lines) and a long (100,000 lines) conversation in the view;
// the report ends with the long/short ratio of each, measured in the same run.
#include "base/clock.h"
#include "conversation/conversationview.h"
#include "protocol/dispatcher.h"
#include "roster/memberlist.h"
#include "settings/runningsettings.h"

#include <QApplication>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>

using namespace vorlan;

namespace {

struct Conversation
{
    explicit Conversation(int lines)
        : dispatcher(members, view, me, settings, clock,
                     Dispatcher::Hooks{[](const QString &, const QString &) {}, {}, {}, {}})
    {
        me.address = QStringLiteral("10.0.0.1");
        me.hostName = QStringLiteral("pc01");
        me.startTime = QStringLiteral("09:00:00");
        for (int i = 0; i < lines; ++i)
            dispatcher.ProcessMessage(QStringLiteral("100 0太郎,pc02,10.0.0.2,09:00:00,これは%1行目のメッセージです").arg(i));
    }

    SystemClock clock;
    Identity me;
    RunningSettings settings;
    MemberList members;
    ConversationView view;
    Dispatcher dispatcher;
};

void ReceiveChatLine(benchmark::State &state)
{
    Conversation conversation(int(state.range(0)));
    int i = 0;
    for (auto _ : state)
        conversation.dispatcher.ProcessMessage(
            QStringLiteral("100 0花子,pc03,10.0.0.3,09:00:00,新しい行 %1").arg(++i));
}
BENCHMARK(ReceiveChatLine)->Arg(100)->Arg(100000)->Unit(benchmark::kMicrosecond);

void BuildPastLogReply(benchmark::State &state)
{
    Conversation conversation(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(conversation.dispatcher.pastLogReply());
}
BENCHMARK(BuildPastLogReply)->Arg(100)->Arg(100000)->Unit(benchmark::kMicrosecond);

// Prints, after the usual table, how much slower each benchmark is with the long conversation.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            const std::string name = run.benchmark_name();
            const std::string family = name.substr(0, name.find('/'));
            const std::string size = name.substr(name.find('/') + 1);
            m_times[family][size] = run.GetAdjustedRealTime();
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        for (const auto &[family, sizes] : m_times) {
            if (sizes.count("100") && sizes.count("100000"))
                std::printf("%s: 100000 lines / 100 lines = %.2f\n", family.c_str(),
                            sizes.at("100000") / sizes.at("100"));
        }
    }

private:
    std::map<std::string, std::map<std::string, double>> m_times;
};

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
