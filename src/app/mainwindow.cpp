#include "app/mainwindow.h"

#include "app/mainwindowlayout.h"
#include "app/optionshandover.h"
#include "app/splitterbar.h"
#include "app/startupsettings.h"
#include "app/twips.h"
#include "away/autoaway.h"
#include "away/desktopidlesource.h"
#include "conversation/composer.h"
#include "conversation/conversationview.h"
#include "conversation/requests.h"
#include "history/historyentry.h"
#include "history/historywindow.h"
#include "net/addresswatch.h"
#include "net/nameresolver.h"
#include "net/portargument.h"
#include "net/udpendpoint.h"
#include "presence/presence.h"
#include "presence/trayicon.h"
#include "app/dispatcher.h"
#include "roster/memberlist.h"
#include "roster/reload.h"
#include "settings/inifile.h"
#include "settings/optionpickers.h"
#include "settings/optionsdialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>

#include <memory>

namespace vorlan {

namespace {

const QString Broadcast = QStringLiteral("255.255.255.255");

// The client area the controls were designed for, in twips.
constexpr int DesignWidth = 8925;
constexpr int DesignHeight = 5025;

bool isEnterKey(int key)
{
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

} // namespace

MainWindow::MainWindow(MainWindowOptions options, QWidget *parent)
    : QWidget(parent),
      m_options(std::move(options)),
      m_clock(m_options.clock ? m_options.clock : &m_systemClock),
      m_log(*m_clock)
{
    setObjectName(QStringLiteral("frmMain"));
    m_iniPath = m_options.iniPath.isEmpty()
                    ? QCoreApplication::applicationDirPath() + QStringLiteral("/Vorlan.ini")
                    : m_options.iniPath;
    m_ini = std::make_unique<IniFile>(m_iniPath);
    setWindowTitle(programTitle());
    createControls();
    m_layout = std::make_unique<MainWindowLayout>(*this);

    m_endpoint = new UdpEndpoint(this);
    connect(m_endpoint, &UdpEndpoint::messageReceived, this, &MainWindow::ProcessMessage);
    connect(m_endpoint, &UdpEndpoint::failed, this,
            [this](const QString &message) { showMessage(message, QMessageBox::Warning); });

    Dispatcher::Hooks dispatchHooks;
    dispatchHooks.send = [this](const QString &text, const QString &address) { SendDatagram(text, address); };
    dispatchHooks.writeLog = [this](const QStringList &items) { WriteLog(items); };
    dispatchHooks.showTitle = [this] { ShowTitle(); };
    dispatchHooks.alert = [this](QStringView code, const QString &name, const QString &payload) {
        m_presence->alert(code, name, payload);
    };
    m_dispatcher = std::make_unique<Dispatcher>(*m_lvMember, *m_rtfHomeMessage, m_me, m_settings,
                                                *m_clock, std::move(dispatchHooks));

    Composer::Hooks composeHooks;
    composeHooks.send = [this](const QString &text, const QString &address) { SendDatagram(text, address); };
    composeHooks.pump = [] { QCoreApplication::processEvents(); };
    composeHooks.setTestVisible = [this](bool visible) { m_comTest->setVisible(visible); };
    composeHooks.deskToggle = [this] { m_presence->comDesk_Click(); };
    // The user's own line comes back as a received one: the conversation goes to its end to show
    // it, whatever the user was reading or had selected there.
    composeHooks.sending = [this] { m_rtfHomeMessage->showEnd(); };
    m_composer = std::make_unique<Composer>(*m_lvMember, m_me, std::move(composeHooks));
    wirePresence();
    wireAutoAway();
    createRequests();
    new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_H), this, this, &MainWindow::showHistory);
    addHistoryToContextMenu(*m_rtfHomeMessage, [this] { showHistory(); });
}

void MainWindow::showHistory()
{
    if (!m_history)
        m_history = new HistoryWindow(m_settings, *m_clock, *m_rtfHomeMessage, this);
    m_history->open();
}

