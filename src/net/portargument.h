#pragma once

#include <QString>
#include <optional>

namespace vorlan {

inline constexpr quint16 DefaultPort = 8888;

// The UDP port named by the command line (the whole argument text after the program name):
// the value of its leading number, rounded half to even; empty, 0 or text that does not start
// with a number gives 8888. nullopt for a negative number or one above 65535.
std::optional<quint16> portFromCommandLine(const QString &commandLine);

} // namespace vorlan
