#pragma once

#include <functional>

class QMenu;
class QPlainTextEdit;
class QPoint;

namespace vorlan {

// "履歴" at the end of the view's context menu, after its own entries (copy, select all).
void addHistoryToContextMenu(QPlainTextEdit &view, std::function<void()> openHistory);

// The menu addHistoryToContextMenu shows at pos (in the view's viewport); the caller owns it.
QMenu *historyContextMenu(QPlainTextEdit &view, const QPoint &pos, const std::function<void()> &openHistory);

} // namespace vorlan
