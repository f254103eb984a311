#pragma once

#include "base/namewatch.h"

#include <QDate>
#include <QFile>
#include <QString>
#include <QStringList>

namespace vorlan {

class Clock;

// The daily conversation log: one file per day, folder + "/" + yyyymmdd + ".txt", appended in
// code page 932 with CR LF after every item. Each opening writes the day header
// "*** yyyy/mm/dd ***". Every write reaches the operating system before WriteLog returns, and a
// write that fails leaves the file as it was before it.
class LogWriter
{
public:
    explicit LogWriter(const Clock &clock);
    ~LogWriter();

    LogWriter(const LogWriter &) = delete;
    LogWriter &operator=(const LogWriter &) = delete;

    // Opens today's file in folder (which becomes the running folder) and writes the day header.
    // On failure nothing stays open and false is returned.
    bool open(const QString &folder);

    // Day check (a new day closes the file and opens the new day's file with its header), then
    // each item followed by CR LF. On failure the file is closed and false is returned.
    bool WriteLog(const QStringList &items);

    void close();
    bool isOpen() const { return m_file.isOpen(); }

    // The folder later openings (a day change) use; does not move the open file.
    void setFolder(const QString &folder) { m_folder = folder; }
    const QString &folder() const { return m_folder; }

    // "yyyymmdd" of the open file.
    const QString &LogDate() const { return m_logDate; }

    static QString fileName(const QString &folder, const QString &logDate);

private:
    bool openFor(const QDate &day);
    bool writeItems(const QStringList &items);
    // Whether the open file is still the one under its name.
    bool stillNamed() const;
    // Writes bytes whole or, on failure, cuts the file back and closes it.
    bool append(const QByteArray &bytes);

    const Clock &m_clock;
    QString m_folder;
    QString m_logDate;
    QDate m_day; // the day of m_logDate, compared on every write
    QFile m_file;
    NameWatch m_nameWatch;
};

} // namespace vorlan
