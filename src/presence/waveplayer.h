#pragma once

#include <QObject>
#include <QStringList>

namespace vorlan {

// Plays wave files without waiting for them and stays silent when a file cannot be played.
// The sound output lives in a module (vorlan-sound.so) loaded with the first sound, so a user
// who never chooses one never pays for the multimedia library at start-up. Without the module
// the player is silent too.
class WavePlayer : public QObject
{
    Q_OBJECT
public:
    // Where the module is looked for: beside the program (a build folder), then where an
    // installation puts it.
    static QStringList moduleFolders();

    explicit WavePlayer(QObject *parent = nullptr, QStringList folders = moduleFolders());

    void play(const QString &file);

    // Loads the module if that has not been tried yet; whether sounds can be played.
    bool available();
    // Whether the module was looked for yet: not before the first sound.
    bool looked() const { return m_tried; }

private:
    using PlayFunction = void (*)(QObject *, const QString &);

    QStringList m_folders;
    bool m_tried = false;
    PlayFunction m_play = nullptr;
};

} // namespace vorlan
