#include "app/mainwindow.h"
#include "app/twips.h"
#include "app/windowlifetime.h"
#include "conversation/logwriter.h"
#include "net/udpendpoint.h"
#include "roster/memberlist.h"
#include "support/loopbackpeers.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QSessionManager>
#include <QTimer>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <memory>

using namespace vorlan;

namespace {

// The window binds 127.0.0.2 but reports 127.0.0.6 as its own address, so that a plain socket
// can watch what goes to the own address. 127.0.0.5 stands for the rest of the segment: only a
// broadcast reaches it.
const QString Bound = QStringLiteral("127.0.0.2");
const QString Own = QStringLiteral("127.0.0.6");
const QString Bob = QStringLiteral("127.0.0.3");
const QString Carol = QStringLiteral("127.0.0.4");
const QString Stranger = QStringLiteral("127.0.0.5");

// A plain socket on a loopback address that keeps what reaches it.
class Listener
{
public:
    bool bind(const QString &address, quint16 port)
    {
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_in local = {};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        inet_pton(AF_INET, address.toLatin1().constData(), &local.sin_addr);
        return ::bind(m_fd, reinterpret_cast<sockaddr *>(&local), sizeof local) == 0;
    }
    ~Listener()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    // The codes of what arrived since the last call.
    QStringList codes()
    {
        QStringList result;
        char buffer[4096];
        for (ssize_t got; (got = ::recv(m_fd, buffer, sizeof buffer, 0)) > 0;)
            result.append(QString::fromLatin1(buffer, 3));
        return result;
    }

private:
    int m_fd = -1;
};

class LoopbackWindow : public test::LoopbackPeers
{
protected:
    // Listeners hold the port on the watched addresses from the start.
    bool portIsUsable(quint16 candidate) override
    {
        listeners.clear();
        bool bound = true;
        for (const QString &address : {Own, Bob, Carol, Stranger}) {
            listeners[address] = std::make_unique<Listener>();
            bound = bound && listeners[address]->bind(address, candidate);
        }
        return bound;
    }

    MainWindow &start(const QByteArray &ini = "[OPT]\r\nUserName=alice\r\n")
    {
        test::writeFile(iniPath(), ini);
        MainWindow &window = launch({iniPath(), {}, HostIdentity{"pc02", Own}, Bound, {Bound, Stranger}});
        EXPECT_TRUE(test::waitFor([&window] { return window.lvMember()->rowCount() == 1; }));
        for (const QString &address : {Bob, Carol})
            window.lvMember()->UpdateMember("0", "user", "pc", address, "08:00:00");
        for (auto &[address, listener] : listeners)
            listener->codes(); // the start-up Join
        return window;
    }

    QString iniPath() const { return folder.filePath("Vorlan.ini"); }

    std::map<QString, std::unique_ptr<Listener>> listeners;
};

} // namespace

TEST_F(LoopbackWindow, EveryOtherMemberIsToldByUnicastOnly)
{
    MainWindow &w = start();
    w.findChild<QPushButton *>("comExit")->click();
    EXPECT_EQ(listeners[Bob]->codes(), QStringList({"301"}));
    EXPECT_EQ(listeners[Carol]->codes(), QStringList({"301"}));
    EXPECT_EQ(listeners[Own]->codes(), QStringList());
    EXPECT_EQ(listeners[Stranger]->codes(), QStringList()); // nothing broadcast
    EXPECT_EQ(w.endpoint().tag(), "0");
    EXPECT_TRUE(noMessages());
}

TEST_F(LoopbackWindow, StartUpTellsTheListedPeersButNotItsOwnAddress)
{
    test::writeFile(iniPath(), "[OPT]\r\nUserName=alice\r\n[IP]\r\n1=" + Own.toLatin1() + "\r\n2=" + Bob.toLatin1() + "\r\n");
    MainWindow &w = launch({iniPath(), {}, HostIdentity{"pc02", Own}, Bound, {Bound, Stranger}});
    ASSERT_TRUE(test::waitFor([&w] { return w.lvMember()->rowCount() == 1; }));
    EXPECT_EQ(listeners[Stranger]->codes(), QStringList({"201"})); // the broadcast
    EXPECT_EQ(listeners[Bob]->codes(), QStringList({"201"}));
    EXPECT_EQ(listeners[Own]->codes(), QStringList());
    EXPECT_TRUE(noMessages());
}

TEST_F(LoopbackWindow, AReloadWhileTellingChangesNotWhoIsTold)
{
    MainWindow &w = start();
    // Handled during the first Leave: the list is sorted the other way, then reloaded, which
    // refills lstMemberIP in the new order.
    QMetaObject::invokeMethod(&w, [&w] {
        w.lvMember()->lvMember_ColumnClick(MemberList::Address);
        w.lvMember()->lvMember_ColumnClick(MemberList::Address);
        w.findChild<QPushButton *>("comReload")->click();
    }, Qt::QueuedConnection);
    w.close();
    EXPECT_EQ(listeners[Bob]->codes().count("301"), 1);
    EXPECT_EQ(listeners[Carol]->codes().count("301"), 1);
    EXPECT_EQ(listeners[Own]->codes().count("301"), 0);
}

