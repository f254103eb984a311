#include "conversation/readablecolors.h"

#include <cmath>

namespace vorlan {

namespace {

double channel(float value)
{
    return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
}

double luminance(const QColor &color)
{
    const QColor rgb = color.toRgb();
    return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) + 0.0722 * channel(rgb.blueF());
}

} // namespace

double contrastRatio(const QColor &a, const QColor &b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

ReadableColors::ReadableColors(const QColor &base)
    : m_base(base)
{
}

void ReadableColors::setBase(const QColor &base)
{
    m_base = base;
    m_asked = QColor();
}

bool ReadableColors::reads(const QColor &color) const
{
    if (color != m_asked || !m_asked.isValid()) {
        m_asked = color;
        m_reads = contrastRatio(color, m_base) >= MinimumContrast;
    }
    return m_reads;
}

} // namespace vorlan
