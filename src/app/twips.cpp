#include "app/twips.h"

#include <QVariant>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <limits>

namespace vorlan {

namespace {

constexpr char TwipsProperty[] = "vorlanTwips";

// A device that reports no resolution is taken as the common one.
qreal usableDpi(qreal dpi)
{
    return dpi > 0 ? dpi : 96.0;
}

} // namespace

int twipsToPixels(int twips, qreal dpi)
{
    const double pixels = std::round(twips * usableDpi(dpi) / 1440.0);
    return int(std::clamp<double>(pixels, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

int pixelsToTwips(int pixels, qreal dpi)
{
    return clampTwips(qint64(std::clamp<double>(std::round(pixels * 1440.0 / usableDpi(dpi)),
                                                -double(TwipsLimit), double(TwipsLimit))));
}

int clampTwips(qint64 twips)
{
    return int(std::clamp<qint64>(twips, -TwipsLimit, TwipsLimit));
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
