#pragma once

#include <QStringList>

namespace vorlan {

// The least room a directed line's header and "(To:...)" leave for its text in one datagram.
inline constexpr qsizetype MinTextRoom = 1000;

// The recipient list as "(To:...)" carries it: whole when fixedBytes (the message without list
// and text) plus the list leave at least MinTextRoom of limit for the text; else cut at a
// character boundary and ended in "..." so that they do. Long names from peers would otherwise
// leave no room, and one typed line would go out one character per datagram.
QString fitRecipients(const QString &recipients, qsizetype fixedBytes, qsizetype limit);

// Splits a line into consecutive pieces, at character boundaries, such that fixedBytes plus the
// code page 932 length of each piece stays within limit. An empty line gives one empty piece;
// every piece holds at least one character, whatever the budget.
QStringList splitToFit(const QString &line, qsizetype fixedBytes, qsizetype limit);

} // namespace vorlan
