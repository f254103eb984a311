#include "net/addresswatch.h"

#include <QSocketNotifier>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vorlan {

AddressWatch::AddressWatch(QObject *parent, Source source)
    : QObject(parent)
{
    m_settle.setSingleShot(true);
    connect(&m_settle, &QTimer::timeout, this, &AddressWatch::tell);
    m_lastTold.start(); // whoever made the watch has just read the addresses
    if (source == Source::Kernel)
        openKernelSource();
    else
        m_unavailable = QStringLiteral("polling chosen");
}

AddressWatch::~AddressWatch()
{
    delete m_notifier;
    if (m_fd >= 0)
        ::close(m_fd);
}

void AddressWatch::openKernelSource()
{
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) {
        m_unavailable = QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    sockaddr_nl local = {};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_IPV4_IFADDR;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        m_unavailable = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return;
    }
    m_fd = fd;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read);
    connect(m_notifier, &QSocketNotifier::activated, this, &AddressWatch::drain);
}

void AddressWatch::refreshIfStale()
{
    if (m_fd < 0 && m_lastTold.elapsed() >= StaleMs)
        tell();
}

// Takes every notification already queued: they are one burst. Only the kernel's count; a
// notification lost to a full queue may have been a change.
void AddressWatch::drain()
{
    bool changedAddresses = false;
    alignas(nlmsghdr) char buffer[16384];
    for (;;) {
        sockaddr_nl sender = {};
        socklen_t senderSize = sizeof sender;
        const ssize_t size = ::recvfrom(m_fd, buffer, sizeof buffer, 0,
                                        reinterpret_cast<sockaddr *>(&sender), &senderSize);
        if (size < 0) {
            if (errno == ENOBUFS) {
                changedAddresses = true;
                continue;
            }
            break; // EAGAIN: the queue is empty
        }
        if (sender.nl_pid != 0)
            continue;
        int left = int(size);
        for (auto *header = reinterpret_cast<const nlmsghdr *>(buffer); NLMSG_OK(header, left);
             header = NLMSG_NEXT(header, left)) {
            if (header->nlmsg_type == RTM_NEWADDR || header->nlmsg_type == RTM_DELADDR)
                changedAddresses = true;
        }
    }
    if (!changedAddresses || m_settle.isActive())
        return;
    const qint64 since = m_lastTold.elapsed();
    if (since >= SettleMs)
        tell();
    else
        m_settle.start(int(SettleMs - since));
}

void AddressWatch::tell()
{
    m_lastTold.start();
    emit changed();
}

} // namespace vorlan
