#pragma once

#include <QDBusConnection>
#include <QObject>

namespace vorlan {

// The screen locking and unlocking, as the desktop tells it over D-Bus: the screen saver's
// ActiveChanged on the session bus (the freedesktop interface, at both paths desktops use, and
// GNOME's own), and logind's Lock and Unlock of the session the program runs in on the system
// bus. Either bus may be missing; what it would tell is then not heard.
class LockWatch : public QObject
{
    Q_OBJECT
public:
    LockWatch(QDBusConnection session, QDBusConnection system, QObject *parent = nullptr);

signals:
    void lockChanged(bool locked);

private slots:
    void onActiveChanged(bool active);
    void onLock();
    void onUnlock();

private:
    void watchSession(const QString &path);

    QDBusConnection m_system;
};

} // namespace vorlan
