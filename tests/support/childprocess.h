#pragma once

#include <QLatin1String>
#include <QtGlobal>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

namespace vorlan::test {

// The status a child exits with when it could not make what its test needs (a namespace, a
// mount): only this skips the test. Any other way the child ends is the test's result.
inline constexpr int CouldNotSetUp = 125;

// Runs body in a forked child and returns the status body gave it. A child killed by a signal
// (a crash, an abort, qFatal) or still running after timeout (then killed) fails the calling
// test and gives -1. body reports through its status only: a failed check inside it is not seen.
int exitStatusInChild(const std::function<int()> &body,
                      std::chrono::milliseconds timeout = std::chrono::seconds(30));

// As exitStatusInChild, but the child is this test program started anew, running only the
// calling test, which calls this again and runs body there: no thread another test started, and
// no lock such a thread held at a fork, is in the child. What the test does before this call it
// does in both processes.
int exitStatusInFreshChild(const std::function<int()> &body, std::chrono::milliseconds timeout);

inline bool onCi()
{
    return qEnvironmentVariable("CI") == QLatin1String("true");
}

} // namespace vorlan::test

// Skips the calling test when its child could not set up; under CI=true everything a test needs
// must be there, and the test fails instead.
#define VORLAN_SKIP_IF_CHILD_COULD_NOT_SET_UP(status, why)                                        \
    do {                                                                                          \
        if ((status) == ::vorlan::test::CouldNotSetUp) {                                          \
            if (::vorlan::test::onCi())                                                           \
                FAIL() << (why) << " (required under CI=true)";                                   \
            GTEST_SKIP() << (why);                                                                \
        }                                                                                         \
    } while (false)
