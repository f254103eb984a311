#include "app/mainwindow.h"
#include "presence/desktopnotifier.h"
#include "presence/notificationpacer.h"
#include "presence/presence.h"
#include "presence/trayicon.h"
#include "protocol/message.h"
#include "roster/memberlist.h"
#include "settings/runningsettings.h"
#include "support/privatebus.h"
#include "support/testsupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QMenu>
#include <QPixmap>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
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

// A notification service of our own on a private session bus. It keeps what is on screen as a
// server does: a replaced notification keeps its id, one replacing an id no longer shown is new.
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
    QSet<uint> shown;
    qsizetype mostShown = 0;
    bool stacks = false; // a server that shows each notification apart, replacing none

public slots:
    QStringList GetCapabilities() { return capabilities; }

    uint Notify(const QString &app, uint replaces, const QString &icon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &, int)
    {
        calls.append({app, icon, summary, body, replaces, actions});
        const uint id = !stacks && shown.contains(replaces) ? replaces : ++m_lastId;
        shown.insert(id);
        mostShown = std::max(mostShown, shown.size());
        return id;
    }

    void CloseNotification(uint id)
    {
        if (shown.remove(id))
            emit NotificationClosed(id, 3);
    }

signals:
    void NotificationClosed(uint id, uint reason);
    void ActionInvoked(uint id, const QString &action);

private:
    uint m_lastId = 40;
};

class PrivateBus : public test::PrivateBusTest
{
protected:

    QDBusConnection server() { return connection(QStringLiteral("notify-server")); }
    QDBusConnection client() { return connection(QStringLiteral("notify-client")); }

    void serveOnly(FakeNotifications &service)
    {
        EXPECT_TRUE(server().registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        EXPECT_TRUE(server().registerService(QStringLiteral("org.freedesktop.Notifications")));
    }

    // A fake notification service on the bus, and a notifier that has heard its capabilities.
    std::unique_ptr<DesktopNotifier> serve(FakeNotifications &service)
    {
        serveOnly(service);
        auto notifier = std::make_unique<DesktopNotifier>(client());
        EXPECT_TRUE(waitFor([&notifier] { return notifier->knowsServer(); }));
        return notifier;
    }

    // A desktop's tray starts, or ends: its watcher takes or leaves its name.
    void trayComes()
    {
        QDBusConnection host = connection(QStringLiteral("tray-host"));
        EXPECT_TRUE(host.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));
    }
    void trayGoes()
    {
        QDBusConnection(QStringLiteral("tray-host")).unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    }

    static QIcon redIcon()
    {
        QPixmap pixmap(16, 16);
        pixmap.fill(Qt::red);
        return QIcon(pixmap);
    }

    // Lets the bus carry whatever is on its way.
    static void settle()
    {
        waitFor([] { return false; }, 100);
    }

};

