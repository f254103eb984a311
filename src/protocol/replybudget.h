#pragma once

#include <QHash>
#include <QList>
#include <QString>

namespace vorlan {

// How many replies this peer lets a request cause. Any host on the segment can send a request
// with a forged source address, and a 17-byte past-log request is answered with up to 4 KB: the
// reply must not become a way to flood a third party, or the segment through this peer. Past-log
// replies are limited per requesting address, and replies of every kind together by their
// bytes. A user clicking at a human pace, and a reload that makes a whole segment answer at
// once, stay far below either limit.
class ReplyBudget
{
public:
    static constexpr int PastLogPerAddress = 4;          // in any one second
    static constexpr qint64 BytesPerSecond = 64 * 1024;  // of replies of all kinds
    static constexpr qint64 WindowMs = 1000;

    // Whether a past-log reply of bytes to address may go at nowMs (a monotonic clock); when it
    // may, it is counted.
    bool takePastLog(const QString &address, qint64 bytes, qint64 nowMs);
    // The same for a version or join reply, which only the total limits.
    bool take(qint64 bytes, qint64 nowMs);

private:
    void refill(qint64 nowMs);
    void forgetOlderThan(qint64 nowMs);

    // What may still be sent, in thousandths of a byte so that every millisecond adds a whole
    // number: refilled continuously up to one second's worth.
    static constexpr qint64 Capacity = BytesPerSecond * WindowMs;
    qint64 m_credit = Capacity;
    qint64 m_refilled = 0;
    bool m_started = false;
    // The times of the past-log replies of the last second, per address. Addresses only enter
    // with a reply the total allowed, so the table holds at most what one second can send.
    QHash<QString, QList<qint64>> m_pastLogs;
    qint64 m_swept = 0;
};

} // namespace vorlan
