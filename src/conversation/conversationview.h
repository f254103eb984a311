#pragma once

#include "conversation/readablecolors.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QColor>
#include <QFont>
#include <QList>
#include <QString>
#include <QTextLayout>
#include <QTextOption>

#include <deque>
#include <memory>
#include <optional>
#include <unordered_map>

class QMenu;

namespace vorlan {

class FramePacer;
class NewLinesMarker;

// rtfHomeMessage: the conversation view. Lines are appended as plain text runs, each in a
// colour; the user can select and copy but not edit. It holds the newest lines only (the log
// files keep everything): past a bound in lines or in characters, the oldest leave from the top.
// Besides the lines the view keeps the end of the text the way peers see it (lines ended by
// CR LF), so replies can be built from it without joining the lines again.
//
// The view keeps its lines in a store of its own, a queue of strings with the colours they
// change to, and lays out only the lines it shows, when it shows them: a line costs its text
// and a few bytes, the oldest leave without moving the others, and no line's cost grows with
// the lines above it. Lines join the store at once; the screen follows at most once per frame,
// and once lines have come frame after frame, in frames FloodFrameMs apart: a flood of lines is
// laid out and painted in batches, not line by line, however fast it comes.
//
// The view scrolls by the lines of the screen: its scroll bar counts the stored lines (and the
// rows of the line at the top at the end), and a line that wraps is scrolled through one screen
// line at a time by the keys and the wheel.
// New lines move the view to the end only while the reader is there with nothing selected;
// otherwise the lines in view and the selection stay, even as old lines leave from the top, and
// a marker in the corner counts the lines below. Text is drawn in the palette's text colour on
// its base; a line's colour that would not read on the base is drawn in the text colour too.
class ConversationView : public QAbstractScrollArea
{
    Q_OBJECT

public:
    static constexpr int MaxLines = 100000;
    // 100,000 ordinary lines of up to 80 characters: 100,000 of the longest lines a peer can
    // send would take 800 MB without this bound.
    static constexpr qsizetype MaxCharacters = 8000000;
    // How much of the text's end is always at hand: what a past-log reply looks at.
    static constexpr qsizetype KeptText = 8192;
    // While lines keep coming frame after frame, the view shows them this often (25 times a
    // second): nobody reads a view that scrolls every frame, and laying out and painting it
    // is most of what a line costs. The first lines after a quiet spell still show at once.
    static constexpr qint64 FloodFrameMs = 40;
    // While each frame brings more lines than the view shows, every frame replaces all there is
    // to see: the view shows ten of them a second.
    static constexpr qint64 FullViewFrameMs = 100;
    // How often a selection held past the top or the bottom scrolls a row.
    static constexpr int DragScrollMs = 50;
    // The space around the text, in pixels.
    static constexpr int Margin = 4;
    // The colour of text appended in it: the palette's text colour, whichever it is when drawn.
    static inline const QColor TextColor = QColor();

    // A place in the text: a line (0 is the oldest held) and a character in it.
    struct Place
    {
        qsizetype line = 0;
        qsizetype column = 0;
        auto operator<=>(const Place &) const = default;
    };

    explicit ConversationView(QWidget *parent = nullptr);
    ~ConversationView() override;

    // The most lines and characters (line breaks count as one) the view holds; tests use small
    // bounds.
    void setMaximumLines(int lines);
    void setMaximumCharacters(qsizetype characters);

    // Adds text at the end, in colour (TextColor, or one that reads on the palette's base);
    // without a colour the colour of the previous text is kept. A view that follows the end
    // (it shows the end and nothing is selected) shows the newest line at the next frame; any
    // other keeps the reader's place and counts the new lines on its marker.
    // The text holds no line breaks but CR LF.
    void AppendLine(const QString &text, std::optional<QColor> color = std::nullopt);

    // Brings the screen up to date with the lines now, without waiting for the next frame.
    void flushLines();

    // The complete lines held; the line after the last of them is the line in progress.
    qsizetype lineCount() const { return qsizetype(m_lines.size()) - 1; }
    QString lineText(qsizetype line) const;
    // The colour a character is drawn in; TextColor for the palette's text colour.
    QColor colorAt(Place place) const;
    // The lines held, each complete one followed by a line feed, then the line in progress.
    QString toPlainText() const;
    // When the screen takes the next lines; tests give it a clock.
    FramePacer &frames() { return *m_frames; }

    // The newest text, lines ended by CR LF: at least its last KeptText characters. It is cut
    // from the front, so it may begin inside a line: conversationTextStartsLine tells whether it
    // begins where a line does (at the conversation's start or right after a line feed).
    const QString &conversationText() const { return m_text; }
    bool conversationTextStartsLine() const { return m_textStartsLine; }

    // Tab stops at the given positions, in pixels.
    void setTabStops(const QList<qreal> &positions);
    // How lines are broken and where their tabs stop.
    const QTextOption &textOption() const { return m_option; }

    // The user asked for the newest lines (sent a line, clicked the marker): the view shows the
    // end, and with the selection cleared it follows the end again.
    void showEnd();
    // The lines that came in below the view since the reader left its end.
    qsizetype unseenLines() const;
    // Whether the view shows the end of the lines it has shown.
    bool atEnd() const { return m_top >= m_end; }
    // The line at the top of the view.
    qsizetype topLine() const { return m_top.line - m_first; }

