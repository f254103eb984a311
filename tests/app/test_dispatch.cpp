#include "app/dispatcher.h"

#include "conversation/conversationview.h"
#include "net/udpendpoint.h"
#include "base/codec.h"
#include "protocol/pastlog.h"
#include "roster/memberlist.h"
#include "settings/runningsettings.h"
#include "support/testsupport.h"

#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>

#include <gtest/gtest.h>

#include <ostream>


namespace {

using namespace vorlan;
using vorlan::test::FakeClock;
using vorlan::test::RecordingSender;
using Datagram = RecordingSender::Datagram;

const QRgb Red = qRgb(255, 0, 0);
const QRgb Black = qRgb(0, 0, 0);
// What colourOf answers when the text is missing or painted in more than one colour.
constexpr QRgb NoSingleColour = 0;

// The local peer: taro on pc01 at 192.168.0.5, started 09:00:00.
const QString MyAddress = QStringLiteral("192.168.0.5");
const QString Taro = QStringLiteral("0taro,pc01,192.168.0.5,09:00:00");
const QString Hanako = QStringLiteral("0hanako,pc02,192.168.0.7,08:30:00");
const QString Jiro = QStringLiteral("0jiro,pc03,192.168.0.9,08:45:00");
const QString Nameless = QStringLiteral("0,pc09,192.168.0.19,07:00:00");

struct Alert
{
    QString code;
    QString name;
    QString payload;
    bool operator==(const Alert &) const = default;
};

class DispatchTest : public ::testing::Test
{
protected:
    DispatchTest()
    {
        me.deskFlag = QStringLiteral("0");
        me.userName = QStringLiteral("taro");
        me.hostName = QStringLiteral("pc01");
        me.address = MyAddress;
        me.startTime = QStringLiteral("09:00:00");
        settings.MessageColor = 0x0000FF; // red, stored as 0x00BBGGRR
        settings.Honorific = QStringLiteral("さん");
        settings.LogEnabled = 1;
    }

    Dispatcher::Hooks hooks()
    {
        Dispatcher::Hooks result;
        result.send = sender.hook();
        result.writeLog = [this](const QStringList &items) { logged.append(items); };
        result.alert = [this](QStringView code, const QString &name, const QString &payload) {
            alerts.append({code.toString(), name, payload});
        };
        result.showTitle = [this] { ++titles; };
        return result;
    }

    // From the address the header names, as every honest peer sends.
    void receive(const QString &text)
    {
        const std::optional<ParsedMessage> header = parseMessage(text);
        receiveFrom(text, header ? header->address : QString());
    }

    void receiveFrom(const QString &text, const QString &source)
    {
        dispatcher.ProcessMessage(text, source);
        view.flushLines();
    }

    QString shown() const { return view.conversationText(); }

    // The colour every character of the last occurrence of text is painted in, as the
    // view holds it (line breaks read as "\n"; the palette's text colour is black).
    QRgb colourOf(const QString &text) const
    {
        QString flat;
        QList<QRgb> colours;
        for (qsizetype line = 0; line <= view.lineCount(); ++line) {
            if (line > 0) {
                flat += u'\n';
                colours.append(NoSingleColour);
            }
            const QString lineText = view.lineText(line);
            flat += lineText;
            for (qsizetype i = 0; i < lineText.size(); ++i) {
                const QColor colour = view.colorAt({line, i});
                colours.append(colour.isValid() ? colour.rgb() : Black);
            }
        }
        const qsizetype at = flat.lastIndexOf(text);
        if (at < 0 || text.isEmpty())
            return NoSingleColour;
        const QRgb first = colours[at];
        for (qsizetype i = at; i < at + text.size(); ++i) {
            if (colours[i] != first)
                return NoSingleColour;
        }
        return first;
    }

    int rowOf(const QString &address) const
    {
        for (int i = 0; i < members.rowCount(); ++i) {
            if (members.text(i, MemberList::Address) == address)
                return i;
        }
        return -1;
    }

