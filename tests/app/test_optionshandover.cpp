#include "app/mainwindow.h"
#include "conversation/conversationview.h"
#include "net/udpendpoint.h"
#include "roster/memberlist.h"
#include "settings/optionpickers.h"
#include "settings/optionsdialog.h"
#include "support/loopbackpeers.h"

#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace vorlan;
using test::waitFor;

namespace {

class FontOnlyPickers final : public OptionPickers
{
public:
    std::optional<QString> pickFile(QWidget *, const FilePickRequest &) override { return std::nullopt; }
    std::optional<QFont> pickFont(QWidget *, const QFont &) override { return QFont("Other Face", 13); }
    std::optional<QColor> pickColor(QWidget *, const QColor &) override { return QColor(Qt::blue); }
    std::optional<QString> pickFolder(QWidget *, const QString &) override { return std::nullopt; }
};

// Three complete peers on the loopback segment; the first one opens its options.
class OptionsHandOver : public test::LoopbackPeers
{
protected:
    MainWindow &start(const QString &address, const QString &host, const QString &user,
                      const QByteArray &moreSettings = {})
    {
        const QByteArray ini = "[OPT]\r\nUserName=" + user.toLatin1() + "\r\n" + moreSettings;
        return watched(LoopbackPeers::startWithIni(address, host, ini, [](MainWindow &loading) {
            loading.setOptionPickers(std::make_unique<FontOnlyPickers>());
        }));
    }

    // A member that the others' broadcasts do not reach: it hears only what is sent to it.
    MainWindow &startOutsideTheSegment(const QString &address, const QString &host, const QString &user)
    {
        const QString path = folder.filePath(host + ".ini");
        test::writeFile(path, "[OPT]\r\nUserName=" + user.toLatin1() + "\r\n");
        return watched(launch({path, {}, HostIdentity{host, address}, address, test::LoopbackSegment}));
    }

    MainWindow &watched(MainWindow &window)
    {
        QObject::connect(&window.endpoint(), &UdpEndpoint::messageReceived, [this](const QString &text) {
            if (text.startsWith(QLatin1String("404 ")))
                nameNotices << text;
        });
        return window;
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
        return cellOf(window, address, MemberList::UserName);
    }

    QStringList nameNotices;
};

} // namespace

TEST_F(OptionsHandOver, a_changed_name_reaches_every_row_and_nothing_else_is_announced)
{
    // alice has an away icon of her own.
    const QString deskIcon = folder.filePath("desk.png");
    QImage green(16, 16, QImage::Format_ARGB32);
    green.fill(Qt::green);
    ASSERT_TRUE(green.save(deskIcon));
    MainWindow &a = start("127.0.0.2", "pc02", "alice", "[ICON]\r\nDesk=" + deskIcon.toLocal8Bit() + "\r\n");
    ASSERT_NE(a.picDesk.cacheKey(), a.picVorlan.cacheKey());
    MainWindow &b = start("127.0.0.3", "pc03", "bob");
    MainWindow &c = start("127.0.0.4", "pc04", "carol");
    MainWindow &d = startOutsideTheSegment("127.0.0.5", "pc05", "dave");
    ASSERT_TRUE(waitFor([&] {
        return a.lvMember()->rowCount() == 4 && b.lvMember()->rowCount() == 4 && c.lvMember()->rowCount() == 4
               && d.lvMember()->rowCount() == 3; // it never hears its own Join
    }));

    // The dialog's outer frame stands centred over the window's outer frame.
    a.show();
    a.move(160, 120);
    ASSERT_TRUE(waitFor([&] { return a.frameGeometry().topLeft() == QPoint(160, 120); }));
    ASSERT_NE(a.frameGeometry(), a.geometry()) << "the platform reports no frame";
    options(a, [&a](frmOption &dialog) {
        const QRect outer = a.frameGeometry();
        const QRect frame = dialog.frameGeometry();
        EXPECT_EQ(frame.x(), outer.x() + (outer.width() - frame.width()) / 2);
        EXPECT_EQ(frame.y(), outer.y() + (outer.height() - frame.height()) / 2);
    });

    // Fonts and colour only, while away: the title bar keeps the away icon. Then a changed name
    // cancelled: no notice.
    a.findChild<QPushButton *>("comDesk")->click();
    options(a, [](frmOption &dialog) {
        dialog.findChild<QPushButton *>("comMemberFont")->click();
        dialog.findChild<QPushButton *>("comColor")->click();
        dialog.findChild<QPushButton *>("comOk")->click();
    });
    EXPECT_EQ(a.lvMember()->font().family(), "Other Face");
    EXPECT_EQ(a.windowIcon().cacheKey(), a.picDesk.cacheKey());
    a.findChild<QPushButton *>("comDesk")->click(); // back at the desk
    EXPECT_EQ(a.windowIcon().cacheKey(), a.picVorlan.cacheKey());
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
    // Each row is told by a datagram of its own: a broadcast would miss the member outside it.
    ASSERT_TRUE(waitFor([&] { return nameAt(b, "127.0.0.2") == "Alice" && nameAt(c, "127.0.0.2") == "Alice"
                                     && nameAt(a, "127.0.0.2") == "Alice" && nameAt(d, "127.0.0.2") == "Alice"; }));
    // Marker: a line sent after the notices arrives after them, so none is still under way.
    type(a, "done");
    ASSERT_TRUE(waitFor([&] {
        return shows(c, "Alice->\tdone") && shows(b, "Alice->\tdone") && shows(a, "Alice->\tdone")
               && shows(d, "Alice->\tdone");
    }));
    EXPECT_EQ(nameNotices, QStringList(4, "404 0Alice,pc02,127.0.0.2,09:00:00"));
    EXPECT_TRUE(noMessages());
}
