#include "conversation/sendbox.h"

#include "base/codec.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QSyntaxHighlighter>
#include <QTextBlock>
#include <QTextLayout>
#include <QToolTip>

namespace vorlan {

namespace {

const QString UnmappedTip = QStringLiteral("この文字は送信できません");

// Marks, block by block, what code page 932 cannot carry. The document asks again only for the
// blocks an edit touched, so a long text costs nothing per keystroke beyond its changed line;
// an input method's preedit is not part of the block's text and keeps its own formats.
class UnmappedMarks : public QSyntaxHighlighter
{
public:
    explicit UnmappedMarks(QTextDocument *document)
        : QSyntaxHighlighter(document)
    {
        m_format.setUnderlineStyle(QTextCharFormat::SpellCheckUnderline);
        m_format.setUnderlineColor(Qt::red);
    }

protected:
    void highlightBlock(const QString &text) override
    {
        for (const TextRange &range : cp932Unmapped(text))
            setFormat(int(range.start), int(range.length), m_format);
    }

private:
    QTextCharFormat m_format;
};

} // namespace

SendBox::SendBox(QWidget *parent)
    : QPlainTextEdit(parent)
{
    setObjectName(QStringLiteral("txtSend"));
    setToolTip(QStringLiteral("メッセージ送信用"));
    setTabChangesFocus(false);
    new UnmappedMarks(document());
}

void SendBox::keyPressEvent(QKeyEvent *event)
{
    // Enter never breaks the line: it presses the window's default button.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        emit enterPressed();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

bool SendBox::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto *help = static_cast<QHelpEvent *>(event);
        if (unmappedAt(help->pos())) {
            QToolTip::showText(help->globalPos(), UnmappedTip, viewport());
            return true;
        }
        // Elsewhere the box's own tooltip, which the viewport passes on to the box.
    }
    return QPlainTextEdit::viewportEvent(event);
}

// Whether the character under a point of the viewport is one code page 932 cannot carry.
bool SendBox::unmappedAt(const QPoint &point) const
{
    const QTextBlock block = cursorForPosition(point).block();
    const QTextLayout *layout = block.layout();
    // While an input method composes, the layout's positions are not the block's.
    if (!layout || !layout->preeditAreaText().isEmpty())
        return false;
    const QPointF local = QPointF(point) - contentOffset() - blockBoundingGeometry(block).topLeft();
    for (int i = 0; i < layout->lineCount(); ++i) {
        const QTextLine line = layout->lineAt(i);
        if (!line.naturalTextRect().contains(local))
            continue;
        const int position = line.xToCursor(local.x(), QTextLine::CursorOnCharacter);
        for (const TextRange &range : cp932Unmapped(block.text())) {
            if (position >= range.start && position < range.start + range.length)
                return true;
        }
        return false;
    }
    return false;
}

void SendBox::setRecipients(const QStringList &names)
{
    if (names == m_recipients)
        return;
    m_recipients = names;
    showRecipients();
}

// "→ 太郎, 花子" in the empty box, cut with "…" where the box is too narrow for it.
void SendBox::showRecipients()
{
    QString shown;
    if (!m_recipients.isEmpty()) {
        const QString text = QStringLiteral("→ ") + m_recipients.join(QStringLiteral(", "));
        const int width = viewport()->width() - 2 * int(document()->documentMargin());
        shown = fontMetrics().elidedText(text, Qt::ElideRight, width);
    }
    if (shown == placeholderText())
        return;
    setPlaceholderText(shown);
    // A new placeholder does not repaint the box by itself.
    viewport()->update();
}

void SendBox::resizeEvent(QResizeEvent *event)
{
    QPlainTextEdit::resizeEvent(event);
    showRecipients();
}

void SendBox::changeEvent(QEvent *event)
{
    QPlainTextEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        showRecipients();
}

} // namespace vorlan
