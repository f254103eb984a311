#include "app/mainwindowlayout.h"

#include "app/mainwindow.h"
#include "app/splitterbar.h"
#include "app/twips.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWindowStateChangeEvent>

#include <algorithm>

namespace vorlan {

namespace {

QWidget *control(MainWindow &window, const char *name)
{
    QWidget *widget = window.findChild<QWidget *>(QLatin1String(name));
    Q_ASSERT_X(widget, "MainWindowLayout", name);
    return widget;
}

// Whether any of the window lies on a screen the user can reach.
bool onAScreen(const QRect &frame)
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    return std::any_of(screens.begin(), screens.end(),
                       [&frame](const QScreen *screen) { return screen->availableGeometry().intersects(frame); });
}

} // namespace

MainWindowLayout::MainWindowLayout(MainWindow &window)
    : m_window(window),
      m_lvMember(control(window, "lvMember")),
      m_imgResize2(control(window, "imgResize2")),
      m_buttons{control(window, "comExit"), control(window, "comDesk"), control(window, "comFree"),
                control(window, "comReload"), control(window, "comLog"), control(window, "comInfo"),
                control(window, "comOption")},
      m_rtfHomeMessage(control(window, "rtfHomeMessage")),
      m_txtSend(control(window, "txtSend")),
      m_lblCopyright(control(window, "lblCopyright")),
      m_layout(QRect())
{
    m_layout.rebase(frameTwips());
    if (auto *splitter = qobject_cast<SplitterBar *>(m_imgResize2))
        connect(splitter, &SplitterBar::dragged, this, &MainWindowLayout::imgResize2_MouseMove);
    window.installEventFilter(this);
}

qreal MainWindowLayout::dpi() const
{
    return m_window.logicalDpiY();
}

LayoutControls MainWindowLayout::controls() const
{
    LayoutControls c;
    c.lvMember = twipsGeometry(m_lvMember);
    c.imgResize2 = twipsGeometry(m_imgResize2);
    for (size_t i = 0; i < m_buttons.size(); ++i)
        c.buttons[i] = twipsGeometry(m_buttons[i]);
    c.rtfHomeMessage = twipsGeometry(m_rtfHomeMessage);
    c.txtSend = twipsGeometry(m_txtSend);
    c.lblCopyright = twipsGeometry(m_lblCopyright);
    return c;
}

void MainWindowLayout::apply(const LayoutControls &c)
{
    const auto place = [](QWidget *widget, const QRect &twips) {
        if (twipsGeometry(widget) != twips)
            setTwipsGeometry(widget, twips);
    };
    place(m_lvMember, c.lvMember);
    place(m_imgResize2, c.imgResize2);
    for (size_t i = 0; i < m_buttons.size(); ++i)
        place(m_buttons[i], c.buttons[i]);
    place(m_rtfHomeMessage, c.rtfHomeMessage);
    place(m_txtSend, c.txtSend);
    place(m_lblCopyright, c.lblCopyright);
    tellMinimumSize(c);
}

// The window manager stops a resize at the smallest size the rules accept, so a window dragged
// too narrow ends where the button row just fits. One that enforces a smaller size anyway (a
// tiling one, a small screen) gets the rules' answer instead.
void MainWindowLayout::tellMinimumSize(const LayoutControls &c)
{
    const QSize minimum = m_layout.minimumFrame(c);
    const qreal resolution = dpi();
    m_window.setMinimumSize(QSize(twipsToPixels(minimum.width(), resolution), twipsToPixels(minimum.height(), resolution))
                                .shrunkBy(m_frame)
                                .expandedTo(QSize(0, 0)));
}

QRect MainWindowLayout::framePixels() const
{
    const QRect frame = m_window.frameGeometry();
    const QRect client = m_window.geometry();
    if (frame != client)
        return frame;
    return client.marginsAdded(m_frame);
}

QRect MainWindowLayout::frameTwips() const
{
    const QRect frame = framePixels();
    const qreal resolution = dpi();
    return QRect(pixelsToTwips(frame.x(), resolution), pixelsToTwips(frame.y(), resolution),
                 pixelsToTwips(frame.width(), resolution), pixelsToTwips(frame.height(), resolution));
}

void MainWindowLayout::setFrame(const QRect &twips, bool outerSize)
{
    const qreal resolution = dpi();
    const QPoint position(twipsToPixels(twips.x(), resolution), twipsToPixels(twips.y(), resolution));
    const QSize outer(std::max(0, twipsToPixels(twips.width(), resolution)),
                      std::max(0, twipsToPixels(twips.height(), resolution)));
    if (m_frame.isNull() && outerSize)
        m_requestedSize = outer;
    // A window the program never placed stays where the window manager puts it.
    if ((m_positioned || m_window.isVisible()) && position != m_window.pos())
        m_window.move(position);
    const QSize client = outer.shrunkBy(m_frame).expandedTo(QSize(0, 0));
    if (client != m_window.size())
        m_window.resize(client);
}

