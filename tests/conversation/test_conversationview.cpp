#include "base/framepacer.h"
#include "conversation/conversationview.h"

#include <QAccessible>
#include <QApplication>
#include <QBackingStore>
#include <QClipboard>
#include <QCoreApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QPaintEvent>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <memory>

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
    EXPECT_EQ(view.toPlainText(), "0\n1\n2\n3\n4\n5\na\nb\nc\nd\n");
    view.AppendLine(QStringLiteral("e"), Qt::red);
    EXPECT_EQ(view.lineCount(), 10); // the line in progress is not counted
    view.AppendLine(QStringLiteral("\r\n"));
    EXPECT_EQ(view.toPlainText(), "1\n2\n3\n4\n5\na\nb\nc\nd\ne\n");
    EXPECT_EQ(view.colorAt({9, 0}), QColor(Qt::red));
    EXPECT_EQ(view.colorAt({8, 0}), ConversationView::TextColor);
    EXPECT_TRUE(view.conversationText().startsWith(QStringLiteral("0\r\n1\r\n")));

    // The text kept for replies stays bounded, and its end whole.
    QString all = view.conversationText();
    for (int i = 0; i < 300; ++i) {
        const QString line = QString::number(i) + QString(80, u'x') + QStringLiteral("\r\n");
        view.AppendLine(line, i % 2 ? QColor(Qt::blue) : ConversationView::TextColor);
        all += line;
    }
    EXPECT_LE(view.conversationText().size(), 2 * ConversationView::KeptText);
    EXPECT_TRUE(all.endsWith(view.conversationText()));
    EXPECT_GE(view.conversationText().size(), ConversationView::KeptText);
    EXPECT_EQ(view.conversationTextStartsLine(), all[all.size() - view.conversationText().size() - 1] == u'\n');
    EXPECT_EQ(view.lineCount(), 10);
    EXPECT_EQ(view.lineText(9), QStringLiteral("299") + QString(80, u'x'));
    // Each line keeps its own colour as the lines before it leave.
    for (int line = 0; line < 10; ++line)
        EXPECT_EQ(view.colorAt({line, 5}), line % 2 ? QColor(Qt::blue) : ConversationView::TextColor) << line;
}

TEST(ConversationView, ALineKeepsTheColoursOfItsRuns)
{
    ConversationView view;
    view.AppendLine(QStringLiteral("10:00:00 a->\t"), Qt::red);
    view.AppendLine(QStringLiteral("one\r\n"), Qt::black);
    view.AppendLine(QStringLiteral("10:00:01 b->\t"), Qt::red);
    view.AppendLine(QStringLiteral("two"), Qt::blue);
    view.AppendLine(QString(), Qt::darkGreen); // no text, but the colour of the next
    view.AppendLine(QStringLiteral(" more\r\n"));
    EXPECT_EQ(view.conversationText(), "10:00:00 a->\tone\r\n10:00:01 b->\ttwo more\r\n");
    EXPECT_EQ(view.toPlainText(), "10:00:00 a->\tone\n10:00:01 b->\ttwo more\n");
    const QColor black = ConversationView::TextColor; // the palette's text colour
    struct Case
    {
        qsizetype line, column;
        QColor color;
    };
    for (const Case &c : {Case{0, 0, Qt::red}, Case{0, 12, Qt::red}, Case{0, 13, black}, Case{0, 15, black},
                          Case{1, 0, Qt::red}, Case{1, 12, Qt::red}, Case{1, 13, Qt::blue}, Case{1, 15, Qt::blue},
                          Case{1, 16, Qt::darkGreen}, Case{1, 20, Qt::darkGreen}}) {
        EXPECT_EQ(view.colorAt({c.line, c.column}), c.color) << c.line << ":" << c.column;
    }
}

