#include "conversation/conversationview.h"

#include "base/framepacer.h"
#include "conversation/conversationaccessible.h"
#include "conversation/newlinesmarker.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTextBoundaryFinder>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <limits>

namespace vorlan {

namespace {

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

qreal heightOf(const QTextLayout &layout)
{
    const int rows = layout.lineCount();
    if (rows == 0)
        return 0;
    const QTextLine last = layout.lineAt(rows - 1);
    return last.y() + last.height();
}

} // namespace

ConversationView::ConversationView(QWidget *parent)
    : QAbstractScrollArea(parent), m_frames(new FramePacer([this] { flushLines(); }, this))
{
    m_frames->setBusyInterval(FloodFrameMs);
    setObjectName(QStringLiteral("rtfHomeMessage"));
    setToolTip(QStringLiteral("メッセージ表示"));
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBar(new FrameScrollBar(Qt::Vertical, this));
    verticalScrollBar()->setSingleStep(1);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    viewport()->setCursor(Qt::IBeamCursor);
    m_option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    // Lines are laid out and drawn as the view shows them, a frame's worth at a time: they are
    // shaped without kerning and ligatures where their script can do without (Latin and
    // Japanese can), which halves what laying out a line costs. Scripts that need shaping
    // still get it.
    m_font = font();
    m_font.setStyleStrategy(QFont::StyleStrategy(m_font.styleStrategy() | QFont::PreferNoShaping));
    m_readable.setBase(palette().color(QPalette::Base));
    m_marker = new NewLinesMarker(this);
    ConversationAccessible::install();
    connect(m_marker, &QToolButton::clicked, this, &ConversationView::showEnd);
}

ConversationView::~ConversationView() = default;

void ConversationView::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        m_font = font();
        m_font.setStyleStrategy(QFont::StyleStrategy(m_font.styleStrategy() | QFont::PreferNoShaping));
        m_layouts.clear();
        relayout();
    }
    // Lines appended from now on are measured against the new base; those in the text colour
    // follow it at once. A new desktop theme comes as a change of the view's own palette too.
    if (event->type() == QEvent::PaletteChange) {
        m_readable.setBase(palette().color(QPalette::Base));
        m_shownFor.reset();
        viewport()->update();
    }
}

void ConversationView::resizeEvent(QResizeEvent *event)
{
    // Called for the viewport too. Lines wrap anew; a view that showed the end still does.
    QAbstractScrollArea::resizeEvent(event);
    if (viewport()->width() != m_width) {
        m_width = viewport()->width();
        m_layouts.clear();
    }
    relayout();
}

// The lines wrap anew or the view has a new height: a view that showed the end still does, any
// other keeps its top as far as the new end allows.
void ConversationView::relayout()
{
    const bool end = atEnd();
    m_end = endPosition();
    m_top = end ? m_end : qMin(clamped(m_top), m_end);
    syncScrollBar();
    viewport()->update();
}

void ConversationView::AppendLine(const QString &text, std::optional<QColor> color)
{
    if (color)
        m_asked = *color;
    m_text += text;
    // Trimmed by halves, so each character is moved a bounded number of times.
    if (m_text.size() > 2 * KeptText) {
        const qsizetype cut = m_text.size() - KeptText;
        m_textStartsLine = m_text[cut - 1] == u'\n';
        m_text.remove(0, cut);
    }

    const quint16 shown = shownColor(m_asked);
    qsizetype start = 0;
    for (;;) {
        const qsizetype end = text.indexOf(QLatin1String("\r\n"), start);
        appendPiece(QStringView(text).sliced(start, (end < 0 ? text.size() : end) - start), shown);
        if (end < 0)
            break;
        endLine(shown);
        start = end + 2;
    }
    cutOldestLines();
    m_frames->request();
}

