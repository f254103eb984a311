#include "net/udpendpoint.h"
#include "net/datagram.h"
#include "support/testsupport.h"
#include "base/codec.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSet>
#include <QTimer>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <random>
#include <thread>

using vorlan::UdpEndpoint;
using vorlan::test::waitFor;

namespace {

// A plain socket on a loopback address, standing in for a peer that just sends.
class RawPeer
{
public:
    explicit RawPeer(const char *address)
    {
        m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local = {};
        local.sin_family = AF_INET;
        inet_pton(AF_INET, address, &local.sin_addr);
        ::bind(m_fd, reinterpret_cast<sockaddr *>(&local), sizeof local);
    }
    ~RawPeer() { ::close(m_fd); }
    void send(const QByteArray &bytes, const char *address, quint16 port) const
    {
        sockaddr_in target = {};
        target.sin_family = AF_INET;
        target.sin_port = htons(port);
        inet_pton(AF_INET, address, &target.sin_addr);
        ::sendto(m_fd, bytes.constData(), size_t(bytes.size()), 0,
                 reinterpret_cast<sockaddr *>(&target), sizeof target);
    }

private:
    int m_fd = -1;
};

// Two endpoints on 127.0.0.2 and 127.0.0.3 sharing one port, as two peers do.
class EndpointPair : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::mt19937 random(std::random_device{}());
        for (int attempt = 0; attempt < 50; ++attempt) {
            port = quint16(20000 + random() % 40000);
            if (!a.open(config("127.0.0.2")) && !b.open(config("127.0.0.3")))
                break;
            a.close();
            b.close();
        }
        ASSERT_EQ(a.tag(), "1");
        ASSERT_EQ(b.tag(), "1");
        QObject::connect(&a, &UdpEndpoint::messageReceived, [this](const QString &t) { receivedA << t; });
        QObject::connect(&b, &UdpEndpoint::messageReceived, [this](const QString &t) { receivedB << t; });
        QObject::connect(&a, &UdpEndpoint::failed, [this](const QString &t) { failuresA << t; });
    }

    UdpEndpoint::Config config(const char *address, QStringList segment = {}) const
    {
        UdpEndpoint::Config c;
        c.port = port;
        c.bindAddress = QString::fromLatin1(address);
        c.segment = std::move(segment);
        return c;
    }

    quint16 port = 0;
    UdpEndpoint a;
    UdpEndpoint b;
    QStringList receivedA, receivedB, failuresA;
};

} // namespace

TEST_F(EndpointPair, ExchangeTextsThroughTheStateMachine)
{
    // Nothing is read before the first send arms the endpoint.
    RawPeer early("127.0.0.4");
    early.send("100 0x,h,127.0.0.4,00:00:00,early", "127.0.0.3", port);
    QCoreApplication::processEvents();
    EXPECT_TRUE(receivedB.isEmpty());

    a.SendDatagram(QStringLiteral("100 0太郎,pc01,127.0.0.2,09:00:00,こんにちは"), QStringLiteral("127.0.0.3"));
    b.SendDatagram(QStringLiteral("202 0,pc02,127.0.0.3,09:00:01"), QStringLiteral("127.0.0.2"));
    ASSERT_TRUE(waitFor([&] { return receivedB.size() == 2 && receivedA.size() == 1; }));
    // The datagram that waited in the socket comes first, nothing is lost.
    EXPECT_EQ(receivedB[0], "100 0x,h,127.0.0.4,00:00:00,early");
    EXPECT_EQ(receivedB[1], QStringLiteral("100 0太郎,pc01,127.0.0.2,09:00:00,こんにちは"));
    EXPECT_EQ(receivedA[0], "202 0,pc02,127.0.0.3,09:00:01");
    EXPECT_EQ(a.tag(), "3");
    EXPECT_EQ(b.tag(), "3");
    EXPECT_TRUE(failuresA.isEmpty());
}

