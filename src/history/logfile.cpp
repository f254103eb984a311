#include "history/logfile.h"

#include "base/codec.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vorlan {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isLeadByte(quint8 byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool isTrailByte(quint8 byte)
{
    return byte >= 0x40 && byte <= 0xFC && byte != 0x7F;
}

// "yyyymmdd.txt", any case of the extension, of a real date.
QDate dateOfName(const char *name)
{
    if (std::strlen(name) != 12 || ::strcasecmp(name + 8, ".txt") != 0)
        return {};
    int digits[8];
    for (int i = 0; i < 8; ++i) {
        if (!isDigit(name[i]))
            return {};
        digits[i] = name[i] - '0';
    }
    const int year = digits[0] * 1000 + digits[1] * 100 + digits[2] * 10 + digits[3];
    const QDate date(year, digits[4] * 10 + digits[5], digits[6] * 10 + digits[7]);
    return date.isValid() ? date : QDate();
}

// Counts the UTF-8 sequences of two bytes or more; -1 when the bytes are not UTF-8. A sequence
// cut by the end of the bytes counts as whole.
int utf8Sequences(QByteArrayView bytes)
{
    int sequences = 0;
    for (qsizetype i = 0; i < bytes.size();) {
        const auto byte = quint8(bytes[i]);
        const int length = byte < 0x80 ? 1 : (byte & 0xE0) == 0xC0 ? 2 : (byte & 0xF0) == 0xE0 ? 3
                                                          : (byte & 0xF8) == 0xF0 ? 4 : 0;
        if (length == 0 || (length == 2 && byte < 0xC2))
            return -1;
        for (int k = 1; k < length && i + k < bytes.size(); ++k) {
            if ((quint8(bytes[i + k]) & 0xC0) != 0x80)
                return -1;
        }
        sequences += length > 1 ? 1 : 0;
        i += length;
    }
    return sequences;
}

const QByteArray &pastLogPrefix()
{
    static const QByteArray prefix = encodeCp932(QStringLiteral("---過去のログ受信 "));
    return prefix;
}

} // namespace

QList<LogDay> listLogDays(const QString &folder, bool sniff, const QDate &first, const QDate &last,
                          const std::atomic_bool *cancel)
{
    QList<LogDay> days;
    if (folder.isEmpty())
        return days;
    // Names only: years of logs are thousands of files, and only those in range are asked more.
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return days;
    while (const dirent *entry = ::readdir(dir)) {
        if (cancel && *cancel)
            break;
        const QDate date = dateOfName(entry->d_name);
        if (!date.isValid() || (first.isValid() && date < first) || (last.isValid() && date > last))
            continue;
        LogDay day;
        day.date = date;
        day.path = folder + u'/' + QFile::decodeName(entry->d_name);
        struct stat info {};
        // stat, not open: asking never blocks. Symbolic links are followed.
        const bool regular = ::stat(QFile::encodeName(day.path).constData(), &info) == 0 && S_ISREG(info.st_mode);
        day.size = regular ? info.st_size : 0;
        day.state = !regular ? LogDay::NotAFile
                    : ::access(QFile::encodeName(day.path).constData(), R_OK) != 0 ? LogDay::NoAccess
                                                                                   : LogDay::Readable;
        if (sniff && day.readable())
            day.state = sniffLogFile(day.path);
        days.append(day);
    }
    ::closedir(dir);
    std::sort(days.begin(), days.end(), [](const LogDay &a, const LogDay &b) { return a.date > b.date; });
    return days;
}

LogDay::State sniffLogFile(const QString &path)
{
    LogFileReader reader(path);
    if (reader.state() != LogDay::Readable)
        return reader.state();
    QByteArray start(SniffBytes, Qt::Uninitialized);
    const qint64 got = reader.read(start.data(), SniffBytes);
    if (got < 0)
        return LogDay::NoAccess;
    return looksLikeCp932(QByteArrayView(start.constData(), got)) ? LogDay::Readable : LogDay::NotCp932;
}

LogFileReader::LogFileReader(const QString &path)
{
    // Non-blocking: opening a FIFO for reading would otherwise wait for a writer.
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (m_fd < 0) {
        m_state = errno == EACCES ? LogDay::NoAccess : LogDay::NotAFile;
        return;
    }
    struct stat info {};
    if (::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(m_fd);
        m_fd = -1;
        m_state = LogDay::NotAFile;
        return;
    }
    m_state = LogDay::Readable;
    m_size = info.st_size;
}

LogFileReader::~LogFileReader()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

