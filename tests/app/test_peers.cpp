#include "app/mainwindow.h"
#include "conversation/conversationview.h"
#include "roster/memberlist.h"
#include "support/loopbackpeers.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

using namespace vorlan;
using test::waitFor;

namespace {

// Complete peers in one process: each main window on its own loopback address, a broadcast
// reaching the three addresses of the segment.
using Peers = test::LoopbackPeers;

} // namespace

TEST_F(Peers, FindEachOtherChatAndFetchThePastLog)
{
    MainWindow &a = start("127.0.0.2", "pc02", "alice");
    ASSERT_TRUE(waitFor([&] { return a.lvMember()->rowCount() == 1; })); // its own Join came back
    EXPECT_EQ(a.windowTitle(), "Vorlan V1.2.9(1)");
    EXPECT_TRUE(shows(a, "09:00:00\talice"));
    type(a, "before anyone came");
    ASSERT_TRUE(waitFor([&] { return shows(a, "09:00:00 alice->\tbefore anyone came\r\n"); }));

    MainWindow &b = start("127.0.0.3", "pc03", "bob");
    ASSERT_TRUE(waitFor([&] {
        return a.lvMember()->rowCount() == 2 && b.lvMember()->rowCount() == 2
               && shows(b, QStringLiteral("---過去のログ受信 終了 (127.0.0.2より)---"));
    }));
    EXPECT_TRUE(b.PastLogAsked());
    const QString bText = b.rtfHomeMessage()->conversationText();
    const qsizetype begin = bText.indexOf(QStringLiteral("\t---過去のログ受信 開始 (127.0.0.2より)---\r\n"));
    const qsizetype line = bText.indexOf("09:00:00 alice->\tbefore anyone came\r\n");
    const qsizetype end = bText.indexOf(QStringLiteral("\t---過去のログ受信 終了 (127.0.0.2より)---\r\n"));
    EXPECT_LT(begin, line);
    EXPECT_LT(line, end);
    EXPECT_EQ(rowOf(a, "127.0.0.3") >= 0, true);
    EXPECT_EQ(cellOf(b, "127.0.0.2", MemberList::UserName), "alice");

    MainWindow &c = start("127.0.0.4", "pc04", "carol");
    ASSERT_TRUE(waitFor([&] {
        return a.lvMember()->rowCount() == 3 && b.lvMember()->rowCount() == 3
               && c.lvMember()->rowCount() == 3;
    }));
    EXPECT_EQ(c.windowTitle(), "Vorlan V1.2.9(3)");

    // A line to everybody shows in every view.
    clock.advance(5);
    type(b, "hello all");
    for (MainWindow *w : {&a, &b, &c})
        EXPECT_TRUE(waitFor([&] { return shows(*w, "09:00:05 bob->\thello all\r\n"); }));

    // A directed line reaches the ticked member and the sender only.
    a.lvMember()->setTicked(rowOf(a, "127.0.0.4"), true);
    type(a, "just for carol");
    const QString directed = "09:00:05[alice]->\t(To:carol) just for carol\r\n";
    ASSERT_TRUE(waitFor([&] { return shows(c, directed) && shows(a, directed); }));
    type(b, "marker");
    ASSERT_TRUE(waitFor([&] { return shows(a, "bob->\tmarker") && shows(c, "bob->\tmarker"); }));
    EXPECT_FALSE(shows(b, "just for carol"));
    EXPECT_TRUE(noMessages());
}

TEST_F(Peers, ClosingTellsTheOthersAndStopsSending)
{
    MainWindow &a = start("127.0.0.2", "pc02", "alice");
    MainWindow &b = start("127.0.0.3", "pc03", "bob");
    ASSERT_TRUE(waitFor([&] { return a.lvMember()->rowCount() == 2 && b.lvMember()->rowCount() == 2; }));

    a.close();
    ASSERT_TRUE(waitFor([&] { return b.lvMember()->rowCount() == 1; }));
    EXPECT_TRUE(shows(b, QStringLiteral("09:00:00\taliceが退席しました。\r\n")));
    EXPECT_EQ(b.windowTitle(), "Vorlan V1.2.9(1)");
    EXPECT_EQ(a.lstMemberIP(), QStringList({"127.0.0.2", "127.0.0.3"}));

    // Whatever is still sending after the close goes nowhere and raises no message.
    EXPECT_FALSE(a.SendDatagram(QStringLiteral("100 0alice,pc02,127.0.0.2,09:00:00,late"), "127.0.0.3"));
    QCoreApplication::processEvents();
    EXPECT_FALSE(shows(b, "late"));
    EXPECT_TRUE(noMessages());
}

TEST_F(Peers, ALongLineArrivesAsConsecutivePiecesInOrder)
{
    MainWindow &a = start("127.0.0.2", "pc02", "alice");
    MainWindow &b = start("127.0.0.3", "pc03", "bob");
    // Alice's answer to bob's request for her past log is in first, so the long line is the last
    // thing bob's view shows.
    ASSERT_TRUE(waitFor([&] {
        return a.lvMember()->rowCount() == 2 && b.lvMember()->rowCount() == 2
               && shows(b, QStringLiteral("---過去のログ受信 終了 (127.0.0.2より)---"));
    }));

    // 3,000 double-byte characters: about 6,000 bytes, more than one datagram can carry.
    QString line;
    for (int i = 0; i < 3000; ++i)
        line += QChar(u'あ' + i % 80);
    type(a, line);

    const QString head = "09:00:00 alice->\t";
    ASSERT_TRUE(waitFor([&] {
        return b.rtfHomeMessage()->conversationText().count(head) >= 2
               && b.rtfHomeMessage()->conversationText().endsWith(line.right(10) + "\r\n");
    }));
    const QString text = b.rtfHomeMessage()->conversationText();
    QString joined;
    for (qsizetype at = text.indexOf(head); at >= 0; at = text.indexOf(head, at + 1)) {
        const qsizetype start = at + head.size();
        joined += text.mid(start, text.indexOf("\r\n", start) - start);
    }
    EXPECT_EQ(joined, line);
    EXPECT_TRUE(noMessages());
}
