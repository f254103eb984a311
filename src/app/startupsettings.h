#pragma once

namespace vorlan {

class MainWindow;

// The settings phase of start-up: reads Vorlan.ini and applies every setting to the window.
void applyStartupSettings(MainWindow &window);

// Writes the window's geometry to the settings file (at shutdown, normal window state only).
void saveWindowGeometry(MainWindow &window);

} // namespace vorlan
