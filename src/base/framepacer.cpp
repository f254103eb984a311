#include "base/framepacer.h"

#include <QElapsedTimer>

#include <memory>

namespace vorlan {

FramePacer::FramePacer(std::function<void()> work, QObject *parent)
    : FramePacer(FrameMs, std::move(work), parent)
{
}

FramePacer::FramePacer(qint64 intervalMs, std::function<void()> work, QObject *parent)
    : QObject(parent), m_interval(intervalMs), m_busyInterval(intervalMs), m_work(std::move(work))
{
    auto monotonic = std::make_shared<QElapsedTimer>();
    monotonic->start();
    m_now = [monotonic] { return monotonic->elapsed(); };
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &FramePacer::runDue);
}

void FramePacer::setClock(std::function<qint64()> nowMs)
{
    m_now = std::move(nowMs);
}

void FramePacer::request()
{
    if (m_pending)
        return;
    m_pending = true;
    arm();
}

bool FramePacer::runOrRequest()
{
    if (m_now() < dueAt()) {
        request();
        return false;
    }
    cancel();
    start();
    work();
    return true;
}

void FramePacer::ran()
{
    cancel();
    // The work telling of itself while it runs: that run has been counted.
    if (!m_working)
        start();
}

void FramePacer::work()
{
    m_working = true;
    m_work();
    m_working = false;
}

// A run that comes within a quiet interval of the one before continues a flood: the next one
// waits the busy interval.
void FramePacer::start()
{
    const qint64 now = m_now();
    m_busy = now - m_last < m_busyInterval + m_interval;
    m_last = now;
}

void FramePacer::cancel()
{
    m_pending = false;
    m_timer.stop();
}

void FramePacer::arm()
{
    m_timer.start(int(qBound<qint64>(0, dueAt() - m_now(), m_busyInterval)));
}

void FramePacer::runDue()
{
    if (!m_pending)
        return;
    // A timer may fire a little early, and a test's clock stands still: not due yet, wait on.
    if (m_now() < dueAt()) {
        arm();
        return;
    }
    m_pending = false;
    start();
    work();
}

} // namespace vorlan
