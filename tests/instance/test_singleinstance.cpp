#include "instance/bringforward.h"
#include "instance/singleinstance.h"

#include "support/childprocess.h"
#include "support/testsupport.h"

#include <QWidget>
#include <gtest/gtest.h>

#include <barrier>
#include <future>
#include <thread>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace vorlan {
namespace {

using namespace std::chrono_literals;
using Start = SingleInstance::Start;

// A name of this test's own, so that runs on one host do not meet; the same in a forked child.
const QByteArray TestRun = QByteArray::number(::getpid());

QByteArray testName(const char *what)
{
    return "org.vorlan.Vorlan.test/" + TestRun + '/' + what;
}

// A later start of the program, from a thread of its own: the copy it asks answers from this
// thread's event loop.
std::future<Start> startLater(const QByteArray &name, std::chrono::milliseconds patience = 10s)
{
    return std::async(std::launch::async, [=] { return SingleInstance(name).start(patience); });
}

bool ended(std::future<Start> &start, int withinMs)
{
    return test::waitFor([&] { return start.wait_for(0s) == std::future_status::ready; }, withinMs);
}

TEST(SingleInstance, ALaterStartBringsTheWindowForwardOnceItIsUp)
{
    SingleInstance first(testName("raise"));
    ASSERT_EQ(first.start(), Start::First);
    QWidget window;
    QWidget other; // where the focus is meanwhile
    bringForwardOnRequest(first, window);

    // Still starting: the request waits, and nothing is shown.
    std::future<Start> second = startLater(testName("raise"));
    EXPECT_FALSE(ended(second, 300));
    first.serve();
    ASSERT_TRUE(ended(second, 5000));
    EXPECT_EQ(second.get(), Start::Raised);
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(test::waitFor([&] { return window.isActiveWindow(); }));

    // Minimised, with another window active.
    window.showMinimized();
    other.show();
    other.activateWindow();
    ASSERT_TRUE(test::waitFor([&] { return other.isActiveWindow(); }));
    std::future<Start> third = startLater(testName("raise"));
    ASSERT_TRUE(ended(third, 5000));
    EXPECT_EQ(third.get(), Start::Raised);
    EXPECT_FALSE(window.isMinimized());
    EXPECT_TRUE(test::waitFor([&] { return window.isActiveWindow(); }));

    // Closing: a start now is not sent off by a copy on its way out.
    window.close();
    std::future<Start> whileClosing = startLater(testName("raise"), 300ms);
    ASSERT_TRUE(ended(whileClosing, 5000));
    EXPECT_EQ(whileClosing.get(), Start::Alone);
    EXPECT_FALSE(window.isVisible());
}

TEST(SingleInstance, TwoStartsAtOnceMakeOneCopy)
{
    constexpr int Starts = 4;
    std::barrier together(Starts);
    std::vector<Start> results(Starts);
    std::vector<std::thread> threads;
    for (int i = 0; i < Starts; ++i) {
        threads.emplace_back([&, i] {
            SingleInstance copy(testName("race"));
            together.arrive_and_wait();
            // Nobody serves: the others give up and run as before.
            results[i] = copy.start(500ms);
            together.arrive_and_wait();
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(std::count(results.begin(), results.end(), Start::First), 1);
    EXPECT_EQ(std::count(results.begin(), results.end(), Start::Alone), Starts - 1);
}

TEST(SingleInstance, ACopyThatIsGoneLeavesTheNameToTheNextStart)
{
    // Another port is another copy.
    SingleInstance onOtherPort(testName("gone/8889"));
    EXPECT_EQ(onOtherPort.start(), Start::First);

    // Ended without a word, as a crash ends it.
    const int status = test::exitStatusInChild([] {
        SingleInstance crashing(testName("gone/8888"));
        if (crashing.start() != Start::First)
            return 1;
        ::_exit(0);
    });
    ASSERT_EQ(status, 0);
    SingleInstance next(testName("gone/8888"));
    EXPECT_EQ(next.start(), Start::First);

    // Ended while a start waited: still starting (its start-up failed), or already closing.
    for (const bool closing : {false, true}) {
        SCOPED_TRACE(closing ? "closing" : "starting");
        auto holder = std::make_unique<SingleInstance>(testName(closing ? "closing" : "starting"));
        ASSERT_EQ(holder->start(), Start::First);
        if (closing) {
            holder->serve();
            holder->stopServing();
        }
        std::future<Start> waiting = startLater(testName(closing ? "closing" : "starting"));
        EXPECT_FALSE(ended(waiting, 300));
        holder.reset();
        ASSERT_TRUE(ended(waiting, 5000));
        EXPECT_EQ(waiting.get(), Start::First);
    }
}

// A socket at the name as another user would have it: connected to it, or holding it (in a child
// that may change its user). -1 where it cannot be made.
int strangerAt(const QByteArray &name, bool holding)
{
    constexpr uid_t Nobody = 65534;
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.constData(), size_t(name.size()));
    const auto *at = reinterpret_cast<sockaddr *>(&address);
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool made = ::setresuid(Nobody, Nobody, Nobody) == 0
                      && (holding ? ::bind(fd, at, length) == 0 && ::listen(fd, 1) == 0
                                  : ::connect(fd, at, length) == 0);
    return made ? fd : -1;
}

// Another user on the host can neither make the window come forward nor send a start off by
// answering in the running copy's place.
TEST(SingleInstance, AnotherUserIsNeitherAnsweredNorBelieved)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to act as another user";
    SingleInstance first(testName("stranger"));
    ASSERT_EQ(first.start(), Start::First);
    first.serve();
    int raised = 0;
    QObject::connect(&first, &SingleInstance::raiseRequested, [&raised] { ++raised; });
    ASSERT_EQ(test::exitStatusInChild([] {
        const int fd = strangerAt(testName("stranger"), false);
        return fd >= 0 && ::send(fd, "R", 1, 0) == 1 ? 0 : test::CouldNotSetUp;
    }), 0);
    EXPECT_FALSE(test::waitFor([&] { return raised > 0; }, 300));

    int held[2];
    ASSERT_EQ(::pipe(held), 0);
    std::future<int> squatter = std::async(std::launch::async, [&held] {
        return test::exitStatusInChild([&held] {
            const int fd = strangerAt(testName("squatted"), true);
            if (fd < 0 || ::write(held[1], "!", 1) != 1)
                return test::CouldNotSetUp;
            const int connection = ::accept(fd, nullptr, nullptr);
            char byte;
            const bool asked = ::read(connection, &byte, 1) == 1;
            return asked && ::send(connection, "K", 1, 0) == 1 ? 1 : 0;
        });
    });
    char byte;
    ASSERT_EQ(::read(held[0], &byte, 1), 1);
    EXPECT_EQ(SingleInstance(testName("squatted")).start(1s), Start::Alone);
    EXPECT_EQ(squatter.get(), 0) << "a start asked a stranger, who answered";
    ::close(held[0]);
    ::close(held[1]);
}

} // namespace
} // namespace vorlan
