// A desktop notification service for the whole-process figures, on the session bus it is
// started with: answers every Notify with an id (the one it replaces, if still shown) and prints
// one line per call on standard output, "notify <wall-clock seconds> <id> <summary>", so the
// benchmark counts what a flood into a window in the background puts on the desktop.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDateTime>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <cstdio>

class Notifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public slots:
    uint Notify(const QString &, uint replaces, const QString &, const QString &summary,
                const QString &, const QStringList &, const QVariantMap &, int)
    {
        const uint id = replaces != 0 ? replaces : ++m_last;
        std::printf("notify %.6f %u %s\n", double(QDateTime::currentMSecsSinceEpoch()) / 1e3, id,
                    summary.simplified().toUtf8().constData());
        std::fflush(stdout);
        return id;
    }
    QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }
    void CloseNotification(uint) {}
    QString GetServerInformation(QString &vendor, QString &version, QString &spec)
    {
        vendor = version = spec = QStringLiteral("bench");
        return QStringLiteral("bench");
    }

private:
    uint m_last = 0;
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Notifications service;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                            QDBusConnection::ExportAllSlots)
        || !bus.registerService(QStringLiteral("org.freedesktop.Notifications")))
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}

#include "notificationserver.moc"
