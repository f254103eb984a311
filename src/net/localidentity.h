#pragma once

#include <QString>
#include <QStringList>

namespace vorlan {

// How this host names itself to the others.
struct HostIdentity
{
    QString hostName; // MyHostName
    QString address;  // MyAddress, dotted IPv4
};

// The host's canonical name and its IPv4 address. The address is the first one the host name
// resolves to when that is an address of one of this host's interfaces and not a loopback
// address; otherwise the address of the interface carrying the default route, else the first
// up, broadcast-capable, non-loopback IPv4 interface, else the loopback address.
HostIdentity discoverHostIdentity();

// The directed broadcast address of every up, broadcast-capable, non-loopback IPv4 interface
// other than the one carrying address (where the limited broadcast leaves), without repeats.
QStringList otherBroadcastAddresses(const QString &address);

// Addresses a peer can never have, as seen from this host: the directed broadcast address of
// every interface, up or down, and every address of this host but ownAddress. A reply to one of them would
// go to the whole segment or back to this program.
QStringList hostNonPeerAddresses(const QString &ownAddress);

// The index of the interface that carries the dotted IPv4 address, or 0 when none does.
unsigned interfaceIndexOf(const QString &address);

} // namespace vorlan
