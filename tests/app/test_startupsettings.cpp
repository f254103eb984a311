#include "app/startupsettings.h"

#include "app/mainwindow.h"
#include "app/twips.h"
#include "base/codec.h"
#include "roster/memberlist.h"
#include "support/settingsfolder.h"

#include <QDir>
#include <QFontInfo>
#include <QHeaderView>
#include <QImage>

#include <gtest/gtest.h>

#include <memory>

#include <sys/stat.h>

using namespace vorlan;
using vorlan::test::readFile;
using vorlan::test::writeFile;

namespace {

const QString MigrationMessage = QStringLiteral(
    "ログの記録先をファイルからディレクトリに変更しました.\r\n改めて「オプション」にてログを記録するフォルダを指定してください.");
const QString LogFailureMessage = QStringLiteral("ログを保存できません。設定したログファイル名を見直してください。");

QImage imageOf(const QIcon &icon, int size)
{
    return icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
}

QImage solidImage(QRgb colour, int size = 32)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

// The key=value lines of a section, in file order.
QList<QPair<QString, QString>> entriesOf(const QByteArray &file, const QByteArray &section)
{
    QList<QPair<QString, QString>> entries;
    bool inside = false;
    for (const QByteArray &line : file.split('\n')) {
        const QByteArray text = line.trimmed();
        const qsizetype equals = text.indexOf('=');
        if (text.startsWith('['))
            inside = text == '[' + section + ']';
        else if (inside && equals > 0)
            entries.append({QString::fromLatin1(text.left(equals)), QString::fromLatin1(text.mid(equals + 1))});
    }
    return entries;
}

class StartupSettingsTest : public test::SettingsFolderTest
{
protected:
    MainWindow &load()
    {
        m_window = newWindow();
        applyStartupSettings(*m_window);
        return *m_window;
    }

    QRect twips(const char *name) const
    {
        return twipsGeometry(m_window->findChild<QWidget *>(QLatin1String(name)));
    }
    QWidget *widget(const char *name) const { return m_window->findChild<QWidget *>(QLatin1String(name)); }

