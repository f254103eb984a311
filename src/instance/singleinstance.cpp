#include "instance/singleinstance.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace vorlan {

namespace {

using Clock = std::chrono::steady_clock;

constexpr char RaiseRequest = 'R';
constexpr char WillRaise = 'K';
constexpr int Backlog = 16;
// A start sends its byte as soon as it is connected; one of our own user that says nothing in
// this time is dropped.
constexpr int RequestTimeoutMs = 100;
constexpr auto RetryPause = std::chrono::milliseconds(20);

int unixSocket()
{
    return ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

// Abstract: the path starts with a zero byte and is as long as the length says.
socklen_t abstractAddress(const QByteArray &name, sockaddr_un &address)
{
    address = {};
    address.sun_family = AF_UNIX;
    const size_t length = std::min(size_t(name.size()), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, name.constData(), length);
    return socklen_t(offsetof(sockaddr_un, sun_path) + 1 + length);
}

// Who is at the other end: the connecting process for the holder, the holder for a start.
bool sameUser(int fd)
{
    ucred peer = {};
    socklen_t length = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == ::geteuid();
}

int millisecondsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return int(std::max<qint64>(0, left.count()));
}

} // namespace

QByteArray instanceName(quint16 port)
{
    return "org.vorlan.Vorlan/" + QByteArray::number(::geteuid()) + '/' + QByteArray::number(port);
}

SingleInstance::SingleInstance(QByteArray name, QObject *parent)
    : QObject(parent), m_name(std::move(name))
{
}

SingleInstance::~SingleInstance()
{
    delete m_notifier;
    if (m_fd >= 0)
        ::close(m_fd);
}

SingleInstance::Start SingleInstance::start(std::chrono::milliseconds patience)
{
    const Clock::time_point deadline = Clock::now() + patience;
    for (;;) {
        switch (claim()) {
        case Claim::Won:
            return Start::First;
        case Claim::Impossible:
            return Start::Alone;
        case Claim::Held:
            break;
        }
        switch (askHolder(deadline)) {
        case Answer::Raised:
            return Start::Raised;
        case Answer::Stranger:
            return Start::Alone;
        case Answer::Gone: // it ended, or is just between binding and listening: claim again
        case Answer::None:
            break;
        }
        if (Clock::now() >= deadline)
            return Start::Alone;
        std::this_thread::sleep_for(RetryPause);
    }
}

SingleInstance::Claim SingleInstance::claim()
{
    const int fd = unixSocket();
    if (fd < 0)
        return Claim::Impossible;
    sockaddr_un address;
    const socklen_t length = abstractAddress(m_name, address);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), length) != 0) {
        const int error = errno;
        ::close(fd);
        return error == EADDRINUSE ? Claim::Held : Claim::Impossible;
    }
    if (::listen(fd, Backlog) != 0) {
        ::close(fd);
        return Claim::Impossible;
    }
    m_fd = fd;
    return Claim::Won;
}

SingleInstance::Answer SingleInstance::askHolder(Clock::time_point deadline) const
{
    const int fd = unixSocket();
    if (fd < 0)
        return Answer::None;
    sockaddr_un address;
    const socklen_t length = abstractAddress(m_name, address);
    Answer answer = Answer::Gone;
    char byte = 0;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), length) != 0) {
        answer = Answer::Gone; // not listening (yet, or any more), or its queue is full
    } else if (!sameUser(fd)) {
        answer = Answer::Stranger;
    } else if (::send(fd, &RaiseRequest, 1, MSG_NOSIGNAL) == 1) {
        pollfd reply = {fd, POLLIN, 0};
        if (::poll(&reply, 1, millisecondsUntil(deadline)) == 0)
            answer = Answer::None;
        else if (::read(fd, &byte, 1) == 1 && byte == WillRaise)
            answer = Answer::Raised;
    }
    ::close(fd);
    return answer;
}

void SingleInstance::serve()
{
    if (m_fd < 0 || m_notifier)
        return;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SingleInstance::acceptPending);
    acceptPending();
}

void SingleInstance::stopServing()
{
    if (m_notifier)
        m_notifier->setEnabled(false);
}

void SingleInstance::acceptPending()
{
    for (;;) {
        const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        pollfd request = {fd, POLLIN, 0};
        char byte = 0;
        const bool raise = sameUser(fd) && ::poll(&request, 1, RequestTimeoutMs) == 1
                           && ::read(fd, &byte, 1) == 1 && byte == RaiseRequest;
        if (raise)
            ::send(fd, &WillRaise, 1, MSG_NOSIGNAL);
        ::close(fd);
        if (raise)
            emit raiseRequested();
    }
}

} // namespace vorlan
