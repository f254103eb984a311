#include "net/nameresolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace vorlan {

struct NameResolver::Request
{
    QByteArray name;
    addrinfo hints = {};
    gaicb block = {};

    ~Request()
    {
        if (block.ar_result)
            freeaddrinfo(block.ar_result);
    }

    bool finished() const { return gai_error(const_cast<gaicb *>(&block)) != EAI_INPROGRESS; }
};

namespace {

timespec remainingUntil(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::max(deadline - std::chrono::steady_clock::now(),
                               std::chrono::steady_clock::duration::zero());
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(left - seconds);
    return {time_t(seconds.count()), long(nanoseconds.count())};
}

} // namespace

NameResolver::NameResolver(std::chrono::milliseconds timeout)
    : m_timeout(timeout)
{
}

NameResolver::~NameResolver()
{
    reapAbandoned();
    // Whatever is still running belongs to the resolver's thread until it ends; the process is
    // about to end with it.
    for (std::unique_ptr<Request> &request : m_abandoned)
        static_cast<void>(request.release());
}

void NameResolver::reapAbandoned()
{
    std::erase_if(m_abandoned, [](const std::unique_ptr<Request> &request) {
        return request->finished();
    });
}

std::optional<QString> NameResolver::resolve(const QString &name)
{
    reapAbandoned();
    auto request = std::make_unique<Request>();
    request->name = name.toLocal8Bit();
    request->hints.ai_family = AF_INET;
    request->hints.ai_socktype = SOCK_DGRAM;
    request->block.ar_name = request->name.constData();
    request->block.ar_request = &request->hints;
    gaicb *list[] = {&request->block};
    if (getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr) != 0)
        return std::nullopt;

    const auto deadline = std::chrono::steady_clock::now() + m_timeout;
    while (!request->finished()) {
        const timespec left = remainingUntil(deadline);
        if (left.tv_sec == 0 && left.tv_nsec == 0)
            break;
        gai_suspend(list, 1, &left); // EAI_INTR and EAI_AGAIN both mean: look again
    }
    if (!request->finished()) {
        if (gai_cancel(&request->block) != EAI_CANCELED)
            m_abandoned.push_back(std::move(request));
        return std::nullopt;
    }
    const addrinfo *info = request->block.ar_result;
    if (gai_error(&request->block) != 0 || !info || info->ai_family != AF_INET)
        return std::nullopt;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(info->ai_addr)->sin_addr, text,
              sizeof text);
    return QString::fromLatin1(text);
}

} // namespace vorlan
