#include "away/lockwatch.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace vorlan {

namespace {

const QString Login = QStringLiteral("org.freedesktop.login1");
constexpr int CallTimeoutMs = 5000;

} // namespace

LockWatch::LockWatch(QDBusConnection session, QDBusConnection system, QObject *parent)
    : QObject(parent), m_system(std::move(system))
{
    const std::pair<const char *, const char *> screenSavers[] = {
        {"/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver"},
        {"/ScreenSaver", "org.freedesktop.ScreenSaver"},
        {"/org/gnome/ScreenSaver", "org.gnome.ScreenSaver"},
    };
    for (const auto &[path, interface] : screenSavers) {
        session.connect(QString(), QLatin1String(path), QLatin1String(interface),
                        QStringLiteral("ActiveChanged"), this, SLOT(onActiveChanged(bool)));
    }

    // "auto": the session of the caller, or else the user's graphical session.
    QDBusMessage call = QDBusMessage::createMethodCall(Login, QStringLiteral("/org/freedesktop/login1"),
                                                       QStringLiteral("org.freedesktop.login1.Manager"),
                                                       QStringLiteral("GetSession"));
    call.setArguments({QStringLiteral("auto")});
    auto *watcher = new QDBusPendingCallWatcher(m_system.asyncCall(call, CallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *finished) {
        const QDBusPendingReply<QDBusObjectPath> reply = *finished;
        if (reply.isValid())
            watchSession(reply.value().path());
        finished->deleteLater();
    });
}

void LockWatch::watchSession(const QString &path)
{
    const QString interface = QStringLiteral("org.freedesktop.login1.Session");
    m_system.connect(Login, path, interface, QStringLiteral("Lock"), this, SLOT(onLock()));
    m_system.connect(Login, path, interface, QStringLiteral("Unlock"), this, SLOT(onUnlock()));
}

void LockWatch::onActiveChanged(bool active)
{
    emit lockChanged(active);
}

void LockWatch::onLock()
{
    emit lockChanged(true);
}

void LockWatch::onUnlock()
{
    emit lockChanged(false);
}

} // namespace vorlan
