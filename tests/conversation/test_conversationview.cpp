#include "base/framepacer.h"
#include "conversation/conversationview.h"

#include <QApplication>
#include <QKeyEvent>
#include <QBackingStore>
#include <QCoreApplication>
#include <QImage>
#include <QPaintEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolButton>
#include <gtest/gtest.h>

using vorlan::ConversationView;
using vorlan::FramePacer;

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
    QList<QList<int>> changes; // where, removed, added
    QObject::connect(view.document(), &QTextDocument::contentsChange,
                     [&changes](int from, int removed, int added) { changes.append({from, removed, added}); });
    view.AppendLine(QStringLiteral("e"), Qt::red);
    view.AppendLine(QStringLiteral("\r\n"));
    view.flushLines();
    // A tenth of the bound leaves at once, so the top is not removed for every line; the lines
    // the new one pushes out leave before it comes.
    EXPECT_EQ(view.document()->toPlainText(), "2\n3\n4\n5\na\nb\nc\nd\ne\n");
    EXPECT_EQ(changes, (QList<QList<int>>{{0, 4, 0}, {16, 0, 2}}));
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
    EXPECT_TRUE(all.endsWith(view.conversationText()));
    EXPECT_GE(view.conversationText().size(), ConversationView::KeptText);
    EXPECT_EQ(view.conversationTextStartsLine(), all[all.size() - view.conversationText().size() - 1] == u'\n');
    EXPECT_GE(view.lineCount(), 9);
    EXPECT_LE(view.lineCount(), 10);
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

TEST(ConversationView, LinesLeavePastTheCharacterBoundTooUntilATenthUnderIt)
{
    const auto line = [](int i) { return QStringLiteral("line %1\r\n").arg(i, 4, 10, QChar(u'0')); };
    ConversationView view;
    view.setMaximumCharacters(100);
    for (int i = 0; i < 10; ++i)
        view.AppendLine(line(i)); // ten characters in the document, its line break counted as one
    view.flushLines();
    EXPECT_EQ(view.lineCount(), 10);
    view.AppendLine(line(10));
    view.flushLines();
    EXPECT_TRUE(view.document()->toPlainText().startsWith(QStringLiteral("line 0002\n")));
    EXPECT_EQ(view.lineCount(), 9);

    // A long line takes the room of several short ones; one past the whole bound leaves at once.
    view.AppendLine(QString(50, u'L') + QStringLiteral("\r\n"));
    view.flushLines();
    EXPECT_EQ(view.document()->toPlainText(), "line 0008\nline 0009\nline 0010\n" + QString(50, u'L') + '\n');
    view.AppendLine(QString(300, u'H') + QStringLiteral("\r\n") + line(11));
    view.flushLines();
    EXPECT_EQ(view.document()->toPlainText(), "line 0011\n");
}

TEST(ConversationView, OldLinesLeaveInStepsThatKeepUpWithTheInput)
{
    const QString line = QStringLiteral("line 0000\r\n");
    const auto lines = [](const ConversationView &view) { return view.lineCount(); };
    ConversationView view;
    qint64 now = 0;
    view.frames().setClock([&now] { return now; });
    for (int i = 0; i < 1500; ++i)
        view.AppendLine(line);
    view.flushLines();
    // 1,500 lines of ten characters over a bound of 1,000 characters: 1,410 must go, but one
    // frame takes no more than a step; the next step comes a frame later (a flood's frame: the
    // view has just been busy).
    view.setMaximumCharacters(1000);
    EXPECT_EQ(lines(view), 1500 - ConversationView::CutStep);
    EXPECT_TRUE(view.frames().isPending());
    now += ConversationView::FloodFrameMs;
    view.frames().runDue();
    EXPECT_EQ(lines(view), 90);
    EXPECT_EQ(view.document()->toPlainText().count(u'\n'), 90);

    // A turn that brought more lines than a step takes as many away.
    for (int i = 0; i < 3 * ConversationView::CutStep; ++i)
        view.AppendLine(line);
    view.flushLines();
    EXPECT_EQ(lines(view), 90);
}

