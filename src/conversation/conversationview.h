#pragma once

#include "conversation/readablecolors.h"

#include <QColor>
#include <QList>
#include <QPlainTextEdit>
#include <QTextCharFormat>
#include <QTextCursor>
#include <optional>

namespace vorlan {

class FramePacer;
class NewLinesMarker;

// rtfHomeMessage: the conversation view. Lines are appended as plain text runs, each in a
// colour; the user can select and copy but not edit. It holds the newest lines only (the log
// files keep everything): past a bound in lines or in characters, the oldest leave from the top.
// Besides the document the view keeps the end of the text the way peers see it (lines ended by
// CR LF), so replies can be built from it without extracting the document. Lines reach the
// document, the layout and the screen at most once per frame, in the order they were appended:
// a flood of lines is laid out and painted in batches, not line by line, however fast it comes,
// and once lines have come frame after frame, in batches FloodFrameMs apart.
// A plain-text view lays out only the lines it shows, so neither the cost of a line nor its
// memory grows with the lines above it. The document holds BlockLines lines per block (line
// separators inside, a paragraph break after the last): what a block costs besides its text,
// and the layout it keeps once it has been shown, is shared by that many lines.
// New lines move the view to the end only while the reader is there with nothing selected;
// otherwise the lines in view and the selection stay, even as old lines leave from the top, and
// a marker in the corner counts the lines below. Text is drawn in the palette's text colour on
// its base; a line's colour that would not read on the base is drawn in the text colour too.
class ConversationView : public QPlainTextEdit
{
    Q_OBJECT

public:
    static constexpr int MaxLines = 100000;
    // 100,000 ordinary lines of up to 80 characters. The document holds its text as UTF-16,
    // 16 MB at this bound, in a buffer that grows by doubling and keeps the text of cut lines
    // until it is nine tenths full; compacting it then copies the live text into a new buffer.
    // So the text takes some 50 MB at its peak, whatever the lines (a flood of the longest
    // ones keeps the whole program under 100 MB): 100,000 of the longest lines a peer can send
    // would take 800 MB without this bound.
    static constexpr qsizetype MaxCharacters = 8000000;
    // The most lines one turn of the event loop cuts (about a millisecond); more leave at later
    // turns.
    static constexpr int CutStep = 1000;
    // The most characters waiting for the next turn: past it, they go into the document at once.
    // As many as one read of the longest datagrams brings, so a flood comes in batches of that
    // size however the event loop orders its work: a batch of more than a tenth of the
    // document's buffer could double the buffer before it compacts.
    static constexpr qsizetype MaxPending = 1024 * 1024;
    // How much of the text's end is always at hand: what a past-log reply looks at.
    static constexpr qsizetype KeptText = 8192;
    // Lines per block. A block that has been shown keeps its layout, some 500 bytes, for good;
    // the block being filled is laid out again whenever a line joins it.
    static constexpr int BlockLines = 8;
    // While lines keep coming frame after frame, the view shows them this often (25 times a
    // second): nobody reads a view that scrolls every frame, and laying out and painting it
    // is most of what a line costs. The first lines after a quiet spell still show at once.
    static constexpr qint64 FloodFrameMs = 40;
    // While each frame brings more lines than the view shows, every frame replaces all there is
    // to see: the view shows ten of them a second.
    static constexpr qint64 FullViewFrameMs = 100;
    // The colour of text appended in it: the palette's text colour, whichever it is when drawn.
    static inline const QColor TextColor = QColor();

    explicit ConversationView(QWidget *parent = nullptr);

    // The most lines and characters (line breaks count as one) the view holds; tests use small
    // bounds.
    void setMaximumLines(int lines);
    void setMaximumCharacters(qsizetype characters);

    // Inserts text at the end, in colour (TextColor, or one that reads on the palette's base);
    // without a colour the colour of the previous insert is kept. A view that follows the end
    // (it shows the end and nothing is selected) moves the caret to the end so the newest line
    // shows; any other keeps the reader's place and counts the new lines on its marker.
    // conversationText has the text at once; the document at the next frame or flushLines.
    // The text holds no line breaks but CR LF.
    void AppendLine(const QString &text, std::optional<QColor> color = std::nullopt);

    // Puts the lines appended so far into the document now, and cuts a step of old lines.
    void flushLines();

    // The complete lines in the document (the line in progress is not counted).
    qsizetype lineCount() const { return m_lines; }
    // When the document takes the next lines or the next step of cutting; tests give it a clock.
    FramePacer &frames() { return *m_frames; }

    // The newest text, lines ended by CR LF: at least its last KeptText characters. It is cut
    // from the front, so it may begin inside a line: conversationTextStartsLine tells whether it
    // begins where a line does (at the conversation's start or right after a line feed).
    const QString &conversationText() const { return m_text; }
    bool conversationTextStartsLine() const { return m_textStartsLine; }

    // Tab stops at the given positions, in pixels.
    void setTabStops(const QList<qreal> &positions);

    // The user asked for the newest lines (sent a line, clicked the marker): the view shows the
    // end, and with the selection cleared it follows the end again.
    void showEnd();
    // The lines that came in below the view since the reader left its end.
    qsizetype unseenLines() const;

protected:
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    struct Run
    {
        QString text;
        QColor color;
    };

    void shapeLightly();
    void forgetHiddenLayouts();
    void keepShapesAtEnd(int changed);
    void insertRun(const Run &run);
    void insertPiece();
    void endLine();
    bool cutOldestLines(qsizetype comingLines, qsizetype comingCharacters, qsizetype &step);
    qsizetype linesOfBlock(int block) const;
    qsizetype firstLineOfBlock(int block) const;
    int lineStart(qsizetype line) const;
    qsizetype lineAt(int position) const;
    bool atEnd() const;
    bool followsEnd() const;
    int topPosition() const;
    void keepTop(int position);
    QColor shownColor(const QColor &color);
    const QTextCharFormat &formatFor(const QColor &shown);

    int m_maxLines = MaxLines;
    qsizetype m_maxCharacters = MaxCharacters;
    bool m_cutting = false;
    qsizetype m_lines = 0;      // complete lines in the document
    qsizetype m_firstLines = 0; // complete lines of the first block, when another follows it
    qsizetype m_openLines = 0;  // complete lines of the last block
    QString m_text;
    bool m_textStartsLine = true;
    QColor m_color = TextColor;
    QTextCharFormat m_textFormat;  // text without a colour of its own
    QTextCharFormat m_colorFormat; // text in m_colorFormatColor
    QColor m_colorFormatColor;
    // The last colour asked for and the one it is shown in; none after a new palette.
    std::optional<std::pair<QColor, QColor>> m_shownFor;
    // Text of the batch not in the document yet, all shown in one colour: runs in the same
    // colour go in with one insert.
    QString m_piece;
    QColor m_pieceColor = TextColor;
    ReadableColors m_readable;
    NewLinesMarker *m_marker;
    bool m_flushing = false;
    QList<Run> m_pending;
    qsizetype m_pendingCharacters = 0;
    qsizetype m_pendingLines = 0; // line ends in m_pending
    QTextCursor m_end; // kept at the end of the document between runs
    QList<int> m_shown; // the blocks the last paint laid out, by number
    FramePacer *m_frames;
};

// A colour as the desktop peers store it: 0x00BBGGRR.
QColor colorFromWindowsValue(qint32 value);
qint32 windowsValueFromColor(const QColor &color);

} // namespace vorlan
