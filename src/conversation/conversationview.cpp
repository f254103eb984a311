#include "conversation/conversationview.h"

#include "base/framepacer.h"
#include "conversation/newlinesmarker.h"

#include <QAbstractTextDocumentLayout>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QTextOption>

#include <utility>

namespace vorlan {

namespace {

constexpr QChar LineSeparator = QChar::LineSeparator;

// Where the line after the given number of line separators starts in a block's text.
qsizetype afterSeparators(const QString &text, qsizetype separators)
{
    qsizetype at = 0;
    for (; separators > 0; --separators)
        at = text.indexOf(LineSeparator, at) + 1;
    return at;
}

// The view's scroll bar, repainted only when its handle moves on the screen: a long conversation
// that grows by a frame's lines changes its range and value every frame, its look hardly ever.
// The look is compared once the changes of a turn are all made (a frame's new range comes before
// its new value).
class FrameScrollBar : public QScrollBar
{
public:
    using QScrollBar::QScrollBar;

protected:
    void sliderChange(SliderChange change) override
    {
        if (change == SliderOrientationChange) {
            QScrollBar::sliderChange(change);
            return;
        }
        if (m_checking)
            return;
        m_checking = true;
        QMetaObject::invokeMethod(this, [this] {
            m_checking = false;
            QStyleOptionSlider option;
            initStyleOption(&option);
            const QRect handle = style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                                         QStyle::SC_ScrollBarSlider, this);
            // At either end, the arrows show whether they can move.
            const int end = value() == minimum() ? 1 : value() == maximum() ? 2 : 0;
            if (handle != m_handle || end != m_end)
                update();
            m_handle = handle;
            m_end = end;
        }, Qt::QueuedConnection);
    }

private:
    bool m_checking = false;
    QRect m_handle;
    int m_end = -1;
};

} // namespace

ConversationView::ConversationView(QWidget *parent)
    : QPlainTextEdit(parent), m_frames(new FramePacer([this] { flushLines(); }, this))
{
    m_frames->setBusyInterval(FloodFrameMs);
    setObjectName(QStringLiteral("rtfHomeMessage"));
    setToolTip(QStringLiteral("メッセージ表示"));
    setReadOnly(true);
    setUndoRedoEnabled(false);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setVerticalScrollBar(new FrameScrollBar(Qt::Vertical, this));
    shapeLightly();
    m_readable.setBase(palette().color(QPalette::Base));
    m_marker = new NewLinesMarker(this);
    connect(m_marker, &QToolButton::clicked, this, &ConversationView::showEnd);
    // Reached by the scroll bar, the keys or the wheel, the end clears the marker. The view moves
    // the bar without its signals when it scrolls by itself (keys, the caret), never without
    // asking for an update. While lines go in, the bar passes through states nobody sees.
    const auto reached = [this] {
        if (!m_flushing && atEnd())
            m_marker->clear();
    };
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, reached);
    connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, reached);
    connect(this, &QPlainTextEdit::updateRequest, this, reached);
}

void ConversationView::changeEvent(QEvent *event)
{
    QPlainTextEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        shapeLightly();
    // Lines shown from now on are measured against the new base; those in the text colour
    // follow it at once. A new desktop theme comes as a change of the view's own palette too.
    if (event->type() == QEvent::PaletteChange) {
        m_readable.setBase(palette().color(QPalette::Base));
        m_shownFor.reset();
    }
}

