#pragma once

#include <QString>

namespace vorlan {

// Where Vorlan.ini lives. A copy run from its own folder (a build, a copy on a shared drive)
// keeps the file beside the executable, as the desktop peers do, so a file carried between them
// keeps working. An installed copy cannot write there, so the file moves to the user's
// configuration folder instead of every change being lost silently.
//
// The program folder is used when its Vorlan.ini exists and can be written, or when a new file
// can be created there; otherwise userConfigDir + "/Vorlan.ini" (the folder is created).
QString settingsFilePath(const QString &programDir, const QString &userConfigDir);

} // namespace vorlan
