#include "app/windowlayout.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

using namespace vorlan;

namespace {

// The window's design: client area 8925 x 5025 twips, the controls where the designer put them.
const QRect Design(0, 0, 8925, 5025);

LayoutControls design()
{
    LayoutControls c;
    c.lvMember = {120, 120, 8655, 1575};
    c.imgResize2 = {120, 1690, 8655, 75};
    const int lefts[LayoutControls::ButtonCount] = {7800, 6720, 5640, 4560, 3480, 2400, 1320};
    for (int i = 0; i < LayoutControls::ButtonCount; ++i)
        c.buttons[i] = {lefts[i], 1800, 975, 300};
    c.rtfHomeMessage = {120, 2160, 8655, 1695};
    c.txtSend = {120, 3840, 8655, 390};
    c.lblCopyright = {120, 4320, 8685, 465};
    return c;
}

// The design with the panes widened by dW and the button row shifted with the right edge.
LayoutControls widened(LayoutControls c, int dW)
{
    for (QRect *pane : {&c.lvMember, &c.imgResize2, &c.rtfHomeMessage, &c.txtSend, &c.lblCopyright})
        pane->setWidth(pane->width() + dW);
    for (QRect &button : c.buttons)
        button.translate(dW, 0);
    return c;
}

// The list grows by list, the view by view; the splitter, the buttons and the view's top follow
// the list; the compose box and the label follow the bottom edge by bottom.
LayoutControls heightened(LayoutControls c, int list, int view, int bottom)
{
    c.lvMember.setHeight(c.lvMember.height() + list);
    c.imgResize2.translate(0, list);
    for (QRect &button : c.buttons)
        button.translate(0, list);
    c.rtfHomeMessage.translate(0, list);
    c.rtfHomeMessage.setHeight(c.rtfHomeMessage.height() + view);
    c.txtSend.translate(0, bottom);
    c.lblCopyright.translate(0, bottom);
    return c;
}

LayoutControls withHeights(int list, int view)
{
    LayoutControls c = design();
    c.lvMember.setHeight(list);
    c.rtfHomeMessage.setHeight(view);
    return c;
}

struct ResizeCase
{
    const char *name;
    LayoutControls before;
    QRect previous;       // the last accepted frame
    QRect frame;          // the new one
    bool minimized;
    LayoutControls after;
    std::optional<QRect> restore;
    bool windowActive;
};

} // namespace

TEST(WindowLayout, resize_rules)
{
    const ResizeCase cases[] = {
        {"widening by 600 stretches the panes and moves the buttons right", design(), Design,
         {0, 0, 9525, 5025}, false, widened(design(), 600), std::nullopt, true},
        {"the window's left edge moving with the width is accepted", design(), Design,
         {-600, 0, 9525, 5025}, false, widened(design(), 600), std::nullopt, true},
        // The leftmost button (1320) reaches the left edge at 8925 - 1320.
        {"narrowing past the button row stops where the row fits", design(), Design,
         {0, 0, 4875, 5025}, false, widened(design(), -1320), QRect(0, 0, 7605, 5025), true},
        {"the left edge dragged past the row stops there, the right edge staying", design(), Design,
         {5000, 0, 3925, 5025}, false, widened(design(), -1320), QRect(1320, 0, 7605, 5025), true},
        {"a move and a narrowing keep the new left edge", design(), Design, {300, 0, 4875, 5025},
         false, widened(design(), -1320), QRect(300, 0, 7605, 5025), true},
        {"the width at which the row just fits is accepted", design(), Design, {0, 0, 7605, 5025},
         false, widened(design(), -1320), std::nullopt, true},
        {"a row already past the left edge keeps the window as wide", widened(design(), -1400), Design,
         {0, 0, 8000, 5025}, false, widened(design(), -1400), QRect(0, 0, 8925, 5025), true},
        {"growing by 1000 gives 500 to the list and 500 to the view", design(), Design,
         {0, 0, 8925, 6025}, false, heightened(design(), 500, 500, 1000), std::nullopt, true},
        {"growing at the top edge", design(), Design, {0, -1000, 8925, 6025}, false,
         heightened(design(), 500, 500, 1000), std::nullopt, true},
        {"an odd change is halved to the even twip", design(), Design, {0, 0, 8925, 5025 + 1003},
         false, heightened(design(), 502, 502, 1003), std::nullopt, true},
        {"a shrink halved to the even twip", design(), Design, {0, 0, 8925, 5025 - 5}, false,
         heightened(design(), -2, -2, -5), std::nullopt, true},
        {"shrinking a list just taller than the compose box stops it at the box's height",
         withHeights(400, 1695), Design, {0, 0, 8925, 4825}, false,
         heightened(withHeights(400, 1695), -10, -190, -200), std::nullopt, true},
        {"a height of nine compose boxes is undone", design(), Design, {0, 40, 8925, 3510}, false,
         design(), QRect(0, 0, 8925, 5025), true},
        {"a view that would get no taller than the compose box undoes the height",
         withHeights(1575, 500), Design, {0, 0, 8925, 5025 - 221}, false, withHeights(1575, 500),
         QRect(0, 0, 8925, 5025), true},
        {"a width accepted while the height is undone", design(), Design, {0, 0, 9525, 3000}, false,
         widened(design(), 600), QRect(0, 0, 9525, 5025), true},
        {"minimising leaves everything and clears the activity", design(), Design, {0, 0, 1000, 300},
         true, design(), std::nullopt, false},
        {"restoring the old size changes nothing and sets the activity", design(), Design, Design,
         false, design(), std::nullopt, true},
        {"a window beyond 32,767 twips stops where the row fits", design(),
         {40000, 36000, 8925, 5025}, {44925, 36000, 4000, 5025}, false, widened(design(), -1320),
         QRect(41320, 36000, 7605, 5025), true},
        {"a window wider than 32,767 twips", design(), Design, {0, 0, 8925 + 40000, 5025}, false,
         widened(design(), 40000), std::nullopt, true},
    };
    for (const ResizeCase &c : cases) {
        SCOPED_TRACE(c.name);
        WindowLayout layout(c.previous);
        const LayoutChange change = layout.resized(c.before, c.frame, c.minimized);
        EXPECT_EQ(change.controls, c.after);
        EXPECT_EQ(change.restore, c.restore);
        EXPECT_EQ(change.windowActive, c.windowActive);
        if (change.restore) {
            // Putting the window back is itself a resize: it must settle, changing nothing more.
            const LayoutChange settled = layout.resized(change.controls, *change.restore, false);
            EXPECT_EQ(settled.controls, c.after);
            EXPECT_EQ(settled.restore, std::nullopt);
        } else if (!c.minimized) {
            EXPECT_EQ(layout.previousFrame(), c.frame);
        }
    }
}

