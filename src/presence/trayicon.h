#pragma once

#include <QDBusConnection>
#include <QObject>
#include <functional>

class QAction;
class QIcon;
class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace vorlan {

// A system-tray icon that mirrors the window's title-bar icon (standing, away, the blink) and
// its caption (as the title bar shows it, never as markup), for desktops that show no title-bar
// icon. A click brings the window back; its menu shows the window, turns the desk state as the
// desk button does, opens the history window and ends the program.
//
// The icon follows the desktop's tray: one that starts after the program gets it, one that goes
// away takes it along. A tray is there while its watcher (org.kde.StatusNotifierWatcher) holds
// its name on the bus. Qt decides once, when the first tray icon is made, whether it talks to
// such a tray, so the icon is made only when one is there. On X11 the icon is made at once and
// kept: Qt itself follows the X11 trays, which come and go without a name on the bus. The icon
// goes to the tray only once the window has one.
class TrayIcon : public QObject
{
    Q_OBJECT
public:
    TrayIcon(QWidget &window, std::function<void()> raiseWindow, QDBusConnection bus,
             QObject *parent = nullptr);

    // The icon in the tray; null while there is no tray.
    const QSystemTrayIcon *icon() const { return m_tray; }
    QMenu &menu() const { return *m_menu; }

public slots:
    // The desk entry offers what the desk button offers: "不在通知" while at the desk.
    void setAway(bool away);

signals:
    void historyRequested();
    void deskRequested();
    void quitRequested();

private:
    void watchForTray();
    void setTrayThere(bool there);
    void follow();

    QWidget &m_window;
    std::function<void()> m_raiseWindow;
    QDBusConnection m_bus;
    QSystemTrayIcon *m_tray = nullptr;
    QMenu *m_menu;
    QAction *m_desk;
    bool m_trayThere = false;
};

} // namespace vorlan
