#include "app/mainwindow.h"
#include "presence/waveplayer.h"
#include "presence/presence.h"
#include "roster/memberlist.h"
#include "support/loopbackpeers.h"

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace vorlan;
using test::waitFor;

namespace {

class PresenceTest : public test::LoopbackPeers
{
protected:
    static QString deskOf(const MainWindow &window, const QString &address)
    {
        return cellOf(window, address, MemberList::Desk);
    }

    static MainWindowOptions iniOnly(const QString &path)
    {
        MainWindowOptions options;
        options.iniPath = path;
        return options;
    }
    MainWindow unstarted{iniOnly(folder.filePath("Vorlan.ini"))}; // never started: no socket
};

} // namespace

TEST_F(PresenceTest, AwayShowsOnBothSidesAndAKeywordLineBlinksTheInactiveWindow)
{
    MainWindow &a = start("127.0.0.2", "pc02", "alice");
    MainWindow &b = startWithIni("127.0.0.3", "pc03", "[OPT]\r\nUserName=bob\r\nKeyWord=1\r\n[KEY]\r\n1=\x89\xef\x8b\x63\r\n");
    ASSERT_EQ(b.lstPopup(), QStringList{QStringLiteral("会議")});
    ASSERT_TRUE(waitFor([&] { return a.lvMember()->rowCount() == 2 && b.lvMember()->rowCount() == 2; }));

    // The user turns from window b to window a.
    for (MainWindow *w : {&b, &a}) {
        w->show();
        w->activateWindow();
        ASSERT_TRUE(waitFor([&] { return QApplication::activeWindow() == w; }));
    }
    EXPECT_TRUE(a.WindowActive());
    EXPECT_FALSE(b.WindowActive());
    // The window manager resizes b while a has the focus: b stays inactive, so a line blinks it.
    b.resize(b.width() + 30, b.height() + 20);
    QApplication::processEvents();
    EXPECT_FALSE(b.WindowActive());

    auto *comDesk = a.findChild<QPushButton *>("comDesk");
    comDesk->click();
    EXPECT_EQ(comDesk->text(), QStringLiteral("在席通知"));
    EXPECT_EQ(a.windowIcon().cacheKey(), a.picDesk.cacheKey());
    ASSERT_TRUE(waitFor([&] {
        return deskOf(b, "127.0.0.2") == QStringLiteral("不在") && deskOf(a, "127.0.0.2") == QStringLiteral("不在");
    }));

    // A line sent while away first brings the sender back to the desk.
    type(a, QStringLiteral("次の会議は三時"));
    EXPECT_EQ(comDesk->text(), QStringLiteral("不在通知"));
    EXPECT_EQ(a.windowIcon().cacheKey(), a.picVorlan.cacheKey());
    ASSERT_TRUE(waitFor([&] { return b.presence().timStanding().isActive(); }));
    EXPECT_EQ(b.windowTitle(), QStringLiteral("Vorlan alice-> 次の会議は三時"));
    EXPECT_TRUE(waitFor([&] { return deskOf(a, "127.0.0.2").isEmpty() && deskOf(b, "127.0.0.2").isEmpty(); }));
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
    EXPECT_TRUE(noMessages());
}

TEST_F(PresenceTest, TheWindowFollowsMinimisingAndRestoringAndTheTestButtonBlinks)
{
    MainWindow &window = unstarted;
    window.show();
    window.showMinimized();
    ASSERT_TRUE(waitFor([&] { return window.isMinimized(); }));
    EXPECT_FALSE(window.WindowActive());
    window.showNormal();
    ASSERT_TRUE(waitFor([&] { return !window.isMinimized(); }));
    EXPECT_FALSE(window.WindowActive()); // restored, but not activated
    window.activateWindow();
    ASSERT_TRUE(waitFor([&] { return window.WindowActive(); }));
    window.showMinimized();
    ASSERT_TRUE(waitFor([&] { return window.isMinimized(); }));
    EXPECT_FALSE(window.WindowActive());
    window.showNormal();
    ASSERT_TRUE(waitFor([&] { return !window.isMinimized(); }));
    EXPECT_TRUE(window.WindowActive()); // it kept the focus

    window.findChild<QPushButton *>("comTest")->click();
    EXPECT_FALSE(window.WindowActive());
    EXPECT_TRUE(window.presence().timStanding().isActive());
    EXPECT_EQ(window.presence().blinker().BlinkCount(), 30);
}

TEST_F(PresenceTest, AnIncomingLineReachesTheAlertAndSoundsLoadOnlyWhenChosen)
{
    MainWindow &window = unstarted;
    int beeps = 0;
    window.presence().seams().beep = [&] { ++beeps; };
    window.settings().NormalSound = 1;
    window.ProcessMessage("100 0taro,pc01,10.0.0.1,09:00:00,hi", "10.0.0.1");
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Vorlan taro-> hi"));
    EXPECT_EQ(beeps, 5);
    const vorlan::WavePlayer *player = window.findChild<vorlan::WavePlayer *>();
    ASSERT_NE(player, nullptr);
    EXPECT_FALSE(player->looked());
    window.settings().NormalSound = 2;
    // A missing file and a FIFO are no sound: nothing is loaded for them.
    window.settings().ReceiveWaveFile = folder.filePath("missing.wav");
    window.ProcessMessage("100 0taro,pc01,10.0.0.1,09:00:00,again", "10.0.0.1");
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder.filePath("fifo.wav")).constData(), 0600), 0);
    window.settings().ReceiveWaveFile = folder.filePath("fifo.wav");
    window.ProcessMessage("100 0taro,pc01,10.0.0.1,09:00:00,again", "10.0.0.1");
    EXPECT_FALSE(player->looked());
    test::writeFile(folder.filePath("receive.wav"), "RIFF");
    window.settings().ReceiveWaveFile = folder.filePath("receive.wav");
    window.ProcessMessage("100 0taro,pc01,10.0.0.1,09:00:00,again", "10.0.0.1");
    EXPECT_TRUE(player->looked());
}

// Bringing the window forward undoes a minimise, not a maximise.
TEST_F(PresenceTest, ALineWhileActiveKeepsAMaximisedWindowMaximised)
{
    MainWindow &window = unstarted;
    window.showMaximized();
    ASSERT_TRUE(waitFor([&] { return window.isMaximized(); }));
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(&window, &activate);
    window.ProcessMessage("100 0taro,pc01,10.0.0.1,09:00:00,hi", "10.0.0.1");
    EXPECT_TRUE(window.isMaximized());
    window.showMinimized();
    ASSERT_TRUE(waitFor([&] { return window.isMinimized(); }));
    window.presence().seams().raiseWindow();
    EXPECT_FALSE(window.isMinimized());
    EXPECT_TRUE(window.isMaximized());
}
