#include "app/mainwindow.h"
#include "base/codec.h"
#include "conversation/conversationview.h"
#include "history/dayview.h"
#include "history/historywindow.h"
#include "presence/trayicon.h"
#include "settings/runningsettings.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <QTreeView>
#include <gtest/gtest.h>

#include <algorithm>

using namespace vorlan;

namespace {

QByteArray sjis(const QString &text)
{
    return encodeCp932(text);
}

class HistoryWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_settings.LogFolder = m_dir.path();
        m_settings.MessageColor = 0x0000FF; // red, as the desktop peers store it
        m_look.setFont(QFont(QStringLiteral("IPAGothic"), 13));
        QString today = QStringLiteral("*** 2024/01/03 ***\r\n");
        for (int i = 0; i < 300; ++i)
            today += QStringLiteral("11:%1:00 太郎->\t朝からの話 %2\r\n").arg(i % 60, 2, 10, QChar(u'0')).arg(i);
        today += QStringLiteral("12:00:00 太郎->\t最後の行\r\n");
        write("20240103.txt", sjis(today));
        write("20240102.txt", sjis(QStringLiteral("*** 2024/01/02 ***\r\n09:59:00\t花子さんが参加しました。\r\n"
                                                  "10:00:00 花子->\tｻｰﾊﾞｰを再起動します\r\n")));
        write("20240101.txt", sjis(QStringLiteral("*** 2024/01/01 ***\r\n09:00:00 太郎->\tおはよう\r\n"
                                                  "09:00:05 太郎->\tサーバーは止まった\r\n")));
        write("20231230.txt", QStringLiteral("09:00:00 太郎->\tサーバーの話、ユーティーエフ八で\r\n").toUtf8());
    }

    void write(const QString &name, const QByteArray &bytes)
    {
        test::writeFile(m_dir.filePath(name), bytes);
        m_files[name] = bytes;
    }

    void expectFilesUnchanged()
    {
        for (auto it = m_files.cbegin(); it != m_files.cend(); ++it)
            EXPECT_EQ(test::readFile(m_dir.filePath(it.key())), it.value()) << it.key().toStdString();
    }

    QTemporaryDir m_dir;
    QMap<QString, QByteArray> m_files;
    test::FakeClock m_clock{QDateTime(QDate(2024, 1, 3), QTime(12, 0, 1))};
    RunningSettings m_settings;
    ConversationView m_look;
};

QStringList itemTexts(const QListWidget &list)
{
    QStringList texts;
    for (int row = 0; row < list.count(); ++row)
        texts.append(list.item(row)->text());
    return texts;
}

} // namespace

