#include "conversation/conversationview.h"

#include <QCoreApplication>
#include <QTextCursor>
#include <QTextDocument>
#include <gtest/gtest.h>

using vorlan::ConversationView;

TEST(ConversationView, OldestLinesLeaveFromTheTopAndTheTextsEndStaysAtHand)
{
    ConversationView view;
    view.setMaximumLines(10);
    for (int i = 0; i < 6; ++i)
        view.AppendLine(QString::number(i) + QStringLiteral("\r\n"));
    // A received line may carry line ends of its own: each one counts.
    view.AppendLine(QStringLiteral("a\r\nb\r\nc\r\nd\r\n"));
    view.flushLines();
    EXPECT_EQ(view.document()->toPlainText(), "0\n1\n2\n3\n4\n5\na\nb\nc\nd\n");
    view.AppendLine(QStringLiteral("e"), Qt::red);
    view.AppendLine(QStringLiteral("\r\n"));
    view.flushLines();
    // A tenth of the bound leaves at once, so the top is not removed for every line.
    EXPECT_EQ(view.document()->toPlainText(), "2\n3\n4\n5\na\nb\nc\nd\ne\n");
    EXPECT_TRUE(view.conversationText().startsWith(QStringLiteral("0\r\n1\r\n")));

    // The text kept for replies stays bounded, and its end whole.
    QString all = view.conversationText();
    for (int i = 0; i < 300; ++i) {
        const QString line = QString::number(i) + QString(80, u'x') + QStringLiteral("\r\n");
        view.AppendLine(line);
        all += line;
    }
    view.flushLines();
    EXPECT_LE(view.conversationText().size(), 2 * ConversationView::KeptText);
    EXPECT_EQ(view.conversationTail(ConversationView::KeptText), all.right(ConversationView::KeptText));
    EXPECT_GE(view.document()->blockCount() - 1, 9);
    EXPECT_LE(view.document()->blockCount() - 1, 10);
    EXPECT_TRUE(view.document()->toPlainText().endsWith(QStringLiteral("299") + QString(80, u'x') + u'\n'));
}

TEST(ConversationView, LinesOfOneTurnReachTheDocumentTogetherInOrderWithTheCaretAtTheEnd)
{
    ConversationView view;
    view.AppendLine(QStringLiteral("10:00:00 a->\t"), Qt::red);
    view.AppendLine(QStringLiteral("one\r\n"), Qt::black);
    view.AppendLine(QStringLiteral("10:00:01 b->\t"), Qt::red);
    view.AppendLine(QStringLiteral("two\r\n"), Qt::black);
    EXPECT_EQ(view.conversationText(), "10:00:00 a->\tone\r\n10:00:01 b->\ttwo\r\n");

    QCoreApplication::processEvents();
    EXPECT_EQ(view.document()->toPlainText(), "10:00:00 a->\tone\n10:00:01 b->\ttwo\n");
    QTextCursor cursor(view.document());
    cursor.setPosition(QStringLiteral("10:00:00 a->\tone\n10:00:01").size());
    EXPECT_EQ(cursor.charFormat().foreground().color(), QColor(Qt::red));
    cursor.setPosition(QStringLiteral("10:00:00 a->\tone\n10:00:01 b->\ttw").size());
    EXPECT_EQ(cursor.charFormat().foreground().color(), QColor(Qt::black));
    EXPECT_EQ(view.textCursor().position(), view.document()->characterCount() - 1);
}
