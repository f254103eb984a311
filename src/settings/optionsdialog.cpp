#include "settings/optionsdialog.h"

#include "conversation/conversationview.h"
#include "conversation/logwriter.h"
#include "settings/inifile.h"
#include "settings/optionpickers.h"
#include "settings/optionrules.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabBar>
#include <QValidator>

#include <algorithm>
#include <limits>

namespace vorlan {

namespace {

constexpr Qt::WindowStates RefusedStates = Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen;

const QString LogFolderMessage =
    QStringLiteral("ログを保存できません。設定したログのディレクトリを見直してください。");

// txtUserName refuses a typed or pasted edit that would break the message header.
class UserNameValidator final : public QValidator
{
public:
    using QValidator::QValidator;

    State validate(QString &input, int &) const override
    {
        return userNameAcceptable(input) ? Acceptable : Invalid;
    }
};

QString crlf(QString text)
{
    return text.replace(u'\n', QStringLiteral("\r\n"));
}

QString newlines(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

FontSetting fontSetting(const QFont &font)
{
    const qreal points = font.pointSizeF() > 0 ? font.pointSizeF() : QFontInfo(font).pointSizeF();
    FontSetting setting;
    setting.name = font.family();
    setting.size = qint16(std::clamp<qint64>(qRound64(points), 0, std::numeric_limits<qint16>::max()));
    setting.italic = font.italic();
    setting.bold = font.bold();
    return setting;
}

} // namespace

frmOption::frmOption(OptionsHost host, OptionPickers &pickers, QWidget *parent)
    : QDialog(parent), m_host(std::move(host)), m_pickers(pickers)
{
    createControls();
    m_txtUserName->setValidator(new UserNameValidator(m_txtUserName));
    connect(m_tabOption, &QTabBar::currentChanged, this, &frmOption::tabOption_Click);
    Form_Load();
    fitControls();
}

frmOption::~frmOption() = default;

void frmOption::Form_Load()
{
    const RunningSettings &s = *m_host.settings;
    m_txtFlash->setText(QString::number(s.FlashMinutes));
    const QString userName = userNameFieldText(*m_host.userName);
    m_txtUserName->setMaxLength(userNameMaxLength(userName));
    m_txtUserName->setText(userName);
    m_messageColor = s.MessageColor;
    showMessageColor();
    m_txtLogFileName->setText(s.LogFolder);
    m_chkLogFileName->setChecked(s.LogEnabled != 0);
    chkLogFileName_Click();
    m_lstIP->addItems(m_host.lstIP);
    const qint16 actions[] = {s.NormalAction, s.KeywordAction, s.SpecifyAction};
    for (size_t row = 0; row < 3; ++row)
        m_actions[row]->button(actionButton(actions[row]))->setChecked(true);
    m_txtPopup->setPlainText(newlines(keywordTextFromList(m_host.lstPopup)));
    for (int row = 0; row < 4; ++row) {
        m_pictures[size_t(row)] = m_host.pictures[size_t(row)];
        showPicture(row);
    }
    const QString *files[] = {&s.StandIconFile, &s.MoveIconFile, &s.PopIconFile, &s.DeskIconFile};
    for (size_t row = 0; row < 4; ++row)
        m_iconNames[row]->setText(*files[row]);
    m_waveNames[0]->setText(s.ReceiveWaveFile);
    m_waveNames[1]->setText(s.ImportantWaveFile);
    const qint16 sounds[] = {s.NormalSound, s.KeywordSound, s.SpecifySound};
    static const int boxOfSound[] = {-1, Beep, ReceiveWave, ImportantWave};
    for (size_t row = 0; row < 3; ++row) {
        if (sounds[row] >= 1 && sounds[row] <= 3)
            m_sounds[row][size_t(boxOfSound[sounds[row]])]->setChecked(true);
    }
    m_txtMiss->setText(s.Honorific);
    m_chkNotify->setChecked(s.Notify != 0);
    m_spnAutoAway->setValue(s.AutoAway);
    if (!m_host.autoAwayUnavailable.isEmpty()) {
        m_spnAutoAway->parentWidget()->setEnabled(false);
        m_spnAutoAway->parentWidget()->setToolTip(m_host.autoAwayUnavailable);
        m_spnAutoAway->setToolTip(m_host.autoAwayUnavailable);
    }
    m_currentTab = 1;
    // What the main window shows, not the running settings a cancelled picker may have changed.
    for (size_t i = 0; i < 3; ++i)
        m_fontLabels[i]->setText(QFontInfo(m_host.fonts[i]).family());
}

void frmOption::tabOption_Click()
{
    const auto index = qint16(m_tabOption->currentIndex() + 1);
    if (index == m_currentTab)
        return;
    m_currentTab = index;
    for (QGroupBox *frame : std::as_const(m_tabFrames[0]))
        frame->setVisible(index == 1);
    for (QGroupBox *frame : std::as_const(m_tabFrames[1]))
        frame->setVisible(index == 2);
}

void frmOption::chkSound_Click(int row, int box)
{
    for (int other = 0; other < 3; ++other) {
        if (other != box)
            m_sounds[size_t(row)][size_t(other)]->setChecked(false);
    }
}

void frmOption::chkLogFileName_Click()
{
    const bool on = m_chkLogFileName->isChecked();
    m_txtLogFileName->setEnabled(on);
    m_comLogFileName->setEnabled(on);
    QPalette palette = m_txtLogFileName->palette();
    palette.setColor(QPalette::Base, QWidget::palette().color(on ? QPalette::Base : QPalette::Button));
    m_txtLogFileName->setPalette(palette);
}

void frmOption::txtFlash_Change()
{
    const QString text = flashFieldText(m_txtFlash->text());
    if (text != m_txtFlash->text())
        m_txtFlash->setText(text);
}

void frmOption::scrFlash_Change(int value)
{
    m_txtFlash->setText(QString::number(10 - value));
    m_txtFlash->setFocus();
}

void frmOption::comAddIp_Click()
{
    QStringList entries;
    for (int i = 0; i < m_lstIP->count(); ++i)
        entries.append(m_lstIP->item(i)->text());
    if (addAddress(entries, m_txtIP->text()))
        m_lstIP->addItem(entries.constLast());
}

void frmOption::comDelIP_Click()
{
    const QList<QListWidgetItem *> selected = m_lstIP->selectedItems();
    if (selected.isEmpty())
        return;
    delete selected.constFirst();
    // The list would select the next entry, and the next press would delete what nobody chose.
    m_lstIP->selectionModel()->clear();
}

void frmOption::previewIcon(int row)
{
    if (const std::optional<QIcon> icon = m_host.imgWork(m_iconNames[size_t(row)]->text())) {
        m_pictures[size_t(row)] = *icon;
        showPicture(row);
    }
}

void frmOption::pickIcon(int row)
{
    QLineEdit *field = m_iconNames[size_t(row)];
    FilePickRequest request;
    request.title = QStringLiteral("Select Icon file name");
    request.filter = QStringLiteral("アイコン ファイル (*.ico)");
    request.defaultSuffix = QStringLiteral("ico");
    request.startFolder = m_host.programFolder;
    request.preset = field->text();
    const std::optional<QString> chosen = m_pickers.pickFile(this, request);
    if (!chosen)
        return;
    if (const std::optional<QIcon> icon = m_host.imgWork(*chosen)) {
        m_pictures[size_t(row)] = *icon;
        showPicture(row);
        field->setText(*chosen);
    }
}

void frmOption::pickWave(int row)
{
    QLineEdit *field = m_waveNames[size_t(row)];
    FilePickRequest request;
    request.title = QStringLiteral("Select Wave file name");
    request.filter = QStringLiteral("サウンド ファイル (*.wav)");
    request.defaultSuffix = QStringLiteral("wav");
    request.startFolder = m_host.programFolder;
    request.preset = field->text();
    if (const std::optional<QString> chosen = m_pickers.pickFile(this, request))
        field->setText(*chosen);
}

void frmOption::pickFont(int target)
{
    const std::optional<QFont> chosen = m_pickers.pickFont(this, m_host.fonts[size_t(target)]);
    if (!chosen)
        return;
    FontSetting *running[] = {&m_host.settings->MemberFont, &m_host.settings->MessageFont,
                              &m_host.settings->SendFont};
    *running[target] = fontSetting(*chosen);
    m_fontLabels[size_t(target)]->setText(running[target]->name);
}

void frmOption::comColor_Click()
{
    const std::optional<QColor> chosen =
        m_pickers.pickColor(this, colorFromWindowsValue(m_host.settings->MessageColor));
    if (!chosen)
        return;
    // New lines of the conversation take it at once, even if the dialog is cancelled.
    m_messageColor = windowsValueFromColor(*chosen);
    m_host.settings->MessageColor = m_messageColor;
    showMessageColor();
}

void frmOption::comLogFileName_Click()
{
    // A cancelled browse keeps the folder that was there: emptying it would lose the setting.
    if (const std::optional<QString> chosen = m_pickers.pickFolder(this, m_txtLogFileName->text()))
        m_txtLogFileName->setText(*chosen);
}

void frmOption::showPicture(int row)
{
    QLabel *preview = m_iconPreviews[size_t(row)];
    preview->setPixmap(m_pictures[size_t(row)].pixmap(preview->size()));
}

void frmOption::showMessageColor()
{
    QPalette palette = m_lblMessageColor->palette();
    palette.setColor(QPalette::Window, colorFromWindowsValue(m_messageColor));
    m_lblMessageColor->setPalette(palette);
}

OptionValues frmOption::collectValues() const
{
    OptionValues v;
    v.logEnabled = m_chkLogFileName->isChecked();
    v.logFolder = m_txtLogFileName->text();
    v.flashText = m_txtFlash->text();
    v.userName = m_txtUserName->text();
    v.honorific = m_txtMiss->text();
    v.messageColor = m_messageColor;
    for (int i = 0; i < m_lstIP->count(); ++i)
        v.addresses.append(m_lstIP->item(i)->text());
    for (size_t row = 0; row < 3; ++row) {
        v.actions[row] = qint16(std::max(0, m_actions[row]->checkedId()));
        v.sounds[row] = soundFromBoxes(m_sounds[row][Beep]->isChecked(),
                                       m_sounds[row][ReceiveWave]->isChecked(),
                                       m_sounds[row][ImportantWave]->isChecked());
    }
    v.receiveWave = m_waveNames[0]->text();
    v.importantWave = m_waveNames[1]->text();
    v.keywordText = crlf(m_txtPopup->toPlainText());
    for (size_t row = 0; row < 4; ++row)
        v.iconFiles[row] = m_iconNames[row]->text();
    v.notify = m_chkNotify->isChecked();
    v.autoAway = qint16(m_spnAutoAway->value());
    v.fonts = {m_host.settings->MemberFont, m_host.settings->MessageFont, m_host.settings->SendFont};
    return v;
}

// Today's file in the typed folder, its day header and the conversation shown so far.
bool frmOption::startLogging()
{
    const QString folder = m_txtLogFileName->text();
    // Without a folder the file would land at the root of the file system.
    if (folder.isEmpty() || !m_host.log->open(folder))
        return false;
    const QString shown = m_host.conversationText();
    if (shown.size() > 2 && !m_host.log->WriteLog({shown.chopped(2)}))
        return false;
    return true;
}

void frmOption::comOk_Click()
{
    RunningSettings &s = *m_host.settings;
    const bool logging = m_chkLogFileName->isChecked();
    // Logging that stays on needs a folder too: the next day's file would land at the root.
    if (logging && s.LogEnabled == 1 && m_txtLogFileName->text().isEmpty()) {
        m_host.showMessage(LogFolderMessage);
        return;
    }
    if (logging && s.LogEnabled != 1 && !startLogging()) {
        m_host.log->close();
        m_host.showMessage(LogFolderMessage);
        return;
    }
    if (!logging && s.LogEnabled == 1)
        m_host.log->close();

    const OptionValues values = collectValues();
    applyToRunning(values, s, *m_host.userName);
    // An open file stays where it is; the next day's file goes to the new folder.
    m_host.log->setFolder(s.LogFolder);
    m_host.ini->writeAll(optionWrites(values));

    OptionsApplied applied;
    applied.lstIP = values.addresses;
    applied.lstPopup = keywordsFromText(values.keywordText);
    applied.pictures = m_pictures;
    m_host.apply(applied);
    accept();
}

void frmOption::comCancel_Click()
{
    reject();
}

void frmOption::keyPressEvent(QKeyEvent *event)
{
    // Esc is no cancel button here: it closes nothing.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmOption::changeEvent(QEvent *event)
{
    // The flags ask for no minimise or maximise button, but some window managers offer them on
    // every window, and minimising a dialog there takes the main window down with it: a dialog of
    // fixed size that waits for an answer comes straight back.
    if (event->type() == QEvent::WindowStateChange && (windowState() & RefusedStates)) {
        QMetaObject::invokeMethod(
            this, [this] { setWindowState(windowState() & ~RefusedStates); }, Qt::QueuedConnection);
    }
    QDialog::changeEvent(event);
}

bool frmOption::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusOut) {
        const auto reason = static_cast<QFocusEvent *>(event)->reason();
        // Leaving the window or opening a menu is not leaving the field.
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            for (int row = 0; row < 3; ++row) {
                if (watched == m_iconNames[size_t(row)])
                    previewIcon(row);
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace vorlan
