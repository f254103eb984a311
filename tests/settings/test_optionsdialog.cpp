#include "settings/optionsdialog.h"

#include "app/mainwindow.h"
#include "app/optionshandover.h"
#include "away/autoaway.h"
#include "app/startupsettings.h"
#include "base/codec.h"
#include "conversation/conversationview.h"
#include "roster/memberlist.h"
#include "settings/inifile.h"
#include "settings/optionpickers.h"
#include "support/settingsfolder.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFontDialog>
#include <QFontInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTabBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

using namespace vorlan;
using vorlan::test::readFile;
using vorlan::test::writeFile;

namespace {

// Answers every picker with what the test put in, or a cancel, and records what was asked.
class FakePickers final : public OptionPickers
{
public:
    std::optional<QString> file, folder;
    std::optional<QFont> font;
    std::optional<QColor> colour;
    QList<FilePickRequest> fileRequests;
    QStringList folderStarts;
    QList<QFont> fontPresets;

    std::optional<QString> pickFile(QWidget *, const FilePickRequest &request) override
    {
        fileRequests.append(request);
        return file;
    }
    std::optional<QFont> pickFont(QWidget *, const QFont &initial) override
    {
        fontPresets.append(initial);
        return font;
    }
    std::optional<QColor> pickColor(QWidget *, const QColor &) override { return colour; }
    std::optional<QString> pickFolder(QWidget *, const QString &start) override
    {
        folderStarts.append(start);
        return folder;
    }
};

QImage imageOf(const QIcon &icon)
{
    return icon.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
}

QImage solidImage(QRgb colour)
{
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

class OptionsDialogTest : public test::SettingsFolderTest
{
protected:
    MainWindow &load(const QString &ini = QString())
    {
        if (!ini.isEmpty())
            writeIni(ini);
        m_window = newWindow();
        auto pickers = std::make_unique<FakePickers>();
        m_pickers = pickers.get();
        m_window->setOptionPickers(std::move(pickers));
        applyStartupSettings(*m_window);
        return *m_window;
    }

    frmOption &open()
    {
        m_dialog = m_window->createOptionsDialog();
        m_dialog->show();
        return *m_dialog;
    }

    template <typename T = QWidget>
    T *child(const char *name) const
    {
        T *widget = m_dialog->findChild<T *>(QLatin1String(name));
        EXPECT_TRUE(widget) << name;
        return widget;
    }
    void click(const char *name) const { child<QPushButton>(name)->click(); }
    bool checked(const char *name) const { return child<QAbstractButton>(name)->isChecked(); }
    QString text(const char *name) const { return child<QLineEdit>(name)->text(); }
    bool shown(const char *name) const { return child(name)->isVisibleTo(m_dialog.get()); }

    // A key as the keyboard delivers it to the focused control.
    static void press(QWidget *target, int key, const QString &typed)
    {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, typed);
        QCoreApplication::sendEvent(target, &event);
    }
    static void leave(QWidget *target, Qt::FocusReason reason = Qt::TabFocusReason)
    {
        QFocusEvent event(QEvent::FocusOut, reason);
        QCoreApplication::sendEvent(target, &event);
    }

    std::unique_ptr<MainWindow> m_window;
    FakePickers *m_pickers = nullptr;
    std::unique_ptr<frmOption> m_dialog;
};

int titleBottom(const QGroupBox *frame)
{
    QStyleOptionGroupBox option;
    option.initFrom(frame);
    option.text = frame->title();
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    return frame->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, frame).bottom() + 1;
}

QString fontKeys(const char *prefix, const FontSetting &font)
{
    return QStringLiteral("%1FontName=%2\r\n%1FontSize=%3\r\n%1FontItalic=%4\r\n%1FontBold=%5\r\n")
        .arg(QLatin1String(prefix), font.name, QString::number(font.size),
             font.italic ? QStringLiteral("True") : QStringLiteral("False"),
             font.bold ? QStringLiteral("True") : QStringLiteral("False"));
}

} // namespace

