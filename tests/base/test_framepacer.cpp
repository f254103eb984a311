#include "base/framepacer.h"
#include "support/testsupport.h"

#include <QStringList>
#include <gtest/gtest.h>

using vorlan::FramePacer;

// A script of calls at times by the pacer's clock ("r" request, "o" runOrRequest, "d" the timer
// firing, "c" cancel, "n" the caller did the work itself), and the times the work ran.
TEST(FramePacer, RunsAtMostOnceAFrameHoweverOftenAsked)
{
    const struct
    {
        const char *what;
        const char *script;
        const char *runs;
        qint64 busyInterval = 0;
    } cases[] = {
        {"after a quiet spell, at the next turn", "r100 d100", "100"},
        {"or at once when asked to", "o100", "100"},
        {"a frame's requests make one run, a frame after the last", "o100 r101 o105 r110 d110 d115 d116",
         "100 116"},
        {"a flood: one run a frame", "o0 o4 o8 o12 d12 o16 o20 d20 o24 o28 o32 d32", "0 16 32"},
        {"a run the caller did itself counts as the frame", "n50 r51 d51 d66", "66"},
        {"a cancelled request does not run", "o0 r5 c6 d16 d40", "0"},
        {"nothing asked, nothing runs", "d0 d100", ""},
        {"a flood: a frame after the first run, then the busy interval apart",
         "o0 o4 d16 o20 d40 d56 o60 d95 d96", "0 16 56 96", 40},
        {"after a quiet spell at once again, a frame later the next", "o0 o4 d16 o100 o104 d116",
         "0 16 100 116", 40},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        qint64 now = 0;
        QStringList runs;
        FramePacer pacer([&] { runs << QString::number(now); });
        pacer.setClock([&now] { return now; });
        if (c.busyInterval)
            pacer.setBusyInterval(c.busyInterval);
        for (const QString &step : QString::fromLatin1(c.script).split(u' ')) {
            now = step.mid(1).toLongLong();
            switch (step[0].toLatin1()) {
            case 'r': pacer.request(); break;
            case 'o': pacer.runOrRequest(); break;
            case 'd': pacer.runDue(); break;
            case 'c': pacer.cancel(); break;
            case 'n': pacer.ran(); break;
            }
        }
        EXPECT_EQ(runs.join(u' '), QString::fromLatin1(c.runs));
    }
}
