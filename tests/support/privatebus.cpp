#include "support/privatebus.h"
#include "support/testsupport.h"

#include <QStandardPaths>

namespace vorlan::test {

void PrivateBusTest::SetUp()
{
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty()) {
        if (qEnvironmentVariable("CI") == QLatin1String("true"))
            FAIL() << "dbus-daemon is missing";
        GTEST_SKIP() << "no dbus-daemon";
    }
    m_daemon.start(daemon, {"--session", "--nofork", "--print-address"});
    ASSERT_TRUE(m_daemon.waitForStarted());
    ASSERT_TRUE(waitFor([this] { return m_daemon.canReadLine(); }));
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
}

void PrivateBusTest::TearDown()
{
    for (const QString &name : std::as_const(m_names))
        QDBusConnection::disconnectFromBus(name);
    m_daemon.kill();
    m_daemon.waitForFinished();
}

QDBusConnection PrivateBusTest::connection(const QString &name)
{
    if (!m_names.contains(name))
        m_names.append(name);
    return QDBusConnection::connectToBus(m_address, name);
}

} // namespace vorlan::test
