#include "app/mainwindowlayout.h"

#include "app/mainwindow.h"
#include "app/startupsettings.h"
#include "app/twips.h"
#include "conversation/conversationview.h"
#include "roster/memberlist.h"
#include "support/settingsfolder.h"

#include <QApplication>
#include <QHeaderView>
#include <QMouseEvent>
#include <QScrollBar>
#include <QScreen>

#include <gtest/gtest.h>

#include <memory>

using namespace vorlan;
using vorlan::test::readFile;

namespace {

const char *const Controls[] = {"lvMember", "imgResize2", "comExit", "comDesk", "comFree", "comReload",
                                "comLog", "comInfo", "comOption", "rtfHomeMessage", "txtSend", "lblCopyright"};

// Real windows on the offscreen platform, which reports a window frame once a window is shown,
// as a window manager does.
class MainWindowLayoutTest : public test::SettingsFolderTest
{
protected:
    // A window started from the settings file, shown.
    std::unique_ptr<MainWindow> start()
    {
        std::unique_ptr<MainWindow> window = newWindow();
        applyStartupSettings(*window);
        window->show();
        QApplication::processEvents();
        return window;
    }

    static QRect twips(const MainWindow &window, const char *name)
    {
        return twipsGeometry(window.findChild<QWidget *>(QLatin1String(name)));
    }

    static QList<QRect> allControls(const MainWindow &window)
    {
        QList<QRect> result;
        for (const char *name : Controls)
            result.append(twips(window, name));
        return result;
    }

    static void mouse(QWidget *target, QEvent::Type type, Qt::MouseButton button, int y)
    {
        const QPointF local(10, y);
        QMouseEvent event(type, local, target->mapToGlobal(local), button,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button),
                          Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    }
};

} // namespace