TEST_F(PrivateBus, ABurstIsOneNotificationReplacedClosedWhenReadAndItsClickRaises)
{
    FakeNotifications service;
    const std::unique_ptr<DesktopNotifier> served = serve(service);
    DesktopNotifier &notifier = *served;
    int clicks = 0;
    QObject::connect(&notifier, &DesktopNotifier::activated, [&clicks] { ++clicks; });

    // Three lines before the server has numbered the first: the newest replaces it.
    notifier.notify(QStringLiteral("alice"), QStringLiteral("<b>会議</b> & <img src=x>"));
    notifier.notify(QStringLiteral("bob"), QStringLiteral("二行目"));
    notifier.notify(QStringLiteral("carol"), QStringLiteral("三行目"));
    ASSERT_TRUE(waitFor([&] { return service.calls.size() == 2; }));
    settle();
    ASSERT_EQ(service.calls.size(), 2);
    const auto &first = service.calls[0];
    EXPECT_EQ(first.app, "Vorlan");
    EXPECT_EQ(first.icon, "org.vorlan.Vorlan");
    EXPECT_EQ(first.summary, "alice");
    EXPECT_EQ(first.body, QStringLiteral("&lt;b&gt;会議&lt;/b&gt; &amp; &lt;img src=x&gt;"));
    EXPECT_EQ(first.replaces, 0u);
    EXPECT_TRUE(first.actions.contains("default"));
    EXPECT_EQ(service.calls[1].summary, "carol");
    EXPECT_EQ(service.calls[1].replaces, 41u);
    EXPECT_EQ(service.shown, QSet<uint>{41});
    EXPECT_EQ(service.mostShown, 1);

    emit service.ActionInvoked(41, QStringLiteral("other"));
    emit service.ActionInvoked(7, QStringLiteral("default")); // someone else's
    emit service.ActionInvoked(41, QStringLiteral("default"));
    ASSERT_TRUE(waitFor([&] { return clicks > 0; }));
    settle();
    EXPECT_EQ(clicks, 1);

    // The user has read it: it goes. The next line is a new notification.
    notifier.close();
    ASSERT_TRUE(waitFor([&] { return service.shown.isEmpty(); }));
    notifier.notify(QStringLiteral("dave"), QStringLiteral("四行目"));
    ASSERT_TRUE(waitFor([&] { return notifier.shownId() == 42; }));
    EXPECT_EQ(service.calls.last().replaces, 0u);

    // One the server closed is not replaced either.
    service.shown.remove(42); // the user dismissed it
    emit service.NotificationClosed(42, 2);
    ASSERT_TRUE(waitFor([&] { return notifier.shownId() == 0; }));
    notifier.notify(QStringLiteral("erin"), QStringLiteral("五行目"));
    ASSERT_TRUE(waitFor([&] { return service.calls.size() == 4; }));
    EXPECT_EQ(service.calls.last().replaces, 0u);

    // Closed before the server numbered it: it goes once numbered, and what waited never shows.
    ASSERT_TRUE(waitFor([&] { return notifier.shownId() == 43; }));
    notifier.notify(QStringLiteral("frank"), QStringLiteral("六行目"));
    notifier.notify(QStringLiteral("gina"), QStringLiteral("七行目"));
    notifier.close();
    ASSERT_TRUE(waitFor([&] { return service.shown.isEmpty(); }));
    settle();
    EXPECT_EQ(service.calls.size(), 5);
    EXPECT_TRUE(service.shown.isEmpty());
    EXPECT_EQ(service.mostShown, 1);
}

// A server that shows every notification apart: a click on an older one raises all the same.
TEST_F(PrivateBus, AClickOnAnyOfOurNotificationsRaises)
{
    FakeNotifications service;
    service.stacks = true;
    const std::unique_ptr<DesktopNotifier> notifier = serve(service);
    int clicks = 0;
    QObject::connect(notifier.get(), &DesktopNotifier::activated, [&clicks] { ++clicks; });
    notifier->notify(QStringLiteral("alice"), QStringLiteral("一"));
    ASSERT_TRUE(waitFor([&] { return notifier->shownId() == 41; }));
    notifier->notify(QStringLiteral("bob"), QStringLiteral("二"));
    ASSERT_TRUE(waitFor([&] { return notifier->shownId() == 42; }));
    emit service.ActionInvoked(41, QStringLiteral("default"));
    ASSERT_TRUE(waitFor([&] { return clicks == 1; }));
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
        service.stacks = true;
        const std::unique_ptr<DesktopNotifier> notifier = serve(service);
        for (qsizetype i = 0; i < Remote.size(); ++i) {
            notifier->notify(Remote[i], Remote[i]);
            ASSERT_TRUE(waitFor([&] { return notifier->shownId() == 41 + i; }));
        }
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
        server().unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        server().unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    }
}

