#include "away/autoaway.h"
#include "presence/presence.h"
#include "support/fakeidlesource.h"
#include "support/loopbackpeers.h"

#include <QPushButton>
#include <gtest/gtest.h>

using namespace vorlan;
using test::waitFor;

namespace {

enum class Do { Idle, Lock, Unlock, Button, Minutes };

struct Step
{
    Do what;
    qint64 value; // milliseconds idle, or minutes
    bool away;    // what every member is shown afterwards
};

struct Case
{
    const char *what;
    int minutes; // OPT/AutoAway at start-up
    std::vector<Step> steps;
};

class AutoAwayTest : public test::LoopbackPeers
{
protected:
    static QString desk(const MainWindow &viewer) { return cellOf(viewer, "127.0.0.2", MemberList::Desk); }
};

} // namespace

// The rule against an idle source the test drives, seen from the window itself and from a peer.
TEST_F(AutoAwayTest, IdleOrLockedGoesAwayAndInputOrUnlockComesBackUnlessTheButtonWentAway)
{
    constexpr qint64 Min = 60000;
    const std::vector<Case> cases = {
        {"idle rising past the minutes, then input", 1,
         {{Do::Idle, 30000, false}, {Do::Idle, Min - 1, false}, {Do::Idle, Min, true},
          {Do::Idle, Min + 2000, true}, {Do::Idle, Min + 1500, true}, // an answer that came late
          {Do::Idle, 400, false}, {Do::Idle, 2400, false}}},
        {"lock, typing the password, unlock", 5,
         {{Do::Idle, 5000, false}, {Do::Lock, 0, true}, {Do::Idle, 200, true}, {Do::Unlock, 0, false}}},
        {"away by the button stays away", 1,
         {{Do::Button, 0, true}, {Do::Idle, Min + 10000, true}, {Do::Idle, 100, true},
          {Do::Lock, 0, true}, {Do::Unlock, 0, true}, {Do::Button, 0, false}}},
        {"back by the button, then away by it", 1,
         {{Do::Idle, Min, true}, {Do::Button, 0, false}, {Do::Button, 0, true}, {Do::Idle, 100, true}}},
        {"off", 0,
         {{Do::Idle, 100 * Min, false}, {Do::Lock, 0, false}, {Do::Idle, 100, false}, {Do::Unlock, 0, false}}},
        {"minutes changed while away", 1,
         {{Do::Idle, Min, true}, {Do::Minutes, 10, true}, {Do::Idle, Min + 2000, true},
          {Do::Idle, 100, false}, {Do::Idle, 10 * Min - 1, false}, {Do::Idle, 10 * Min, true},
          {Do::Minutes, 0, false}, {Do::Idle, 100 * Min, false}}},
        {"switched on later", 0,
         {{Do::Idle, 3 * Min, false}, {Do::Minutes, 2, false}, {Do::Idle, 3 * Min + 2000, true}}},
    };

    MainWindow &b = start("127.0.0.3", "pc03", "bob");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        test::FakeIdleSource idle;
        const QString ini = folder.filePath("pc02.ini");
        test::writeFile(ini, "[OPT]\r\nUserName=alice\r\nAutoAway=" + QByteArray::number(c.minutes) + "\r\n");
        MainWindowOptions options;
        options.iniPath = ini;
        options.identity = HostIdentity{"pc02", "127.0.0.2"};
        options.bindAddress = "127.0.0.2";
        options.segment = test::LoopbackSegment;
        options.idleSource = &idle;
        MainWindow &a = launch(options);
        ASSERT_TRUE(waitFor([&] { return rowOf(a, "127.0.0.3") >= 0 && rowOf(b, "127.0.0.2") >= 0; }));
        // Asked every few seconds while on; never while off.
        EXPECT_EQ(a.autoAway().poll().isActive(), c.minutes > 0);
        EXPECT_LE(a.autoAway().poll().interval(), 5000);
        auto *comDesk = a.findChild<QPushButton *>("comDesk");

        for (size_t i = 0; i < c.steps.size(); ++i) {
            const Step &step = c.steps[i];
            SCOPED_TRACE("step " + std::to_string(i + 1));
            switch (step.what) {
            case Do::Idle: idle.report(step.value); break;
            case Do::Lock: idle.lock(true); break;
            case Do::Unlock: idle.lock(false); break;
            case Do::Button: comDesk->click(); break;
            case Do::Minutes: a.autoAway().setMinutes(int(step.value)); break;
            }
            // The button's own path: DeskFlag, caption, icon, and the notice to every member.
            EXPECT_EQ(a.identity().deskFlag, step.away ? "1" : "0");
            EXPECT_EQ(comDesk->text(), step.away ? QStringLiteral("在席通知") : QStringLiteral("不在通知"));
            EXPECT_EQ(a.windowIcon().cacheKey(), (step.away ? a.picDesk : a.picVorlan).cacheKey());
            const QString shown = step.away ? QStringLiteral("不在") : QString();
            EXPECT_TRUE(waitFor([&] { return desk(a) == shown && desk(b) == shown; })) << desk(b).toStdString();
        }
        EXPECT_EQ(a.autoAway().poll().isActive(), a.autoAway().minutes() > 0);
        // Closed, the window tells nobody anything more.
        const QString flag = a.identity().deskFlag;
        a.close();
        idle.report(100 * Min);
        EXPECT_EQ(a.identity().deskFlag, flag);
        idle.lock(flag == "0");
        EXPECT_EQ(a.identity().deskFlag, flag);
        std::erase_if(windows, [&a](const auto &window) { return window.get() == &a; });
    }
    EXPECT_TRUE(noMessages());
}
