#include "presence/blinker.h"

namespace vorlan {

void Blinker::start(qint32 count)
{
    m_count = count;
    m_floor = count <= 0 ? count - EndlessTicks : std::numeric_limits<qint32>::min();
}

Blinker::Step Blinker::tick(bool windowActive)
{
    const qint32 c = m_count;
    m_count = c - 1;
    if (c == 1 || m_count == m_floor) {
        m_count = 0;
        return {Icon::Standing, true};
    }
    Step step{Icon::Standing, false};
    if (m_phase)
        step.icon = m_popIcon ? Icon::Important : Icon::Received;
    m_phase = !m_phase;
    if (windowActive) {
        m_count = 0;
        return {Icon::Standing, true};
    }
    return step;
}

} // namespace vorlan