void MainWindowLayout::restoreFrame(const QRect &twips, bool withPosition, bool withSize)
{
    m_positioned = m_positioned || withPosition;
    setFrame(twips, withSize);
    Form_Resize();
}

void MainWindowLayout::bringOntoScreen()
{
    const QScreen *primary = QGuiApplication::primaryScreen();
    if (!primary)
        return;
    const QRect frame = framePixels();
    QRect fitted(frame.topLeft(), frame.size().boundedTo(primary->availableVirtualGeometry().size()));
    if (m_positioned && !onAScreen(fitted)) {
        const QRect area = primary->availableGeometry();
        fitted.setSize(fitted.size().boundedTo(area.size()));
        fitted.moveTopLeft(QPoint(std::clamp(fitted.x(), area.left(), area.right() - fitted.width() + 1),
                                  std::clamp(fitted.y(), area.top(), area.bottom() - fitted.height() + 1)));
    }
    if (fitted == frame)
        return;
    const qreal resolution = dpi();
    restoreFrame(QRect(pixelsToTwips(fitted.x(), resolution), pixelsToTwips(fitted.y(), resolution),
                       pixelsToTwips(fitted.width(), resolution), pixelsToTwips(fitted.height(), resolution)),
                 false);
}

// Form_Resize: every change of the window's size, and minimising and restoring it.
void MainWindowLayout::Form_Resize()
{
    const QRect frame = frameTwips();
    if (m_requestedSize && *m_requestedSize != framePixels().size())
        m_requestedSize.reset(); // resized since: the request is history
    const LayoutChange change = m_layout.resized(controls(), frame, m_window.isMinimized());
    apply(change.controls);
    // A resize is no activation: the window manager resizes inactive windows too.
    m_window.setWindowActive(change.windowActive && m_window.isActiveWindow());
    if (change.restore)
        setFrame(*change.restore);
}

// The window system told the frame's thickness for the first time, or a new one. The client
// area did not change, so the layout must not see a change in size; an outer size the program
// asked for before the frame was known is given to the window now.
void MainWindowLayout::measureFrame()
{
    const QRect frame = m_window.frameGeometry();
    const QRect client = m_window.geometry();
    if (frame == client)
        return;
    const QMargins margins(client.left() - frame.left(), client.top() - frame.top(),
                           frame.right() - client.right(), frame.bottom() - client.bottom());
    if (margins == m_frame)
        return;
    const QMargins before = m_frame;
    m_frame = margins;
    const qreal resolution = dpi();
    const QRect previous = m_layout.previousFrame();
    if (m_requestedSize) {
        const QSize outer = *m_requestedSize;
        m_requestedSize.reset();
        const QSize clientSize = outer.shrunkBy(margins).expandedTo(QSize(0, 0));
        const QSize outerNow = clientSize.grownBy(margins);
        m_layout.rebase(QRect(previous.topLeft(), QSize(pixelsToTwips(outerNow.width(), resolution),
                                                        pixelsToTwips(outerNow.height(), resolution))));
        m_window.resize(clientSize);
        return;
    }
    const int wider = pixelsToTwips(margins.left() + margins.right(), resolution)
                      - pixelsToTwips(before.left() + before.right(), resolution);
    const int higher = pixelsToTwips(margins.top() + margins.bottom(), resolution)
                       - pixelsToTwips(before.top() + before.bottom(), resolution);
    m_layout.rebase(QRect(previous.x(), previous.y(), clampTwips(qint64(previous.width()) + wider),
                          clampTwips(qint64(previous.height()) + higher)));
}

// A move that changes no size (the user or the window manager moved the window) makes the new
// place the one an undone resize returns to, so the window never jumps back to where it stood
// when it was last resized.
void MainWindowLayout::windowMoved()
{
    const QRect frame = frameTwips();
    if (!m_window.isMinimized() && frame.size() == m_layout.previousFrame().size())
        m_layout.rebase(frame);
}

void MainWindowLayout::imgResize2_MouseMove(int offsetPixels)
{
    apply(WindowLayout::splitterMoved(controls(), pixelsToTwips(offsetPixels, dpi())));
}

bool MainWindowLayout::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != &m_window)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Move:
        measureFrame();
        windowMoved();
        break;
    case QEvent::Show:
        measureFrame();
        break;
    case QEvent::Resize:
        measureFrame();
        Form_Resize();
        break;
    case QEvent::WindowStateChange: {
        const auto *change = static_cast<QWindowStateChangeEvent *>(event);
        if (m_window.isMinimized() || (change->oldState() & Qt::WindowMinimized))
            Form_Resize();
        break;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace vorlan