void ConversationView::appendPiece(QStringView text, quint16 color)
{
    if (text.isEmpty())
        return;
    Line &last = m_lines.back();
    if (m_open.isEmpty() && last.changes == 0) {
        last.color = color;
    } else if (lastColor(last) != color && last.changes < std::numeric_limits<quint16>::max()) {
        if (last.changes == 0)
            last.firstChange = m_firstChange + qint64(m_changes.size());
        m_changes.push_back({qint32(m_open.size()), color});
        ++last.changes;
    }
    m_open += text;
    m_characters += text.size();
    m_layouts.erase(m_first + qint64(m_lines.size()) - 1);
}

void ConversationView::endLine(quint16 color)
{
    // The line in progress grows in a buffer of its own; a complete line takes one allocation
    // just as large as its text.
    m_lines.back().text = QString(m_open.constData(), m_open.size());
    m_open.truncate(0);
    Line next;
    next.start = m_lines.back().start + m_lines.back().text.size() + 1;
    next.color = color;
    m_lines.push_back(std::move(next));
    ++m_characters;
}

quint16 ConversationView::lastColor(const Line &line) const
{
    return line.changes == 0 ? line.color : change(line.firstChange + line.changes - 1).color;
}

// Past either bound the oldest lines leave, one for each that comes; the line in progress
// stays. What the reader had selected or scrolled to of them moves to the first line left.
void ConversationView::cutOldestLines()
{
    while (m_lines.size() > 1 && (lineCount() > m_maxLines || m_characters > m_maxCharacters)) {
        const Line &first = m_lines.front();
        m_characters -= first.text.size() + 1;
        if (m_accessibleUpdates && QAccessible::isActive())
            m_accessibleRemoved += first.text + u'\n';
        // A line's changes of colour are made after those of the lines before it.
        for (int i = 0; i < first.changes; ++i)
            m_changes.pop_front();
        m_firstChange += first.changes;
        m_layouts.erase(m_first);
        m_lines.pop_front();
        ++m_first;
    }
    const Place start{m_first, 0};
    m_anchor = qMax(m_anchor, start);
    m_cursor = qMax(m_cursor, start);
    m_top = qMax(m_top, Position{m_first, 0});
    m_end = qMax(m_end, Position{m_first, 0});
}

void ConversationView::setMaximumLines(int lines)
{
    m_maxLines = lines;
    cutOldestLines();
    flushLines();
}

void ConversationView::setMaximumCharacters(qsizetype characters)
{
    m_maxCharacters = characters;
    cutOldestLines();
    flushLines();
}

// Text in a colour that does not read on the base, in the palette's text colour or in
// TextColor, has no colour of its own: it is drawn in the palette's text colour, the one of the
// moment.
quint16 ConversationView::shownColor(const QColor &color)
{
    if (!color.isValid())
        return 0;
    if (!m_shownFor || m_shownFor->first != color) {
        const bool own = color != palette().color(QPalette::Text) && m_readable.reads(color);
        m_shownFor = std::pair(color, own ? colorIndex(color) : quint16(0));
    }
    return m_shownFor->second;
}

quint16 ConversationView::colorIndex(const QColor &color)
{
    const qsizetype at = m_colors.indexOf(color);
    if (at >= 0)
        return quint16(at);
    // Colours come from the user's settings, a handful in a session.
    if (m_colors.size() > std::numeric_limits<quint16>::max())
        return 0;
    m_colors.append(color);
    return quint16(m_colors.size() - 1);
}

QString ConversationView::lineText(qsizetype number) const
{
    return textOf(m_first + number);
}

QColor ConversationView::colorAt(Place place) const
{
    const Line &held = line(m_first + place.line);
    quint16 color = held.color;
    for (int i = 0; i < held.changes; ++i) {
        const ColorChange &next = change(held.firstChange + i);
        if (next.at > place.column)
            break;
        color = next.color;
    }
    return m_colors[color];
}

QString ConversationView::toPlainText() const
{
    QString text;
    text.reserve(m_characters);
    for (const Line &held : m_lines) {
        if (&held != &m_lines.back())
            text += held.text + u'\n';
    }
    return text + m_open;
}

