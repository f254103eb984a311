#pragma once

#include <QDBusConnection>
#include <QObject>

namespace vorlan {

// Desktop notifications through the freedesktop notification service. Many desktops show no
// title-bar icon, so a blinking icon alone goes unseen there; a notification is seen on all.
// Each new notification replaces the previous one while that is still shown, so a busy
// conversation leaves one notification, not a pile.
class DesktopNotifier : public QObject
{
    Q_OBJECT
public:
    explicit DesktopNotifier(QDBusConnection bus, QObject *parent = nullptr);

    // summary: the sender; body: the line. Both show as plain text whatever markup they hold.
    void notify(const QString &summary, const QString &body);
    // The notification on screen as the server numbered it; 0 when none.
    uint shownId() const { return m_shown; }
    // The server has told whether it reads markup.
    bool knowsServer() const { return m_knowsServer; }

signals:
    // The user clicked the notification.
    void activated();

private slots:
    void onActionInvoked(uint id, const QString &action);
    void onClosed(uint id, uint reason);

private:
    QDBusConnection m_bus;
    uint m_shown = 0; // the id of the notification on screen, 0 when none
    // Whether the server reads the body as markup; assumed until it says otherwise, so that a
    // line is never taken for markup.
    bool m_markup = true;
    bool m_knowsServer = false;
};

} // namespace vorlan