TEST_F(OptionsDialogTest, loads_every_control_switches_tabs_and_ok_writes_the_file_byte_for_byte)
{
    MainWindow &window = load(QStringLiteral(
        "[OPT]\r\nFT=25\r\nUserName=taro\r\nMiss=さん\r\nCO=255\r\nNormal=7\r\nKeyWord=1\r\nSpecify=2\r\n"
        "BeepNormal=9\r\nBeepKeyWord=2\r\nBeepSpecify=3\r\nLogChk=0\r\nNotify=0\r\nAutoAway=200\r\n"
        "[IP]\r\n1=10.0.0.1\r\n2=hostb\r\n3=old3\r\n4=old4\r\n[KEY]\r\n1=abc\r\n2=def\r\n"));
    frmOption &dialog = open();

    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("オプション"));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    EXPECT_FALSE(child<QPushButton>("comOk")->isDefault() || child<QPushButton>("comOk")->autoDefault());
    EXPECT_FALSE(child<QPushButton>("comCancel")->isDefault() || child<QPushButton>("comCancel")->autoDefault());
    EXPECT_EQ(text("txtFlash"), "10");
    EXPECT_EQ(text("txtUserName"), "taro");
    EXPECT_EQ(text("txtMiss"), QStringLiteral("さん"));
    EXPECT_EQ(child<QLabel>("lblMessageColor")->palette().color(QPalette::Window), QColor(255, 0, 0));
    EXPECT_TRUE(checked("optNormalRecieve"));
    EXPECT_TRUE(checked("optKeywordImportant"));
    EXPECT_TRUE(checked("optSpecifyPopup"));
    EXPECT_FALSE(checked("chkNormalBeep") || checked("chkNormalWave1") || checked("chkNormalWave2"));
    EXPECT_TRUE(checked("chkKeywordWave1"));
    EXPECT_TRUE(checked("chkSpecifyWave2"));
    EXPECT_EQ(child<QPlainTextEdit>("txtPopup")->toPlainText(), "abc\ndef\n");
    EXPECT_EQ(child<QListWidget>("lstIP")->count(), 4);
    EXPECT_FALSE(checked("chkLogFileName"));
    EXPECT_FALSE(child("txtLogFileName")->isEnabled() || child("comLogFileName")->isEnabled());
    EXPECT_FALSE(checked("chkNotify"));
    EXPECT_EQ(window.settings().AutoAway, 120);
    EXPECT_EQ(child<QSpinBox>("spnAutoAway")->value(), 120);
    EXPECT_TRUE(shown("famAutoAway"));
    EXPECT_EQ(child<QLabel>("lblMessageFont")->text(), QFontInfo(window.rtfHomeMessage()->font()).family());

    // Tabs: only the shown tab's frames are visible; the tab already shown changes nothing.
    QTabBar *tabs = child<QTabBar>("tabOption");
    EXPECT_EQ(dialog.CurrentTab(), 1);
    EXPECT_TRUE(shown("famUseName") && shown("famFont") && !shown("famMovement") && !shown("famFlash"));
    tabs->setCurrentIndex(1);
    EXPECT_EQ(dialog.CurrentTab(), 2);
    EXPECT_TRUE(!shown("famUseName") && !shown("famIP") && shown("famMovement") && shown("famKeyWord"));
    tabs->setCurrentIndex(0);
    EXPECT_EQ(dialog.CurrentTab(), 1);
    EXPECT_TRUE(shown("famDeskIconname") && !shown("famWave"));
    EXPECT_TRUE(shown("comOk") && shown("comCancel"));

    // Esc closes nothing; a minimised dialog comes back (it would take the main window with it).
    press(child("txtUserName"), Qt::Key_Escape, "\x1b");
    EXPECT_TRUE(dialog.isVisible());
    dialog.setWindowState(Qt::WindowMinimized);
    QCoreApplication::processEvents();
    EXPECT_FALSE(dialog.isMinimized());

    // Two addresses left of four; a blank keyword line in the middle.
    QListWidget *list = child<QListWidget>("lstIP");
    for (int row : {3, 2}) {
        list->setCurrentRow(row);
        click("comDelIP");
    }
    child<QPlainTextEdit>("txtPopup")->setPlainText("abc\n\ndef\n");
    child<QSpinBox>("spnAutoAway")->setValue(7);
    const RunningSettings &s = window.settings();
    click("comOk");
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);

    // Keys already in the file keep their spelling ("KeyWord"); new ones are written as saved.
    const QString expected =
        QStringLiteral("[OPT]\r\nFT=10\r\nUserName=taro\r\nMiss=さん\r\nCO=255\r\nNormal=0\r\nKeyWord=1\r\n"
                       "Specify=2\r\nBeepNormal=0\r\nBeepKeyWord=2\r\nBeepSpecify=3\r\nLogChk=0\r\nNotify=0\r\nAutoAway=7\r\n"
                       "LogDir=\r\n")
        + fontKeys("Member", s.MemberFont) + fontKeys("Message", s.MessageFont) + fontKeys("Send", s.SendFont)
        + QStringLiteral("[IP]\r\n1=10.0.0.1\r\n2=hostb\r\n3=\r\n4=old4\r\n[KEY]\r\n1=abc\r\n2=\r\n3=def\r\n4=\r\n"
                         "[WAVE]\r\nMove=\r\nPop=\r\n[ICON]\r\nStand=\r\nMove=\r\nPop=\r\nDesk=\r\n");
    EXPECT_EQ(readFile(iniPath()), encodeCp932(expected));
    EXPECT_EQ(window.lstIP(), QStringList({"10.0.0.1", "hostb"}));
    EXPECT_EQ(window.lstPopup(), QStringList({"abc", "", "def"}));
    EXPECT_EQ(s.FlashMinutes, 10);
    EXPECT_EQ(QList<qint16>({s.NormalAction, s.KeywordAction, s.SpecifyAction}), QList<qint16>({0, 1, 2}));
    EXPECT_EQ(QList<qint16>({s.NormalSound, s.KeywordSound, s.SpecifySound}), QList<qint16>({0, 2, 3}));
    EXPECT_EQ(s.Notify, 0);
    // The running program takes the new minutes at once.
    EXPECT_EQ(s.AutoAway, 7);
    EXPECT_EQ(window.autoAway().minutes(), 7);
    EXPECT_TRUE(m_messages.isEmpty());

    // A desktop that tells no idle time: the choice is greyed, and its tip says why.
    OptionsHost host = optionsHostFor(window);
    host.autoAwayUnavailable = QStringLiteral("no idle time here");
    m_dialog = std::make_unique<frmOption>(host, *m_pickers);
    EXPECT_FALSE(child("spnAutoAway")->isEnabled());
    EXPECT_EQ(child("famAutoAway")->toolTip(), "no idle time here");
    EXPECT_EQ(child("spnAutoAway")->toolTip(), "no idle time here");
}

