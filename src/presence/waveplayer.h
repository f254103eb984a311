#pragma once

#include <QObject>

class QSoundEffect;

namespace vorlan {

// Plays wave files without waiting for them and stays silent when a file cannot be played.
// The multimedia back end is loaded with the first sound, so a user who never chooses one
// never pays for it.
class WavePlayer : public QObject
{
    Q_OBJECT
public:
    explicit WavePlayer(QObject *parent = nullptr);

    void play(const QString &file);

private:
    QSoundEffect *m_effect = nullptr;
};

} // namespace vorlan