TEST(ConversationView, LinesLeavePastTheCharacterBoundToo)
{
    const auto line = [](int i) { return QStringLiteral("line %1\r\n").arg(i, 4, 10, QChar(u'0')); };
    ConversationView view;
    view.setMaximumCharacters(100);
    for (int i = 0; i < 10; ++i)
        view.AppendLine(line(i)); // ten characters held, the line break counted as one
    EXPECT_EQ(view.lineCount(), 10);
    view.AppendLine(line(10));
    EXPECT_TRUE(view.toPlainText().startsWith(QStringLiteral("line 0001\n")));
    EXPECT_EQ(view.lineCount(), 10);

    // A long line takes the room of several short ones; one past the whole bound leaves at once,
    // the line in progress stays.
    view.AppendLine(QString(50, u'L') + QStringLiteral("\r\n"));
    EXPECT_EQ(view.toPlainText(), "line 0007\nline 0008\nline 0009\nline 0010\n" + QString(50, u'L') + '\n');
    view.AppendLine(QString(300, u'H') + QStringLiteral("\r\n") + line(11) + QStringLiteral("now"));
    EXPECT_EQ(view.toPlainText(), "line 0011\nnow");
    view.setMaximumCharacters(2);
    EXPECT_EQ(view.toPlainText(), "now");
}

// However fast lines come, the view lays out and paints them at most once a frame: a line after
// a quiet frame at the next turn, the lines of a flood a frame's worth at a time, and once the
// flood goes on, FloodFrameMs' worth at a time; FullViewFrameMs' worth while every batch is more
// than the view shows.
TEST(ConversationView, LinesReachTheScreenAtMostOnceAFrame)
{
    struct Paints : QObject
    {
        ConversationView *view;
        QList<qsizetype> lines; // the lines held at each paint
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::Paint)
                lines << view->lineCount();
            return false;
        }
    } paints;
    ConversationView view;
    paints.view = &view;
    view.resize(300, 60 * view.fontMetrics().lineSpacing());
    view.show();
    QCoreApplication::processEvents();
    view.viewport()->installEventFilter(&paints);
    qint64 now = 1000;
    view.frames().setClock([&now] { return now; });
    QList<qsizetype> &shown = paints.lines;
    int next = 0;
    // Lines one a millisecond (or several) for the given time.
    const auto flood = [&](int milliseconds, int perMillisecond) {
        for (int ms = 0; ms < milliseconds; ++ms) {
            ++now;
            for (int k = 0; k < perMillisecond; ++k)
                view.AppendLine(QStringLiteral("line %1\r\n").arg(next++));
            QCoreApplication::processEvents();
            view.frames().runDue();
            QCoreApplication::processEvents();
        }
    };

    flood(1, 1);
    EXPECT_EQ(shown, QList<qsizetype>{1});

    // A flood of 100 lines, one a millisecond: the first ones show a frame after the quiet
    // line, the rest every FloodFrameMs.
    shown.clear();
    flood(99, 1);
    const int frame = FramePacer::FrameMs, flooded = ConversationView::FloodFrameMs;
    EXPECT_EQ(shown, (QList<qsizetype>{1 + frame, 1 + frame + flooded, 1 + frame + 2 * flooded}));
    now += flooded;
    view.frames().runDue();
    EXPECT_FALSE(view.frames().isPending());

    // Quiet for a while: the next line shows at once again.
    now += 100;
    QCoreApplication::processEvents();
    shown.clear();
    flood(1, 1);
    EXPECT_EQ(shown, QList<qsizetype>{101});

    // Two lines a millisecond: each batch more than the 60 lines the view shows.
    shown.clear();
    flood(300, 2);
    EXPECT_EQ(shown, (QList<qsizetype>{101 + 2 * frame, 101 + 2 * (frame + flooded),
                                       101 + 2 * (frame + flooded + ConversationView::FullViewFrameMs),
                                       101 + 2 * (frame + flooded + 2 * ConversationView::FullViewFrameMs)}));
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
    frame(40);
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
    return view.lineText(view.placeAt(QPoint(ConversationView::Margin, ConversationView::Margin)).line);
}

