// Per received line, the cost must not grow with the length of the conversation: each figure
// runs with a short and a long conversation in the view, compared in the same run.
#include "benchsupport.h"

#include <map>
#include <memory>

namespace vorlan::bench {

namespace {

// The long conversation is shared by the benchmarks that read it or add little to it: filling
// a view with 100,000 lines takes far longer than any measurement here. Short ones are made
// afresh, so what one benchmark adds never lengthens another's.
Conversation &conversationOf(int lines, std::unique_ptr<Conversation> &own)
{
    if (lines < sizes().longConversation) {
        own = std::make_unique<Conversation>(lines);
        return *own;
    }
    static Conversation *shared = new Conversation(lines); // lives until the process ends
    return *shared;
}

void ReceiveChatLine(benchmark::State &state)
{
    std::unique_ptr<Conversation> own;
    Conversation &conversation = conversationOf(int(state.range(0)), own);
    // Shown, as a user has it, either way: the long conversation is shared with the worst-line
    // figures, which show it, and a hidden short one would compare a view that lays out its
    // last lines with one that does not, by whichever order the repetitions run in.
    showAndSettle(conversation.view);
    int i = 0;
    for (auto _ : state) {
        conversation.dispatcher.ProcessMessage(chatFrom3(QStringLiteral("新しい行 %1").arg(++i)), Peer3);
        // Onto the screen as if it were the only line of its turn: the dearest case.
        conversation.view.flushLines();
    }
}

void BuildPastLogReply(benchmark::State &state)
{
    std::unique_ptr<Conversation> own;
    Conversation &conversation = conversationOf(int(state.range(0)), own);
    for (auto _ : state)
        benchmark::DoNotOptimize(conversation.dispatcher.pastLogReply());
}

// The largest datagram a peer accepts, as one chat line without a space or a line break: the
// layout has to break it by itself. Measured until the event loop is free again.
void WorstChatLine(benchmark::State &state)
{
    std::unique_ptr<Conversation> own;
    Conversation &conversation = conversationOf(int(state.range(0)), own);
    showAndSettle(conversation.view);
    const QString header = chatFrom3(QString());
    const QString line = header + QString(4094 - header.size(), u'x');
    for (auto _ : state) {
        conversation.dispatcher.ProcessMessage(line, Peer3);
        settle(conversation.view);
    }
}

// The largest past-log reply: 4,094 bytes of short lines, each re-coloured on arrival.
void WorstPastLogReply(benchmark::State &state)
{
    std::unique_ptr<Conversation> own;
    Conversation &conversation = conversationOf(int(state.range(0)), own);
    showAndSettle(conversation.view);
    const QString header = QStringLiteral("501 0花子,pc03,10.0.0.3,09:00:00,");
    QString payload;
    const QString line = QStringLiteral("09:00:00 太郎->\tpast line %1\r\n");
    for (int i = 0; header.size() + payload.size() + line.size() + 8 < 4094; ++i)
        payload += line.arg(i % 10);
    payload += QString(4094 - header.size() - payload.size(), u'y');
    const QString reply = header + payload;
    for (auto _ : state) {
        conversation.dispatcher.ProcessMessage(reply, QStringLiteral("10.0.0.3"));
        settle(conversation.view);
    }
}

} // namespace

void registerConversationBenchmarks()
{
    const Sizes &s = sizes();
    // Empty and long conversations of their own, so the worst lines do not lengthen the others.
    tuned(benchmark::RegisterBenchmark("ReceiveChatLine", ReceiveChatLine))
        ->Arg(s.shortConversation)->Arg(s.longConversation)->Unit(benchmark::kMicrosecond);
    tuned(benchmark::RegisterBenchmark("BuildPastLogReply", BuildPastLogReply))
        ->Arg(s.shortConversation)->Arg(s.longConversation)->Unit(benchmark::kMicrosecond);
    // A fixed count: each iteration lengthens the view, by too little to matter at these counts.
    auto *worstChat = benchmark::RegisterBenchmark("WorstChatLine", WorstChatLine)
                          ->Arg(0)->Arg(s.longConversation)->Unit(benchmark::kMillisecond);
    auto *worstReply = benchmark::RegisterBenchmark("WorstPastLogReply", WorstPastLogReply)
                           ->Arg(0)->Arg(s.longConversation)->Unit(benchmark::kMillisecond);
    worstChat->Iterations(s.smoke ? 1 : 20);
    worstReply->Iterations(s.smoke ? 1 : 20);
}

} // namespace vorlan::bench
