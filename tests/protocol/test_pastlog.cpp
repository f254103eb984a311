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
    EXPECT_EQ(pastLogReplyText(view), QStringLiteral("ab\r\n"
                                                     "12345678\n"
                                                     "10:00:00 jiro->\t[not hidden]\r\n"
                                                     "[0:00:00\tstarts with a bracket\r\n"));
    EXPECT_EQ(pastLogReplyText(QStringLiteral("no line feed at all")), QString());
    EXPECT_EQ(pastLogReplyText(QString()), QString());
}

TEST(PastLogText, LooksAtTheLast8192AndKeepsTheLast2048Characters)
{
    QString view;
    for (int i = 0; i < 400; ++i)
        view += QStringLiteral("10:00:%1 jiro->\tline %2\r\n").arg(i % 60, 2, 10, QChar(u'0')).arg(i, 3, 10, QChar(u'0'));
    ASSERT_GT(view.size(), PastLogScan);

    const QString reply = pastLogReplyText(view);
    EXPECT_EQ(reply.size(), PastLogKeep);
    EXPECT_TRUE(view.endsWith(reply));
    EXPECT_TRUE(reply.endsWith(QStringLiteral("line 399\r\n")));

    // A directed line inside the kept part makes room for older text.
    QString withDirected = view;
    withDirected.insert(view.lastIndexOf(u'\n', view.size() - 3) + 1, QStringLiteral("10:00:00[jiro]->\t(To:taro) x\r\n"));
    EXPECT_EQ(pastLogReplyText(withDirected), reply);
}

TEST(PastLogText, ScansNotOneCharacterMoreOrLessThan8192)
{
    // An undirected line, then directed lines (never replied) filling runLength characters.
    const auto view = [](qsizetype runLength) {
        QString run;
        while (runLength - run.size() > 100)
            run += QStringLiteral("10:00:01[jiro]->\t(To:taro) x\r\n");
        const QString head = QStringLiteral("10:00:02[jiro]->\t");
        run += head + QString(runLength - run.size() - head.size() - 2, u'y') + QStringLiteral("\r\n");
        return QStringLiteral("10:00:00 jiro->\tolder\r\n") + run;
    };
    ASSERT_TRUE(view(PastLogScan).endsWith(QStringLiteral("y\r\n")));
    EXPECT_EQ(pastLogReplyText(view(PastLogScan)), QString());
    // One character shorter: the scan begins on the line feed that ends the older line.
    EXPECT_EQ(pastLogReplyText(view(PastLogScan - 1)), QStringLiteral("\n"));
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
