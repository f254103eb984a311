#include "net/udpendpoint.h"

#include "base/codec.h"
#include "net/datagram.h"
#include "net/localidentity.h"
#include "net/winsockerrors.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vorlan {

namespace {

QString failureText(const char *prefix, int errnoValue)
{
    return QString::fromLatin1(prefix) + WinsockErrorText(winsockCodeFromErrno(errnoValue));
}

sockaddr_in socketAddress(const QString &dotted, quint16 port)
{
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    // Text that is not a dotted address gives the all-ones address, as the desktop peers do.
    address.sin_addr.s_addr = inet_addr(dotted.toLatin1().constData());
    return address;
}

} // namespace

UdpEndpoint::UdpEndpoint(QObject *parent)
    : QObject(parent), m_buffer(ReceiveBuffer, '\0'),
      m_oversize(QStringLiteral("recv:%1バイトを超えるデータグラムは破棄します。").arg(MaxReceived))
{
    m_clock.start();
    m_readPause.setObjectName(QStringLiteral("readPause"));
    m_readPause.setSingleShot(true);
    m_readPause.setTimerType(Qt::PreciseTimer);
    connect(&m_readPause, &QTimer::timeout, this, &UdpEndpoint::resumeReading);
}

UdpEndpoint::~UdpEndpoint()
{
    close();
}

std::optional<QString> UdpEndpoint::open(const Config &config)
{
    close();
    m_config = config;
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return QStringLiteral("Socket:生成ができませんでした。");

    auto fail = [this](const char *prefix) {
        const int error = errno;
        close();
        return std::optional<QString>(failureText(prefix, error));
    };

    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(config.port);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!config.bindAddress.isEmpty())
        inet_pton(AF_INET, config.bindAddress.toLatin1().constData(), &local.sin_addr);
    if (::bind(m_fd, reinterpret_cast<sockaddr *>(&local), sizeof local) < 0)
        return fail("bind:");
    m_tag = '1';

    const int flags = ::fcntl(m_fd, F_GETFL);
    if (flags < 0 || ::fcntl(m_fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return fail("ioctlsocket:");

    const int on = 1;
    if (::setsockopt(m_fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) < 0
        || ::setsockopt(m_fd, SOL_SOCKET, SO_SNDBUF, &SendBufferSize, sizeof SendBufferSize) < 0
        || ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &ReceiveBufferSize, sizeof ReceiveBufferSize) < 0)
        return fail("setsockopt:");

    m_readNotifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    m_writeNotifier = new QSocketNotifier(m_fd, QSocketNotifier::Write, this);
    disarm();
    connect(m_readNotifier, &QSocketNotifier::activated, this, &UdpEndpoint::txtSockIn_KeyDown);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &UdpEndpoint::txtSockIn_KeyDown);
    return std::nullopt;
}