    std::unique_ptr<MainWindow> m_window;
};

// --- first start: no settings file ------------------------------------------------------------

TEST_F(StartupSettingsTest, without_a_file_every_setting_takes_its_default)
{
    const std::unique_ptr<MainWindow> design = newWindow();
    const int designSize = design->lvMember()->font().pointSize();
    MainWindow &window = load();
    const RunningSettings &s = window.settings();

    for (int column = 0; column < MemberList::ColumnCount; ++column)
        EXPECT_EQ(columnTwips(*window.lvMember(), column), 1440) << column;
    EXPECT_EQ(s.FlashMinutes, 3);
    EXPECT_EQ(s.MessageColor, 0);
    EXPECT_EQ(s.NormalAction + s.KeywordAction + s.SpecifyAction, 0);
    EXPECT_EQ(s.NormalSound + s.KeywordSound + s.SpecifySound, 0);
    EXPECT_TRUE(window.lstIP().isEmpty());
    EXPECT_TRUE(window.lstPopup().isEmpty());
    EXPECT_EQ(s.LogEnabled, 0);
    EXPECT_FALSE(window.logWriter().isOpen());
    EXPECT_TRUE(window.identity().userName.isEmpty());
    for (const FontSetting *font : {&s.MemberFont, &s.MessageFont, &s.SendFont}) {
        EXPECT_FALSE(font->italic || font->bold);
        EXPECT_FALSE(font->name.isEmpty());
        EXPECT_EQ(font->size, designSize);
    }
    EXPECT_EQ(twips("lvMember"), QRect(120, 120, 8655, 1575));
    EXPECT_EQ(twips("comOption"), QRect(1320, 1800, 975, 300));
    EXPECT_EQ(twips("lblCopyright"), QRect(120, 4320, 8685, 465));
    EXPECT_TRUE(m_messages.isEmpty());
    EXPECT_EQ(readFile(iniPath()), QByteArray("[OPT]\r\nLogChk=0\r\n"));
}

// --- state icons ------------------------------------------------------------------------------

TEST_F(StartupSettingsTest, built_in_icons_are_four_different_pictures_at_both_sizes)
{
    const StateIcon all[] = {StateIcon::Standing, StateIcon::ReceivedMessage,
                             StateIcon::ImportantMessage, StateIcon::Away};
    for (int size : {16, 32}) {
        for (StateIcon a : all) {
            const QImage image = imageOf(builtInIcon(a), size);
            ASSERT_EQ(image.size(), QSize(size, size));
            for (StateIcon b : all) {
                if (a != b) {
                    EXPECT_NE(image, imageOf(builtInIcon(b), size)) << int(a) << " " << int(b) << " @" << size;
                }
            }
        }
    }
}

TEST_F(StartupSettingsTest, without_icon_files_the_boxes_hold_the_built_in_icons_and_away_follows_standing)
{
    MainWindow &window = load();
    ASSERT_FALSE(imageOf(window.picVorlan, 16).isNull());
    EXPECT_EQ(imageOf(window.picVorlan, 16), imageOf(builtInIcon(StateIcon::Standing), 16));
    EXPECT_EQ(imageOf(window.picReserve, 16), imageOf(builtInIcon(StateIcon::ReceivedMessage), 16));
    EXPECT_EQ(imageOf(window.picPop, 32), imageOf(builtInIcon(StateIcon::ImportantMessage), 32));
    EXPECT_EQ(imageOf(window.picDesk, 32), imageOf(builtInIcon(StateIcon::Standing), 32));
    EXPECT_EQ(imageOf(window.windowIcon(), 16), imageOf(window.picVorlan, 16));
}

TEST_F(StartupSettingsTest, a_loadable_standing_icon_is_used_and_an_empty_away_key_takes_it_with_its_path)
{
    const QString stand = path(QStringLiteral("stand.png"));
    ASSERT_TRUE(solidImage(qRgb(10, 200, 30)).save(stand));
    writeIni(QStringLiteral("[ICON]\r\nStand=%1\r\nDesk=\r\n").arg(stand));
    MainWindow &window = load();

    EXPECT_EQ(window.settings().StandIconFile, stand);
    EXPECT_EQ(window.settings().DeskIconFile, stand);
    EXPECT_EQ(imageOf(window.picVorlan, 32), solidImage(qRgb(10, 200, 30)));
    EXPECT_EQ(imageOf(window.picDesk, 32), solidImage(qRgb(10, 200, 30)));
    EXPECT_EQ(imageOf(window.windowIcon(), 32), solidImage(qRgb(10, 200, 30)));
}

TEST_F(StartupSettingsTest, files_that_are_no_pictures_keep_the_built_in_icon_and_empty_the_path)
{
    const QString text = path(QStringLiteral("notes.png"));
    writeFile(text, "this is not a picture\r\n");
    const QString desk = path(QStringLiteral("desk.ico"));
    ASSERT_TRUE(solidImage(qRgb(200, 0, 0)).save(desk, "ICO"));
    writeIni(QStringLiteral("[ICON]\r\nMove=%1\r\nPop=%2\r\nDesk=%3\r\n")
                 .arg(text, path(QStringLiteral("missing.ico")), desk));
    MainWindow &window = load();

    EXPECT_TRUE(window.settings().MoveIconFile.isEmpty());
    EXPECT_TRUE(window.settings().PopIconFile.isEmpty());
    EXPECT_EQ(imageOf(window.picReserve, 16), imageOf(builtInIcon(StateIcon::ReceivedMessage), 16));
    EXPECT_EQ(imageOf(window.picPop, 16), imageOf(builtInIcon(StateIcon::ImportantMessage), 16));
    // An ICO file is read like any other picture.
    EXPECT_EQ(window.settings().DeskIconFile, desk);
    EXPECT_EQ(imageOf(window.picDesk, 32), solidImage(qRgb(200, 0, 0)));
}

TEST_F(StartupSettingsTest, fifos_and_devices_named_as_icons_or_todays_log_do_not_hold_up_the_start)
{
    const QString fifo = path(QStringLiteral("icon.fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("logs"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("logs/20261207.txt")).constData(), 0600), 0);
    writeIni(QStringLiteral("[ICON]\r\nStand=%1\r\nMove=/dev/zero\r\n[OPT]\r\nLogChk=1\r\nLogDir=%2\r\n")
                 .arg(fifo, path("logs")));
    MainWindow &window = load();

    EXPECT_TRUE(window.settings().StandIconFile.isEmpty());
    EXPECT_TRUE(window.settings().MoveIconFile.isEmpty());
    EXPECT_EQ(imageOf(window.picVorlan, 16), imageOf(builtInIcon(StateIcon::Standing), 16));
    EXPECT_EQ(m_messages, QStringList{LogFailureMessage});
    EXPECT_EQ(window.settings().LogEnabled, 0);
}

// --- geometry ---------------------------------------------------------------------------------

TEST_F(StartupSettingsTest, button_row_steps_from_comExit_by_the_distance_to_comDesk)
{
    writeIni(QStringLiteral("[POSITION]\r\nEY=2000\r\nEL=7800\r\nDY=5000\r\nDL=6720\r\n"));
    load();
    const char *row[] = {"comExit", "comDesk", "comFree", "comReload", "comLog", "comInfo", "comOption"};
    const int lefts[] = {7800, 6720, 5640, 4560, 3480, 2400, 1320};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(twips(row[i]), QRect(lefts[i], 2000, 975, 300)) << row[i];

    writeIni(QStringLiteral("[POSITION]\r\nEL=8000\r\nDL=7000\r\n"));
    load();
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(twips(row[i]), QRect(8000 - 1000 * i, 1800, 975, 300)) << row[i];
}

TEST_F(StartupSettingsTest, the_window_size_moves_the_panes_first_then_position_keys_set_their_controls)
{
    // W and H grow the window by 975 twips each way: the panes follow (the height shared half
    // and half, 487.5 to the even 488), and what a key names is then set as it stands.
    writeIni(QStringLiteral("[position]\r\nLY=200\r\nLW=40000\r\nLH=1000\r\n2Y=1250\r\nHH=2500\r\n"
                            "SW=7000\r\nCY=4500\r\nW=9900\r\nH=6000\r\nM1=2000\r\n"));
    MainWindow &window = load();
    const qreal dpi = window.logicalDpiY();

    EXPECT_EQ(twips("lvMember"), QRect(120, 200, 40000, 1000)); // 32-bit values
    EXPECT_EQ(twips("imgResize2"), QRect(120, 1250, 8655 + 975, 75));
    EXPECT_EQ(twips("rtfHomeMessage"), QRect(120, 2160 + 488, 8655 + 975, 2500));
    EXPECT_EQ(twips("txtSend"), QRect(120, 3840 + 975, 7000, 390));
    EXPECT_EQ(twips("lblCopyright"), QRect(120, 4500, 8685 + 975, 465));
    EXPECT_EQ(twips("comOption"), QRect(1320 + 975, 1800 + 488, 975, 300));
    EXPECT_EQ(widget("lvMember")->geometry(), QRect(twipsToPixels(120, dpi), twipsToPixels(200, dpi),
                                                    twipsToPixels(40000, dpi), twipsToPixels(1000, dpi)));
    EXPECT_EQ(window.frameGeometry().size(), QSize(twipsToPixels(9900, dpi), twipsToPixels(6000, dpi)));
    EXPECT_EQ(columnTwips(*window.lvMember(), 0), 2000);
    EXPECT_EQ(window.lvMember()->header()->sectionSize(0), twipsToPixels(2000, dpi));
    EXPECT_EQ(columnTwips(*window.lvMember(), 1), 1440);
}

TEST_F(StartupSettingsTest, a_column_resized_by_hand_reports_its_new_width)
{
    MainWindow &window = load();
    window.lvMember()->header()->resizeSection(2, 200);
    EXPECT_EQ(columnTwips(*window.lvMember(), 2), pixelsToTwips(200, window.logicalDpiY()));
}

TEST_F(StartupSettingsTest, geometry_is_saved_as_twenty_six_position_keys_in_order)
{
    saveWindowGeometry(load());
    const auto saved = entriesOf(readFile(iniPath()), "POSITION");
    QStringList keys;
    for (const auto &entry : saved)
        keys.append(entry.first);
    EXPECT_EQ(keys, QString("X Y W H LY LW LH 2Y 2W EY EL DY DL HY HW HH SY SW CY CW M1 M2 M3 M4 M5 M6").split(' '));
    EXPECT_EQ(saved[10].second, "7800"); // EL
    EXPECT_EQ(saved[11].second, "1800"); // DY
    EXPECT_EQ(saved[25].second, "1440"); // M6
}

TEST_F(StartupSettingsTest, saved_geometry_comes_back_exactly_on_the_next_start)
{
    // Twips that no whole number of pixels gives: only held twips survive the round trip.
    writeIni(QStringLiteral("[POSITION]\r\nX=1500\r\nY=900\r\nW=9900\r\nH=6015\r\nLY=130\r\nLW=8001\r\n"
                            "LH=1601\r\n2Y=1701\r\n2W=8002\r\nEY=1811\r\nEL=7777\r\nDL=6666\r\nHY=2171\r\n"
                            "HW=8003\r\nHH=1699\r\nSY=3851\r\nSW=8004\r\nCY=4331\r\nCW=8005\r\nM1=2000\r\n"
                            "M2=1001\r\nM3=999\r\nM4=1234\r\nM5=777\r\nM6=3333\r\n"));
    const auto original = entriesOf(readFile(iniPath()), "POSITION");
    MainWindow &first = load();
    const qreal dpi = first.logicalDpiY();
    const auto onScreen = [dpi](int twips) { return QString::number(pixelsToTwips(twipsToPixels(twips, dpi), dpi)); };
    saveWindowGeometry(first);
    const auto saved = entriesOf(readFile(iniPath()), "POSITION");
    ASSERT_EQ(saved.size(), 26);
    for (const auto &entry : original) {
        // The window itself is placed in pixels; everything inside it keeps its twips.
        const bool window = QString("XYWH").contains(entry.first);
        const QString expected = window ? onScreen(entry.second.toInt()) : entry.second;
        EXPECT_TRUE(saved.contains(qMakePair(entry.first, expected))) << entry.first.toStdString();
    }
    EXPECT_TRUE(saved.contains(qMakePair(QString("DY"), QString("1811")))); // comDesk stands at comExit's top

    const QRect list = twips("lvMember");
    const QRect view = twips("rtfHomeMessage");
    const QPoint position = first.pos();
    load();
    EXPECT_EQ(twips("lvMember"), list);
    EXPECT_EQ(twips("rtfHomeMessage"), view);
    EXPECT_EQ(m_window->pos(), position);
    EXPECT_EQ(twips("comInfo"), QRect(7777 - 5 * 1111, 1811, 975, 300));
    EXPECT_EQ(columnTwips(*m_window->lvMember(), 4), 777);
}

// --- numbers and texts ------------------------------------------------------------------------

TEST_F(StartupSettingsTest, options_are_read_into_the_running_settings)
{
    writeIni(QStringLiteral("[WAVE]\r\nMove=/snd/a.wav\r\nPop=/snd/b.wav\r\n[OPT]\r\nBeepNormal=1\r\n"
                            "BeepKeyword=3\r\nBeepSpecify=40000\r\nFT=70000\r\nCO=16711680\r\nNormal=2\r\n"
                            "Keyword=1\r\nSpecify=7\r\n"));
    const RunningSettings &s = load().settings();
    EXPECT_EQ(s.ReceiveWaveFile, "/snd/a.wav");
    EXPECT_EQ(s.ImportantWaveFile, "/snd/b.wav");
    EXPECT_EQ(s.NormalSound, 1);
    EXPECT_EQ(s.KeywordSound, 3); // written as "BeepKeyword" by the options dialog
    EXPECT_EQ(s.SpecifySound, 0); // beyond 16 bits: the default
    EXPECT_EQ(s.FlashMinutes, 3);
    EXPECT_EQ(s.MessageColor, 0xFF0000);
    EXPECT_EQ(s.NormalAction, 2);
    EXPECT_EQ(s.KeywordAction, 1);
    EXPECT_EQ(s.SpecifyAction, 7);
}

TEST_F(StartupSettingsTest, japanese_names_and_trimmed_lists_are_read)
{
    writeIni(QStringLiteral("[OPT]\r\nUserName=山田太郎\r\nMiss=さん\r\n[IP]\r\n1= 10.0.0.5 \r\n2=\thost-b\r\n"
                            "3=\r\n4=10.0.0.9\r\n[KEY]\r\n1=至急 \r\n2=ramen\r\n"));
    MainWindow &window = load();
    EXPECT_EQ(window.identity().userName, QStringLiteral("山田太郎"));
    EXPECT_EQ(window.settings().Honorific, QStringLiteral("さん"));
    EXPECT_EQ(window.lstIP(), QStringList({"10.0.0.5", "host-b"}));
    EXPECT_EQ(window.lstPopup(), QStringList({QStringLiteral("至急"), "ramen"}));
}

TEST_F(StartupSettingsTest, user_name_loses_its_commas_and_is_cut_to_126_bytes_between_characters)
{
    const QString n124(124, u'n');
    const QList<QPair<QString, QString>> cases = {
        {QString(200, u'n'), QString(126, u'n')},
        {n124 + QStringLiteral("さん"), n124 + QStringLiteral("さ")},
        {n124 + u'n' + QStringLiteral("さん"), n124 + u'n'}, // no half of "さ"
        {QStringLiteral("山田太郎"), QStringLiteral("山田太郎")},
        {QStringLiteral("山田,太郎"), QStringLiteral("山田太郎")}, // no shifted header fields
    };
    for (const auto &[stored, used] : cases) {
        writeIni(QStringLiteral("[OPT]\r\nUserName=") + stored + QStringLiteral("\r\n"));
        EXPECT_EQ(load().identity().userName, used);
    }
}

// --- logging ----------------------------------------------------------------------------------

TEST_F(StartupSettingsTest, an_old_log_file_setting_switches_logging_off_with_a_message)
{
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("logs"));
    writeIni(QStringLiteral("[OPT]\r\nLogChk=1\r\nLogFile=C:\\chat.log\r\nLogDir=%1\r\n").arg(path("logs")));
    MainWindow &window = load();
    EXPECT_EQ(m_messages, QStringList{MigrationMessage});
    EXPECT_EQ(window.settings().LogEnabled, 0);
    EXPECT_FALSE(window.logWriter().isOpen());
    EXPECT_TRUE(QDir(path("logs")).isEmpty());
    EXPECT_EQ(readFile(iniPath()),
              encodeCp932(QStringLiteral("[OPT]\r\nLogChk=0\r\nLogFile=\r\nLogDir=%1\r\n").arg(path("logs"))));
}

TEST_F(StartupSettingsTest, an_old_log_file_setting_with_logging_off_is_left_alone)
{
    writeIni("[OPT]\r\nLogChk=0\r\nLogFile=C:\\chat.log\r\nLogDir=/var/log/chat\r\n");
    const QByteArray before = readFile(iniPath());
    load();
    EXPECT_TRUE(m_messages.isEmpty());
    EXPECT_EQ(readFile(iniPath()), before);
}

TEST_F(StartupSettingsTest, logging_without_a_folder_is_switched_off_silently)
{
    writeIni("[OPT]\r\nLogChk=1\r\n");
    MainWindow &window = load();
    EXPECT_TRUE(m_messages.isEmpty());
    EXPECT_EQ(window.settings().LogEnabled, 0);
    EXPECT_EQ(readFile(iniPath()), QByteArray("[OPT]\r\nLogChk=0\r\n"));
}

TEST_F(StartupSettingsTest, logging_on_opens_todays_file_with_its_header)
{
    writeIni(QStringLiteral("[OPT]\r\nLogChk=1\r\nLogDir=%1\r\n").arg(m_dir.path()));
    const QByteArray before = readFile(iniPath());
    MainWindow &window = load();
    EXPECT_EQ(window.settings().LogEnabled, 1);
    EXPECT_EQ(window.settings().LogFolder, m_dir.path());
    EXPECT_TRUE(window.logWriter().isOpen());
    EXPECT_EQ(readFile(path("20261207.txt")), QByteArray("*** 2026/12/07 ***\r\n"));
    EXPECT_EQ(readFile(iniPath()), before);
}

TEST_F(StartupSettingsTest, a_log_folder_that_cannot_be_opened_only_switches_logging_off)
{
    writeIni(QStringLiteral("[OPT]\r\nLogChk=1\r\nLogDir=%1\r\nMiss=様\r\n[IP]\r\n1=10.1.1.1\r\n")
                 .arg(path("gone")));
    const QByteArray before = readFile(iniPath());
    MainWindow &window = load();
    EXPECT_EQ(m_messages, QStringList{LogFailureMessage});
    EXPECT_EQ(window.settings().LogEnabled, 0);
    EXPECT_FALSE(QDir(path("gone")).exists());
    EXPECT_EQ(readFile(iniPath()), before); // the next start tries again
    // Start-up goes on with the settings after the log.
    EXPECT_EQ(window.settings().Honorific, QStringLiteral("様"));
    EXPECT_EQ(window.lstIP(), QStringList{"10.1.1.1"});
}

// --- fonts ------------------------------------------------------------------------------------

TEST_F(StartupSettingsTest, font_keys_apply_to_their_own_control_and_are_read_back)
{
    writeIni("[OPT]\r\nMemberFontName=DejaVu Serif\r\nMemberFontSize=0\r\nMemberFontItalic=true\r\n"
             "MessageFontSize=14\r\nMessageFontItalic=True\r\nSendFontBold=True\r\nSendFontItalic=TRUE\r\n");
    std::unique_ptr<MainWindow> design = newWindow();
    const int designSize = design->lvMember()->font().pointSize();
    MainWindow &window = load();
    const RunningSettings &s = window.settings();

    EXPECT_EQ(window.lvMember()->font().family(), "DejaVu Serif");
    EXPECT_EQ(s.MemberFont.name, "DejaVu Serif");
    EXPECT_EQ(s.MemberFont.size, designSize);
    EXPECT_FALSE(window.lvMember()->font().italic());
    EXPECT_FALSE(s.MemberFont.italic);

    EXPECT_EQ(widget("rtfHomeMessage")->font().pointSize(), 14);
    EXPECT_EQ(s.MessageFont.size, 14);
    EXPECT_TRUE(widget("rtfHomeMessage")->font().italic());
    EXPECT_TRUE(s.MessageFont.italic);
    EXPECT_FALSE(s.MessageFont.bold);

    EXPECT_TRUE(window.txtSend()->font().bold());
    EXPECT_TRUE(s.SendFont.bold);
    EXPECT_FALSE(s.SendFont.italic);
    EXPECT_FALSE(window.lvMember()->font().bold());
}

TEST_F(StartupSettingsTest, missing_style_keys_switch_style_off_and_unknown_names_report_the_substitute)
{
    writeIni("[OPT]\r\nSendFontName=No Such Font Family\r\n");
    m_window = newWindow();
    QFont styled = m_window->lvMember()->font();
    styled.setItalic(true);
    styled.setBold(true);
    m_window->lvMember()->setFont(styled);
    applyStartupSettings(*m_window);

    EXPECT_FALSE(m_window->lvMember()->font().italic());
    EXPECT_FALSE(m_window->lvMember()->font().bold());
    EXPECT_EQ(m_window->settings().SendFont.name, QFontInfo(m_window->txtSend()->font()).family());
    EXPECT_NE(m_window->settings().SendFont.name, "No Such Font Family");
}

} // namespace
