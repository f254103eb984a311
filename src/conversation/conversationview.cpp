#include "conversation/conversationview.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextOption>

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
    if (m_text.size() > 2 * KeptText)
        m_text.remove(0, m_text.size() - KeptText);

    m_pending.append({text, m_color});
    if (!m_flush.isActive())
        m_flush.start();
}

void ConversationView::flushLines()
{
    m_flush.stop();
    if (m_pending.isEmpty())
        return;
    if (m_end.isNull() || m_end.document() != document())
        m_end = QTextCursor(document());
    // One change for the whole batch: the document is laid out once, not once per insert.
    m_end.beginEditBlock();
    for (const Run &run : std::as_const(m_pending))
        insertRun(run);
    m_pending.clear();
    dropOldestLines();
    m_end.endEditBlock();
    setTextCursor(m_end);
    ensureCursorVisible();
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
    dropOldestLines();
}

// Every block but the last is a line with its line end; the last one is the line in progress.
// Lines leave a tenth of the bound at a time: removing from the top makes the layout start
// over, which must not happen for every new line.
void ConversationView::dropOldestLines()
{
    const int lines = document()->blockCount() - 1;
    if (lines <= m_maxLines)
        return;
    const int keep = m_maxLines - m_maxLines / 10;
    QTextCursor cursor(document());
    cursor.setPosition(document()->findBlockByNumber(lines - keep).position(), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
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
