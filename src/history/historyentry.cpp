#include "history/historyentry.h"

#include <QMenu>
#include <QPlainTextEdit>

#include <memory>

namespace vorlan {

QMenu *historyContextMenu(QPlainTextEdit &view, const QPoint &pos, const std::function<void()> &openHistory)
{
    QMenu *menu = view.createStandardContextMenu(pos);
    menu->setObjectName(QStringLiteral("conversationMenu"));
    menu->addSeparator();
    menu->addAction(QStringLiteral("履歴"), &view, openHistory);
    return menu;
}

void addHistoryToContextMenu(QPlainTextEdit &view, std::function<void()> openHistory)
{
    view.setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(&view, &QWidget::customContextMenuRequested, &view,
                     [&view, open = std::move(openHistory)](const QPoint &pos) {
                         const std::unique_ptr<QMenu> menu(historyContextMenu(view, pos, open));
                         menu->exec(view.viewport()->mapToGlobal(pos));
                     });
}

} // namespace vorlan
