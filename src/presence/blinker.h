#pragma once

#include <QtGlobal>

#include <limits>

namespace vorlan {

// The title-bar blink of a pending alert, one step per timer tick. It knows nothing of the
// timer or the window: the caller ticks it and shows what each step says.
class Blinker
{
public:
    enum class Icon { Standing, Received, Important };

    struct Step
    {
        Icon icon;      // the icon this tick shows
        bool ended;     // the blink is over: show the standing icon and the normal caption
    };

    // A blink of FlashMinutes: held in 32 bits, so long settings blink for their full time.
    static qint32 countFor(qint16 flashMinutes) { return qint32(flashMinutes) * 60; }

    // A count of 0 or less never reaches the last tick; such a blink that the window never
    // ends stops after this many ticks, where a 16-bit counter would have run out.
    static constexpr qint32 EndlessTicks = 32768;

    // Sets the remaining ticks; the phase and the style of the previous blink stay.
    void start(qint32 count);
    void setPopIcon(bool popIcon) { m_popIcon = popIcon; }

    Step tick(bool windowActive);

    qint32 BlinkCount() const { return m_count; }
    bool BlinkPhase() const { return m_phase; }
    bool BlinkPopIcon() const { return m_popIcon; }

private:
    qint32 m_count = 0;
    bool m_phase = false;
    bool m_popIcon = false;
    qint32 m_floor = std::numeric_limits<qint32>::min();
};

} // namespace vorlan
