#include "net/localidentity.h"

#include <QFile>
#include <QSet>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <climits>
#include <memory>

namespace vorlan {

namespace {

QString dotted(const in_addr &address)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return QString::fromLatin1(text);
}

struct InterfaceAddress
{
    QString name;
    QString address;
    bool usable; // up, broadcast-capable and not loopback
    // The directed broadcast address, when broadcast-capable and not loopback, up or not: an
    // interface that comes up again is no new address, and is not read again.
    QString broadcast;
};

// The interface's own broadcast address; where none is configured (an address added without
// one, which getifaddrs reports as the address itself), the network's highest address. A
// point-to-point sized network has none.
QString directedBroadcast(const ifaddrs &entry)
{
    const in_addr own = reinterpret_cast<const sockaddr_in *>(entry.ifa_addr)->sin_addr;
    const auto *broadcast = reinterpret_cast<const sockaddr_in *>(entry.ifa_broadaddr);
    if (broadcast && broadcast->sin_family == AF_INET && broadcast->sin_addr.s_addr != INADDR_ANY
        && broadcast->sin_addr.s_addr != own.s_addr)
        return dotted(broadcast->sin_addr);
    const auto *mask = reinterpret_cast<const sockaddr_in *>(entry.ifa_netmask);
    if (!mask || mask->sin_family != AF_INET)
        return {};
    const uint32_t hostBits = ~ntohl(mask->sin_addr.s_addr);
    if (hostBits < 3)
        return {};
    in_addr highest;
    highest.s_addr = htonl(ntohl(own.s_addr) | hostBits);
    return dotted(highest);
}

QList<InterfaceAddress> interfaceAddresses()
{
    QList<InterfaceAddress> result;
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return result;
    std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> guard(list, &freeifaddrs);
    for (ifaddrs *entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        const auto *in = reinterpret_cast<const sockaddr_in *>(entry->ifa_addr);
        const unsigned flags = entry->ifa_flags;
        const bool usable = (flags & IFF_UP) && (flags & IFF_BROADCAST) && !(flags & IFF_LOOPBACK);
        QString broadcast;
        if ((flags & IFF_BROADCAST) && !(flags & IFF_LOOPBACK))
            broadcast = directedBroadcast(*entry);
        result.append({QString::fromLocal8Bit(entry->ifa_name), dotted(in->sin_addr), usable, broadcast});
    }
    return result;
}

// The interface of the default route, from the kernel's routing table.
QString defaultRouteInterface()
{
    QFile routes(QStringLiteral("/proc/net/route"));
    if (!routes.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    routes.readLine(); // column titles
    while (!routes.atEnd()) {
        const QList<QByteArray> fields = routes.readLine().simplified().split(' ');
        if (fields.size() > 1 && fields[1] == "00000000")
            return QString::fromLocal8Bit(fields[0]);
    }
    return {};
}

bool isLoopback(const QString &address)
{
    return address.startsWith(QLatin1String("127."));
}

} // namespace

HostIdentity discoverHostIdentity()
{
    char name[HOST_NAME_MAX + 1] = {};
    gethostname(name, sizeof name - 1);

    HostIdentity identity;
    identity.hostName = QString::fromLocal8Bit(name);
    QString resolved;

    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo *info = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &info) == 0 && info) {
        std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> guard(info, &freeaddrinfo);
        if (info->ai_canonname && *info->ai_canonname)
            identity.hostName = QString::fromLocal8Bit(info->ai_canonname);
        resolved = dotted(reinterpret_cast<const sockaddr_in *>(info->ai_addr)->sin_addr);
    }

    const QList<InterfaceAddress> interfaces = interfaceAddresses();
    // The resolved address counts only when this host really carries it: inside a network
    // namespace the host name still resolves to the machine's own address.
    for (const InterfaceAddress &entry : interfaces) {
        if (!resolved.isEmpty() && !isLoopback(resolved) && entry.address == resolved) {
            identity.address = resolved;
            return identity;
        }
    }
    const QString routeInterface = defaultRouteInterface();
    for (const InterfaceAddress &entry : interfaces) {
        if (!routeInterface.isEmpty() && entry.name == routeInterface && !isLoopback(entry.address)) {
            identity.address = entry.address;
            return identity;
        }
    }
    for (const InterfaceAddress &entry : interfaces) {
        if (entry.usable) {
            identity.address = entry.address;
            return identity;
        }
    }
    identity.address = QStringLiteral("127.0.0.1");
    return identity;
}

QStringList otherBroadcastAddresses(const QString &address)
{
    const QList<InterfaceAddress> all = interfaceAddresses();
    QString own;
    for (const InterfaceAddress &entry : all) {
        if (entry.address == address)
            own = entry.name;
    }
    QStringList result;
    for (const InterfaceAddress &entry : all) {
        if (entry.usable && entry.name != own && !entry.broadcast.isEmpty()
            && !result.contains(entry.broadcast))
            result.append(entry.broadcast);
    }
    return result;
}

QStringList hostNonPeerAddresses(const QString &ownAddress)
{
    QStringList result;
    for (const InterfaceAddress &entry : interfaceAddresses()) {
        for (const QString &address : {entry.broadcast, entry.address}) {
            if (!address.isEmpty() && address != ownAddress && !result.contains(address))
                result.append(address);
        }
    }
    return result;
}

unsigned interfaceIndexOf(const QString &address)
{
    for (const InterfaceAddress &entry : interfaceAddresses()) {
        if (entry.address == address)
            return if_nametoindex(entry.name.toLocal8Bit().constData());
    }
    return 0;
}

} // namespace vorlan
