#include "presence/waveplayer.h"

#include "base/regularfile.h"

#include <QSoundEffect>
#include <QUrl>

namespace vorlan {

WavePlayer::WavePlayer(QObject *parent)
    : QObject(parent)
{
}

void WavePlayer::play(const QString &file)
{
    // A FIFO or a device would hold the player's loader for ever: only plain files play.
    if (file.isEmpty() || !isRegularFile(file))
        return;
    if (!m_effect)
        m_effect = new QSoundEffect(this);
    const QUrl source = QUrl::fromLocalFile(file);
    if (m_effect->source() != source)
        m_effect->setSource(source);
    m_effect->play();
}

} // namespace vorlan
