#include "settings/inifile.h"

#include "base/codec.h"
#include "base/regularfile.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>

#include <cstring>
#include <deque>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

namespace vorlan {

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

QStringView trimBlanks(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

// A value never ends in CR: a CR before the LF, however many, belongs to the line end.
QStringView trimValue(QStringView text)
{
    QStringView value = trimBlanks(text);
    while (value.endsWith(u'\r'))
        value = trimBlanks(value.chopped(1));
    return value;
}

// The bytes that end a raw line: its trailing CRs and LF.
qsizetype lineEndLength(const QByteArray &raw)
{
    qsizetype length = 0;
    if (raw.endsWith('\n'))
        ++length;
    while (length < raw.size() && raw[raw.size() - length - 1] == '\r')
        ++length;
    return length;
}

// Only the file's last line can lack its LF. A bare CR there is already half a line end.
void terminate(QByteArray &raw)
{
    if (raw.endsWith('\n'))
        return;
    raw.append(raw.endsWith('\r') ? "\n" : "\r\n");
}

// The desktop peers fold case per byte in the ANSI code page; for the names this file holds
// (ASCII keys, Japanese user-chosen text) folding A-Z alone gives the same answers.
bool sameName(QStringView a, QStringView b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        char16_t x = a[i].unicode();
        char16_t y = b[i].unicode();
        if (x >= u'A' && x <= u'Z')
            x = char16_t(x - u'A' + u'a');
        if (y >= u'A' && y <= u'Z')
            y = char16_t(y - u'A' + u'a');
        if (x != y)
            return false;
    }
    return true;
}

// A name in the form sameName compares: equal names fold to equal text.
QString foldedName(QStringView name)
{
    QString folded = name.toString();
    for (QChar &c : folded) {
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() - u'A' + u'a');
    }
    return folded;
}

// A value or name holding a line break would split its line in two and change the file's shape.
QString oneLine(const QString &text)
{
    QString line = text;
    line.replace(u'\r', u' ');
    line.replace(u'\n', u' ');
    return line;
}

// One line of the file. raw is the line's bytes including its terminator, so that lines a
// write does not touch go back to disk exactly as they came.
struct Line
{
    enum Kind { Other, Section, Key };

    QByteArray raw;
    Kind kind = Other;
    QString name;  // section or key name, blanks trimmed
    QString value; // key lines only: the text after the first "=", blanks trimmed
};

Line parseLine(QByteArray raw)
{
    Line line;
    const QByteArray content = raw.chopped(lineEndLength(raw));
    line.raw = std::move(raw);

    // Decoded before looking for "[", "]" and "=": "]" can be the second byte of a double-byte
    // character, so the raw bytes cannot be searched for it.
    const QString text = decodeCp932(content);
    const QStringView trimmed = trimBlanks(text);
    if (trimmed.startsWith(u'[')) {
        const qsizetype close = trimmed.lastIndexOf(u']');
        if (close > 0) {
            line.kind = Line::Section;
            line.name = trimBlanks(trimmed.sliced(1, close - 1)).toString();
        }
        return line;
    }
    if (trimmed.startsWith(u';'))
        return line;
    const qsizetype equals = trimmed.indexOf(u'=');
    if (equals < 0)
        return line;
    line.kind = Line::Key;
    line.name = trimBlanks(trimmed.first(equals)).toString();
    line.value = trimValue(trimmed.sliced(equals + 1)).toString();
    return line;
}

// Far beyond any settings file the programs write (a few kilobytes); a larger one is damaged.
constexpr qint64 MaxFileSize = 1024 * 1024;

class Document
{
public:
    // False when the file exists but cannot be read; a missing file is an empty document.
    bool load(const QString &path)
    {
        m_lines.clear();
        QFile file(path);
        if (!file.exists())
            return true;
        // A FIFO would block the open, a device could be read forever, and every read and write
        // goes through the whole file: anything but a regular file of settings size is unusable.
        if (!isRegularFile(path) || QFileInfo(path).size() > MaxFileSize)
            return false;
        if (!file.open(QIODevice::ReadOnly))
            return false;
        const QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return false;

        qsizetype start = 0;
        while (start < bytes.size()) {
            qsizetype end = bytes.indexOf('\n', start);
            end = end < 0 ? bytes.size() : end + 1;
            m_lines.push_back(parseLine(bytes.sliced(start, end - start)));
            start = end;
        }
        return true;
    }

