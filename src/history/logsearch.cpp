#include "history/logsearch.h"

#include "base/codec.h"
#include "history/foldedmatcher.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace vorlan {

void SearchSink::started(qint64, qint64) {}
void SearchSink::progressed(qint64) {}
void SearchSink::unreadable(const LogDay &) {}

namespace {

// Lines longer than this show only the part around their match.
constexpr qsizetype LongLine = 4096;
constexpr qsizetype AroundMatch = 1024;
// How much of the newest files tells the matcher which bytes are common.
constexpr qsizetype SampleBytes = 64 * 1024;
constexpr int SampleFiles = 8;

qsizetype lineStartBefore(const char *data, qsizetype at)
{
    const void *feed = at > 0 ? ::memrchr(data, '\n', size_t(at)) : nullptr;
    return feed ? static_cast<const char *>(feed) - data + 1 : 0;
}

qsizetype lineEndFrom(const char *data, qsizetype size, qsizetype at)
{
    const void *feed = ::memchr(data + at, '\n', size_t(size - at));
    return feed ? static_cast<const char *>(feed) - data : size;
}

QString decoded(const char *data, qsizetype from, qsizetype to)
{
    return decodeCp932(QByteArray(data + from, to - from));
}

struct ItemHead
{
    QString time;
    QString name;
};

ItemHead itemHead(const LineHead &head)
{
    return {QString::fromLatin1(head.time), decodeCp932(head.name.toByteArray())};
}

// Scans one file in chunks that end at a line feed; the unfinished last line moves to the
// front of the buffer before the next read.
class FileScan
{
public:
    FileScan(const FoldedMatcher &matcher, std::vector<char> &buffer, SearchSink &sink,
             const std::atomic_bool &cancel)
        : m_matcher(matcher), m_buffer(buffer), m_sink(sink), m_cancel(cancel)
    {
    }

    // Returns the state of the file (not Readable when it was skipped); hits counts up.
    LogDay::State scan(const LogDay &day, qint64 &hits, qsizetype maxHits, bool &truncated);

private:
    ItemHead headOf(const char *data, qsizetype size, qsizetype lineStart);
    SearchHit hitAt(const char *data, qsizetype size, qsizetype lineStart, qsizetype lineEnd,
                    const ByteMatch &match);

