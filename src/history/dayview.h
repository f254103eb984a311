#pragma once

#include "history/logfile.h"

#include <QColor>
#include <QList>
#include <QPlainTextEdit>
#include <QTimer>

namespace vorlan {

class ConversationView;
class HeadHighlighter;

// One day's log, read-only, drawn as the conversation view draws it: each item's time and name
// in the head colour, the rest in the text colour. A large day goes into the document a slice
// per turn of the event loop, so the window never stops answering while it fills.
class DayView : public QPlainTextEdit
{
    Q_OBJECT
public:
    // Where to look once the day is in: a match (its line's offset in the file, where it starts
    // in the line and how long it is), or the end of the day when lineOffset is negative.
    struct Target
    {
        qint64 lineOffset = -1;
        int column = 0;
        int length = 0;
    };

    static constexpr qsizetype SliceCharacters = 64 * 1024;

    explicit DayView(QWidget *parent = nullptr);
    ~DayView() override;

    // The font, tab stops and colours of the conversation view.
    void setLook(const ConversationView &conversation, const QColor &headColor);

    void showDay(const QDate &date, const DayText &day, Target target);
    // A message in place of a day (one that cannot be read, none chosen).
    void showNotice(const QDate &date, const QString &notice);
    // Goes to the target now if the day is in, else once it is.
    void showTarget(Target target);

    const QDate &date() const { return m_date; }
    bool isLoading() const { return m_slices.isActive(); }

signals:
    void loaded();

private:
    void insertSlice();
    void applyTarget();

    HeadHighlighter *m_highlighter;
    QDate m_date;
    DayText m_day;
    qsizetype m_inserted = 0;
    Target m_target;
    QTimer m_slices;
};

} // namespace vorlan