TEST(WindowLayout, changes_add_up_from_the_last_accepted_size)
{
    WindowLayout layout(Design);
    LayoutControls c = layout.resized(design(), {0, 0, 9525, 6025}, false).controls;
    c = layout.resized(c, {0, 0, 9525, 1000}, false).controls; // undone: nothing moves
    c = layout.resized(c, {0, 0, 9525, 6025}, true).controls;  // minimised
    c = layout.resized(c, {0, 0, 8925, 5025}, false).controls; // back to the design
    EXPECT_EQ(c, design());
}

TEST(WindowLayout, the_smallest_frame_follows_the_button_row)
{
    WindowLayout layout(Design);
    EXPECT_EQ(layout.minimumFrame(design()), QSize(7605, 3511));
    LayoutControls c = layout.resized(design(), {0, 0, 9525, 5025}, false).controls;
    EXPECT_EQ(layout.minimumFrame(c), QSize(7605, 3511));
    // A row moved right (a settings file) lets the window narrow further, to 5 desk buttons.
    for (QRect &button : c.buttons)
        button.translate(4000, 0);
    EXPECT_EQ(layout.minimumFrame(c), QSize(4876, 3511));
}

TEST(WindowLayout, splitter_drags)
{
    struct DragCase
    {
        const char *name;
        int y;
        bool moves;
    };
    // Design: the list is 1575 high, the view 1695, the compose box 390.
    const DragCase cases[] = {
        {"down", 300, true},
        {"up", -300, true},
        {"up until the list is one twip taller than the box", -1184, true},
        {"up until the list is as tall as the box", -1185, false},
        {"beyond the list", -5000, false},
        {"down until the view is one twip taller than the box", 1304, true},
        {"down until the view is as tall as the box", 1305, false},
        {"beyond the view", 5000, false},
    };
    for (const DragCase &c : cases) {
        SCOPED_TRACE(c.name);
        const LayoutControls dragged = WindowLayout::splitterMoved(design(), c.y);
        if (!c.moves) {
            EXPECT_EQ(dragged, design());
            continue;
        }
        LayoutControls expected = heightened(design(), c.y, -c.y, 0);
        EXPECT_EQ(dragged, expected);
        // The view's bottom edge stays; the buttons follow the splitter.
        EXPECT_EQ(dragged.rtfHomeMessage.bottom(), design().rtfHomeMessage.bottom());
        EXPECT_EQ(dragged.buttons[6].top() - dragged.imgResize2.top(), 1800 - 1690);
    }
}