void MainWindow::wirePresence()
{
    auto *comDesk = findChild<QPushButton *>(QStringLiteral("comDesk"));
    const QDBusConnection bus = m_options.desktopBus ? *m_options.desktopBus : QDBusConnection::sessionBus();
    Presence::Seams seams = desktopSeams(*this, bus);
    seams.showTitle = [this] { ShowTitle(); };
    seams.setDeskCaption = [comDesk](const QString &caption) { comDesk->setText(caption); };
    seams.send = [this](const QString &text, const QString &address) { SendDatagram(text, address); };
    seams.pump = [] { QCoreApplication::processEvents(); };
    const StateIcons icons{picVorlan, picReserve, picPop, picDesk};
    m_presence = std::make_unique<Presence>(
        Presence::State{*m_lvMember, m_me, m_settings, m_lstPopup, icons, m_windowActive},
        std::move(seams));
    connect(comDesk, &QPushButton::clicked, m_presence.get(), &Presence::comDesk_Click);
    connect(m_comTest, &QPushButton::clicked, m_presence.get(), &Presence::comTest_Click);

    // The tray's entries do what the buttons do.
    auto *tray = new TrayIcon(*this, m_presence->seams().raiseWindow, bus, this);
    connect(tray, &TrayIcon::historyRequested, this, &MainWindow::showHistory);
    connect(tray, &TrayIcon::deskRequested, comDesk, &QPushButton::click);
    connect(tray, &TrayIcon::quitRequested, findChild<QPushButton *>(QStringLiteral("comExit")),
            &QPushButton::click);
    connect(m_presence.get(), &Presence::deskChanged, tray, &TrayIcon::setAway);
}

// The automatic away goes the button's way, so that all that follows the desk state follows it.
void MainWindow::wireAutoAway()
{
    IdleSource *source = m_options.idleSource ? m_options.idleSource : createDesktopIdleSource(this);
    AutoAway::Hooks hooks;
    hooks.isAway = [this] { return m_me.deskFlag != QLatin1String("0"); };
    hooks.toggleDesk = [this] { m_presence->comDesk_Click(); };
    m_autoAway = std::make_unique<AutoAway>(*source, std::move(hooks));
    connect(m_presence.get(), &Presence::deskChanged, m_autoAway.get(), &AutoAway::deskChanged);
}

// "情報", "過去ログ" and "リロード".
void MainWindow::createRequests()
{
    m_resolver = std::make_unique<NameResolver>();
    const auto pump = [] { QCoreApplication::processEvents(); };
    const auto setPastLogAsked = [this](bool asked) { m_dispatcher->setPastLogAsked(asked); };

    Requests::Hooks requestHooks;
    requestHooks.send = [this](const QString &text, const QString &address) { SendDatagram(text, address); };
    requestHooks.pump = pump;
    requestHooks.setPastLogAsked = setPastLogAsked;
    m_requests = std::make_unique<Requests>(*m_lvMember, m_me, std::move(requestHooks));

    Reload::Hooks reloadHooks;
    reloadHooks.send = [this](const QString &text, const QString &address) { return SendDatagram(text, address); };
    reloadHooks.pump = pump;
    reloadHooks.setPastLogAsked = setPastLogAsked;
    reloadHooks.resolve = [this](const QString &name) { return m_resolver->resolve(name); };
    reloadHooks.showMessage = [this](const QString &text) { showMessage(text); };
    reloadHooks.otherBroadcasts = [this] { return otherBroadcasts(); };
    m_reload = std::make_unique<Reload>(*m_lvMember, m_me, m_lstIP, m_lstMemberIP, std::move(reloadHooks));

    connect(findChild<QPushButton *>(QStringLiteral("comInfo")), &QPushButton::clicked, this,
            [this] { m_requests->comInfo_Click(); });
    connect(findChild<QPushButton *>(QStringLiteral("comLog")), &QPushButton::clicked, this,
            [this] { m_requests->comLog_Click(); });
    connect(findChild<QPushButton *>(QStringLiteral("comReload")), &QPushButton::clicked, this,
            [this] { m_reload->comReload_Click(); });
}

MainWindow::~MainWindow() = default;

QPushButton *MainWindow::addButton(const char *name, const QString &caption, const QRect &twips,
                                   const QString &toolTip)
{
    auto *button = new QPushButton(caption, this);
    button->setObjectName(QString::fromLatin1(name));
    button->setToolTip(toolTip);
    button->setAutoDefault(false);
    setTwipsGeometry(button, twips);
    return button;
}

