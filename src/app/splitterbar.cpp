#include "app/splitterbar.h"

#include <QMouseEvent>

#include <cmath>

namespace vorlan {

SplitterBar::SplitterBar(QWidget *parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("imgResize2"));
    setCursor(Qt::SizeVerCursor);
}

void SplitterBar::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_dragging = true;
    event->accept();
}

void SplitterBar::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
    if (m_dragging)
        emit dragged(int(std::floor(event->position().y())));
}

void SplitterBar::mouseReleaseEvent(QMouseEvent *event)
{
    // Only the button that started the drag ends it: a right click on the way changes nothing.
    if (event->button() == Qt::LeftButton)
        m_dragging = false;
    event->accept();
}

} // namespace vorlan
