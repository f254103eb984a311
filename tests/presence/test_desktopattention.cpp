#include "presence/desktopnotifier.h"
#include "presence/presence.h"
#include "presence/trayicon.h"
#include "protocol/message.h"
#include "roster/memberlist.h"
#include "settings/runningsettings.h"
#include "support/testsupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTextDocument>
#include <QWidget>
#include <QWindow>
#include <gtest/gtest.h>

namespace vorlan {
namespace {

using test::waitFor;

// Names and lines from peers, each of which some renderer would take for markup but the last.
const QStringList Remote = {
    QStringLiteral("<b>boss</b><img src=\"file:///usr/share/pixmaps/debian-logo.png\">"),
    QStringLiteral("&amp; co"),
    QStringLiteral("a < b > c"),
    QStringLiteral("<i>two  spaces</i> &lt;"),
    QStringLiteral("[*] x [*][*]"),
    QStringLiteral("alice"),
};

// What Qt shows for text it takes for rich text.
QString shownAsRichText(const QString &text)
{
    QTextDocument document;
    document.setHtml(text);
    return document.toPlainText();
}

// What a notification server that reads markup shows: entities read, any tag acting.
QString shownAsMarkup(QString text)
{
    static const QRegularExpression tag(QStringLiteral("<[^>]*>"));
    text.replace(tag, QStringLiteral("{tag}"));
    const std::pair<const char *, const char *> entities[] = {
        {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"}};
    for (const auto &[entity, character] : entities)
        text.replace(QLatin1String(entity), QLatin1String(character));
    return text;
}

// The attention request and the notification follow the blink: same rules, same moment.
TEST(DesktopAttention, AlertsThatBlinkAskForAttentionAndNotify)
{
    struct Case
    {
        const char *what;
        qint16 action;
        qint16 flashMinutes;
        qint16 notify;
        bool away;
        bool active;
        QStringList expected;
    };
    const QList<Case> cases = {
        {"received icon", 0, 3, 1, false, false, {"attention 180", "notify alice: 会議です"}},
        {"important icon", 1, 3, 1, false, false, {"attention 180", "notify alice: 会議です"}},
        {"notifications off", 0, 2, 0, false, false, {"attention 120"}},
        {"a blink only activation ends", 1, 0, 1, false, false,
         {"attention 32768", "notify alice: 会議です"}},
        {"pop-up", 2, 3, 1, false, false, {}},
        {"no action", 7, 3, 1, false, false, {}},
        {"away", 0, 3, 1, true, false, {}},
        {"window active", 0, 3, 1, false, true, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        MemberList members;
        Identity me{c.away ? "1" : "0", "me", "pc00", "192.168.0.5", "09:00:00"};
        RunningSettings settings;
        settings.NormalAction = c.action;
        settings.FlashMinutes = c.flashMinutes;
        settings.Notify = c.notify;
        const QStringList keywords;
        const QIcon icon;
        bool active = c.active;
        QStringList events;
        Presence::Seams seams;
        seams.setIcon = [](const QIcon &) {};
        seams.setCaption = [](const QString &) {};
        seams.raiseWindow = [] {};
        seams.requestAttention = [&events](qint32 ticks) { events << QString("attention %1").arg(ticks); };
        seams.notify = [&events](const QString &name, const QString &line) {
            events << "notify " + name + ": " + line;
        };
        Presence presence({members, me, settings, keywords, {icon, icon, icon, icon}, active}, seams);
        presence.alert(u"100", QStringLiteral("alice"), QStringLiteral("会議です"));
        EXPECT_EQ(events, c.expected);
    }
}

// A notification service of our own on a private session bus.
class FakeNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call
    {
        QString app, icon, summary, body;
        uint replaces;
        QStringList actions;
    };
    QList<Call> calls;
    QStringList capabilities{"actions", "body", "body-markup"};

public slots:
    QStringList GetCapabilities() { return capabilities; }

    uint Notify(const QString &app, uint replaces, const QString &icon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &, int)
    {
        calls.append({app, icon, summary, body, replaces, actions});
        return replaces ? replaces : uint(40 + calls.size());
    }
};

class PrivateBus : public ::testing::Test
{
protected:
    void SetUp() override
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
    void TearDown() override
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("notify-server"));
        QDBusConnection::disconnectFromBus(QStringLiteral("notify-client"));
        m_daemon.kill();
        m_daemon.waitForFinished();
    }

    // A fake notification service on the bus, and a notifier that has heard its capabilities.
    std::unique_ptr<DesktopNotifier> serve(FakeNotifications &service)
    {
        QDBusConnection server = QDBusConnection::connectToBus(m_address, QStringLiteral("notify-server"));
        EXPECT_TRUE(server.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                                          QDBusConnection::ExportAllSlots));
        EXPECT_TRUE(server.registerService(QStringLiteral("org.freedesktop.Notifications")));
        auto notifier = std::make_unique<DesktopNotifier>(
            QDBusConnection::connectToBus(m_address, QStringLiteral("notify-client")));
        EXPECT_TRUE(waitFor([&notifier] { return notifier->knowsServer(); }));
        return notifier;
    }

