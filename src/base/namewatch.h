#pragma once

#include <QString>

class QSocketNotifier;

namespace vorlan {

// Tells, cheaply, whether anything may have happened to a file's name since the last look: the
// file deleted, renamed, or replaced under its name. Asking the file system (stat) on every
// write would cost more than the write itself: a file whose times were read gets its inode
// rewritten by the next write, and even asking the kernel for queued events costs half a
// write. The kernel's events (inotify) are taken by the event loop instead, so what happens
// to the name is known from the next turn of the loop on. Where no watch can be set, every
// look answers "maybe".
class NameWatch
{
public:
    NameWatch();
    ~NameWatch();

    NameWatch(const NameWatch &) = delete;
    NameWatch &operator=(const NameWatch &) = delete;

    // Watches path from now on, instead of the file watched before.
    void watch(const QString &path);
    void stop();

    // True when the watched file's links, name or attributes may have changed since the
    // previous call (or since watch), or when no watch could be set.
    bool maybeChanged();

private:
    void drain();

    int m_fd = -1;
    int m_watch = -1;
    bool m_happened = false;
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace vorlan
