#pragma once

#include <QStringList>

namespace vorlan {

// Splits a line into consecutive pieces, at character boundaries, such that fixedBytes plus the
// code page 932 length of each piece stays within limit. An empty line gives one empty piece;
// every piece holds at least one character, whatever the budget.
QStringList splitToFit(const QString &line, qsizetype fixedBytes, qsizetype limit);

} // namespace vorlan
