#pragma once

#include <QtGlobal>

#include <optional>

namespace vorlan {

// The X screen-saver extension on the X server the program shows its window on.

// Whether the program runs on X11 and the server has the extension.
bool x11IdleAvailable();
// Milliseconds since the last input anywhere on that server's screens; empty when the
// connection is gone or the server does not answer.
std::optional<qint64> x11IdleMs();

} // namespace vorlan
