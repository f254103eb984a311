#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QStringList>
#include <gtest/gtest.h>

namespace vorlan::test {

// A session bus of the test's own (a dbus-daemon started for it), so that fake desktop services
// never meet the real ones. Without dbus-daemon the test is skipped, and fails on CI.
class PrivateBusTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // A connection to the private bus by its name; closed at the end of the test.
    QDBusConnection connection(const QString &name);

    QString m_address;

private:
    QProcess m_daemon;
    QStringList m_names;
};

} // namespace vorlan::test