void ConversationView::setTabStops(const QList<qreal> &positions)
{
    QList<QTextOption::Tab> tabs;
    for (qreal position : positions)
        tabs.append(QTextOption::Tab(position, QTextOption::LeftTab));
    m_option.setTabs(tabs);
    m_layouts.clear();
    relayout();
}

// One past the last line shown: the line in progress shows once it has text.
qint64 ConversationView::shownEnd() const
{
    return m_first + lineCount() + (m_open.isEmpty() ? 0 : 1);
}

// A line's layout, made when it is first shown and kept while it stays in view.
QTextLayout &ConversationView::layoutOf(qint64 number) const
{
    std::unique_ptr<QTextLayout> &slot = m_layouts[number];
    if (slot)
        return *slot;
    const Line &held = line(number);
    slot = std::make_unique<QTextLayout>(textOf(number), m_font);
    slot->setTextOption(m_option);
    slot->setCacheEnabled(true);
    QList<QTextLayout::FormatRange> formats;
    const auto colour = [&](qsizetype from, qsizetype to, quint16 color) {
        if (color == 0 || to <= from)
            return;
        QTextLayout::FormatRange range;
        range.start = int(from);
        range.length = int(to - from);
        range.format.setForeground(m_colors[color]);
        formats.append(range);
    };
    qsizetype from = 0;
    quint16 color = held.color;
    for (int i = 0; i < held.changes; ++i) {
        const ColorChange &next = change(held.firstChange + i);
        colour(from, next.at, color);
        from = next.at;
        color = next.color;
    }
    colour(from, textOf(number).size(), color);
    slot->setFormats(formats);
    const qreal width = qMax(1, viewport()->width() - 2 * Margin);
    qreal y = 0;
    slot->beginLayout();
    for (QTextLine row = slot->createLine(); row.isValid(); row = slot->createLine()) {
        row.setLeadingIncluded(true);
        row.setLineWidth(width);
        row.setPosition(QPointF(0, y));
        y += row.height();
    }
    slot->endLayout();
    return *slot;
}

const QString &ConversationView::textOf(qint64 number) const
{
    return number == m_first + lineCount() ? m_open : line(number).text;
}

int ConversationView::rows(qint64 number) const
{
    return layoutOf(number).lineCount();
}

// Layouts are kept for the lines from..to and those at the end, which the next frame shows.
void ConversationView::forgetLayouts(qint64 from, qint64 to)
{
    for (auto it = m_layouts.begin(); it != m_layouts.end();) {
        if ((it->first >= from && it->first < to) || it->first >= m_end.line)
            ++it;
        else
            it = m_layouts.erase(it);
    }
}

// Where the top of the view is when the last line shown ends at its bottom.
ConversationView::Position ConversationView::endPosition() const
{
    const qreal height = viewport()->height() - 2 * Margin;
    qreal below = 0; // height of the lines after the one looked at
    for (qint64 number = shownEnd() - 1; number >= m_first; --number) {
        const QTextLayout &layout = layoutOf(number);
        const qreal total = heightOf(layout);
        if (below + total > height) {
            // The line's first row that leaves room for the rest.
            const qreal above = below + total - height;
            int row = 0;
            while (row < layout.lineCount() && layout.lineAt(row).y() < above - 0.5)
                ++row;
            if (row < layout.lineCount())
                return {number, row};
            // None does: the next line is at the top, or in a view lower than a row, the last
            // row of the last line.
            if (number == shownEnd() - 1)
                return {number, layout.lineCount() - 1};
            return {number + 1, 0};
        }
        below += total;
    }
    return {m_first, 0};
}

ConversationView::Position ConversationView::clamped(Position position) const
{
    if (position.line < m_first)
        return {m_first, 0};
    if (position.line >= shownEnd())
        return endPosition();
    position.row = qBound(0, position.row, qMax(0, rows(position.line) - 1));
    return position;
}

void ConversationView::syncScrollBar()
{
    QScrollBar *const bar = verticalScrollBar();
    m_syncing = true;
    bar->setRange(0, int(m_end.line - m_first) + m_end.row);
    bar->setPageStep(qMax(1, viewport()->height() / qMax(1, QFontMetrics(m_font).lineSpacing())));
    bar->setValue(int(m_top.line - m_first) + (m_top.line == m_end.line ? m_top.row : 0));
    m_syncing = false;
}