// Open, choose a day, search in the other width and kana, go to a result, then the next.
TEST_F(HistoryWindowTest, OpensOnTodayFindsAcrossDaysAndGoesToTheLine)
{
    HistoryWindow window(m_settings, m_clock, m_look);
    window.open();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    auto *days = window.findChild<QListWidget *>("days");
    auto *view = window.findChild<DayView *>("dayView");
    ASSERT_TRUE(test::waitFor([&] {
        return days->count() == 4 && days->item(3)->text().endsWith(u"(読めません)")
               && view->toPlainText().endsWith(u"最後の行");
    }));
    EXPECT_EQ(window.windowTitle(), u"履歴");
    EXPECT_EQ(itemTexts(*days), QStringList({"2024/01/03", "2024/01/02", "2024/01/01", "2023/12/30 (読めません)"}));
    EXPECT_EQ(days->currentRow(), 0);
    EXPECT_TRUE(view->isReadOnly());
    EXPECT_EQ(view->font(), m_look.font());
    EXPECT_GT(view->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(view->verticalScrollBar()->value(), view->verticalScrollBar()->maximum());
    const QTextBlock last = view->document()->lastBlock();
    ASSERT_FALSE(last.layout()->formats().isEmpty());
    EXPECT_EQ(last.layout()->formats()[0].format.foreground().color(), QColor(Qt::red));
    EXPECT_EQ(last.layout()->formats()[0].length, 14); // "12:00:00 太郎->\t"

    days->setCurrentRow(2);
    ASSERT_TRUE(test::waitFor([&] { return view->toPlainText().endsWith(u"サーバーは止まった"); }));
    EXPECT_EQ(view->toPlainText(), u"*** 2024/01/01 ***\n09:00:00 太郎->\tおはよう\n09:00:05 太郎->\tサーバーは止まった");

    auto *query = window.findChild<QLineEdit *>("query");
    QTest::keyClick(&window, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(query->hasFocus());
    query->setText(QStringLiteral("さーばー"));
    window.findChild<QCheckBox *>("kana")->setChecked(true);
    QTest::keyClick(query, Qt::Key_Return);
    auto *status = window.findChild<QLabel *>("status");
    ASSERT_TRUE(test::waitFor([&] { return status->text() == u"2 件"; })) << status->text().toStdString();
    auto *hits = window.findChild<QTreeView *>("hits");
    const QAbstractItemModel &model = *hits->model();
    EXPECT_EQ(model.index(0, 0).data().toString(), u"2024/01/02");
    EXPECT_EQ(model.index(0, 1).data().toString(), u"10:00:00");
    EXPECT_EQ(model.index(0, 2).data().toString(), u"花子");
    EXPECT_EQ(model.index(0, 3).data().toString(), u"10:00:00 花子-> ｻｰﾊﾞｰを再起動します");
    EXPECT_EQ(model.index(1, 0).data().toString(), u"2024/01/01");

    QTest::mouseClick(hits->viewport(), Qt::LeftButton, {}, hits->visualRect(model.index(0, 3)).center());
    ASSERT_TRUE(test::waitFor([&] { return view->textCursor().selectedText() == u"ｻｰﾊﾞｰ"; }));
    EXPECT_EQ(view->textCursor().block().text(), u"10:00:00 花子->\tｻｰﾊﾞｰを再起動します");
    EXPECT_EQ(days->currentRow(), 1);

    QTest::keyClick(&window, Qt::Key_F3);
    ASSERT_TRUE(test::waitFor([&] { return view->textCursor().selectedText() == u"サーバー"; }));
    EXPECT_EQ(view->textCursor().block().text(), u"09:00:05 太郎->\tサーバーは止まった");
    EXPECT_EQ(hits->currentIndex().row(), 1);
    QTest::keyClick(&window, Qt::Key_F3, Qt::ShiftModifier);
    ASSERT_TRUE(test::waitFor([&] { return view->textCursor().selectedText() == u"ｻｰﾊﾞｰ"; }));
    EXPECT_EQ(days->currentRow(), 1);
    expectFilesUnchanged();

    // Opened again later, it is on today as today has grown meanwhile.
    window.close();
    write("20240103.txt", m_files["20240103.txt"] + sjis(QStringLiteral("12:30:00 花子->\t新しい行\r\n")));
    window.open();
    ASSERT_TRUE(test::waitFor([&] { return view->toPlainText().endsWith(u"新しい行") && days->currentRow() == 0; }));
}

// A dark theme: the default black head would vanish, so it takes the theme's text colour.
TEST_F(HistoryWindowTest, HeadsReadOnADarkTheme)
{
    QPalette dark = m_look.palette();
    dark.setColor(QPalette::Base, QColor(0x2a, 0x2a, 0x2a));
    dark.setColor(QPalette::Text, QColor(0xe0, 0xe0, 0xe0));
    m_look.setPalette(dark);
    for (const auto &[stored, shown] : {std::pair{0x000000, QColor(0xe0, 0xe0, 0xe0)},
                                        std::pair{0x00ffff, QColor(Qt::yellow)}}) {
        m_settings.MessageColor = stored;
        HistoryWindow window(m_settings, m_clock, m_look);
        window.open();
        auto *view = window.findChild<DayView *>("dayView");
        ASSERT_TRUE(test::waitFor([&] { return view->toPlainText().endsWith(u"最後の行"); }));
        const QTextBlock last = view->document()->lastBlock();
        ASSERT_FALSE(last.layout()->formats().isEmpty());
        EXPECT_EQ(last.layout()->formats()[0].format.foreground().color(), shown) << stored;
    }
}

// Ctrl+H, the conversation view's menu and the tray's open it; it goes with the main window.
TEST_F(HistoryWindowTest, TheMainWindowOpensItAndTakesItAlongWhenItCloses)
{
    MainWindowOptions options;
    options.iniPath = m_dir.filePath("Vorlan.ini");
    options.clock = &m_clock;
    MainWindow main(options);
    main.settings().LogFolder = m_dir.path();
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&main));

    QTest::keyClick(main.txtSend(), Qt::Key_H, Qt::ControlModifier);
    HistoryWindow *history = nullptr;
    for (QWidget *window : QApplication::topLevelWidgets())
        history = history ? history : qobject_cast<HistoryWindow *>(window);
    ASSERT_NE(history, nullptr);
    EXPECT_TRUE(history->isVisible());
    EXPECT_TRUE(main.txtSend()->toPlainText().isEmpty());
    history->close();

    QStringList entries;
    QTimer::singleShot(0, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return;
        for (QAction *action : menu->actions())
            entries.append(action->text());
        menu->actions().last()->trigger();
        menu->close();
    });
    emit main.rtfHomeMessage()->customContextMenuRequested(QPoint(5, 5));
    ASSERT_FALSE(entries.isEmpty());
    EXPECT_EQ(entries.last(), u"履歴");
    EXPECT_GT(entries.size(), 2); // the view's own entries stay
    EXPECT_TRUE(history->isVisible());

    auto *tray = main.findChild<TrayIcon *>();
    ASSERT_NE(tray, nullptr);
    bool asked = false;
    QObject::connect(tray, &TrayIcon::historyRequested, [&] { asked = true; });
    const QList<QAction *> trayEntries = tray->menu().actions();
    const auto historyEntry = std::find_if(trayEntries.begin(), trayEntries.end(),
                                           [](QAction *action) { return action->text() == u"履歴"; });
    ASSERT_NE(historyEntry, trayEntries.end());
    (*historyEntry)->trigger();
    EXPECT_TRUE(asked);

    // The program ends when its last window closes, as it runs: inside the event loop.
    ASSERT_TRUE(history->isVisible());
    bool lastClosed = false;
    QObject::connect(qApp, &QGuiApplication::lastWindowClosed, [&] { lastClosed = true; });
    QTimer::singleShot(0, &main, [&] { main.close(); });
    QTimer::singleShot(3000, qApp, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_TRUE(lastClosed); // the history window open does not keep the program running
    expectFilesUnchanged();
}