// However fast lines come, the document takes them (and the view lays out and paints) at most
// once a frame: a line after a quiet frame at the next turn, the lines of a flood a frame's worth
// at a time, and once the flood goes on, FloodFrameMs' worth at a time; FullViewFrameMs' worth
// while every batch is more than the view shows.
TEST(ConversationView, LinesReachTheDocumentAtMostOnceAFrame)
{
    ConversationView view;
    view.resize(300, 60 * view.fontMetrics().lineSpacing());
    view.show();
    qint64 now = 1000;
    view.frames().setClock([&now] { return now; });
    QList<int> shown; // the lines in the document after each change
    QObject::connect(view.document(), &QTextDocument::contentsChange,
                     [&] { shown << view.document()->toPlainText().count(u'\n'); });
    int next = 0;
    // Lines one a millisecond (or several) for the given time.
    const auto flood = [&](int milliseconds, int perMillisecond) {
        for (int ms = 0; ms < milliseconds; ++ms) {
            ++now;
            for (int k = 0; k < perMillisecond; ++k)
                view.AppendLine(QStringLiteral("line %1\r\n").arg(next++));
            QCoreApplication::processEvents();
            view.frames().runDue();
        }
    };

    flood(1, 1);
    EXPECT_EQ(shown, QList<int>{1});

    // A flood of 100 lines, one a millisecond: the first ones go in a frame after the quiet
    // line, the rest every FloodFrameMs.
    shown.clear();
    flood(99, 1);
    const int frame = FramePacer::FrameMs, flooded = ConversationView::FloodFrameMs;
    EXPECT_EQ(shown, (QList<int>{1 + frame, 1 + frame + flooded, 1 + frame + 2 * flooded}));
    now += flooded;
    view.frames().runDue();
    EXPECT_EQ(view.lineCount(), 100);
    EXPECT_FALSE(view.frames().isPending());
    EXPECT_TRUE(view.document()->toPlainText().endsWith(QStringLiteral("line 98\nline 99\n")));

    // Quiet for a while: the next line shows at once again.
    now += 100;
    shown.clear();
    flood(1, 1);
    EXPECT_EQ(shown, QList<int>{101});

    // Two lines a millisecond: each batch more than the 60 lines the view shows.
    shown.clear();
    flood(300, 2);
    EXPECT_EQ(shown, (QList<int>{101 + 2 * frame, 101 + 2 * (frame + flooded),
                                 101 + 2 * (frame + flooded + ConversationView::FullViewFrameMs),
                                 101 + 2 * (frame + flooded + 2 * ConversationView::FullViewFrameMs)}));
}

// The document holds several lines per block; each line still reads and leaves as a line.
TEST(ConversationView, BlocksHoldSeveralLinesEachStillALine)
{
    ConversationView view;
    const int lines = 3 * ConversationView::BlockLines + 2;
    for (int i = 0; i < lines; ++i)
        view.AppendLine(QStringLiteral("%1\r\n").arg(i, 2, 10, QChar(u'0')));
    view.flushLines();
    EXPECT_EQ(view.document()->blockCount(), 4);
    EXPECT_EQ(view.lineCount(), lines);
    QString expected;
    for (int i = 0; i < lines; ++i)
        expected += QStringLiteral("%1\n").arg(i, 2, 10, QChar(u'0'));
    EXPECT_EQ(view.document()->toPlainText(), expected);

    // Old lines leave one by one from inside a block.
    view.setMaximumLines(lines - 1);
    EXPECT_EQ(view.lineCount(), (lines - 1) - (lines - 1) / 10);
    EXPECT_TRUE(expected.endsWith(view.document()->toPlainText()));
    EXPECT_TRUE(view.document()->toPlainText().startsWith(QStringLiteral("%1\n").arg(lines - view.lineCount(), 2, 10, QChar(u'0'))));
    // and new ones fill the blocks as before.
    for (int i = 0; i < 3 * ConversationView::BlockLines; ++i)
        view.AppendLine(QStringLiteral("x\r\n"));
    view.flushLines();
    EXPECT_EQ(view.document()->toPlainText().count(u'\n'), view.lineCount());
}

