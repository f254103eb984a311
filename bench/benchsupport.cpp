#include "benchsupport.h"

#include <QCoreApplication>

namespace vorlan::bench {

namespace {

Sizes &mutableSizes()
{
    static Sizes value;
    return value;
}

} // namespace

const Sizes &sizes()
{
    return mutableSizes();
}

void setSmoke()
{
    Sizes &s = mutableSizes();
    s.smoke = true;
    s.longConversation = 200;
    s.shortConversation = 10;
    s.fewMembers = 5;
    s.manyMembers = 50;
    s.logWrites = 20;
}

benchmark::internal::Benchmark *tuned(benchmark::internal::Benchmark *benchmark)
{
    if (sizes().smoke)
        benchmark->Iterations(1);
    return benchmark;
}

Conversation::Conversation(int lines)
    : dispatcher(members, view, me, settings, clock,
                 Dispatcher::Hooks{[](const QString &, const QString &) {}, {}, {}, {}, {}})
{
    me.address = QStringLiteral("10.0.0.1");
    me.hostName = QStringLiteral("pc01");
    me.startTime = QStringLiteral("09:00:00");
    // Room above the conversation's length, so that the lines a benchmark adds cut nothing: the
    // cutting has a figure of its own (vorlan_bench_turns).
    view.setMaximumLines(lines + ConversationView::MaxLines);
    for (int i = 0; i < lines; ++i)
        dispatcher.ProcessMessage(QStringLiteral("100 0太郎,pc02,10.0.0.2,09:00:00,これは%1行目のメッセージです").arg(i), QStringLiteral("10.0.0.2"));
    // On the screen now, not in the first timed iteration.
    view.flushLines();
}

void settle()
{
    QCoreApplication::processEvents();
}

void settle(ConversationView &view)
{
    view.flushLines();
    QCoreApplication::processEvents();
}

void showAndSettle(ConversationView &view)
{
    if (view.isVisible())
        return;
    view.resize(577, 113); // the design's 8655 x 1695 twips at 96 dpi
    view.show();
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents();
}

QString chatFrom3(const QString &text)
{
    return QStringLiteral("100 0花子,pc03,10.0.0.3,09:00:00,") + text;
}

} // namespace vorlan::bench
