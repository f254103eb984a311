#include "settings/optionrules.h"
#include "settings/optionsave.h"

#include <gtest/gtest.h>

using namespace vorlan;

TEST(OptionRules, blink_field_holds_0_to_10_and_keeps_the_empty_text)
{
    const struct { const char *typed; const char *shown; qint16 minutes; } cases[] = {
        {"", "", 0},      {"7", "7", 7},     {"10", "10", 10}, {"0", "0", 0},
        {"79", "10", 10}, {"15", "10", 10},  {"-3", "10", 10}, {"11", "10", 10},
        {"0010", "0010", 10}, {"99999999999999", "10", 10},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(flashFieldText(QString::fromLatin1(c.typed)), QLatin1String(c.shown)) << c.typed;
        EXPECT_EQ(flashMinutesFromText(flashFieldText(QString::fromLatin1(c.typed))), c.minutes) << c.typed;
    }
}

TEST(OptionRules, addresses_are_trimmed_unique_with_case_significant_and_never_blank)
{
    QStringList list = {QStringLiteral("hosta")};
    EXPECT_TRUE(addAddress(list, QStringLiteral("  192.168.1.20  ")));
    EXPECT_FALSE(addAddress(list, QStringLiteral(" 192.168.1.20")));
    EXPECT_TRUE(addAddress(list, QStringLiteral("HostA")));
    EXPECT_FALSE(addAddress(list, QStringLiteral("   ")));
    EXPECT_FALSE(addAddress(list, QString()));
    EXPECT_EQ(list, QStringList({"hosta", "192.168.1.20", "HostA"}));
}

TEST(OptionRules, keyword_text_and_list_convert_as_the_peers_store_them)
{
    EXPECT_EQ(keywordTextFromList({}), QString());
    EXPECT_EQ(keywordTextFromList({"abc", "def"}), QStringLiteral("abc\r\ndef\r\n"));

    const struct { const char *text; QStringList keywords; } cases[] = {
        {"", {}},
        {"\r\n", {}},
        {"abc\r\ndef\r\n", {"abc", "def"}},
        {"abc\r\ndef", {"abc", "def"}},
        {"abc\r\n\r\ndef", {"abc", "", "def"}},
        {"abc\r\n\r\n", {"abc", ""}},      // only one final line break goes
        {" a b \r\n", {" a b "}},          // as typed
    };
    for (const auto &c : cases)
        EXPECT_EQ(keywordsFromText(QString::fromLatin1(c.text)), c.keywords) << c.text;
}

TEST(OptionRules, sound_is_the_last_checked_box_and_actions_outside_the_grid_show_as_0)
{
    EXPECT_EQ(soundFromBoxes(false, false, false), 0);
    EXPECT_EQ(soundFromBoxes(true, false, false), 1);
    EXPECT_EQ(soundFromBoxes(false, true, false), 2);
    EXPECT_EQ(soundFromBoxes(false, false, true), 3);
    EXPECT_EQ(soundFromBoxes(true, true, true), 3);
    const qint16 actions[] = {-1, 0, 1, 2, 3, 7};
    const int buttons[] = {0, 0, 1, 2, 0, 0};
    for (size_t i = 0; i < std::size(actions); ++i)
        EXPECT_EQ(actionButton(actions[i]), buttons[i]) << actions[i];
}

TEST(OptionRules, user_name_takes_no_comma_and_at_most_126_bytes)
{
    EXPECT_EQ(userNameFieldText(QStringLiteral("a,b,c")), QStringLiteral("abc"));
    // 63 double-byte characters are 126 bytes; one more ASCII letter does not fit.
    const QString kana(63, QChar(u'あ'));
    EXPECT_EQ(userNameFieldText(kana + u'x'), kana);
    EXPECT_EQ(userNameFieldText(u'x' + kana), QString(u'x' + kana.left(62)));
    EXPECT_TRUE(userNameAcceptable(kana));
    EXPECT_FALSE(userNameAcceptable(kana + u'x'));
    EXPECT_FALSE(userNameAcceptable(QStringLiteral("bob,")));
    EXPECT_TRUE(userNameAcceptable(QStringLiteral("bob")));
    EXPECT_EQ(userNameMaxLength(QStringLiteral("bob")), 10);
    EXPECT_EQ(userNameMaxLength(QString(14, u'x')), 14);
}

