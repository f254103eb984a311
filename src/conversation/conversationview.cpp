#include "conversation/conversationview.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextOption>

#include <utility>

namespace vorlan {

ConversationView::ConversationView(QWidget *parent)
    : QPlainTextEdit(parent)
{
    setObjectName(QStringLiteral("rtfHomeMessage"));
    setToolTip(QStringLiteral("メッセージ表示"));
    setReadOnly(true);
    setUndoRedoEnabled(false);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_flush.setSingleShot(true);
    m_flush.setInterval(0);
    connect(&m_flush, &QTimer::timeout, this, &ConversationView::flushLines);
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
    if (m_pendingCharacters > MaxPending)
        flushLines();
    else if (!m_flush.isActive())
        m_flush.start();
}

void ConversationView::flushLines()
{
    m_flush.stop();
    if (m_end.isNull() || m_end.document() != document())
        m_end = QTextCursor(document());
    const int blocks = document()->blockCount();
    const bool inserting = !m_pending.isEmpty();
    if (inserting) {
        // One change for the whole batch: the document is laid out once, not once per insert.
        m_end.beginEditBlock();
        for (const Run &run : std::as_const(m_pending))
            insertRun(run);
        m_pending.clear();
        m_pendingCharacters = 0;
        m_end.endEditBlock();
    }
    if (cutOldestLines(document()->blockCount() - blocks))
        m_flush.start(); // the next step at the next turn
    if (inserting) {
        setTextCursor(m_end);
        ensureCursorVisible();
    }
}

void ConversationView::insertRun(const Run &run)
{
    QTextCursor &cursor = m_end;
    // Moving a cursor lays its block out and keeps that layout for good: a few hundred bytes
    // for every line. Inserting keeps the cursor at the end, so it moves only when it is not.
    const int last = document()->characterCount() - 1;
    if (cursor.position() != last)
        cursor.setPosition(last);
    QTextCharFormat format;
    format.setForeground(run.color);
    // The document breaks blocks itself: a CR LF pair is one line break, never two.
    const QString &text = run.text;
    qsizetype start = 0;
    while (start <= text.size()) {
        qsizetype end = text.indexOf(QLatin1String("\r\n"), start);
        if (end < 0)
            end = text.size();
        if (end > start)
            cursor.insertText(text.mid(start, end - start), format);
        if (end >= text.size())
            break;
        cursor.insertBlock(cursor.blockFormat(), format);
        start = end + 2;
    }
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

// Every block but the last is a line with its line end; the last one is the line in progress.
// Past either bound, lines leave until the view is a tenth under both, so the top is not cut
// for every new line. They leave in steps, one a turn and in a change of its own, so the layout
// starts over at the top only. A step is CutStep lines, or as many as the turn added if that
// is more: no pace of input outgrows the bounds. Returns whether more lines must leave.
bool ConversationView::cutOldestLines(int added)
{
    QTextDocument *const doc = document();
    const auto excess = [&] {
        return std::pair(qsizetype(doc->blockCount() - 1) - (m_maxLines - m_maxLines / 10),
                         qsizetype(doc->characterCount() - 1) - (m_maxCharacters - m_maxCharacters / 10));
    };
    if (!m_cutting && doc->blockCount() - 1 <= m_maxLines && doc->characterCount() - 1 <= m_maxCharacters)
        return false;
    const auto [lines, characters] = excess();
    // The first line to keep: the one after the lines, and after the characters, that must go.
    QTextBlock keep = doc->findBlockByNumber(int(qMax<qsizetype>(0, lines)));
    if (characters > keep.position()) {
        keep = doc->findBlock(int(characters));
        if (keep.position() < characters)
            keep = keep.next();
    }
    const int step = qMax(CutStep, added);
    if (!keep.isValid() || keep.blockNumber() > step)
        keep = doc->findBlockByNumber(qMin(step, doc->blockCount() - 1));
    if (keep.position() > 0) {
        QTextCursor cursor(doc);
        // Inside an edit block the cursor does not lay out the line it moves to.
        cursor.beginEditBlock();
        cursor.setPosition(keep.position(), QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        cursor.endEditBlock();
    }
    const auto [linesLeft, charactersLeft] = excess();
    // Only the line in progress left: nothing more can go.
    m_cutting = doc->blockCount() > 1 && (linesLeft > 0 || charactersLeft > 0);
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
