#pragma once

#include <QString>

namespace vorlan {

// Where Vorlan.ini lives. A copy run from its own folder (a build, a copy on a shared drive)
// keeps the file beside the executable, as the desktop peers do, so a file carried between them
// keeps working. An installed copy keeps it in the user's configuration folder: it usually cannot
// write beside itself, and where it can (a prefix in the home folder) the file does not belong
// among the installed ones.
//
// The program folder is used when its Vorlan.ini exists and can be written, or when a new file
// can be created there and the folder is not an installed prefix's bin (one with
// ../share/applications/org.vorlan.Vorlan.desktop); otherwise userConfigDir + "/Vorlan.ini" (the
// folder is created).
QString settingsFilePath(const QString &programDir, const QString &userConfigDir);

} // namespace vorlan
