#include "conversation/chatsplit.h"

#include "base/codec.h"

#include <algorithm>

namespace vorlan {

QString fitRecipients(const QString &recipients, qsizetype fixedBytes, qsizetype limit)
{
    const qsizetype room = limit - MinTextRoom - fixedBytes;
    if (cp932Length(recipients) <= room)
        return recipients;
    const QString ellipsis = QStringLiteral("...");
    return cp932Left(recipients, std::max<qsizetype>(room - ellipsis.size(), 0)) + ellipsis;
}

QStringList splitToFit(const QString &line, qsizetype fixedBytes, qsizetype limit)
{
    const qsizetype budget = limit - fixedBytes;
    if (cp932Length(line) <= budget)
        return {line};

    QStringList pieces;
    qsizetype start = 0;
    while (start < line.size()) {
        // The longest prefix of the rest that fits; encoded length grows with the prefix.
        qsizetype low = start + 1;
        // Every character takes at least one byte: no piece is longer than the budget.
        qsizetype high = std::min(line.size(), start + std::max<qsizetype>(budget, 1));
        while (low < high) {
            const qsizetype middle = (low + high + 1) / 2;
            if (cp932Length(line.mid(start, middle - start)) <= budget)
                low = middle;
            else
                high = middle - 1;
        }
        qsizetype end = low;
        if (end < line.size() && line[end].isLowSurrogate() && end - 1 > start)
            --end; // never part a surrogate pair
        else if (end < line.size() && line[end].isLowSurrogate())
            ++end;
        pieces.append(line.mid(start, end - start));
        start = end;
    }
    return pieces;
}

} // namespace vorlan
