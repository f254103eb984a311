#include "instance/bringforward.h"

#include "instance/singleinstance.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

namespace vorlan {

namespace {

// The main window accepts every close, so its close event is its last.
class CloseWatch : public QObject
{
public:
    CloseWatch(SingleInstance &instance, QWidget &window) : QObject(&window), m_instance(instance)
    {
        window.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Close)
            m_instance.stopServing();
        return false;
    }

private:
    SingleInstance &m_instance;
};

} // namespace

void bringForward(QWidget &window)
{
    // Un-minimised into the state it had: a maximised window stays maximised.
    if (window.isMinimized())
        window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    window.activateWindow();
    // The window system answers the activation later; the attention request is taken back by
    // the activation when it comes.
    QApplication::alert(&window);
}

void bringForwardOnRequest(SingleInstance &instance, QWidget &window)
{
    QObject::connect(&instance, &SingleInstance::raiseRequested, &window,
                     [&window] { bringForward(window); });
    new CloseWatch(instance, window);
}

} // namespace vorlan
