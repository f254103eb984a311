#pragma once

#include <QDateTime>

namespace vorlan {

// The source of the current local time. Tests pass a clock they can set.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

// The local time of the system, to the second. Every received line asks for it twice (its time
// stamp and the log's day), so it is worked out once a second, not on every call.
class SystemClock final : public Clock
{
public:
    QDateTime now() const override;

private:
    mutable qint64 m_second = -1;
    mutable QDateTime m_now;
};

} // namespace vorlan
