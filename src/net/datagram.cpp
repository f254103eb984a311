#include "net/datagram.h"

#include <algorithm>
#include <cerrno>

namespace vorlan {

namespace {

constexpr int WriteWaitMs = 50;

} // namespace

QByteArray datagramText(QByteArrayView received)
{
    // The end found in place, then one copy of what is kept.
    qsizetype end = received.indexOf(QByteArrayView("\0\0", 2));
    if (end < 0)
        end = received.endsWith('\0') ? received.size() - 1 : received.size();
    return received.first(end).toByteArray();
}

int sendBefore(const SendTries &tries, qint64 deadlineMs)
{
    for (;;) {
        const int error = tries.attempt();
        if (error == 0)
            return 0;
        if (error == EINTR)
            continue;
        const bool blocked = error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS;
        const qint64 left = deadlineMs - tries.nowMs();
        if (!blocked || left <= 0)
            return error;
        tries.waitWritable(int(std::min<qint64>(left, WriteWaitMs)));
    }
}

} // namespace vorlan
