#include "base/framepacer.h"
#include "presence/alertplan.h"
#include "presence/blinker.h"
#include "presence/notificationpacer.h"
#include "presence/presence.h"
#include "protocol/message.h"
#include "roster/memberlist.h"
#include "settings/runningsettings.h"

#include <QPixmap>
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>

using namespace vorlan;


namespace {

QIcon colouredIcon(Qt::GlobalColor colour)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(colour);
    return QIcon(pixmap);
}

// Presence with every platform call recorded as one short line.
class PresenceTest : public ::testing::Test
{
protected:
    PresenceTest()
    {
        me = {"0", "me", "pc00", "192.168.0.5", "09:00:00"};
        settings.ReceiveWaveFile = "/snd/receive.wav";
        settings.ImportantWaveFile = "/snd/important.wav";
        keywords = {QStringLiteral("会議")};
        Presence::Seams &s = presence.seams();
        s.setIcon = [this](const QIcon &icon) {
            const QIcon *all[] = {&standing, &received, &important, &away};
            const char *names[] = {"standing", "received", "important", "away"};
            for (int i = 0; i < 4; ++i)
                if (all[i]->cacheKey() == icon.cacheKey())
                    events << QString::fromLatin1(names[i]);
        };
        s.setCaption = [this](const QString &caption) { events << caption; };
        s.showTitle = [this] { events << "title"; };
        s.raiseWindow = [this] { events << "raise"; };
        s.beep = [this] { events << "beep"; };
        s.playSound = [this](const QString &file) { events << file; };
        s.setDeskCaption = [this](const QString &caption) { events << caption; };
        s.send = [this](const QString &text, const QString &to) { events << text + " to " + to; };
        s.pump = [this] { if (onPump) onPump(); };
    }

    // What each of the next n ticks shows.
    QStringList ticks(int n)
    {
        QStringList shown;
        for (int i = 0; i < n; ++i) {
            events.clear();
            presence.timStanding_Timer();
            shown << events.join(u'+');
        }
        events.clear();
        return shown;
    }

    MemberList members;
    Identity me;
    RunningSettings settings;
    QStringList keywords;
    QIcon standing = colouredIcon(Qt::gray), received = colouredIcon(Qt::green);
    QIcon important = colouredIcon(Qt::red), away = colouredIcon(Qt::blue);
    bool windowActive = false;
    QStringList events;
    std::function<void()> onPump;
    Presence presence{{members, me, settings, keywords, {standing, received, important, away}, windowActive}, {}};
};

} // namespace

TEST_F(PresenceTest, BlinkRunsItsMinutesStopsOnActivationAndKeepsItsPhase)
{
    presence.alert(Code::Chat, "taro", "hello");
    EXPECT_EQ(events, QStringList({"Vorlan taro-> hello"}));
    EXPECT_TRUE(presence.timStanding().isActive());
    EXPECT_EQ(presence.timStanding().interval(), 1000);
    const QStringList shown = ticks(180);
    for (int i = 0; i < 179; ++i)
        ASSERT_EQ(shown[i], i % 2 ? "received" : "standing") << "tick " << i + 1;
    EXPECT_EQ(shown[179], "standing+title");
    EXPECT_FALSE(presence.timStanding().isActive());

    // That blink left the phase at the alert icon: the next one starts with it. Activation ends
    // a blink at the next tick.
    presence.alert(Code::Chat, "taro", "one");
    EXPECT_EQ(ticks(2), QStringList({"received", "standing"}));
    windowActive = true;
    EXPECT_EQ(ticks(1), QStringList({"standing+title"}));
    EXPECT_FALSE(presence.timStanding().isActive());
    windowActive = false;
    presence.alert(Code::Chat, "taro", "two");
    EXPECT_EQ(ticks(2), QStringList({"standing", "received"}));

    // With FlashMinutes 0 only activation ends it.
    settings.FlashMinutes = 0;
    presence.alert(Code::Chat, "taro", "again");
    EXPECT_FALSE(ticks(1000).contains("standing+title"));
    windowActive = true;
    EXPECT_EQ(ticks(1), QStringList({"standing+title"}));
}

