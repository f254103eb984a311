#pragma once

#include <functional>

class QMenu;
class QPoint;

namespace vorlan {

class ConversationView;

// "履歴" at the end of the view's context menu, after its own entries (copy, select all).
void addHistoryToContextMenu(ConversationView &view, std::function<void()> openHistory);

// The menu addHistoryToContextMenu shows at pos (in the view's viewport); the caller owns it.
QMenu *historyContextMenu(ConversationView &view, const QPoint &pos, const std::function<void()> &openHistory);

} // namespace vorlan
