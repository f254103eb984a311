#include "presence/trayicon.h"

#include "presence/plaintext.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

namespace vorlan {

namespace {

const QString TrayWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");

} // namespace

TrayIcon::TrayIcon(QWidget &window, std::function<void()> raiseWindow, QDBusConnection bus, QObject *parent)
    : QObject(parent), m_window(window), m_raiseWindow(std::move(raiseWindow)), m_bus(std::move(bus)),
      m_menu(new QMenu(&window))
{
    m_menu->addAction(QStringLiteral("表示"), this, [this] { m_raiseWindow(); });
    m_desk = m_menu->addAction(QString(), this, &TrayIcon::deskRequested);
    setAway(false);
    m_menu->addAction(QStringLiteral("履歴"), this, &TrayIcon::historyRequested);
    m_menu->addSeparator();
    m_menu->addAction(QStringLiteral("終了"), this, &TrayIcon::quitRequested);

    // Following the window rather than the blink keeps the two the same whoever sets the icon
    // (the blink, the desk button, the options dialog).
    connect(&window, &QWidget::windowIconChanged, this, [this](const QIcon &icon) {
        if (m_tray)
            m_tray->setIcon(icon);
        follow();
    });
    connect(&window, &QWidget::windowTitleChanged, this, [this](const QString &title) {
        if (m_tray)
            m_tray->setToolTip(toolTipShowing(shownCaption(title)));
    });
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        setTrayThere(true);
    else
        watchForTray();
}

void TrayIcon::setAway(bool away)
{
    m_desk->setText(away ? QStringLiteral("在席通知") : QStringLiteral("不在通知"));
}

void TrayIcon::watchForTray()
{
    if (!m_bus.isConnected())
        return;
    auto *watcher = new QDBusServiceWatcher(TrayWatcher, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString &, const QString &, const QString &owner) { setTrayThere(!owner.isEmpty()); });
    QDBusMessage ask = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    ask << TrayWatcher;
    auto *answer = new QDBusPendingCallWatcher(m_bus.asyncCall(ask), this);
    connect(answer, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        const QDBusPendingReply<bool> reply = *w;
        w->deleteLater();
        if (!reply.isError() && reply.value())
            setTrayThere(true);
    });
}

void TrayIcon::setTrayThere(bool there)
{
    m_trayThere = there;
    if (there && !m_tray) {
        m_tray = new QSystemTrayIcon(m_window.windowIcon(), this);
        m_tray->setToolTip(toolTipShowing(shownCaption(m_window.windowTitle())));
        m_tray->setContextMenu(m_menu);
        connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                m_raiseWindow();
        });
    }
    follow();
}

// Shown without an icon, the tray would hold an empty place (and Qt warns).
void TrayIcon::follow()
{
    if (m_tray)
        m_tray->setVisible(m_trayThere && !m_tray->icon().isNull());
}

} // namespace vorlan