// A count of 0 or below never reaches the last tick; such a blink stops where a 16-bit
// counter would have run out. Long settings blink for their full time.
TEST(Blinker, LengthOfAnUnnoticedBlink)
{
    const struct { qint16 flashMinutes; int ticks; } cases[] = {
        {3, 180}, {1, 60}, {546, 32760}, {600, 36000}, {0, 32768}, {-1, 32768}};
    for (const auto &c : cases) {
        Blinker blinker;
        blinker.start(Blinker::countFor(c.flashMinutes));
        int ticks = 1;
        while (!blinker.tick(false).ended && ticks <= 100000)
            ++ticks;
        EXPECT_EQ(ticks, c.ticks) << "FlashMinutes " << c.flashMinutes;
    }
}

// What one line does by its class (keyword 会議 listed) and the class's action and sound.
TEST_F(PresenceTest, AlertsByClassActionAndSound)
{
    const struct
    {
        QStringView code;
        const char *payload;
        QStringList keywords;
        qint16 actions[3], sounds[3]; // Normal, KeyWord, Specify
        QStringList expected;         // the calls, then the blink that runs
    } cases[] = {
        {Code::Chat, "会議です", {"会議"}, {0, 1, 0}, {0, 0, 0}, {"Vorlan taro-> 会議です", "important 180"}},
        {Code::Chat, "雑談です", {"会議"}, {0, 1, 0}, {0, 0, 0}, {"Vorlan taro-> 雑談です", "received 180"}},
        {Code::Chat, "ABC", {"abc"}, {0, 1, 0}, {0, 0, 0}, {"Vorlan taro-> ABC", "received 180"}},
        {Code::Chat, "ABC", {"x", ""}, {0, 1, 0}, {0, 0, 0}, {"Vorlan taro-> ABC", "important 180"}},
        {Code::DirectedChat, "(To:me) 会議", {"会議"}, {0, 1, 2}, {0, 0, 0}, {"raise", "-"}},
        {Code::Chat, "会議", {"会議"}, {7, 7, 7}, {0, 2, 0}, {"/snd/receive.wav", "-"}},
        {Code::Chat, "x", {}, {0, 0, 0}, {3, 0, 0}, {"Vorlan taro-> x", "/snd/important.wav", "received 180"}},
        {Code::Chat, "x", {}, {-1, 0, 0}, {4, 0, 0}, {"-"}},
        {Code::Chat, "x", {}, {2, 0, 0}, {1, 0, 0}, {"raise", "beep", "beep", "beep", "beep", "beep", "-"}},
    };
    for (const auto &c : cases) {
        events.clear();
        windowActive = false;
        keywords = c.keywords;
        settings.NormalAction = c.actions[0], settings.KeywordAction = c.actions[1];
        settings.SpecifyAction = c.actions[2], settings.NormalSound = c.sounds[0];
        settings.KeywordSound = c.sounds[1], settings.SpecifySound = c.sounds[2];
        Presence fresh({members, me, settings, keywords, {standing, received, important, away}, windowActive},
                       presence.seams());
        fresh.alert(c.code, "taro", QString::fromUtf8(c.payload));
        events << (!fresh.timStanding().isActive()       ? QStringLiteral("-")
                   : fresh.blinker().BlinkPopIcon() ? "important " + QString::number(fresh.blinker().BlinkCount())
                                                    : "received " + QString::number(fresh.blinker().BlinkCount()));
        EXPECT_EQ(events, c.expected) << c.payload;
    }
    EXPECT_TRUE(windowActive); // the last pop-up counts as looking at the window
}

TEST_F(PresenceTest, AwayNothingActiveOnlyTheWindowComesForward)
{
    settings.NormalSound = 1;
    me.deskFlag = "1";
    presence.alert(Code::Chat, "taro", "hello");
    presence.alert(Code::DirectedChat, "taro", "(To:me) hello");
    EXPECT_TRUE(events.isEmpty());
    me.deskFlag = "0";
    windowActive = true;
    presence.alert(Code::Chat, "taro", "hello");
    EXPECT_EQ(events, QStringList({"raise"}));
    EXPECT_FALSE(presence.timStanding().isActive());
}