TEST_F(PrivateBus, APeersNameOrLineInTheCaptionShowsAsTypedInTheTitleBarAndTheToolTip)
{
    trayComes();
    QWidget window;
    window.show();
    TrayIcon tray(window, [] {}, client());
    ASSERT_TRUE(waitFor([&] { return tray.icon() != nullptr; }));
    const Presence::Seams seams = desktopSeams(window, QDBusConnection(QStringLiteral("none")));
    for (const QString &text : Remote) {
        const QString caption = QStringLiteral("Vorlan ") + text + QStringLiteral("-> ") + text;
        SCOPED_TRACE(caption.toStdString());
        seams.setCaption(caption);
        EXPECT_EQ(window.windowHandle()->title(), caption);
        // Qt's tool tip shows what looks like markup to it as rich text, the rest as it is:
        // tray hosts that show plain text get the rest unchanged.
        const QString tip = tray.icon()->toolTip();
        EXPECT_EQ(Qt::mightBeRichText(tip) ? shownAsRichText(tip) : tip, caption);
        if (!Qt::mightBeRichText(caption)) {
            EXPECT_EQ(tip, caption);
        }
    }
}

TEST_F(PrivateBus, TheTrayIconFollowsTheWindowsIconAndCaptionAndItsClickRaises)
{
    QWidget window;
    window.setWindowTitle(QStringLiteral("Vorlan [2]"));
    int raised = 0;
    TrayIcon tray(window, [&raised] { ++raised; }, client());
    trayComes();
    ASSERT_TRUE(waitFor([&] { return tray.icon() != nullptr; }));
    EXPECT_EQ(tray.icon()->toolTip(), "Vorlan [2]");

    window.setWindowIcon(redIcon());
    EXPECT_EQ(tray.icon()->icon().cacheKey(), window.windowIcon().cacheKey());
    window.setWindowTitle(QStringLiteral("Vorlan alice-> こんにちは"));
    EXPECT_EQ(tray.icon()->toolTip(), QStringLiteral("Vorlan alice-> こんにちは"));

    auto &icon = const_cast<QSystemTrayIcon &>(*tray.icon());
    emit icon.activated(QSystemTrayIcon::Trigger);
    emit icon.activated(QSystemTrayIcon::Context);
    EXPECT_EQ(raised, 1);
}

// The windows as the program makes them, with the fake desktop on the private bus.
class DesktopBus : public PrivateBus
{
protected:
    std::unique_ptr<MainWindow> window()
    {
        MainWindowOptions options;
        options.iniPath = m_folder.filePath(QStringLiteral("Vorlan.ini"));
        options.desktopBus = client();
        return std::make_unique<MainWindow>(options);
    }
    static TrayIcon &trayOf(const MainWindow &window) { return *window.findChild<TrayIcon *>(); }
    static QStringList entries(const MainWindow &window)
    {
        QStringList texts;
        for (const QAction *action : trayOf(window).menu().actions())
            texts << (action->isSeparator() ? QStringLiteral("--") : action->text());
        return texts;
    }
    static bool inTray(const MainWindow &window)
    {
        return trayOf(window).icon() && trayOf(window).icon()->isVisible();
    }

    QTemporaryDir m_folder;
};

