#include "net/portargument.h"

#include <cmath>

namespace vorlan {

namespace {

// Reads the leading number the way the desktop peers' basic runtime does: blanks before it are
// skipped, then an optional sign, digits, an optional fraction and exponent; anything after the
// number is ignored, and text without a number reads as 0.
double leadingNumber(const QString &text)
{
    const QByteArray latin = text.trimmed().toLatin1();
    qsizetype end = 0;
    auto digits = [&] {
        const qsizetype start = end;
        while (end < latin.size() && latin[end] >= '0' && latin[end] <= '9')
            ++end;
        return end > start;
    };
    if (end < latin.size() && (latin[end] == '+' || latin[end] == '-'))
        ++end;
    bool any = digits();
    if (end < latin.size() && latin[end] == '.') {
        ++end;
        any = digits() || any;
    }
    if (!any)
        return 0;
    if (end < latin.size() && (latin[end] == 'e' || latin[end] == 'E')) {
        qsizetype mark = end++;
        if (end < latin.size() && (latin[end] == '+' || latin[end] == '-'))
            ++end;
        if (!digits())
            end = mark;
    }
    return latin.left(end).toDouble();
}

} // namespace

std::optional<quint16> portFromCommandLine(const QString &commandLine)
{
    if (commandLine.trimmed().isEmpty())
        return DefaultPort;
    const double rounded = std::nearbyint(leadingNumber(commandLine)); // half to even
    if (rounded == 0)
        return DefaultPort;
    if (rounded < 1 || rounded > 65535 || std::isnan(rounded))
        return std::nullopt;
    return static_cast<quint16>(rounded);
}

} // namespace vorlan