// A block keeps the lines of its layout only while it is in view: a flood shown frame by frame
// leaves the blocks it has scrolled past without them.
TEST(ConversationView, BlocksThatLeaveTheViewGiveTheirLayoutBack)
{
    ConversationView view;
    view.resize(300, 80);
    view.show();
    const auto laidOut = [&view] {
        int blocks = 0;
        for (QTextBlock block = view.document()->begin(); block.isValid(); block = block.next())
            blocks += block.layout()->lineCount() > 0 ? 1 : 0;
        return blocks;
    };
    for (int frame = 0; frame < 20; ++frame) {
        for (int i = 0; i < ConversationView::BlockLines; ++i)
            view.AppendLine(QStringLiteral("line %1\r\n").arg(frame * ConversationView::BlockLines + i));
        view.flushLines();
        QCoreApplication::processEvents(); // the paint
        EXPECT_LE(laidOut(), 3) << frame;
    }
    EXPECT_GE(laidOut(), 1);
    // Scrolled back to the top, the first block is laid out again.
    view.verticalScrollBar()->setValue(0);
    QCoreApplication::processEvents();
    EXPECT_GT(view.document()->begin().layout()->lineCount(), 0);
}

// The scroll bar follows the end of a long conversation, and is painted again only when its
// handle moves on the screen.
TEST(ConversationView, TheScrollBarFollowsTheEndAndRepaintsOnlyWhenItsHandleMoves)
{
    struct PaintCounter : QObject
    {
        int paints = 0;
        bool eventFilter(QObject *, QEvent *event) override
        {
            paints += event->type() == QEvent::Paint ? 1 : 0;
            return false;
        }
    } counter;
    ConversationView view;
    view.resize(300, 300);
    view.show();
    QScrollBar *bar = view.verticalScrollBar();
    bar->installEventFilter(&counter);
    const auto frame = [&view](int lines) {
        for (int i = 0; i < lines; ++i)
            view.AppendLine(QStringLiteral("line\r\n"));
        view.flushLines();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    };
    frame(20);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_GT(counter.paints, 0);
    frame(20000);
    counter.paints = 0;
    for (int i = 0; i < 5; ++i) {
        frame(1);
        EXPECT_EQ(bar->value(), bar->maximum());
    }
    EXPECT_EQ(counter.paints, 0);
    // Cut down to a few lines, the conversation moves the handle.
    view.setMaximumLines(60);
    for (int i = 0; i < 50 && view.frames().isPending(); ++i)
        view.flushLines();
    QCoreApplication::processEvents(); // the look compared
    QCoreApplication::processEvents(); // the paint
    EXPECT_GT(counter.paints, 0);
}

namespace {

QString numbered(int i) { return QStringLiteral("line %1").arg(i, 4, 10, QChar(u'0')); }

void addLines(ConversationView &view, int from, int count)
{
    for (int i = from; i < from + count; ++i)
        view.AppendLine(numbered(i) + QStringLiteral("\r\n"));
    view.flushLines();
    QCoreApplication::processEvents();
}

// The line the reader sees at the top, as the view maps its own pixels to the text.
QString topLine(const ConversationView &view)
{
    QTextCursor cursor = view.cursorForPosition(QPoint(4, 4));
    cursor.select(QTextCursor::LineUnderCursor);
    return cursor.selectedText();
}

bool atEnd(const ConversationView &view)
{
    return view.verticalScrollBar()->value() == view.verticalScrollBar()->maximum();
}

QToolButton *marker(const ConversationView &view) { return view.findChild<QToolButton *>("newLinesMarker"); }

} // namespace

