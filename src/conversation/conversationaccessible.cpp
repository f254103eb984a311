#include "conversation/conversationaccessible.h"

#include "conversation/conversationview.h"

#include <QWidget>

#include <limits>

namespace vorlan {

namespace {

using Place = ConversationView::Place;

int offsetOf(const ConversationView &view, Place place)
{
    return int(qMin<qsizetype>(view.offsetOf(place), std::numeric_limits<int>::max()));
}

QAccessibleInterface *conversationFactory(const QString &, QObject *object)
{
    if (auto *view = qobject_cast<ConversationView *>(object))
        return new ConversationAccessible(view);
    return nullptr;
}

} // namespace

ConversationAccessible::ConversationAccessible(ConversationView *view)
    : QAccessibleWidget(view, QAccessible::EditableText)
{
    view->startAccessibleUpdates();
}

void ConversationAccessible::install()
{
    static const bool installed = [] {
        QAccessible::installFactory(conversationFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

ConversationView *ConversationAccessible::view() const
{
    return static_cast<ConversationView *>(widget());
}

QAccessible::State ConversationAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    state.readOnly = true;
    state.multiLine = true;
    state.selectableText = true;
    return state;
}

QString ConversationAccessible::text(QAccessible::Text t) const
{
    if (t == QAccessible::Value)
        return view()->toPlainText();
    return QAccessibleWidget::text(t);
}

void *ConversationAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface *>(this);
    return QAccessibleWidget::interface_cast(type);
}

void ConversationAccessible::selection(int selectionIndex, int *startOffset, int *endOffset) const
{
    *startOffset = *endOffset = 0;
    if (selectionIndex != 0 || !view()->hasSelection())
        return;
    const auto [anchor, cursor] = view()->selection();
    *startOffset = offsetOf(*view(), qMin(anchor, cursor));
    *endOffset = offsetOf(*view(), qMax(anchor, cursor));
}

int ConversationAccessible::selectionCount() const
{
    return view()->hasSelection() ? 1 : 0;
}

void ConversationAccessible::addSelection(int startOffset, int endOffset)
{
    setSelection(0, startOffset, endOffset);
}

void ConversationAccessible::removeSelection(int selectionIndex)
{
    if (selectionIndex == 0)
        view()->clearSelection();
}

void ConversationAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    if (selectionIndex == 0)
        view()->select(view()->placeOf(startOffset), view()->placeOf(endOffset));
}

// The view has no caret: the moving end of the selection stands for it.
int ConversationAccessible::cursorPosition() const
{
    return offsetOf(*view(), view()->selection().second);
}

void ConversationAccessible::setCursorPosition(int position)
{
    const Place place = view()->placeOf(position);
    view()->select(place, place);
}

QString ConversationAccessible::text(int startOffset, int endOffset) const
{
    if (endOffset <= startOffset)
        return QString();
    return view()->text(view()->placeOf(startOffset), view()->placeOf(endOffset));
}

int ConversationAccessible::characterCount() const
{
    return int(qMin<qsizetype>(view()->characterCount(), std::numeric_limits<int>::max()));
}

QRect ConversationAccessible::characterRect(int offset) const
{
    const QRect rect = view()->placeRect(view()->placeOf(offset));
    if (rect.isEmpty())
        return rect;
    return QRect(view()->viewport()->mapToGlobal(rect.topLeft()), rect.size());
}

int ConversationAccessible::offsetAtPoint(const QPoint &point) const
{
    const QPoint inside = view()->viewport()->mapFromGlobal(point);
    if (!view()->viewport()->rect().contains(inside))
        return -1;
    return offsetOf(*view(), view()->placeAt(inside));
}

void ConversationAccessible::scrollToSubstring(int startIndex, int)
{
    view()->showPlace(view()->placeOf(startIndex));
}

QString ConversationAccessible::attributes(int offset, int *startOffset, int *endOffset) const
{
    *startOffset = *endOffset = offset;
    return QString();
}

} // namespace vorlan
