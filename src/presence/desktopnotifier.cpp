#include "presence/desktopnotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace vorlan {

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");
const QString DefaultAction = QStringLiteral("default");
// How many of our ids a click is still recognised on.
constexpr qsizetype MaxOurs = 32;

// The summary is plain text to most servers and markup to a few, whatever they report for the
// body; escaped, it would show its entities on the first, as it is, its tags would work on the
// others. Without the three characters markup is made of, it shows the same on both: their
// full-width forms read as typed.
QString markupFree(QString text)
{
    return text.replace(u'<', u'\uFF1C').replace(u'>', u'\uFF1E').replace(u'&', u'\uFF06');
}

} // namespace

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QObject *parent)
    : QObject(parent), m_bus(std::move(bus))
{
    if (!m_bus.isConnected())
        return;
    m_bus.connect(Service, Path, Interface, QStringLiteral("ActionInvoked"), this,
                  SLOT(onActionInvoked(uint, QString)));
    m_bus.connect(Service, Path, Interface, QStringLiteral("NotificationClosed"), this,
                  SLOT(onClosed(uint, uint)));
    const QDBusMessage ask = QDBusMessage::createMethodCall(Service, Path, Interface,
                                                            QStringLiteral("GetCapabilities"));
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(ask), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        const QDBusPendingReply<QStringList> reply = *w;
        if (!reply.isError()) {
            m_markup = reply.value().contains(QStringLiteral("body-markup"));
            m_knowsServer = true;
        }
        w->deleteLater();
    });
}

void DesktopNotifier::notify(const QString &summary, const QString &body)
{
    if (!m_bus.isConnected())
        return;
    m_closeDue = false;
    if (m_asking)
        m_next = Text{summary, body};
    else
        send({summary, body});
}

void DesktopNotifier::close()
{
    m_next.reset();
    if (m_asking) {
        m_closeDue = true;
        return;
    }
    if (m_shown == 0)
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface,
                                                       QStringLiteral("CloseNotification"));
    call << m_shown;
    m_bus.call(call, QDBus::NoBlock);
    m_shown = 0;
}

void DesktopNotifier::send(const Text &text)
{
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("Notify"));
    // A server that reads the body as markup gets it escaped: a peer's line shows as typed.
    call << QStringLiteral("Vorlan") << m_shown << QStringLiteral("org.vorlan.Vorlan") << markupFree(text.summary)
         << (m_markup ? text.body.toHtmlEscaped() : text.body)
         << QStringList{DefaultAction, QStringLiteral("表示")}
         << QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("org.vorlan.Vorlan")},
                        {QStringLiteral("category"), QStringLiteral("im.received")}}
         << qint32(-1);
    // Asynchronous: a slow or absent server never holds up the conversation.
    m_asking = true;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        const QDBusPendingReply<uint> reply = *w;
        w->deleteLater();
        onNumbered(reply.isError() ? 0 : reply.value());
    });
}

void DesktopNotifier::onNumbered(uint id)
{
    m_asking = false;
    if (id != 0) {
        m_shown = id;
        m_ours.removeOne(id);
        m_ours.append(id);
        if (m_ours.size() > MaxOurs)
            m_ours.removeFirst();
    }
    if (m_closeDue) {
        m_closeDue = false;
        close();
    } else if (m_next) {
        const Text next = *m_next;
        m_next.reset();
        send(next);
    }
}

void DesktopNotifier::onActionInvoked(uint id, const QString &action)
{
    if (id != 0 && action == DefaultAction && m_ours.contains(id))
        emit activated();
}

void DesktopNotifier::onClosed(uint id, uint)
{
    // A closed notification can no longer be replaced: the next one is new.
    if (id == m_shown)
        m_shown = 0;
}

} // namespace vorlan
