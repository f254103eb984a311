#include "net/addresswatch.h"
#include "net/localidentity.h"
#include "support/testsupport.h"

#include <QTemporaryFile>
#include <QThread>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace vorlan {
namespace {

using test::waitFor;

// The test's thread in a network namespace of its own, made and left by the test: addresses
// come and go there only, never on this machine's interfaces.
class PrivateNetwork : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_home = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        if (m_home < 0 || ::unshare(CLONE_NEWNET) != 0) {
            if (qEnvironmentVariable("CI") == QLatin1String("true")) {
                FAIL() << "cannot make a network namespace";
            }
            GTEST_SKIP() << "cannot make a network namespace (needs root)";
        }
        m_unshared = true;
        struct stat home = {}, here = {};
        ASSERT_EQ(::fstat(m_home, &home), 0);
        ASSERT_EQ(::stat("/proc/thread-self/ns/net", &here), 0);
        ASSERT_NE(home.st_ino, here.st_ino) << "still in the machine's own namespace";
        m_inside = true;
    }
    void TearDown() override
    {
        if (m_unshared) {
            EXPECT_EQ(::setns(m_home, CLONE_NEWNET), 0);
        }
        if (m_home >= 0)
            ::close(m_home);
    }

    // Started from this thread (system() clones it), so inside.
    void ip(const QByteArray &arguments)
    {
        ASSERT_TRUE(m_inside);
        ASSERT_EQ(std::system(("ip " + arguments).constData()), 0) << arguments.toStdString();
    }

    int m_home = -1;
    bool m_unshared = false;
    bool m_inside = false; // checked: no command reaches the machine's own interfaces
};

TEST_F(PrivateNetwork, NetworksAddedAndRemovedAreToldOnceABurstAndTheirAddressesFollow)
{
    ip("link add v0 type veth peer name v1");
    ip("addr add 10.1.0.1/24 dev v0");
    ip("link set v0 up");
    AddressWatch watch;
    ASSERT_EQ(watch.unavailable(), QString());
    int told = 0;
    QStringList refused = hostNonPeerAddresses(QStringLiteral("10.1.0.1"));
    QObject::connect(&watch, &AddressWatch::changed, [&] {
        ++told;
        refused = hostNonPeerAddresses(QStringLiteral("10.1.0.1"));
    });
    EXPECT_TRUE(refused.contains("10.1.0.255"));
    EXPECT_FALSE(refused.contains("10.1.0.1"));

    ip("addr add 10.9.0.1/24 dev v0");
    ASSERT_TRUE(waitFor([&] { return told == 1; }));
    EXPECT_TRUE(refused.contains("10.9.0.255"));
    EXPECT_TRUE(refused.contains("10.9.0.1"));
    QThread::msleep(AddressWatch::SettleMs * 2);
    QCoreApplication::processEvents();
    EXPECT_EQ(told, 1);

    // Twenty networks at once, as a network manager sets them up.
    QByteArray batch;
    for (int n = 10; n < 30; ++n)
        batch += "addr add 10.2." + QByteArray::number(n) + ".1/24 dev v0\n";
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    file.write(batch);
    file.flush();
    told = 0;
    ip("-batch " + file.fileName().toLocal8Bit());
    ASSERT_TRUE(waitFor([&] { return refused.contains("10.2.29.255"); }));
    QThread::msleep(AddressWatch::SettleMs * 2);
    QCoreApplication::processEvents();
    EXPECT_LE(told, 3);
    for (int n = 10; n < 30; ++n)
        EXPECT_TRUE(refused.contains(QStringLiteral("10.2.%1.255").arg(n))) << n;

    ip("addr del 10.9.0.1/24 dev v0");
    ASSERT_TRUE(waitFor([&] { return !refused.contains("10.9.0.255"); }));
    EXPECT_FALSE(refused.contains("10.9.0.1"));

    // A network whose interface goes down keeps its addresses, and they stay refused: nothing
    // would tell when it comes up again.
    ip("link set v0 down");
    EXPECT_TRUE(hostNonPeerAddresses(QStringLiteral("10.1.0.1")).contains("10.2.10.255"));
}

TEST(AddressWatch, WithoutTheKernelsNotificationsTellsAtMostOnceASecondWhenAsked)
{
    AddressWatch watch(nullptr, AddressWatch::Source::Polling);
    EXPECT_FALSE(watch.unavailable().isEmpty());
    int told = 0;
    QObject::connect(&watch, &AddressWatch::changed, [&] { ++told; });
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < AddressWatch::StaleMs + 200) {
        watch.refreshIfStale();
        QThread::msleep(5);
    }
    EXPECT_EQ(told, 1);
    QThread::msleep(AddressWatch::StaleMs);
    QCoreApplication::processEvents();
    EXPECT_EQ(told, 1); // nobody asked
    watch.refreshIfStale();
    EXPECT_EQ(told, 2);
}

} // namespace
} // namespace vorlan