    QProcess m_daemon;
    QString m_address;
};

TEST_F(PrivateBus, TheNotificationShowsTheLineAsTextReplacesItselfAndItsClickRaises)
{
    FakeNotifications service;
    const std::unique_ptr<DesktopNotifier> served = serve(service);
    DesktopNotifier &notifier = *served;
    QDBusConnection server = QDBusConnection::connectToBus(m_address, QStringLiteral("notify-server"));
    int clicks = 0;
    QObject::connect(&notifier, &DesktopNotifier::activated, [&clicks] { ++clicks; });

    notifier.notify(QStringLiteral("alice"), QStringLiteral("<b>会議</b> & <img src=x>"));
    ASSERT_TRUE(waitFor([&] { return service.calls.size() == 1; }));
    const auto &first = service.calls[0];
    EXPECT_EQ(first.app, "Vorlan");
    EXPECT_EQ(first.icon, "org.vorlan.Vorlan");
    EXPECT_EQ(first.summary, "alice");
    EXPECT_EQ(first.body, QStringLiteral("&lt;b&gt;会議&lt;/b&gt; &amp; &lt;img src=x&gt;"));
    EXPECT_EQ(first.replaces, 0u);
    EXPECT_TRUE(first.actions.contains("default"));

    // The next line takes the place of the one still shown.
    ASSERT_TRUE(waitFor([&] { return notifier.shownId() == 41; }));
    notifier.notify(QStringLiteral("bob"), QStringLiteral("二行目"));
    ASSERT_TRUE(waitFor([&] { return service.calls.size() == 2; }));
    EXPECT_EQ(service.calls[1].replaces, 41u);

    const auto emitSignal = [&server](const char *name, const QVariantList &args) {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                         QStringLiteral("org.freedesktop.Notifications"),
                                                         QLatin1String(name));
        signal.setArguments(args);
        server.send(signal);
    };
    emitSignal("ActionInvoked", {41u, QStringLiteral("other")});
    emitSignal("ActionInvoked", {7u, QStringLiteral("default")}); // someone else's
    emitSignal("ActionInvoked", {41u, QStringLiteral("default")});
    ASSERT_TRUE(waitFor([&] { return clicks > 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(clicks, 1);

    // Once it is closed, the next line is a new notification.
    emitSignal("NotificationClosed", {41u, 2u});
    ASSERT_TRUE(waitFor([&] { return notifier.shownId() == 0; }));
    notifier.notify(QStringLiteral("carol"), QStringLiteral("三行目"));
    ASSERT_TRUE(waitFor([&] { return service.calls.size() == 3; }));
    EXPECT_EQ(service.calls[2].replaces, 0u);
}

TEST_F(PrivateBus, AServerThatReadsNoMarkupGetsTheLineAsItIs)
{
    FakeNotifications service;
    service.capabilities = {"actions", "body"};
    const std::unique_ptr<DesktopNotifier> notifier = serve(service);
    notifier->notify(QStringLiteral("alice"), QStringLiteral("a < b & c"));
    ASSERT_TRUE(waitFor([&] { return service.calls.size() == 1; }));
    EXPECT_EQ(service.calls[0].body, QStringLiteral("a < b & c"));
}

TEST_F(PrivateBus, ThePeersNameAndLineShowAsTypedWhetherTheServerReadsMarkupOrNot)
{
    for (const bool markup : {true, false}) {
        FakeNotifications service;
        if (!markup)
            service.capabilities = {"actions", "body"};
        const std::unique_ptr<DesktopNotifier> notifier = serve(service);
        for (const QString &text : Remote)
            notifier->notify(text, text);
        ASSERT_TRUE(waitFor([&] { return service.calls.size() == Remote.size(); }));
        for (qsizetype i = 0; i < Remote.size(); ++i) {
            const FakeNotifications::Call &call = service.calls[i];
            SCOPED_TRACE(Remote[i].toStdString() + (markup ? " to a markup server" : " to a plain one"));
            EXPECT_EQ(markup ? shownAsMarkup(call.body) : call.body, Remote[i]);
            // Servers read the summary as text or as markup whatever they say of the body: it
            // shows the same either way, its markup characters in their full-width forms.
            EXPECT_EQ(shownAsMarkup(call.summary), call.summary);
            QString readBack = call.summary;
            readBack.replace(u'\uFF1C', u'<').replace(u'\uFF1E', u'>').replace(u'\uFF06', u'&');
            EXPECT_EQ(readBack, Remote[i]);
            if (!Remote[i].contains(QRegularExpression(QStringLiteral("[<>&]")))) {
                EXPECT_EQ(call.summary, Remote[i]);
            }
        }
        QDBusConnection server(QStringLiteral("notify-server"));
        server.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        server.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    }
}

TEST(TrayIcon, APeersNameOrLineInTheCaptionShowsAsTypedInTheTitleBarAndTheToolTip)
{
    QWidget window;
    window.show();
    TrayIcon tray(window, [] {});
    const Presence::Seams seams = desktopSeams(window);
    for (const QString &text : Remote) {
        const QString caption = QStringLiteral("Vorlan ") + text + QStringLiteral("-> ") + text;
        SCOPED_TRACE(caption.toStdString());
        seams.setCaption(caption);
        EXPECT_EQ(window.windowHandle()->title(), caption);
        // Qt's tool tip shows what looks like markup to it as rich text, the rest as it is:
        // tray hosts that show plain text get the rest unchanged.
        const QString tip = tray.icon().toolTip();
        EXPECT_EQ(Qt::mightBeRichText(tip) ? shownAsRichText(tip) : tip, caption);
        if (!Qt::mightBeRichText(caption)) {
            EXPECT_EQ(tip, caption);
        }
    }
}

TEST(TrayIcon, FollowsTheWindowsIconAndCaptionAndItsClickRaises)
{
    QWidget window;
    window.setWindowTitle(QStringLiteral("Vorlan [2]"));
    int raised = 0;
    TrayIcon tray(window, [&raised] { ++raised; });
    EXPECT_EQ(tray.icon().toolTip(), "Vorlan [2]");

    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::red);
    const QIcon blink(pixmap);
    window.setWindowIcon(blink);
    EXPECT_EQ(tray.icon().icon().cacheKey(), window.windowIcon().cacheKey());
    window.setWindowTitle(QStringLiteral("Vorlan alice-> こんにちは"));
    EXPECT_EQ(tray.icon().toolTip(), QStringLiteral("Vorlan alice-> こんにちは"));

    emit const_cast<QSystemTrayIcon &>(tray.icon()).activated(QSystemTrayIcon::Trigger);
    emit const_cast<QSystemTrayIcon &>(tray.icon()).activated(QSystemTrayIcon::Context);
    EXPECT_EQ(raised, 1);
}

} // namespace
} // namespace vorlan

#include "test_desktopattention.moc"