TEST_F(PresenceTest, DeskToggleTellsEveryListedRowAndSkipsVanishedOnes)
{
    presence.comDesk_Click(); // nobody listed: state, caption and icon only
    EXPECT_EQ(events, QStringList({"在席通知", "away"}));
    EXPECT_EQ(me.deskFlag, "1");

    for (const char *address : {"192.168.0.6", "192.168.0.5", "192.168.0.7"})
        members.UpdateMember("0", "m", "pc", QString::fromLatin1(address), "08:00:00");
    events.clear();
    presence.comDesk_Click();
    const QString back = "402 0me,pc00,192.168.0.5,09:00:00 to ";
    EXPECT_EQ(events, QStringList({"不在通知", "standing", back + "192.168.0.6", back + "192.168.0.5",
                                   back + "192.168.0.7"}));
    // A leave handled between two sends shortens the roster under the loop.
    events.clear();
    onPump = [this] { members.RemoveMember("192.168.0.5"); };
    presence.comDesk_Click();
    const QString gone = "402 1me,pc00,192.168.0.5,09:00:00 to ";
    EXPECT_EQ(events, QStringList({"在席通知", "away", gone + "192.168.0.6", gone + "192.168.0.7"}));
}

// A flood into a window in the background: the caption shows the first line at once, then the
// newest line a few times a second and in the end the last one; the taskbar is asked for
// attention once, and a desktop notification comes at once for the first line and then every
// few seconds, summing up the lines since, until the user looks.
TEST_F(PresenceTest, AFloodInTheBackgroundCaptionsAFewTimesASecondAsksOnceAndNotifiesEveryFewSeconds)
{
    qint64 now = 0;
    presence.frames().setClock([&now] { return now; });
    presence.captions().setClock([&now] { return now; });
    presence.notifications().setClock([&now] { return now; });
    int captions = 0;
    QString caption;
    QStringList asked, notified;
    Presence::Seams &s = presence.seams();
    s.setCaption = [&](const QString &text) { ++captions, caption = text; };
    s.requestAttention = [&](qint32 ticks) { asked << QString::number(ticks); };
    s.notify = [&](const QString &summary, const QString &body) { notified << summary + " | " + body; };
    const QStringList senders = {"taro", "hanako", "jiro", "saburo", "shiro"};
    const auto sender = [&](int i) { return senders[i % 8 < 4 ? 0 : i % 8 - 3]; };
    const auto flood = [&](int from, int to) {
        for (int i = from; i < to; ++i, ++now) {
            presence.frames().runDue();
            presence.captions().runDue();
            presence.notifications().runDue();
            presence.alert(Code::Chat, sender(i), QStringLiteral("line %1").arg(i));
        }
    };

    flood(0, 1);
    EXPECT_EQ(caption, "Vorlan taro-> line 0");
    flood(1, 12000);
    EXPECT_LE(captions, 12000 / Presence::CaptionMs + 1);
    EXPECT_GE(captions, 12000 / Presence::CaptionMs - 1);
    EXPECT_NE(caption, "Vorlan shiro-> line 11999");
    now += Presence::CaptionMs;
    presence.captions().runDue();
    EXPECT_EQ(caption, "Vorlan shiro-> line 11999");
    EXPECT_EQ(asked, QStringList{"180"});
    now = 15000;
    presence.notifications().runDue();
    // Every HoldMs the lines since the user last looked: how many, from whom, the newest.
    QStringList expected = {"taro | line 0"};
    for (int lines = 3000; lines <= 12000; lines += 3000)
        expected << QStringLiteral("shiro ほか4人: %1件 | line %2").arg(lines).arg(lines - 1);
    EXPECT_EQ(notified, expected);
    presence.notifications().runDue();
    EXPECT_EQ(notified.size(), 5);

    // The user looks: the notification goes, the blink ends at the next tick, and a later line
    // is news again.
    s.closeNotification = [&] { notified << "closed"; };
    windowActive = true;
    presence.windowActivated();
    EXPECT_EQ(notified.last(), "closed");
    presence.timStanding_Timer();
    windowActive = false;
    notified.clear();
    asked.clear();
    now = 30000;
    flood(0, 2);
    EXPECT_EQ(caption, "Vorlan taro-> line 0");
    now += Presence::CaptionMs;
    presence.captions().runDue();
    EXPECT_EQ(caption, "Vorlan taro-> line 1");
    EXPECT_EQ(notified, QStringList{"taro | line 0"});
    EXPECT_EQ(asked, QStringList{"180"});
}

