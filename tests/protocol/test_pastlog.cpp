#include "protocol/pastlog.h"

#include "net/udpendpoint.h"
#include "base/codec.h"

#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <ostream>


namespace {

using namespace vorlan;

Identity taro()
{
    Identity id;
    id.userName = QStringLiteral("taro");
    id.hostName = QStringLiteral("pc01");
    id.address = QStringLiteral("192.168.0.5");
    id.startTime = QStringLiteral("09:00:00");
    return id;
}

// --- Choosing the lines of a reply ---

TEST(PastLogText, KeepsShortAndUndirectedLinesAndDropsTheUnfinishedEnd)
{
    const QString view = QStringLiteral("ab\r\n"
                                        "12345678\n"
                                        "10:00:00[jiro]->\t(To:taro) hidden\r\n"
                                        "10:00:00 jiro->\t[not hidden]\r\n"
                                        "[0:00:00\tstarts with a bracket\r\n"
                                        "half a line");
    EXPECT_EQ(pastLogReplyText(view, true), QStringLiteral("ab\r\n"
                                                     "12345678\n"
                                                     "10:00:00 jiro->\t[not hidden]\r\n"
                                                     "[0:00:00\tstarts with a bracket\r\n"));
    EXPECT_EQ(pastLogReplyText(QStringLiteral("no line feed at all"), true), QString());
    EXPECT_EQ(pastLogReplyText(QString(), true), QString());
}

TEST(PastLogText, LooksAtTheLast8192AndKeepsTheLast2048Characters)
{
    QString view;
    for (int i = 0; i < 400; ++i)
        view += QStringLiteral("10:00:%1 jiro->\tline %2\r\n").arg(i % 60, 2, 10, QChar(u'0')).arg(i, 3, 10, QChar(u'0'));
    ASSERT_GT(view.size(), PastLogScan);

    const QString reply = pastLogReplyText(view, true);
    EXPECT_EQ(reply.size(), PastLogKeep);
    EXPECT_TRUE(view.endsWith(reply));
    EXPECT_TRUE(reply.endsWith(QStringLiteral("line 399\r\n")));

    // A directed line inside the kept part makes room for older text.
    QString withDirected = view;
    withDirected.insert(view.lastIndexOf(u'\n', view.size() - 3) + 1, QStringLiteral("10:00:00[jiro]->\t(To:taro) x\r\n"));
    EXPECT_EQ(pastLogReplyText(withDirected, true), reply);
}

// Directed lines (never replied) filling exactly length characters.
QString directedRun(qsizetype length)
{
    QString run;
    while (length - run.size() > 100)
        run += QStringLiteral("10:00:01[jiro]->\t(To:taro) x\r\n");
    const QString head = QStringLiteral("10:00:02[jiro]->\t");
    return run + head + QString(length - run.size() - head.size() - 2, u'y') + QStringLiteral("\r\n");
}

TEST(PastLogText, ALineTheScanHoldsOnlyTheEndOfNeverLeaves)
{
    const QString older = QStringLiteral("10:00:00 jiro->\tolder\r\n");
    const QString whole = QStringLiteral("10:00:00 jiro->\twhole\r\n");
    const QString secret = QStringLiteral("10:00:00[jiro]->\t(To:taro) ") + QString(1700, u's') + QStringLiteral("\r\n");
    const QString newest = QStringLiteral("10:00:03 jiro->\tnewest\r\n");
    // The scan's first character is the first after fill.
    const auto upTo8192 = [&](qsizetype fill) { return directedRun(PastLogScan - fill - newest.size()) + newest; };
    const struct
    {
        const char *what;
        QString viewText;
        bool startsLine;
        QString reply;
    } rows[] = {
        {"the whole conversation", whole + upTo8192(whole.size()), true, whole + newest},
        {"a directed line across the scan's start", older + secret + upTo8192(900), true, newest},
        {"a scan starting at a line start", older + whole + upTo8192(whole.size()), true, whole + newest},
        {"a scan starting one character later", older + whole + upTo8192(whole.size() - 1), true, newest},
        {"a scan starting on the line feed of a CR LF", older + whole + upTo8192(1), true, newest},
        {"kept text cut inside a directed line", secret.right(900) + newest, false, newest},
        {"kept text cut at a line start", whole + newest, true, whole + newest},
        {"kept text cut inside, the scan at a line start", secret.right(900) + whole + upTo8192(whole.size()),
         false, whole + newest},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(pastLogReplyText(row.viewText, row.startsLine), row.reply);
    }
}

// --- Keeping the whole reply within one datagram ---

TEST(PastLogFit, ShortRepliesAreLeftAlone)
{
    const QString reply = QStringLiteral("10:00:00 jiro->\tこんにちは\r\n");
    EXPECT_EQ(fitPastLogReply(taro(), reply), reply);
    EXPECT_EQ(fitPastLogReply(taro(), QString()), QString());
}

TEST(PastLogFit, WithoutALineStartTheLongestFittingEndIsKept)
{
    const QString reply(PastLogKeep, QChar(u'漢'));
    const QString fitted = fitPastLogReply(taro(), reply);
    const qsizetype header = encodeCp932(buildPastLogReply(taro(), QString())).size();

    EXPECT_TRUE(reply.endsWith(fitted));
    EXPECT_LE(header + encodeCp932(fitted).size(), UdpEndpoint::MaxDatagram);
    EXPECT_GT(header + encodeCp932(fitted).size() + 2, UdpEndpoint::MaxDatagram);
}

TEST(PastLogFit, ACutReplyStartsAtTheEarliestLineStartThatFits)
{
    QString reply;
    for (int i = 0; reply.size() < 3000; ++i)
        reply += QStringLiteral("10:00:%1 jiro->\t").arg(i % 60, 2, 10, QChar(u'0')) + QString(30, QChar(u'漢'))
                 + QStringLiteral("\r\n");
    const QString fitted = fitPastLogReply(taro(), reply);
    const qsizetype start = reply.size() - fitted.size();

    ASSERT_TRUE(reply.endsWith(fitted));
    EXPECT_EQ(reply[start - 1], u'\n');
    EXPECT_TRUE(fitted.startsWith(QStringLiteral("10:00:")));
    EXPECT_LE(encodeCp932(buildPastLogReply(taro(), fitted)).size(), UdpEndpoint::MaxDatagram);
    const qsizetype earlier = reply.lastIndexOf(u'\n', start - 2) + 1;
    EXPECT_GT(encodeCp932(buildPastLogReply(taro(), reply.mid(earlier))).size(), UdpEndpoint::MaxDatagram);
}

TEST(PastLogFit, NeverStartsInsideASurrogatePair)
{
    // Characters beyond the basic plane go out as one byte ("?") each; a few double-byte
    // characters in front force a cut.
    QString reply(40, QChar(u'漢'));
    for (int i = 0; i < 4100; ++i)
        reply += QStringLiteral("😀");
    const QString fitted = fitPastLogReply(taro(), reply);

    ASSERT_FALSE(fitted.isEmpty());
    EXPECT_FALSE(fitted.front().isLowSurrogate());
    EXPECT_TRUE(reply.endsWith(fitted));
    EXPECT_LE(encodeCp932(buildPastLogReply(taro(), fitted)).size(), UdpEndpoint::MaxDatagram);
}

} // namespace