void MainWindow::createControls()
{
    const qreal dpi = logicalDpiY();
    resize(twipsToPixels(DesignWidth, dpi), twipsToPixels(DesignHeight, dpi));

    m_lvMember = new MemberList(this);
    setTwipsGeometry(m_lvMember, {120, 120, 8655, 1575});
    for (int column = 0; column < MemberList::ColumnCount; ++column)
        m_lvMember->header()->resizeSection(column, twipsToPixels(1440, dpi));
    connect(m_lvMember, &MemberList::memberAdded, this, &MainWindow::ShowTitle);
    connect(m_lvMember, &QTreeWidget::itemDoubleClicked, this, &MainWindow::lvMember_DblClick);

    setTwipsGeometry(new SplitterBar(this), {120, 1690, 8655, 75});

    QPushButton *comOption = addButton("comOption", QStringLiteral("オプション"),
                                       {1320, 1800, 975, 300}, QStringLiteral("オプション"));
    connect(comOption, &QPushButton::clicked, this, &MainWindow::comOption_Click);
    addButton("comInfo", QStringLiteral("情報"), {2400, 1800, 975, 300},
              QStringLiteral("参加者のバージョン表示"));
    addButton("comLog", QStringLiteral("過去ログ"), {3480, 1800, 975, 300},
              QStringLiteral("メンバーからメッセージ履歴の入手"));
    addButton("comReload", QStringLiteral("リロード"), {4560, 1800, 975, 300},
              QStringLiteral("メンバーの再確認"));
    QPushButton *comFree = addButton("comFree", QStringLiteral("選択解除"), {5640, 1800, 975, 300},
                                     QStringLiteral("メンバー選択の解除"));
    connect(comFree, &QPushButton::clicked, m_lvMember, &MemberList::comFree_Click);
    addButton("comDesk", QStringLiteral("不在通知"), {6720, 1800, 975, 300},
              QStringLiteral("在席/不在通知"));
    QPushButton *comExit = addButton("comExit", QStringLiteral("終了"), {7800, 1800, 975, 300});
    connect(comExit, &QPushButton::clicked, this, &QWidget::close);

    m_comTest = addButton("comTest", QStringLiteral("Test"), {120, 1800, 975, 300});
    m_comTest->hide();

    // The keyboard's default and cancel buttons; they take no place in the layout.
    QPushButton *comEnter = addButton("comEnter", QStringLiteral("Enter"), {0, 0, 0, 0});
    comEnter->hide();
    connect(comEnter, &QPushButton::clicked, this, &MainWindow::comEnter_Click);
    QPushButton *comEsc = addButton("comEsc", QStringLiteral("ESC"), {0, 0, 0, 0});
    comEsc->hide();
    connect(comEsc, &QPushButton::clicked, this, &QWidget::showMinimized);

    m_rtfHomeMessage = new ConversationView(this);
    setTwipsGeometry(m_rtfHomeMessage, {120, 2160, 8655, 1695});

    m_txtSend = new SendBox(this);
    setTwipsGeometry(m_txtSend, {120, 3840, 8655, 390});
    connect(m_txtSend, &SendBox::enterPressed, comEnter, &QPushButton::click);
    followRecipients();

    auto *credit = new QLabel(QStringLiteral("簡易チャットシステム ") + programTitle(), this);
    credit->setObjectName(QStringLiteral("lblCopyright"));
    credit->setToolTip(QStringLiteral("フリーソフトウェア"));
    setTwipsGeometry(credit, {120, 4320, 8685, 465});
}

// The compose box names the ticked members while a line would go to them only. Ticks, names,
// leaves, a reload and a sort all change the model; the names are gathered once per turn of the
// event loop however many rows changed.
void MainWindow::followRecipients()
{
    auto *later = new QTimer(this);
    later->setSingleShot(true);
    later->setInterval(0);
    connect(later, &QTimer::timeout, this,
            [this] { m_txtSend->setRecipients(m_lvMember->tickedNames(m_me.address)); });
    const auto changed = [later] { later->start(); };
    const QAbstractItemModel *rows = m_lvMember->model();
    connect(rows, &QAbstractItemModel::dataChanged, later, changed);
    connect(rows, &QAbstractItemModel::rowsRemoved, later, changed);
    connect(rows, &QAbstractItemModel::modelReset, later, changed);
    connect(rows, &QAbstractItemModel::layoutChanged, later, changed);
}

