#include "app/mainwindow.h"
#include "app/twips.h"
#include "conversation/conversationview.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
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
    EXPECT_EQ(view->toPlainText(), "<b>not bold</b>\n");
    EXPECT_EQ(view->conversationText(), "<b>not bold</b>\r\n");
    EXPECT_TRUE(view->isReadOnly());
    EXPECT_TRUE(view->textInteractionFlags() & Qt::TextSelectableByMouse);
}
