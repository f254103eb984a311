#include "conversation/conversationview.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextOption>

namespace vorlan {

ConversationView::ConversationView(QWidget *parent)
    : QTextEdit(parent)
{
    setObjectName(QStringLiteral("rtfHomeMessage"));
    setToolTip(QStringLiteral("メッセージ表示"));
    setReadOnly(true);
    setAcceptRichText(false);
    setUndoRedoEnabled(false);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setLineWrapMode(QTextEdit::WidgetWidth);
    m_end = QTextCursor(document());
    m_showEnd.setSingleShot(true);
    m_showEnd.setInterval(0);
    connect(&m_showEnd, &QTimer::timeout, this, &ConversationView::showEnd);
}

ConversationView::Batch::Batch(ConversationView &view)
    : m_view(view)
{
    if (m_view.m_batches++ == 0)
        m_view.m_end.beginEditBlock();
}

ConversationView::Batch::~Batch()
{
    if (--m_view.m_batches == 0)
        m_view.m_end.endEditBlock();
}

void ConversationView::AppendLine(const QString &text, std::optional<QColor> color)
{
    if (color)
        m_color = *color;
    m_text += text;
    // Trimmed by halves, so each character is moved a bounded number of times.
    if (m_text.size() > 2 * KeptText)
        m_text.remove(0, m_text.size() - KeptText);

    // Kept between calls: a cursor made afresh would look the end up again every time.
    QTextCursor &cursor = m_end;
    if (cursor.document() != document())
        cursor = QTextCursor(document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    format.setForeground(m_color);
    cursor.setCharFormat(format);
    // The document breaks blocks itself: a CR LF pair is one line break, never two.
    qsizetype start = 0;
    while (start <= text.size()) {
        qsizetype end = text.indexOf(QLatin1String("\r\n"), start);
        if (end < 0)
            end = text.size();
        if (end > start)
            cursor.insertText(text.mid(start, end - start), format);
        if (end >= text.size())
            break;
        cursor.insertBlock();
        start = end + 2;
    }
    dropOldestLines();
    // Placing the caret makes the view lay out and scroll to it: once per turn is enough.
    if (!m_showEnd.isActive())
        m_showEnd.start();
}

void ConversationView::showEnd()
{
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    setTextCursor(cursor);
    ensureCursorVisible();
}

void ConversationView::setMaximumLines(int lines)
{
    m_maxLines = lines;
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