// New lines move the view only for a reader at the end with nothing selected. Anyone else keeps
// the lines they see and their selection, also while old lines leave from the top, and is told
// how many lines came in below.
TEST(ConversationView, TheReaderKeepsTheirPlaceAndSelectionWhileLinesComeAndGo)
{
    constexpr int End = -1, Same = -1, None = -1;
    struct Case
    {
        const char *what;
        int top, selectFrom, selectTo; // lines
        int added;                     // 60 lines before; with 50 more the first 20 leave
        int topAfter, keptFrom;        // the selection kept is from keptFrom to selectTo
    };
    const Case cases[] = {
        {"scrolled back", 20, 22, 24, 20, Same, 22},
        {"scrolled back, old lines leave", 30, None, None, 50, Same, None},
        {"a selection in view, old lines leave", 30, 32, 34, 50, Same, 32},
        {"the line at the top leaves", 10, None, None, 50, 20, None},
        {"a selection partly cut", 22, 15, 25, 50, Same, 20},
        {"a selection wholly cut", 30, 5, 8, 50, Same, None},
        {"a selection at the end", End, 57, 58, 50, Same, 57},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ConversationView view;
        view.setMaximumLines(100);
        view.resize(300, 200);
        view.show();
        addLines(view, 0, 60);
        if (c.selectFrom != None) {
            QTextCursor cursor = view.document()->find(numbered(c.selectFrom));
            cursor.setPosition(cursor.selectionStart());
            cursor.setPosition(view.document()->find(numbered(c.selectTo)).selectionEnd(), QTextCursor::KeepAnchor);
            view.setTextCursor(cursor);
        }
        QScrollBar *bar = view.verticalScrollBar();
        bar->setValue(c.top == End ? bar->maximum() : 0);
        while (c.top != End && topLine(view) != numbered(c.top))
            bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        const QString top = topLine(view);

        addLines(view, 60, c.added);
        EXPECT_EQ(topLine(view), c.topAfter == Same ? top : numbered(c.topAfter));
        QStringList kept;
        for (int i = c.keptFrom; i != None && i <= c.selectTo; ++i)
            kept.append(numbered(i));
        QString selected = view.textCursor().selectedText();
        selected.replace(QChar::LineSeparator, u'\n').replace(QChar::ParagraphSeparator, u'\n');
        EXPECT_EQ(selected, kept.join(u'\n'));
        EXPECT_EQ(view.unseenLines(), c.added);
        EXPECT_TRUE(marker(view)->isVisible());
        EXPECT_EQ(marker(view)->text(), QStringLiteral("↓ %1").arg(c.added));
        EXPECT_TRUE(view.viewport()->geometry().contains(marker(view)->geometry()));
    }
}