// Selects whole lines by their numbers.
void selectLines(ConversationView &view, int from, int to)
{
    const qsizetype first = view.toPlainText().split(u'\n').indexOf(numbered(from));
    const qsizetype last = view.toPlainText().split(u'\n').indexOf(numbered(to));
    view.select({first, 0}, {last, view.lineText(last).size()});
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
        int added;                     // 60 lines before; with 50 more the first 10 leave
        int topAfter, keptFrom;        // the selection kept is from keptFrom to selectTo
    };
    const Case cases[] = {
        {"scrolled back", 20, 22, 24, 20, Same, 22},
        {"scrolled back, old lines leave", 30, None, None, 50, Same, None},
        {"a selection in view, old lines leave", 30, 32, 34, 50, Same, 32},
        {"the line at the top leaves", 5, None, None, 50, 10, None},
        {"a selection partly cut", 12, 5, 15, 50, Same, 10},
        {"a selection wholly cut", 30, 2, 5, 50, Same, None},
        {"a selection at the end", End, 57, 58, 50, Same, 57},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ConversationView view;
        view.setMaximumLines(100);
        view.resize(300, 200);
        view.show();
        addLines(view, 0, 60);
        if (c.selectFrom != None)
            selectLines(view, c.selectFrom, c.selectTo);
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
        EXPECT_EQ(view.selectedText(), kept.join(u'\n'));
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

    selectLines(view, 51, 51); // holds the view
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
    EXPECT_FALSE(view.hasSelection());
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
        for (qsizetype line = 0; line < std::ssize(cases); ++line) {
            const Case &c = cases[line];
            SCOPED_TRACE(QString::number(c.co, 16).toStdString() + (onDark ? " on dark" : " on light"));
            const bool stored = onDark ? c.onDark : c.onLight;
            EXPECT_EQ(view.colorAt({line, 0}), stored ? vorlan::colorFromWindowsValue(c.co) : ConversationView::TextColor);
            EXPECT_EQ(view.colorAt({line, view.lineText(line).indexOf(QStringLiteral("text"))}), ConversationView::TextColor);
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
    EXPECT_EQ(view.colorAt({0, 0}), QColor(0, 0, 0x80));
    EXPECT_EQ(view.colorAt({1, 0}), ConversationView::TextColor);
}

// Following the end, each frame of new lines shows on the screen what painting the whole view
// would.
TEST(ConversationView, AFrameOfNewLinesLooksAsIfAllWerePainted)
{
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
    const QRect shown(view.viewport()->mapTo(&view, QPoint(0, 0)), view.viewport()->size());
    for (const int lines : {1, 3, 1, 2, 9, 1}) {
        frame(lines);
        const QImage onScreen = static_cast<QImage *>(view.backingStore()->paintDevice())->copy(shown);
        const QImage whole = view.viewport()->grab().toImage().convertToFormat(onScreen.format());
        EXPECT_EQ(onScreen, whole) << next;
        // The newest line at the bottom.
        EXPECT_EQ(view.placeAt(QPoint(ConversationView::Margin, view.viewport()->height() - ConversationView::Margin - 2)).line,
                  view.lineCount() - 1) << next;
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
    view.select({0, 0}, {0, 5});
    QCoreApplication::processEvents();
    frame(QStringLiteral("second line"));
    frame(QStringLiteral("third line"));
    ASSERT_EQ(view.selectedText(), u"first");
    const QRect shown(view.viewport()->mapTo(&view, QPoint(0, 0)), view.viewport()->size());
    const QImage onScreen = static_cast<QImage *>(view.backingStore()->paintDevice())->copy(shown);
    const QImage whole = view.viewport()->grab().toImage().convertToFormat(onScreen.format());
    EXPECT_EQ(onScreen, whole);
}

// The reader selects with the mouse (a drag, a shift-click, a double click on a word) and the
// keys, and copies what is selected, lines joined by line feeds; the menu offers the same.
TEST(ConversationView, TheReaderSelectsAndCopies)
{
    ConversationView view;
    view.resize(400, 200);
    view.show();
    addLines(view, 0, 3);
    QWidget *area = view.viewport();
    // Where a character of a line is drawn.
    const auto at = [&](qsizetype line, qsizetype column) {
        for (int y = 0; y < area->height(); ++y) {
            for (int x = 0; x < area->width(); ++x) {
                if (view.placeAt(QPoint(x, y)) == ConversationView::Place{line, column})
                    return QPoint(x, y);
            }
        }
        ADD_FAILURE() << "line " << line << " column " << column << " not shown";
        return QPoint();
    };
    // With nothing selected, a shift-click selects from the end.
    QTest::mouseClick(area, Qt::LeftButton, Qt::ShiftModifier, at(2, 7));
    EXPECT_EQ(view.selectedText(), QStringLiteral("02\n"));
    QTest::mousePress(area, Qt::LeftButton, {}, at(0, 5));
    QTest::mouseMove(area, at(1, 4));
    QTest::mouseRelease(area, Qt::LeftButton, {}, at(1, 4));
    EXPECT_EQ(view.selectedText(), QStringLiteral("0000\nline"));
    if (QApplication::clipboard()->supportsSelection()) {
        EXPECT_EQ(QApplication::clipboard()->text(QClipboard::Selection), view.selectedText());
    }
    QTest::mouseClick(area, Qt::LeftButton, Qt::ShiftModifier, at(2, 7));
    EXPECT_EQ(view.selectedText(), QStringLiteral("0000\nline 0001\nline 00"));
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("0000\nline 0001\nline 00"));

    // A selected line break shows after the line's text.
    view.select({0, view.lineText(0).size()}, {1, 0});
    EXPECT_EQ(view.selectedText(), QStringLiteral("\n"));
    const QRect last = view.placeRect({0, view.lineText(0).size() - 1});
    const QImage shown = area->grab().toImage();
    EXPECT_EQ(shown.pixel(last.right() + 3, last.center().y()), view.palette().color(QPalette::Highlight).rgb());
    EXPECT_NE(shown.pixel(last.right() + 3, last.center().y() + last.height()), view.palette().color(QPalette::Highlight).rgb());

    QTest::mouseDClick(area, Qt::LeftButton, {}, at(1, 7));
    EXPECT_EQ(view.selectedText(), QStringLiteral("0001"));
    // On the right half of a word's last letter, still that word.
    const QRect letter = view.placeRect({1, 3});
    QTest::mouseDClick(area, Qt::LeftButton, {}, QPoint(letter.right() - 1, letter.center().y()));
    EXPECT_EQ(view.selectedText(), QStringLiteral("line"));
    QTest::mouseClick(area, Qt::LeftButton, {}, at(1, 7));
    EXPECT_FALSE(view.hasSelection());

    const std::unique_ptr<QMenu> menu(view.createStandardContextMenu());
    QAction *copy = menu->findChild<QAction *>(QStringLiteral("edit-copy"));
    QAction *all = menu->findChild<QAction *>(QStringLiteral("select-all"));
    ASSERT_TRUE(copy && all);
    EXPECT_FALSE(copy->isEnabled());
    all->trigger();
    EXPECT_EQ(view.selectedText(), QStringLiteral("line 0000\nline 0001\nline 0002\n"));
    QApplication::clipboard()->clear();
    const std::unique_ptr<QMenu> again(view.createStandardContextMenu());
    again->findChild<QAction *>(QStringLiteral("edit-copy"))->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), view.toPlainText());
    QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(view.selectedText(), view.toPlainText());

    // Held below the view, the selection scrolls on with it until the mouse is let go.
    addLines(view, 3, 37);
    QTest::keyClick(&view, Qt::Key_Home);
    QTest::mousePress(area, Qt::LeftButton, {}, at(0, 0));
    const int shownRows = area->height() / view.fontMetrics().lineSpacing();
    QTest::mouseMove(area, QPoint(20, area->height() + 10));
    QTest::qWait(ConversationView::DragScrollMs * (shownRows + 6));
    QTest::mouseRelease(area, Qt::LeftButton, {}, QPoint(20, area->height() + 10));
    EXPECT_GT(view.selectedText().count(u'\n'), shownRows + 3);
    const qsizetype top = view.topLine();
    QTest::qWait(ConversationView::DragScrollMs * 3);
    EXPECT_EQ(view.topLine(), top);
}

