// Finding a member by address happens for every received message; its cost must not follow the
// size of the office.
#include "benchsupport.h"

namespace vorlan::bench {

namespace {

QString addressOf(int i)
{
    return QStringLiteral("10.1.%1.%2").arg(i / 250).arg(i % 250 + 1);
}

void UpdateExistingMember(benchmark::State &state)
{
    MemberList members;
    const int rows = int(state.range(0));
    for (int i = 0; i < rows; ++i)
        members.UpdateMember(QStringLiteral("0"), QStringLiteral("user%1").arg(i),
                             QStringLiteral("pc%1").arg(i), addressOf(i), QStringLiteral("09:00:00"));
    // The last row: the one a walk from the top reaches last.
    const QString address = addressOf(rows - 1);
    int i = 0;
    for (auto _ : state) {
        members.UpdateMember((++i & 1) ? QStringLiteral("1") : QStringLiteral("0"),
                             QStringLiteral("user"), QStringLiteral("pc"), address,
                             QStringLiteral("09:00:00"));
    }
}

} // namespace

void registerRosterBenchmarks()
{
    tuned(benchmark::RegisterBenchmark("UpdateExistingMember", UpdateExistingMember))
        ->Arg(sizes().fewMembers)->Arg(sizes().manyMembers)->Unit(benchmark::kMicrosecond);
}

} // namespace vorlan::bench