qint64 LogFileReader::read(char *data, qint64 size)
{
    if (m_fd < 0)
        return -1;
    qint64 got;
    do {
        got = ::read(m_fd, data, size_t(size));
    } while (got < 0 && errno == EINTR);
    return got;
}

bool looksLikeCp932(QByteArrayView start)
{
    if (start.contains('\0'))
        return false;
    if (utf8Sequences(start) >= 4)
        return false;
    int doubles = 0;
    int broken = 0;
    for (qsizetype i = 0; i < start.size(); ++i) {
        const auto byte = quint8(start[i]);
        if (!isLeadByte(byte))
            continue;
        if (i + 1 == start.size())
            break; // cut by the end of what was read
        if (isTrailByte(quint8(start[i + 1]))) {
            ++doubles;
            ++i;
        } else {
            ++broken;
        }
    }
    return broken <= doubles / 4 + 8;
}

LineHead parseLineHead(QByteArrayView line)
{
    LineHead head;
    const auto isTime = [&line] {
        return line.size() >= 9 && isDigit(line[0]) && isDigit(line[1]) && line[2] == ':' && isDigit(line[3])
               && isDigit(line[4]) && line[5] == ':' && isDigit(line[6]) && isDigit(line[7]);
    };
    if (isTime()) {
        const QByteArrayView rest = line.sliced(9);
        const auto named = [&](LineHead::Kind kind, QByteArrayView end) {
            const qsizetype at = rest.indexOf(end);
            if (at < 0)
                return;
            head.kind = kind;
            head.time = line.first(8);
            head.name = rest.first(at);
            head.length = 9 + at + end.size();
        };
        if (line[8] == '\t') {
            head.kind = LineHead::Notice;
            head.time = line.first(8);
            head.length = 9;
        } else if (line[8] == ' ') {
            named(LineHead::Chat, "->\t");
        } else if (line[8] == '[') {
            named(LineHead::Directed, "]->\t");
        }
    } else if (line.size() == 18 && line.startsWith("*** ") && line.endsWith(" ***")) {
        head.kind = LineHead::DayHeader;
    } else if (line.startsWith(pastLogPrefix())) {
        head.kind = LineHead::PastLogMarker;
    }
    return head;
}

DayText readDay(const QString &path, const std::atomic_bool &cancel)
{
    DayText day;
    LogFileReader reader(path);
    day.state = reader.state();
    if (day.state != LogDay::Readable)
        return day;

    QByteArray bytes;
    constexpr qint64 Chunk = 1 << 20;
    while (!cancel) {
        const qsizetype used = bytes.size();
        const qint64 want = std::min<qint64>(Chunk, MaxDayBytes + 1 - used);
        if (want <= 0)
            break;
        bytes.resize(used + want);
        const qint64 got = reader.read(bytes.data() + used, want);
        bytes.resize(used + std::max<qint64>(got, 0));
        if (got < 0)
            day.state = LogDay::NoAccess;
        if (got <= 0)
            break;
    }
    if (day.state != LogDay::Readable)
        return day;
    if (bytes.size() > MaxDayBytes) {
        day.cut = true;
        bytes.truncate(MaxDayBytes);
    }
    if (!looksLikeCp932(QByteArrayView(bytes).first(std::min<qsizetype>(bytes.size(), SniffBytes)))) {
        day.state = LogDay::NotCp932;
        return day;
    }

    // Line feeds decode as themselves and no character spans one: the decoded text splits into
    // the same lines as the bytes.
    const QStringList lines = decodeCp932(bytes).split(u'\n');
    qsizetype offset = 0;
    for (qsizetype i = 0; i < lines.size() && !cancel; ++i) {
        const qsizetype end = bytes.indexOf('\n', offset);
        const qsizetype lineEnd = end < 0 ? bytes.size() : end;
        if (end < 0 && offset == bytes.size())
            break; // the file's last line feed
        QString line = lines[i];
        if (line.endsWith(u'\r'))
            line.chop(1);
        line.replace(u'\r', u' '); // a stray carriage return would break the line in the view
        const LineHead head = parseLineHead(QByteArrayView(bytes).sliced(offset, lineEnd - offset));
        day.lineOffsets.append(offset);
        day.headLengths.append(
            head.length > 0 ? int(decodeCp932(QByteArray(bytes.constData() + offset, head.length)).size()) : 0);
        if (i > 0)
            day.text += u'\n';
        day.text += line;
        offset = lineEnd + 1;
    }
    return day;
}

} // namespace vorlan
