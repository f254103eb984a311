#include "conversation/composer.h"

#include "net/udpendpoint.h"
#include "base/codec.h"
#include "roster/memberlist.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <ostream>


namespace {

using namespace vorlan;
using vorlan::test::RecordingSender;
using Datagram = RecordingSender::Datagram;

const QString MyAddress = QStringLiteral("192.168.0.5");
const QString Me = QStringLiteral("0me,pc00,192.168.0.5,09:00:00"); // the header after the code
const QString TaroAddress = QStringLiteral("192.168.0.6");
const QString HanakoAddress = QStringLiteral("192.168.0.7");
const QString SaburoAddress = QStringLiteral("192.168.0.8");

QString chat(const QString &line) { return QStringLiteral("100 ") + Me + u',' + line; }
QString directed(const QString &to, const QString &line)
{
    return QStringLiteral("101 ") + Me + QStringLiteral(",(To:") + to + QStringLiteral(") ") + line;
}

class ComposerTest : public ::testing::Test
{
protected:
    ComposerTest()
    {
        me.deskFlag = QStringLiteral("0");
        me.userName = QStringLiteral("me");
        me.hostName = QStringLiteral("pc00");
        me.address = MyAddress;
        me.startTime = QStringLiteral("09:00:00");
        // Roster order: taro, the own row, hanako, saburo.
        add(QStringLiteral("taro"), TaroAddress);
        add(QStringLiteral("me"), MyAddress);
        add(QStringLiteral("hanako"), HanakoAddress);
        add(QStringLiteral("saburo"), SaburoAddress);
    }

    Composer::Hooks hooks()
    {
        Composer::Hooks result;
        result.send = [this](const QString &text, const QString &address) {
            events.append(QStringLiteral("send"));
            sender.sent.append({text, address});
        };
        result.pump = [this] {
            ++pumps;
            if (onPump)
                onPump();
        };
        result.setTestVisible = [this](bool visible) { testVisible.append(visible); };
        result.deskToggle = [this] {
            events.append(QStringLiteral("desk"));
            me.deskFlag = QStringLiteral("0");
        };
        return result;
    }

    void add(const QString &user, const QString &address, const QString &host = QStringLiteral("pc"))
    {
        members.UpdateMember(QStringLiteral("0"), user, host, address, QStringLiteral("08:00:00"));
    }

    int rowOf(const QString &address) const { return int(members.addresses().indexOf(address)); }
    void tick(const QString &address) { members.setTicked(rowOf(address), true); }

    void send(const QString &text) { composer.comEnter_Click(text); }

    // The datagrams of one message to every row in roster order.
    QList<Datagram> toEveryRow(const QString &text) const
    {
        QList<Datagram> result;
        for (const QString &address : members.addresses())
            result.append({text, address});
        return result;
    }

