#include "app/twips.h"

#include <QVariant>
#include <QWidget>

#include <cmath>

namespace vorlan {

namespace {
constexpr char TwipsProperty[] = "vorlanTwips";
}

int twipsToPixels(int twips, qreal dpi)
{
    return int(std::lround(twips * dpi / 1440.0));
}

int pixelsToTwips(int pixels, qreal dpi)
{
    return int(std::lround(pixels * 1440.0 / dpi));
}

void setTwipsGeometry(QWidget *widget, const QRect &twips)
{
    const qreal dpi = widget->logicalDpiY();
    widget->setProperty(TwipsProperty, twips);
    widget->setGeometry(twipsToPixels(twips.x(), dpi), twipsToPixels(twips.y(), dpi),
                        twipsToPixels(twips.width(), dpi), twipsToPixels(twips.height(), dpi));
}

QRect twipsGeometry(const QWidget *widget)
{
    const QVariant stored = widget->property(TwipsProperty);
    if (stored.isValid())
        return stored.toRect();
    const qreal dpi = widget->logicalDpiY();
    const QRect pixels = widget->geometry();
    return QRect(pixelsToTwips(pixels.x(), dpi), pixelsToTwips(pixels.y(), dpi),
                 pixelsToTwips(pixels.width(), dpi), pixelsToTwips(pixels.height(), dpi));
}

} // namespace vorlan
