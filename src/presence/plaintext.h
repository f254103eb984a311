#pragma once

#include <QString>

namespace vorlan {

// Remote text (a peer's name, a line) shown by the desktop exactly as typed, never as markup.

// The window title that shows text as it is: a window takes "[*]" for the place of its
// modified mark and drops it, unless doubled.
QString captionShowing(const QString &text);

// What a window shows for its title (it is never marked modified): the reverse of
// captionShowing.
QString shownCaption(const QString &title);

// The tool tip that shows text as it is. Qt shows text that looks like markup as rich text (a
// name "<b>boss</b>" bold, an "<img>" as a local picture); such text goes in its escaped rich
// form, other text unchanged, as tray hosts that show plain text need it.
QString toolTipShowing(const QString &text);

} // namespace vorlan
