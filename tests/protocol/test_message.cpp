#include "base/codec.h"
#include "protocol/message.h"

#include <gtest/gtest.h>

using namespace vorlan;

namespace {

Identity taro()
{
    Identity id;
    id.userName = QStringLiteral("taro");
    id.hostName = QStringLiteral("pc01");
    id.address = QStringLiteral("192.168.0.5");
    id.startTime = QStringLiteral("09:00:00");
    return id;
}

} // namespace

TEST(MessageBuilders, FormEveryKindFromTheIdentity)
{
    const Identity id = taro();
    EXPECT_EQ(buildJoin(id), "201 0taro,pc01,192.168.0.5,09:00:00");
    EXPECT_EQ(buildChat(id, "hello"), "100 0taro,pc01,192.168.0.5,09:00:00,hello");
    EXPECT_EQ(buildDirectedChat(id, "hanako", "hello"),
              "101 0taro,pc01,192.168.0.5,09:00:00,(To:hanako) hello");
    EXPECT_EQ(buildVersionReply(id), "406 0taro,pc01,192.168.0.5,09:00:00,V1.2.9");
    EXPECT_EQ(buildJoinReply(id), "202 0taro,pc01,192.168.0.5,09:00:00");
    EXPECT_EQ(buildRejoin(id), "203 0taro,pc01,192.168.0.5,09:00:00");
    EXPECT_EQ(buildLeave(id), "301 0taro,pc01,192.168.0.5,09:00:00");
    EXPECT_EQ(buildDeskNotice(id), "402 0taro,pc01,192.168.0.5,09:00:00");
    EXPECT_EQ(buildNameNotice(id), "404 0taro,pc01,192.168.0.5,09:00:00");
    EXPECT_EQ(buildVersionRequest(id), "405 0taro,pc01,192.168.0.5,09:00:00");
    EXPECT_EQ(buildPastLogRequest(id), "500 0taro,pc01,192.168.0.5,09:00:00");
    EXPECT_EQ(buildPastLogReply(id, "a\r\nb\r\n"), "501 0taro,pc01,192.168.0.5,09:00:00,a\r\nb\r\n");

    Identity away = id;
    away.deskFlag = QStringLiteral("1");
    EXPECT_EQ(buildJoin(away), "201 1taro,pc01,192.168.0.5,09:00:00");
    EXPECT_EQ(programTitle(), "Vorlan V1.2.9");
}

TEST(MessageBuilders, JapaneseTextGoesOutAsCodePage932)
{
    Identity id = taro();
    id.userName = QStringLiteral("太郎");
    EXPECT_EQ(encodeCp932(buildChat(id, QStringLiteral("こんにちは"))),
              QByteArray("100 0\x91\xbe\x98\x59,pc01,192.168.0.5,09:00:00,"
                         "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd"));
}

TEST(MessageParser, ReadsHeaderStartTimeAndPayload)
{
    const auto chat = parseMessage("100 0taro,pc01,192.168.0.5,09:00:00,hello, world");
    ASSERT_TRUE(chat);
    EXPECT_EQ(chat->code, "100");
    EXPECT_EQ(chat->deskFlag, "0");
    EXPECT_EQ(chat->userName, "taro");
    EXPECT_EQ(chat->hostName, "pc01");
    EXPECT_EQ(chat->address, "192.168.0.5");
    EXPECT_EQ(chat->startTime, "09:00:00");
    EXPECT_EQ(chat->payload, "hello, world"); // the payload runs to the end, commas and all

    const auto directed = parseMessage("101 1taro,pc01,192.168.0.5,09:00:00,(To:list) a,b");
    ASSERT_TRUE(directed);
    EXPECT_EQ(directed->deskFlag, "1");
    EXPECT_EQ(directed->payload, "(To:list) a,b");

    // Kinds without a payload take everything after the third comma as the start time.
    const auto join = parseMessage("201 0taro,pc01,192.168.0.5,09:00:00,extra");
    ASSERT_TRUE(join);
    EXPECT_EQ(join->startTime, "09:00:00,extra");
    EXPECT_EQ(join->payload, "");

    // And some read nothing after the address.
    const auto leave = parseMessage("301 0taro,pc01,192.168.0.5,09:00:00");
    ASSERT_TRUE(leave);
    EXPECT_EQ(leave->address, "192.168.0.5");
    EXPECT_EQ(leave->startTime, "");
    EXPECT_TRUE(parseMessage("405 0taro,pc01,192.168.0.5,"));
}

