#include "support/childprocess.h"

#include <QByteArray>
#include <QList>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace vorlan::test {

namespace {

// Names the test a fresh child runs body for.
constexpr char ChildVariable[] = "VORLAN_TEST_CHILD";

QByteArray currentTestName()
{
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    return info ? QByteArray(info->test_suite_name()) + '.' + info->name() : QByteArray();
}

int waitForChild(pid_t child, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    pid_t ended = 0;
    while ((ended = ::waitpid(child, &status, WNOHANG)) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            ADD_FAILURE() << "the child still ran after " << timeout.count() << " ms";
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (ended != child) {
        ADD_FAILURE() << "waiting for the child failed: " << std::strerror(errno);
        return -1;
    }
    if (WIFSIGNALED(status)) {
        ADD_FAILURE() << "the child was killed by signal " << WTERMSIG(status) << " ("
                      << ::strsignal(WTERMSIG(status)) << ")";
        return -1;
    }
    return WEXITSTATUS(status);
}

} // namespace

int exitStatusInChild(const std::function<int()> &body, std::chrono::milliseconds timeout)
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(body());
    if (child < 0) {
        ADD_FAILURE() << "fork failed: " << std::strerror(errno);
        return -1;
    }
    return waitForChild(child, timeout);
}

int exitStatusInFreshChild(const std::function<int()> &body, std::chrono::milliseconds timeout)
{
    const QByteArray test = currentTestName();
    if (!test.isEmpty() && qgetenv(ChildVariable) == test)
        ::_exit(body());

    // Everything the child gets is made before it starts: a process with threads may not
    // allocate between a fork and the exec.
    QByteArray filter = "--gtest_filter=" + test;
    char brief[] = "--gtest_brief=1";
    char program[] = "/proc/self/exe";
    char *arguments[] = {program, filter.data(), brief, nullptr};
    QByteArray marker = QByteArray(ChildVariable) + '=' + test;
    QList<char *> environment;
    for (char **variable = environ; *variable; ++variable) {
        if (std::strncmp(*variable, ChildVariable, std::strlen(ChildVariable)) != 0
            || (*variable)[std::strlen(ChildVariable)] != '=')
            environment.append(*variable);
    }
    environment.append(marker.data());
    environment.append(nullptr);

    pid_t child = 0;
    const int failed =
        ::posix_spawn(&child, program, nullptr, nullptr, arguments, environment.data());
    if (failed != 0) {
        ADD_FAILURE() << "cannot start the test program again: " << std::strerror(failed);
        return -1;
    }
    return waitForChild(child, timeout);
}

} // namespace vorlan::test