// The notifications of lines in the background, against a clock in steps of 100 ms: the first
// line at once, at most one notification every 3 s, the last lines of a burst always shown, and
// the count of lines and senders since the user last looked ("-" is the user looking).
// A host that sends under a new name with every line: the names kept stop growing, and the
// summary says how many at least.
TEST(NotificationPacer, SendersAreCountedUpToALimit)
{
    QString summary;
    NotificationPacer pacer([&](const QString &shown, const QString &) { summary = shown; });
    qint64 now = 0;
    pacer.setClock([&now] { return now; });
    for (int i = 0; i < 998; ++i)
        pacer.add(QStringLiteral("peer %1").arg(i), QStringLiteral("line"));
    now = NotificationPacer::HoldMs;
    pacer.runDue();
    EXPECT_EQ(summary, u"peer 997 ほか997人: 998件");
    for (int i = 998; i < 5000; ++i)
        pacer.add(QStringLiteral("peer %1").arg(i), QStringLiteral("line"));
    now += NotificationPacer::HoldMs;
    pacer.runDue();
    EXPECT_EQ(summary, u"peer 4999 ほか999人以上: 5000件");
}

TEST(NotificationPacer, OneEveryThreeSecondsSummingUpSinceTheUserLooked)
{
    struct Line
    {
        qint64 at;
        const char *name, *line;
    };
    const struct
    {
        const char *what;
        QList<Line> lines;
        QStringList shown; // "ms summary | body"
    } cases[] = {
        {"one line", {{0, "太郎", "おはよう"}}, {"0 太郎 | おはよう"}},
        {"a burst from three", {{0, "太郎", "a"}, {100, "次郎", "b"}, {200, "花子", "c"}},
         {"0 太郎 | a", "3000 花子 ほか2人: 3件 | c"}},
        {"a quiet spell", {{0, "太郎", "a"}, {3500, "花子", "b"}}, {"0 太郎 | a", "3500 花子 ほか1人: 2件 | b"}},
        {"a steady stream",
         {{0, "太郎", "1"}, {1000, "太郎", "2"}, {2000, "太郎", "3"}, {3000, "太郎", "4"}, {3500, "太郎", "5"}},
         {"0 太郎 | 1", "3000 太郎: 3件 | 3", "6000 太郎: 5件 | 5"}},
        {"looked at in between", {{0, "太郎", "a"}, {300, "-", ""}, {500, "花子", "b"}},
         {"0 太郎 | a", "3000 花子 | b"}},
        {"looked at before it was due", {{0, "太郎", "a"}, {100, "花子", "b"}, {300, "-", ""}}, {"0 太郎 | a"}},
        {"a peer without a name", {{0, "", "a"}, {100, "", "b"}}, {"0 Vorlan | a", "3000 Vorlan: 2件 | b"}},
        {"names that look like place markers", {{0, "%2", "a"}, {100, "%1", "%1"}}, {"0 %2 | a", "3000 %1 ほか1人: 2件 | %1"}},
    };
    for (const auto &c : cases) {
        qint64 now = 0;
        QStringList shown;
        NotificationPacer pacer([&](const QString &summary, const QString &body) {
            shown << QString::number(now) + " " + summary + " | " + body;
        });
        pacer.setClock([&now] { return now; });
        for (now = 0; now <= 10000; now += 100) {
            pacer.runDue();
            for (const Line &line : c.lines) {
                if (line.at != now)
                    continue;
                if (QLatin1String(line.name) == "-")
                    pacer.clear();
                else
                    pacer.add(QString::fromUtf8(line.name), QString::fromUtf8(line.line));
            }
        }
        EXPECT_EQ(shown, c.shown) << c.what;
    }
}