void MainWindow::setMessagePresenter(std::function<void(const QString &, QMessageBox::Icon)> presenter)
{
    m_messages.setPresenter(std::move(presenter));
}

void MainWindow::showMessage(const QString &text, QMessageBox::Icon icon)
{
    m_messages.show(text, icon, isVisible() ? this : nullptr);
}

int MainWindow::Form_Load()
{
    applyStartupSettings(*this);
    const int exitCode = onlinePhase();
    if (exitCode == 0)
        m_autoAway->setMinutes(m_settings.AutoAway);
    return exitCode;
}

int MainWindow::onlinePhase()
{
    const std::optional<quint16> port = portFromCommandLine(m_options.commandLine);
    if (!port) {
        showMessage(QStringLiteral("ポート番号は1から65535の範囲で指定してください。"));
        return 2;
    }
    m_port = *port;
    setWindowTitle(programTitle());
    m_dispatcher->setPastLogAsked(false);

    QList<qreal> tabStops;
    const qreal dpi = logicalDpiX();
    for (int i = 0; i < 20; ++i)
        tabStops.append((360 + 90 * i) * dpi / 1440.0);
    m_rtfHomeMessage->setTabStops(tabStops);

    m_me.startTime = m_clock->now().toString(QStringLiteral("HH:mm:ss"));
    m_me.deskFlag = QStringLiteral("0");
    const HostIdentity host = m_options.identity ? *m_options.identity : discoverHostIdentity();
    m_me.hostName = host.hostName;
    m_me.address = host.address;

    UdpEndpoint::Config config;
    config.port = m_port;
    config.bindAddress = m_options.bindAddress;
    config.segment = m_options.segment;
    config.localAddress = m_me.address;
    if (const std::optional<QString> failure = m_endpoint->open(config)) {
        showMessage(*failure, QMessageBox::Warning);
        return 1;
    }
    if (m_options.realNetwork) {
        refuseNonPeers();
        m_addresses = new AddressWatch(this);
        connect(m_addresses, &AddressWatch::changed, this, &MainWindow::refuseNonPeers);
    }
    QCoreApplication::processEvents();
    announce();
    m_windowActive = true;
    return 0;
}

void MainWindow::announce()
{
    SendDatagram(buildJoin(m_me), Broadcast);
    for (const QString &address : otherBroadcasts()) {
        SendDatagram(buildJoin(m_me), address);
        QCoreApplication::processEvents();
    }
    for (const QString &entry : std::as_const(m_lstIP)) {
        const QString peer = entry.trimmed();
        if (peer == m_me.address)
            continue;
        const bool sent = SendDatagram(buildJoin(m_me), resolvePeer(peer));
        QCoreApplication::processEvents();
        if (!sent)
            showMessage(QStringLiteral("登録されているIPアドレス(") + entry
                        + QStringLiteral(")にエラーがあるので修正して下さい."));
    }
}

// Follows the host's addresses: a network added later has a broadcast address of its own.
void MainWindow::refuseNonPeers()
{
    m_dispatcher->setNonPeerAddresses(hostNonPeerAddresses(m_me.address),
                                      !m_me.address.startsWith(QLatin1String("127.")));
}

QStringList MainWindow::otherBroadcasts() const
{
    return m_options.realNetwork ? otherBroadcastAddresses(m_me.address) : QStringList();
}

// A configured peer: the first IPv4 address its name resolves to, else the text itself.
QString MainWindow::resolvePeer(const QString &entry) const
{
    return m_resolver->resolve(entry).value_or(entry);
}

bool MainWindow::SendDatagram(const QString &text, const QString &address)
{
    // Closing may happen while a loop is still sending; the rest of that loop goes nowhere.
    if (m_offline)
        return false;
    return m_endpoint->SendDatagram(text, address);
}

void MainWindow::ProcessMessage(const QString &text, const QString &source)
{
    if (m_addresses)
        m_addresses->refreshIfStale();
    m_dispatcher->ProcessMessage(text, source);
}

bool MainWindow::PastLogAsked() const
{
    return m_dispatcher->PastLogAsked();
}