    // False when the key already holds this value: then nothing needs writing.
    bool set(const QString &section, const QString &key, const QString &value)
    {
        const Line keyLine = makeLine(key + u'=' + value);
        const auto [begin, end] = sectionRange(section);
        if (begin < 0) {
            terminateLastLine();
            m_lines.push_back(makeLine(u'[' + section + u']'));
            m_lines.push_back(keyLine);
            return true;
        }
        qsizetype insertAfter = begin - 1; // the header
        for (qsizetype i = begin; i < end; ++i) {
            Line &line = m_lines[size_t(i)];
            if (line.kind != Line::Key)
                continue;
            if (sameName(line.name, key)) {
                if (line.value == keyLine.value)
                    return false;
                replaceValue(line, value);
                return true;
            }
            insertAfter = i;
        }
        terminate(m_lines[size_t(insertAfter)].raw);
        m_lines.insert(m_lines.begin() + insertAfter + 1, keyLine);
        return true;
    }

    // As set() for each entry in turn, in one pass over the section: keys that exist change in
    // place, the others follow the section's last key in the order given. That holds only while
    // every line made reads back under the name it was made for; otherwise nothing is changed
    // and nothing is returned, and the entries must go through set() one by one.
    std::optional<bool> setAll(const QString &section,
                               const QList<std::pair<QString, QString>> &entries)
    {
        std::vector<Line> keyLines;
        keyLines.reserve(size_t(entries.size()));
        for (const auto &[key, value] : entries) {
            keyLines.push_back(makeLine(key + u'=' + value));
            if (keyLines.back().kind != Line::Key || keyLines.back().name != key)
                return std::nullopt;
        }
        auto [begin, end] = sectionRange(section);
        bool changed = false;
        if (begin < 0) {
            Line header = makeLine(u'[' + section + u']');
            if (header.kind != Line::Section || header.name != section)
                return std::nullopt;
            terminateLastLine();
            m_lines.push_back(std::move(header));
            begin = end = qsizetype(m_lines.size());
            changed = true;
        }

        // Each name's first line, as set() finds it; the lines added here count from when they
        // are added. A deque keeps them in place as it grows.
        QHash<QString, Line *> first;
        std::deque<Line> added;
        qsizetype insertAfter = begin - 1; // the header
        for (qsizetype i = begin; i < end; ++i) {
            Line &line = m_lines[size_t(i)];
            if (line.kind != Line::Key)
                continue;
            const QString folded = foldedName(line.name);
            if (!first.contains(folded))
                first.insert(folded, &line);
            insertAfter = i;
        }
        for (size_t i = 0; i < keyLines.size(); ++i) {
            Line *&line = first[foldedName(entries[qsizetype(i)].first)];
            if (!line) {
                line = &added.emplace_back(std::move(keyLines[i]));
                changed = true;
            } else if (line->value != keyLines[i].value) {
                replaceValue(*line, entries[qsizetype(i)].second);
                changed = true;
            }
        }
        if (!added.empty()) {
            terminate(m_lines[size_t(insertAfter)].raw);
            m_lines.insert(m_lines.begin() + insertAfter + 1,
                           std::make_move_iterator(added.begin()),
                           std::make_move_iterator(added.end()));
        }
        return changed;
    }

    bool save(const QString &path) const
    {
        QSaveFile file(path);
        // A writable file in a folder the user cannot write still takes the change, written
        // in place, as the desktop peers would write it. The replacement otherwise keeps the
        // file's permissions.
        file.setDirectWriteFallback(true);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        for (const Line &line : m_lines) {
            if (file.write(line.raw) != line.raw.size()) {
                file.cancelWriting();
                break;
            }
        }
        return file.commit();
    }

private:
    static Line makeLine(const QString &text)
    {
        return parseLine(encodeCp932(text) + "\r\n");
    }

    // The lines after the first header named section, up to the next header; begin is -1 when
    // the file has no such section.
    std::pair<qsizetype, qsizetype> sectionRange(QStringView section) const
    {
        const qsizetype count = qsizetype(m_lines.size());
        qsizetype i = 0;
        while (i < count
               && !(m_lines[size_t(i)].kind == Line::Section
                    && sameName(m_lines[size_t(i)].name, section)))
            ++i;
        if (i == count)
            return {-1, -1};
        const qsizetype begin = i + 1;
        qsizetype end = begin;
        while (end < count && m_lines[size_t(end)].kind != Line::Section)
            ++end;
        return {begin, end};
    }