// The marker counts the lines below until the reader is back at the end, by whatever means;
// from there new lines are followed again. Clicking the marker asks for the newest lines: the
// selection goes too. A view at the end stays there when it is resized.
TEST(ConversationView, TheEndClearsTheMarkerAndIsFollowedAgain)
{
    ConversationView view;
    view.resize(300, 200);
    view.show();
    QScrollBar *bar = view.verticalScrollBar();
    addLines(view, 0, 40);
    EXPECT_TRUE(atEnd(view));
    EXPECT_FALSE(marker(view)->isVisible());

    bar->triggerAction(QAbstractSlider::SliderToMinimum);
    addLines(view, 40, 5);
    addLines(view, 45, 3);
    EXPECT_EQ(marker(view)->text(), QStringLiteral("↓ 8"));
    bar->triggerAction(QAbstractSlider::SliderToMaximum); // the scroll bar
    EXPECT_FALSE(marker(view)->isVisible());
    addLines(view, 48, 2);
    EXPECT_TRUE(atEnd(view));
    EXPECT_EQ(view.unseenLines(), 0);

    bar->triggerAction(QAbstractSlider::SliderToMinimum);
    addLines(view, 50, 2);
    for (int page = 0; page < 10 && !atEnd(view); ++page) { // the keys
        QKeyEvent down(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
        QApplication::sendEvent(&view, &down);
    }
    EXPECT_TRUE(atEnd(view));
    EXPECT_FALSE(marker(view)->isVisible());

    view.setTextCursor(view.document()->find(numbered(51))); // holds the view
    addLines(view, 52, 3);
    EXPECT_EQ(view.unseenLines(), 3);
    // The window is resized: the marker keeps to the view's corner.
    const auto corner = [&] {
        return view.viewport()->geometry().bottomRight() - marker(view)->geometry().bottomRight();
    };
    const QPoint inCorner = corner();
    view.resize(420, 260);
    QCoreApplication::processEvents();
    EXPECT_EQ(corner(), inCorner);
    marker(view)->click();
    EXPECT_FALSE(view.textCursor().hasSelection());
    EXPECT_FALSE(marker(view)->isVisible());
    const QString top = topLine(view);
    addLines(view, 55, 1);
    EXPECT_TRUE(atEnd(view));
    EXPECT_NE(topLine(view), top);

    view.resize(300, 120);
    QCoreApplication::processEvents();
    EXPECT_TRUE(atEnd(view));
}

// A line's colour is the user's choice for one theme. On the theme of the moment, one that does
// not stand out from the base (3:1) is drawn in the palette's text colour, like TextColor; the
// colour kept for the wire and the settings stays as chosen.
TEST(ConversationView, ColoursThatDoNotReadOnTheBaseAreDrawnInTheTextColour)
{
    QPalette dark, light;
    dark.setColor(QPalette::Base, QColor(0x2A, 0x2A, 0x2A));
    dark.setColor(QPalette::Text, QColor(0xEE, 0xEE, 0xEE));
    light.setColor(QPalette::Base, Qt::white);
    light.setColor(QPalette::Text, Qt::black);
    struct Case
    {
        qint32 co; // 0x00BBGGRR, as stored
        bool onDark, onLight; // drawn as stored
    };
    const Case cases[] = {
        {0x000000, false, false}, // black, the default: 1.5 on the dark base, the text colour on white
        {0x0000FF, true, true},  // red: 3.6 and 4.0
        {0x800000, false, true}, // navy: 1.1 and 16
        {0x808000, true, true},  // teal: 3.01 and 4.8
        {0x008000, false, true}, // green: 2.8 and 5.1
        {0x00FF00, true, false}, // lime: 10 and 1.4
        {0xFFFFFF, true, false}, // white
    };
    for (const bool onDark : {true, false}) {
        ConversationView view;
        view.setPalette(onDark ? dark : light);
        for (const Case &c : cases) {
            view.AppendLine(QString::number(c.co, 16) + QStringLiteral("->\t"), vorlan::colorFromWindowsValue(c.co));
            view.AppendLine(QStringLiteral("text\r\n"), ConversationView::TextColor);
        }
        view.flushLines();
        QTextCursor cursor(view.document());
        for (const Case &c : cases) {
            SCOPED_TRACE(QString::number(c.co, 16).toStdString() + (onDark ? " on dark" : " on light"));
            cursor = view.document()->find(QString::number(c.co, 16) + QStringLiteral("->"), cursor);
            const bool stored = onDark ? c.onDark : c.onLight;
            EXPECT_EQ(cursor.charFormat().foreground().color(), vorlan::colorFromWindowsValue(stored ? c.co : 0));
            EXPECT_EQ(cursor.charFormat().hasProperty(QTextFormat::ForegroundBrush), stored);
            cursor = view.document()->find(QStringLiteral("text"), cursor);
            EXPECT_FALSE(cursor.charFormat().hasProperty(QTextFormat::ForegroundBrush));
        }
    }

    // The desktop's theme changes at run time: lines from then on are measured against its base.
    const QPalette original = QApplication::palette();
    QApplication::setPalette(light);
    ConversationView view;
    view.AppendLine(QStringLiteral("before\r\n"), QColor(0, 0, 0x80));
    view.flushLines();
    QApplication::setPalette(dark);
    QCoreApplication::processEvents(); // the widgets hear of it
    view.AppendLine(QStringLiteral("after\r\n"), QColor(0, 0, 0x80));
    view.flushLines();
    QApplication::setPalette(original);
    EXPECT_TRUE(view.document()->find(QStringLiteral("before")).charFormat().hasProperty(QTextFormat::ForegroundBrush));
    EXPECT_FALSE(view.document()->find(QStringLiteral("after")).charFormat().hasProperty(QTextFormat::ForegroundBrush));
}

// Following the end, a frame of new lines moves the pixels of the lines that stay and paints
// only the blocks that changed; the window then shows what painting the whole view would.
TEST(ConversationView, AFrameOfNewLinesPaintsOnlyWhatChangedAndLooksAsIfAllWerePainted)
{
    struct PaintedArea : QObject
    {
        qint64 pixels = 0;
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::Paint) {
                for (const QRect &rect : static_cast<QPaintEvent *>(event)->region())
                    pixels += qint64(rect.width()) * rect.height();
            }
            return false;
        }
    } painted;
    ConversationView view;
    view.resize(300, 200);
    view.show();
    int next = 0;
    const auto frame = [&](int lines) {
        for (int i = 0; i < lines; ++i, ++next) {
            view.AppendLine(QStringLiteral("10:00:00 peer->\t"), QColor(Qt::red));
            view.AppendLine(QStringLiteral("line %1 of a frame\r\n").arg(next), QColor(Qt::black));
        }
        view.flushLines();
        QCoreApplication::processEvents();
    };
    frame(40);
    view.viewport()->installEventFilter(&painted);
    const QRect shown(view.viewport()->mapTo(&view, QPoint(0, 0)), view.viewport()->size());
    for (const int lines : {1, 3, 1, 2, 9, 1}) {
        painted.pixels = 0;
        frame(lines);
        // The new lines, the line they began on and the empty one after them, of the view's
        // dozen; a frame of more than half a view paints all of it.
        EXPECT_GT(painted.pixels, 0) << next;
        if (lines < 4) {
            EXPECT_LE(painted.pixels, qint64(shown.width()) * (lines + 3) * view.fontMetrics().lineSpacing())
                << next;
        }
        const QImage onScreen = static_cast<QImage *>(view.backingStore()->paintDevice())->copy(shown);
        const QImage whole = view.viewport()->grab().toImage().convertToFormat(onScreen.format());
        EXPECT_EQ(onScreen, whole) << next;
    }

}

// A reader holding a selection: the view stays, and the lines that come into its room are
// painted all the same.
TEST(ConversationView, LinesThatComeIntoViewBelowASelectionArePainted)
{
    ConversationView view;
    view.resize(300, 200);
    view.show();
    const auto frame = [&](const QString &text) {
        view.AppendLine(text + QStringLiteral("\r\n"), QColor(Qt::black));
        view.flushLines();
        QCoreApplication::processEvents();
    };
    frame(QStringLiteral("first line"));
    QTextCursor first(view.document());
    first.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor, 5);
    view.setTextCursor(first);
    QCoreApplication::processEvents();
    frame(QStringLiteral("second line"));
    frame(QStringLiteral("third line"));
    ASSERT_EQ(view.textCursor().selectedText(), u"first");
    const QRect shown(view.viewport()->mapTo(&view, QPoint(0, 0)), view.viewport()->size());
    const QImage onScreen = static_cast<QImage *>(view.backingStore()->paintDevice())->copy(shown);
    const QImage whole = view.viewport()->grab().toImage().convertToFormat(onScreen.format());
    EXPECT_EQ(onScreen, whole);
}
