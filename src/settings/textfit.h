#pragma once

#include <QList>
#include <QRect>
#include <QSize>

class QWidget;

namespace vorlan {

// Places widget at a rectangle of the design, in twips of its parent, and keeps the rectangle so
// that fitToText can place it again.
void placeDesigned(QWidget *widget, const QRect &twips);

// Places the controls of container again so that every text (labels, check boxes, option
// buttons, tab captions, frame titles) shows whole in the font it is drawn in, and returns the
// size (pixels) container needs. The design's arrangement stays: a control that needs more room
// than the design gave it pushes everything that starts at or beyond its right or bottom edge on
// by the same amount, so columns and rows stay aligned, and a frame grows around what it holds.
// Each of layers is a set of container's children that are never shown together with another
// set (the pages of a tab strip): each is fitted on its own; the children in no layer are fitted
// with every layer and follow the one that pushes them furthest.
QSize fitToText(QWidget *container, const QSize &designTwips, const QList<QList<QWidget *>> &layers = {});

} // namespace vorlan
