#pragma once

#include "base/clock.h"
#include "conversation/conversationview.h"
#include "app/dispatcher.h"
#include "roster/memberlist.h"
#include "settings/runningsettings.h"

#include <QString>
#include <benchmark/benchmark.h>

namespace vorlan::bench {

// How big the benchmarks are. The full sizes are those of the published table; the smoke sizes
// only prove that every benchmark still builds and runs.
struct Sizes
{
    bool smoke = false;
    int longConversation = 100000;
    int shortConversation = 100;
    int fewMembers = 20;
    int manyMembers = 2000;
    int logWrites = 100000;
};

const Sizes &sizes();
void setSmoke();

// Applies the run settings every registered benchmark shares: a single iteration in a smoke run.
benchmark::internal::Benchmark *tuned(benchmark::internal::Benchmark *benchmark);

// A receiving peer without a window: the roster, the view and the dispatch, lines arriving as
// a peer at 10.0.0.2 sends them, all of them in the view when it is made.
struct Conversation
{
    explicit Conversation(int lines);

    SystemClock clock;
    Identity me;
    RunningSettings settings;
    MemberList members;
    ConversationView view;
    Dispatcher dispatcher;
};

// The view shown on the (offscreen) screen at the size of the main window's design, with its
// layout finished, so that a benchmark includes the layout and paint a user waits for.
void showAndSettle(ConversationView &view);
// Lets every pending event run (layout, paint) the way the event loop would after a datagram;
// with a view, its next frame comes first, without waiting for the frame's time.
void settle();
void settle(ConversationView &view);

// A chat line from 10.0.0.3 with the given text.
QString chatFrom3(const QString &text);
// The address chatFrom3 names, where its lines come from.
inline const QString Peer3 = QStringLiteral("10.0.0.3");

// Every benchmark family registers itself with the sizes of the run.
void registerConversationBenchmarks();
void registerRosterBenchmarks();
void registerLogBenchmarks();
void registerCodecBenchmarks();

} // namespace vorlan::bench