TEST_F(OptionsDialogTest, field_rules_while_the_dialog_is_open)
{
    const QString icon = path(QStringLiteral("green.png"));
    ASSERT_TRUE(solidImage(qRgb(0, 200, 0)).save(icon));
    load(QStringLiteral("[OPT]\r\nUserName=0123456789ABCD\r\n[IP]\r\n1=hosta\r\n"));
    open();

    // One sound per row; the other rows keep theirs; unchecking leaves the row empty.
    child<QCheckBox>("chkKeywordBeep")->setChecked(true);
    child<QCheckBox>("chkNormalWave1")->setChecked(true);
    child<QCheckBox>("chkNormalBeep")->setChecked(true);
    EXPECT_TRUE(checked("chkNormalBeep") && !checked("chkNormalWave1") && !checked("chkNormalWave2"));
    EXPECT_TRUE(checked("chkKeywordBeep"));
    child<QCheckBox>("chkNormalBeep")->setChecked(false);
    EXPECT_FALSE(checked("chkNormalBeep") || checked("chkNormalWave1") || checked("chkNormalWave2"));
    // Options of one row do not clear another's.
    child<QRadioButton>("optNormalPopup")->setChecked(true);
    child<QRadioButton>("optKeywordImportant")->setChecked(true);
    EXPECT_TRUE(checked("optNormalPopup") && checked("optKeywordImportant") && checked("optSpecifyRecieve"));

    // The log box enables the folder controls and whitens the field; the text stays.
    QLineEdit *folder = child<QLineEdit>("txtLogFileName");
    const QColor white = m_dialog->palette().color(QPalette::Base);
    const QColor grey = m_dialog->palette().color(QPalette::Button);
    ASSERT_NE(white, grey);
    EXPECT_EQ(folder->palette().color(QPalette::Base), grey);
    folder->setText("/tmp/x");
    child<QCheckBox>("chkLogFileName")->setChecked(true);
    EXPECT_TRUE(folder->isEnabled() && child("comLogFileName")->isEnabled());
    EXPECT_EQ(folder->palette().color(QPalette::Base), white);
    child<QCheckBox>("chkLogFileName")->setChecked(false);
    EXPECT_FALSE(folder->isEnabled() || child("comLogFileName")->isEnabled());
    EXPECT_EQ(folder->palette().color(QPalette::Base), grey);
    EXPECT_EQ(text("txtLogFileName"), "/tmp/x");

    // Blink time: digits only, 0 to 10; Backspace and letters change nothing; a pasted -3 gives 10.
    QLineEdit *flash = child<QLineEdit>("txtFlash");
    flash->clear();
    press(flash, Qt::Key_7, "7");
    EXPECT_EQ(flash->text(), "7");
    press(flash, Qt::Key_9, "9");
    EXPECT_EQ(flash->text(), "10");
    press(flash, Qt::Key_A, "a");
    press(flash, Qt::Key_Backspace, "\b");
    EXPECT_EQ(flash->text(), "10");
    // Delete still deletes, though X11 sends it with a text; input methods are kept out.
    flash->setCursorPosition(0);
    press(flash, Qt::Key_Delete, "\x7f");
    EXPECT_EQ(flash->text(), "0");
    EXPECT_FALSE(flash->testAttribute(Qt::WA_InputMethodEnabled));
    flash->clear();
    flash->insert("-3");
    EXPECT_EQ(flash->text(), "10");
    // The spin bar writes its own value and puts the caret in the field; at the top (10) its up
    // arrow changes nothing.
    QScrollBar *spin = child<QScrollBar>("scrFlash");
    child("txtMiss")->setFocus();
    spin->setValue(6);
    EXPECT_EQ(flash->text(), "4");
    EXPECT_EQ(m_dialog->focusWidget(), flash);
    spin->setValue(0);
    flash->setText("3");
    spin->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(flash->text(), "3");
    spin->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(flash->text(), "9");

    // Addresses: trimmed, unique with case significant, never blank; delete needs a selection.
    QListWidget *list = child<QListWidget>("lstIP");
    QLineEdit *ip = child<QLineEdit>("txtIP");
    for (const char *typed : {" 192.168.1.20 ", "192.168.1.20", "HostA", "   "}) {
        ip->setText(typed);
        click("comAddIp");
    }
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->item(1)->text(), "192.168.1.20");
    EXPECT_EQ(list->item(2)->text(), "HostA");
    EXPECT_EQ(ip->text(), "   ");
    list->clearSelection();
    ip->setText("hosta");
    click("comDelIP");
    EXPECT_EQ(list->count(), 3);
    // A deleted entry leaves nothing selected: a second press deletes nothing.
    list->setCurrentRow(1);
    click("comDelIP");
    EXPECT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(1)->text(), "HostA");
    EXPECT_TRUE(list->selectedItems().isEmpty());
    click("comDelIP");
    EXPECT_EQ(list->count(), 2);
    // The selected entry goes, not the one the keyboard stands on.
    list->setCurrentRow(1, QItemSelectionModel::NoUpdate);
    list->item(0)->setSelected(true);
    click("comDelIP");
    EXPECT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text(), "HostA");

    // User name: no comma, typed or pasted; a stored name longer than 10 is not cut.
    QLineEdit *name = child<QLineEdit>("txtUserName");
    EXPECT_EQ(name->text(), "0123456789ABCD");
    name->setText("bob");
    name->end(false);
    press(name, Qt::Key_Comma, ",");
    name->insert("x,y");
    EXPECT_EQ(name->text(), "bob");
    name->insert("1234567890");
    EXPECT_EQ(name->text(), QString("bob1234567890").left(name->maxLength()));
    EXPECT_EQ(name->maxLength(), 14);

    // Icon names preview on Enter and on leaving the field, the absent icon's only on Enter.
    const QImage before = imageOf(m_dialog->preview(3));
    QLineEdit *desk = child<QLineEdit>("txtDeskIconname");
    desk->setText(icon);
    leave(desk);
    EXPECT_EQ(imageOf(m_dialog->preview(3)), before);
    desk->setText(path("missing.ico"));
    press(desk, Qt::Key_Return, "\r");
    EXPECT_EQ(imageOf(m_dialog->preview(3)), before);
    EXPECT_EQ(desk->text(), path("missing.ico"));
    desk->setText(icon);
    press(desk, Qt::Key_Return, "\r");
    EXPECT_EQ(imageOf(m_dialog->preview(3)), solidImage(qRgb(0, 200, 0)));
    // Another window coming forward, or a menu opening, is no leaving of the field.
    QLineEdit *stand = child<QLineEdit>("txtStandIconname");
    const QImage standing = imageOf(m_dialog->preview(0));
    stand->setText(icon);
    for (const Qt::FocusReason reason : {Qt::ActiveWindowFocusReason, Qt::PopupFocusReason}) {
        leave(stand, reason);
        EXPECT_EQ(imageOf(m_dialog->preview(0)), standing) << reason;
    }
    leave(stand);
    EXPECT_EQ(imageOf(m_dialog->preview(0)), solidImage(qRgb(0, 200, 0)));
}

