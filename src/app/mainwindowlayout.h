#pragma once

#include "app/windowlayout.h"

#include <QMargins>
#include <QObject>
#include <QSize>

#include <array>
#include <optional>

class QWidget;

namespace vorlan {

class MainWindow;

// Applies the layout rules to the main window: follows the window's resize, move, show and
// state events (as an event filter on it), the splitter's drags, and places the window at a
// saved outer frame. All sizes it exchanges are twips of the window's outer frame.
class MainWindowLayout : public QObject
{
    Q_OBJECT

public:
    // Takes the window's present frame as the last accepted layout. The window's controls must
    // exist.
    explicit MainWindowLayout(MainWindow &window);

    // The outer frame, in twips: what the window system reports, or, where it reports no frame
    // (before the window is mapped, without a window manager), the client area plus the frame
    // measured when it first reported one.
    QRect frameTwips() const;

    // Start-up: puts the window at a saved outer frame (its position only when withPosition) and
    // runs the resize rules now: Qt delivers the resize event of a hidden window only when it is
    // shown, and by then the saved control geometry has been applied.
    // Without withSize the size is the present client area's, not an outer size to keep.
    void restoreFrame(const QRect &twips, bool withPosition, bool withSize = true);

    // Start-up, after the saved control geometry: a window off every screen, or larger than the
    // desktop, is brought back onto a screen; the panes follow the change in size.
    void bringOntoScreen();

    LayoutControls controls() const;
    void apply(const LayoutControls &controls);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Form_Resize();
    void imgResize2_MouseMove(int offsetPixels);
    void measureFrame();
    void tellMinimumSize(const LayoutControls &controls);
    void windowMoved();
    void setFrame(const QRect &twips, bool outerSize = true);
    QRect framePixels() const;
    qreal dpi() const;

    MainWindow &m_window;
    QWidget *m_lvMember;
    QWidget *m_imgResize2;
    std::array<QWidget *, LayoutControls::ButtonCount> m_buttons;
    QWidget *m_rtfHomeMessage;
    QWidget *m_txtSend;
    QWidget *m_lblCopyright;
    WindowLayout m_layout;
    bool m_positioned = false;  // the program placed the window; else the window manager does
    QMargins m_frame;           // frame thickness (pixels), once the window system reported it
    // The outer size (pixels) the program asked for while the frame was unknown: the window gets
    // it once the frame is known.
    std::optional<QSize> m_requestedSize;
};

} // namespace vorlan