TEST_F(MainWindowLayoutTest, resizing_the_window_and_dragging_the_splitter_move_the_controls)
{
    const std::unique_ptr<MainWindow> window = start();
    MainWindowLayout &layout = window->windowLayout();
    const qreal dpi = window->logicalDpiY();
    ASSERT_EQ(dpi, 96); // pixels below are literal: 15 twips each
    const QRect before = layout.frameTwips();
    const QRect outer = window->frameGeometry();
    const QRect client = window->geometry();
    const QMargins frame(client.x() - outer.x(), client.y() - outer.y(), outer.right() - client.right(),
                         outer.bottom() - client.bottom());
    ASSERT_FALSE(frame.isNull()) << "the platform reports no frame";
    EXPECT_EQ(twips(*window, "lvMember"), QRect(120, 120, 8655, 1575)); // showing moved nothing

    window->resize(window->width() + 40, window->height() + 60);
    const QRect after = layout.frameTwips();
    const int dW = after.width() - before.width();
    const int dH = after.height() - before.height();
    ASSERT_GT(dW, 0);
    EXPECT_EQ(twips(*window, "lvMember"), QRect(120, 120, 8655 + dW, 1575 + dH / 2));
    EXPECT_EQ(twips(*window, "comExit"), QRect(7800 + dW, 1800 + dH / 2, 975, 300));
    EXPECT_EQ(twips(*window, "rtfHomeMessage"), QRect(120, 2160 + dH / 2, 8655 + dW, 1695 + dH / 2));
    EXPECT_EQ(twips(*window, "lblCopyright"), QRect(120, 4320 + dH, 8685 + dW, 465));
    EXPECT_EQ(window->lvMember()->width(), 617);
    EXPECT_TRUE(window->WindowActive());
    // The window manager is told the smallest size: "オプション" (128 px from the left) at the
    // left edge; an outer height of 3,511 twips.
    EXPECT_EQ(window->minimumSize(), QSize(635 - 128, 234 - frame.top() - frame.bottom()));

    // Too narrow, whatever made it so: the window stops where the whole button row shows.
    window->setMinimumSize(0, 0); // as a window manager that does not listen
    window->resize(267, window->height());
    QApplication::processEvents();
    EXPECT_EQ(window->size(), QSize(507, 395));
    for (const char *name : Controls)
        EXPECT_TRUE(window->rect().contains(window->findChild<QWidget *>(QLatin1String(name))->geometry())) << name;
    EXPECT_EQ(window->findChild<QWidget *>(QStringLiteral("comOption"))->x(), 0);

    // Too low: the window goes back to its height, the controls stay.
    const QSize accepted = window->size();
    const QList<QRect> placed = allControls(*window);
    window->setMinimumSize(0, 0);
    window->resize(window->width(), 200);
    QApplication::processEvents();
    EXPECT_EQ(window->size(), accepted);
    EXPECT_EQ(allControls(*window), placed);
    // Moved since the last resize: an undone resize leaves it where it was moved to.
    window->move(window->pos() + QPoint(30, 20));
    const QPoint moved = window->pos();
    window->setMinimumSize(0, 0);
    window->resize(window->width(), 200);
    EXPECT_EQ(window->pos(), moved);
    EXPECT_EQ(window->size(), accepted);

    window->showMinimized();
    EXPECT_FALSE(window->WindowActive());
    EXPECT_EQ(allControls(*window), placed);
    window->showNormal();
    EXPECT_TRUE(window->WindowActive());
    EXPECT_EQ(allControls(*window), placed);

    // The splitter follows a left-button drag; a drag that would crush a pane is ignored.
    QWidget *splitter = window->findChild<QWidget *>(QStringLiteral("imgResize2"));
    EXPECT_EQ(splitter->cursor().shape(), Qt::SizeVerCursor);
    const QRect list = twips(*window, "lvMember");
    mouse(splitter, QEvent::MouseButtonPress, Qt::RightButton, 2);
    mouse(splitter, QEvent::MouseMove, Qt::RightButton, 22);
    EXPECT_EQ(twips(*window, "lvMember"), list); // not a drag
    mouse(splitter, QEvent::MouseButtonRelease, Qt::RightButton, 22);
    mouse(splitter, QEvent::MouseButtonPress, Qt::LeftButton, 2);
    mouse(splitter, QEvent::MouseMove, Qt::LeftButton, 22);
    const int dragged = pixelsToTwips(22, dpi);
    EXPECT_EQ(twips(*window, "lvMember"), list.adjusted(0, 0, 0, dragged));
    EXPECT_EQ(splitter->y(), qRound(twips(*window, "imgResize2").y() / 15.0));
    mouse(splitter, QEvent::MouseMove, Qt::LeftButton, 1000);
    EXPECT_EQ(twips(*window, "lvMember"), list.adjusted(0, 0, 0, dragged));
    // Another button pressed and let go on the way: the drag goes on.
    mouse(splitter, QEvent::MouseButtonPress, Qt::RightButton, 2);
    mouse(splitter, QEvent::MouseButtonRelease, Qt::RightButton, 2);
    mouse(splitter, QEvent::MouseMove, Qt::LeftButton, 22);
    EXPECT_EQ(twips(*window, "lvMember"), list.adjusted(0, 0, 0, 2 * dragged));
    mouse(splitter, QEvent::MouseButtonRelease, Qt::LeftButton, 22);
    mouse(splitter, QEvent::MouseMove, Qt::NoButton, 10);
    EXPECT_EQ(twips(*window, "lvMember"), list.adjusted(0, 0, 0, 2 * dragged));
}

TEST_F(MainWindowLayoutTest, a_closed_window_opens_again_as_it_was_left)
{
    // Control twips that no whole number of pixels gives; the window keys are the outer frame.
    writeIni(QStringLiteral("[POSITION]\r\nX=1500\r\nY=900\r\nW=9900\r\nH=6015\r\nLY=130\r\nLW=8001\r\n"
                            "LH=1601\r\n2Y=1701\r\n2W=8002\r\nEY=1811\r\nEL=7777\r\nDL=6666\r\nHY=2171\r\n"
                            "HW=8003\r\nHH=1699\r\nSY=3851\r\nSW=8004\r\nCY=4331\r\nCW=8005\r\nM3=999\r\n"));
    std::unique_ptr<MainWindow> window = start();
    const qreal dpi = window->logicalDpiY();
    // The resize event Qt delivers at showing did not move the saved controls a second time.
    EXPECT_EQ(twips(*window, "lvMember"), QRect(120, 130, 8001, 1601));
    EXPECT_EQ(twips(*window, "rtfHomeMessage"), QRect(120, 2171, 8003, 1699));
    EXPECT_EQ(twips(*window, "comOption"), QRect(7777 - 6 * 1111, 1811, 975, 300));
    ASSERT_EQ(dpi, 96);
    EXPECT_EQ(window->frameGeometry(), QRect(100, 60, 660, 401));
    // Twips that fall between pixels go to the nearest: 130 -> 9, 1601 -> 107, 8003 -> 534.
    EXPECT_EQ(window->lvMember()->geometry(), QRect(8, 9, 533, 107));
    EXPECT_EQ(window->rtfHomeMessage()->geometry(), QRect(8, 145, 534, 113));

    window->resize(window->width() + 40, window->height() + 60);
    QWidget *splitter = window->findChild<QWidget *>(QStringLiteral("imgResize2"));
    mouse(splitter, QEvent::MouseButtonPress, Qt::LeftButton, 1);
    mouse(splitter, QEvent::MouseMove, Qt::LeftButton, -9);
    mouse(splitter, QEvent::MouseButtonRelease, Qt::LeftButton, -9);
    const QList<QRect> controls = allControls(*window);
    const QRect frame = window->frameGeometry();
    const QList<QPair<QString, QString>> entries = positionEntries(*window);
    window->close();
    window.reset();

    const QByteArray file = readFile(iniPath());
    for (const auto &[key, value] : entries)
        EXPECT_TRUE(file.contains(QString(key + u'=' + value + "\r\n").toLatin1())) << key.toStdString();
    ASSERT_EQ(entries.size(), 26);
    EXPECT_EQ(entries[2], qMakePair(QStringLiteral("W"), QString::number(pixelsToTwips(frame.width(), dpi))));
    EXPECT_EQ(entries[22], qMakePair(QStringLiteral("M3"), QStringLiteral("999")));

    window = start();
    EXPECT_EQ(window->frameGeometry(), frame);
    EXPECT_EQ(allControls(*window), controls);
    EXPECT_EQ(positionEntries(*window), entries);
}