TEST_F(OptionsDialogTest, pickers_and_cancel_save_nothing_but_keep_the_picked_colour_and_font)
{
    const QString icon = path(QStringLiteral("red.png"));
    ASSERT_TRUE(solidImage(qRgb(200, 0, 0)).save(icon));
    MainWindow &window = load(QStringLiteral("[OPT]\r\nLogDir=/srv/logs\r\n"));
    const QByteArray stored = readFile(iniPath());
    const FontSetting runningBefore = window.settings().MemberFont;
    open();

    // Icon picker: a loadable file fills the preview and the field; the pickers start in the
    // program's folder when their own field is empty.
    child<QLineEdit>("txtStandIconname")->setText("typed.ico");
    m_pickers->file = icon;
    click("comPop");
    EXPECT_EQ(imageOf(m_dialog->preview(2)), solidImage(qRgb(200, 0, 0)));
    EXPECT_EQ(text("txtPopIconname"), icon);
    m_pickers->file = path("notes.txt");
    writeFile(*m_pickers->file, "no picture");
    click("comMoveFilename");
    EXPECT_TRUE(text("txtMoveIconname").isEmpty());
    click("comMovwWave");
    EXPECT_EQ(text("txtMoveWavename"), path("notes.txt"));
    ASSERT_EQ(m_pickers->fileRequests.size(), 3);
    EXPECT_EQ(m_pickers->fileRequests[0].title, "Select Icon file name");
    EXPECT_EQ(m_pickers->fileRequests[0].startFolder, m_dir.path());
    EXPECT_TRUE(m_pickers->fileRequests[2].preset.isEmpty());
    EXPECT_EQ(m_pickers->fileRequests[2].startFolder, m_dir.path());
    EXPECT_EQ(m_pickers->fileRequests[2].defaultSuffix, "wav");
    m_pickers->file.reset();
    click("comMovwWave");
    EXPECT_EQ(text("txtMoveWavename"), path("notes.txt"));
    EXPECT_EQ(m_pickers->fileRequests[3].preset, path("notes.txt"));

    // Fonts: a cancel changes nothing; a choice goes to the label and the running settings.
    click("comMemberFont");
    EXPECT_EQ(window.settings().MemberFont.name, runningBefore.name);
    EXPECT_EQ(m_pickers->fontPresets.value(0), window.lvMember()->font());
    QFont picked(QStringLiteral("Picked Sans"), 17);
    picked.setItalic(true);
    m_pickers->font = picked;
    click("comMemberFont");
    EXPECT_EQ(child<QLabel>("lblMemberFont")->text(), "Picked Sans");
    EXPECT_EQ(window.settings().MemberFont.name, "Picked Sans");
    EXPECT_EQ(window.settings().MemberFont.size, 17);
    EXPECT_TRUE(window.settings().MemberFont.italic);

    // Colour: in use at once.
    m_pickers->colour = QColor(0, 0, 255);
    click("comColor");
    EXPECT_EQ(window.settings().MessageColor, 0xFF0000);

    // Folder: starts at the field; a cancel keeps the folder that was there.
    child<QCheckBox>("chkLogFileName")->setChecked(true);
    click("comLogFileName");
    EXPECT_EQ(m_pickers->folderStarts, QStringList({"/srv/logs"}));
    EXPECT_EQ(text("txtLogFileName"), "/srv/logs");
    m_pickers->folder = m_dir.path();
    click("comLogFileName");
    EXPECT_EQ(text("txtLogFileName"), m_dir.path());

    child<QLineEdit>("txtUserName")->setText("changed");
    click("comCancel");
    EXPECT_FALSE(m_dialog->isVisible());
    EXPECT_EQ(readFile(iniPath()), stored);
    EXPECT_TRUE(window.identity().userName.isEmpty());
    EXPECT_EQ(window.settings().LogEnabled, 0);
    EXPECT_NE(window.lvMember()->font().family(), "Picked Sans");

    // New lines take the picked colour; the next opening shows the window's font again.
    window.ProcessMessage(QStringLiteral("100 0hanako,pc02,10.0.0.9,08:30:00,hello"), QStringLiteral("10.0.0.9"));
    window.rtfHomeMessage()->flushLines();
    EXPECT_EQ(window.rtfHomeMessage()->colorAt({0, 1}), QColor(0, 0, 255));
    open();
    EXPECT_EQ(child<QLabel>("lblMemberFont")->text(), QFontInfo(window.lvMember()->font()).family());
    EXPECT_EQ(window.settings().MemberFont.name, "Picked Sans");
    // Closing by the frame is a cancel too.
    child<QLineEdit>("txtUserName")->setText("changed");
    m_dialog->close();
    EXPECT_EQ(readFile(iniPath()), stored);
    EXPECT_TRUE(window.identity().userName.isEmpty());
}

