#pragma once

#include <QString>

namespace vorlan {

// Whether path names a regular file (directly or through symbolic links). Paths from the
// settings file are opened only then: opening a FIFO blocks until its other end is opened, and
// a device can be read for ever, so either would freeze the window.
bool isRegularFile(const QString &path);

} // namespace vorlan
