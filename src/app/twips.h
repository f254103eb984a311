#pragma once

#include <QRect>

class QWidget;

namespace vorlan {

// Geometry is held and saved in twips (1/1440 inch); widgets are placed in pixels.
int twipsToPixels(int twips, qreal dpi);
int pixelsToTwips(int pixels, qreal dpi);

// No window or control is anywhere near this many twips (some 186,000 inches). Values from a
// settings file are held inside it, so that adding two of them can never overflow 32 bits.
constexpr int TwipsLimit = 1 << 28;
int clampTwips(qint64 twips);

// Places widget at a rectangle given in twips and remembers the twips, so that what was set is
// what is read back (pixels would round it).
void setTwipsGeometry(QWidget *widget, const QRect &twips);
QRect twipsGeometry(const QWidget *widget);

} // namespace vorlan
