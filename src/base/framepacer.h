#pragma once

#include <QObject>
#include <QTimer>

#include <functional>
#include <limits>

namespace vorlan {

// Runs a piece of work at most once per frame, however often it is asked for: the first request
// after a quiet frame runs it at the next turn of the event loop (or at once, through
// runOrRequest), later ones wait until a frame has passed since it last ran, and any number of
// requests in between make one run. What the work shows is then at most a frame old, and what
// it costs no longer follows the pace of the requests. A pacer may be given a longer interval
// than a frame for work nobody needs to see that often, and a longer one still for as long as
// the work comes every interval (a flood), where each run shows a sight nobody can follow
// anyway: the first run after a quiet spell still comes at once.
class FramePacer : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 FrameMs = 16;

    explicit FramePacer(std::function<void()> work, QObject *parent = nullptr);
    FramePacer(qint64 intervalMs, std::function<void()> work, QObject *parent = nullptr);

    // The work runs at the next turn, or an interval after it last ran if that is later.
    void request();
    // Runs the work now if an interval has passed since it last ran, and returns true; otherwise
    // requests it and returns false.
    bool runOrRequest();
    // The caller did the work itself just now: a pending run is dropped, the next one is an
    // interval away.
    void ran();
    void cancel();
    bool isPending() const { return m_pending; }

    // Milliseconds from an arbitrary start; tests put in a clock of their own. A pending run
    // then waits for that clock: the event loop runs it only once the clock says it is due.
    void setClock(std::function<qint64()> nowMs);
    // While runs follow one another with no quiet interval between them, each waits this long
    // after the last (never less than the interval).
    void setBusyInterval(qint64 intervalMs) { m_busyInterval = qMax(intervalMs, m_interval); }
    // The time by the clock at which the pending run is due.
    qint64 dueAt() const { return m_last + (m_busy ? m_busyInterval : m_interval); }
    // What the timer does when it fires: runs the pending work if it is due by the clock, else
    // waits on.
    void runDue();

private:
    void arm();
    void start();
    void work();

    qint64 m_interval;
    qint64 m_busyInterval;
    std::function<void()> m_work;
    std::function<qint64()> m_now;
    QTimer m_timer;
    qint64 m_last = std::numeric_limits<qint64>::min() / 2;
    bool m_pending = false;
    bool m_busy = false;
    bool m_working = false;
};

} // namespace vorlan
