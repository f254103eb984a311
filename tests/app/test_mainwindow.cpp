#include "app/mainwindow.h"
#include "app/twips.h"
#include "conversation/conversationview.h"
#include "roster/memberlist.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace vorlan;

namespace {

// A window that is built but never started: no settings read, no socket.
class MainWindowTest : public ::testing::Test
{
protected:
    MainWindowOptions options()
    {
        MainWindowOptions result;
        result.iniPath = folder.filePath("Vorlan.ini");
        return result;
    }

    void press(QWidget *target, int key, const QString &text = QString())
    {
        QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier, text);
        QApplication::sendEvent(target, &down);
    }

    QTemporaryDir folder;
    MainWindow window{options()};
};

} // namespace

TEST_F(MainWindowTest, ControlsStandAtTheirDesignPlaces)
{
    struct Expected
    {
        const char *name;
        QRect twips;
        const char *caption;
    };
    const Expected controls[] = {
        {"lvMember", {120, 120, 8655, 1575}, nullptr},
        {"imgResize2", {120, 1690, 8655, 75}, nullptr},
        {"comOption", {1320, 1800, 975, 300}, "オプション"},
        {"comInfo", {2400, 1800, 975, 300}, "情報"},
        {"comLog", {3480, 1800, 975, 300}, "過去ログ"},
        {"comReload", {4560, 1800, 975, 300}, "リロード"},
        {"comFree", {5640, 1800, 975, 300}, "選択解除"},
        {"comDesk", {6720, 1800, 975, 300}, "不在通知"},
        {"comExit", {7800, 1800, 975, 300}, "終了"},
        {"rtfHomeMessage", {120, 2160, 8655, 1695}, nullptr},
        {"txtSend", {120, 3840, 8655, 390}, nullptr},
        {"lblCopyright", {120, 4320, 8685, 465}, nullptr},
    };
    const qreal dpi = window.logicalDpiY();
    for (const Expected &control : controls) {
        const auto *widget = window.findChild<QWidget *>(QString::fromLatin1(control.name));
        ASSERT_NE(widget, nullptr) << control.name;
        EXPECT_EQ(twipsGeometry(widget), control.twips) << control.name;
        EXPECT_EQ(widget->geometry().x(), twipsToPixels(control.twips.x(), dpi)) << control.name;
        EXPECT_EQ(widget->geometry().width(), twipsToPixels(control.twips.width(), dpi)) << control.name;
        if (control.caption) {
            EXPECT_EQ(static_cast<const QPushButton *>(widget)->text(), QString::fromUtf8(control.caption));
        }
    }
    EXPECT_EQ(window.windowTitle(), "Vorlan V1.2.9");
    EXPECT_EQ(window.findChild<QWidget *>("rtfHomeMessage")->toolTip(), QStringLiteral("メッセージ表示"));
    EXPECT_EQ(window.findChild<QWidget *>("txtSend")->toolTip(), QStringLiteral("メッセージ送信用"));
    EXPECT_EQ(window.findChild<QWidget *>("lblCopyright")->toolTip(), QStringLiteral("フリーソフトウェア"));
    EXPECT_EQ(window.findChild<QWidget *>("comReload")->toolTip(), QStringLiteral("メンバーの再確認"));
    EXPECT_FALSE(window.findChild<QPushButton *>("comTest")->isVisibleTo(&window));
}

TEST_F(MainWindowTest, EnterSendsInsteadOfBreakingTheLine)
{
    window.show();
    SendBox *box = window.txtSend();
    box->setPlainText("first line\nsecond line"); // pasted text keeps its lines
    EXPECT_EQ(box->blockCount(), 2);
    box->moveCursor(QTextCursor::End);
    press(box, Qt::Key_Return, "\r");
    // The text went to the send action (nobody is listed, so nothing goes out) and the box is
    // empty: no line break was added to it.
    EXPECT_EQ(box->toPlainText(), QString());

    box->setPlainText("debug on");
    press(box, Qt::Key_Enter, "\r");
    EXPECT_TRUE(window.findChild<QPushButton *>("comTest")->isVisible());
    EXPECT_EQ(box->toPlainText(), QString());
    box->setPlainText("debug off");
    press(box, Qt::Key_Return, "\r");
    EXPECT_FALSE(window.findChild<QPushButton *>("comTest")->isVisible());
}

// The user's own line comes back to them as a received one: sending brings the conversation to
// its end, the selection cleared, so that it follows.
TEST_F(MainWindowTest, SendingALineBringsTheConversationToItsEnd)
{
    window.show();
    ConversationView *view = window.rtfHomeMessage();
    for (int i = 0; i < 100; ++i)
        view->AppendLine(QStringLiteral("line %1\r\n").arg(i));
    view->flushLines();
    view->select({5, 0}, {5, 6});
    QScrollBar *bar = view->verticalScrollBar();
    bar->setValue(0);
    window.txtSend()->setPlainText("hello");
    press(window.txtSend(), Qt::Key_Return, "\r");
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_TRUE(view->atEnd());
    EXPECT_FALSE(view->hasSelection());
}

TEST_F(MainWindowTest, EscapeMinimisesTheWindow)
{
    window.show();
    press(&window, Qt::Key_Escape);
    EXPECT_TRUE(window.windowState() & Qt::WindowMinimized);
}

TEST_F(MainWindowTest, TheConversationViewIsReadOnlyPlainText)
{
    ConversationView *view = window.rtfHomeMessage();
    view->AppendLine("<b>not bold</b>\r\n", QColor(Qt::red));
    window.show();
    view->setFocus();
    press(view, Qt::Key_X, "x");
    view->flushLines();
    EXPECT_EQ(view->toPlainText(), "<b>not bold</b>\n");
    EXPECT_EQ(view->conversationText(), "<b>not bold</b>\r\n");
}

TEST_F(MainWindowTest, OneMessageBoxAtATimeAndNoneOnceClosing)
{
    // The endpoint is not open, so every send fails, and nothing leaves the process.
    const QString address = QStringLiteral("127.0.0.9");
    const QString request = QStringLiteral("405 0x,h,127.0.0.9,t");
    int boxes = 0;
    window.setMessagePresenter([&](const QString &, QMessageBox::Icon) {
        // While a box is open its event loop runs: further failures come in meanwhile.
        if (++boxes < 3)
            window.SendDatagram(request, address);
    });
    window.lvMember()->UpdateMember(QStringLiteral("0"), QStringLiteral("x"), QStringLiteral("h"),
                                    address, QStringLiteral("t"));
    ::testing::internal::CaptureStderr();
    window.SendDatagram(request, address);
    EXPECT_EQ(boxes, 1);
    window.close(); // its Leave to the listed member fails too
    EXPECT_EQ(boxes, 1);
    const QString failure = QStringLiteral("send:ソケット以外を指定した。\n");
    EXPECT_EQ(QString::fromLocal8Bit(::testing::internal::GetCapturedStderr()), failure.repeated(3));
}