TEST_F(OptionsDialogTest, ok_applies_fonts_icons_and_names_to_the_window)
{
    const QString icon = path(QStringLiteral("blue.png"));
    ASSERT_TRUE(solidImage(qRgb(0, 0, 200)).save(icon));
    MainWindow &window = load(QStringLiteral("[OPT]\r\nCO=255\r\n"));
    window.ProcessMessage(QStringLiteral("100 0hanako,pc02,10.0.0.9,08:30:00,hello"), QStringLiteral("10.0.0.9"));
    const QImage deskBefore = imageOf(window.picDesk);
    open();

    QFont member(QStringLiteral("Member Face"), 15);
    member.setItalic(true);
    m_pickers->font = member;
    click("comMemberFont");
    QFont message(QStringLiteral("Message Face"), 19);
    message.setBold(true);
    m_pickers->font = message;
    click("comMessageFont");
    child<QLineEdit>("txtFlash")->clear();
    child<QLineEdit>("txtUserName")->setText("  jiro  ");
    QLineEdit *stand = child<QLineEdit>("txtStandIconname");
    stand->setText(icon);
    leave(stand); // pressing Ok takes the focus from the field first
    child<QLineEdit>("txtDeskIconname")->setText(icon);
    click("comOk");

    EXPECT_EQ(window.lvMember()->font().family(), "Member Face");
    EXPECT_EQ(window.lvMember()->font().pointSize(), 15);
    EXPECT_TRUE(window.lvMember()->font().italic());
    // The lines already shown take the font and keep their colours.
    ConversationView *view = window.rtfHomeMessage();
    EXPECT_EQ(view->colorAt({0, 1}), QColor(255, 0, 0));
    EXPECT_EQ(view->colorAt({0, view->lineText(0).indexOf("hello") + 1}), ConversationView::TextColor);
    EXPECT_EQ(view->font().family(), "Message Face");
    EXPECT_EQ(view->font().weight(), QFont::Bold);
    EXPECT_EQ(view->font().pointSize(), 19);
    EXPECT_FALSE(view->hasSelection());
    EXPECT_FALSE(window.txtSend()->font().italic());

    EXPECT_EQ(imageOf(window.picVorlan), solidImage(qRgb(0, 0, 200)));
    EXPECT_EQ(imageOf(window.windowIcon()), solidImage(qRgb(0, 0, 200)));
    EXPECT_EQ(imageOf(window.picDesk), deskBefore); // the name was saved, the picture not loaded
    EXPECT_EQ(window.identity().userName, "jiro");
    EXPECT_EQ(window.settings().FlashMinutes, 0);

    const IniSnapshot ini(iniPath());
    const struct { const char *section, *key, *value; } keys[] = {
        {"OPT", "FT", ""},
        {"OPT", "UserName", "jiro"},
        {"OPT", "MemberFontName", "Member Face"},
        {"OPT", "MemberFontSize", "15"},
        {"OPT", "MemberFontItalic", "True"},
        {"OPT", "MemberFontBold", "False"},
        {"OPT", "MessageFontBold", "True"},
        {"ICON", "Stand", ""},
        {"ICON", "Desk", ""},
    };
    for (const auto &k : keys) {
        const QString expected = QString::fromLatin1(k.value).isEmpty() && QByteArray(k.section) == "ICON"
                                     ? icon : QString::fromLatin1(k.value);
        EXPECT_EQ(ini.readText(QLatin1String(k.section), QLatin1String(k.key)), expected) << k.key;
    }
    EXPECT_TRUE(readFile(iniPath()).contains("\r\nFT=\r\n"));
}