// A line longer than the view is tall wraps, and the view scrolls through it a row of the
// screen at a time: at the end its last row shows, the keys and the wheel move up through it.
TEST(ConversationView, ALineTallerThanTheViewIsReadRowByRow)
{
    ConversationView view;
    view.resize(200, 100);
    view.show();
    addLines(view, 0, 1);
    QString words;
    for (int i = 0; i < 200; ++i)
        words += QStringLiteral("w%1 ").arg(i, 3, 10, QChar(u'0'));
    view.AppendLine(words + QStringLiteral("\r\n"));
    view.flushLines();
    QCoreApplication::processEvents();
    const QPoint bottom(ConversationView::Margin, view.viewport()->height() - ConversationView::Margin - 2);
    const QPoint top(ConversationView::Margin, ConversationView::Margin);
    const auto wordAt = [&](QPoint point) {
        const ConversationView::Place place = view.placeAt(point);
        return view.lineText(place.line).mid(place.column, 4);
    };
    EXPECT_TRUE(view.atEnd());
    EXPECT_EQ(view.placeAt(bottom).line, 1) << wordAt(bottom).toStdString();
    const QPoint bottomRight(view.viewport()->width() - 1, bottom.y());
    EXPECT_GE(view.placeAt(bottomRight).column, words.size() - 1); // the last row
    const QString atTop = wordAt(top);
    EXPECT_TRUE(atTop.startsWith(u'w') && atTop != QStringLiteral("w000")) << atTop.toStdString();

    QTest::keyClick(&view, Qt::Key_Up);
    EXPECT_FALSE(view.atEnd());
    EXPECT_EQ(view.placeAt(top).line, 1); // a row up, still inside the long line
    EXPECT_LT(words.indexOf(wordAt(top)), words.indexOf(atTop));
    // The row before the top one is not in view, though its last pixels would be in the margin.
    EXPECT_TRUE(view.placeRect({1, view.placeAt(top).column - 1}).isEmpty());
    EXPECT_FALSE(view.placeRect(view.placeAt(top)).isEmpty());
    // Nothing of the row above the top one shows in the margin.
    const QImage shown = view.viewport()->grab().toImage();
    const QRgb base = view.palette().color(QPalette::Base).rgb();
    for (int y = 0; y < ConversationView::Margin; ++y) {
        for (int x = 0; x < shown.width(); ++x)
            ASSERT_EQ(shown.pixel(x, y), base) << x << "," << y;
    }
    QWheelEvent wheel(QPointF(10, 10), view.mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, 120 * 100),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view.viewport(), &wheel);
    EXPECT_EQ(topLine(view), numbered(0));
    QTest::keyClick(&view, Qt::Key_End);
    EXPECT_TRUE(view.atEnd());
    EXPECT_EQ(wordAt(top), atTop);
    // The scroll bar counts the long line's rows too, down to the end.
    QTest::keyClick(&view, Qt::Key_Up);
    ASSERT_FALSE(view.atEnd());
    view.verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_TRUE(view.atEnd());
    EXPECT_EQ(wordAt(top), atTop);
}

