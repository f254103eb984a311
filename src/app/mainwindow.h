#pragma once

#include "app/messagegate.h"
#include "base/clock.h"
#include "conversation/logwriter.h"
#include "conversation/sendbox.h"
#include "net/localidentity.h"
#include "protocol/message.h"
#include "settings/runningsettings.h"

#include <QDBusConnection>
#include <QIcon>
#include <QMessageBox>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QPushButton;

namespace vorlan {

class AddressWatch;
class AutoAway;
class IdleSource;
class Composer;
class ConversationView;
class Dispatcher;
class IniFile;
class MainWindowLayout;
class MemberList;
class Presence;
class NameResolver;
class Reload;
class Requests;
class OptionPickers;
class UdpEndpoint;
class frmOption;
class HistoryWindow;

// What the caller (main or a test) decides about a window before it starts.
struct MainWindowOptions
{
    QString iniPath;                       // empty: Vorlan.ini next to the executable
    QString commandLine;                   // the port argument
    std::optional<HostIdentity> identity;  // empty: the host's own name and address
    QString bindAddress;                   // empty: the wildcard address
    QStringList segment;                   // loopback stand-ins for the broadcast (tests)
    const Clock *clock = nullptr;          // null: the system clock
    IdleSource *idleSource = nullptr;      // null: the desktop's idle time and lock state
    // The program runs on the host's own networks, not on a test's loopback segment: start-up and
    // reload also ask every other network of this host by its directed broadcast, and a header
    // naming one of this host's broadcast or other addresses is refused.
    bool realNetwork = false;
    // Where desktop notifications go and the tray is looked for; empty: the session bus.
    std::optional<QDBusConnection> desktopBus = std::nullopt;
};

// frmMain: the main window. It owns every control, the roster, the conversation view, the
// endpoint and the running settings, and wires the subsystems together.
class MainWindow : public QWidget
{
    Q_OBJECT

public:
    explicit MainWindow(MainWindowOptions options, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Start-up: the settings phase, then the online phase. Returns 0 when the program goes on,
    // otherwise the exit code it must end with (the message has been shown).
    int Form_Load();

    // Writes the text to standard error and shows it in a message box (caption "Vorlan"), unless
    // a box is open already or the window is closing.
    void showMessage(const QString &text, QMessageBox::Icon icon = QMessageBox::NoIcon);
    // Replaces the message box, for tests; the text still goes to standard error.
    void setMessagePresenter(std::function<void(const QString &, QMessageBox::Icon)> presenter);

    // Returns false when the send failed (its message has been shown).
    bool SendDatagram(const QString &text, const QString &address);
    void ProcessMessage(const QString &text, const QString &source);
    void ShowTitle();
    // Appends items to today's log; a failure turns logging off with its message.
    void WriteLog(const QStringList &items);

    // Running state, for the subsystems and for tests.
    const Identity &identity() const { return m_me; }
    Identity &identity() { return m_me; }
    RunningSettings &settings() { return m_settings; }
    const RunningSettings &settings() const { return m_settings; }
    QStringList &lstIP() { return m_lstIP; }
    QStringList &lstPopup() { return m_lstPopup; }
    QStringList &lstMemberIP() { return m_lstMemberIP; }
    bool PastLogAsked() const;
    bool WindowActive() const { return m_windowActive; }
    void setWindowActive(bool active);
    quint16 PortNumber() const { return m_port; }
    // The outer frame in twips, as section POSITION saves it: the window's, or once the display
    // is gone, the last one the window system reported.
    QRect outerFrameTwips() const;
    const QString &IniPath() const { return m_iniPath; }
    IniFile &settingsFile() { return *m_ini; }
    LogWriter &logWriter() { return m_log; }
    const Clock &clock() const { return *m_clock; }
    UdpEndpoint &endpoint() { return *m_endpoint; }
    Presence &presence() { return *m_presence; }
    AutoAway &autoAway() { return *m_autoAway; }
    MainWindowLayout &windowLayout() { return *m_layout; }

    // The four state icons: standing, received message, important message, away.
    QIcon picVorlan, picReserve, picPop, picDesk;

    MemberList *lvMember() const { return m_lvMember; }
    ConversationView *rtfHomeMessage() const { return m_rtfHomeMessage; }
    SendBox *txtSend() const { return m_txtSend; }

    void comEnter_Click();
    void lvMember_DblClick();

    // The options dialog, modal; a changed user name is then told to every listed member.
    void comOption_Click();
    // The dialog as comOption_Click opens it, loaded from the running settings.
    std::unique_ptr<frmOption> createOptionsDialog();
    // The system's dialogs unless a test puts its own pickers in.
    void setOptionPickers(std::unique_ptr<OptionPickers> pickers);

    // The connection to the display is gone (the X server ended with the session): the window
    // closes as it does on its close box, the leave notices going out and the log and settings
    // being closed, but without the window system: no event runs any more (the platform would
    // end the program inside the loop) and the geometry saved is the last the window had.
    void displayLost();

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void createControls();
    void followRecipients();
    QPushButton *addButton(const char *name, const QString &caption, const QRect &twips,
                           const QString &toolTip = QString());
    int onlinePhase();
    void refuseNonPeers();
    void announce();
    void createRequests();
    QString resolvePeer(const QString &entry) const;
    QStringList otherBroadcasts() const;
    void Form_QueryUnload();
    void wirePresence();
    void wireAutoAway();
    void showHistory();

    MainWindowOptions m_options;
    SystemClock m_systemClock;
    const Clock *m_clock;
    QString m_iniPath;
    std::unique_ptr<IniFile> m_ini;
    RunningSettings m_settings;
    Identity m_me;
    QStringList m_lstIP;
    QStringList m_lstPopup;
    QStringList m_lstMemberIP;
    quint16 m_port = 8888;
    bool m_windowActive = false;
    bool m_closed = false;
    bool m_displayLost = false;
    QRect m_lastFrame; // twips: the outer frame the window system last reported
    bool m_offline = false; // the socket is closed for good: sending stops
    LogWriter m_log;
    MessageGate m_messages;

    MemberList *m_lvMember = nullptr;
    ConversationView *m_rtfHomeMessage = nullptr;
    SendBox *m_txtSend = nullptr;
    QPushButton *m_comTest = nullptr;
    UdpEndpoint *m_endpoint = nullptr;
    AddressWatch *m_addresses = nullptr; // on a real network only
    std::unique_ptr<Dispatcher> m_dispatcher;
    std::unique_ptr<Composer> m_composer;
    std::unique_ptr<Presence> m_presence;
    std::unique_ptr<AutoAway> m_autoAway;
    std::unique_ptr<NameResolver> m_resolver;
    std::unique_ptr<Requests> m_requests;
    std::unique_ptr<Reload> m_reload;
    std::unique_ptr<OptionPickers> m_pickers;
    std::unique_ptr<MainWindowLayout> m_layout;
    HistoryWindow *m_history = nullptr; // made when first asked for
};

} // namespace vorlan
