#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace vorlan {

// One piece of work at a time on a thread of its own, which the owner can stop: starting
// another stops the one before, and so does the destructor. Work looks at its cancel flag often
// (the history window's reading and searching look after every chunk), so a stop returns soon.
class BackgroundWork
{
public:
    using Work = std::function<void(const std::atomic_bool &cancel)>;

    BackgroundWork() = default;
    ~BackgroundWork();
    BackgroundWork(const BackgroundWork &) = delete;
    BackgroundWork &operator=(const BackgroundWork &) = delete;

    void start(Work work);
    // Sets the cancel flag and waits for the work to return.
    void stop();

private:
    std::atomic_bool m_cancel{false};
    std::thread m_thread;
};

} // namespace vorlan