// The reader's place stays inside what the view holds whatever moves under it: a scroll bar
// moved before the frame that follows a cut, a taller view, a smaller font. Where it cannot
// stay, the view shows the end.
TEST(ConversationView, TheReadersPlaceStaysInsideTheLines)
{
    ConversationView view;
    view.setMaximumCharacters(2000);
    view.resize(300, 200);
    view.show();
    for (int i = 0; i < 200; ++i)
        view.AppendLine(QStringLiteral("line %1\r\n").arg(i, 3, 10, QChar(u'0')));
    view.flushLines();
    QCoreApplication::processEvents();
    view.select({view.lineCount() - 1, 0}, {view.lineCount() - 1, 3}); // the view stays
    // One long line pushes most of the short ones out; the scroll bar has not heard of it yet.
    view.AppendLine(QString(1500, u'x') + QStringLiteral("\r\n"));
    QScrollBar *bar = view.verticalScrollBar();
    bar->setValue(bar->maximum() - 1);
    view.flushLines();
    QTest::keyClick(&view, Qt::Key_Up);
    QTest::keyClick(&view, Qt::Key_Down);
    EXPECT_LE(view.topLine(), view.lineCount());
    EXPECT_FALSE(view.placeRect(view.placeAt(QPoint(ConversationView::Margin, ConversationView::Margin))).isEmpty());

    // Scrolled back a little, then the view grows taller than what is below its top.
    ConversationView tall;
    tall.resize(300, 200);
    tall.show();
    addLines(tall, 0, 80);
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(&tall, Qt::Key_Up);
    ASSERT_FALSE(tall.atEnd());
    tall.resize(300, 400);
    QCoreApplication::processEvents();
    EXPECT_TRUE(tall.atEnd());
    const int bottom = tall.placeRect({79, 0}).bottom();
    EXPECT_GT(bottom, tall.viewport()->height() - ConversationView::Margin - 2 * tall.fontMetrics().lineSpacing());
}

