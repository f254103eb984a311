#include "app/mainwindow.h"
#include "conversation/conversationview.h"
#include "roster/memberlist.h"
#include "support/testsupport.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <random>

using namespace vorlan;
using test::waitFor;

namespace {

const QStringList Segment = {"127.0.0.2", "127.0.0.3", "127.0.0.4"};

bool canBind(const QString &address, quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    inet_pton(AF_INET, address.toLatin1().constData(), &local.sin_addr);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) == 0;
    ::close(fd);
    return bound;
}

// Complete peers in one process: each main window on its own loopback address, a broadcast
// reaching the three addresses of the segment.
class Peers : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        // A port that none of the segment's addresses holds yet (tests run side by side).
        std::mt19937 random(std::random_device{}());
        for (int attempt = 0; attempt < 50 && port == 0; ++attempt) {
            const quint16 candidate = quint16(20000 + random() % 40000);
            bool free = true;
            for (const QString &address : Segment)
                free = free && canBind(address, candidate);
            if (free)
                port = candidate;
        }
        ASSERT_NE(port, 0);
    }

    MainWindow &start(const QString &address, const QString &host, const QString &user)
    {
        const QString ini = folder.filePath(host + ".ini");
        test::writeFile(ini, "[OPT]\r\nUserName=" + user.toLatin1() + "\r\n");
        MainWindowOptions options;
        options.iniPath = ini;
        options.commandLine = QString::number(port);
        options.identity = HostIdentity{host, address};
        options.bindAddress = address;
        options.segment = Segment;
        options.clock = &clock;
        auto window = std::make_unique<MainWindow>(options);
        window->setMessagePresenter([this](const QString &text, auto) { messages << text; });
        EXPECT_EQ(window->Form_Load(), 0);
        windows.push_back(std::move(window));
        return *windows.back();
    }

    static void type(MainWindow &window, const QString &text)
    {
        window.txtSend()->setPlainText(text);
        window.findChild<QPushButton *>("comEnter")->click();
    }

    static bool shows(const MainWindow &window, const QString &text)
    {
        return window.rtfHomeMessage()->conversationText().contains(text);
    }

    static int rowOf(const MainWindow &window, const QString &address)
    {
        const MemberList &list = *window.lvMember();
        for (int i = 0; i < list.rowCount(); ++i) {
            if (list.text(i, MemberList::Address) == address)
                return i;
        }
        return -1;
    }

    QTemporaryDir folder;
    quint16 port = 0;
    test::FakeClock clock;
    QStringList messages;
    std::vector<std::unique_ptr<MainWindow>> windows;
};

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
    EXPECT_EQ(b.lvMember()->text(rowOf(b, "127.0.0.2"), MemberList::UserName), "alice");

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
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
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
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
}

TEST_F(Peers, ALongLineArrivesAsConsecutivePiecesInOrder)
{
    MainWindow &a = start("127.0.0.2", "pc02", "alice");
    MainWindow &b = start("127.0.0.3", "pc03", "bob");
    ASSERT_TRUE(waitFor([&] { return a.lvMember()->rowCount() == 2 && b.lvMember()->rowCount() == 2; }));

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
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
}
