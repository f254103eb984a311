#include "app/mainwindow.h"
#include "base/codec.h"
#include "presence/presence.h"
#include "roster/memberlist.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QPushButton>
#include <QSoundEffect>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <random>

using namespace vorlan;
using test::waitFor;

namespace {

const QStringList Segment = {"127.0.0.2", "127.0.0.3", "127.0.0.4"};

int boundSocket(const QString &address, quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    inet_pton(AF_INET, address.toLatin1().constData(), &local.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A scripted member on a loopback address: sends what the test says, keeps what it receives.
class LoopbackPeer
{
public:
    LoopbackPeer(const QString &address, quint16 port) : m_fd(boundSocket(address, port)), m_port(port) {}
    ~LoopbackPeer() { ::close(m_fd); }

    void send(const QString &text, const QString &to) const
    {
        sockaddr_in peer = {};
        peer.sin_family = AF_INET;
        peer.sin_port = htons(m_port);
        inet_pton(AF_INET, to.toLatin1().constData(), &peer.sin_addr);
        const QByteArray bytes = encodeCp932(text);
        ::sendto(m_fd, bytes.constData(), size_t(bytes.size()), 0, reinterpret_cast<sockaddr *>(&peer),
                 sizeof peer);
    }

    // Everything received so far, in order.
    const QStringList &received()
    {
        char buffer[8192];
        for (ssize_t n; (n = ::recv(m_fd, buffer, sizeof buffer, 0)) >= 0;)
            m_received << decodeCp932(QByteArray(buffer, int(n)));
        return m_received;
    }

    void forget()
    {
        received();
        m_received.clear();
    }

private:
    int m_fd;
    quint16 m_port;
    QStringList m_received;
};

class PresenceWindows : public ::testing::Test
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
            for (const QString &address : Segment) {
                const int fd = boundSocket(address, candidate);
                free = free && fd >= 0;
                ::close(fd);
            }
            if (free)
                port = candidate;
        }
        ASSERT_NE(port, 0);
    }

    MainWindow &start(const QString &address, const QString &host, const QByteArray &ini)
    {
        const QString path = folder.filePath(host + ".ini");
        test::writeFile(path, ini);
        MainWindowOptions options;
        options.iniPath = path;
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

    static QString deskOf(const MainWindow &window, const QString &address)
    {
        const MemberList &list = *window.lvMember();
        for (int i = 0; i < list.rowCount(); ++i) {
            if (list.text(i, MemberList::Address) == address)
                return list.text(i, MemberList::Desk);
        }
        return QStringLiteral("(not listed)");
    }

    QTemporaryDir folder;
    quint16 port = 0;
    test::FakeClock clock;
    QStringList messages;
    std::vector<std::unique_ptr<MainWindow>> windows;
};

} // namespace

TEST_F(PresenceWindows, GoingAwayTellsEveryRowAndALineSentWhileAwayComesBackFirst)
{
    LoopbackPeer bob("127.0.0.3", port), carol("127.0.0.4", port);
    MainWindow &a = start("127.0.0.2", "pc02", "[OPT]\r\nUserName=alice\r\n");
    bob.send("201 0bob,pc03,127.0.0.3,09:00:00", "127.0.0.2");
    carol.send("201 0carol,pc04,127.0.0.4,09:00:00", "127.0.0.2");
    ASSERT_TRUE(waitFor([&] { return a.lvMember()->rowCount() == 3; }));
    bob.forget();
    carol.forget();

    auto *comDesk = a.findChild<QPushButton *>("comDesk");
    comDesk->click();
    EXPECT_EQ(comDesk->text(), QStringLiteral("在席通知"));
    EXPECT_EQ(a.windowIcon().cacheKey(), a.picDesk.cacheKey());
    const QString away = "402 1alice,pc02,127.0.0.2,09:00:00";
    ASSERT_TRUE(waitFor([&] { return deskOf(a, "127.0.0.2") == QStringLiteral("不在"); }));
    ASSERT_TRUE(waitFor([&] { return bob.received().size() == 1 && carol.received().size() == 1; }));
    EXPECT_EQ(bob.received(), QStringList{away});
    EXPECT_EQ(carol.received(), QStringList{away});

    // The line waits for the at-desk notice.
    type(a, "back");
    const QStringList expected = {"402 0alice,pc02,127.0.0.2,09:00:00", "100 0alice,pc02,127.0.0.2,09:00:00,back"};
    ASSERT_TRUE(waitFor([&] { return bob.received().size() == 3 && carol.received().size() == 3; }));
    EXPECT_EQ(bob.received().mid(1), expected);
    EXPECT_EQ(carol.received().mid(1), expected);
    EXPECT_EQ(comDesk->text(), QStringLiteral("不在通知"));
    EXPECT_EQ(a.windowIcon().cacheKey(), a.picVorlan.cacheKey());
    EXPECT_TRUE(waitFor([&] { return deskOf(a, "127.0.0.2").isEmpty(); }));
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
}

