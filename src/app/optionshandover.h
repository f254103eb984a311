#pragma once

#include "settings/optionsdialog.h"

namespace vorlan {

class MainWindow;

// What the options dialog gets to see of the window, and where "Ok" hands its values back.
OptionsHost optionsHostFor(MainWindow &window);

// "Ok" of the options dialog: the lists, the state icons, the title-bar icon and the three
// fonts from the running settings. The conversation view keeps the colours of its lines.
void applyOptions(MainWindow &window, const OptionsApplied &applied);

// Places the dialog centred over the window, outer frames included.
void centreOver(QWidget &dialog, const QWidget &window);

} // namespace vorlan
