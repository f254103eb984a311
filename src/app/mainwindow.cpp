#include "app/mainwindow.h"

#include "app/startupsettings.h"
#include "app/twips.h"
#include "conversation/composer.h"
#include "conversation/conversationview.h"
#include "net/portargument.h"
#include "net/udpendpoint.h"
#include "protocol/dispatcher.h"
#include "roster/memberlist.h"
#include "settings/inifile.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include <netdb.h>
#include <netinet/in.h>
#include <arpa/inet.h>

#include <cstdio>
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

SendBox::SendBox(QWidget *parent)
    : QPlainTextEdit(parent)
{
    setObjectName(QStringLiteral("txtSend"));
    setToolTip(QStringLiteral("メッセージ送信用"));
    setTabChangesFocus(false);
}

void SendBox::keyPressEvent(QKeyEvent *event)
{
    // Enter never breaks the line: it presses the window's default button.
    if (isEnterKey(event->key())) {
        emit enterPressed();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

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

    m_endpoint = new UdpEndpoint(this);
    connect(m_endpoint, &UdpEndpoint::messageReceived, this, &MainWindow::ProcessMessage);
    connect(m_endpoint, &UdpEndpoint::failed, this,
            [this](const QString &message) { showMessage(message, QMessageBox::Warning); });

    Dispatcher::Hooks dispatchHooks;
    dispatchHooks.send = [this](const QString &text, const QString &address) { SendDatagram(text, address); };
    dispatchHooks.writeLog = [this](const QStringList &items) { WriteLog(items); };
    dispatchHooks.showTitle = [this] { ShowTitle(); };
    m_dispatcher = std::make_unique<Dispatcher>(*m_lvMember, *m_rtfHomeMessage, m_me, m_settings,
                                                *m_clock, std::move(dispatchHooks));

    Composer::Hooks composeHooks;
    composeHooks.send = [this](const QString &text, const QString &address) { SendDatagram(text, address); };
    composeHooks.pump = [] { QCoreApplication::processEvents(); };
    composeHooks.setTestVisible = [this](bool visible) { m_comTest->setVisible(visible); };
    m_composer = std::make_unique<Composer>(*m_lvMember, m_me, std::move(composeHooks));
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

    auto *splitter = new QFrame(this);
    splitter->setObjectName(QStringLiteral("imgResize2"));
    splitter->setCursor(Qt::SizeVerCursor);
    setTwipsGeometry(splitter, {120, 1690, 8655, 75});

    addButton("comOption", QStringLiteral("オプション"), {1320, 1800, 975, 300},
              QStringLiteral("オプション"));
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

    auto *credit = new QLabel(QStringLiteral("簡易チャットシステム ") + programTitle(), this);
    credit->setObjectName(QStringLiteral("lblCopyright"));
    credit->setToolTip(QStringLiteral("フリーソフトウェア"));
    setTwipsGeometry(credit, {120, 4320, 8685, 465});
}

void MainWindow::setMessagePresenter(std::function<void(const QString &, QMessageBox::Icon)> presenter)
{
    m_presenter = std::move(presenter);
}

void MainWindow::showMessage(const QString &text, QMessageBox::Icon icon)
{
    QString line = text;
    line.replace(QLatin1String("\r\n"), QLatin1String(" ")).replace(u'\n', u' ');
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
    if (m_presenter) {
        m_presenter(text, icon);
        return;
    }
    QMessageBox box(icon, QStringLiteral("Vorlan"), text, QMessageBox::Ok, isVisible() ? this : nullptr);
    // Messages quote settings and may one day quote peers: "<" must never start markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

int MainWindow::Form_Load()
{
    applyStartupSettings(*this);
    return onlinePhase();
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
    if (const std::optional<QString> failure = m_endpoint->open(config)) {
        showMessage(*failure, QMessageBox::Warning);
        return 1;
    }
    QCoreApplication::processEvents();
    announce();
    m_windowActive = true;
    return 0;
}

void MainWindow::announce()
{
    SendDatagram(buildJoin(m_me), Broadcast);
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

// A configured peer: the first IPv4 address its name resolves to, else the text itself.
QString MainWindow::resolvePeer(const QString &entry) const
{
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *info = nullptr;
    if (getaddrinfo(entry.toLocal8Bit().constData(), nullptr, &hints, &info) != 0 || !info)
        return entry;
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> guard(info, &freeaddrinfo);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(info->ai_addr)->sin_addr, text,
              sizeof text);
    return QString::fromLatin1(text);
}

bool MainWindow::SendDatagram(const QString &text, const QString &address)
{
    // Closing may happen while a loop is still sending; the rest of that loop goes nowhere.
    if (m_offline)
        return false;
    return m_endpoint->SendDatagram(text, address);
}

void MainWindow::ProcessMessage(const QString &text)
{
    m_dispatcher->ProcessMessage(text);
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

void MainWindow::keyPressEvent(QKeyEvent *event)
{
    if (isEnterKey(event->key()))
        findChild<QPushButton *>(QStringLiteral("comEnter"))->click();
    else if (event->key() == Qt::Key_Escape)
        findChild<QPushButton *>(QStringLiteral("comEsc"))->click();
    else
        QWidget::keyPressEvent(event);
}

void MainWindow::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::WindowStateChange && isMinimized())
        m_windowActive = false;
    QWidget::changeEvent(event);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    Form_QueryUnload();
    event->accept();
}

void MainWindow::Form_QueryUnload()
{
    if (m_closed)
        return;
    m_closed = true;
    m_lstMemberIP = m_lvMember->addresses();
    for (const QString &address : std::as_const(m_lstMemberIP)) {
        if (address == m_me.address)
            continue;
        SendDatagram(buildLeave(m_me), address);
        QCoreApplication::processEvents();
    }
    m_offline = true;
    m_endpoint->close();
    if (m_settings.LogEnabled == 1)
        m_log.close();
    if (!isMinimized() && !isMaximized())
        saveWindowGeometry(*this);
}

} // namespace vorlan
