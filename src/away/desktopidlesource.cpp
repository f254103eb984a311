#include "away/desktopidlesource.h"

#include "away/lockwatch.h"
#include "away/x11idle.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>

namespace vorlan {

namespace {

// A desktop that is slow to answer is asked again on a later turn, not waited for.
constexpr int CallTimeoutMs = 2000;

QDBusMessage idleCall(bool mutter)
{
    if (mutter) {
        return QDBusMessage::createMethodCall(
            QStringLiteral("org.gnome.Mutter.IdleMonitor"), QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core"),
            QStringLiteral("org.gnome.Mutter.IdleMonitor"), QStringLiteral("GetIdletime"));
    }
    return QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.ScreenSaver"),
                                          QStringLiteral("/org/freedesktop/ScreenSaver"),
                                          QStringLiteral("org.freedesktop.ScreenSaver"),
                                          QStringLiteral("GetSessionIdleTime"));
}

// GNOME's monitor answers a 64-bit count, the screen saver a 32-bit one; both milliseconds
// (as the desktops that implement the screen saver's call count).
std::optional<qint64> idleFromReply(const QDBusMessage &reply)
{
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1)
        return std::nullopt;
    bool ok = false;
    const qint64 ms = reply.arguments().constFirst().toLongLong(&ok);
    return ok && ms >= 0 ? std::optional<qint64>(ms) : std::nullopt;
}

} // namespace

DesktopIdleSource::DesktopIdleSource(bool useX11, QDBusConnection session, QDBusConnection system,
                                     QObject *parent)
    : IdleSource(parent), m_session(std::move(session)),
      m_locks(new LockWatch(m_session, std::move(system), this))
{
    connect(m_locks, &LockWatch::lockChanged, this, &IdleSource::lockChanged);
    if (useX11) {
        m_method = x11IdleAvailable() ? Method::X11 : Method::None;
        if (m_method == Method::None)
            m_unavailable = QStringLiteral("X サーバーにスクリーンセーバー拡張がないため使えません");
        return;
    }
    ask(Method::Mutter);
}

DesktopIdleSource::~DesktopIdleSource() = default;

QString DesktopIdleSource::unavailable() const
{
    return m_unavailable;
}

void DesktopIdleSource::query()
{
    switch (m_method) {
    case Method::X11:
        if (const std::optional<qint64> ms = x11IdleMs())
            emit idleTime(*ms);
        break;
    case Method::Mutter:
    case Method::ScreenSaver:
        if (!m_waiting)
            ask(m_method);
        break;
    case Method::Asking:
    case Method::None:
        break;
    }
}

// While the method is still being found, a failed call tries the next one.
void DesktopIdleSource::ask(Method method)
{
    m_waiting = true;
    auto *watcher = new QDBusPendingCallWatcher(
        m_session.asyncCall(idleCall(method == Method::Mutter), CallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, method](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        m_waiting = false;
        if (const std::optional<qint64> ms = idleFromReply(call->reply())) {
            answered(method, *ms);
            return;
        }
        if (m_method != Method::Asking)
            return;
        if (method == Method::Mutter) {
            ask(Method::ScreenSaver);
            return;
        }
        m_method = Method::None;
        m_unavailable = QStringLiteral("このデスクトップは無操作時間を知らせないため使えません");
    });
}

void DesktopIdleSource::answered(Method method, qint64 ms)
{
    if (m_method == Method::Asking)
        m_method = method;
    emit idleTime(ms);
}

IdleSource *createDesktopIdleSource(QObject *parent)
{
    // XWayland counts only the input that reaches X windows: a user typing into the desktop's
    // own windows would seem idle there. The Wayland desktop itself is asked instead.
    const bool ownXServer = QGuiApplication::platformName() == QLatin1String("xcb")
                            && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    return new DesktopIdleSource(ownXServer, QDBusConnection::sessionBus(), QDBusConnection::systemBus(),
                                 parent);
}

} // namespace vorlan
