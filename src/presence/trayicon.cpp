#include "presence/trayicon.h"

#include "presence/plaintext.h"

#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

namespace vorlan {

TrayIcon::TrayIcon(QWidget &window, std::function<void()> raiseWindow, QObject *parent)
    : QObject(parent), m_tray(new QSystemTrayIcon(window.windowIcon(), this))
{
    const auto follow = [tray = m_tray](const QString &title) {
        tray->setToolTip(toolTipShowing(shownCaption(title)));
    };
    follow(window.windowTitle());
    // Following the window rather than the blink keeps the two the same whoever sets the icon
    // (the blink, the desk button, the options dialog).
    connect(&window, &QWidget::windowIconChanged, m_tray, &QSystemTrayIcon::setIcon);
    connect(&window, &QWidget::windowTitleChanged, m_tray, follow);
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [raise = std::move(raiseWindow)](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    raise();
            });
    auto *menu = new QMenu(&window);
    menu->addAction(QStringLiteral("履歴"), this, &TrayIcon::historyRequested);
    m_tray->setContextMenu(menu);
    m_tray->show();
}

} // namespace vorlan
