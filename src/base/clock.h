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

class SystemClock final : public Clock
{
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

} // namespace vorlan
