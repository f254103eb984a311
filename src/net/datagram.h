#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <functional>

namespace vorlan {

// The text bytes of a received datagram: up to, not including, the first pair of zero bytes.
// The end of the datagram counts as a zero byte, as the desktop peers' zero-filled buffer makes
// it, so one trailing zero never reaches the text.
QByteArray datagramText(QByteArrayView received);

// How one send is tried: attempt() returns 0 or the errno of a failed try; waitWritable(ms)
// waits at most ms for the socket to take more; nowMs() reads a monotonic clock.
struct SendTries
{
    std::function<int()> attempt;
    std::function<void(int ms)> waitWritable;
    std::function<qint64()> nowMs;
};

// Tries until the send succeeds, fails for good, or deadlineMs (on the nowMs clock) has passed;
// a send the socket keeps refusing for lack of room then counts as failed with that errno.
int sendBefore(const SendTries &tries, qint64 deadlineMs);

} // namespace vorlan