TEST_F(OptionsDialogTest, logging_switched_on_writes_the_header_and_the_view_or_stays_open)
{
    MainWindow &window = load();
    window.rtfHomeMessage()->AppendLine("09:00:00 a->\tone\r\n", QColor(Qt::red));
    window.rtfHomeMessage()->AppendLine("09:00:01 b->\ttwo\r\n", QColor(Qt::red));
    const QByteArray stored = readFile(iniPath());
    const QString message = QStringLiteral("ログを保存できません。設定したログのディレクトリを見直してください。");

    // A folder that does not exist, then no folder at all: the message, nothing saved.
    for (const QString &folder : {path("missing"), QString()}) {
        open();
        child<QCheckBox>("chkLogFileName")->setChecked(true);
        child<QLineEdit>("txtLogFileName")->setText(folder);
        child<QLineEdit>("txtUserName")->setText("new");
        click("comOk");
        EXPECT_EQ(m_messages, QStringList({message})) << folder.toStdString();
        EXPECT_TRUE(m_dialog->isVisible());
        EXPECT_TRUE(checked("chkLogFileName"));
        EXPECT_EQ(window.settings().LogEnabled, 0);
        EXPECT_TRUE(window.identity().userName.isEmpty());
        EXPECT_EQ(readFile(iniPath()), stored);
        EXPECT_FALSE(window.logWriter().isOpen());
        m_messages.clear();
        click("comCancel");
    }

    open();
    child<QCheckBox>("chkLogFileName")->setChecked(true);
    child<QLineEdit>("txtLogFileName")->setText(m_dir.path());
    click("comOk");
    EXPECT_TRUE(m_messages.isEmpty());
    EXPECT_EQ(window.settings().LogEnabled, 1);
    EXPECT_EQ(readFile(path("20261207.txt")),
              "*** 2026/12/07 ***\r\n09:00:00 a->\tone\r\n09:00:01 b->\ttwo\r\n");
    EXPECT_EQ(IniSnapshot(iniPath()).readText("OPT", "LogChk"), "1");

    // "Ok" again, logging still on, another folder: today's file stays open where it is and is
    // not written again; the next day's file goes to the new folder.
    const QString later = path("later");
    ASSERT_TRUE(QDir().mkpath(later));
    open();
    child<QLineEdit>("txtLogFileName")->setText(later);
    click("comOk");
    window.WriteLog({"09:00:02 c->\tthree"});
    EXPECT_EQ(readFile(path("20261207.txt")),
              "*** 2026/12/07 ***\r\n09:00:00 a->\tone\r\n09:00:01 b->\ttwo\r\n09:00:02 c->\tthree\r\n");
    m_clock.advance(24 * 3600);
    window.WriteLog({"09:00:00 d->\tfour"});
    EXPECT_EQ(QDir(later).entryList(QDir::Files), QStringList({"20261208.txt"}));
    EXPECT_EQ(readFile(later + "/20261208.txt"), "*** 2026/12/08 ***\r\n09:00:00 d->\tfour\r\n");

    // Logging left on with its folder cleared: the message too, not tomorrow's file at the root.
    open();
    child<QLineEdit>("txtLogFileName")->clear();
    click("comOk");
    EXPECT_EQ(m_messages, QStringList({message}));
    EXPECT_TRUE(m_dialog->isVisible());
    EXPECT_EQ(window.settings().LogFolder, later);
    m_messages.clear();
    click("comCancel");

    // Off closes the file.
    open();
    child<QCheckBox>("chkLogFileName")->setChecked(false);
    click("comOk");
    EXPECT_FALSE(window.logWriter().isOpen());
    EXPECT_EQ(window.settings().LogEnabled, 0);
}

