// The settings file on arbitrary bytes: the start-up's one reading of it (the snapshot) against
// a plain reading of the same bytes here, key by key, then the options dialog's "Ok" (one batch
// of writes) checked for what a write promises: it leaves the file as the same writes made one
// by one, each value reads back as written, a repeated batch changes nothing, other keys keep
// their values.
//
// Input: the file's bytes, then, after each record separator (0x1E), a text typed into the
// dialog (UTF-8, so any character a text box takes) replacing one field the dialog shows; the
// fields not given keep what the start-up read, as the dialog shows them.
//
// The snapshot finds sections by searching the raw bytes for "[" as far as a read needs, and
// decodes only the lines it must; the plain reading decodes every line and goes through all of
// them from the top for every look-up. The rules they share are few: lines end at LF with the
// CRs before it, names compare with A-Z folded and blanks trimmed, the first section and the
// first key of a name count. The file-type and 1 MiB rules stay with the unit tests: libFuzzer's
// inputs are regular files far below 1 MiB.

#include "base/codec.h"
#include "fuzzsupport.h"
#include "settings/inifile.h"
#include "settings/optionrules.h"
#include "settings/optionsave.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <iterator>
#include <limits>
#include <utility>

using namespace vorlan;
using vorlan::fuzz::require;

namespace {

using Name = std::pair<QString, QString>; // section, key

// Every write is synced to disk; in memory that costs nothing, so the fuzzer runs far faster there.
QString filePath(const char *name)
{
    const QString memory = QStringLiteral("/dev/shm");
    static QTemporaryDir folder((QFileInfo(memory).isWritable() ? memory : QDir::tempPath())
                                + QStringLiteral("/vorlan-fuzz-ini-XXXXXX"));
    return folder.filePath(QLatin1String(name));
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    require(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "cannot write the file");
    require(file.write(bytes) == bytes.size(), "cannot write the file");
}

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

QString trimmedBlanks(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

// Names compare by folding A-Z alone, blanks around them trimmed.
QString folded(const QString &name)
{
    QString text = trimmedBlanks(name);
    for (QChar &c : text) {
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() - u'A' + u'a');
    }
    return text;
}

// What the start-up reads, in its order: state icons, sounds, geometry, alerts, logging, lists,
// fonts. An empty key stands for a whole list.
QList<Name> startupNames()
{
    QList<Name> names;
    const auto add = [&names](const char *section, std::initializer_list<const char *> keys) {
        for (const char *key : keys)
            names.append({QLatin1String(section), QLatin1String(key)});
    };
    add("ICON", {"Stand", "Move", "Pop", "Desk"});
    add("WAVE", {"Move", "Pop"});
    add("OPT", {"BeepNormal", "BeepKeyWord", "BeepSpecify"});
    add("POSITION", {"X", "Y", "W", "H", "LY", "LW", "LH", "2Y", "2W", "EY", "EL", "DY", "DL", "HY",
                     "HW", "HH", "SY", "SW", "CY", "CW", "M1", "M2", "M3", "M4", "M5", "M6"});
    add("OPT", {"FT", "Notify", "CO", "UserName", "LogChk", "LogFile", "LogDir"});
    add("IP", {""});
    add("OPT", {"Normal", "KeyWord", "Specify"});
    add("KEY", {""});
    add("OPT", {"Miss"});
    for (const char *font : {"MemberFont", "MessageFont", "SendFont"}) {
        for (const char *part : {"Name", "Size", "Italic", "Bold"})
            names.append({QStringLiteral("OPT"), QLatin1String(font) + QLatin1String(part)});
    }
    return names;
}

// The sections and keys the file itself holds, found by a rough reading of its lines (the
// readers decide what they are), in file order; a key also in other spellings.
QList<Name> namesIn(const QByteArray &bytes)
{
    constexpr qsizetype Most = 32; // the reads cost a pass over the file each
    QList<Name> names;
    QString section;
    for (const QByteArray &raw : bytes.split('\n')) {
        if (names.size() >= Most)
            break;
        const QString line = trimmedBlanks(decodeCp932(raw));
        const qsizetype close = line.lastIndexOf(u']');
        const qsizetype equals = line.indexOf(u'=');
        if (line.startsWith(u'[') && close > 0) {
            section = line.mid(1, close - 1);
            names.append({section, QString()});
        } else if (equals >= 0) {
            const QString key = line.left(equals);
            names.append({section, key});
            names.append({section.toUpper(), key.toLower()});
        }
    }
    return names;
}

// The file's lines, each decoded on its own, its line end (LF and the CRs before it) and the
// blanks around it removed; looked up by going through all of them.
class PlainReading
{
public:
    explicit PlainReading(const QByteArray &bytes)
    {
        for (QByteArray raw : bytes.split('\n')) {
            while (raw.endsWith('\r'))
                raw.chop(1);
            m_lines.append(trimmedBlanks(decodeCp932(raw)));
        }
    }

