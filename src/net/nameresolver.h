#pragma once

#include <QString>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

namespace vorlan {

// Looks configured peers up by name. The look-up blocks the caller, but never longer than the
// time-out: a name server that does not answer must not freeze the window for long.
class NameResolver
{
public:
    static constexpr std::chrono::milliseconds DefaultTimeout{2000};

    explicit NameResolver(std::chrono::milliseconds timeout = DefaultTimeout);
    ~NameResolver();

    NameResolver(const NameResolver &) = delete;
    NameResolver &operator=(const NameResolver &) = delete;

    // The dotted text of the first IPv4 address name resolves to; empty when the name does not
    // resolve or the answer did not come in time.
    std::optional<QString> resolve(const QString &name);

private:
    struct Request;
    void reapAbandoned();

    std::chrono::milliseconds m_timeout;
    // Look-ups that ran out of time and could not be cancelled: the resolver still writes into
    // them, so they are freed only once it has finished.
    std::vector<std::unique_ptr<Request>> m_abandoned;
};

} // namespace vorlan