TEST_F(OptionsDialogTest, every_text_shows_whole_and_apart_in_the_running_font)
{
    load();
    const QFont before = QApplication::font();
    // The toolkit's default, and the Japanese fonts of a desktop here, at two sizes.
    for (const char *family : {"", "IPAGothic", "IPAPGothic"}) {
        for (const int points : {9, 11}) {
            QFont font = before;
            if (*family)
                font.setFamilies({QLatin1String(family)});
            font.setPointSize(points);
            QApplication::setFont(font);
            frmOption &dialog = open();
            SCOPED_TRACE(std::string(family) + " " + std::to_string(points) + "pt");
            EXPECT_FALSE(dialog.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
            EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
            for (int tab : {0, 1}) {
                child<QTabBar>("tabOption")->setCurrentIndex(tab);
                for (QWidget *w : dialog.findChildren<QWidget *>()) {
                    const auto *label = qobject_cast<QLabel *>(w);
                    const auto *box = qobject_cast<QAbstractButton *>(w);
                    auto *frame = qobject_cast<QGroupBox *>(w);
                    if (!w->isVisibleTo(&dialog) || (label && label->text().isEmpty()) || qobject_cast<QPushButton *>(w))
                        continue;
                    const QString text = label ? label->text() : box ? box->text() : frame ? frame->title() : QString();
                    if (label || box) {
                        EXPECT_LE(w->sizeHint().width(), w->width()) << qPrintable(text);
                        EXPECT_LE(w->sizeHint().height(), w->height()) << qPrintable(text);
                    } else if (frame) {
                        EXPECT_LE(frame->minimumSizeHint().width(), frame->width()) << qPrintable(text);
                        for (const QWidget *inside : frame->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
                            EXPECT_GE(inside->y(), titleBottom(frame)) << qPrintable(text);
                    } else {
                        continue;
                    }
                    // Inside its frame, clear of every other control shown with it.
                    QWidget *parent = w->parentWidget();
                    EXPECT_TRUE(parent->rect().contains(w->geometry())) << qPrintable(text);
                    for (const QWidget *other : parent->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
                        if (other != w && other->isVisibleTo(&dialog) && other->objectName() != "tabStrip") {
                            EXPECT_FALSE(w->geometry().intersects(other->geometry()))
                                << qPrintable(text) << " / " << qPrintable(other->objectName());
                        }
                    }
                }
            }
            // The grid's buttons stand under the middle of their headings, however wide these grew.
            const QStringList headings = {QStringLiteral("受信アイコン"), QStringLiteral("重要アイコン"), "Pop up",
                                          QStringLiteral("受信Wave"), QStringLiteral("重要Wave"), "Beep"};
            const char *const columns[] = {"optRecieve", "optImportant", "optPopup", "chkWave1", "chkWave2", "chkBeep"};
            for (const QLabel *heading : child("famMovement")->findChildren<QLabel *>()) {
                const qsizetype column = headings.indexOf(heading->text());
                for (const char *row : {"Normal", "Keyword", "Specify"}) {
                    if (column < 0)
                        break;
                    const QByteArray name = QByteArray(columns[column]).insert(3, row);
                    EXPECT_LE(qAbs(child(name.constData())->geometry().center().x() - heading->geometry().center().x()), 1)
                        << name.constData();
                }
            }
            m_dialog.reset();
        }
    }
    QApplication::setFont(before);
}

TEST(QtOptionPickers, the_font_dialog_opens_on_the_font_shown_and_ok_gives_it_back)
{
    struct Case
    {
        const char *family;
        int points;
        QFont::Weight weight;
        bool italic;
    };
    const Case cases[] = {
        {"DejaVu Sans", 9, QFont::Normal, false}, // Qt's dialog alone starts on "Oblique"
        {"DejaVu Sans", 12, QFont::Bold, true},
        {"DejaVu Sans", 10, QFont::ExtraLight, false},
        {"DejaVu Serif", 11, QFont::Normal, true},
        {"IPAGothic", 10, QFont::Normal, false},
        {"Sans Serif", 9, QFont::Normal, false}, // a name fontconfig stands in for
    };
    QtOptionPickers pickers;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.family);
        const QFont font(QString::fromLatin1(c.family), c.points, c.weight, c.italic);
        const QFontInfo shown(font);
        QFont opened;
        QTimer::singleShot(0, [&opened] {
            for (QWidget *window : QApplication::topLevelWidgets()) {
                auto *dialog = qobject_cast<QFontDialog *>(window);
                if (dialog && dialog->isVisible()) {
                    opened = dialog->currentFont();
                    dialog->accept();
                }
            }
        });
        const std::optional<QFont> chosen = pickers.pickFont(nullptr, font);
        ASSERT_TRUE(chosen);
        for (const QFont &f : {opened, *chosen}) {
            EXPECT_EQ(f.family(), shown.family());
            EXPECT_EQ(f.pointSize(), c.points);
            EXPECT_EQ(f.weight(), shown.weight());
            EXPECT_EQ(f.italic(), c.italic);
        }
    }
}