TEST_F(PresenceWindows, AwayShowsInTheOtherListAndAKeywordLineBlinksTheInactiveOne)
{
    MainWindow &a = start("127.0.0.2", "pc02", "[OPT]\r\nUserName=alice\r\n");
    MainWindow &b = start("127.0.0.3", "pc03",
                          "[OPT]\r\nUserName=bob\r\nNormal=0\r\nKeyWord=1\r\n[KEY]\r\n1=\x89\xef\x8b\x63\r\n"); // 会議
    ASSERT_EQ(b.lstPopup(), QStringList{QStringLiteral("会議")});
    ASSERT_TRUE(waitFor([&] { return a.lvMember()->rowCount() == 2 && b.lvMember()->rowCount() == 2; }));

    // The user turns to window a: b loses the activation.
    b.show();
    b.activateWindow();
    ASSERT_TRUE(waitFor([&] { return QApplication::activeWindow() == &b; }));
    EXPECT_TRUE(b.WindowActive());
    a.show();
    a.activateWindow();
    ASSERT_TRUE(waitFor([&] { return QApplication::activeWindow() == &a; }));
    EXPECT_FALSE(b.WindowActive());
    EXPECT_TRUE(a.WindowActive());

    a.findChild<QPushButton *>("comDesk")->click();
    ASSERT_TRUE(waitFor([&] { return deskOf(b, "127.0.0.2") == QStringLiteral("不在"); }));

    type(a, QStringLiteral("次の会議は三時"));
    ASSERT_TRUE(waitFor([&] { return b.presence().timStanding().isActive(); }));
    EXPECT_EQ(b.windowTitle(), QStringLiteral("Vorlan alice-> 次の会議は三時"));
    EXPECT_EQ(deskOf(b, "127.0.0.2"), QString());
    b.presence().timStanding_Timer();
    b.presence().timStanding_Timer();
    EXPECT_EQ(b.windowIcon().cacheKey(), b.picPop.cacheKey());

    // The sender was looking at its window: its own copy changes nothing there.
    EXPECT_EQ(a.windowTitle(), "Vorlan V1.2.9(2)");
    EXPECT_FALSE(a.presence().timStanding().isActive());

    // Turning back to b ends its blink at the next tick.
    b.activateWindow();
    ASSERT_TRUE(waitFor([&] { return b.WindowActive(); }));
    b.presence().timStanding_Timer();
    EXPECT_EQ(b.windowTitle(), "Vorlan V1.2.9(2)");
    EXPECT_EQ(b.windowIcon().cacheKey(), b.picVorlan.cacheKey());
    EXPECT_FALSE(b.presence().timStanding().isActive());
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
}

namespace {

// A window that is built but never started: no socket, no settings read.
class PresenceWindow : public ::testing::Test
{
protected:
    MainWindowOptions options()
    {
        MainWindowOptions result;
        result.iniPath = folder.filePath("Vorlan.ini");
        return result;
    }

    QTemporaryDir folder;
    MainWindow window{options()};
};

} // namespace

TEST_F(PresenceWindow, TheWindowFollowsActivationMinimisingAndRestoring)
{
    QEvent activate(QEvent::WindowActivate), deactivate(QEvent::WindowDeactivate);
    QApplication::sendEvent(&window, &activate);
    EXPECT_TRUE(window.WindowActive());
    QApplication::sendEvent(&window, &deactivate);
    EXPECT_FALSE(window.WindowActive());

    window.show();
    window.showMinimized();
    ASSERT_TRUE(waitFor([&] { return window.isMinimized(); }));
    EXPECT_FALSE(window.WindowActive());
    window.showNormal();
    ASSERT_TRUE(waitFor([&] { return !window.isMinimized(); }));
    EXPECT_TRUE(window.WindowActive());

    // Test button: a blink of 30 ticks as if the window were inactive.
    window.findChild<QPushButton *>("comTest")->click();
    EXPECT_FALSE(window.WindowActive());
    EXPECT_TRUE(window.presence().timStanding().isActive());
    EXPECT_EQ(window.presence().blinker().BlinkCount(), 30);
}

TEST_F(PresenceWindow, AnIncomingLineReachesTheAlertAndSoundsLoadOnlyWhenChosen)
{
    int beeps = 0;
    window.presence().seams().beep = [&] { ++beeps; };
    window.settings().NormalSound = 1;
    window.ProcessMessage("100 0taro,pc01,10.0.0.1,09:00:00,hi");
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Vorlan taro-> hi"));
    EXPECT_TRUE(window.presence().timStanding().isActive());
    EXPECT_EQ(beeps, 5);
    EXPECT_EQ(window.findChild<QSoundEffect *>(), nullptr);

    window.settings().NormalSound = 2;
    window.settings().ReceiveWaveFile = folder.filePath("missing.wav");
    window.ProcessMessage("100 0taro,pc01,10.0.0.1,09:00:00,again");
    EXPECT_NE(window.findChild<QSoundEffect *>(), nullptr);
}

// Bringing the window forward undoes a minimise, not a maximise.
TEST_F(PresenceWindow, ALineWhileActiveKeepsAMaximisedWindowMaximised)
{
    window.showMaximized();
    ASSERT_TRUE(waitFor([&] { return window.isMaximized(); }));
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(&window, &activate);
    window.ProcessMessage("100 0taro,pc01,10.0.0.1,09:00:00,hi");
    EXPECT_TRUE(window.isMaximized());

    window.showMinimized();
    ASSERT_TRUE(waitFor([&] { return window.isMinimized(); }));
    window.presence().seams().raiseWindow();
    EXPECT_FALSE(window.isMinimized());
    EXPECT_TRUE(window.isMaximized());
}
