#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

namespace vorlan {

// Where the program's messages go. Each is written to standard error; a box shows it as well,
// unless one is open already or the window is closing. A modal box runs a nested event loop in
// which datagrams are still handled, so a peer whose replies keep failing would otherwise nest
// box in box until the stack runs out; and a box during shutdown would hold the exit.
class MessageGate
{
public:
    using Presenter = std::function<void(const QString &, QMessageBox::Icon)>;

    // Replaces the box, for tests.
    void setPresenter(Presenter presenter);
    // From now on, standard error only.
    void setClosing();

    void show(const QString &text, QMessageBox::Icon icon, QWidget *parent);

private:
    Presenter m_presenter;
    bool m_open = false;
    bool m_closing = false;
};

} // namespace vorlan