TEST_F(EndpointPair, DatagramsArrivingDuringSendsAreDeliveredAfterThem)
{
    RawPeer other("127.0.0.4");
    a.SendDatagram(QStringLiteral("201 0,pc01,127.0.0.2,09:00:00"), QStringLiteral("127.0.0.4"));
    b.SendDatagram(QStringLiteral("201 0,pc02,127.0.0.3,09:00:01"), QStringLiteral("127.0.0.2"));
    constexpr int Count = 40;
    for (int i = 0; i < Count; ++i) {
        // Each arrives while b is between its send and the send's write readiness.
        other.send(QByteArray("100 0o,h,127.0.0.4,00:00:00,") + QByteArray::number(i), "127.0.0.3", port);
        b.SendDatagram(QStringLiteral("100 0,pc02,127.0.0.3,09:00:01,%1").arg(i), QStringLiteral("127.0.0.2"));
        EXPECT_NE(b.tag(), "0");
    }
    ASSERT_TRUE(waitFor([&] { return receivedB.size() == Count && receivedA.size() == Count + 1; }));
    for (int i = 0; i < Count; ++i) {
        EXPECT_EQ(receivedB[i], QStringLiteral("100 0o,h,127.0.0.4,00:00:00,%1").arg(i));
        EXPECT_EQ(receivedA[i + 1], QStringLiteral("100 0,pc02,127.0.0.3,09:00:01,%1").arg(i));
    }
}

// Peers check that a header names the address its datagram came from: the receiver is told the
// source, and a sender sends from MyAddress whatever its socket is bound to (the program binds
// every address, where the kernel would pick the source by the route).
TEST_F(EndpointPair, DatagramsCarryMyAddressAsSourceAndTheReceiverLearnsIt)
{
    UdpEndpoint sender;
    UdpEndpoint::Config config = this->config("127.0.0.5");
    config.localAddress = QStringLiteral("127.0.0.6");
    ASSERT_FALSE(sender.open(config));
    QStringList sources;
    QObject::connect(&b, &UdpEndpoint::messageReceived,
                     [&](const QString &, const QString &source) { sources << source; });

    b.SendDatagram(QStringLiteral("z"), QStringLiteral("127.0.0.2")); // arms b for reading
    sender.SendDatagram(QStringLiteral("x"), QStringLiteral("127.0.0.3"));
    a.SendDatagram(QStringLiteral("y"), QStringLiteral("127.0.0.3"));
    ASSERT_TRUE(waitFor([&] { return sources.size() == 2; }));
    EXPECT_EQ(sources, QStringList({"127.0.0.6", "127.0.0.2"}));
}

TEST_F(EndpointPair, OversizeDatagramsAreDroppedWithOneNoticeAndNeverCloseTheEndpoint)
{
    RawPeer other("127.0.0.4");
    b.SendDatagram(QStringLiteral("201 0,pc02,127.0.0.3,09:00:01"), QStringLiteral("127.0.0.2"));
    ASSERT_TRUE(waitFor([&] { return b.tag() == "3"; }));

    ::testing::internal::CaptureStderr();
    const QByteArray largest(UdpEndpoint::MaxReceived, 'a');
    other.send(QByteArray(60000, 'b'), "127.0.0.3", port);
    other.send(largest + 'c', "127.0.0.3", port);
    other.send(largest, "127.0.0.3", port);
    other.send(QByteArray(), "127.0.0.3", port);
    other.send(QByteArray(65507, 'd'), "127.0.0.3", port);
    other.send("after", "127.0.0.3", port);
    const bool arrived = waitFor([&] { return receivedB.size() == 3; });
    const QString notices = QString::fromLocal8Bit(::testing::internal::GetCapturedStderr());
    ASSERT_TRUE(arrived) << receivedB.size();
    EXPECT_EQ(receivedB[0], QString::fromLatin1(largest));
    EXPECT_EQ(receivedB[1], QString());
    EXPECT_EQ(receivedB[2], "after");
    EXPECT_EQ(b.tag(), "3");
    EXPECT_EQ(notices, QStringLiteral("recv:4096バイトを超えるデータグラムは破棄します。\n"));
}