    const FoldedMatcher &m_matcher;
    std::vector<char> &m_buffer;
    SearchSink &m_sink;
    const std::atomic_bool &m_cancel;
    ItemHead m_carried;            // the last item head before the buffer's start
    qsizetype m_knownLine = -1;    // a line start in the buffer whose head is known
    ItemHead m_knownHead;
};

// The head of the item the line at lineStart belongs to: its own, or that of the nearest line
// above that starts an item. Walking back stops at the last line asked about, so a long item
// with many matching lines is walked once.
ItemHead FileScan::headOf(const char *data, qsizetype size, qsizetype lineStart)
{
    for (qsizetype at = lineStart;; at = lineStartBefore(data, at - 1)) {
        if (at == m_knownLine)
            return m_knownHead;
        const LineHead head = parseLineHead(QByteArrayView(data + at, lineEndFrom(data, size, at) - at));
        if (head.startsItem())
            return itemHead(head);
        if (at == 0)
            return m_carried;
    }
}

SearchHit FileScan::hitAt(const char *data, qsizetype size, qsizetype lineStart, qsizetype lineEnd,
                          const ByteMatch &match)
{
    SearchHit hit;
    qsizetype end = lineEnd;
    if (end > lineStart && data[end - 1] == '\r')
        --end;
    const ItemHead head = headOf(data, size, lineStart);
    m_knownLine = lineStart;
    m_knownHead = head;
    hit.time = head.time;
    hit.name = head.name;
    hit.lineOffset = lineStart;
    hit.column = int(decoded(data, lineStart, match.start).size());
    hit.matchLength = int(decoded(data, match.start, match.end).size());
    qsizetype shownFrom = lineStart;
    qsizetype shownTo = end;
    if (end - lineStart > LongLine) {
        // A byte below 0x40 is always a whole character: the part shown starts and ends at one.
        const auto boundaryNear = [data](qsizetype from, qsizetype to, bool last) {
            for (qsizetype i = last ? to - 1 : from; last ? i >= from : i < to; i += last ? -1 : 1) {
                if (quint8(data[i]) < 0x40)
                    return i + 1;
            }
            return qsizetype(-1);
        };
        const qsizetype before = boundaryNear(std::max(lineStart, match.start - AroundMatch), match.start, true);
        shownFrom = before < 0 ? match.start : before;
        const qsizetype after = boundaryNear(match.end, std::min(end, match.end + AroundMatch), false);
        shownTo = after < 0 ? match.end : after;
    }
    hit.line = decoded(data, shownFrom, shownTo).replace(u'\r', u' ');
    hit.matchStart = shownFrom == lineStart ? hit.column : int(decoded(data, shownFrom, match.start).size());
    return hit;
}

LogDay::State FileScan::scan(const LogDay &day, qint64 &hits, qsizetype maxHits, bool &truncated)
{
    LogFileReader reader(day.path);
    if (reader.state() != LogDay::Readable)
        return reader.state();
    m_carried = {};
    char *data = m_buffer.data();
    const qsizetype capacity = SearchChunkBytes;
    qsizetype filled = 0;
    qint64 base = 0; // where the buffer starts in the file
    bool sniffed = false;
    bool atEnd = false;
    while (!atEnd && !m_cancel) {
        while (filled < capacity) {
            const qint64 got = reader.read(data + filled, capacity - filled);
            if (got < 0)
                return LogDay::NoAccess;
            if (got == 0) {
                atEnd = true;
                break;
            }
            filled += got;
        }
        if (!sniffed) {
            if (!looksLikeCp932(QByteArrayView(data, std::min(filled, SniffBytes))))
                return LogDay::NotCp932;
            sniffed = true;
        }
        qsizetype scanEnd = filled;
        if (!atEnd) {
            // A line longer than the whole buffer is cut where the buffer ends.
            const qsizetype lastFeed = lineStartBefore(data, filled);
            scanEnd = lastFeed > 0 ? lastFeed : filled;
        }
        m_knownLine = -1;
        for (qsizetype from = 0; from < scanEnd && !m_cancel;) {
            const std::optional<ByteMatch> match = m_matcher.find(data, scanEnd, from);
            if (!match)
                break;
            const qsizetype lineStart = lineStartBefore(data, match->start);
            const qsizetype lineEnd = lineEndFrom(data, scanEnd, match->end);
            SearchHit hit = hitAt(data, scanEnd, lineStart, lineEnd, *match);
            hit.day = day.date;
            hit.lineOffset += base;
            m_sink.found(std::move(hit));
            if (++hits == maxHits) {
                truncated = true;
                return LogDay::Readable;
            }
            from = lineEnd + 1;
        }
        if (atEnd)
            break;
        const qsizetype lastLine = lineStartBefore(data, scanEnd - 1);
        for (qsizetype at = lastLine;; at = lineStartBefore(data, at - 1)) {
            const LineHead head = parseLineHead(QByteArrayView(data + at, lineEndFrom(data, scanEnd, at) - at));
            if (head.startsItem()) {
                m_carried = itemHead(head);
                break;
            }
            if (at == 0)
                break;
        }
        std::memmove(data, data + scanEnd, size_t(filled - scanEnd));
        filled -= scanEnd;
        base += scanEnd;
    }
    return LogDay::Readable;
}

PairCounts sampleOf(const QList<LogDay> &days)
{
    PairCounts counts;
    QByteArray sample(SampleBytes, Qt::Uninitialized);
    int files = 0;
    for (const LogDay &day : days) {
        if (files == SampleFiles)
            break;
        LogFileReader reader(day.path);
        const qint64 got = reader.state() == LogDay::Readable ? reader.read(sample.data(), SampleBytes) : -1;
        if (got > 0) {
            counts.add(QByteArrayView(sample.constData(), got));
            ++files;
        }
    }
    return counts;
}

} // namespace

SearchSummary searchLogs(const SearchRequest &request, SearchSink &sink, const std::atomic_bool &cancel)
{
    SearchSummary summary;
    QList<LogDay> days;
    for (const LogDay &day : listLogDays(request.folder, false, request.from, request.to, &cancel)) {
        if (!day.readable()) {
            sink.unreadable(day);
            continue;
        }
        days.append(day);
        summary.bytes += day.size;
    }
    summary.files = days.size();
    sink.started(summary.files, summary.bytes);

    const PairCounts sample = sampleOf(days);
    const FoldedMatcher matcher(request.query, request.kana, &sample);
    if (!matcher.canMatch())
        return summary;
    // Room after the data for the vector reads near its end.
    std::vector<char> buffer(size_t(SearchChunkBytes + 64));
    FileScan scan(matcher, buffer, sink, cancel);
    qint64 done = 0;
    for (LogDay &day : days) {
        if (cancel)
            break;
        day.state = scan.scan(day, summary.hits, request.maxHits, summary.truncated);
        if (!day.readable())
            sink.unreadable(day);
        if (summary.truncated)
            break;
        done += day.size;
        sink.progressed(done);
    }
    summary.cancelled = cancel;
    return summary;
}

} // namespace vorlan
