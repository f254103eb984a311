#pragma once

#include "base/dropreport.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QString>
#include <QStringList>
#include <optional>

class QSocketNotifier;

namespace vorlan {

// The one UDP socket of a peer. Readiness arrives through socket notifiers on the UI thread and
// drives the endpoint state: "1" bound, no send yet; "4" a send was made, waiting for write
// readiness; "3" armed for incoming data; "0" closed. Each received datagram is handed on as
// text, with the address it came from, through messageReceived (the caller's ProcessMessage),
// one at a time and in the order of arrival. Every datagram leaves with MyAddress as its source,
// whichever interface it takes, so peers can check that a header names its sender.
class UdpEndpoint : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxDatagram = 4094;        // the most the desktop peers accept
    static constexpr int MaxReceived = 4096;        // the most the desktop peers could receive
    static constexpr int ReceiveBuffer = 65536;     // reads any datagram whole
    static constexpr int SendBudgetMs = 100;        // the longest one SendDatagram waits for room
    static constexpr int SendBufferSize = 256 * 1024;
    static constexpr int ReceiveBufferSize = 1024 * 1024;
    // One read notification takes the datagrams already waiting, up to this many or this long,
    // so a flood costs one wake-up per batch instead of one per line, while input and timers
    // still get their turn between batches: no batch holds the event loop for 5 ms.
    static constexpr int ReadBatch = 256;
    static constexpr int ReadBudgetMs = 4;
    // Reads begin at least this far apart: in a flood the datagrams of the interval wait in the
    // socket's buffer and one read takes them all, so the program wakes a few hundred times a
    // second instead of once for every line. A datagram after a quiet spell is read at once, and
    // a read that stopped with a full batch or out of time goes on at the next turn.
    static constexpr qint64 ReadIntervalNs = 4'000'000;

    struct Config
    {
        quint16 port = 8888;
        QString bindAddress;  // empty: the wildcard address, so broadcasts arrive
        // MyAddress: the source address of every datagram sent; the limited broadcast leaves by
        // the interface that carries it, whatever the routing table says (a segment without a
        // gateway has no route for it).
        QString localAddress;
        // When not empty, a send to "255.255.255.255" goes to each of these addresses instead:
        // lets in-process tests stand a few loopback peers in for a network segment.
        QStringList segment;
    };

    explicit UdpEndpoint(QObject *parent = nullptr);
    ~UdpEndpoint() override;

    // Creates, binds and configures the socket. On failure returns the message to show
    // ("bind:" + error text, ...) and leaves the endpoint closed.
    std::optional<QString> open(const Config &config);

    // Sends text (converted to code page 932) to address on the shared port, then lets pending
    // events run. A failure is reported through failed("send:" + error text); the endpoint
    // stays open and goes back to reading. Returns false when this send failed.
    bool SendDatagram(const QString &text, const QString &address);
    // From now on a send lets no events run: the display is gone, and the window system would
    // end the program inside the event loop.
    void stopRunningEvents() { m_runEvents = false; }

    void close();

    // The state as its one-character tag: "0", "1", "3" or "4".
    QString tag() const { return QString(QChar(m_tag)); }

    // The notification sink: acts on the current state.
    void txtSockIn_KeyDown();

signals:
    void messageReceived(const QString &text, const QString &source);
    void failed(const QString &message);

private:
    int sendTo(const QByteArray &bytes, const QString &address);
    // How many datagrams it took.
    int receiveWaiting();
    void resumeReading();
    // False when nothing was waiting or the endpoint failed.
    bool receiveOne();
    void armRead();
    void armWrite();
    void disarm();

    Config m_config;
    int m_fd = -1;
    char m_tag = '0';
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QByteArray m_buffer;
    // The last sender's address as text: a flood comes from few, and the text is shared.
    quint32 m_lastSource = 0;
    QString m_lastSourceText;
    DropReport m_oversize;
    QElapsedTimer m_clock;
    qint64 m_lastReadNs = -ReadIntervalNs;
    bool m_moreWaiting = false; // the last read stopped with a full batch or out of time
    QTimer m_readPause{this}; // "readPause": the wait between a flood's reads
    quint64 m_sends = 0;
    bool m_runEvents = true;
};

} // namespace vorlan
