#include "base/dropreport.h"

#include <cstdio>

namespace vorlan {

bool DropReport::dropped(qint64 nowMs)
{
    const bool begins = !m_running || nowMs - m_last >= QuietMs;
    m_running = true;
    m_last = nowMs;
    if (begins) {
        std::fprintf(stderr, "%s\n", m_text.toLocal8Bit().constData());
        std::fflush(stderr);
    }
    return begins;
}

} // namespace vorlan