TEST(DatagramText, EndsAtTheFirstZeroPairWithTheEndCountingAsZero)
{
    const struct
    {
        QByteArray received;
        QByteArray text;
    } cases[] = {
        {"", ""},
        {"abc", "abc"},
        {QByteArray("abc\0", 4), "abc"},
        {QByteArray("abc\0\0tail", 9), "abc"},
        {QByteArray("a\0b", 3), QByteArray("a\0b", 3)},
        {QByteArray("a\0b\0", 4), QByteArray("a\0b", 3)},
        {QByteArray("\0", 1), ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(vorlan::datagramText(c.received), c.text) << c.received.toHex().constData();
}

TEST(SendBefore, ASocketWithoutRoomGivesUpAtTheDeadlineOtherFailuresAtOnce)
{
    const struct
    {
        QList<int> errors; // what each try gives; the last one repeats
        int result;
        qint64 waited;
    } cases[] = {
        {{0}, 0, 0},
        {{EINTR, EAGAIN, EAGAIN, 0}, 0, 100},
        {{EAGAIN}, EAGAIN, 100},
        {{ENOBUFS}, ENOBUFS, 100},
        {{ENETUNREACH}, ENETUNREACH, 0},
        {{EAGAIN, EHOSTUNREACH}, EHOSTUNREACH, 50},
    };
    for (const auto &c : cases) {
        qint64 now = 0;
        int tries = 0;
        vorlan::SendTries sendTries{
            [&] { return c.errors[std::min<int>(tries++, int(c.errors.size()) - 1)]; },
            [&](int ms) { now += ms; },
            [&] { return now; }};
        EXPECT_EQ(vorlan::sendBefore(sendTries, UdpEndpoint::SendBudgetMs), c.result) << c.errors.size();
        EXPECT_EQ(now, c.waited) << c.errors.size();
    }
}

TEST_F(EndpointPair, SendFailureIsReportedAndTheEndpointKeepsReceiving)
{
    // Longer than any desktop peer accepts: refused, reported, nothing sent.
    a.SendDatagram(QString(5000, u'x'), QStringLiteral("127.0.0.3"));
    ASSERT_EQ(failuresA.size(), 1);
    EXPECT_EQ(failuresA[0], QStringLiteral("send:データがバッファより大きいので切りつめられた。"));
    EXPECT_NE(a.tag(), "0");

    // A 4094-byte text of double-byte characters is the most that goes out.
    const QString largest = QStringLiteral("100 ") + QString(2045, u'あ');
    ASSERT_EQ(vorlan::cp932Length(largest), 4094);
    a.SendDatagram(largest, QStringLiteral("127.0.0.3"));
    b.SendDatagram(QStringLiteral("100 0,pc02,127.0.0.3,09:00:01,still here"), QStringLiteral("127.0.0.2"));
    ASSERT_TRUE(waitFor([&] { return receivedA.size() == 1 && receivedB.size() == 1; }));
    EXPECT_EQ(receivedA[0], "100 0,pc02,127.0.0.3,09:00:01,still here");
    EXPECT_EQ(receivedB[0], largest);
    EXPECT_EQ(failuresA.size(), 1);
}

TEST_F(EndpointPair, BroadcastGoesToTheInjectedSegment)
{
    UdpEndpoint c;
    const quint16 shared = port;
    b.close();
    UdpEndpoint::Config segmentConfig = config("127.0.0.3", {"127.0.0.2", "127.0.0.3"});
    segmentConfig.port = shared;
    ASSERT_FALSE(c.open(segmentConfig));
    QStringList receivedC;
    QObject::connect(&c, &UdpEndpoint::messageReceived, [&](const QString &t) { receivedC << t; });
    c.SendDatagram(QStringLiteral("201 0,pc03,127.0.0.3,09:00:02"), QStringLiteral("255.255.255.255"));
    // A destination that names no address is the broadcast address too, never the real one here.
    c.SendDatagram(QStringLiteral("203 0,pc03,127.0.0.3,09:00:02"), QStringLiteral("no-such-host"));
    a.SendDatagram(QStringLiteral("202 0,pc01,127.0.0.2,09:00:00"), QStringLiteral("127.0.0.3"));
    ASSERT_TRUE(waitFor([&] { return receivedA.size() == 2 && receivedC.size() == 3; }));
    EXPECT_EQ(receivedA[0], "201 0,pc03,127.0.0.3,09:00:02");
    EXPECT_EQ(receivedA[1], "203 0,pc03,127.0.0.3,09:00:02");
    EXPECT_TRUE(receivedC.contains("201 0,pc03,127.0.0.3,09:00:02")); // its own broadcast comes back
    EXPECT_TRUE(receivedC.contains("202 0,pc01,127.0.0.2,09:00:00"));
}

TEST_F(EndpointPair, SecondEndpointOnTheSameAddressAndPortFailsAtBind)
{
    UdpEndpoint second;
    const std::optional<QString> failure = second.open(config("127.0.0.2"));
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(*failure, QStringLiteral("bind:指定されたアドレスは使用中。"));
    EXPECT_EQ(second.tag(), "0");
    // A closed endpoint ignores notifications and reports sends as failures.
    QStringList received, failures;
    QObject::connect(&second, &UdpEndpoint::messageReceived, [&](const QString &t) { received << t; });
    QObject::connect(&second, &UdpEndpoint::failed, [&](const QString &t) { failures << t; });
    second.txtSockIn_KeyDown();
    EXPECT_EQ(second.tag(), "0");
    second.SendDatagram(QStringLiteral("201 0,h,a,t"), QStringLiteral("127.0.0.3"));
    EXPECT_TRUE(received.isEmpty());
    ASSERT_EQ(failures.size(), 1);
    EXPECT_EQ(failures[0], QStringLiteral("send:ソケット以外を指定した。"));
}

TEST_F(EndpointPair, AQueueTakenInBatchesKeepsItsOrderThroughHandlersThatSend)
{
    a.SendDatagram(QStringLiteral("201 0,pc01,127.0.0.2,09:00:00"), QStringLiteral("127.0.0.4"));
    b.SendDatagram(QStringLiteral("201 0,pc02,127.0.0.3,09:00:01"), QStringLiteral("127.0.0.4"));
    ASSERT_TRUE(waitFor([&] { return a.tag() == "3" && b.tag() == "3"; }));
    // Every sixteenth line is answered from inside its handler, which lets events run, this
    // endpoint's reading among them; the rest of the queue must still come, in order. A handler
    // that sent ends its batch: what it queued after its send runs before the next line.
    QStringList entered;
    int lines = 0;
    QObject::connect(&b, &UdpEndpoint::messageReceived, [&](const QString &text) {
        entered << text;
        if (++lines % 16 != 0)
            return;
        b.SendDatagram(QStringLiteral("406 0,pc02,127.0.0.3,09:00:01,%1").arg(lines), QStringLiteral("127.0.0.2"));
        QMetaObject::invokeMethod(&b, [&entered] { entered << "turn"; }, Qt::QueuedConnection);
    });
    RawPeer flood("127.0.0.4");
    constexpr int Count = 200; // well inside the default receive buffer
    QStringList expected;
    for (int i = 0; i < Count; ++i) {
        flood.send(QByteArray("100 0o,h,127.0.0.4,00:00:00,") + QByteArray::number(i), "127.0.0.3", port);
        expected << QStringLiteral("100 0o,h,127.0.0.4,00:00:00,%1").arg(i);
        if ((i + 1) % 16 == 0)
            expected << "turn";
    }

    ASSERT_TRUE(waitFor([&] { return entered.size() == expected.size() && receivedA.size() == Count / 16; }))
        << entered.size() << " " << receivedA.size();
    EXPECT_EQ(entered, expected);
    for (int k = 0; k < Count / 16; ++k)
        EXPECT_EQ(receivedA[k], QStringLiteral("406 0,pc02,127.0.0.3,09:00:01,%1").arg(16 * (k + 1)));
}

// A flood wakes the program once for every ReadIntervalNs at most, however many datagrams come
// in between; none is lost or reordered, and a datagram after a quiet spell is read at once.
TEST_F(EndpointPair, AFloodIsReadInBatchesAndAQuietDatagramAtOnce)
{
    b.SendDatagram(QStringLiteral("201 0,pc02,127.0.0.3,09:00:01"), QStringLiteral("127.0.0.4"));
    ASSERT_TRUE(waitFor([&] { return b.tag() == "3"; }));
    int wakeups = 0;
    const QObject scope; // the dispatcher outlives the test: the connection must not
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake, &scope,
                     [&wakeups] { ++wakeups; });
    QList<int> readAt; // the wake-up that delivered each datagram
    QElapsedTimer clock;
    clock.start();
    qint64 firstNs = 0, lastNs = 0;
    QObject::connect(&b, &UdpEndpoint::messageReceived, [&] {
        if (readAt.isEmpty())
            firstNs = clock.nsecsElapsed();
        lastNs = clock.nsecsElapsed();
        readAt << wakeups;
    });

    // A datagram after a quiet spell is read as soon as it is seen, without a pause before or
    // after it.
    int pauses = 0;
    QObject::connect(b.findChild<QTimer *>(QStringLiteral("readPause")), &QTimer::timeout,
                     [&pauses] { ++pauses; });
    RawPeer flood("127.0.0.4");
    waitFor([] { return false; }, 10);
    flood.send("100 0o,h,127.0.0.4,00:00:00,quiet", "127.0.0.3", port);
    ASSERT_TRUE(waitFor([&] { return receivedB.size() == 1; }));
    waitFor([] { return false; }, 2 * UdpEndpoint::ReadIntervalNs / 1'000'000);
    EXPECT_EQ(pauses, 0);

    // 300 datagrams 20 µs apart from another thread.
    constexpr int Count = 300;
    readAt.clear();
    receivedB.clear();
    clock.restart();
    std::thread sender([&] {
        for (int i = 0; i < Count; ++i) {
            flood.send(QByteArray("100 0o,h,127.0.0.4,00:00:00,") + QByteArray::number(i), "127.0.0.3", port);
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
    });
    const bool all = waitFor([&] { return receivedB.size() == Count; });
    sender.join();
    ASSERT_TRUE(all) << receivedB.size();
    for (int i = 0; i < Count; ++i)
        EXPECT_EQ(receivedB[i], QStringLiteral("100 0o,h,127.0.0.4,00:00:00,%1").arg(i));
    const qsizetype turns = QSet<int>(readAt.begin(), readAt.end()).size();
    EXPECT_LE(turns, 2 + (lastNs - firstNs) / UdpEndpoint::ReadIntervalNs)
        << "over " << (lastNs - firstNs) / 1000 << " µs";

    // More than three batches waiting at once: read one batch after the other, with no pause
    // between them.
    waitFor([] { return false; }, 20);
    receivedB.clear();
    pauses = 0;
    constexpr int Waiting = 3 * UdpEndpoint::ReadBatch + 10;
    for (int i = 0; i < Waiting; ++i)
        flood.send(QByteArray("100 0o,h,127.0.0.4,00:00:00,") + QByteArray::number(i), "127.0.0.3", port);
    waitFor([&] { return receivedB.size() == Waiting; }, 1000);
    if (receivedB.size() <= 2 * UdpEndpoint::ReadBatch)
        GTEST_SKIP() << "the socket's buffer held only " << receivedB.size() << " datagrams";
    EXPECT_EQ(pauses, 0) << "over " << receivedB.size() << " datagrams";
}

// A line whose handler runs an event loop of its own (a message box does) while the reads are
// paced: the datagrams that come meanwhile are read in that loop.
TEST_F(EndpointPair, AHandlerRunningAnEventLoopStillGetsTheDatagramsAfterIt)
{
    b.SendDatagram(QStringLiteral("201 0,pc02,127.0.0.3,09:00:01"), QStringLiteral("127.0.0.4"));
    ASSERT_TRUE(waitFor([&] { return b.tag() == "3"; }));
    RawPeer peer("127.0.0.4");
    const QByteArray head = "100 0o,h,127.0.0.4,00:00:00,";
    bool inBox = false, readInBox = false;
    QObject::connect(&b, &UdpEndpoint::messageReceived, [&](const QString &text) {
        if (inBox) {
            readInBox = true;
            return;
        }
        if (!text.endsWith(u",second"))
            return;
        peer.send(head + "third", "127.0.0.3", port);
        inBox = true;
        waitFor([&] { return readInBox; }, 2000);
        inBox = false;
    });
    // The second comes right after the first was read, so it waits for the pause between reads.
    peer.send(head + "first", "127.0.0.3", port);
    ASSERT_TRUE(waitFor([&] { return receivedB.size() == 1; }));
    peer.send(head + "second", "127.0.0.3", port);
    ASSERT_TRUE(waitFor([&] { return receivedB.size() == 3; }, 3000)) << receivedB.join(u' ').toStdString();
    EXPECT_TRUE(readInBox);
    EXPECT_EQ(receivedB.last(), QString::fromLatin1(head + "third"));
}
