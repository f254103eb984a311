#include "base/clock.h"

namespace vorlan {

// A local time costs a look at the time-zone file (Qt asks the C library to re-read it); an
// offset can only change at a whole second, so one look per second gives the same wall time.
QDateTime SystemClock::now() const
{
    const qint64 msecs = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = msecs / 1000;
    if (second != m_second) {
        m_offset = QDateTime::fromMSecsSinceEpoch(second * 1000).offsetFromUtc();
        m_second = second;
    }
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::OffsetFromUTC, m_offset);
}

} // namespace vorlan