TEST_F(MainWindowLayoutTest, a_first_start_shows_the_designed_client_area_and_keeps_it)
{
    // No geometry stored: the client area is the design's, whatever frame the window gets, and
    // what is saved gives the same window next time.
    writeIni(QStringLiteral("[OPT]\r\nUserName=a\r\n"));
    std::unique_ptr<MainWindow> window = start();
    const qreal dpi = window->logicalDpiY();
    ASSERT_EQ(dpi, 96);
    EXPECT_EQ(window->size(), QSize(595, 335));
    EXPECT_EQ(twips(*window, "lblCopyright"), QRect(120, 4320, 8685, 465));
    // The six columns share the list's width: all show whole, no scroll bar.
    const MemberList &list = *window->lvMember();
    int columns = 0;
    for (int column = 0; column < MemberList::ColumnCount; ++column)
        columns += list.header()->sectionSize(column);
    EXPECT_LE(columns, list.viewport()->width());
    EXPECT_GE(list.header()->sectionSize(MemberList::Information),
              list.fontMetrics().horizontalAdvance(QStringLiteral("Information")));
    EXPECT_FALSE(list.horizontalScrollBar()->isVisible());
    const QSize client = window->size();
    window->close();
    window = start();
    EXPECT_EQ(window->size(), client);
}

TEST_F(MainWindowLayoutTest, degenerate_saved_values_give_a_usable_window)
{
    const QString cases[] = {
        QStringLiteral("W=0\r\nH=-5"),
        QStringLiteral("W=2147483647\r\nH=2147483647"),
        QStringLiteral("X=-2147483648\r\nY=2147483647"),
        QStringLiteral("X=40000\r\nY=-40000"),
        QStringLiteral("X=1500\r\nLW=2147483647\r\nLH=-5\r\nEL=2147483647\r\nDL=-2147483648\r\nHH=0\r\n"
                       "M1=2147483647\r\nM2=-9"),
    };
    const QRect screen = QApplication::primaryScreen()->availableGeometry();
    for (const QString &keys : cases) {
        SCOPED_TRACE(keys.toStdString());
        writeIni(QStringLiteral("[POSITION]\r\n") + keys + QStringLiteral("\r\n"));
        const std::unique_ptr<MainWindow> window = start();
        const QRect frame = window->frameGeometry();
        EXPECT_TRUE(screen.contains(frame)) << frame.x() << "," << frame.y() << " " << frame.width() << "x"
                                            << frame.height();
        // No size below the minimum is taken: at least the design size, unless the screen is smaller.
        const QRect outer = window->windowLayout().frameTwips();
        EXPECT_GT(outer.width(), 5 * 975);
        EXPECT_GT(outer.height(), 9 * 390);
        const QList<QPair<QString, QString>> entries = positionEntries(*window);
        EXPECT_EQ(entries.size(), 26);
        for (const auto &[key, value] : entries) {
            EXPECT_LE(qAbs(value.toLongLong()), qint64(TwipsLimit)) << key.toStdString();
            if (QStringLiteral("LW LH HH M1 M2").split(u' ').contains(key)) {
                EXPECT_GE(value.toInt(), 0) << key.toStdString();
            }
        }
    }
}
