#include "net/nameresolver.h"
#include "support/childprocess.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

using vorlan::NameResolver;

// Only names the hosts file answers: a test never asks a name server.
TEST(NameResolver, ResolvesNamesAndDottedTextToDottedIPv4)
{
    NameResolver resolver;
    EXPECT_EQ(resolver.resolve("localhost"), std::optional<QString>("127.0.0.1"));
    EXPECT_EQ(resolver.resolve("127.0.0.9"), std::optional<QString>("127.0.0.9"));
    EXPECT_EQ(resolver.resolve(""), std::nullopt);
}

namespace {

// In a child with a network and mount namespace of its own: a name server on 127.0.0.1 that
// takes every question and never answers, named by a resolv.conf of the child's own. Exit 0:
// the look-up gave up on time and said no; 1: it did not.
int lookUpAgainstASilentNameServer(const QString &folder)
{
    if (::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0
        || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return vorlan::test::CouldNotSetUp;
    const int control = ::socket(AF_INET, SOCK_DGRAM, 0);
    ifreq loopback = {};
    std::snprintf(loopback.ifr_name, IFNAMSIZ, "lo");
    loopback.ifr_flags = IFF_UP | IFF_LOOPBACK | IFF_RUNNING;
    const int silent = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in dns = {};
    dns.sin_family = AF_INET;
    dns.sin_port = htons(53);
    dns.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const QByteArray conf = QFile::encodeName(folder + "/resolv.conf");
    FILE *file = std::fopen(conf.constData(), "w");
    if (!file || ::ioctl(control, SIOCSIFFLAGS, &loopback) != 0
        || ::bind(silent, reinterpret_cast<sockaddr *>(&dns), sizeof dns) != 0)
        return vorlan::test::CouldNotSetUp;
    std::fputs("nameserver 127.0.0.1\noptions timeout:10 attempts:3\n", file);
    std::fclose(file);
    if (::mount(conf.constData(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0)
        return vorlan::test::CouldNotSetUp;

    NameResolver resolver(std::chrono::milliseconds(300));
    QElapsedTimer timer;
    timer.start();
    const bool answered = resolver.resolve("peer-beyond-the-router.example").has_value();
    // The resolver itself would wait 30 s; the window may wait the time-out, and not much more.
    return !answered && timer.elapsed() < 5000 ? 0 : 1;
}

} // namespace

// The look-up runs in the test program started anew: glibc starts the resolver's threads at the
// first look-up (the test above made one), and a child forked from a process that has them can
// block for good in its own first look-up.
TEST(NameResolver, ANameServerThatNeverAnswersHoldsTheCallerOnlyForTheTimeOut)
{
    const int status = vorlan::test::exitStatusInFreshChild(
        [] {
            QTemporaryDir folder;
            return lookUpAgainstASilentNameServer(folder.path());
        },
        std::chrono::seconds(10));
    VORLAN_SKIP_IF_CHILD_COULD_NOT_SET_UP(status, "needs network and mount namespaces (root)");
    EXPECT_EQ(status, 0) << "the look-up did not give up on time, or did not say no";
}