// Three lines while the user is elsewhere: one notification at once, one that sums them up
// NotificationPacer::HoldMs later in its place, gone when the user comes to the window.
TEST_F(DesktopBus, LinesInTheBackgroundLeaveOneNotificationThatGoesWhenTheUserLooks)
{
    FakeNotifications service;
    serveOnly(service);
    const std::unique_ptr<MainWindow> w = window();
    qint64 now = 0;
    w->presence().notifications().setClock([&now] { return now; });
    w->setWindowActive(false);
    w->presence().alert(u"100", QStringLiteral("太郎"), QStringLiteral("おはよう"));
    w->presence().alert(u"100", QStringLiteral("次郎"), QStringLiteral("会議は"));
    w->presence().alert(u"100", QStringLiteral("花子"), QStringLiteral("三時から"));
    ASSERT_TRUE(waitFor([&] { return service.calls.size() == 1; }));
    EXPECT_EQ(service.calls[0].summary, QStringLiteral("太郎"));
    EXPECT_EQ(service.calls[0].body, QStringLiteral("おはよう"));
    now = NotificationPacer::HoldMs;
    w->presence().notifications().runDue();
    ASSERT_TRUE(waitFor([&] { return service.calls.size() == 2; }));
    EXPECT_EQ(service.calls[1].summary, QStringLiteral("花子 ほか2人: 3件"));
    EXPECT_EQ(service.calls[1].body, QStringLiteral("三時から"));
    EXPECT_EQ(service.shown, QSet<uint>{41});
    EXPECT_EQ(service.mostShown, 1);

    w->show();
    w->activateWindow();
    ASSERT_TRUE(waitFor([&] { return service.shown.isEmpty(); }));

    // A line still waiting when the user looks has been read: it is never shown, and the next
    // line counts from one.
    w->setWindowActive(false);
    w->presence().alert(u"100", QStringLiteral("健太"), QStringLiteral("了解"));
    w->presence().windowActivated();
    now = 2 * NotificationPacer::HoldMs;
    w->presence().notifications().runDue();
    w->presence().alert(u"100", QStringLiteral("健太"), QStringLiteral("もう一行"));
    ASSERT_TRUE(waitFor([&] { return service.calls.size() >= 3; }));
    EXPECT_EQ(service.calls.size(), 3);
    EXPECT_EQ(service.calls.last().summary, QStringLiteral("健太"));
    EXPECT_EQ(service.calls.last().body, QStringLiteral("もう一行"));
}

// A tray that starts after the program gets the icon, and the icon goes with it; the icon waits
// for the window's own. Its desk entry is the desk button's, whoever turns the desk state.
TEST_F(DesktopBus, TheTrayIconComesAndGoesWithTheTrayAndItsMenuFollowsTheDesk)
{
    static QStringList warnings;
    warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext &, const QString &text) {
            if (type != QtDebugMsg && type != QtInfoMsg)
                warnings << text;
        });
    const std::unique_ptr<MainWindow> before = window();
    before->setWindowIcon(redIcon());
    settle();
    EXPECT_EQ(trayOf(*before).icon(), nullptr);

    trayComes();
    ASSERT_TRUE(waitFor([&] { return inTray(*before); }));
    const std::unique_ptr<MainWindow> after = window(); // its icon comes later, as at start-up
    ASSERT_TRUE(waitFor([&] { return trayOf(*after).icon() != nullptr; }));
    EXPECT_FALSE(inTray(*after));
    after->setWindowIcon(redIcon());
    EXPECT_TRUE(inTray(*after));

    trayGoes();
    ASSERT_TRUE(waitFor([&] { return !inTray(*before) && !inTray(*after); }));
    trayComes();
    ASSERT_TRUE(waitFor([&] { return inTray(*before) && inTray(*after); }));
    qInstallMessageHandler(previous);
    EXPECT_FALSE(warnings.join(u'\n').contains(QStringLiteral("No Icon set"))) << warnings.join(u'\n').toStdString();

    MainWindow &w = *after;
    auto *comDesk = w.findChild<QPushButton *>(QStringLiteral("comDesk"));
    EXPECT_EQ(entries(w), QStringList({"表示", "不在通知", "履歴", "--", "終了"}));
    comDesk->click();
    EXPECT_EQ(entries(w), QStringList({"表示", "在席通知", "履歴", "--", "終了"}));
    trayOf(w).menu().actions()[1]->trigger();
    EXPECT_EQ(comDesk->text(), QStringLiteral("不在通知"));
    EXPECT_EQ(w.identity().deskFlag, "0");
    EXPECT_EQ(entries(w), QStringList({"表示", "不在通知", "履歴", "--", "終了"}));

    trayOf(w).menu().actions()[0]->trigger();
    ASSERT_TRUE(waitFor([&] { return w.isVisible(); }));
    trayOf(w).menu().actions()[4]->trigger();
    EXPECT_TRUE(waitFor([&] { return !w.isVisible(); }));
}

} // namespace
} // namespace vorlan

#include "test_desktopattention.moc"
