#pragma once

#include <QColor>

namespace vorlan {

// How far apart two colours are to the eye, as the web's accessibility guidelines measure it:
// from 1 (the same) to 21 (black and white).
double contrastRatio(const QColor &a, const QColor &b);

// Which colours read on a background. A message colour is the user's choice for one theme, and
// another theme's background may swallow it (the default, black, on a dark one): such a colour is
// shown in the theme's text colour instead.
class ReadableColors
{
public:
    // Large text, or bold, needs 3:1; a line's head is the first.
    static constexpr double MinimumContrast = 3.0;

    explicit ReadableColors(const QColor &base = Qt::white);
    void setBase(const QColor &base);
    bool reads(const QColor &color) const;

private:
    QColor m_base;
    // The last colour asked about: a conversation asks about the same one line after line.
    mutable QColor m_asked;
    mutable bool m_reads = true;
};

} // namespace vorlan
