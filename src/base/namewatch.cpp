#include "base/namewatch.h"

#include <QFile>
#include <QSocketNotifier>

#include <sys/inotify.h>
#include <unistd.h>

namespace vorlan {

NameWatch::NameWatch()
    : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
{
    if (m_fd < 0)
        return;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read);
    QObject::connect(m_notifier, &QSocketNotifier::activated, [this] {
        drain();
        m_happened = true;
    });
}

NameWatch::~NameWatch()
{
    delete m_notifier;
    if (m_fd >= 0)
        ::close(m_fd);
}

void NameWatch::watch(const QString &path)
{
    stop();
    if (m_fd < 0)
        return;
    // An unlink changes the link count (IN_ATTRIB) even while the file is held open, when
    // IN_DELETE_SELF would not come yet.
    m_watch = ::inotify_add_watch(m_fd, QFile::encodeName(path).constData(),
                                  IN_ATTRIB | IN_MOVE_SELF | IN_DELETE_SELF);
    m_happened = false;
}

void NameWatch::stop()
{
    if (m_watch >= 0)
        ::inotify_rm_watch(m_fd, m_watch);
    m_watch = -1;
    drain(); // what was queued concerns the old file
}

bool NameWatch::maybeChanged()
{
    if (m_watch < 0)
        return true;
    const bool happened = m_happened;
    m_happened = false;
    return happened;
}

void NameWatch::drain()
{
    if (m_fd < 0)
        return;
    alignas(inotify_event) char events[4096];
    while (::read(m_fd, events, sizeof events) > 0) {
    }
}

} // namespace vorlan
