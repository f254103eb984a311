#include "support/loopbackpeers.h"

#include "conversation/conversationview.h"

#include <QPushButton>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <random>

namespace vorlan::test {

const QStringList LoopbackSegment = {"127.0.0.2", "127.0.0.3", "127.0.0.4"};

bool canBind(const QString &address, quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    inet_pton(AF_INET, address.toLatin1().constData(), &local.sin_addr);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) == 0;
    ::close(fd);
    return bound;
}

quint16 pickPort(const std::function<bool(quint16)> &usable)
{
    std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < 50; ++attempt) {
        const quint16 candidate = quint16(20000 + random() % 40000);
        if (usable(candidate))
            return candidate;
    }
    return 0;
}

void LoopbackPeers::SetUp()
{
    ASSERT_TRUE(folder.isValid());
    port = pickPort([this](quint16 candidate) { return portIsUsable(candidate); });
    ASSERT_NE(port, 0);
}

bool LoopbackPeers::portIsUsable(quint16 candidate)
{
    return std::all_of(LoopbackSegment.begin(), LoopbackSegment.end(),
                       [candidate](const QString &address) { return canBind(address, candidate); });
}

MainWindow &LoopbackPeers::start(const QString &address, const QString &host, const QString &user,
                                 const std::function<void(MainWindow &)> &beforeLoad)
{
    return startWithIni(address, host, "[OPT]\r\nUserName=" + user.toLatin1() + "\r\n", beforeLoad);
}

MainWindow &LoopbackPeers::startWithIni(const QString &address, const QString &host, const QByteArray &ini,
                                        const std::function<void(MainWindow &)> &beforeLoad)
{
    const QString path = folder.filePath(host + ".ini");
    writeFile(path, ini);
    MainWindowOptions options;
    options.iniPath = path;
    options.identity = HostIdentity{host, address};
    options.bindAddress = address;
    options.segment = LoopbackSegment;
    return launch(options, beforeLoad);
}

MainWindow &LoopbackPeers::launch(MainWindowOptions options, const std::function<void(MainWindow &)> &beforeLoad)
{
    options.commandLine = QString::number(port);
    options.clock = &clock;
    auto window = std::make_unique<MainWindow>(options);
    window->setMessagePresenter([this](const QString &text, auto) { messages << text; });
    if (beforeLoad)
        beforeLoad(*window);
    EXPECT_EQ(window->Form_Load(), 0);
    windows.push_back(std::move(window));
    return *windows.back();
}

void LoopbackPeers::type(MainWindow &window, const QString &text)
{
    window.txtSend()->setPlainText(text);
    window.findChild<QPushButton *>("comEnter")->click();
}

bool LoopbackPeers::shows(const MainWindow &window, const QString &text)
{
    return window.rtfHomeMessage()->conversationText().contains(text);
}

int LoopbackPeers::rowOf(const MainWindow &window, const QString &address)
{
    const MemberList &list = *window.lvMember();
    for (int i = 0; i < list.rowCount(); ++i) {
        if (list.text(i, MemberList::Address) == address)
            return i;
    }
    return -1;
}

QString LoopbackPeers::cellOf(const MainWindow &window, const QString &address, MemberList::Column column)
{
    const int row = rowOf(window, address);
    return row < 0 ? QStringLiteral("(not listed)") : window.lvMember()->text(row, column);
}

::testing::AssertionResult LoopbackPeers::noMessages() const
{
    if (messages.isEmpty())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << messages.join('\n').toStdString();
}

} // namespace vorlan::test
