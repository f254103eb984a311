#include "presence/alertplan.h"
#include "presence/blinker.h"
#include "presence/presence.h"
#include "protocol/message.h"
#include "roster/memberlist.h"
#include "settings/runningsettings.h"

#include <QPixmap>
#include <gtest/gtest.h>

#include <functional>

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
        me.userName = QStringLiteral("me");
        me.hostName = QStringLiteral("pc00");
        me.address = QStringLiteral("192.168.0.5");
        me.startTime = QStringLiteral("09:00:00");
        settings.ReceiveWaveFile = QStringLiteral("/snd/receive.wav");
        settings.ImportantWaveFile = QStringLiteral("/snd/important.wav");
    }

    Presence::Seams seams()
    {
        Presence::Seams s;
        s.setIcon = [this](const QIcon &icon) { events << "icon " + iconName(icon); };
        s.setCaption = [this](const QString &caption) { events << "caption " + caption; };
        s.showTitle = [this] { events << "title"; };
        s.raiseWindow = [this] { events << "raise"; };
        s.beep = [this] { events << "beep"; };
        s.playSound = [this](const QString &file) { events << "sound " + file; };
        s.setDeskCaption = [this](const QString &caption) { events << "desk " + caption; };
        s.send = [this](const QString &text, const QString &address) { events << "send " + text + " to " + address; };
        s.pump = [this] {
            if (onPump)
                onPump();
        };
        return s;
    }

    QString iconName(const QIcon &icon) const
    {
        const std::pair<const QIcon *, const char *> names[] = {
            {&standing, "standing"}, {&received, "received"}, {&important, "important"}, {&away, "away"}};
        for (const auto &[candidate, name] : names) {
            if (candidate->cacheKey() == icon.cacheKey())
                return QString::fromLatin1(name);
        }
        return QStringLiteral("?");
    }

    // The icon shown by each of the next n ticks, "|" once the blink has ended.
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
    Presence presence{{members, me, settings, keywords, {standing, received, important, away}, windowActive},
                      seams()};
};

} // namespace

TEST_F(PresenceTest, AnUnnoticedLineBlinksForItsMinutesThenTheNormalCaptionReturns)
{
    presence.alert(Code::Chat, "taro", "hello");
    EXPECT_EQ(events, QStringList({"caption Vorlan taro-> hello"}));
    EXPECT_TRUE(presence.timStanding().isActive());
    EXPECT_EQ(presence.timStanding().interval(), 1000);
    EXPECT_EQ(presence.blinker().BlinkCount(), 180);

    const QStringList shown = ticks(180);
    for (int i = 0; i < 179; ++i)
        ASSERT_EQ(shown[i], i % 2 ? "icon received" : "icon standing") << "tick " << i + 1;
    EXPECT_EQ(shown[179], "icon standing+title");
    EXPECT_FALSE(presence.timStanding().isActive());
    EXPECT_EQ(presence.blinker().BlinkCount(), 0);
}

TEST_F(PresenceTest, ActivationEndsTheBlinkAtTheNextTickAndThePhaseCarriesOver)
{
    presence.alert(Code::Chat, "taro", "one");
    EXPECT_EQ(ticks(2), QStringList({"icon standing", "icon received"}));
    windowActive = true;
    EXPECT_EQ(ticks(1), QStringList({"icon standing+title"}));
    EXPECT_FALSE(presence.timStanding().isActive());

    // Three ticks left the phase at the alert icon: the next blink starts with it.
    windowActive = false;
    settings.NormalAction = 1;
    presence.alert(Code::Chat, "taro", "two");
    EXPECT_EQ(ticks(3), QStringList({"icon important", "icon standing", "icon important"}));

    // A new alert while blinking takes over count, style and caption.
    settings.NormalAction = 0;
    presence.alert(Code::Chat, "hanako", "three");
    EXPECT_EQ(events, QStringList({"caption Vorlan hanako-> three"}));
    EXPECT_EQ(presence.blinker().BlinkCount(), 180);
    EXPECT_EQ(ticks(2), QStringList({"icon standing", "icon received"}));
}

