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
}

void ConversationView::AppendLine(const QString &text, std::optional<QColor> color)
{
    if (color)
        m_color = *color;
    m_text += text;

    QTextCursor cursor(document());
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
    setTextCursor(cursor);
    ensureCursorVisible();
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