void MainWindow::ShowTitle()
{
    setWindowTitle(programTitle() + u'(' + QString::number(m_lvMember->rowCount()) + u')');
}

void MainWindow::WriteLog(const QStringList &items)
{
    if (m_log.WriteLog(items))
        return;
    m_settings.LogEnabled = 0;
    showMessage(QStringLiteral("ログを保存できません。設定したログファイル名を見直してください。"));
}

void MainWindow::comEnter_Click()
{
    // Emptied before the sends: events run between them, and what the user types meanwhile
    // (or a second Enter) must neither be lost nor send the same text twice.
    const QString text = m_txtSend->toPlainText().replace(u'\n', QStringLiteral("\r\n"));
    m_txtSend->clear();
    m_composer->comEnter_Click(text);
}

void MainWindow::lvMember_DblClick()
{
    const std::optional<QString> selected = m_lvMember->selectedDisplayName();
    if (!selected)
        return;
    const QString name = *selected + m_settings.Honorific;
    m_txtSend->setFocus();
    QTextCursor cursor = m_txtSend->textCursor();
    cursor.setPosition(cursor.selectionStart()); // a selection is not replaced
    cursor.insertText(name);
    m_txtSend->setTextCursor(cursor);
}

void MainWindow::setOptionPickers(std::unique_ptr<OptionPickers> pickers)
{
    m_pickers = std::move(pickers);
}

std::unique_ptr<frmOption> MainWindow::createOptionsDialog()
{
    if (!m_pickers)
        m_pickers = std::make_unique<QtOptionPickers>();
    return std::make_unique<frmOption>(optionsHostFor(*this), *m_pickers, this);
}

void MainWindow::comOption_Click()
{
    const QString oldName = m_me.userName;
    const std::unique_ptr<frmOption> dialog = createOptionsDialog();
    centreOver(*dialog, *this);
    dialog->exec();
    if (m_me.userName == oldName)
        return;
    // Every row, the own included: the own row shows the new name when its notice comes back.
    const int rows = m_lvMember->rowCount();
    for (int i = 0; i < rows; ++i) {
        if (!m_lvMember->hasRow(i))
            continue;
        SendDatagram(buildNameNotice(m_me), m_lvMember->text(i, MemberList::Address));
        QCoreApplication::processEvents();
    }
}

void MainWindow::keyPressEvent(QKeyEvent *event)
{
    if (isEnterKey(event->key()))
        findChild<QPushButton *>(QStringLiteral("comEnter"))->click();
    else if (event->key() == Qt::Key_Escape)
        findChild<QPushButton *>(QStringLiteral("comEsc"))->click();
    else
        QWidget::keyPressEvent(event);
}

bool MainWindow::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::WindowActivate:
        m_windowActive = true;
        if (m_presence)
            m_presence->windowActivated();
        break;
    case QEvent::WindowDeactivate:
        m_windowActive = false;
        break;
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
        if (m_layout)
            m_lastFrame = m_layout->frameTwips();
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

QRect MainWindow::outerFrameTwips() const
{
    // A window never shown has no frame from the window system: it is measured as always.
    return m_displayLost && m_lastFrame.isValid() ? m_lastFrame : m_layout->frameTwips();
}

void MainWindow::setWindowActive(bool active)
{
    m_windowActive = active;
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    Form_QueryUnload();
    event->accept();
}

void MainWindow::displayLost()
{
    m_displayLost = true;
    m_endpoint->stopRunningEvents();
    Form_QueryUnload();
}

void MainWindow::Form_QueryUnload()
{
    if (m_closed)
        return;
    m_closed = true;
    m_autoAway->stop();
    m_messages.setClosing();
    // The loop walks its own copy: a reload handled while it sends refills lstMemberIP.
    const QStringList snapshot = m_lvMember->addresses();
    m_lstMemberIP = snapshot;
    for (const QString &address : snapshot) {
        if (address == m_me.address)
            continue;
        SendDatagram(buildLeave(m_me), address);
        if (!m_displayLost)
            QCoreApplication::processEvents();
    }
    m_offline = true;
    m_endpoint->close();
    if (m_settings.LogEnabled == 1)
        m_log.close();
    if (!(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)))
        saveWindowGeometry(*this);
}

} // namespace vorlan
