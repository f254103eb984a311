#pragma once

class QWidget;

namespace vorlan {

class SingleInstance;

// The window back from the task bar or the tray, in front and active. A window manager that
// keeps the focus where the user has it refuses the activation; the task bar entry then asks for
// attention until the window is activated.
void bringForward(QWidget &window);

// Each later start brings the window forward. From the window's close on they are no longer
// answered: they wait for this copy to end, and then start on their own.
void bringForwardOnRequest(SingleInstance &instance, QWidget &window);

} // namespace vorlan
