#pragma once

#include <QDBusConnection>
#include <QList>
#include <QObject>

#include <optional>

namespace vorlan {

// Desktop notifications through the freedesktop notification service. Many desktops show no
// title-bar icon, so a blinking icon alone goes unseen there; a notification is seen on all.
// At most one notification of ours is on screen: each new one replaces it. The server numbers a
// notification only in its answer, so a notification asked for while that answer is still on its
// way waits for it and then replaces what it numbered; of several waiting, the newest is shown.
class DesktopNotifier : public QObject
{
    Q_OBJECT
public:
    explicit DesktopNotifier(QDBusConnection bus, QObject *parent = nullptr);

    // summary: the sender; body: the line. Both show as plain text whatever markup they hold.
    void notify(const QString &summary, const QString &body);
    // Takes our notification off the screen (the user has read the line); one still being asked
    // for goes as soon as it is numbered, and none waiting is shown.
    void close();
    // The notification on screen as the server numbered it; 0 when none.
    uint shownId() const { return m_shown; }
    // The server has told whether it reads markup.
    bool knowsServer() const { return m_knowsServer; }

signals:
    // The user clicked one of our notifications.
    void activated();

private slots:
    void onActionInvoked(uint id, const QString &action);
    void onClosed(uint id, uint reason);

private:
    struct Text
    {
        QString summary, body;
    };
    void send(const Text &text);
    void onNumbered(uint id);

    QDBusConnection m_bus;
    uint m_shown = 0;            // the id of the notification on screen, 0 when none
    bool m_asking = false;       // a Notify call awaits its answer
    std::optional<Text> m_next;  // what to show once that answer is in
    bool m_closeDue = false;     // close what that answer numbers
    // Ids we were given, newest last: a click on any of them is ours, also on a server that
    // stacked them instead of replacing.
    QList<uint> m_ours;
    // Whether the server reads the body as markup; assumed until it says otherwise, so that a
    // line is never taken for markup.
    bool m_markup = true;
    bool m_knowsServer = false;
};

} // namespace vorlan
