#include "protocol/replybudget.h"

#include <algorithm>

namespace vorlan {

void ReplyBudget::refill(qint64 nowMs)
{
    if (m_started)
        m_credit = std::min(Capacity, m_credit + std::max<qint64>(0, nowMs - m_refilled) * BytesPerSecond);
    m_started = true;
    m_refilled = nowMs;
}

bool ReplyBudget::take(qint64 bytes, qint64 nowMs)
{
    refill(nowMs);
    if (bytes * WindowMs > m_credit)
        return false;
    m_credit -= bytes * WindowMs;
    return true;
}

void ReplyBudget::forgetOlderThan(qint64 nowMs)
{
    for (auto it = m_pastLogs.begin(); it != m_pastLogs.end();) {
        QList<qint64> &times = it.value();
        times.removeIf([nowMs](qint64 time) { return nowMs - time >= WindowMs; });
        it = times.isEmpty() ? m_pastLogs.erase(it) : std::next(it);
    }
}

bool ReplyBudget::takePastLog(const QString &address, qint64 bytes, qint64 nowMs)
{
    if (nowMs - m_swept >= WindowMs) {
        m_swept = nowMs;
        forgetOlderThan(nowMs);
    }
    QList<qint64> &times = m_pastLogs[address];
    times.removeIf([nowMs](qint64 time) { return nowMs - time >= WindowMs; });
    if (times.size() >= PastLogPerAddress || !take(bytes, nowMs)) {
        if (times.isEmpty())
            m_pastLogs.remove(address);
        return false;
    }
    times.append(nowMs);
    return true;
}

} // namespace vorlan
