#pragma once

#include "history/logfile.h"

#include <QDate>
#include <QString>

#include <atomic>

namespace vorlan {

struct SearchRequest
{
    QString folder;
    QString query;
    bool kana = false; // hiragana and katakana alike
    QDate from;        // first and last day searched; null: no bound
    QDate to;
    qsizetype maxHits = 0; // 0: no limit
};

// One line that holds the text: the first match in it.
struct SearchHit
{
    QDate day;
    qint64 lineOffset = 0; // where the line starts in the day's file, in bytes
    QString time;          // of the item the line belongs to ("" for a day header or marker)
    QString name;
    QString line;          // the line, or the part around the match of a very long one
    int matchStart = 0;    // in line, in characters
    int matchLength = 0;
    int column = 0;        // where the match starts in the whole line, in characters
};

// Receives what a search finds, on the search's thread.
class SearchSink
{
public:
    virtual ~SearchSink() = default;
    virtual void started(qint64 files, qint64 bytes);
    virtual void found(SearchHit &&hit) = 0;
    virtual void progressed(qint64 bytesDone);
    virtual void unreadable(const LogDay &day);
};

struct SearchSummary
{
    qint64 files = 0;
    qint64 bytes = 0;
    qint64 hits = 0;
    bool cancelled = false;
    bool truncated = false; // stopped at maxHits
};

// Searches the days of the folder in the request's range, newest first and each file from its
// start, for lines holding the query as foldForSearch folds it. Files are read in chunks into
// one buffer, so memory stays the same whatever the size of the logs; a file that is not a
// regular file, cannot be read or is not code page 932 is reported and skipped. Nothing is ever
// written. Stops soon after cancel is set.
SearchSummary searchLogs(const SearchRequest &request, SearchSink &sink, const std::atomic_bool &cancel);

// The buffer a search reads into.
inline constexpr qsizetype SearchChunkBytes = 1 << 20;

} // namespace vorlan
