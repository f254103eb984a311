#include "app/mainwindow.h"
#include "conversation/conversationview.h"
#include "net/udpendpoint.h"
#include "roster/memberlist.h"
#include "settings/optionpickers.h"
#include "settings/optionsdialog.h"
#include "support/testsupport.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <random>

using namespace vorlan;
using test::waitFor;

namespace {

const QStringList Segment = {"127.0.0.2", "127.0.0.3", "127.0.0.4"};

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

class FontOnlyPickers final : public OptionPickers
{
public:
    std::optional<QString> pickFile(QWidget *, const FilePickRequest &) override { return std::nullopt; }
    std::optional<QFont> pickFont(QWidget *, const QFont &) override { return QFont("Other Face", 13); }
    std::optional<QColor> pickColor(QWidget *, const QColor &) override { return QColor(Qt::blue); }
    std::optional<QString> pickFolder(QWidget *, const QString &) override { return std::nullopt; }
};

// Three complete peers on the loopback segment; the first one opens its options.
class OptionsHandOver : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        std::mt19937 random(std::random_device{}());
        for (int attempt = 0; attempt < 50 && port == 0; ++attempt) {
            const quint16 candidate = quint16(20000 + random() % 40000);
            bool free = true;
            for (const QString &address : Segment)
                free = free && canBind(address, candidate);
            if (free)
                port = candidate;
        }
        ASSERT_NE(port, 0);
    }

    MainWindow &start(const QString &address, const QString &host, const QString &user)
    {
        const QString ini = folder.filePath(host + ".ini");
        test::writeFile(ini, "[OPT]\r\nUserName=" + user.toLatin1() + "\r\n");
        MainWindowOptions options;
        options.iniPath = ini;
        options.commandLine = QString::number(port);
        options.identity = HostIdentity{host, address};
        options.bindAddress = address;
        options.segment = Segment;
        options.clock = &clock;
        auto window = std::make_unique<MainWindow>(options);
        window->setMessagePresenter([this](const QString &text, auto) { messages << text; });
        window->setOptionPickers(std::make_unique<FontOnlyPickers>());
        EXPECT_EQ(window->Form_Load(), 0);
        QObject::connect(&window->endpoint(), &UdpEndpoint::messageReceived, [this](const QString &text) {
            if (text.startsWith(QLatin1String("404 ")))
                nameNotices << text;
        });
        windows.push_back(std::move(window));
        return *windows.back();
    }

    // Clicks "オプション" and lets step run inside the modal dialog.
    static void options(MainWindow &window, const std::function<void(frmOption &)> &step)
    {
        QTimer::singleShot(0, &window, [&window, step] {
            frmOption *dialog = window.findChild<frmOption *>();
            ASSERT_TRUE(dialog && dialog->isModal() && dialog->isVisible());
            step(*dialog);
            if (dialog->isVisible())
                dialog->reject();
        });
        window.findChild<QPushButton *>("comOption")->click();
    }

    static QString nameAt(const MainWindow &window, const QString &address)
    {
        const MemberList &list = *window.lvMember();
        for (int i = 0; i < list.rowCount(); ++i) {
            if (list.text(i, MemberList::Address) == address)
                return list.text(i, MemberList::UserName);
        }
        return QString();
    }

    QTemporaryDir folder;
    quint16 port = 0;
    test::FakeClock clock;
    QStringList messages;
    QStringList nameNotices;
    std::vector<std::unique_ptr<MainWindow>> windows;
};

} // namespace

TEST_F(OptionsHandOver, a_changed_name_reaches_every_row_and_nothing_else_is_announced)
{
    MainWindow &a = start("127.0.0.2", "pc02", "alice");
    MainWindow &b = start("127.0.0.3", "pc03", "bob");
    MainWindow &c = start("127.0.0.4", "pc04", "carol");
    ASSERT_TRUE(waitFor([&] {
        return a.lvMember()->rowCount() == 3 && b.lvMember()->rowCount() == 3 && c.lvMember()->rowCount() == 3;
    }));

    // Fonts and colour only, then a changed name cancelled: no notice.
    options(a, [](frmOption &dialog) {
        dialog.findChild<QPushButton *>("comMemberFont")->click();
        dialog.findChild<QPushButton *>("comColor")->click();
        dialog.findChild<QPushButton *>("comOk")->click();
    });
    EXPECT_EQ(a.lvMember()->font().family(), "Other Face");
    options(a, [](frmOption &dialog) {
        dialog.findChild<QLineEdit *>("txtUserName")->setText("alicia");
        dialog.findChild<QPushButton *>("comCancel")->click();
    });
    EXPECT_EQ(a.identity().userName, "alice");

    // A change of letter case is a change.
    options(a, [](frmOption &dialog) {
        dialog.findChild<QLineEdit *>("txtUserName")->setText("Alice");
        dialog.findChild<QPushButton *>("comOk")->click();
    });
    ASSERT_TRUE(waitFor([&] { return nameAt(b, "127.0.0.2") == "Alice" && nameAt(c, "127.0.0.2") == "Alice"
                                     && nameAt(a, "127.0.0.2") == "Alice"; }));
    // Marker: a line sent after the notices arrives after them, so none is still under way.
    a.txtSend()->setPlainText("done");
    a.findChild<QPushButton *>("comEnter")->click();
    ASSERT_TRUE(waitFor([&] {
        return c.rtfHomeMessage()->conversationText().contains("Alice->\tdone")
               && b.rtfHomeMessage()->conversationText().contains("Alice->\tdone")
               && a.rtfHomeMessage()->conversationText().contains("Alice->\tdone");
    }));
    EXPECT_EQ(nameNotices, QStringList(3, "404 0Alice,pc02,127.0.0.2,09:00:00"));
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
}