// A flood from one sender repeats its header: read after the message before, the fields that
// are equal share its strings, and every field reads as it would on its own.
TEST(MessageParser, AHeaderLikeThePreviousSharesItsStrings)
{
    const char *texts[] = {
        "100 0taro,pc01,192.168.0.5,09:00:00,one",
        "100 0taro,pc01,192.168.0.5,09:00:00,two",
        "101 1taro,pc01,192.168.0.5,09:00:00,(To:x) three",
        "100 1hanako,pc02,192.168.0.6,09:00:01,four",
        "201 1hanako,pc02,192.168.0.6,09:00:01,extra",
        "301 0taro,pc01,192.168.0.5,09:00:00",
        "100 0taro,pc01,192.168.0.5,09:00:00,five",
    };
    const auto fields = [](const ParsedMessage &m) {
        return QStringList{m.code, m.deskFlag, m.userName, m.hostName, m.address, m.startTime, m.payload};
    };
    ParsedMessage previous;
    for (const char *text : texts) {
        SCOPED_TRACE(text);
        const auto alone = parseMessage(QString::fromLatin1(text));
        const auto after = parseMessage(QString::fromLatin1(text), &previous);
        ASSERT_TRUE(alone && after);
        EXPECT_EQ(fields(*after), fields(*alone));
        if (after->userName == previous.userName && !after->userName.isEmpty()) {
            EXPECT_TRUE(after->userName.isSharedWith(previous.userName));
        }
        if (after->address == previous.address && !after->address.isEmpty()) {
            EXPECT_TRUE(after->address.isSharedWith(previous.address));
        }
        previous = *after;
    }
}

TEST(MessageParser, EmptyFieldsAndCharacterFourAreAccepted)
{
    const auto chat = parseMessage("100X0,pc01,192.168.0.5,09:00:00,");
    ASSERT_TRUE(chat);
    EXPECT_EQ(chat->userName, "");
    EXPECT_EQ(chat->payload, "");

    // A comma inside a user name shifts the fields.
    const auto shifted = parseMessage("201 0ta,ro,192.168.0.5,09:00:00,x");
    ASSERT_TRUE(shifted);
    EXPECT_EQ(shifted->userName, "ta");
    EXPECT_EQ(shifted->hostName, "ro");
    EXPECT_EQ(shifted->address, "192.168.0.5");
    // Mostly the shift leaves a name in the address field, and the message is dropped.
    EXPECT_FALSE(parseMessage("201 0ta,ro,pc01,192.168.0.5,09:00:00"));
}

TEST(MessageParser, DropsTextsThatFailTheHeaderRules)
{
    for (const char *text : {
             "", "100 ", "100 0",                          // too short / no commas
             "100 0taro,pc01,192.168.0.5,09:00:00",        // chat without its fourth comma
             "406 0taro,pc01,192.168.0.5,09:00:00",        // version reply likewise
             "501 0taro,pc01,192.168.0.5",                 // only two commas
             "201 0taro,pc01",                             // one comma
             "999 0taro,pc01,192.168.0.5,09:00:00,x",      // unknown code
             "10 0taro,pc01,192.168.0.5,09:00:00,x",
         })
        EXPECT_FALSE(parseMessage(QString::fromLatin1(text))) << text;
    // The commas must come at or after the user name's start.
    EXPECT_FALSE(parseMessage("1,0,0taro"));
    EXPECT_TRUE(parseMessage("100 0taro,pc01,192.168.0.5,09:00:00,"));
}

TEST(MessageParser, AddressFieldMustBeADottedUnicastAddress)
{
    for (const char *address : {"192.168.0.5", "127.0.0.1", "1.2.3.4", "10.0.0.255", "223.255.255.254"})
        EXPECT_TRUE(parseMessage(QStringLiteral("405 0x,h,%1,t").arg(QLatin1String(address)))) << address;

    for (const char *address : {
             "", "pc01", "localhost", "garbage!", "255.255.255.255", "0.0.0.0", "0.1.2.3",
             "224.0.0.1", "239.255.255.250", "240.0.0.1", "1.2.3", "1.2.3.4.5", "1.2.3.4.",
             "01.2.3.4", "1.2.3.256", "1.2.3.1000", " 1.2.3.4", "1.2.3.4 ", "1..3.4", "0x7f.0.0.1",
             "+1.2.3.4", "1.2.3.-4", "2130706433", "\xef\xbc\x91.2.3.4" /* full-width digit one */})
        EXPECT_FALSE(parseMessage(QStringLiteral("405 0x,h,%1,t").arg(QString::fromUtf8(address))))
            << address;
}