void ConversationView::scrollContentsBy(int, int)
{
    if (m_syncing)
        return;
    // Moved by the user on the scroll bar. It counts the lines up to the one at the top at the
    // end, then that line's rows.
    const qint64 value = verticalScrollBar()->value();
    const qint64 endLine = m_end.line - m_first;
    m_top = value < endLine ? clamped({m_first + value, 0})
                            : qMin(Position{m_end.line, int(value - endLine)}, m_end);
    viewport()->update();
    reachedEnd();
}

void ConversationView::scrollTo(Position position)
{
    m_end = endPosition();
    m_top = qMin(clamped(position), m_end);
    syncScrollBar();
    viewport()->update();
    reachedEnd();
}

// Moves the view by rows of the screen: up with a negative count.
void ConversationView::scrollRows(int count)
{
    const Position end = endPosition();
    Position at = clamped(m_top);
    for (; count > 0 && at < end; --count) {
        if (at.row + 1 < rows(at.line))
            ++at.row;
        else
            at = {at.line + 1, 0};
    }
    for (; count < 0 && at > Position{m_first, 0}; ++count) {
        if (at.row > 0)
            --at.row;
        else
            at = {at.line - 1, rows(at.line - 1) - 1};
    }
    scrollTo(at);
}

void ConversationView::reachedEnd()
{
    if (atEnd())
        m_marker->clear();
}

void ConversationView::flushLines()
{
    m_frames->ran();
    const bool following = atEnd() && !hasSelection();
    const qint64 ended = m_first + lineCount();
    const qint64 added = ended - m_shownLines;
    m_shownLines = ended;
    m_end = endPosition();
    m_top = following ? m_end : qMin(clamped(m_top), m_end);
    // With nothing selected, a shift-click selects from the end, as from a caret that follows it.
    if (following)
        m_anchor = m_cursor = textEnd();
    const int lineSpacing = qMax(1, QFontMetrics(m_font).lineSpacing());
    const int fit = viewport()->height() / lineSpacing;
    forgetLayouts(m_top.line, m_top.line + fit + 1);
    syncScrollBar();
    m_frames->setBusyInterval(added > fit ? FullViewFrameMs : FloodFrameMs);
    if (added != 0 || following)
        viewport()->update();
    if (atEnd())
        m_marker->clear();
    else if (!following)
        m_marker->addLines(added);
    if (m_accessibleUpdates && QAccessible::isActive()) {
        // The lines cut from the top, then the complete lines that came and are still held.
        if (!m_accessibleRemoved.isEmpty()) {
            QAccessibleTextRemoveEvent removed(this, 0, m_accessibleRemoved);
            QAccessible::updateAccessibility(&removed);
            m_accessibleRemoved.clear();
        }
        QString inserted;
        const qint64 from = qMax(ended - added, m_first);
        for (qint64 number = from; number < ended; ++number)
            inserted += line(number).text + u'\n';
        if (!inserted.isEmpty()) {
            QAccessibleTextInsertEvent event(this, int(offsetOf({from - m_first, 0})), inserted);
            QAccessible::updateAccessibility(&event);
        }
    }
}

void ConversationView::showEnd()
{
    clearSelection();
    m_top = m_end; // followed from here
    flushLines();
    m_marker->clear();
}

qsizetype ConversationView::unseenLines() const
{
    return m_marker->count();
}

