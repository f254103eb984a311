#pragma once

#include <QObject>
#include <functional>

class QSystemTrayIcon;
class QWidget;

namespace vorlan {

// A system-tray icon that mirrors the window's title-bar icon (standing, away, the blink) and
// its caption (as the title bar shows it, never as markup), for desktops that show no title-bar
// icon. A click brings the window back; its menu opens the history window.
class TrayIcon : public QObject
{
    Q_OBJECT
public:
    TrayIcon(QWidget &window, std::function<void()> raiseWindow, QObject *parent = nullptr);

    const QSystemTrayIcon &icon() const { return *m_tray; }

signals:
    void historyRequested();

private:
    QSystemTrayIcon *m_tray;
};

} // namespace vorlan
