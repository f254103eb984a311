#pragma once

#include <QColor>
#include <QTextEdit>
#include <optional>

namespace vorlan {

// rtfHomeMessage: the conversation view. Lines are appended as plain text runs, each in a
// colour; the user can select and copy but not edit. Besides the document the view keeps the
// text the way peers see it (lines ended by CR LF), so replies can be built from its end
// without extracting the whole document.
class ConversationView : public QTextEdit
{
    Q_OBJECT

public:
    explicit ConversationView(QWidget *parent = nullptr);

    // Moves the caret to the end and inserts text there, in colour; without a colour the colour
    // of the previous insert is kept. The caret ends at the end so the newest line shows.
    void AppendLine(const QString &text, std::optional<QColor> color = std::nullopt);

    // The whole text, lines ended by CR LF.
    const QString &conversationText() const { return m_text; }
    // Its last count characters.
    QString conversationTail(qsizetype count) const { return m_text.right(count); }

    // Tab stops at the given positions, in pixels.
    void setTabStops(const QList<qreal> &positions);

private:
    QString m_text;
    QColor m_color = Qt::black;
};

// A colour as the desktop peers store it: 0x00BBGGRR.
QColor colorFromWindowsValue(qint32 value);
qint32 windowsValueFromColor(const QColor &color);

} // namespace vorlan
