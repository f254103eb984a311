#include "presence/waveplayer.h"

#include <QSoundEffect>
#include <QUrl>

namespace vorlan {

WavePlayer::WavePlayer(QObject *parent)
    : QObject(parent)
{
}

void WavePlayer::play(const QString &file)
{
    if (file.isEmpty())
        return;
    if (!m_effect)
        m_effect = new QSoundEffect(this);
    const QUrl source = QUrl::fromLocalFile(file);
    if (m_effect->source() != source)
        m_effect->setSource(source);
    m_effect->play();
}

} // namespace vorlan