    void terminateLastLine()
    {
        if (!m_lines.empty())
            terminate(m_lines.back().raw);
    }

    // The key keeps its spelling, the blanks around "=" and the line end it has in the file:
    // only the value changes. "=" cannot be the second byte of a double-byte character, so
    // the first "=" byte is the first "=" of the decoded line.
    static void replaceValue(Line &line, const QString &value)
    {
        const QByteArray &raw = line.raw;
        qsizetype start = raw.indexOf('=') + 1;
        const qsizetype endLength = lineEndLength(raw);
        while (start < raw.size() - endLength && (raw[start] == ' ' || raw[start] == '\t'))
            ++start;
        line = parseLine(raw.first(start) + encodeCp932(value) + raw.last(endLength));
    }

    std::vector<Line> m_lines;
};

// The leading integer of a value: an optional minus sign and decimal digits, up to the first
// other character. Nothing numeric at the start gives 0.
qint64 leadingInteger(QStringView text)
{
    qsizetype i = 0;
    const bool negative = !text.isEmpty() && text[0] == u'-';
    if (negative)
        ++i;
    qint64 result = 0;
    constexpr qint64 ceiling = qint64(std::numeric_limits<qint32>::max()) + 2;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        result = result * 10 + (text[i].unicode() - u'0');
        if (result > ceiling)
            result = ceiling; // far enough outside 32 bits to be rejected, without overflowing
    }
    return negative ? -result : result;
}

qint32 numberValue(const QString &value, qint32 defaultValue)
{
    if (value.isEmpty())
        return defaultValue;
    const qint64 number = leadingInteger(value);
    if (number < std::numeric_limits<qint32>::min() || number > std::numeric_limits<qint32>::max())
        return defaultValue;
    return qint32(number);
}

qint16 shortValue(qint32 number, qint16 defaultValue)
{
    if (number < std::numeric_limits<qint16>::min() || number > std::numeric_limits<qint16>::max())
        return defaultValue;
    return qint16(number);
}

} // namespace

IniFile::IniFile(QString path)
    : m_path(std::move(path))
{
}

bool IniFile::write(const QString &section, const QString &key, const QString &value)
{
    Document document;
    if (!document.load(m_path))
        return false;
    if (!document.set(oneLine(trimBlanks(section).toString()), oneLine(trimBlanks(key).toString()),
                      oneLine(value)))
        return true;
    return document.save(m_path);
}

bool IniFile::writeAll(const QList<IniWrite> &writes)
{
    Document document;
    if (!document.load(m_path))
        return false;
    bool changed = false;
    QList<IniWrite> run; // writes to one section in a row
    const auto writeRun = [&] {
        QList<std::pair<QString, QString>> entries;
        entries.reserve(run.size());
        for (const IniWrite &w : run)
            entries.append({w.key, w.value});
        if (const std::optional<bool> done = document.setAll(run.first().section, entries)) {
            changed |= *done;
        } else {
            for (const IniWrite &w : run)
                changed |= document.set(w.section, w.key, w.value);
        }
        run.clear();
    };
    for (const IniWrite &w : writes) {
        IniWrite line = {oneLine(trimBlanks(w.section).toString()),
                         oneLine(trimBlanks(w.key).toString()), oneLine(w.value)};
        if (!run.isEmpty() && !sameName(line.section, run.first().section))
            writeRun();
        run.append(std::move(line));
    }
    if (!run.isEmpty())
        writeRun();
    return !changed || document.save(m_path);
}

QList<IniWrite> listWrites(const QString &section, const QStringList &items)
{
    QList<IniWrite> writes;
    writes.reserve(items.size() + 1);
    for (qsizetype i = 0; i < items.size(); ++i)
        writes.append({section, QString::number(i + 1), items[i]});
    writes.append({section, QString::number(items.size() + 1), QString()});
    return writes;
}

IniSnapshot IniFile::snapshot() const
{
    return IniSnapshot(m_path);
}

// --- the snapshot ---------------------------------------------------------------------------

struct IniSnapshot::Data
{
    struct Section
    {
        QString name;
        qsizetype begin = 0; // the byte after the header line
        qsizetype end = -1;  // the start of the next header line, the end, or -1 not found yet
        // Key lines decoded on the first look, in file order.
        mutable std::optional<std::vector<std::pair<QString, QString>>> keys;
    };

