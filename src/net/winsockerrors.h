#pragma once

#include <QString>

namespace vorlan {

// The Japanese text shown for a Winsock error code; a code without a text gives "(code)".
QString WinsockErrorText(int code);

// The Winsock code of the same meaning as a POSIX errno value (EADDRINUSE gives 10048, ...).
// An errno with no Winsock twin is returned unchanged, so its text becomes "(errno)".
int winsockCodeFromErrno(int errnoValue);

} // namespace vorlan