void ConversationView::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::Text));
    // The rows above the top one stay out of the margin.
    painter.setClipRect(QRect(0, Margin, viewport()->width(), viewport()->height() - Margin));
    const Position top = clamped(m_top);
    const qint64 last = shownEnd();
    const Place from = qMin(m_anchor, m_cursor);
    const Place to = qMax(m_anchor, m_cursor);
    QTextCharFormat selected;
    selected.setBackground(palette().brush(QPalette::Highlight));
    selected.setForeground(palette().brush(QPalette::HighlightedText));
    const int bottom = event->rect().bottom() + 1;
    qreal y = Margin;
    if (top.line < last)
        y -= layoutOf(top.line).lineAt(top.row).y();
    qint64 number = top.line;
    for (; number < last && y < viewport()->height(); ++number) {
        QTextLayout &layout = layoutOf(number);
        const qreal height = heightOf(layout);
        if (y + height > event->rect().top() && y < bottom) {
            QList<QTextLayout::FormatRange> selections;
            if (hasSelection() && number >= from.line && number <= to.line) {
                const qsizetype size = textOf(number).size();
                const qsizetype start = number == from.line ? qMin(from.column, size) : 0;
                const qsizetype end = number == to.line ? qMin(to.column, size) : size;
                if (end > start)
                    selections.append({int(start), int(end - start), selected});
            }
            layout.draw(&painter, QPointF(Margin, y), selections);
            // A selected line break shows as a space after the line's last row.
            if (hasSelection() && number >= from.line && number < to.line) {
                const QTextLine row = layout.lineAt(layout.lineCount() - 1);
                painter.fillRect(QRectF(Margin + row.naturalTextWidth(), y + row.y(),
                                        QFontMetricsF(m_font).horizontalAdvance(u' '), row.height()),
                                 selected.background());
            }
        }
        y += height;
    }
    forgetLayouts(top.line, number);
}

ConversationView::Place ConversationView::placeAt(const QPoint &point, QTextLine::CursorPosition edge) const
{
    const qint64 last = shownEnd();
    const Position top = clamped(m_top);
    if (top.line >= last)
        return {lineCount(), m_open.size()};
    // Above the top row (in the margin, or past the view while dragging) is the top row.
    const QPoint at(point.x(), qMax(point.y(), Margin));
    qreal y = Margin - layoutOf(top.line).lineAt(top.row).y();
    for (qint64 number = top.line; number < last; ++number) {
        const QTextLayout &layout = layoutOf(number);
        const qreal height = heightOf(layout);
        if (at.y() < y + height || number == last - 1) {
            for (int row = 0; row < layout.lineCount(); ++row) {
                const QTextLine line = layout.lineAt(row);
                if (at.y() < y + line.y() + line.height() || row == layout.lineCount() - 1)
                    return held({number, line.xToCursor(at.x() - Margin, edge)});
            }
        }
        y += height;
    }
    return {lineCount(), m_open.size()};
}

QRect ConversationView::placeRect(Place place) const
{
    const Place at = absolute(place);
    const Position top = clamped(m_top);
    if (at.line < top.line || at.line >= shownEnd())
        return QRect();
    qreal y = Margin - layoutOf(top.line).lineAt(top.row).y();
    for (qint64 number = top.line; number < at.line && y < viewport()->height(); ++number)
        y += heightOf(layoutOf(number));
    const QTextLayout &layout = layoutOf(at.line);
    const int column = int(qBound<qsizetype>(0, at.column, textOf(at.line).size()));
    const QTextLine row = layout.lineForTextPosition(column);
    if (!row.isValid())
        return QRect();
    const qreal x = row.cursorToX(column);
    const qreal next = column < textOf(at.line).size() ? row.cursorToX(column + 1) : x + 1;
    const QRectF rect(Margin + qMin(x, next), y + row.y(), qMax<qreal>(1, qAbs(next - x)), row.height());
    if (at.line == top.line && row.lineNumber() < top.row)
        return QRect(); // above the top row
    return rect.toAlignedRect() & viewport()->rect();
}

void ConversationView::showPlace(Place place)
{
    const Place at = absolute(place);
    if (at.line < m_first || at.line >= shownEnd())
        return;
    const QRect shown = placeRect(place);
    if (!shown.isEmpty() && shown.bottom() < viewport()->height())
        return;
    const int column = int(qBound<qsizetype>(0, at.column, textOf(at.line).size()));
    scrollTo({at.line, layoutOf(at.line).lineForTextPosition(column).lineNumber()});
}

