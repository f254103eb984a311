#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <utility>

namespace vorlan {

class IniSnapshot;

// One key set to one value.
struct IniWrite
{
    QString section;
    QString key;
    QString value;
    bool operator==(const IniWrite &) const = default;
};

// The INI-style settings file, read and written by the rules the desktop peers use, so that a
// file written by either program serves the other: section and key names compare without
// regard to case, text is code page 932 with CR LF line ends, and every line a write does not
// touch is kept byte for byte. Each write reads the file anew; reads go through a snapshot. A
// path that is not a regular file, or a file over 1 MiB, cannot be used: it reads as empty and
// writes fail, leaving it as it is.
class IniFile
{
public:
    explicit IniFile(QString path);

    const QString &path() const { return m_path; }

    // Sets one key: in place when it exists (keeping the key's spelling; only the value
    // changes), else appended to its section, else a new section at the end, else a new file.
    // A value the key already holds leaves the file untouched. The file is replaced atomically
    // (temporary file + rename) with its permissions kept; on any failure the file on disk is
    // unchanged and false is returned. Where the folder cannot be written but the file can, the
    // file is written in place instead.
    bool write(const QString &section, const QString &key, const QString &value);

    // The writes in order, as many calls of write() would leave the file, in one replacement of
    // it: a burst of settings neither rewrites the file for every key nor leaves it half done.
    // Writes to one section in a row cost in proportion to their number, as a long list's do.
    bool writeAll(const QList<IniWrite> &writes);

    // The file as it is now, read once.
    IniSnapshot snapshot() const;

private:
    QString m_path;
};

// A list as its section holds it: items under "1".."n", and an empty key n+1 as the end mark,
// so that readers stop there whatever a longer list left above it.
QList<IniWrite> listWrites(const QString &section, const QStringList &items);

// The settings file as it was read once. It is searched for section headers only as far as the
// sections asked for, and only their lines are decoded, so a large file costs little more than
// reading it, however many keys are looked up. An unusable file reads as empty. A section or key
// that is repeated is read where it first appears. Copies share the reading.
class IniSnapshot
{
public:
    IniSnapshot();
    explicit IniSnapshot(const QString &path);

    // The value after the first "=", blanks trimmed; empty when the file, section or key is
    // missing.
    QString readText(const QString &section, const QString &key) const;

    // The integer at the start of the value (optional minus sign and digits; "1440.5" gives 1440,
    // letters give 0); defaultValue when the file, section or key is missing, the value is
    // empty or the number does not fit 32 bits.
    qint32 readNumber(const QString &section, const QString &key, qint32 defaultValue) const;

    // A 16-bit setting: as readNumber, but a number outside -32768..32767 gives defaultValue.
    qint16 readShort(const QString &section, const QString &key, qint16 defaultValue) const;

    // Keys "1", "2", ... up to the first missing or empty value; items trimmed.
    QStringList readList(const QString &section) const;

private:
    struct Data;
    std::shared_ptr<Data> m_data;
};

} // namespace vorlan
