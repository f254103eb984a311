#pragma once

#include <QByteArrayView>
#include <QDate>
#include <QList>
#include <QString>

#include <atomic>

namespace vorlan {

// One daily log file of a folder: <folder>/yyyymmdd.txt.
struct LogDay
{
    enum State { Readable, NotAFile, NoAccess, NotCp932 };

    QDate date;
    QString path;
    qint64 size = 0;
    State state = Readable;

    bool readable() const { return state == Readable; }
};

// The days of the folder that have a log file, newest first, from first to last when they are
// given. Only asks the file system about each name (a FIFO or a device is listed as not a file,
// never opened); with sniff, also reads the start of each regular file to tell whether it is
// code page 932 text. Stops early, with the days listed so far, once cancel is set.
QList<LogDay> listLogDays(const QString &folder, bool sniff, const QDate &first = {}, const QDate &last = {},
                          const std::atomic_bool *cancel = nullptr);

// A log file opened for reading only, without ever blocking: anything but a regular file is
// refused before a read. Closed with the object.
class LogFileReader
{
public:
    explicit LogFileReader(const QString &path);
    ~LogFileReader();
    LogFileReader(const LogFileReader &) = delete;
    LogFileReader &operator=(const LogFileReader &) = delete;

    LogDay::State state() const { return m_state; }
    qint64 size() const { return m_size; }
    // Reads up to size bytes into data; 0 at the end, -1 on an error.
    qint64 read(char *data, qint64 size);

private:
    int m_fd = -1;
    LogDay::State m_state = LogDay::NoAccess;
    qint64 m_size = 0;
};

// Whether the first bytes of a file read as code page 932 text: no NUL bytes, not UTF-8 with
// Japanese in it, and only a few bytes that are no code page 932 character.
bool looksLikeCp932(QByteArrayView start);
// How much of a file's start looksLikeCp932 is given.
inline constexpr qsizetype SniffBytes = 4096;
// Opens the file and reads its start: Readable, or why it cannot be shown.
LogDay::State sniffLogFile(const QString &path);

// What the start of a physical log line says about it. A line with a head begins an item: a
// chat line "hh:mm:ss name->\t...", a directed line "hh:mm:ss[name]->\t...", a join or leave
// line "hh:mm:ss\t...", the day header "*** yyyy/mm/dd ***" or a past-log marker. Any other
// line continues the item above it (a past log's text, a line with line breaks in it).
struct LineHead
{
    enum Kind { Continuation, DayHeader, Chat, Directed, Notice, PastLogMarker };

    Kind kind = Continuation;
    qsizetype length = 0; // bytes drawn in the head colour: up to and including the tab
    QByteArrayView time;
    QByteArrayView name;

    bool startsItem() const { return kind != Continuation; }
};

LineHead parseLineHead(QByteArrayView line);

// A day's log as the history window shows it: one line per physical line, without its CR LF.
struct DayText
{
    LogDay::State state = LogDay::Readable;
    QString text;                // the lines, each ended by a line feed but the last
    QList<qint64> lineOffsets;   // where each line starts in the file, in bytes
    QList<int> headLengths;      // characters of each line drawn in the head colour
    bool cut = false;            // the file was larger than MaxDayBytes: its start only
};

inline constexpr qint64 MaxDayBytes = 64 * 1024 * 1024;

// Reads and decodes one day's file; gives up early (with what it has) once cancel is set.
DayText readDay(const QString &path, const std::atomic_bool &cancel);

} // namespace vorlan
