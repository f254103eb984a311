#pragma once

#include <QObject>
#include <QString>

namespace vorlan {

// Where the time since the user's last keyboard or mouse input on the desktop comes from, and
// whether the screen is locked.
class IdleSource : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Asks for the idle time; idleTime answers at once or shortly after, or never when the
    // desktop cannot tell.
    virtual void query() = 0;
    // Why the desktop tells no idle time, for the user; empty when it does (or may still).
    virtual QString unavailable() const = 0;

signals:
    // Milliseconds since the last input.
    void idleTime(qint64 ms);
    void lockChanged(bool locked);
};

} // namespace vorlan
