// The one part of the program that needs the multimedia library. It is built as a module the
// wave player loads with its first sound, so the library (and the sound server's client it
// pulls in) is not mapped at every start for users who never chose a sound.
#include <QSoundEffect>
#include <QUrl>

// Plays file through an effect kept as a child of owner, without waiting for it; silent when
// the file cannot be played.
extern "C" Q_DECL_EXPORT void vorlanPlayWave(QObject *owner, const QString &file)
{
    auto *effect = owner->findChild<QSoundEffect *>(QString(), Qt::FindDirectChildrenOnly);
    if (!effect)
        effect = new QSoundEffect(owner);
    const QUrl source = QUrl::fromLocalFile(file);
    if (effect->source() != source)
        effect->setSource(source);
    effect->play();
}