void ConversationView::resizeEvent(QResizeEvent *event)
{
    // Lines wrap anew; a view that showed the end still does.
    const bool end = atEnd();
    QPlainTextEdit::resizeEvent(event);
    if (end)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void ConversationView::paintEvent(QPaintEvent *event)
{
    QPlainTextEdit::paintEvent(event);
    forgetHiddenLayouts();
}

// A block keeps the lines of its layout once it has been shown, some hundreds of bytes for
// every line of the view, unless it gives them back: the blocks that have left the view since
// the last paint do. Scrolled back into view, a block is laid out again. The blocks in view keep
// their shaped glyphs too, so a frame that only adds lines below them draws them without
// shaping their text again; those leave with the rest of the layout.
void ConversationView::forgetHiddenLayouts()
{
    const QTextBlock first = firstVisibleBlock();
    if (!first.isValid())
        return;
    QList<int> shown;
    const qreal bottom = viewport()->height();
    for (QTextBlock block = first; block.isValid(); block = block.next()) {
        shown.append(block.blockNumber());
        block.layout()->setCacheEnabled(true);
        if (blockBoundingGeometry(block).translated(contentOffset()).bottom() >= bottom)
            break;
    }
    for (const int number : std::as_const(m_shown)) {
        if (!shown.contains(number)) {
            // A layout of a block takes its text from the block: setting an empty one only
            // drops its lines and glyphs.
            if (QTextLayout *const layout = document()->findBlockByNumber(number).layout()) {
                layout->setCacheEnabled(false);
                layout->setText(QString());
            }
        }
    }
    m_shown = shown;
}

// Lines are laid out and drawn as the view shows them, a frame's worth at a time: they are
// shaped without kerning and ligatures where their script can do without (Latin and Japanese
// can), which halves what laying out a line costs. Scripts that need shaping still get it.
void ConversationView::shapeLightly()
{
    QFont font = document()->defaultFont();
    if (font.styleStrategy() & QFont::PreferNoShaping)
        return;
    font.setStyleStrategy(QFont::StyleStrategy(font.styleStrategy() | QFont::PreferNoShaping));
    document()->setDefaultFont(font);
}

void ConversationView::AppendLine(const QString &text, std::optional<QColor> color)
{
    if (color)
        m_color = *color;
    m_text += text;
    // Trimmed by halves, so each character is moved a bounded number of times.
    if (m_text.size() > 2 * KeptText) {
        const qsizetype cut = m_text.size() - KeptText;
        m_textStartsLine = m_text[cut - 1] == u'\n';
        m_text.remove(0, cut);
    }

    m_pending.append({text, m_color});
    m_pendingCharacters += text.size();
    m_pendingLines += QStringView(text).count(u"\r\n");
    if (m_pendingCharacters > MaxPending)
        flushLines();
    else
        m_frames->request();
}

void ConversationView::flushLines()
{
    m_frames->ran();
    if (m_end.isNull() || m_end.document() != document())
        m_end = QTextCursor(document());
    QTextDocument *const doc = document();
    QAbstractTextDocumentLayout *const layout = doc->documentLayout();
    QScrollBar *const bar = verticalScrollBar();
    const bool inserting = !m_pending.isEmpty();
    const bool following = followsEnd();
    const int top = following ? 0 : topPosition();
    const bool wasAtEnd = bar->value() == bar->maximum();
    m_flushing = true;
    // The lines that must leave for the new ones leave first (see cutOldestLines), the rest of
    // a step after the new lines are in.
    qsizetype step = qMax<qsizetype>(CutStep, m_pendingLines);
    int removed = doc->characterCount();
    cutOldestLines(m_pendingLines, m_pendingCharacters - m_pendingLines, step);
    removed -= doc->characterCount();
    const qsizetype lines = m_lines;
    const int changed = doc->blockCount() - 1; // the first block the new lines reach
    const int end = doc->characterCount() - 1;  // where they start
    if (inserting) {
        // One change for the whole batch: the document is laid out once, not once per insert.
        // The layout would have the whole view painted again for it; the view is told below
        // what changed on the screen.
        const QSignalBlocker quiet(layout);
        m_end.beginEditBlock();
        // Moving a cursor lays its block out and keeps that layout for good. Inserting keeps
        // the cursor at the end, so it moves only when it is not.
        if (const int last = doc->characterCount() - 1; m_end.position() != last)
            m_end.setPosition(last);
        for (const Run &run : std::as_const(m_pending))
            insertRun(run);
        insertPiece();
        m_end.endEditBlock();
        m_pending.clear();
        m_pendingCharacters = 0;
        m_pendingLines = 0;
        if (viewport()->isVisible())
            keepShapesAtEnd(changed);
    }
    if (inserting)
        emit layout->documentSizeChanged(layout->documentSize()); // the scroll bar's new range
    const qsizetype added = m_lines - lines;
    const int fit = viewport()->height() / qMax(1, fontMetrics().lineSpacing());
    m_frames->setBusyInterval(added > fit ? FullViewFrameMs : FloodFrameMs);
    const int characters = doc->characterCount();
    if (cutOldestLines(0, 0, step))
        m_frames->request(); // the next step a frame later
    removed += characters - doc->characterCount();
    if (!following) {
        keepTop(top - removed);
        // The layout was kept quiet while the lines went in: what they change in view is
        // painted here.
        if (inserting)
            viewport()->update();
    }
    if (inserting && following) {
        // The caret follows the text it stood at the end of; moved there again it would make
        // the view lay out the blocks of both its places once more.
        const QTextCursor caret = textCursor();
        if (caret.position() != m_end.position() || caret.hasSelection())
            setTextCursor(m_end);
        if (wasAtEnd && removed == 0 && added < fit / 2 && viewport()->isVisible()) {
            // The lines in view move up by what came below them: their pixels are moved, and
            // only the lines from the one the new text joined down are painted. Past half a
            // view of new lines, most of it is painted anyway.
            bar->setValue(bar->maximum());
            const QTextBlock block = doc->findBlockByNumber(changed);
            qreal from = blockBoundingGeometry(block).translated(contentOffset()).top();
            const QTextLine line = block.layout()->lineForTextPosition(end - block.position());
            if (line.isValid())
                from += line.y();
            viewport()->update(0, qMax(0, int(from)), viewport()->width(), viewport()->height());
        } else {
            // To the end. With the viewport's updates on, the view would lay out every block
            // between the old top and the new one to work out how far to scroll its pixels;
            // the document changed, so it paints all of it anyway.
            viewport()->setUpdatesEnabled(false);
            bar->setValue(bar->maximum());
            viewport()->setUpdatesEnabled(true);
        }
    }
    m_flushing = false;
    if (atEnd())
        m_marker->clear();
    else if (!following)
        m_marker->addLines(added);
}

// The blocks at the end that the view may show next keep the glyphs their layout shapes, so
// painting them does not shape their text again; those the view does not show give them back
// after the paint, with the blocks that left the view.
void ConversationView::keepShapesAtEnd(int changed)
{
    const int lines = viewport()->height() / qMax(1, fontMetrics().lineSpacing()) + 1;
    const int first = qMax(changed, document()->blockCount() - 2 - lines / BlockLines);
    for (QTextBlock block = document()->findBlockByNumber(first); block.isValid(); block = block.next()) {
        block.layout()->setCacheEnabled(true);
        if (!m_shown.contains(block.blockNumber()))
            m_shown.append(block.blockNumber());
    }
}

bool ConversationView::atEnd() const
{
    return verticalScrollBar()->value() >= verticalScrollBar()->maximum();
}

bool ConversationView::followsEnd() const
{
    return atEnd() && !textCursor().hasSelection();
}

// Where the line at the top of the view starts in the document.
int ConversationView::topPosition() const
{
    const QTextBlock block = firstVisibleBlock();
    if (!block.isValid())
        return 0;
    const int line = verticalScrollBar()->value() - block.firstLineNumber();
    const QTextLayout *const layout = block.layout();
    if (line <= 0 || line >= layout->lineCount())
        return block.position();
    return block.position() + layout->lineAt(line).textStart();
}

// Shows the line that starts at the position at the top; a line cut from the top (a position
// under 0) leaves the first line left there. The view numbers its lines by the layouts of the
// blocks, so the block is laid out before its line is numbered.
void ConversationView::keepTop(int position)
{
    int value = 0;
    if (position > 0) {
        const QTextBlock block = document()->findBlock(qMin(position, document()->characterCount() - 1));
        document()->documentLayout()->blockBoundingRect(block);
        const QTextLine line = block.layout()->lineForTextPosition(position - block.position());
        value = block.firstLineNumber() + (line.isValid() ? line.lineNumber() : 0);
    }
    QScrollBar *const bar = verticalScrollBar();
    if (bar->value() == value)
        return;
    viewport()->setUpdatesEnabled(false);
    bar->setValue(value);
    viewport()->setUpdatesEnabled(true);
}

void ConversationView::showEnd()
{
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    setTextCursor(end);
    QScrollBar *const bar = verticalScrollBar();
    bar->setValue(bar->maximum());
    m_marker->clear();
}

qsizetype ConversationView::unseenLines() const
{
    return m_marker->count();
}

void ConversationView::insertRun(const Run &run)
{
    const QColor shown = shownColor(run.color);
    if (shown != m_pieceColor) {
        insertPiece();
        m_pieceColor = shown;
    }
    // Each CR LF pair is one line end: a line separator, or a paragraph break after the last
    // line of a block. The text goes in at a block's end or a change of colour.
    const QString &text = run.text;
    qsizetype start = 0;
    for (;;) {
        const qsizetype end = text.indexOf(QLatin1String("\r\n"), start);
        m_piece += QStringView(text).sliced(start, (end < 0 ? text.size() : end) - start);
        if (end < 0)
            break;
        endLine();
        start = end + 2;
    }
}

void ConversationView::insertPiece()
{
    if (!m_piece.isEmpty())
        m_end.insertText(m_piece, formatFor(m_pieceColor));
    m_piece.clear();
}

// Text in a colour that does not read on the base, in the palette's text colour or in
// TextColor, has no colour of its own: it is drawn in the palette's text colour, the one of the
// moment.
QColor ConversationView::shownColor(const QColor &color)
{
    if (!color.isValid())
        return TextColor;
    if (!m_shownFor || m_shownFor->first != color) {
        const bool own = color != palette().color(QPalette::Text) && m_readable.reads(color);
        m_shownFor = std::pair(color, own ? color : TextColor);
    }
    return m_shownFor->second;
}

const QTextCharFormat &ConversationView::formatFor(const QColor &shown)
{
    if (!shown.isValid())
        return m_textFormat;
    if (shown != m_colorFormatColor) {
        m_colorFormatColor = shown;
        m_colorFormat = m_textFormat;
        m_colorFormat.setForeground(shown);
    }
    return m_colorFormat;
}

void ConversationView::endLine()
{
    ++m_lines;
    if (++m_openLines < BlockLines) {
        m_piece += LineSeparator;
        return;
    }
    insertPiece();
    if (document()->blockCount() == 1)
        m_firstLines = m_openLines;
    m_end.insertBlock(QTextBlockFormat(), formatFor(m_pieceColor));
    m_openLines = 0;
}

void ConversationView::setMaximumLines(int lines)
{
    m_maxLines = lines;
    flushLines();
}

void ConversationView::setMaximumCharacters(qsizetype characters)
{
    m_maxCharacters = characters;
    flushLines();
}

// Every block but the first and the last holds BlockLines complete lines.
qsizetype ConversationView::linesOfBlock(int block) const
{
    if (block == document()->blockCount() - 1)
        return m_openLines;
    return block == 0 ? m_firstLines : BlockLines;
}

qsizetype ConversationView::firstLineOfBlock(int block) const
{
    return block == 0 ? 0 : m_firstLines + qsizetype(block - 1) * BlockLines;
}

// The position where a line starts; the line after the last complete one is the line in
// progress.
int ConversationView::lineStart(qsizetype line) const
{
    const int last = document()->blockCount() - 1;
    int block = 0;
    if (last > 0 && line >= m_firstLines)
        block = int(qMin<qsizetype>(last, 1 + (line - m_firstLines) / BlockLines));
    const QTextBlock found = document()->findBlockByNumber(block);
    const qsizetype within = line - firstLineOfBlock(block);
    return found.position() + int(within == 0 ? 0 : afterSeparators(found.text(), within));
}

// The line a position is in.
qsizetype ConversationView::lineAt(int position) const
{
    const QTextBlock block = document()->findBlock(position);
    const QString text = block.text();
    return firstLineOfBlock(block.blockNumber())
           + QStringView(text).first(qMin<qsizetype>(text.size(), position - block.position())).count(LineSeparator);
}

// Past either bound, lines leave until the view is a tenth under both, so the top is not cut
// for every new line. They leave in steps, one a frame and in a change of their own, so the
// layout starts over at the top only. A step is CutStep lines, or as many as the frame adds if
// that is more: no pace of input outgrows the bounds. Counted with the lines still to come
// (lines and characters as the document will hold them), the lines they push out leave before
// they come. The document appends all text to one buffer and keeps removed text in it until a
// change ends with the buffer nine tenths full; it then copies all the live text (some 10 MB in
// a full view) into a buffer just as large, so the next removal finds it full and copies it
// again. Removing before inserting puts those two copies in different frames; removing after
// would make both in one turn. Lines that come past the bound by themselves can only leave
// once they are in: called again after the insert, with what is left of the step. Returns
// whether more lines must leave.
bool ConversationView::cutOldestLines(qsizetype comingLines, qsizetype comingCharacters, qsizetype &step)
{
    QTextDocument *const doc = document();
    const auto excess = [&] {
        return std::pair(m_lines + comingLines - (m_maxLines - m_maxLines / 10),
                         qsizetype(doc->characterCount() - 1) + comingCharacters
                             - (m_maxCharacters - m_maxCharacters / 10));
    };
    if (!m_cutting && m_lines + comingLines <= m_maxLines
        && doc->characterCount() - 1 + comingCharacters <= m_maxCharacters)
        return false;
    const auto [lines, characters] = excess();
    // The first line to keep: the one after the lines, and after the characters, that must go.
    qsizetype keep = qMin(m_lines, qMax<qsizetype>(0, lines));
    if (characters >= doc->characterCount() - 1) {
        keep = m_lines;
    } else if (characters > lineStart(keep)) {
        keep = lineAt(int(characters));
        if (lineStart(keep) < characters)
            ++keep;
    }
    keep = qMin(keep, qMin(m_lines, step));
    if (keep > 0) {
        step -= keep;
        const int position = lineStart(keep);
        const int gone = doc->findBlock(position).blockNumber(); // blocks that go whole
        const qsizetype left = linesOfBlock(gone) - (keep - firstLineOfBlock(gone));
        QTextCursor cursor(doc);
        // Inside an edit block the cursor does not lay out the line it moves to.
        cursor.beginEditBlock();
        cursor.setPosition(position, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        cursor.endEditBlock();
        if (doc->blockCount() == 1)
            m_openLines = left;
        else
            m_firstLines = left;
        m_lines -= keep;
        // The blocks after the cut have new numbers.
        QList<int> shown;
        for (const int number : std::as_const(m_shown)) {
            if (number >= gone)
                shown.append(number - gone);
        }
        m_shown = shown;
    }
    const auto [linesLeft, charactersLeft] = excess();
    // Only the line in progress left: nothing more can go.
    m_cutting = m_lines + comingLines > 0 && (linesLeft > 0 || charactersLeft > 0);
    return m_cutting;
}

void ConversationView::setTabStops(const QList<qreal> &positions)
{
    QTextOption option = document()->defaultTextOption();
    QList<QTextOption::Tab> tabs;
    for (qreal position : positions)
        tabs.append(QTextOption::Tab(position, QTextOption::LeftTab));
    option.setTabs(tabs);
    document()->setDefaultTextOption(option);
}

QColor colorFromWindowsValue(qint32 value)
{
    const auto bits = static_cast<quint32>(value);
    return QColor(int(bits & 0xFF), int((bits >> 8) & 0xFF), int((bits >> 16) & 0xFF));
}

qint32 windowsValueFromColor(const QColor &color)
{
    return qint32(quint32(color.red()) | (quint32(color.green()) << 8) | (quint32(color.blue()) << 16));
}

} // namespace vorlan
