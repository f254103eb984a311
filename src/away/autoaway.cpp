#include "away/autoaway.h"

#include "away/idlesource.h"

#include <algorithm>

namespace vorlan {

namespace {

// Idle times are asked for and answered with some delay: an input counts when it is later than
// the last one known by more than this.
constexpr qint64 InputSlackMs = 1000;

} // namespace

AutoAway::AutoAway(IdleSource &source, Hooks hooks, QObject *parent)
    : QObject(parent), m_source(source), m_hooks(std::move(hooks))
{
    m_clock.start();
    m_poll.setInterval(PollMs);
    connect(&m_poll, &QTimer::timeout, &m_source, &IdleSource::query);
    connect(&m_source, &IdleSource::idleTime, this, &AutoAway::onIdle);
    connect(&m_source, &IdleSource::lockChanged, this, &AutoAway::onLock);
}

void AutoAway::setMinutes(int minutes)
{
    if (m_stopped)
        return;
    m_minutes = std::max(0, minutes);
    if (m_minutes == 0) {
        m_poll.stop();
        if (m_byItself)
            toggle(false);
        return;
    }
    if (!m_poll.isActive())
        m_poll.start();
}

QString AutoAway::unavailable() const
{
    return m_source.unavailable();
}

void AutoAway::stop()
{
    m_stopped = true;
    m_minutes = 0;
    m_poll.stop();
}

void AutoAway::deskChanged()
{
    if (!m_toggling)
        m_byItself = false;
}

void AutoAway::onIdle(qint64 ms)
{
    if (m_minutes == 0)
        return;
    const qint64 lastInput = m_clock.elapsed() - ms;
    const bool input = m_lastInput && lastInput > *m_lastInput + InputSlackMs;
    m_lastInput = lastInput;
    if (m_byItself) {
        // On a locked screen the input is the password: the unlock brings the user back.
        if (input && !m_locked)
            toggle(false);
        return;
    }
    if (!m_hooks.isAway() && ms >= qint64(m_minutes) * 60000)
        toggle(true);
}

void AutoAway::onLock(bool locked)
{
    m_locked = locked;
    if (m_minutes == 0)
        return;
    if (locked && !m_hooks.isAway())
        toggle(true);
    else if (!locked && m_byItself)
        toggle(false);
}

void AutoAway::toggle(bool byItself)
{
    m_toggling = true;
    m_hooks.toggleDesk();
    m_toggling = false;
    m_byItself = byItself;
}

} // namespace vorlan
