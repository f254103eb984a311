#pragma once

#include "settings/optionsave.h"
#include "settings/runningsettings.h"

#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QStringList>

#include <array>
#include <functional>
#include <optional>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QScrollBar;
class QSpinBox;
class QTabBar;

namespace vorlan {

class IniFile;
class LogWriter;
class OptionPickers;

// What "Ok" pushes into the main window besides the running settings.
struct OptionsApplied
{
    QStringList lstIP;
    QStringList lstPopup;
    std::array<QIcon, 4> pictures; // standing, received, important, away
};

// What the options dialog reads from the main window and hands back to it.
struct OptionsHost
{
    RunningSettings *settings = nullptr;
    QString *userName = nullptr; // MyUserName
    IniFile *ini = nullptr;
    LogWriter *log = nullptr;
    QStringList lstIP;
    QStringList lstPopup;
    std::array<QIcon, 4> pictures;  // picVorlan, picReserve, picPop, picDesk
    std::array<QFont, 3> fonts;     // lvMember, rtfHomeMessage, txtSend as they show now
    QString programFolder;          // where the file pickers start
    // Why the desktop tells no idle time, for the automatic away's tip; empty when it does.
    QString autoAwayUnavailable;
    std::function<std::optional<QIcon>(const QString &)> imgWork; // test-loads an icon file
    std::function<QString()> conversationText;                     // lines ended by CR LF
    std::function<void(const QString &)> showMessage;
    std::function<void(const OptionsApplied &)> apply;
};

// frmOption: edits every setting. It works on its own controls only; "Ok" saves and applies
// them in one pass, "Cancel" and the close box drop them. The font and colour pickers are the
// exceptions: they change the running settings at once.
class frmOption : public QDialog
{
    Q_OBJECT

public:
    frmOption(OptionsHost host, OptionPickers &pickers, QWidget *parent = nullptr);
    ~frmOption() override;

    // The tab whose frames are shown: 1 "基本", 2 "メッセージ".
    qint16 CurrentTab() const { return m_currentTab; }
    // imgStand, imgMove, imgPop, imgDesk.
    const QIcon &preview(int row) const { return m_pictures[size_t(row)]; }

    void comOk_Click();
    void comCancel_Click();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum Row { Normal, Keyword, Specify };
    enum Sound { Beep, ReceiveWave, ImportantWave };

    void createControls();
    void createGeneralFrames();
    void createMessageFrames();
    QGroupBox *addFrame(const char *name, const QString &caption, const QRect &twips, int tab);
    void place(QWidget *widget, const QRect &twips) const;
    void fitControls();

    void Form_Load();
    void tabOption_Click();
    void chkSound_Click(int row, int box);
    void chkLogFileName_Click();
    void txtFlash_Change();
    void scrFlash_Change(int value);
    void comAddIp_Click();
    void comDelIP_Click();
    void previewIcon(int row);
    void pickIcon(int row);
    void pickWave(int row);
    void pickFont(int target);
    void comColor_Click();
    void comLogFileName_Click();

    void showPicture(int row);
    void showMessageColor();
    bool startLogging();
    OptionValues collectValues() const;

    OptionsHost m_host;
    OptionPickers &m_pickers;
    qint16 m_currentTab = 1;
    qint32 m_messageColor = 0;
    std::array<QIcon, 4> m_pictures;

    QTabBar *m_tabOption = nullptr;
    QList<QGroupBox *> m_tabFrames[2];
    QLineEdit *m_txtUserName = nullptr;
    QLineEdit *m_txtMiss = nullptr;
    QLabel *m_lblMessageColor = nullptr;
    QLineEdit *m_txtIP = nullptr;
    QListWidget *m_lstIP = nullptr;
    QCheckBox *m_chkLogFileName = nullptr;
    QCheckBox *m_chkNotify = nullptr;
    QSpinBox *m_spnAutoAway = nullptr;
    QLineEdit *m_txtLogFileName = nullptr;
    QPushButton *m_comLogFileName = nullptr;
    std::array<QLabel *, 3> m_fontLabels{};
    std::array<QLabel *, 6> m_headings{};
    std::array<QButtonGroup *, 3> m_actions{};
    std::array<std::array<QCheckBox *, 3>, 3> m_sounds{};
    std::array<QLabel *, 4> m_iconPreviews{};
    std::array<QLineEdit *, 4> m_iconNames{};
    std::array<QLineEdit *, 2> m_waveNames{};
    QPlainTextEdit *m_txtPopup = nullptr;
    QLineEdit *m_txtFlash = nullptr;
    QScrollBar *m_scrFlash = nullptr;
};

} // namespace vorlan
