#include "history/dayview.h"

#include "conversation/conversationview.h"
#include "conversation/readablecolors.h"

#include <QScrollBar>
#include <QSyntaxHighlighter>
#include <QTextBlock>
#include <QTextCursor>

#include <algorithm>

namespace vorlan {

// Colours each line's head from the lengths the reader found, by line number.
class HeadHighlighter : public QSyntaxHighlighter
{
public:
    HeadHighlighter(QTextDocument *document, const QList<int> &heads)
        : QSyntaxHighlighter(document), m_heads(heads)
    {
    }

    void setColor(const QColor &color)
    {
        m_format.setForeground(color);
        rehighlight();
    }

protected:
    void highlightBlock(const QString &text) override
    {
        const int line = currentBlock().blockNumber();
        if (line < m_heads.size() && m_heads[line] > 0)
            setFormat(0, std::min<int>(m_heads[line], int(text.size())), m_format);
    }

private:
    const QList<int> &m_heads;
    QTextCharFormat m_format;
};

DayView::DayView(QWidget *parent)
    : QPlainTextEdit(parent)
{
    setObjectName(QStringLiteral("dayView"));
    setReadOnly(true);
    setUndoRedoEnabled(false);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_highlighter = new HeadHighlighter(document(), m_day.headLengths);
    m_slices.setInterval(0);
    connect(&m_slices, &QTimer::timeout, this, &DayView::insertSlice);
}

DayView::~DayView() = default;

void DayView::setLook(const ConversationView &conversation, const QColor &headColor)
{
    setFont(conversation.font());
    setPalette(conversation.palette());
    QTextOption option = conversation.textOption();
    option.setWrapMode(document()->defaultTextOption().wrapMode());
    document()->setDefaultTextOption(option);
    // As in the conversation: a head colour the theme's background would swallow is drawn in
    // the theme's text colour.
    const QPalette &look = conversation.palette();
    m_highlighter->setColor(ReadableColors(look.color(QPalette::Base)).reads(headColor)
                                ? headColor
                                : look.color(QPalette::Text));
}

void DayView::showDay(const QDate &date, const DayText &day, Target target)
{
    m_date = date;
    m_day = day;
    m_target = target;
    m_inserted = 0;
    clear();
    insertSlice();
}

void DayView::showNotice(const QDate &date, const QString &notice)
{
    m_slices.stop();
    m_date = date;
    m_day = DayText();
    m_target = Target();
    setPlainText(notice);
}

void DayView::showTarget(Target target)
{
    m_target = target;
    if (!isLoading())
        applyTarget();
}

void DayView::insertSlice()
{
    const QString &text = m_day.text;
    qsizetype end = std::min(text.size(), m_inserted + SliceCharacters);
    if (end < text.size()) {
        const qsizetype feed = text.indexOf(u'\n', end);
        end = feed < 0 ? text.size() : feed;
    }
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text.mid(m_inserted, end - m_inserted));
    m_inserted = end;
    if (m_inserted < text.size()) {
        m_slices.start();
        return;
    }
    m_slices.stop();
    applyTarget();
    emit loaded();
}

void DayView::applyTarget()
{
    if (m_target.lineOffset < 0) {
        QTextCursor end(document());
        end.movePosition(QTextCursor::End);
        setTextCursor(end);
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
        return;
    }
    const QList<qint64> &offsets = m_day.lineOffsets;
    const auto it = std::upper_bound(offsets.begin(), offsets.end(), m_target.lineOffset);
    const int line = int(std::max<qsizetype>(0, (it - offsets.begin()) - 1));
    const QTextBlock block = document()->findBlockByNumber(line);
    if (!block.isValid())
        return;
    QTextCursor cursor(block);
    const int column = std::min(m_target.column, block.length() - 1);
    cursor.setPosition(block.position() + column);
    cursor.setPosition(block.position() + std::min(column + m_target.length, block.length() - 1),
                       QTextCursor::KeepAnchor);
    setTextCursor(cursor);
    centerCursor();
}

} // namespace vorlan