TEST_F(PresenceTest, TheTestButtonBlinksThirtyTicksAsIfTheWindowWereInactive)
{
    windowActive = true;
    presence.comTest_Click();
    EXPECT_FALSE(windowActive);
    EXPECT_TRUE(events.isEmpty()); // no caption of its own
    const QStringList shown = ticks(30);
    EXPECT_EQ(shown[27], "icon received");
    EXPECT_EQ(shown[28], "icon standing");
    EXPECT_EQ(shown[29], "icon standing+title");
    EXPECT_FALSE(presence.timStanding().isActive());
}

// How long a blink nobody notices lasts, by its starting count. A count of 0 or below never
// reaches the last tick; it stops where a 16-bit counter would have run out.
TEST(Blinker, LengthOfAnUnnoticedBlink)
{
    const struct
    {
        qint16 flashMinutes;
        int ticks;
    } cases[] = {{3, 180}, {1, 60}, {10, 600}, {546, 32760}, {600, 36000}, {0, 32768}, {-1, 32768}};
    for (const auto &c : cases) {
        Blinker blinker;
        blinker.start(Blinker::countFor(c.flashMinutes));
        int ticks = 1;
        while (!blinker.tick(false).ended && ticks <= 100000)
            ++ticks;
        EXPECT_EQ(ticks, c.ticks) << "FlashMinutes " << c.flashMinutes;
        EXPECT_EQ(blinker.BlinkCount(), 0);
    }
}

TEST_F(PresenceTest, WithZeroMinutesTheBlinkGoesOnUntilTheWindowIsActive)
{
    settings.FlashMinutes = 0;
    presence.alert(Code::Chat, "taro", "hello");
    const QStringList shown = ticks(1000);
    EXPECT_EQ(shown.count("icon standing+title"), 0);
    EXPECT_TRUE(presence.timStanding().isActive());
    windowActive = true;
    EXPECT_EQ(ticks(1), QStringList({"icon standing+title"}));
    EXPECT_FALSE(presence.timStanding().isActive());
}

TEST(AlertPlan, ClassByCodeAndKeywords)
{
    const struct
    {
        QStringView code;
        const char *payload;
        QStringList keywords;
        AlertClass expected;
    } cases[] = {
        {Code::Chat, "今日の会議は三時", {"昼", "会議"}, AlertClass::KeyWord},
        {Code::Chat, "今日は晴れ", {"昼", "会議"}, AlertClass::Normal},
        {Code::Chat, "ABC", {"abc"}, AlertClass::Normal},           // case-sensitive
        {Code::Chat, "xabcx", {"abc"}, AlertClass::KeyWord},
        {Code::Chat, "anything", {"zzz", ""}, AlertClass::KeyWord}, // an empty keyword matches all
        {Code::Chat, "", {""}, AlertClass::KeyWord},
        {Code::Chat, "anything", {}, AlertClass::Normal},
        {Code::DirectedChat, "(To:me) 会議", {"会議"}, AlertClass::Specify},
    };
    for (const auto &c : cases)
        EXPECT_EQ(classifyAlert(c.code, QString::fromUtf8(c.payload), c.keywords), c.expected) << c.payload;
}

