#pragma once

#include <QColor>
#include <QList>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTimer>
#include <optional>

namespace vorlan {

// rtfHomeMessage: the conversation view. Lines are appended as plain text runs, each in a
// colour; the user can select and copy but not edit. It holds the newest lines only (the log
// files keep everything): past the bound, the oldest leave from the top. Besides the document
// the view keeps the end of the text the way peers see it (lines ended by CR LF), so replies can
// be built from it without extracting the document. Lines reach the document, the layout and
// the screen once per turn of the event loop, in the order they were appended: a flood of lines
// is laid out in batches, not line by line. A plain-text view lays out only the lines it shows,
// so neither the cost of a line nor its memory grows with the lines above it.
class ConversationView : public QPlainTextEdit
{
    Q_OBJECT

public:
    static constexpr int MaxLines = 100000;
    // How much of the text's end is always at hand: what a past-log reply looks at.
    static constexpr qsizetype KeptText = 8192;

    explicit ConversationView(QWidget *parent = nullptr);

    // The most lines the view holds (tests use a small bound).
    void setMaximumLines(int lines);

    // Moves the caret to the end and inserts text there, in colour; without a colour the colour
    // of the previous insert is kept. The caret ends at the end so the newest line shows.
    // conversationText has the text at once; the document at the next turn or flushLines.
    void AppendLine(const QString &text, std::optional<QColor> color = std::nullopt);

    // Puts the lines appended so far into the document now.
    void flushLines();

    // The newest text, lines ended by CR LF: at least its last KeptText characters.
    const QString &conversationText() const { return m_text; }
    // Its last count characters, count up to KeptText.
    QString conversationTail(qsizetype count) const { return m_text.right(count); }

    // Tab stops at the given positions, in pixels.
    void setTabStops(const QList<qreal> &positions);

private:
    struct Run
    {
        QString text;
        QColor color;
    };

    void insertRun(const Run &run);
    void dropOldestLines();

    int m_maxLines = MaxLines;
    QString m_text;
    QColor m_color = Qt::black;
    QList<Run> m_pending;
    QTextCursor m_end; // kept at the end of the document between runs
    QTimer m_flush;
};

// A colour as the desktop peers store it: 0x00BBGGRR.
QColor colorFromWindowsValue(qint32 value);
qint32 windowsValueFromColor(const QColor &color);

} // namespace vorlan
