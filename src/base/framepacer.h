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
// than a frame for work nobody needs to see that often.
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
    // The time by the clock at which the pending run is due.
    qint64 dueAt() const { return m_last + m_interval; }
    // What the timer does when it fires: runs the pending work if it is due by the clock, else
    // waits on.
    void runDue();

private:
    void arm();

    qint64 m_interval;
    std::function<void()> m_work;
    std::function<qint64()> m_now;
    QTimer m_timer;
    qint64 m_last = std::numeric_limits<qint64>::min() / 2;
    bool m_pending = false;
};

} // namespace vorlan
