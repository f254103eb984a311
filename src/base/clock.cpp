#include "base/clock.h"

namespace vorlan {

// A local time costs a look at the time-zone file (Qt asks the C library to re-read it). The
// program shows and logs whole seconds only, and an offset from UTC can only change at a whole
// second, so the local time is made once a second and handed out until the next one.
QDateTime SystemClock::now() const
{
    const qint64 second = QDateTime::currentSecsSinceEpoch();
    if (second != m_second) {
        const int offset = QDateTime::fromSecsSinceEpoch(second).offsetFromUtc();
        m_now = QDateTime::fromSecsSinceEpoch(second, Qt::OffsetFromUTC, offset);
        m_second = second;
    }
    return m_now;
}

} // namespace vorlan
