#include "settings/settingslocation.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

namespace vorlan {

namespace {

const QString FileName = QStringLiteral("Vorlan.ini");

// access(W_OK) says yes to root even on a read-only mount, so try what a save would do: create
// a file in the folder.
bool canCreateIn(const QString &dir)
{
    QTemporaryFile probe(dir + QStringLiteral("/.Vorlan-XXXXXX"));
    return probe.open();
}

bool canWriteExisting(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return false;
    QFile file(path);
    return file.open(QIODevice::ReadWrite); // opening for writing truncates nothing
}

// An installed copy: the program in <prefix>/bin beside the prefix's menu entry. Such a folder may
// well be writable (a prefix in the home folder), but settings there would be lost with the next
// install or removal.
bool isInstalled(const QString &programDir)
{
    return QFileInfo(programDir).fileName() == QLatin1String("bin")
           && QFileInfo::exists(programDir
                                + QStringLiteral("/../share/applications/org.vorlan.Vorlan.desktop"));
}

} // namespace

QString settingsFilePath(const QString &programDir, const QString &userConfigDir)
{
    const QString beside = programDir + u'/' + FileName;
    if (canWriteExisting(beside) || (!isInstalled(programDir) && canCreateIn(programDir)))
        return beside;
    QDir().mkpath(userConfigDir);
    return userConfigDir + u'/' + FileName;
}

} // namespace vorlan