    // The selection runs from one place to another, in either order; the text between them is
    // what copy puts on the clipboard, lines joined by line feeds.
    void select(Place anchor, Place cursor);
    void selectAll();
    void clearSelection();
    bool hasSelection() const { return m_anchor != m_cursor; }
    // The anchor and the moving end.
    std::pair<Place, Place> selection() const { return {held(m_anchor), held(m_cursor)}; }
    QString selectedText() const;
    // The text from one place to a later one.
    QString text(Place from, Place to) const;
    // The characters held, line breaks counted as one: the size of toPlainText.
    qsizetype characterCount() const { return m_characters; }
    // A place as an offset into toPlainText, and back; an offset past the end is the end.
    qsizetype offsetOf(Place place) const;
    Place placeOf(qsizetype offset) const;
    // From now on the view tells assistive technology what changes: the lines that come and go,
    // the selection. Called once it has asked about the view.
    void startAccessibleUpdates() { m_accessibleUpdates = true; }
    // Where a character is drawn in the viewport; empty when it is not in view.
    QRect placeRect(Place place) const;
    // Scrolls a place out of view to the top, or as near it as the end allows.
    void showPlace(Place place);
    void copy() const;
    // The place a point of the viewport is nearest to: between characters, or the character
    // under it.
    Place placeAt(const QPoint &point, QTextLine::CursorPosition edge = QTextLine::CursorBetweenCharacters) const;
    // Copy and select all; the caller owns it.
    QMenu *createStandardContextMenu();

protected:
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    // A held line: its text without the line break (of the line in progress, in m_open), the
    // colour it starts in and where its changes of colour are in m_changes.
    struct Line
    {
        QString text;
        qint64 start = 0;       // where it starts in all the text ever held
        qint64 firstChange = 0; // counted from the first change ever made
        quint16 color = 0;      // in m_colors
        quint16 changes = 0;
    };
    struct ColorChange
    {
        qint32 at;
        quint16 color;
    };
    // Where the view stands: a line by its number since the first line ever held, and the line
    // of the screen inside it that is at the top.
    struct Position
    {
        qint64 line = 0;
        int row = 0;
        auto operator<=>(const Position &) const = default;
    };
    using Layouts = std::unordered_map<qint64, std::unique_ptr<QTextLayout>>;

    void appendPiece(QStringView text, quint16 color);
    void endLine(quint16 color);
    void cutOldestLines();
    quint16 shownColor(const QColor &color);
    quint16 colorIndex(const QColor &color);
    quint16 lastColor(const Line &line) const;
    const Line &line(qint64 number) const { return m_lines[size_t(number - m_first)]; }
    const ColorChange &change(qint64 number) const { return m_changes[size_t(number - m_firstChange)]; }
    qint64 shownEnd() const;
    QTextLayout &layoutOf(qint64 number) const;
    const QString &textOf(qint64 number) const;
    int rows(qint64 number) const;
    void forgetLayouts(qint64 from, qint64 to);
    Position endPosition() const;
    Position clamped(Position position) const;
    void scrollTo(Position position);
    void scrollRows(int rows);
    void syncScrollBar();
    void reachedEnd();
    void selectionChanged();
    void relayout();
    // The place after the last character.
    Place textEnd() const { return {m_first + lineCount(), m_open.size()}; }
    void dragTo(const QPoint &point);
    Place absolute(Place place) const { return {m_first + place.line, place.column}; }
    Place held(Place place) const { return {place.line - m_first, place.column}; }

    int m_maxLines = MaxLines;
    qsizetype m_maxCharacters = MaxCharacters;
    std::deque<Line> m_lines{Line()}; // the last one is the line in progress
    QString m_open;                   // the text of the line in progress
    qint64 m_first = 0;               // the number of the first line held
    qsizetype m_characters = 0;       // held, line breaks counted as one
    std::deque<ColorChange> m_changes;
    qint64 m_firstChange = 0;
    QList<QColor> m_colors{TextColor};
    QColor m_asked = TextColor; // of the next text without a colour of its own
    // The last colour asked for and the one it is shown in; none after a new palette.
    std::optional<std::pair<QColor, quint16>> m_shownFor;
    ReadableColors m_readable;

    QString m_text;
    bool m_textStartsLine = true;

    QFont m_font; // the view's font, shaped lightly
    QTextOption m_option;
    mutable Layouts m_layouts; // by line number
    int m_width = -1;          // of the viewport the layouts were made for
    Position m_top;
    Position m_end; // the top of the view at the end, as of the last frame
    qint64 m_shownLines = 0; // lines the screen has been told of, counted from the first ever
    bool m_syncing = false;
    int m_wheel = 0; // wheel turns short of a screen line

    // Places of the selection, lines counted from the first ever held.
    Place m_anchor;
    Place m_cursor;
    bool m_selecting = false;
    QPoint m_dragPoint;       // where the mouse is while it selects
    QBasicTimer m_dragScroll; // scrolls while it is held past the top or the bottom

    bool m_accessibleUpdates = false;
    QString m_accessibleRemoved; // the text cut since the last frame, while they are on

    NewLinesMarker *m_marker;
    FramePacer *m_frames;
};

// A colour as the desktop peers store it: 0x00BBGGRR.
QColor colorFromWindowsValue(qint32 value);
qint32 windowsValueFromColor(const QColor &color);

} // namespace vorlan
