#include "conversation/newlinesmarker.h"

#include <QAbstractScrollArea>
#include <QEvent>

namespace vorlan {

namespace {

constexpr int Margin = 4;

} // namespace

NewLinesMarker::NewLinesMarker(QAbstractScrollArea *view)
    : QToolButton(view), m_view(view)
{
    setObjectName(QStringLiteral("newLinesMarker"));
    setToolTip(QStringLiteral("新しいメッセージへ"));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    hide();
    // The viewport moves when the scroll bars come and go, the view when it is resized.
    view->installEventFilter(this);
    view->viewport()->installEventFilter(this);
}

void NewLinesMarker::addLines(qsizetype lines)
{
    if (lines <= 0)
        return;
    m_count += lines;
    setText(QStringLiteral("↓ %1").arg(m_count));
    place();
    if (isHidden()) {
        show();
        raise();
    }
}

void NewLinesMarker::clear()
{
    m_count = 0;
    hide();
}

bool NewLinesMarker::eventFilter(QObject *, QEvent *event)
{
    if (m_count > 0 && (event->type() == QEvent::Resize || event->type() == QEvent::Move))
        place();
    return false;
}

void NewLinesMarker::place()
{
    resize(sizeHint());
    const QRect area = m_view->viewport()->geometry();
    move(area.right() + 1 - width() - Margin, area.bottom() + 1 - height() - Margin);
}

} // namespace vorlan