void ConversationView::select(Place anchor, Place cursor)
{
    const auto inside = [this](Place place) {
        place.line = qBound<qsizetype>(0, place.line, lineCount());
        place.column = qBound<qsizetype>(0, place.column, lineText(place.line).size());
        return absolute(place);
    };
    m_anchor = inside(anchor);
    m_cursor = inside(cursor);
    selectionChanged();
}

void ConversationView::selectionChanged()
{
    viewport()->update();
    if (m_accessibleUpdates && QAccessible::isActive()) {
        const auto [anchor, cursor] = selection();
        QAccessibleTextSelectionEvent event(this, int(offsetOf(qMin(anchor, cursor))),
                                            int(offsetOf(qMax(anchor, cursor))));
        event.setCursorPosition(int(offsetOf(cursor)));
        QAccessible::updateAccessibility(&event);
    }
}

qsizetype ConversationView::offsetOf(Place place) const
{
    const Place at = absolute(place);
    if (at.line < m_first)
        return 0;
    if (at.line > m_first + lineCount())
        return m_characters;
    return line(at.line).start - m_lines.front().start + qBound<qsizetype>(0, at.column, textOf(at.line).size());
}

ConversationView::Place ConversationView::placeOf(qsizetype offset) const
{
    const qint64 wanted = m_lines.front().start + qBound<qsizetype>(0, offset, m_characters);
    // The last line that starts at or before it.
    const auto after = std::upper_bound(m_lines.begin(), m_lines.end(), wanted,
                                        [](qint64 at, const Line &held) { return at < held.start; });
    const qsizetype number = qsizetype(after - m_lines.begin()) - 1;
    const qsizetype column = wanted - m_lines[size_t(number)].start;
    return {number, qMin(column, textOf(m_first + number).size())};
}

void ConversationView::selectAll()
{
    select({0, 0}, {lineCount(), m_open.size()});
}

void ConversationView::clearSelection()
{
    if (!hasSelection())
        return;
    m_anchor = m_cursor = textEnd();
    selectionChanged();
}

QString ConversationView::selectedText() const
{
    return text(held(qMin(m_anchor, m_cursor)), held(qMax(m_anchor, m_cursor)));
}

QString ConversationView::text(Place from, Place to) const
{
    QString text;
    const Place start = absolute(from), end = absolute(to);
    for (qint64 number = qMax(start.line, m_first); number <= end.line && number < m_first + qint64(m_lines.size()); ++number) {
        const QString &held = textOf(number);
        const qsizetype first = number == start.line ? qBound<qsizetype>(0, start.column, held.size()) : 0;
        const qsizetype last = number == end.line ? qBound<qsizetype>(0, end.column, held.size()) : held.size();
        if (number != qMax(start.line, m_first))
            text += u'\n';
        text += QStringView(held).sliced(first, qMax<qsizetype>(0, last - first));
    }
    return text;
}

void ConversationView::copy() const
{
    if (hasSelection())
        QApplication::clipboard()->setText(selectedText());
}

QMenu *ConversationView::createStandardContextMenu()
{
    auto *menu = new QMenu(this);
    QAction *copyAction = menu->addAction(QIcon::fromTheme(QStringLiteral("edit-copy")),
                                          tr("&Copy") + u'\t' + QKeySequence(QKeySequence::Copy).toString(QKeySequence::NativeText),
                                          this, &ConversationView::copy);
    copyAction->setObjectName(QStringLiteral("edit-copy"));
    copyAction->setEnabled(hasSelection());
    menu->addSeparator();
    QAction *all = menu->addAction(QIcon::fromTheme(QStringLiteral("edit-select-all")),
                                   tr("Select All") + u'\t' + QKeySequence(QKeySequence::SelectAll).toString(QKeySequence::NativeText),
                                   this, &ConversationView::selectAll);
    all->setObjectName(QStringLiteral("select-all"));
    all->setEnabled(m_characters > 0);
    return menu;
}

void ConversationView::contextMenuEvent(QContextMenuEvent *event)
{
    const std::unique_ptr<QMenu> menu(createStandardContextMenu());
    menu->exec(event->globalPos());
}