// What one line does, by its class's action and sound settings.
TEST_F(PresenceTest, AlertsByClassActionAndSound)
{
    const struct
    {
        QStringView code;
        const char *payload;
        qint16 normalAction, keywordAction, specifyAction;
        qint16 normalSound, keywordSound, specifySound;
        QStringList expected; // the calls, then the blink that runs ("-" when none)
    } cases[] = {
        {Code::Chat, "会議です", 0, 1, 0, 0, 0, 0, {"caption Vorlan taro-> 会議です", "important 180"}},
        {Code::Chat, "雑談です", 0, 1, 0, 0, 0, 0, {"caption Vorlan taro-> 雑談です", "received 180"}},
        {Code::Chat, "雑談です", 2, 0, 0, 1, 0, 0, {"raise", "beep", "beep", "beep", "beep", "beep", "-"}},
        {Code::Chat, "会議です", 7, 7, 7, 0, 2, 0, {"sound /snd/receive.wav", "-"}},
        {Code::Chat, "雑談です", 0, 0, 0, 3, 0, 0, {"caption Vorlan taro-> 雑談です", "sound /snd/important.wav", "received 180"}},
        {Code::Chat, "雑談です", -1, 0, 0, 4, 0, 0, {"-"}},
        {Code::DirectedChat, "(To:me) 会議", 0, 0, 1, 0, 1, 0, {"caption Vorlan taro-> (To:me) 会議", "important 180"}},
    };
    keywords = {QStringLiteral("会議")};
    for (const auto &c : cases) {
        events.clear();
        windowActive = false;
        settings.NormalAction = c.normalAction;
        settings.KeywordAction = c.keywordAction;
        settings.SpecifyAction = c.specifyAction;
        settings.NormalSound = c.normalSound;
        settings.KeywordSound = c.keywordSound;
        settings.SpecifySound = c.specifySound;
        Presence fresh({members, me, settings, keywords, {standing, received, important, away}, windowActive},
                       seams());
        fresh.alert(c.code, "taro", QString::fromUtf8(c.payload));
        if (fresh.timStanding().isActive())
            events << (fresh.blinker().BlinkPopIcon() ? "important " : "received ")
                          + QString::number(fresh.blinker().BlinkCount());
        else
            events << "-";
        EXPECT_EQ(events, c.expected) << c.payload;
    }
}

TEST_F(PresenceTest, AwayNothingActiveOnlyTheWindowComesForward)
{
    settings.NormalSound = 1;
    me.deskFlag = QStringLiteral("1");
    windowActive = false;
    presence.alert(Code::Chat, "taro", "hello");
    presence.alert(Code::DirectedChat, "taro", "(To:me) hello");
    EXPECT_TRUE(events.isEmpty());

    me.deskFlag = QStringLiteral("0");
    windowActive = true;
    presence.alert(Code::Chat, "taro", "hello");
    EXPECT_EQ(events, QStringList({"raise"}));
    EXPECT_FALSE(presence.timStanding().isActive());

    // After a pop-up the window counts as looked at: the next line only brings it forward.
    events.clear();
    windowActive = false;
    settings.NormalAction = 2;
    settings.NormalSound = 0;
    presence.alert(Code::Chat, "taro", "one");
    presence.alert(Code::Chat, "taro", "two");
    EXPECT_EQ(events, QStringList({"raise", "raise"}));
    EXPECT_TRUE(windowActive);
}

TEST_F(PresenceTest, DeskToggleTellsEveryListedRowAndSkipsVanishedOnes)
{
    presence.comDesk_Click(); // nobody listed: state, caption and icon only
    EXPECT_EQ(events, QStringList({"desk 在席通知", "icon away"}));
    EXPECT_EQ(me.deskFlag, "1");

    for (const char *address : {"192.168.0.6", "192.168.0.5", "192.168.0.7"})
        members.UpdateMember("0", "m", "pc", QString::fromLatin1(address), "08:00:00");
    events.clear();
    presence.comDesk_Click();
    const QString back = QStringLiteral("send 402 0me,pc00,192.168.0.5,09:00:00 to ");
    EXPECT_EQ(events, QStringList({"desk 不在通知", "icon standing", back + "192.168.0.6",
                                   back + "192.168.0.5", back + "192.168.0.7"}));
    EXPECT_EQ(me.deskFlag, "0");

    // A leave handled between two sends shortens the roster under the loop.
    events.clear();
    onPump = [this] { members.RemoveMember("192.168.0.5"); };
    presence.comDesk_Click();
    const QString gone = QStringLiteral("send 402 1me,pc00,192.168.0.5,09:00:00 to ");
    EXPECT_EQ(events, QStringList({"desk 在席通知", "icon away", gone + "192.168.0.6", gone + "192.168.0.7"}));
}
