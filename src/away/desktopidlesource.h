#pragma once

#include "away/idlesource.h"

#include <QDBusConnection>

namespace vorlan {

class LockWatch;

// The desktop's own idle time: the X screen-saver extension when the program runs on X11;
// elsewhere (Wayland) GNOME's idle monitor or else the freedesktop screen saver over D-Bus,
// whichever answers first asked. The lock state comes from LockWatch on any desktop.
class DesktopIdleSource : public IdleSource
{
    Q_OBJECT
public:
    // useX11: the program shows its window on an X server (the xcb platform).
    DesktopIdleSource(bool useX11, QDBusConnection session, QDBusConnection system,
                      QObject *parent = nullptr);
    ~DesktopIdleSource() override;

    void query() override;
    QString unavailable() const override;

private:
    enum class Method { Asking, X11, Mutter, ScreenSaver, None };

    void ask(Method method);
    void answered(Method method, qint64 ms);

    QDBusConnection m_session;
    Method m_method = Method::Asking;
    bool m_waiting = false; // a D-Bus query is out: the next waits for its answer
    QString m_unavailable;
    LockWatch *m_locks;
};

// The source for the desktop the application runs on, with the session and system buses.
IdleSource *createDesktopIdleSource(QObject *parent);

} // namespace vorlan