    // The value of the first key of that name in the first section of that name: the text
    // after its first "=", without blanks before it or blanks and CRs after it.
    QString text(const QString &section, const QString &key) const
    {
        bool inSection = false;
        for (const QString &line : m_lines) {
            const qsizetype close = line.lastIndexOf(u']');
            if (line.startsWith(u'[') && close > 0) {
                if (inSection)
                    return {}; // a repeated section is never read
                inSection = folded(line.mid(1, close - 1)) == folded(section);
                continue;
            }
            const qsizetype equals = line.indexOf(u'=');
            if (!inSection || line.startsWith(u'[') || line.startsWith(u';') || equals < 0
                || folded(line.left(equals)) != folded(key))
                continue;
            QString value = trimmedBlanks(line.mid(equals + 1));
            while (!value.isEmpty() && (value.endsWith(u'\r') || isBlank(value.back())))
                value.chop(1);
            return value;
        }
        return {};
    }

    // The digits at the start of the text, after an optional minus sign, as a number; the
    // default when the text is empty or the number needs more than 32 bits.
    qint32 number(const QString &section, const QString &key, qint32 defaultValue) const
    {
        const QString value = text(section, key);
        if (value.isEmpty())
            return defaultValue;
        qsizetype digits = value.startsWith(u'-') ? 1 : 0;
        while (digits < value.size() && value[digits] >= u'0' && value[digits] <= u'9')
            ++digits;
        if (digits == (value.startsWith(u'-') ? 1 : 0))
            return 0;
        bool fits = false;
        const qint64 number = value.left(digits).toLongLong(&fits);
        return fits && number >= std::numeric_limits<qint32>::min()
                       && number <= std::numeric_limits<qint32>::max()
                   ? qint32(number)
                   : defaultValue;
    }

    qint16 shortNumber(const QString &section, const QString &key, qint16 defaultValue) const
    {
        const qint32 value = number(section, key, defaultValue);
        return value >= std::numeric_limits<qint16>::min() && value <= std::numeric_limits<qint16>::max()
                   ? qint16(value)
                   : defaultValue;
    }