TEST(OptionRules, auto_away_minutes_are_0_to_120)
{
    const qint32 stored[] = {-5, 0, 1, 120, 121, 70000};
    const qint16 minutes[] = {0, 0, 1, 120, 120, 120};
    for (size_t i = 0; i < std::size(stored); ++i)
        EXPECT_EQ(autoAwayMinutes(stored[i]), minutes[i]) << stored[i];
}

TEST(OptionSave, every_key_in_the_order_the_peers_write_them)
{
    OptionValues v;
    v.logEnabled = true;
    v.logFolder = QStringLiteral("/var/log/chat ");
    v.flashText = QString();
    v.userName = QStringLiteral("  taro  ");
    v.honorific = QStringLiteral(" さん ");
    v.messageColor = 255;
    v.addresses = {"10.0.0.1", "hostb", "10.0.0.3"};
    v.actions = {0, 1, 2};
    v.sounds = {1, 2, 3};
    v.receiveWave = QStringLiteral("r.wav");
    v.importantWave = QString();
    v.keywordText = QStringLiteral("abc\r\n\r\ndef");
    v.iconFiles = {QStringLiteral("s.ico"), QString(), QStringLiteral("p.ico"), QStringLiteral("d.ico")};
    v.fonts = {FontSetting{"Sans", 9, true, false}, FontSetting{"Serif", 12, false, true},
               FontSetting{"Mono", 10, false, false}};
    v.notify = false;
    v.autoAway = 15;

    QStringList written;
    for (const IniWrite &w : optionWrites(v))
        written.append(w.section + u'/' + w.key + u'=' + w.value);
    EXPECT_EQ(written, QStringList({
        "OPT/LogChk=1", "OPT/LogDir=/var/log/chat ", "OPT/FT=", "OPT/UserName=taro",
        QStringLiteral("OPT/Miss=さん"), "OPT/CO=255",
        "IP/1=10.0.0.1", "IP/2=hostb", "IP/3=10.0.0.3", "IP/4=",
        "OPT/Normal=0", "OPT/Keyword=1", "OPT/Specify=2",
        "OPT/BeepNormal=1", "OPT/BeepKeyword=2", "OPT/BeepSpecify=3",
        "WAVE/Move=r.wav", "WAVE/Pop=",
        "KEY/1=abc", "KEY/2=", "KEY/3=def", "KEY/4=",
        "ICON/Stand=s.ico", "ICON/Move=", "ICON/Pop=p.ico", "ICON/Desk=d.ico",
        "OPT/MemberFontName=Sans", "OPT/MemberFontSize=9", "OPT/MemberFontItalic=True", "OPT/MemberFontBold=False",
        "OPT/MessageFontName=Serif", "OPT/MessageFontSize=12", "OPT/MessageFontItalic=False", "OPT/MessageFontBold=True",
        "OPT/SendFontName=Mono", "OPT/SendFontSize=10", "OPT/SendFontItalic=False", "OPT/SendFontBold=False",
        "OPT/Notify=0", "OPT/AutoAway=15"}));

    RunningSettings s;
    QString userName;
    applyToRunning(v, s, userName);
    EXPECT_EQ(userName, "taro");
    EXPECT_EQ(s.Honorific, QStringLiteral("さん"));
    EXPECT_EQ(s.FlashMinutes, 0);
    EXPECT_EQ(s.LogEnabled, 1);
    EXPECT_EQ(s.LogFolder, "/var/log/chat ");
    EXPECT_EQ(s.SpecifyAction, 2);
    EXPECT_EQ(s.KeywordSound, 2);
    EXPECT_EQ(s.MoveIconFile, QString());
    EXPECT_EQ(s.DeskIconFile, "d.ico");
    EXPECT_EQ(s.AutoAway, 15);
}

TEST(OptionSave, empty_lists_write_only_their_end_marks)
{
    OptionValues v;
    QStringList written;
    for (const IniWrite &w : optionWrites(v)) {
        if (w.section == "IP" || w.section == "KEY")
            written.append(w.section + u'/' + w.key + u'=' + w.value);
    }
    EXPECT_EQ(written, QStringList({"IP/1=", "KEY/1="}));
}
