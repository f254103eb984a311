#include "away/desktopidlesource.h"
#include "support/privatebus.h"
#include "support/testsupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <optional>

namespace vorlan {
namespace {

using test::waitFor;

// The desktop's services, as a Wayland desktop offers them on its buses: each registered under
// the interface it stands for.
class FakeDesktop : public QObject
{
    Q_OBJECT
public:
    qulonglong mutterIdle = 90000;
    uint screenSaverIdle = 5000;
    QStringList sessionsAsked;
public slots:
    qulonglong GetIdletime() { return mutterIdle; }
    uint GetSessionIdleTime() { return screenSaverIdle; }
    QDBusObjectPath GetSession(const QString &id)
    {
        sessionsAsked.append(id);
        return QDBusObjectPath(QStringLiteral("/org/freedesktop/login1/session/_31"));
    }
};

class DesktopIdle : public test::PrivateBusTest
{
};

void serve(QDBusConnection &bus, const char *service, const char *path, const char *interface, QObject *object)
{
    EXPECT_TRUE(bus.registerObject(QLatin1String(path), QLatin1String(interface), object,
                                   QDBusConnection::ExportAllSlots));
    EXPECT_TRUE(bus.registerService(QLatin1String(service)));
}

void emitSignal(QDBusConnection &bus, const char *path, const char *interface, const char *name,
                const QVariantList &arguments = {})
{
    QDBusMessage message = QDBusMessage::createSignal(QLatin1String(path), QLatin1String(interface),
                                                      QLatin1String(name));
    message.setArguments(arguments);
    bus.send(message);
}

// Off X11 the idle time comes from GNOME's idle monitor, else from the freedesktop screen saver;
// without either the option says why. The lock comes from the screen saver and from logind.
TEST_F(DesktopIdle, WaylandDesktopsTellTheIdleTimeAndTheLockOverDBus)
{
    struct Case
    {
        const char *what;
        bool mutter;
        bool screenSaver;
        std::optional<qint64> idle;
    };
    const Case cases[] = {
        {"GNOME", true, true, 90000},
        {"a screen saver", false, true, 5000},
        {"neither", false, false, std::nullopt},
    };
    int round = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ++round;
        // The desktop's names go with its connection, before the next round takes them.
        const QString name = QStringLiteral("desktop%1").arg(round);
        const auto leave = qScopeGuard([name] { QDBusConnection::disconnectFromBus(name); });
        QDBusConnection desktop = connection(name);
        FakeDesktop fake;
        if (c.mutter) {
            serve(desktop, "org.gnome.Mutter.IdleMonitor", "/org/gnome/Mutter/IdleMonitor/Core",
                  "org.gnome.Mutter.IdleMonitor", &fake);
        }
        if (c.screenSaver) {
            serve(desktop, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                  "org.freedesktop.ScreenSaver", &fake);
        }
        serve(desktop, "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager", &fake);

        // The bus stands for both the session and the system bus.
        const QDBusConnection bus = connection(QStringLiteral("program%1").arg(round));
        DesktopIdleSource source(false, bus, bus);
        QList<qint64> idle;
        QList<bool> locks;
        QObject::connect(&source, &IdleSource::idleTime, [&idle](qint64 ms) { idle.append(ms); });
        QObject::connect(&source, &IdleSource::lockChanged, [&locks](bool locked) { locks.append(locked); });

        if (c.idle) {
            ASSERT_TRUE(waitFor([&] { return !idle.isEmpty(); }));
            EXPECT_EQ(idle, QList<qint64>{*c.idle});
            fake.mutterIdle += 2000;
            fake.screenSaverIdle += 2000;
            source.query();
            ASSERT_TRUE(waitFor([&] { return idle.size() == 2; }));
            EXPECT_EQ(idle.last(), *c.idle + 2000);
            EXPECT_EQ(source.unavailable(), QString());
        } else {
            ASSERT_TRUE(waitFor([&] { return !source.unavailable().isEmpty(); }));
            source.query();
            QCoreApplication::processEvents();
            EXPECT_TRUE(idle.isEmpty());
        }

        ASSERT_TRUE(waitFor([&] { return fake.sessionsAsked == QStringList{"auto"}; }));
        QCoreApplication::processEvents();
        emitSignal(desktop, "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver", "ActiveChanged", {true});
        emitSignal(desktop, "/ScreenSaver", "org.freedesktop.ScreenSaver", "ActiveChanged", {true}); // KDE's older path
        emitSignal(desktop, "/org/gnome/ScreenSaver", "org.gnome.ScreenSaver", "ActiveChanged", {false});
        emitSignal(desktop, "/org/freedesktop/login1/session/_7", "org.freedesktop.login1.Session", "Lock");
        emitSignal(desktop, "/org/freedesktop/login1/session/_31", "org.freedesktop.login1.Session", "Lock");
        emitSignal(desktop, "/org/freedesktop/login1/session/_31", "org.freedesktop.login1.Session", "Unlock");
        EXPECT_TRUE(waitFor([&] { return locks.size() == 5; }));
        QCoreApplication::processEvents();
        // Another user's session locking is not this one.
        EXPECT_EQ(locks, QList<bool>({true, true, false, true, false}));
    }
}

} // namespace
} // namespace vorlan

#include "test_desktopidle.moc"