void UdpEndpoint::close()
{
    m_tag = '0';
    delete m_readNotifier;
    delete m_writeNotifier;
    m_readNotifier = nullptr;
    m_writeNotifier = nullptr;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void UdpEndpoint::disarm()
{
    if (m_readNotifier)
        m_readNotifier->setEnabled(false);
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
}

void UdpEndpoint::armRead()
{
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
    if (m_readNotifier)
        m_readNotifier->setEnabled(true);
}

void UdpEndpoint::armWrite()
{
    if (m_readNotifier)
        m_readNotifier->setEnabled(false);
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(true);
}

bool UdpEndpoint::SendDatagram(const QString &text, const QString &address)
{
    const QByteArray bytes = encodeCp932(text);
    ++m_sends;
    int error = 0;
    if (bytes.size() > MaxDatagram) {
        // Callers split what they send; a datagram this long would break every receiver.
        error = EMSGSIZE;
    } else {
        if (m_fd >= 0) {
            armWrite();
            m_tag = '4';
        }
        // One call never holds the window longer than this, however many sends it makes.
        QElapsedTimer clock;
        clock.start();
        const qint64 deadline = SendBudgetMs;
        const auto sendWithin = [&](const QString &target) {
            return sendBefore({[&] { return sendTo(bytes, target); },
                               [this](int ms) {
                                   pollfd waiting = {m_fd, POLLOUT, 0};
                                   ::poll(&waiting, 1, ms);
                               },
                               [&] { return clock.elapsed(); }},
                              deadline);
        };
        // Any text that names no dotted address goes to the limited broadcast address too.
        const bool broadcast = socketAddress(address, 0).sin_addr.s_addr == INADDR_BROADCAST;
        if (broadcast && !m_config.segment.isEmpty()) {
            for (const QString &peer : std::as_const(m_config.segment)) {
                if (const int peerError = sendWithin(peer))
                    error = peerError;
            }
        } else {
            error = sendWithin(address);
        }
    }
    if (m_runEvents)
        QCoreApplication::processEvents();
    if (error != 0)
        emit failed(failureText("send:", error));
    return error == 0;
}

// One try: 0 or the errno. The datagram names MyAddress as its source; the limited broadcast
// also names the interface of MyAddress, so it leaves there even when no route covers it.
int UdpEndpoint::sendTo(const QByteArray &bytes, const QString &address)
{
    sockaddr_in target = socketAddress(address, m_config.port);
    iovec data = {const_cast<char *>(bytes.constData()), size_t(bytes.size())};
    msghdr message = {};
    message.msg_name = &target;
    message.msg_namelen = sizeof target;
    message.msg_iov = &data;
    message.msg_iovlen = 1;

    in_pktinfo info = {};
    if (!m_config.localAddress.isEmpty())
        inet_pton(AF_INET, m_config.localAddress.toLatin1().constData(), &info.ipi_spec_dst);
    if (target.sin_addr.s_addr == INADDR_BROADCAST && !m_config.localAddress.isEmpty())
        info.ipi_ifindex = int(interfaceIndexOf(m_config.localAddress));
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    if (info.ipi_spec_dst.s_addr != INADDR_ANY || info.ipi_ifindex != 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr *header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = IPPROTO_IP;
        header->cmsg_type = IP_PKTINFO;
        header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        std::memcpy(CMSG_DATA(header), &info, sizeof info);
    }
    if (::sendmsg(m_fd, &message, MSG_NOSIGNAL) >= 0)
        return 0;
    // MyAddress was taken off this host while the program runs: the datagram still goes, from
    // whatever address the route gives it.
    if (errno == EINVAL && message.msg_control) {
        message.msg_control = nullptr;
        message.msg_controllen = 0;
        if (::sendmsg(m_fd, &message, MSG_NOSIGNAL) >= 0)
            return 0;
    }
    return errno;
}

void UdpEndpoint::txtSockIn_KeyDown()
{
    switch (m_tag) {
    case '1':
        disarm();
        m_tag = '4';
        break;
    case '3':
        if (const qint64 wait = m_lastReadNs + ReadIntervalNs - m_clock.nsecsElapsed();
            wait > 0 && !m_moreWaiting) {
            // Too soon after the last read: the notifier rests until the interval is over.
            m_readNotifier->setEnabled(false);
            if (!m_readPause.isActive())
                m_readPause.start(int((wait + 999'999) / 1'000'000));
            break;
        }
        receiveWaiting();
        break;
    case '4':
        armRead();
        m_tag = '3';
        break;
    default:
        break;
    }
}

// While datagrams keep coming, the next read is an interval after the last one began, without
// a wake-up for the notifier in between; after a read that stopped with more perhaps waiting, at
// the next turn. A read that finds none hands the socket back to the notifier.
void UdpEndpoint::resumeReading()
{
    if (m_tag != '3' || !m_readNotifier)
        return;
    // A handler may run an event loop of its own (a message box): the notifier reads on in it.
    m_readNotifier->setEnabled(true);
    const int taken = receiveWaiting();
    if (m_tag != '3' || !m_readNotifier || taken == 0)
        return;
    m_readNotifier->setEnabled(false);
    const qint64 wait = m_moreWaiting ? 0 : m_lastReadNs + ReadIntervalNs - m_clock.nsecsElapsed();
    m_readPause.start(int(qMax<qint64>(0, wait + 999'999) / 1'000'000));
}

int UdpEndpoint::receiveWaiting()
{
    m_lastReadNs = m_clock.nsecsElapsed();
    m_moreWaiting = false;
    QElapsedTimer clock;
    clock.start();
    const quint64 sendsBefore = m_sends;
    for (int taken = 0; taken < ReadBatch; ++taken) {
        if (!receiveOne())
            return taken;
        // A handler that sent has let pending events run, this handler among them, which may
        // have taken the datagrams that followed already. Reading on here would pile more
        // lines onto a handler that has not finished; what is still waiting raises the next
        // notification instead.
        if (m_tag != '3' || m_sends != sendsBefore)
            return taken + 1;
        if (clock.elapsed() >= ReadBudgetMs) {
            m_moreWaiting = true;
            return taken + 1;
        }
    }
    m_moreWaiting = true;
    return ReadBatch;
}

bool UdpEndpoint::receiveOne()
{
    if (m_fd < 0)
        return false;
    sockaddr_in source = {};
    socklen_t sourceSize = sizeof source;
    const ssize_t received = ::recvfrom(m_fd, m_buffer.data(), size_t(m_buffer.size()), 0,
                                        reinterpret_cast<sockaddr *>(&source), &sourceSize);
    if (received < 0) {
        const int error = errno;
        if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR)
            return false; // nothing (more) waiting: stay armed
        const QString message = failureText("recv:", error);
        close();
        emit failed(message);
        return false;
    }
    if (received > MaxReceived) {
        // No desktop peer sends one, and handling them lets any sender flood the view.
        m_oversize.dropped(m_clock.elapsed());
        return true;
    }
    if (m_lastSourceText.isEmpty() || source.sin_addr.s_addr != m_lastSource) {
        char dotted[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &source.sin_addr, dotted, sizeof dotted);
        m_lastSource = source.sin_addr.s_addr;
        m_lastSourceText = QString::fromLatin1(dotted);
    }
    emit messageReceived(decodeCp932(datagramText(QByteArrayView(m_buffer.constData(), received))),
                         m_lastSourceText);
    return true;
}

} // namespace vorlan