    QByteArray bytes;
    // Found in file order, as far as the looks so far needed: a section near the top is found
    // without going through the rest of a large file. A deque keeps them in place as it grows.
    std::deque<Section> sections;
    qsizetype scanned = 0;

    // The end of the line that starts at start: after its LF, or the end of the file.
    qsizetype lineEnd(qsizetype start) const
    {
        const qsizetype newline = bytes.indexOf('\n', start);
        return newline < 0 ? bytes.size() : newline + 1;
    }

    // The first section of that name, as a write finds it.
    const Section *section(QStringView name)
    {
        for (size_t i = 0;; ++i) {
            if (i == sections.size() && !findNextSection())
                return nullptr;
            if (sameName(sections[i].name, name))
                return &sections[i];
        }
    }

    const std::vector<std::pair<QString, QString>> &keysOf(const Section &s)
    {
        while (s.end < 0)
            findNextSection();
        if (!s.keys) {
            s.keys.emplace();
            for (qsizetype start = s.begin; start < s.end;) {
                const qsizetype end = lineEnd(start);
                Line parsed = parseLine(bytes.sliced(start, end - start));
                if (parsed.kind == Line::Key)
                    s.keys->emplace_back(std::move(parsed.name), std::move(parsed.value));
                start = end;
            }
        }
        return *s.keys;
    }

    // Only a line whose first byte after blanks is "[" can be a header: blanks and "[" are
    // single bytes in code page 932 and never start a double-byte character. So the bytes are
    // searched for "[" alone, and only the lines found so are decoded (parseLine decides).
    // False at the end of the file, where the last section ends.
    bool findNextSection()
    {
        const char *const all = bytes.constData();
        const qsizetype size = bytes.size();
        while (scanned < size) {
            const auto *bracket = static_cast<const char *>(
                std::memchr(all + scanned, '[', size_t(size - scanned)));
            if (!bracket)
                break;
            const qsizetype at = bracket - all;
            qsizetype start = at;
            while (start > 0 && (all[start - 1] == ' ' || all[start - 1] == '\t'))
                --start;
            if (start > 0 && all[start - 1] != '\n') {
                scanned = at + 1;
                continue;
            }
            const qsizetype end = lineEnd(at);
            scanned = end;
            Line header = parseLine(bytes.sliced(start, end - start));
            if (header.kind == Line::Section) {
                if (!sections.empty())
                    sections.back().end = start;
                sections.push_back({std::move(header.name), end, -1, {}});
                return true;
            }
        }
        scanned = size;
        if (!sections.empty() && sections.back().end < 0)
            sections.back().end = size;
        return false;
    }
};

IniSnapshot::IniSnapshot()
    : m_data(std::make_shared<Data>())
{
}

IniSnapshot::IniSnapshot(const QString &path)
    : IniSnapshot()
{
    // The rules Document::load reads by; a file that cannot be read reads as empty.
    QFile file(path);
    if (!file.exists() || !isRegularFile(path) || QFileInfo(path).size() > MaxFileSize
        || !file.open(QIODevice::ReadOnly))
        return;
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return;
    m_data->bytes = std::move(bytes);
}

QString IniSnapshot::readText(const QString &section, const QString &key) const
{
    const Data::Section *s = m_data->section(trimBlanks(section));
    if (!s)
        return {};
    const QStringView name = trimBlanks(key);
    for (const auto &[keyName, value] : m_data->keysOf(*s)) {
        if (sameName(keyName, name))
            return value;
    }
    return {};
}

qint32 IniSnapshot::readNumber(const QString &section, const QString &key, qint32 defaultValue) const
{
    return numberValue(readText(section, key), defaultValue);
}

qint16 IniSnapshot::readShort(const QString &section, const QString &key, qint16 defaultValue) const
{
    return shortValue(readNumber(section, key, defaultValue), defaultValue);
}

QStringList IniSnapshot::readList(const QString &section) const
{
    QStringList items;
    const Data::Section *s = m_data->section(trimBlanks(section));
    if (!s)
        return items;
    // The first key of each name counts, as a look-up finds it.
    QHash<QString, QString> values;
    for (const auto &[keyName, value] : m_data->keysOf(*s)) {
        const QString folded = foldedName(keyName);
        if (!values.contains(folded))
            values.insert(folded, value);
    }
    for (int index = 1;; ++index) {
        const QString value = values.value(QString::number(index));
        if (value.isEmpty())
            break;
        items.append(value);
    }
    return items;
}

} // namespace vorlan
