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

// The local time of the system. Every received line asks for it twice (its time stamp and the
// log's day), so the offset from UTC is looked up once a second, not on every call.
class SystemClock final : public Clock
{
public:
    QDateTime now() const override;

private:
    mutable qint64 m_second = -1;
    mutable int m_offset = 0;
};

} // namespace vorlan