TEST_F(LoopbackWindow, AfterAReloadAnswersFetchNoPastLog)
{
    MainWindow &w = start();
    ASSERT_FALSE(w.PastLogAsked()); // nobody else has answered yet
    w.findChild<QPushButton *>("comReload")->click();
    EXPECT_TRUE(w.PastLogAsked());
    EXPECT_EQ(listeners[Stranger]->codes(), QStringList({"203"}));
    EXPECT_EQ(w.lvMember()->addresses(), QStringList({Own})); // Bob and Carol did not answer
}

TEST_F(LoopbackWindow, TheLogFileIsClosed)
{
    const QString logs = folder.filePath("logs");
    ASSERT_TRUE(QDir().mkpath(logs));
    MainWindow &w = start("[OPT]\r\nLogChk=1\r\nLogDir=" + logs.toLocal8Bit() + "\r\n");
    ASSERT_TRUE(w.logWriter().isOpen());
    w.close();
    EXPECT_FALSE(w.logWriter().isOpen());
}

TEST_F(LoopbackWindow, GeometryIsSavedInTheNormalStateOnly)
{
    const QByteArray ini = "[POSITION]\r\nX=1500\r\n";
    const struct
    {
        Qt::WindowState state;
        bool saved;
    } cases[] = {
        {Qt::WindowNoState, true},
        {Qt::WindowMaximized, false},
        {Qt::WindowMinimized, false},
        {Qt::WindowFullScreen, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.state);
        MainWindow &w = start(ini);
        const QByteArray before = test::readFile(iniPath());
        w.setWindowState(c.state);
        w.show();
        w.move(200, 100);
        w.close();
        const QByteArray file = test::readFile(iniPath());
        if (c.saved) {
            EXPECT_TRUE(file.startsWith("[POSITION]\r\nX=" + QByteArray::number(pixelsToTwips(w.x(), w.logicalDpiY()))
                                        + "\r\nY=")) << file.toStdString();
            EXPECT_TRUE(file.contains("\r\nM6=1440\r\n")) << file.toStdString();
        } else {
            EXPECT_EQ(file, before);
        }
        windows.clear();
    }
}

TEST_F(LoopbackWindow, SignalsAndTheSessionEndCloseTheRunningProgram)
{
    const struct
    {
        const char *what;
        std::function<void()> end;
    } cases[] = {
        {"SIGTERM", [] { ::raise(SIGTERM); }},
        {"SIGINT", [] { ::raise(SIGINT); }},
        {"SIGHUP", [] { ::raise(SIGHUP); }},
        {"session end", [] { emit qApp->commitDataRequest(*qApp->findChild<QSessionManager *>()); }},
    };
    ASSERT_NE(qApp->findChild<QSessionManager *>(), nullptr);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        test::writeFile(iniPath(), "[OPT]\r\nUserName=alice\r\n");
        MainWindow window({iniPath(), QString::number(port), HostIdentity{"pc02", Own}, Bound, {Bound, Stranger}, &clock});
        window.setMessagePresenter([this](const QString &text, auto) { messages << text; });
        // Once the window runs, Bob is listed and the end comes.
        QTimer running;
        QObject::connect(&running, &QTimer::timeout, &window, [&] {
            if (!window.isVisible())
                return;
            running.stop();
            window.lvMember()->UpdateMember("0", "bob", "pc03", Bob, "08:00:00");
            c.end();
        });
        running.start(10);
        QTimer::singleShot(10000, &window, [] { QCoreApplication::exit(3); });
        EXPECT_EQ(runMainWindow(window), 0);
        EXPECT_FALSE(window.isVisible());
        EXPECT_EQ(listeners[Bob]->codes(), QStringList({"301"}));
        EXPECT_EQ(window.endpoint().tag(), "0");
    }
    EXPECT_TRUE(noMessages());
}

TEST_F(LoopbackWindow, WithTheDisplayGoneTheWindowClosesWithoutTheEventLoop)
{
    const QString logs = folder.filePath("logs");
    ASSERT_TRUE(QDir().mkpath(logs));
    MainWindow &w = start("[OPT]\r\nLogChk=1\r\nLogDir=" + logs.toLocal8Bit() + "\r\n");
    w.show();
    w.move(200, 100);
    ASSERT_TRUE(test::waitFor([&w] { return w.frameGeometry().topLeft() == QPoint(200, 100); }));
    // The window system would end the program inside the loop: nothing may run it any more.
    bool eventsRan = false;
    QMetaObject::invokeMethod(&w, [&eventsRan] { eventsRan = true; }, Qt::QueuedConnection);
    w.displayLost();
    EXPECT_FALSE(eventsRan);
    EXPECT_EQ(listeners[Bob]->codes(), QStringList({"301"}));
    EXPECT_EQ(listeners[Carol]->codes(), QStringList({"301"}));
    EXPECT_FALSE(w.logWriter().isOpen());
    const QByteArray file = test::readFile(iniPath());
    EXPECT_TRUE(file.contains("[POSITION]\r\nX=" + QByteArray::number(pixelsToTwips(200, w.logicalDpiY()))
                              + "\r\nY=" + QByteArray::number(pixelsToTwips(100, w.logicalDpiY())) + "\r\n"))
        << file.toStdString();

    // Gone while starting, before the window was ever shown: its geometry is kept as it was.
    MainWindow &starting = start(file);
    starting.displayLost();
    EXPECT_EQ(test::readFile(iniPath()).toStdString(), file.toStdString());
    EXPECT_TRUE(noMessages());
}
