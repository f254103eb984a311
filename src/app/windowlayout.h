#pragma once

#include <QRect>

#include <array>
#include <optional>

namespace vorlan {

// The controls the main window's layout moves, in twips relative to the client area.
struct LayoutControls
{
    // The button row from right to left: comExit, comDesk, comFree, comReload, comLog, comInfo,
    // comOption. They always move together.
    static constexpr int ButtonCount = 7;
    static constexpr int DeskButton = 1;

    QRect lvMember;
    QRect imgResize2;
    std::array<QRect, ButtonCount> buttons;
    QRect rtfHomeMessage;
    QRect txtSend;
    QRect lblCopyright;

    bool operator==(const LayoutControls &) const = default;
};

// What one change of the window's size did.
struct LayoutChange
{
    LayoutControls controls;
    // The new size was too small: the outer frame (twips) to put the window to instead. Applying
    // it changes the size again, which the next call accepts without moving anything.
    std::optional<QRect> restore;
    bool windowActive = true; // false when the window was minimised
};

// The main window's resize and splitter rules. Every pane keeps its place by moving or growing
// by the change in the window's outer size since the last accepted layout, so a control the user
// (or the settings file) put somewhere stays there relative to the window's edges. A window
// narrower than the button row stops where the row fits; one too low goes back to its height.
class WindowLayout
{
public:
    // frame: the window's outer frame in twips when it is created.
    explicit WindowLayout(const QRect &frame);

    // The window's outer frame (twips) has changed, or the window was minimised or restored.
    LayoutChange resized(const LayoutControls &controls, const QRect &frame, bool minimized);

    // Takes frame as the last accepted layout without moving anything: the window was measured
    // differently, not resized.
    void rebase(const QRect &frame);
    QRect previousFrame() const;

    // A splitter drag by y twips: moves the boundary between the member list and the
    // conversation view, unless either would then be no taller than the compose box.
    static LayoutControls splitterMoved(const LayoutControls &controls, int y);

    // The smallest outer frame (twips) a resize may reach, with controls laid out for the last
    // accepted frame. Wide enough for the whole button row to lie inside the window (the row is
    // anchored to the right edge, so its leftmost button meets the left edge first), and wider
    // than 5 desk buttons; higher than 9 compose boxes.
    QSize minimumFrame(const LayoutControls &controls) const;

private:
    void acceptWidth(LayoutControls &controls, const QRect &frame);
    bool acceptHeight(LayoutControls &controls, const QRect &frame);

    int m_prevLeft;
    int m_prevTop;
    int m_prevWidth;
    int m_prevHeight;
};

} // namespace vorlan
