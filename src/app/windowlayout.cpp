#include "app/windowlayout.h"

#include "app/twips.h"

#include <algorithm>

namespace vorlan {

namespace {

// The window is too narrow when it is no wider than this many desk buttons, too low when it is
// no higher than this many compose boxes.
constexpr int MinimumWidthInButtons = 5;
constexpr int MinimumHeightInSendBoxes = 9;

// Half of a change in height, rounded to the nearest whole twip, halves to the even one.
qint64 halfToEven(qint64 change)
{
    const qint64 half = change / 2; // towards zero
    if (change % 2 != 0 && half % 2 != 0)
        return change > 0 ? half + 1 : half - 1;
    return half;
}

void addLeft(QRect &rect, qint64 delta)
{
    rect.moveLeft(clampTwips(rect.left() + delta));
}

void addTop(QRect &rect, qint64 delta)
{
    rect.moveTop(clampTwips(rect.top() + delta));
}

void addWidth(QRect &rect, qint64 delta)
{
    rect.setWidth(clampTwips(rect.width() + delta));
}

void addHeight(QRect &rect, qint64 delta)
{
    rect.setHeight(clampTwips(rect.height() + delta));
}

} // namespace

WindowLayout::WindowLayout(const QRect &frame)
{
    rebase(frame);
}

void WindowLayout::rebase(const QRect &frame)
{
    m_prevLeft = frame.left();
    m_prevTop = frame.top();
    m_prevWidth = frame.width();
    m_prevHeight = frame.height();
}

QRect WindowLayout::previousFrame() const
{
    return QRect(m_prevLeft, m_prevTop, m_prevWidth, m_prevHeight);
}

LayoutChange WindowLayout::resized(const LayoutControls &controls, const QRect &frame, bool minimized)
{
    LayoutChange change{controls, std::nullopt, !minimized};
    // A minimised window has no size worth laying out, and restoring it brings the old one back.
    if (minimized)
        return change;
    // Too narrow: the window stops at the narrowest width, the edge that stayed where it was.
    QRect wide = frame;
    const int minimum = minimumFrame(controls).width();
    if (frame.width() < minimum) {
        const qint64 right = qint64(frame.left()) + frame.width();
        const bool leftEdgeDragged = frame.left() != m_prevLeft && right == qint64(m_prevLeft) + m_prevWidth;
        wide = QRect(leftEdgeDragged ? clampTwips(right - minimum) : frame.left(), frame.top(), minimum, frame.height());
    }
    acceptWidth(change.controls, wide);
    const bool heightKept = acceptHeight(change.controls, frame);
    if (wide != frame || !heightKept) {
        change.restore = QRect(wide.left(), heightKept ? frame.top() : m_prevTop, wide.width(),
                               heightKept ? frame.height() : m_prevHeight);
    }
    return change;
}

QSize WindowLayout::minimumFrame(const LayoutControls &c) const
{
    int leftmost = c.buttons[0].left();
    for (const QRect &button : c.buttons)
        leftmost = std::min(leftmost, button.left());
    // A row already past the left edge (a settings file can put it there) keeps the width it has.
    const qint64 rowFits = qint64(m_prevWidth) - leftmost;
    const qint64 width = std::max(qint64(MinimumWidthInButtons) * c.buttons[LayoutControls::DeskButton].width() + 1,
                                  std::min(rowFits, qint64(m_prevWidth)));
    return QSize(clampTwips(width), clampTwips(qint64(MinimumHeightInSendBoxes) * c.txtSend.height() + 1));
}

void WindowLayout::acceptWidth(LayoutControls &c, const QRect &frame)
{
    // The panes stretch; the button row is anchored to the right edge.
    const qint64 dW = qint64(frame.width()) - m_prevWidth;
    for (QRect *pane : {&c.lvMember, &c.rtfHomeMessage, &c.txtSend, &c.imgResize2, &c.lblCopyright})
        addWidth(*pane, dW);
    for (QRect &button : c.buttons)
        addLeft(button, dW);
    m_prevWidth = frame.width();
    m_prevLeft = frame.left();
}

bool WindowLayout::acceptHeight(LayoutControls &c, const QRect &frame)
{
    const qint64 dH = qint64(frame.height()) - m_prevHeight;
    const qint64 half = halfToEven(dH);
    const qint64 floor = c.txtSend.height();
    if (frame.height() <= MinimumHeightInSendBoxes * floor || c.rtfHomeMessage.height() + half <= floor)
        return false;

    // The change is shared between the list and the conversation view, but the list never gets
    // lower than the compose box: then the view takes the rest.
    qint64 d = half;
    if (c.lvMember.height() + half > floor) {
        addHeight(c.lvMember, half);
        addHeight(c.rtfHomeMessage, half);
    } else {
        d = floor - c.lvMember.height();
        c.lvMember.setHeight(int(floor));
        addHeight(c.rtfHomeMessage, dH - d);
    }
    addTop(c.imgResize2, d);
    for (QRect &button : c.buttons)
        addTop(button, d);
    addTop(c.txtSend, dH);
    addTop(c.lblCopyright, dH);
    addTop(c.rtfHomeMessage, d);
    m_prevHeight = frame.height();
    m_prevTop = frame.top();
    return true;
}

LayoutControls WindowLayout::splitterMoved(const LayoutControls &controls, int y)
{
    const qint64 floor = controls.txtSend.height();
    if (controls.lvMember.height() + qint64(y) <= floor || controls.rtfHomeMessage.height() - qint64(y) <= floor)
        return controls;
    LayoutControls c = controls;
    addTop(c.imgResize2, y);
    // The view's bottom edge stays where it is.
    addTop(c.rtfHomeMessage, y);
    addHeight(c.rtfHomeMessage, -qint64(y));
    addHeight(c.lvMember, y);
    for (QRect &button : c.buttons)
        addTop(button, y);
    return c;
}

} // namespace vorlan