    QStringList list(const QString &section) const
    {
        QStringList items;
        for (int index = 1;; ++index) {
            const QString item = text(section, QString::number(index));
            if (item.isEmpty())
                return items;
            items.append(item);
        }
    }

private:
    QStringList m_lines;
};

// What the plain reading gives for each name.
QHash<Name, QString> plainReads(const PlainReading &plain, const QList<Name> &names)
{
    QHash<Name, QString> reads;
    for (const Name &name : names)
        reads.insert(name, plain.text(name.first, name.second));
    return reads;
}

// Every read of a snapshot against the plain reading, in the order given: the snapshot finds
// sections only as far as a read needs, so the order is part of what is checked.
void requireSameReads(const IniFile &ini, const PlainReading &plain, const QList<Name> &names)
{
    const IniSnapshot snapshot = ini.snapshot();
    for (const auto &[section, key] : names) {
        const QString text = snapshot.readText(section, key);
        require(!text.contains(u'\n') && !text.endsWith(u'\r'), "a value holds its line end");
        require(text == plain.text(section, key), "the snapshot reads another value");
        require(snapshot.readNumber(section, key, 7) == plain.number(section, key, 7),
                "the snapshot reads another number");
        require(snapshot.readShort(section, key, 7) == plain.shortNumber(section, key, 7),
                "the snapshot reads another 16-bit number");
        if (key.isEmpty())
            require(snapshot.readList(section) == plain.list(section), "the snapshot reads another list");
    }
}

QList<Name> reversed(QList<Name> names)
{
    std::reverse(names.begin(), names.end());
    return names;
}

FontSetting fontOf(const IniSnapshot &ini, const QString &prefix)
{
    const QString opt = QStringLiteral("OPT");
    return {ini.readText(opt, prefix + QStringLiteral("Name")),
            ini.readShort(opt, prefix + QStringLiteral("Size"), 0),
            ini.readText(opt, prefix + QStringLiteral("Italic")) == QLatin1String("True"),
            ini.readText(opt, prefix + QStringLiteral("Bold")) == QLatin1String("True")};
}

// The dialog as the start-up's reading fills it, then the typed texts, field by field.
OptionValues dialogValues(const IniSnapshot &ini, const QList<QByteArray> &typed)
{
    const QString opt = QStringLiteral("OPT");
    OptionValues v;
    v.logEnabled = ini.readShort(opt, QStringLiteral("LogChk"), 0) == 1;
    v.logFolder = ini.readText(opt, QStringLiteral("LogDir"));
    v.flashText = ini.readText(opt, QStringLiteral("FT"));
    v.userName = ini.readText(opt, QStringLiteral("UserName"));
    v.honorific = ini.readText(opt, QStringLiteral("Miss"));
    v.messageColor = ini.readNumber(opt, QStringLiteral("CO"), 0);
    v.addresses = ini.readList(QStringLiteral("IP"));
    v.actions = {ini.readShort(opt, QStringLiteral("Normal"), 0), ini.readShort(opt, QStringLiteral("KeyWord"), 0),
                 ini.readShort(opt, QStringLiteral("Specify"), 0)};
    v.sounds = {ini.readShort(opt, QStringLiteral("BeepNormal"), 0),
                ini.readShort(opt, QStringLiteral("BeepKeyWord"), 0),
                ini.readShort(opt, QStringLiteral("BeepSpecify"), 0)};
    v.receiveWave = ini.readText(QStringLiteral("WAVE"), QStringLiteral("Move"));
    v.importantWave = ini.readText(QStringLiteral("WAVE"), QStringLiteral("Pop"));
    v.keywordText = keywordTextFromList(ini.readList(QStringLiteral("KEY")));
    const char *const icons[] = {"Stand", "Move", "Pop", "Desk"};
    for (size_t i = 0; i < 4; ++i)
        v.iconFiles[i] = ini.readText(QStringLiteral("ICON"), QLatin1String(icons[i]));
    v.fonts = {fontOf(ini, QStringLiteral("MemberFont")), fontOf(ini, QStringLiteral("MessageFont")),
               fontOf(ini, QStringLiteral("SendFont"))};
    v.notify = ini.readShort(opt, QStringLiteral("Notify"), 1) != 0;

    QString *const fields[] = {&v.userName,      &v.honorific,     &v.keywordText,     &v.logFolder,
                               &v.flashText,     &v.receiveWave,   &v.importantWave,   &v.iconFiles[0],
                               &v.iconFiles[1],  &v.iconFiles[2],  &v.iconFiles[3],    &v.fonts[0].name,
                               &v.fonts[1].name, &v.fonts[2].name};
    for (qsizetype i = 0; i < typed.size(); ++i) {
        const QString text = QString::fromUtf8(typed[i]);
        if (i < qsizetype(std::size(fields)))
            *fields[i] = text;
        else if (i == qsizetype(std::size(fields)))
            v.addresses = text.split(u'\n');
    }
    return v;
}

// What a value written reads back as: one line (a line break would split it), in code page
// 932, blanks around it trimmed.
QString readBack(const QString &value)
{
    QString line = value;
    line.replace(u'\r', u' ');
    line.replace(u'\n', u' ');
    return trimmedBlanks(decodeCp932(encodeCp932(line)));
}

// "Ok" on the file: the batch against the same writes one by one on a copy, then what each
// write promises. The file is read back through a snapshot, which reads as the file does.
void requireBatchWrite(IniFile &ini, const QList<IniWrite> &writes, const QHash<Name, QString> &before)
{
    IniFile oneByOne(filePath("one-by-one.ini"));
    writeBytes(oneByOne.path(), fileBytes(ini.path()));
    for (const IniWrite &w : writes)
        require(oneByOne.write(w.section, w.key, w.value), "a write failed");

    require(ini.writeAll(writes), "the batch failed");
    const QByteArray written = fileBytes(ini.path());
    require(written == fileBytes(oneByOne.path()), "the batch and the writes one by one differ");
    require(ini.writeAll(writes), "the repeated batch failed");
    require(fileBytes(ini.path()) == written, "a repeated batch changed the file");

    // The last write of a key is what it holds; every other key keeps its value.
    QHash<Name, QString> last;
    for (const IniWrite &w : writes)
        last.insert({folded(w.section), folded(w.key)}, w.value);
    const IniSnapshot after = ini.snapshot();
    for (const IniWrite &w : writes) {
        require(after.readText(w.section, w.key) == readBack(last.value({folded(w.section), folded(w.key)})),
                "a written value does not read back");
    }
    for (auto it = before.begin(); it != before.end(); ++it) {
        const auto &[section, key] = it.key();
        if (!last.contains({folded(section), folded(key)}))
            require(after.readText(section, key) == it.value(), "a write changed another key");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> records = vorlan::fuzz::records(data, size);
    const QByteArray &bytes = records.first();
    IniFile ini(filePath("Vorlan.ini"));
    writeBytes(ini.path(), bytes);

    const QList<Name> fileNames = namesIn(bytes);
    const QList<Name> startup = startupNames();
    const PlainReading plain(bytes);
    const QHash<Name, QString> before = plainReads(plain, startup + fileNames);
    requireSameReads(ini, plain, startup + reversed(fileNames));
    requireSameReads(ini, plain, fileNames);

    const QList<IniWrite> writes = optionWrites(dialogValues(ini.snapshot(), records.mid(1)));
    requireBatchWrite(ini, writes, before);

    const QStringList items = {QStringLiteral("a"), QStringLiteral("b")};
    require(ini.writeAll(listWrites(QStringLiteral("Ip"), items)), "the list write failed");
    require(ini.snapshot().readList(QStringLiteral("IP")) == items, "the written list does not read back");
    return 0;
}