    MemberList members;
    ConversationView view;
    Identity me;
    RunningSettings settings;
    FakeClock clock{QDateTime(QDate(2026, 12, 7), QTime(10, 15, 30))};
    RecordingSender sender;
    QList<QStringList> logged;
    QList<Alert> alerts;
    int titles = 0;
    Dispatcher dispatcher{members, view, me, settings, clock, hooks()};
};

// --- Chat lines (100) ---

TEST_F(DispatchTest, ChatShowsTimeSenderAndTextAndListsTheSender)
{
    receive(QStringLiteral("100 ") + Hanako + QStringLiteral(",hello"));

    EXPECT_EQ(shown(), QStringLiteral("10:15:30 hanako->\thello\r\n"));
    EXPECT_EQ(colourOf(QStringLiteral("10:15:30 hanako->\t")), Red);
    EXPECT_EQ(colourOf(QStringLiteral("hello")), Black);
    ASSERT_EQ(members.rowCount(), 1);
    EXPECT_EQ(members.text(0, MemberList::UserName), QStringLiteral("hanako"));
    EXPECT_EQ(members.text(0, MemberList::HostName), QStringLiteral("pc02"));
    EXPECT_EQ(members.text(0, MemberList::StartTime), QStringLiteral("08:30:00"));
    EXPECT_TRUE(sender.sent.isEmpty());
    EXPECT_EQ(alerts, QList<Alert>({{"100", "hanako", "hello"}}));
    EXPECT_EQ(logged, QList<QStringList>({{QStringLiteral("10:15:30 hanako->\thello")}}));
}

TEST_F(DispatchTest, ChatLinesFollowEachOtherWithTheirWholePayloadAndArrivalTime)
{
    receive(QStringLiteral("100 ") + Hanako + QStringLiteral(",a,b,,c"));
    clock.advance(61);
    receive(QStringLiteral("100 ") + Hanako + u',');

    EXPECT_EQ(shown(), QStringLiteral("10:15:30 hanako->\ta,b,,c\r\n"
                                      "10:16:31 hanako->\t\r\n"));
    EXPECT_EQ(view.lineCount(), 2);
    EXPECT_EQ(colourOf(QStringLiteral("10:16:31 hanako->\t")), Red);
    EXPECT_EQ(members.rowCount(), 1);
    EXPECT_EQ(members.text(0, MemberList::StartTime), QStringLiteral("08:30:00"));
    ASSERT_EQ(alerts.size(), 2);
    EXPECT_EQ(alerts[0].payload, QStringLiteral("a,b,,c"));
    EXPECT_EQ(alerts[1].payload, QString());
}

TEST_F(DispatchTest, RemoteMarkupIsShownAsTheCharactersItIs)
{
    receive(QStringLiteral("100 ") + Hanako + QStringLiteral(",<b>x</b> &amp; <img src=\"y\">"));

    EXPECT_EQ(shown(), QStringLiteral("10:15:30 hanako->\t<b>x</b> &amp; <img src=\"y\">\r\n"));
    EXPECT_EQ(view.toPlainText(), QStringLiteral("10:15:30 hanako->\t<b>x</b> &amp; <img src=\"y\">\n"));
    EXPECT_EQ(colourOf(QStringLiteral("<b>x</b>")), Black);
}

TEST_F(DispatchTest, HeadColourFollowsTheStoredBlueGreenRedValue)
{
    settings.MessageColor = 0xFF0000; // blue
    receive(QStringLiteral("100 ") + Hanako + QStringLiteral(",one"));
    settings.MessageColor = 0x008000; // green (a lighter one would not read on the white base)
    receive(QStringLiteral("100 ") + Jiro + QStringLiteral(",two"));
    settings.MessageColor = 0;
    receive(QStringLiteral("101 ") + Nameless + QStringLiteral(",(To:taro) three"));

    EXPECT_EQ(colourOf(QStringLiteral("10:15:30 hanako->\t")), qRgb(0, 0, 255));
    EXPECT_EQ(colourOf(QStringLiteral("10:15:30 jiro->\t")), qRgb(0, 128, 0));
    EXPECT_EQ(colourOf(QStringLiteral("10:15:30[]->\t(To:taro) three")), Black);
    EXPECT_EQ(colourOf(QStringLiteral("one")), Black);
    EXPECT_EQ(colourOf(QStringLiteral("two")), Black);
    EXPECT_EQ(colourOf(QStringLiteral("10:15:30 jiro->\ttwo")), NoSingleColour);
}

// --- Directed lines (101) ---

TEST_F(DispatchTest, DirectedLineShowsTheUserNameInBrackets)
{
    receive(QStringLiteral("101 ") + Hanako + QStringLiteral(",(To:taro,jiro) a,b"));

    EXPECT_EQ(shown(), QStringLiteral("10:15:30[hanako]->\t(To:taro,jiro) a,b\r\n"));
    EXPECT_EQ(colourOf(QStringLiteral("10:15:30[hanako]->\t")), Red);
    EXPECT_EQ(colourOf(QStringLiteral("(To:taro,jiro) a,b")), Black);
    EXPECT_EQ(members.rowCount(), 1);
    EXPECT_TRUE(sender.sent.isEmpty());
    EXPECT_EQ(alerts, QList<Alert>({{"101", "hanako", "(To:taro,jiro) a,b"}}));
    EXPECT_EQ(logged, QList<QStringList>({{QStringLiteral("10:15:30[hanako]->\t(To:taro,jiro) a,b")}}));
}

TEST_F(DispatchTest, MemberWithoutUserNameIsShownByHostOrEmptyBrackets)
{
    receive(QStringLiteral("201 ") + Nameless);
    receive(QStringLiteral("100 ") + Nameless + QStringLiteral(",hi"));
    receive(QStringLiteral("101 ") + Nameless + QStringLiteral(",(To:taro) yo"));

    EXPECT_EQ(shown(), QStringLiteral("10:15:30\tpc09さんが参加しました。\r\n"
                                      "10:15:30 pc09->\thi\r\n"
                                      "10:15:30[]->\t(To:taro) yo\r\n"));
    EXPECT_EQ(members.text(0, MemberList::UserName), QString());
    EXPECT_EQ(alerts, QList<Alert>({{"100", "pc09", "hi"}, {"101", "", "(To:taro) yo"}}));
    EXPECT_EQ(logged, QList<QStringList>({{QStringLiteral("10:15:30\tpc09さんが参加しました。")},
                                          {QStringLiteral("10:15:30 pc09->\thi")},
                                          {QStringLiteral("10:15:30[]->\t(To:taro) yo")}}));
    EXPECT_EQ(sender.addresses(), QStringList({"192.168.0.19"}));
}

// --- Join (201) and rejoin (203) ---

TEST_F(DispatchTest, JoinOfANewMemberIsShownAndAnswered)
{
    receive(QStringLiteral("201 ") + Hanako);

    EXPECT_EQ(shown(), QStringLiteral("10:15:30\thanakoさんが参加しました。\r\n"));
    EXPECT_EQ(colourOf(QStringLiteral("10:15:30\t")), Red);
    EXPECT_EQ(colourOf(QStringLiteral("hanakoさんが参加しました。")), Black);
    EXPECT_EQ(members.addresses(), QStringList({"192.168.0.7"}));
    EXPECT_EQ(sender.sent, QList<Datagram>({{"202 " + Taro, "192.168.0.7"}}));
    EXPECT_EQ(logged, QList<QStringList>({{QStringLiteral("10:15:30\thanakoさんが参加しました。")}}));
    EXPECT_TRUE(alerts.isEmpty());
}

TEST_F(DispatchTest, OwnJoinComingBackListsItselfWithoutAnsweringItself)
{
    receive(QStringLiteral("201 ") + Taro);

    EXPECT_EQ(members.addresses(), QStringList({MyAddress}));
    EXPECT_EQ(members.text(0, MemberList::UserName), QStringLiteral("taro"));
    EXPECT_EQ(shown(), QStringLiteral("10:15:30\ttaroさんが参加しました。\r\n"));
    EXPECT_TRUE(sender.sent.isEmpty());
}

TEST_F(DispatchTest, SecondJoinFromAListedAddressIsAnsweredButNotShown)
{
    receive(QStringLiteral("201 ") + Hanako);
    sender.clear();
    logged.clear();
    receive(QStringLiteral("201 1hanako2,pc02,192.168.0.7,11:00:00"));

    EXPECT_EQ(shown(), QStringLiteral("10:15:30\thanakoさんが参加しました。\r\n"));
    EXPECT_EQ(members.rowCount(), 1);
    EXPECT_EQ(members.text(0, MemberList::UserName), QStringLiteral("hanako2"));
    EXPECT_EQ(members.text(0, MemberList::Desk), QStringLiteral("不在"));
    EXPECT_EQ(members.text(0, MemberList::StartTime), QStringLiteral("11:00:00"));
    EXPECT_EQ(sender.sent, QList<Datagram>({{"202 " + Taro, "192.168.0.7"}}));
    EXPECT_TRUE(logged.isEmpty());
}

TEST_F(DispatchTest, JoinAnswerCarriesTheIdentityAsItIsNow)
{
    me.deskFlag = QStringLiteral("1");
    me.userName = QStringLiteral("太郎");
    receive(QStringLiteral("201 ") + Hanako);

    EXPECT_EQ(sender.sent, QList<Datagram>({{"202 1太郎,pc01,192.168.0.5,09:00:00", "192.168.0.7"}}));
}

TEST_F(DispatchTest, RejoinRefreshesAndAnswersOthersButShowsNothing)
{
    receive(QStringLiteral("203 ") + Hanako);
    receive(QStringLiteral("203 ") + Taro);

    EXPECT_EQ(members.addresses(), QStringList({"192.168.0.7", MyAddress}));
    EXPECT_EQ(shown(), QString());
    EXPECT_EQ(view.toPlainText(), QString());
    EXPECT_EQ(sender.sent, QList<Datagram>({{"202 " + Taro, "192.168.0.7"}}));
    EXPECT_TRUE(logged.isEmpty());
}

// --- Join reply (202) and the automatic past-log request ---

TEST_F(DispatchTest, OnlyTheFirstAnsweringPeerIsAskedForThePastLog)
{
    ASSERT_FALSE(dispatcher.PastLogAsked());
    receive(QStringLiteral("202 ") + Hanako);
    receive(QStringLiteral("202 ") + Jiro);

    EXPECT_EQ(sender.sent, QList<Datagram>({{"500 " + Taro, "192.168.0.7"}}));
    EXPECT_TRUE(dispatcher.PastLogAsked());
    EXPECT_EQ(members.addresses(), QStringList({"192.168.0.7", "192.168.0.9"}));
    EXPECT_EQ(shown(), QString());
}

TEST_F(DispatchTest, AnAnswerHandledWhileThePastLogRequestGoesOutIsNotAskedToo)
{
    // Sending lets pending events run, so the next answer can be dispatched inside this send.
    Dispatcher *nestedDispatcher = nullptr;
    Dispatcher::Hooks nested = hooks();
    nested.send = [&](const QString &text, const QString &address) {
        sender.sent.append({text, address});
        if (sender.sent.size() == 1)
            nestedDispatcher->ProcessMessage(QStringLiteral("202 ") + Jiro, QStringLiteral("192.168.0.9"));
    };
    Dispatcher reentered{members, view, me, settings, clock, nested};
    nestedDispatcher = &reentered;

    reentered.ProcessMessage(QStringLiteral("202 ") + Hanako, QStringLiteral("192.168.0.7"));

    EXPECT_EQ(sender.sent, QList<Datagram>({{"500 " + Taro, "192.168.0.7"}}));
    EXPECT_EQ(members.addresses(), QStringList({"192.168.0.7", "192.168.0.9"}));
}

TEST_F(DispatchTest, OwnJoinReplyNeitherAsksItselfNorUsesUpTheRequest)
{
    receive(QStringLiteral("202 ") + Taro);
    EXPECT_TRUE(sender.sent.isEmpty());
    EXPECT_FALSE(dispatcher.PastLogAsked());
    EXPECT_EQ(members.addresses(), QStringList({MyAddress}));

    receive(QStringLiteral("202 ") + Jiro);
    EXPECT_EQ(sender.sent, QList<Datagram>({{"500 " + Taro, "192.168.0.9"}}));
}

TEST_F(DispatchTest, NoAutomaticRequestOnceThePastLogWasAsked)
{
    dispatcher.setPastLogAsked(true);
    receive(QStringLiteral("202 ") + Hanako);

    EXPECT_TRUE(sender.sent.isEmpty());
    EXPECT_EQ(members.rowCount(), 1);
}

// --- Leave (301) ---

TEST_F(DispatchTest, LeaveFromAnUnknownAddressChangesNothing)
{
    receive(QStringLiteral("100 ") + Jiro + QStringLiteral(",hi"));
    const QString before = shown();
    logged.clear();
    receive(QStringLiteral("301 ") + Hanako);

    EXPECT_EQ(shown(), before);
    EXPECT_EQ(members.addresses(), QStringList({"192.168.0.9"}));
    EXPECT_EQ(titles, 0);
    EXPECT_TRUE(logged.isEmpty());
    EXPECT_TRUE(sender.sent.isEmpty());
}

TEST_F(DispatchTest, LeaveOfAListedMemberRemovesItsRowAndSaysGoodbye)
{
    receive(QStringLiteral("202 ") + Jiro);
    receive(QStringLiteral("202 ") + Hanako);
    logged.clear();
    clock.advance(30);
    receive(QStringLiteral("301 ") + Hanako);

    EXPECT_EQ(members.addresses(), QStringList({"192.168.0.9"}));
    EXPECT_EQ(shown(), QStringLiteral("10:16:00\thanakoさんが退席しました。\r\n"));
    EXPECT_EQ(colourOf(QStringLiteral("10:16:00\t")), Red);
    EXPECT_EQ(colourOf(QStringLiteral("hanakoさんが退席しました。")), Black);
    EXPECT_EQ(titles, 1);
    EXPECT_EQ(logged, QList<QStringList>({{QStringLiteral("10:16:00\thanakoさんが退席しました。")}}));
}

TEST_F(DispatchTest, LeaveNamesTheSenderAsTheMessageDoes)
{
    receive(QStringLiteral("202 ") + Nameless);
    receive(QStringLiteral("301 0,other,192.168.0.19,07:00:00"));

    EXPECT_EQ(members.rowCount(), 0);
    EXPECT_EQ(shown(), QStringLiteral("10:15:30\totherさんが退席しました。\r\n"));
}

// --- Desk and name notices (402, 404) ---

TEST_F(DispatchTest, NoticesRefreshTheRowSilently)
{
    receive(QStringLiteral("100 ") + Hanako + QStringLiteral(",hi"));
    const QString before = shown();
    logged.clear();
    members.SetMemberInformation(QStringLiteral("192.168.0.7"), QStringLiteral("V1.2.9"));

    receive(QStringLiteral("402 1hanako,pc02,192.168.0.7,08:30:00"));
    EXPECT_EQ(members.text(0, MemberList::Desk), QStringLiteral("不在"));

    receive(QStringLiteral("404 0はなこ,pc02,192.168.0.7,08:30:00,extra"));
    EXPECT_EQ(members.text(0, MemberList::Desk), QString());
    EXPECT_EQ(members.text(0, MemberList::UserName), QStringLiteral("はなこ"));
    EXPECT_EQ(members.text(0, MemberList::StartTime), QStringLiteral("08:30:00,extra"));
    EXPECT_EQ(members.text(0, MemberList::Information), QStringLiteral("V1.2.9"));

    EXPECT_EQ(members.rowCount(), 1);
    EXPECT_EQ(shown(), before);
    EXPECT_TRUE(sender.sent.isEmpty());
    EXPECT_TRUE(logged.isEmpty());
}

// --- Version request and reply (405, 406) ---

TEST_F(DispatchTest, VersionRequestIsAnsweredWithoutTouchingTheRoster)
{
    receive(QStringLiteral("405 ") + Hanako);

    EXPECT_EQ(sender.sent, QList<Datagram>({{"406 " + Taro + ",V1.2.9", "192.168.0.7"}}));
    EXPECT_EQ(members.rowCount(), 0);
    EXPECT_EQ(shown(), QString());
}

// This host's broadcast and other addresses, and loopback, are no peer: a reply to one would
// go to the whole segment or back to this program.
TEST_F(DispatchTest, HeadersNamingThisHostsBroadcastOrOtherAddressesGetNothing)
{
    dispatcher.setNonPeerAddresses({"192.168.0.255", "10.8.0.1"}, true);
    for (const char *address : {"192.168.0.255", "10.8.0.1", "127.0.0.1", "127.0.1.1"}) {
        const QString header = QStringLiteral("0x,h,%1,09:00:00").arg(QLatin1String(address));
        for (const char *code : {"201 ", "405 ", "500 "})
            receive(QLatin1String(code) + header);
        receive("100 " + header + ",hello");
    }
    EXPECT_EQ(sender.sent, QList<Datagram>());
    EXPECT_EQ(members.rowCount(), 0);
    EXPECT_EQ(shown(), QString());
    receive(QStringLiteral("405 ") + Hanako); // a peer is still answered, and so is this program
    receive(QStringLiteral("405 ") + Taro);
    EXPECT_EQ(sender.addresses(), QStringList({"192.168.0.7", MyAddress}));
}

TEST_F(DispatchTest, OwnVersionRequestIsAnsweredToItselfAndFillsTheOwnRow)
{
    receive(QStringLiteral("201 ") + Taro);
    receive(QStringLiteral("405 ") + Taro);
    ASSERT_EQ(sender.sent, QList<Datagram>({{"406 " + Taro + ",V1.2.9", MyAddress}}));

    receive(sender.sent.first().text);
    EXPECT_EQ(members.rowCount(), 1);
    EXPECT_EQ(members.text(0, MemberList::Information), QStringLiteral("V1.2.9"));
}

TEST_F(DispatchTest, VersionReplyFillsTheInformationOfTheRepliersRow)
{
    receive(QStringLiteral("202 ") + Jiro);
    receive(QStringLiteral("406 ") + Hanako + QStringLiteral(",V2.0.1"));
    receive(QStringLiteral("406 ") + Jiro + QStringLiteral(",V1.0,beta"));

    ASSERT_EQ(members.rowCount(), 2);
    EXPECT_EQ(members.text(rowOf("192.168.0.7"), MemberList::Information), QStringLiteral("V2.0.1"));
    EXPECT_EQ(members.text(rowOf("192.168.0.9"), MemberList::Information), QStringLiteral("V1.0,beta"));
    EXPECT_EQ(shown(), QString());
    EXPECT_TRUE(logged.isEmpty());
}

// --- Past-log request (500) ---

TEST_F(DispatchTest, PastLogReplyLeavesOutDirectedLines)
{
    receive(QStringLiteral("201 ") + Jiro);
    receive(QStringLiteral("100 ") + Hanako + QStringLiteral(",public"));
    receive(QStringLiteral("101 ") + Hanako + QStringLiteral(",(To:taro) secret"));
    receive(QStringLiteral("100 ") + Nameless + QStringLiteral(",[bracketed]"));
    sender.clear();
    const int rows = members.rowCount();

    receive(QStringLiteral("500 0saburo,pc04,192.168.0.11,08:00:00"));

    const QString expected = QStringLiteral("10:15:30\tjiroさんが参加しました。\r\n"
                                            "10:15:30 hanako->\tpublic\r\n"
                                            "10:15:30 pc09->\t[bracketed]\r\n");
    EXPECT_EQ(sender.sent, QList<Datagram>({{"501 " + Taro + u',' + expected, "192.168.0.11"}}));
    EXPECT_EQ(dispatcher.pastLogReply(), expected);
    EXPECT_FALSE(sender.sent.first().text.contains(QStringLiteral("secret")));
    EXPECT_EQ(members.rowCount(), rows);
}

// Answered, each would come back to be shown and logged again: kilobytes for a few bytes.
TEST_F(DispatchTest, ItsOwnPastLogIsNeitherSentToItselfNorShownBack)
{
    receive(QStringLiteral("100 ") + Hanako + QStringLiteral(",public"));
    const QString before = shown();
    receive(QStringLiteral("500 ") + Taro);
    receive(QStringLiteral("501 ") + Taro + QStringLiteral(",10:00:00 taro->\tagain\r\n"));

    EXPECT_TRUE(sender.sent.isEmpty());
    EXPECT_EQ(shown(), before);
    EXPECT_EQ(logged.size(), 1);
}

// The reply looks at the view's last 8192 characters exactly, also right after the view has cut
// its text: the public line that begins exactly 8192 characters before the end is sent whole;
// a view one character short would hold only a piece of it, which is left out.
TEST_F(DispatchTest, PastLogReplyLooksAtTheLast8192CharactersOfTheView)
{
    const auto line = [](const QString &head, qsizetype length) {
        return head + QString(length - head.size() - 2, u'x') + QStringLiteral("\r\n");
    };
    const QString directed = QStringLiteral("10:00:00[hanako]->\t");
    const QString first = line(QStringLiteral("10:00:00 hanako->\t"), 1021);
    const QString last = QStringLiteral("10:00:01 hanako->\tlast\r\n");
    // 8200 characters, then 8168 that with the last line make the final 8192: the last line
    // takes the text past twice 8192, so the view cuts it to the final 8192 just then.
    for (int i = 0; i < 8; ++i)
        view.AppendLine(line(directed, 1025));
    view.AppendLine(first);
    for (int i = 0; i < 7; ++i)
        view.AppendLine(line(directed, 1021));
    ASSERT_EQ(shown().size(), 8200 + 8168);
    view.AppendLine(last);
    ASSERT_EQ(shown().right(8192), first + line(directed, 1021).repeated(7) + last);

    receive(QStringLiteral("500 ") + Jiro);
    EXPECT_EQ(sender.sent, QList<Datagram>({{"501 " + Taro + u',' + first + last, "192.168.0.9"}}));
}

TEST_F(DispatchTest, PastLogReplyOfALongDoubleByteConversationFitsOneDatagram)
{
    // Lines of a thousand double-byte characters: the last 2048 characters are close to
    // 4100 bytes, too many for one datagram with the header.
    const QString words(1000, QChar(u'漢'));
    for (int i = 0; i < 6; ++i) {
        receive(QStringLiteral("100 0花子,pc02,192.168.0.7,08:30:00,") + words);
        clock.advance(1);
    }
    const QString full = pastLogReplyText(view.conversationText(), view.conversationTextStartsLine());
    ASSERT_EQ(full.size(), PastLogKeep);
    ASSERT_GT(encodeCp932(buildPastLogReply(me, full)).size(), UdpEndpoint::MaxDatagram);

    receive(QStringLiteral("500 ") + Jiro);
    ASSERT_EQ(sender.sent.size(), 1);
    const QString message = sender.sent.first().text;
    const QString prefix = QStringLiteral("501 ") + Taro + u',';
    ASSERT_TRUE(message.startsWith(prefix));
    const QString payload = message.mid(prefix.size());

    EXPECT_LE(encodeCp932(message).size(), UdpEndpoint::MaxDatagram);
    EXPECT_TRUE(full.endsWith(payload));
    EXPECT_EQ(full.at(full.size() - payload.size() - 1), u'\n'); // begins at a line start
    EXPECT_TRUE(payload.startsWith(QStringLiteral("10:15:3")));
    EXPECT_TRUE(payload.endsWith(words + QStringLiteral("\r\n")));
    // Only the broken first line is given up: the two whole lines after it still fit.
    EXPECT_EQ(payload.count(u'\n'), 2);
}

// --- Past-log reply (501) ---

TEST_F(DispatchTest, PastLogIsShownBetweenMarkersInItsOwnColours)
{
    const QString payload = QStringLiteral("08:00:00 jiro->\tmorning\r\n"
                                           "08:01:00\tsaburoさんが参加しました。\r\n");
    receive(QStringLiteral("501 ") + Hanako + u',' + payload);

    EXPECT_EQ(shown(), QStringLiteral("\t---過去のログ受信 開始 (192.168.0.7より)---\r\n"
                                      "08:00:00 jiro->\tmorning\r\n"
                                      "08:01:00\tsaburoさんが参加しました。\r\n"
                                      "\t---過去のログ受信 終了 (192.168.0.7より)---\r\n"));
    EXPECT_EQ(colourOf(QStringLiteral("08:00:00 jiro->")), Red);
    EXPECT_EQ(colourOf(QStringLiteral("\tmorning")), Black);
    EXPECT_EQ(colourOf(QStringLiteral("08:01:00")), Red);
    EXPECT_EQ(colourOf(QStringLiteral("\tsaburoさんが参加しました。")), Black);
    EXPECT_EQ(colourOf(QStringLiteral("---過去のログ受信 終了 (192.168.0.7より)---")), Black);
    EXPECT_EQ(members.addresses(), QStringList({"192.168.0.7"}));
    EXPECT_TRUE(sender.sent.isEmpty());
    EXPECT_EQ(logged, QList<QStringList>({{QStringLiteral("---過去のログ受信 開始 (192.168.0.7より)---"), payload,
                                           QStringLiteral("---過去のログ受信 終了 (192.168.0.7より)---")}}));
}

TEST_F(DispatchTest, PastLogStartMarkerKeepsTheColourOfTheLastInsert)
{
    receive(QStringLiteral("201 ") + Jiro); // ends with a black tail
    settings.MessageColor = 0x0000FF;
    receive(QStringLiteral("501 ") + Hanako + QStringLiteral(",x\r\n08:00:00 jiro->\tmorning\r\n"));

    EXPECT_EQ(colourOf(QStringLiteral("---過去のログ受信 開始 (192.168.0.7より)---")), Black);
    // Whatever precedes a line's tab is its head, the line break before it included.
    EXPECT_TRUE(shown().endsWith(QStringLiteral("より)---\r\nx\r\n08:00:00 jiro->\tmorning\r\n"
                                                "\t---過去のログ受信 終了 (192.168.0.7より)---\r\n")));
    EXPECT_EQ(colourOf(QStringLiteral("x")), Red);
    EXPECT_EQ(colourOf(QStringLiteral("08:00:00 jiro->")), Red);
    EXPECT_EQ(colourOf(QStringLiteral("\tmorning")), Black);
}

TEST_F(DispatchTest, PastLogTextAfterTheLastTabbedLineIsNotShown)
{
    receive(QStringLiteral("501 ") + Hanako + QStringLiteral(",08:00:00 jiro->\tmorning\r\nno tab here\r\n"));

    EXPECT_EQ(shown(), QStringLiteral("\t---過去のログ受信 開始 (192.168.0.7より)---\r\n"
                                      "08:00:00 jiro->\tmorning\r\n"
                                      "\t---過去のログ受信 終了 (192.168.0.7より)---\r\n"));
    ASSERT_EQ(logged.size(), 1);
    EXPECT_EQ(logged.first().at(1), QStringLiteral("08:00:00 jiro->\tmorning\r\nno tab here\r\n"));
}

TEST_F(DispatchTest, PastLogWithATabButNoFinalLineBreakKeepsItsLastLine)
{
    receive(QStringLiteral("501 ") + Hanako + QStringLiteral(",08:00:00 jiro->\tunfinished"));

    EXPECT_EQ(shown(), QStringLiteral("\t---過去のログ受信 開始 (192.168.0.7より)---\r\n"
                                      "08:00:00 jiro->\tunfinished\r\n"
                                      "\t---過去のログ受信 終了 (192.168.0.7より)---\r\n"));
    EXPECT_EQ(colourOf(QStringLiteral("\tunfinished")), Black);
}

TEST_F(DispatchTest, EmptyPastLogOnlyRefreshesTheSendersRow)
{
    receive(QStringLiteral("202 1hanako,pc02,192.168.0.7,08:30:00"));
    receive(QStringLiteral("501 ") + Hanako + u',');

    EXPECT_EQ(shown(), QString());
    EXPECT_EQ(members.rowCount(), 1);
    EXPECT_EQ(members.text(0, MemberList::Desk), QString());
    EXPECT_TRUE(logged.isEmpty());
    EXPECT_EQ(sender.sent.size(), 1); // the automatic request after the 202, nothing more
}

// --- Texts that break the header rules ---

TEST_F(DispatchTest, MalformedTextsAreDroppedWithoutAnyEffect)
{
    const QStringList texts = {
        QString(),
        QStringLiteral("100 "),
        QStringLiteral("100 0"),
        QStringLiteral("100 0taro,pc01,192.168.0.5,09:00:00"),   // a chat needs its fourth comma
        QStringLiteral("101 0taro,pc01,192.168.0.5,09:00:00"),
        QStringLiteral("406 0taro,pc01,192.168.0.5,09:00:00"),
        QStringLiteral("501 0taro,pc01,192.168.0.5,09:00:00"),
        QStringLiteral("201 0hanako,pc02"),                      // fewer than three commas
        QStringLiteral("405 0hanako,pc02,192.168.0.7"),
        QStringLiteral("999 0hanako,pc02,192.168.0.7,08:30:00,x"),
        QStringLiteral("10 0hanako,pc02,192.168.0.7,08:30:00,x"),
        QStringLiteral("chat hanako,pc02,192.168.0.7,08:30:00,x"),
    };
    for (const QString &text : texts)
        receive(text);

    EXPECT_EQ(members.rowCount(), 0);
    EXPECT_EQ(shown(), QString());
    EXPECT_TRUE(sender.sent.isEmpty());
    EXPECT_TRUE(logged.isEmpty());
    EXPECT_TRUE(alerts.isEmpty());
    EXPECT_EQ(titles, 0);
    EXPECT_FALSE(dispatcher.PastLogAsked());
}

TEST_F(DispatchTest, CharacterFourIsNotExamined)
{
    receive(QStringLiteral("100x0hanako,pc02,192.168.0.7,08:30:00,hi"));

    EXPECT_EQ(shown(), QStringLiteral("10:15:30 hanako->\thi\r\n"));
    EXPECT_EQ(members.rowCount(), 1);
}

// --- The conversation log ---

TEST_F(DispatchTest, NothingIsLoggedWhileLoggingIsOff)
{
    settings.LogEnabled = 0;
    receive(QStringLiteral("201 ") + Hanako);
    receive(QStringLiteral("100 ") + Hanako + QStringLiteral(",hi"));
    receive(QStringLiteral("101 ") + Hanako + QStringLiteral(",(To:taro) hi"));
    receive(QStringLiteral("501 ") + Hanako + QStringLiteral(",08:00:00 jiro->\tm\r\n"));
    receive(QStringLiteral("301 ") + Hanako);

    EXPECT_TRUE(logged.isEmpty());
    EXPECT_EQ(view.conversationText().count(QStringLiteral("\r\n")), 7);
}

TEST_F(DispatchTest, LoggedItemsMatchTheShownLinesWithoutTheirLineEnds)
{
    receive(QStringLiteral("201 ") + Hanako);
    receive(QStringLiteral("202 ") + Jiro);
    receive(QStringLiteral("100 ") + Hanako + QStringLiteral(",hi"));
    receive(QStringLiteral("101 ") + Jiro + QStringLiteral(",(To:taro) yo"));
    receive(QStringLiteral("406 ") + Jiro + QStringLiteral(",V1.2.9"));
    receive(QStringLiteral("301 ") + Jiro);

    EXPECT_EQ(logged, QList<QStringList>({
                          {QStringLiteral("10:15:30\thanakoさんが参加しました。")},
                          {QStringLiteral("10:15:30 hanako->\thi")},
                          {QStringLiteral("10:15:30[jiro]->\t(To:taro) yo")},
                          {QStringLiteral("10:15:30\tjiroさんが退席しました。")},
                      }));
}

// --- What a hostile host on the segment can send ---

// A header must name the address the datagram came from: replies go to the header's address,
// so a forged one would aim them at a third party, and rows and lines would name it.
TEST_F(DispatchTest, AHeaderNamingAnotherAddressThanItsSourceIsDroppedUnread)
{
    const QString third = QStringLiteral("192.168.0.99");
    for (const char *code : {"100 ", "101 ", "201 ", "202 ", "203 ", "301 ", "402 ", "404 ", "405 ",
                             "406 ", "500 ", "501 "})
        receiveFrom(QLatin1String(code) + Hanako + QStringLiteral(",x\tpayload\r\n"), third);
    receiveFrom(QStringLiteral("201 ") + Hanako, QString()); // a source the endpoint did not know

    EXPECT_TRUE(sender.sent.isEmpty());
    EXPECT_EQ(members.rowCount(), 0);
    EXPECT_EQ(shown(), QString());
    EXPECT_TRUE(logged.isEmpty());
    EXPECT_TRUE(alerts.isEmpty());
    receive(QStringLiteral("405 ") + Hanako);
    EXPECT_EQ(sender.addresses(), QStringList({"192.168.0.7"}));
}

// Every received name and line is one line of the view and one item of the log, whatever it
// holds; a past log keeps its CR LF line ends, and nothing else breaks its lines either.
TEST_F(DispatchTest, ControlCharactersCannotForgeLines)
{
    const QString forged = QStringLiteral("0ha\r\nko,pc\n02,192.168.0.7,08:30\x0b:00");
    receive(QStringLiteral("100 ") + forged + QStringLiteral(",hi\r\n10:15:30 boss->\tfake\x00!\u2028x"));
    receive(QStringLiteral("101 ") + forged + QStringLiteral(",(To:taro) a\rb\x85" "c"));
    receive(QStringLiteral("501 ") + Jiro + QStringLiteral(",08:00:00 a->\tok\r\n08:01:00 b->\tx\ny\rz\x01\r\n"));

    const QString bad(QChar::ReplacementCharacter);
    EXPECT_EQ(shown(), QStringLiteral("10:15:30 ha¤¤ko->\thi¤¤10:15:30 boss->\tfake¤!¤x\r\n"
                                      "10:15:30[ha¤¤ko]->\t(To:taro) a¤b¤c\r\n"
                                      "\t---過去のログ受信 開始 (192.168.0.9より)---\r\n"
                                      "08:00:00 a->\tok\r\n08:01:00 b->\tx¤y¤z¤\r\n"
                                      "\t---過去のログ受信 終了 (192.168.0.9より)---\r\n")
                           .replace(u'¤', bad));
    EXPECT_EQ(view.lineCount(), 6);
    EXPECT_EQ(view.toPlainText().count(u'\n'), 6);
    for (const QStringList &items : std::as_const(logged)) {
        for (qsizetype i = 0; i < items.size(); ++i) {
            if (items.size() == 3 && i == 1)
                continue; // the past log, checked above through the view
            EXPECT_FALSE(items[i].contains(u'\n') || items[i].contains(u'\r')) << items[i].toStdString();
        }
    }
    EXPECT_EQ(members.text(rowOf("192.168.0.7"), MemberList::UserName), QStringLiteral("ha¤¤ko").replace(u'¤', bad));
    EXPECT_EQ(members.text(rowOf("192.168.0.7"), MemberList::HostName), QStringLiteral("pc¤02").replace(u'¤', bad));
    EXPECT_EQ(alerts.first().payload, QStringLiteral("hi¤¤10:15:30 boss->\tfake¤!¤x").replace(u'¤', bad));
}

// A flood of past-log requests from one address gets a few replies a second, and replies of
// every kind together stay within the total; a request at a human pace always gets its reply.
TEST_F(DispatchTest, RequestsPastTheReplyBudgetAreDropped)
{
    qint64 now = 0;
    Dispatcher::Hooks timed = hooks();
    timed.nowMs = [&now] { return now; };
    Dispatcher budgeted{members, view, me, settings, clock, timed};
    const QString longLine(1000, u'x');
    for (int i = 0; i < 4; ++i)
        budgeted.ProcessMessage(QStringLiteral("100 ") + Jiro + u',' + longLine, QStringLiteral("192.168.0.9"));
    view.flushLines();

    for (int i = 0; i < 100; ++i)
        budgeted.ProcessMessage(QStringLiteral("500 ") + Hanako, QStringLiteral("192.168.0.7"));
    EXPECT_EQ(sender.sent.size(), ReplyBudget::PastLogPerAddress);
    now += 1000;
    budgeted.ProcessMessage(QStringLiteral("500 ") + Hanako, QStringLiteral("192.168.0.7"));
    EXPECT_EQ(sender.sent.size(), ReplyBudget::PastLogPerAddress + 1);

    // Past-log requests from a thousand forged sources: the total holds them to 64 KB a second.
    sender.clear();
    now += 1000;
    for (int i = 0; i < 1000; ++i) {
        const QString address = QStringLiteral("10.1.%1.%2").arg(i / 250).arg(i % 250 + 1);
        budgeted.ProcessMessage(QStringLiteral("500 0x,h,%1,t").arg(address), address);
    }
    qint64 bytes = 0;
    for (const Datagram &datagram : std::as_const(sender.sent))
        bytes += encodeCp932(datagram.text).size();
    EXPECT_LE(bytes, ReplyBudget::BytesPerSecond);
    EXPECT_GT(bytes, ReplyBudget::BytesPerSecond - 4096);

    // A reload on a segment of a thousand peers: every one of them is answered at once.
    sender.clear();
    now += 1000;
    for (int i = 0; i < 1000; ++i) {
        const QString address = QStringLiteral("10.2.%1.%2").arg(i / 250).arg(i % 250 + 1);
        budgeted.ProcessMessage(QStringLiteral("203 0x,h,%1,t").arg(address), address);
    }
    EXPECT_EQ(sender.sent.size(), 1000);

    // A user clicking "過去ログ" every second gets every answer even then.
    sender.clear();
    for (int i = 0; i < 30; ++i) {
        now += 1000;
        budgeted.ProcessMessage(QStringLiteral("500 ") + Hanako, QStringLiteral("192.168.0.7"));
    }
    EXPECT_EQ(sender.sent.size(), 30);
}

} // namespace