void ConversationView::keyPressEvent(QKeyEvent *event)
{
    const int page = qMax(1, viewport()->height() / qMax(1, QFontMetrics(m_font).lineSpacing()) - 1);
    if (event == QKeySequence::Copy)
        copy();
    else if (event == QKeySequence::SelectAll)
        selectAll();
    else if (event->key() == Qt::Key_Up)
        scrollRows(-1);
    else if (event->key() == Qt::Key_Down)
        scrollRows(1);
    else if (event->key() == Qt::Key_PageUp)
        scrollRows(-page);
    else if (event->key() == Qt::Key_PageDown)
        scrollRows(page);
    else if (event->key() == Qt::Key_Home)
        scrollTo({m_first, 0});
    else if (event->key() == Qt::Key_End)
        scrollTo(endPosition());
    else
        QAbstractScrollArea::keyPressEvent(event);
}

void ConversationView::wheelEvent(QWheelEvent *event)
{
    // A wheel turns in steps of 120, a touchpad in small ones: each step's share of
    // wheelScrollLines rows is gathered until it makes a row.
    m_wheel += event->angleDelta().y();
    const int unit = qMax(1, 120 / qMax(1, QApplication::wheelScrollLines()));
    const int count = m_wheel / unit;
    m_wheel -= count * unit;
    if (count != 0)
        scrollRows(-count);
    event->accept();
}

void ConversationView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const Place place = absolute(placeAt(event->position().toPoint()));
    m_cursor = place;
    if (!(event->modifiers() & Qt::ShiftModifier))
        m_anchor = place;
    m_selecting = true;
    selectionChanged();
}

void ConversationView::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_selecting || !(event->buttons() & Qt::LeftButton))
        return;
    dragTo(event->position().toPoint());
}

// The selection follows the mouse; held past the top or the bottom, the view scrolls a row at
// a time, as long as it stays there.
void ConversationView::dragTo(const QPoint &point)
{
    m_dragPoint = point;
    const bool past = point.y() < 0 || point.y() >= viewport()->height();
    if (point.y() < 0)
        scrollRows(-1);
    else if (point.y() >= viewport()->height())
        scrollRows(1);
    if (past && !m_dragScroll.isActive())
        m_dragScroll.start(DragScrollMs, this);
    else if (!past)
        m_dragScroll.stop();
    m_cursor = absolute(placeAt(point));
    selectionChanged();
}

void ConversationView::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_dragScroll.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    // A release the view never saw (a popup took the mouse) ends the drag too.
    if (m_selecting && (QApplication::mouseButtons() & Qt::LeftButton)) {
        dragTo(m_dragPoint);
    } else {
        m_selecting = false;
        m_dragScroll.stop();
    }
}

void ConversationView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_selecting)
        return;
    m_selecting = false;
    m_dragScroll.stop();
    // What is selected with the mouse can be pasted with the middle button.
    QClipboard *const clipboard = QApplication::clipboard();
    if (hasSelection() && clipboard->supportsSelection())
        clipboard->setText(selectedText(), QClipboard::Selection);
}

void ConversationView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const Place place = absolute(placeAt(event->position().toPoint(), QTextLine::CursorOnCharacter));
    const QString &text = textOf(place.line);
    QTextBoundaryFinder words(QTextBoundaryFinder::Word, text);
    words.setPosition(place.column);
    qsizetype start = place.column;
    if (!words.isAtBoundary() || !(words.boundaryReasons() & QTextBoundaryFinder::StartOfItem))
        start = words.toPreviousBoundary();
    words.setPosition(place.column);
    qsizetype end = words.toNextBoundary();
    if (start < 0)
        start = 0;
    if (end < 0)
        end = text.size();
    m_anchor = {place.line, start};
    m_cursor = {place.line, end};
    m_selecting = false;
    selectionChanged();
    QClipboard *const clipboard = QApplication::clipboard();
    if (hasSelection() && clipboard->supportsSelection())
        clipboard->setText(selectedText(), QClipboard::Selection);
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
