#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;

namespace vorlan {

// Tells when this host's IPv4 addresses may have changed (an address or a network added to an
// interface or taken off it), so that what is derived from them is read again then rather than
// on every datagram. The kernel's address notifications arrive through the event loop; a burst
// of them (a network manager setting up an interface) is told once at its start and once after
// it. Where the kernel's notifications cannot be had, refreshIfStale() tells at most once a
// second instead.
class AddressWatch : public QObject
{
    Q_OBJECT

public:
    // Notifications that follow a told change within this time are told together at its end.
    static constexpr int SettleMs = 50;
    // Without the kernel's notifications, the addresses are at most this old when they matter.
    static constexpr int StaleMs = 1000;

    enum class Source { Kernel, Polling };

    explicit AddressWatch(QObject *parent = nullptr, Source source = Source::Kernel);
    ~AddressWatch() override;

    // Why the kernel's notifications are not coming (then the watch polls); empty while they come.
    const QString &unavailable() const { return m_unavailable; }

    // To be called where the addresses are about to matter: without the kernel's notifications,
    // tells a change when the addresses were last read StaleMs or more ago. Costs nothing while
    // notifications come.
    void refreshIfStale();

signals:
    // The addresses may be others than when last told: read them again.
    void changed();

private:
    void openKernelSource();
    void drain();
    void tell();

    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QString m_unavailable;
    QElapsedTimer m_lastTold;
    QTimer m_settle;
};

} // namespace vorlan
