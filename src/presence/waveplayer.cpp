#include "presence/waveplayer.h"

#include "base/regularfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibrary>

#include <utility>

namespace vorlan {

QStringList WavePlayer::moduleFolders()
{
    const QString program = QCoreApplication::applicationDirPath();
    return {program, QDir(program).filePath(QStringLiteral(VORLAN_SOUND_MODULE_DIR))};
}

WavePlayer::WavePlayer(QObject *parent, QStringList folders)
    : QObject(parent), m_folders(std::move(folders))
{
}

bool WavePlayer::available()
{
    if (m_tried)
        return m_play != nullptr;
    m_tried = true;
    for (const QString &folder : std::as_const(m_folders)) {
        const QString path = QDir(folder).filePath(QStringLiteral("vorlan-sound.so"));
        if (!QFile::exists(path))
            continue;
        // Never unloaded: the effects it made live as long as the player.
        QLibrary module(path);
        m_play = reinterpret_cast<PlayFunction>(module.resolve("vorlanPlayWave"));
        if (m_play)
            break;
    }
    return m_play != nullptr;
}

void WavePlayer::play(const QString &file)
{
    // A FIFO or a device would hold the player's loader for ever: only plain files play.
    if (file.isEmpty() || !isRegularFile(file) || !available())
        return;
    m_play(this, file);
}

} // namespace vorlan