// A screen reader reads the lines as one read-only text, a line feed after each complete line:
// a range of it, the selection, and where a character is on the screen.
TEST(ConversationView, AssistiveTechnologyReadsTheLines)
{
    ConversationView view;
    view.resize(300, 200);
    view.show();
    addLines(view, 0, 40);
    view.AppendLine(QStringLiteral("in progress"));
    view.flushLines();
    QAccessibleInterface *const accessible = QAccessible::queryAccessibleInterface(&view);
    ASSERT_TRUE(accessible);
    EXPECT_TRUE(accessible->state().readOnly);
    QAccessibleTextInterface *const text = accessible->textInterface();
    ASSERT_TRUE(text);
    const QString all = view.toPlainText();
    EXPECT_EQ(text->characterCount(), all.size());
    EXPECT_EQ(text->text(0, all.size()), all);
    const int line3 = int(all.indexOf(numbered(3)));
    EXPECT_EQ(text->text(line3 + 5, line3 + 15), all.mid(line3 + 5, 10));
    EXPECT_EQ(text->text(all.size() - 8, all.size() + 5), QStringLiteral("progress"));

    text->setSelection(0, line3 + 5, line3 + 15);
    EXPECT_EQ(view.selectedText(), all.mid(line3 + 5, 10));
    int start = 0, end = 0;
    text->selection(0, &start, &end);
    EXPECT_EQ(std::pair(start, end), std::pair(line3 + 5, line3 + 15));

    // Scrolled into view, a character is where the view says a point of it is.
    text->scrollToSubstring(line3 + 6, line3 + 7);
    const QRect rect = text->characterRect(line3 + 6);
    ASSERT_FALSE(rect.isEmpty());
    EXPECT_EQ(text->offsetAtPoint(rect.center()), line3 + 6);
    EXPECT_EQ(topLine(view), numbered(3));
    EXPECT_TRUE(text->characterRect(int(all.indexOf(numbered(0)))).isEmpty()); // above the view

    // Old lines leave: the offsets follow.
    view.setMaximumLines(40);
    view.AppendLine(QStringLiteral("\r\n") + numbered(40) + QStringLiteral("\r\n"));
    view.flushLines();
    const QString now = view.toPlainText();
    EXPECT_TRUE(now.startsWith(numbered(2)));
    EXPECT_EQ(text->characterCount(), now.size());
    text->setSelection(0, 12, 14);
    text->selection(0, &start, &end);
    EXPECT_EQ(std::pair(start, end), std::pair(12, 14));
    EXPECT_EQ(view.selectedText(), now.mid(12, 2));
    EXPECT_EQ(text->text(int(now.size() - 22), int(now.size())), QStringLiteral("in progress\n") + numbered(40) + u'\n');
}
