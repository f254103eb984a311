#include "history/historyentry.h"

#include "conversation/conversationview.h"

#include <QMenu>

#include <memory>

namespace vorlan {

QMenu *historyContextMenu(ConversationView &view, const QPoint &, const std::function<void()> &openHistory)
{
    QMenu *menu = view.createStandardContextMenu();
    menu->setObjectName(QStringLiteral("conversationMenu"));
    menu->addSeparator();
    menu->addAction(QStringLiteral("履歴"), &view, openHistory);
    return menu;
}

void addHistoryToContextMenu(ConversationView &view, std::function<void()> openHistory)
{
    view.setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(&view, &QWidget::customContextMenuRequested, &view,
                     [&view, open = std::move(openHistory)](const QPoint &pos) {
                         const std::unique_ptr<QMenu> menu(historyContextMenu(view, pos, open));
                         menu->exec(view.viewport()->mapToGlobal(pos));
                     });
}

} // namespace vorlan
