#pragma once

#include <QIcon>
#include <QList>
#include <QPair>
#include <QString>
#include <optional>

namespace vorlan {

class MainWindow;
class MemberList;

// The settings phase of start-up: reads Vorlan.ini and applies every setting to the window:
// state icons, sounds, geometry, alert actions, logging, peer addresses, keywords and fonts.
// Writes the settings file only to switch an unusable log setting off.
void applyStartupSettings(MainWindow &window);

// The window's geometry as section POSITION holds it: the 26 keys X, Y, W, H, LY, LW, LH, 2Y, 2W,
// EY, EL, DY, DL, HY, HW, HH, SY, SW, CY, CW, M1 to M6 in this order, each with its value in
// twips as it is written. X, Y, W and H are the window's outer frame.
QList<QPair<QString, QString>> positionEntries(MainWindow &window);

// Writes positionEntries to section POSITION of the settings file (at shutdown, normal window
// state only).
void saveWindowGeometry(MainWindow &window);

// The four state icons the window is built with (16 and 32 pixel artwork).
enum class StateIcon { Standing, ReceivedMessage, ImportantMessage, Away };
QIcon builtInIcon(StateIcon which);

// An icon file as the user names it in the settings: any image format Qt reads (ICO, PNG, ...).
// Empty when the path is empty, names no regular file (missing, a FIFO, a device, a folder) or
// does not decode to a picture.
std::optional<QIcon> loadIconFile(const QString &path);

// Width of a member-list column in twips. Widths set through setColumnTwips read back exactly
// as set, as long as the column still has the width they gave it.
int columnTwips(const MemberList &list, int column);
void setColumnTwips(MemberList &list, int column, int twips);

} // namespace vorlan
