#include "conversation/logwriter.h"

#include "base/clock.h"
#include "base/codec.h"
#include "base/regularfile.h"

#include <QDate>
#include <QFileInfo>

#include <sys/stat.h>

#include <algorithm>

namespace vorlan {

namespace {

QByteArray dayHeader(const QDate &date)
{
    return "*** " + date.toString(QStringLiteral("yyyy/MM/dd")).toLatin1() + " ***\r\n";
}

} // namespace

LogWriter::LogWriter(const Clock &clock)
    : m_clock(clock)
{
}

LogWriter::~LogWriter()
{
    close();
}

QString LogWriter::fileName(const QString &folder, const QString &logDate)
{
    return folder + u'/' + logDate + QStringLiteral(".txt");
}

bool LogWriter::open(const QString &folder)
{
    close();
    m_folder = folder;
    return openFor(m_clock.now().date());
}

bool LogWriter::WriteLog(const QStringList &items)
{
    if (!m_file.isOpen())
        return false;
    const QDate today = m_clock.now().date();
    if (today != m_day) {
        close();
        if (!openFor(today))
            return false;
    }
    return writeItems(items);
}

void LogWriter::close()
{
    m_nameWatch.stop();
    if (m_file.isOpen())
        m_file.close();
}

bool LogWriter::openFor(const QDate &day)
{
    m_day = day;
    m_logDate = day.toString(QStringLiteral("yyyyMMdd"));
    m_file.setFileName(fileName(m_folder, m_logDate));
    // A FIFO or a device under the day's name is no log file; opening it could block for good.
    if (QFileInfo::exists(m_file.fileName()) && !isRegularFile(m_file.fileName()))
        return false;
    // Append creates the file but never its folder: a missing folder is the user's to fix.
    // Unbuffered: a write that fails must leave nothing behind for a later flush to add.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return false;
    m_nameWatch.watch(m_file.fileName());
    return append(dayHeader(day));
}

bool LogWriter::append(const QByteArray &bytes)
{
    // A write cut short (a full disk) would leave half a line without its line end, and the
    // next day header or line would be glued onto it: the file goes back to its length before.
    // What was written of it is known from the write, so the length is asked only then.
    const qint64 written = m_file.write(bytes);
    if (written == bytes.size())
        return true;
    m_file.resize(m_file.size() - std::max<qint64>(written, 0));
    m_file.close();
    return false;
}

bool LogWriter::stillNamed() const
{
    struct stat onDisk {};
    struct stat open {};
    return ::stat(QFile::encodeName(m_file.fileName()).constData(), &onDisk) == 0
           && ::fstat(m_file.handle(), &open) == 0 && onDisk.st_dev == open.st_dev
           && onDisk.st_ino == open.st_ino;
}

bool LogWriter::writeItems(const QStringList &items)
{
    // Here a file whose name was deleted, or whose folder was removed, still takes writes that
    // nobody will ever read; the user would lose the log without a word. Treat it as a failed
    // write, as a full disk would be.
    if (m_nameWatch.maybeChanged() && !stillNamed()) {
        close();
        return false;
    }

    QByteArray bytes;
    for (const QString &item : items) {
        bytes += encodeCp932(item);
        bytes += "\r\n";
    }
    return append(bytes);
}

} // namespace vorlan