    MemberList members;
    Identity me;
    RecordingSender sender;
    QStringList events;
    QList<bool> testVisible;
    int pumps = 0;
    std::function<void()> onPump;
    Composer composer{members, me, hooks()};
};

// --- Lines to everybody (100) ---

TEST_F(ComposerTest, WithoutTicksEveryRowGetsTheLineOwnRowIncluded)
{
    send(QStringLiteral("hello"));

    EXPECT_EQ(sender.sent, QList<Datagram>({{chat("hello"), TaroAddress},
                                            {chat("hello"), MyAddress},
                                            {chat("hello"), HanakoAddress},
                                            {chat("hello"), SaburoAddress}}));
    EXPECT_EQ(pumps, 8); // twice after every send
    EXPECT_TRUE(testVisible.isEmpty());
}

TEST_F(ComposerTest, TickingOnlyTheOwnRowStillSendsToEverybody)
{
    tick(MyAddress);
    send(QStringLiteral("hi"));

    EXPECT_EQ(sender.sent, toEveryRow(chat("hi")));
}

// --- Lines to ticked members (101) ---

TEST_F(ComposerTest, TickedMembersAndTheSenderGetTheDirectedLine)
{
    tick(HanakoAddress);
    tick(TaroAddress);
    send(QStringLiteral("hi"));

    const QString text = directed(QStringLiteral("taro,hanako"), QStringLiteral("hi"));
    EXPECT_EQ(text, QStringLiteral("101 0me,pc00,192.168.0.5,09:00:00,(To:taro,hanako) hi"));
    EXPECT_EQ(sender.sent, QList<Datagram>({{text, TaroAddress}, {text, HanakoAddress}, {text, MyAddress}}));
    EXPECT_EQ(pumps, 6);
}

TEST_F(ComposerTest, TheOwnTickIsLeftOutOfTheListAndGetsOneCopy)
{
    tick(MyAddress);
    tick(SaburoAddress);
    send(QStringLiteral("hi"));

    const QString text = directed(QStringLiteral("saburo"), QStringLiteral("hi"));
    EXPECT_EQ(sender.sent, QList<Datagram>({{text, SaburoAddress}, {text, MyAddress}}));
}

TEST_F(ComposerTest, RecipientWithoutUserNameIsListedByItsHostName)
{
    add(QString(), QStringLiteral("192.168.0.20"), QStringLiteral("pc20"));
    tick(QStringLiteral("192.168.0.20"));
    tick(TaroAddress);
    send(QStringLiteral("a,b"));

    const QString text = directed(QStringLiteral("taro,pc20"), QStringLiteral("a,b"));
    EXPECT_EQ(sender.sent,
              QList<Datagram>({{text, TaroAddress}, {text, QStringLiteral("192.168.0.20")}, {text, MyAddress}}));
}

// --- Several lines, tabs and the final line break ---

TEST_F(ComposerTest, PastedLinesGoOutOneMessageEachInOrder)
{
    send(QStringLiteral("x\r\ny"));

    EXPECT_EQ(sender.sent, toEveryRow(chat("x")) + toEveryRow(chat("y")));
}

TEST_F(ComposerTest, PastedLinesToTickedMembersEachEndWithTheOwnCopy)
{
    tick(HanakoAddress);
    send(QStringLiteral("x\r\ny"));

    const QString x = directed(QStringLiteral("hanako"), QStringLiteral("x"));
    const QString y = directed(QStringLiteral("hanako"), QStringLiteral("y"));
    EXPECT_EQ(sender.sent, QList<Datagram>({{x, HanakoAddress}, {x, MyAddress}, {y, HanakoAddress}, {y, MyAddress}}));
}

TEST_F(ComposerTest, EmptyLinesAreSentAndOnlyOneFinalLineBreakIsDropped)
{
    send(QStringLiteral("a\r\n\r\nb\r\n\r\n"));

    EXPECT_EQ(sender.sent, toEveryRow(chat("a")) + toEveryRow(chat("")) + toEveryRow(chat("b"))
                               + toEveryRow(chat("")));
}

TEST_F(ComposerTest, TabsBecomeBlanks)
{
    tick(TaroAddress);
    send(QStringLiteral("a\tb\t\tc"));

    ASSERT_EQ(sender.sent.size(), 2);
    EXPECT_EQ(sender.sent[0].text, directed(QStringLiteral("taro"), QStringLiteral("a b  c")));
    EXPECT_FALSE(sender.sent[1].text.contains(u'\t'));
}

TEST_F(ComposerTest, NothingIsSentForALoneLineBreakOrAnEmptyRoster)
{
    me.deskFlag = QStringLiteral("1");
    send(QStringLiteral("\r\n"));
    send(QString());
    EXPECT_TRUE(sender.sent.isEmpty());
    EXPECT_TRUE(events.isEmpty()); // the presence is not touched either

    members.clear();
    send(QStringLiteral("nobody listed"));
    EXPECT_TRUE(sender.sent.isEmpty());
    EXPECT_EQ(pumps, 0);
}

// --- Typed commands ---

TEST_F(ComposerTest, DebugCommandsShowAndHideTheTestButtonWithoutSending)
{
    send(QStringLiteral("debug on"));
    send(QStringLiteral("debug off"));

    EXPECT_EQ(testVisible, QList<bool>({true, false}));
    EXPECT_TRUE(sender.sent.isEmpty());
}

TEST_F(ComposerTest, CommandsMustMatchExactly)
{
    send(QStringLiteral("Debug on"));
    send(QStringLiteral("debug on\r\n"));
    send(QStringLiteral(" debug off"));

    EXPECT_TRUE(testVisible.isEmpty());
    EXPECT_EQ(sender.sent, toEveryRow(chat("Debug on")) + toEveryRow(chat("debug on"))
                               + toEveryRow(chat(" debug off")));
}

// --- Coming back to the desk ---

TEST_F(ComposerTest, SendingWhileAwayComesBackToTheDeskFirst)
{
    me.deskFlag = QStringLiteral("1");
    send(QStringLiteral("back"));

    ASSERT_FALSE(events.isEmpty());
    EXPECT_EQ(events.first(), QStringLiteral("desk"));
    EXPECT_EQ(events.count(QStringLiteral("desk")), 1);
    EXPECT_EQ(sender.sent, toEveryRow(chat("back"))); // the header says "at desk" again

    send(QStringLiteral("still here"));
    EXPECT_EQ(events.count(QStringLiteral("desk")), 1);
}

// --- Lines too long for one datagram ---

// The payloads of the datagrams sent to address, in order, with prefix removed from each.
QStringList piecesTo(const RecordingSender &sender, const QString &address, const QString &prefix)
{
    QStringList pieces;
    for (const Datagram &datagram : sender.sent) {
        if (datagram.address != address)
            continue;
        EXPECT_TRUE(datagram.text.startsWith(prefix)) << datagram.text.left(60).toStdString();
        pieces.append(datagram.text.mid(prefix.size()));
    }
    return pieces;
}

TEST_F(ComposerTest, LongChatLineIsSplitIntoFittingPiecesInOrder)
{
    const QString line = QStringLiteral("a") + QString(3000, QChar(u'あ')) + QStringLiteral("z");
    ASSERT_GT(cp932Length(line), 6000);
    send(line);

    for (const Datagram &datagram : sender.sent)
        EXPECT_LE(encodeCp932(datagram.text).size(), UdpEndpoint::MaxDatagram);
    const QStringList pieces = piecesTo(sender, TaroAddress, chat(QString()));
    ASSERT_EQ(pieces.size(), 2);
    EXPECT_EQ(pieces.join(QString()), line);
    // Each piece reaches every row before the next piece goes out.
    EXPECT_EQ(sender.sent, toEveryRow(chat(pieces[0])) + toEveryRow(chat(pieces[1])));
    // The first piece is as long as a datagram allows.
    EXPECT_GT(encodeCp932(chat(pieces[0])).size(), UdpEndpoint::MaxDatagram - 2);
}

TEST_F(ComposerTest, LongDirectedLineKeepsTheRecipientListOnEveryPiece)
{
    tick(TaroAddress);
    tick(HanakoAddress);
    const QString line = QString(3000, QChar(u'漢'));
    send(line);

    for (const Datagram &datagram : sender.sent)
        EXPECT_LE(encodeCp932(datagram.text).size(), UdpEndpoint::MaxDatagram);
    const QString prefix = directed(QStringLiteral("taro,hanako"), QString());
    for (const QString &address : {TaroAddress, HanakoAddress, MyAddress}) {
        const QStringList pieces = piecesTo(sender, address, prefix);
        EXPECT_EQ(pieces.size(), 2);
        EXPECT_EQ(pieces.join(QString()), line);
    }
    ASSERT_EQ(sender.sent.size(), 6);
    EXPECT_EQ(sender.addresses(), QStringList({TaroAddress, HanakoAddress, MyAddress, TaroAddress,
                                               HanakoAddress, MyAddress}));
    EXPECT_EQ(piecesTo(sender, SaburoAddress, prefix), QStringList());
}

TEST_F(ComposerTest, LongRecipientNamesAreShortenedSoALineTakesAFewDatagrams)
{
    // A peer may report a name of any length; this one would fill a datagram on its own.
    const QString longAddress = QStringLiteral("192.168.0.9");
    add(QString(5000, u'n'), longAddress);
    tick(TaroAddress);
    tick(longAddress);
    const QString line(3000, u'x');
    send(line);

    const QString fixed = directed(QString(), QString());
    const QString list = QStringLiteral("taro,") + QString(4094 - 1000 - fixed.size() - 5 - 3, u'n')
                         + QStringLiteral("...");
    for (const QString &address : {TaroAddress, longAddress, MyAddress}) {
        const QStringList pieces = piecesTo(sender, address, directed(list, QString()));
        EXPECT_EQ(pieces, QStringList({line.left(1000), line.mid(1000, 1000), line.right(1000)}));
    }
    EXPECT_EQ(sender.sent.size(), 9);
}

TEST_F(ComposerTest, ALineThatJustFitsIsNotSplit)
{
    const qsizetype room = UdpEndpoint::MaxDatagram - encodeCp932(chat(QString())).size();
    send(QString(room, u'x'));
    ASSERT_EQ(sender.sent.size(), 4);
    EXPECT_EQ(encodeCp932(sender.sent.first().text).size(), UdpEndpoint::MaxDatagram);

    sender.clear();
    send(QString(room + 1, u'x'));
    ASSERT_EQ(sender.sent.size(), 8);
    EXPECT_EQ(sender.sent[0].text, chat(QString(room, u'x')));
    EXPECT_EQ(sender.sent[4].text, chat(QStringLiteral("x")));
}

TEST_F(ComposerTest, SplittingNeverPartsASurrogatePair)
{
    // Characters beyond the basic plane go out as one byte each, behind a double-byte start.
    QString line(10, QChar(u'漢'));
    for (int i = 0; i < 4100; ++i)
        line += QStringLiteral("😀");
    members.clear();
    add(QStringLiteral("me"), MyAddress);
    send(line);

    const QStringList pieces = piecesTo(sender, MyAddress, chat(QString()));
    ASSERT_GE(pieces.size(), 2);
    EXPECT_EQ(pieces.join(QString()), line);
    for (const QString &piece : pieces) {
        EXPECT_FALSE(piece.front().isLowSurrogate());
        EXPECT_FALSE(piece.back().isHighSurrogate());
        EXPECT_LE(encodeCp932(chat(piece)).size(), UdpEndpoint::MaxDatagram);
    }
}

// --- Rows that change while the pump runs ---

TEST_F(ComposerTest, ARowRemovedDuringTheLoopIsSkippedSafely)
{
    onPump = [this] {
        if (pumps == 1) // right after the first send
            members.RemoveMember(HanakoAddress);
    };
    send(QStringLiteral("hello"));

    EXPECT_EQ(sender.sent, QList<Datagram>({{chat("hello"), TaroAddress},
                                            {chat("hello"), MyAddress},
                                            {chat("hello"), SaburoAddress}}));
}

TEST_F(ComposerTest, ARowRemovedBetweenLinesIsNotAskedForLater)
{
    onPump = [this] {
        if (pumps == 8) // after the first line has gone to all four rows
            members.RemoveMember(TaroAddress);
    };
    send(QStringLiteral("one\r\ntwo"));

    EXPECT_EQ(sender.sent.size(), 7);
    EXPECT_EQ(sender.sent.mid(4), QList<Datagram>({{chat("two"), MyAddress},
                                                   {chat("two"), HanakoAddress},
                                                   {chat("two"), SaburoAddress}}));
}

TEST_F(ComposerTest, TickedRowsVanishingMidLoopNeverSendToOthers)
{
    tick(TaroAddress);
    tick(SaburoAddress);
    onPump = [this] {
        if (pumps == 1) {
            members.RemoveMember(TaroAddress);
            members.RemoveMember(SaburoAddress);
        }
    };
    send(QStringLiteral("hi"));

    const QString text = directed(QStringLiteral("taro,saburo"), QStringLiteral("hi"));
    EXPECT_EQ(sender.sent, QList<Datagram>({{text, TaroAddress}, {text, MyAddress}}));
    for (const Datagram &datagram : sender.sent)
        EXPECT_FALSE(datagram.address.isEmpty());
}

TEST_F(ComposerTest, RowsAddedDuringTheLoopWaitForTheNextLine)
{
    onPump = [this] {
        if (pumps == 1)
            add(QStringLiteral("late"), QStringLiteral("192.168.0.30"));
    };
    send(QStringLiteral("one\r\ntwo"));

    EXPECT_EQ(piecesTo(sender, QStringLiteral("192.168.0.30"), chat(QString())), QStringList({"two"}));
    EXPECT_EQ(sender.sent.size(), 4 + 5);
}

} // namespace
