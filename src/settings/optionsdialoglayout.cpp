// The controls of frmOption: frames, their positions in twips, texts and tips.
#include "settings/optionsdialog.h"

#include "settings/flashfield.h"
#include "settings/optionrules.h"
#include "settings/textfit.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabBar>

namespace vorlan {

namespace {

// The client area, in twips.
constexpr int ClientWidth = 6720;
constexpr int ClientHeight = 4590;
constexpr int TabHeight = 345;
// The receive-action grid's column of each sound box, in Sound order.
constexpr int SoundColumns[] = {5, 3, 4};

template <typename Widget>
Widget *named(Widget *widget, const char *name, const QString &toolTip = QString())
{
    widget->setObjectName(QLatin1String(name));
    if (!toolTip.isEmpty())
        widget->setToolTip(toolTip);
    return widget;
}

// Neither the dialog's buttons nor the pickers react to Enter.
QPushButton *button(const QString &caption, QWidget *parent, const char *name,
                    const QString &toolTip = QString())
{
    auto *result = named(new QPushButton(caption, parent), name, toolTip);
    result->setAutoDefault(false);
    result->setDefault(false);
    return result;
}

QLabel *borderedLabel(QWidget *parent, const char *name)
{
    auto *label = named(new QLabel(parent), name);
    label->setFrameShape(QFrame::Box);
    label->setFrameShadow(QFrame::Sunken);
    return label;
}

} // namespace

void frmOption::place(QWidget *widget, const QRect &twips) const
{
    placeDesigned(widget, twips);
}

QGroupBox *frmOption::addFrame(const char *name, const QString &caption, const QRect &twips, int tab)
{
    auto *frame = named(new QGroupBox(caption, this), name);
    place(frame, twips);
    frame->setVisible(tab == 1);
    m_tabFrames[tab - 1].append(frame);
    return frame;
}

void frmOption::createControls()
{
    setObjectName(QStringLiteral("frmOption"));
    setWindowTitle(QStringLiteral("オプション"));
    // A fixed size: nothing to minimise (it would hide the main window with it) or maximise.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);

    // The tab strip lies under the frames; its tabs run along its bottom edge.
    auto *strip = named(new QFrame(this), "tabStrip");
    strip->setFrameShape(QFrame::StyledPanel);
    place(strip, {0, 0, 6735, 4575});
    m_tabOption = named(new QTabBar(this), "tabOption");
    m_tabOption->setShape(QTabBar::RoundedSouth);
    m_tabOption->setDrawBase(false);
    m_tabOption->addTab(QStringLiteral("基本"));
    m_tabOption->addTab(QStringLiteral("メッセージ"));
    place(m_tabOption, {120, 4575 - TabHeight - 15, 3000, TabHeight});

    createGeneralFrames();
    createMessageFrames();

    QPushButton *ok = button(QStringLiteral("Ok"), this, "comOk", QStringLiteral("設定保存"));
    place(ok, {5160, 3240, 1335, 375});
    connect(ok, &QPushButton::clicked, this, &frmOption::comOk_Click);
    QPushButton *cancel = button(QStringLiteral("Cancel"), this, "comCancel", QStringLiteral("キャンセル"));
    place(cancel, {5160, 3720, 1335, 375});
    connect(cancel, &QPushButton::clicked, this, &frmOption::comCancel_Click);
}

// The design's twips leave too little room for some texts in the fonts of this desktop: the
// controls, filled, grow to their texts. Each option button and sound box of the receive-action
// grid then stands under the middle of its column's heading.
void frmOption::fitControls()
{
    const QList<QWidget *> pages[] = {{m_tabFrames[0].begin(), m_tabFrames[0].end()},
                                      {m_tabFrames[1].begin(), m_tabFrames[1].end()}};
    setFixedSize(fitToText(this, {ClientWidth, ClientHeight}, {pages[0], pages[1]}));
    const auto centre = [this](QWidget *control, int column) {
        const QLabel *heading = m_headings[size_t(column)];
        control->move(heading->x() + (heading->width() - control->width()) / 2, control->y());
    };
    for (size_t row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column)
            centre(m_actions[row]->button(column), column);
        for (size_t box = 0; box < 3; ++box)
            centre(m_sounds[row][box], SoundColumns[box]);
    }
}

void frmOption::createGeneralFrames()
{
    QGroupBox *frame = addFrame("famUseName", QStringLiteral("User Name"), {120, 240, 1335, 615}, 1);
    m_txtUserName = named(new QLineEdit(frame), "txtUserName",
                          QStringLiteral("変更後は「リロード」して下さい"));
    place(m_txtUserName, {120, 240, 1095, 285});

    frame = addFrame("famMiss", QStringLiteral("敬称"), {120, 960, 1335, 615}, 1);
    frame->setToolTip(QStringLiteral("参加メンバー一覧のダブルクリックじに,UserNameに付加する敬称の設定"));
    m_txtMiss = named(new QLineEdit(frame), "txtMiss", QStringLiteral("さん等を記入する"));
    place(m_txtMiss, {120, 240, 1095, 285});

    frame = addFrame("famMessageColor", QStringLiteral("メッセージ色"), {120, 1680, 1335, 615}, 1);
    m_lblMessageColor = borderedLabel(frame, "lblMessageColor");
    m_lblMessageColor->setToolTip(QStringLiteral("時間,差し出し名の色"));
    m_lblMessageColor->setAutoFillBackground(true);
    place(m_lblMessageColor, {120, 270, 255, 255});
    QPushButton *change = button(QStringLiteral("変更..."), frame, "comColor",
                                 QStringLiteral("メッセージ欄での色の変更"));
    place(change, {480, 240, 735, 300});
    connect(change, &QPushButton::clicked, this, &frmOption::comColor_Click);

    frame = addFrame("famIP", QStringLiteral("セグメント越(xxx.xxx.xxx.xxx)"), {1560, 120, 2535, 2175}, 1);
    m_txtIP = named(new QLineEdit(frame), "txtIP", QStringLiteral("IPアドレス"));
    place(m_txtIP, {120, 240, 1575, 285});
    m_lstIP = named(new QListWidget(frame), "lstIP", QStringLiteral("セグメント越え用のIPアドレスリスト"));
    place(m_lstIP, {120, 600, 1575, 1455});
    QPushButton *add = button(QStringLiteral("追加"), frame, "comAddIp", QStringLiteral("追加後は「リロード」して下さい"));
    place(add, {1800, 240, 615, 300});
    connect(add, &QPushButton::clicked, this, &frmOption::comAddIp_Click);
    QPushButton *remove = button(QStringLiteral("削除"), frame, "comDelIP", QStringLiteral("IPアドレスの削除"));
    place(remove, {1800, 600, 615, 300});
    connect(remove, &QPushButton::clicked, this, &frmOption::comDelIP_Click);

    frame = addFrame("famLogFileName", QStringLiteral("ログの記録"), {120, 2400, 3975, 735}, 1);
    m_chkLogFileName = named(new QCheckBox(frame), "chkLogFileName", QStringLiteral("チェックするとログをきろくします"));
    place(m_chkLogFileName, {120, 300, 255, 255});
    connect(m_chkLogFileName, &QCheckBox::toggled, this, &frmOption::chkLogFileName_Click);
    m_txtLogFileName = named(new QLineEdit(frame), "txtLogFileName", QStringLiteral("File name"));
    place(m_txtLogFileName, {480, 300, 2535, 285});
    m_comLogFileName = button(QStringLiteral("参照..."), frame, "comLogFileName");
    place(m_comLogFileName, {3120, 285, 735, 300});
    connect(m_comLogFileName, &QPushButton::clicked, this, &frmOption::comLogFileName_Click);

    frame = addFrame("famDeskIconname", QStringLiteral("不在時アイコン"), {120, 3240, 3975, 735}, 1);
    m_iconPreviews[3] = named(new QLabel(frame), "imgDesk");
    place(m_iconPreviews[3], {120, 300, 255, 255});
    m_iconNames[3] = named(new QLineEdit(frame), "txtDeskIconname");
    place(m_iconNames[3], {480, 300, 2535, 285});
    QPushButton *browse = button(QStringLiteral("参照..."), frame, "comDesk");
    place(browse, {3120, 285, 735, 300});
    connect(browse, &QPushButton::clicked, this, [this] { pickIcon(3); });

    frame = addFrame("famFont", QStringLiteral("フォント"), {4200, 120, 2415, 3015}, 1);
    static const char *const subFrames[] = {"Frame1", "frmMessageFont", "Frame2"};
    static const char *const labels[] = {"lblMemberFont", "lblMessageFont", "lblSendFont"};
    static const char *const buttons[] = {"comMemberFont", "comMessageFont", "comSendFont"};
    const QString captions[] = {QStringLiteral("メンバー"), QStringLiteral("メッセージ"), QStringLiteral("送信")};
    for (int i = 0; i < 3; ++i) {
        auto *sub = named(new QGroupBox(captions[i], frame), subFrames[i]);
        place(sub, {120, 240 + i * 900, 2175, 855});
        m_fontLabels[size_t(i)] = borderedLabel(sub, labels[i]);
        place(m_fontLabels[size_t(i)], {120, 240, 1935, 255});
        QPushButton *pick = button(QStringLiteral("変更..."), sub, buttons[i]);
        place(pick, {1320, 540, 735, 270});
        connect(pick, &QPushButton::clicked, this, [this, i] { pickFont(i); });
    }

    // Below the fonts, left of the dialog's buttons.
    frame = addFrame("famAutoAway", QStringLiteral("自動不在 (分)"), {4200, 3240, 855, 735}, 1);
    frame->setToolTip(QStringLiteral("操作しない時間がこの分数になると不在通知する (0: しない)"));
    m_spnAutoAway = named(new QSpinBox(frame), "spnAutoAway", frame->toolTip());
    m_spnAutoAway->setRange(0, AutoAwayMaxMinutes);
    place(m_spnAutoAway, {120, 300, 615, 300});
}

void frmOption::createMessageFrames()
{
    QGroupBox *frame = addFrame("famMovement", QStringLiteral("受信動作"), {120, 120, 4575, 1455}, 2);
    frame->setToolTip(QStringLiteral("メッセージを受信したときの動作を指定する"));
    const QString headings[] = {QStringLiteral("受信アイコン"), QStringLiteral("重要アイコン"),
                                QStringLiteral("Pop up"), QStringLiteral("受信Wave"),
                                QStringLiteral("重要Wave"), QStringLiteral("Beep")};
    const QString headingTips[] = {QStringLiteral("受信アイコンのチカチカ"), QStringLiteral("重要アイコンのチカチカ"),
                                   QStringLiteral("ポップアップ"), QString(), QString(),
                                   QStringLiteral("ポップアップ")};
    for (int column = 0; column < 6; ++column) {
        auto *heading = new QLabel(headings[column], frame);
        heading->setToolTip(headingTips[column]);
        heading->setAlignment(Qt::AlignCenter);
        QFont small = heading->font();
        small.setPointSizeF(small.pointSizeF() * 0.8);
        heading->setFont(small);
        place(heading, {840 + column * 600, 180, 600, 360});
        m_headings[size_t(column)] = heading;
    }
    static const char *const rowNames[] = {"Normal", "Keyword", "Specify"};
    const QString rowLabels[] = {QStringLiteral("普通"), QStringLiteral("キーワード"), QStringLiteral("指定")};
    const QString rowTips[] = {QStringLiteral("普通のメッセージを受信したとき"),
                               QStringLiteral("メッセージにキーワードがあったとき"),
                               QStringLiteral("指定メッセージを受信したとき")};
    static const char *const optionSuffixes[] = {"Recieve", "Important", "Popup"};
    static const char *const boxSuffixes[] = {"Beep", "Wave1", "Wave2"}; // in Sound order
    for (int row = 0; row < 3; ++row) {
        const int top = 540 + row * 300;
        auto *label = new QLabel(rowLabels[row], frame);
        label->setToolTip(rowTips[row]);
        place(label, {120, top, 720, 255});
        // Each row's buttons form a group of their own: the rows are independent.
        m_actions[size_t(row)] = new QButtonGroup(frame);
        for (int column = 0; column < 3; ++column) {
            const QByteArray name = QByteArray("opt") + rowNames[row] + optionSuffixes[column];
            auto *option = named(new QRadioButton(frame), name.constData());
            place(option, {840 + column * 600 + 180, top, 255, 255});
            m_actions[size_t(row)]->addButton(option, column);
        }
        for (int box = 0; box < 3; ++box) {
            const QByteArray name = QByteArray("chk") + rowNames[row] + boxSuffixes[box];
            auto *check = named(new QCheckBox(frame), name.constData());
            place(check, {840 + SoundColumns[box] * 600 + 180, top, 255, 255});
            m_sounds[size_t(row)][size_t(box)] = check;
            connect(check, &QCheckBox::toggled, this, [this, row, box](bool checked) {
                if (checked)
                    chkSound_Click(row, box);
            });
        }
    }

    frame = addFrame("famIcon", QStringLiteral("アイコン"), {120, 1680, 4575, 1335}, 2);
    const QString iconRows[] = {QStringLiteral("待機"), QStringLiteral("受信"), QStringLiteral("重要")};
    static const char *const previews[] = {"imgStand", "imgMove", "imgPop"};
    const QString previewTips[] = {QStringLiteral("普段のアイコン"), QStringLiteral("メッセージを受信したときのアイコン"),
                                   QStringLiteral("重要メッセージを受信したときのアイコンのアイコン")};
    static const char *const names[] = {"txtStandIconname", "txtMoveIconname", "txtPopIconname", "txtDeskIconname"};
    static const char *const browsers[] = {"comStandFilename", "comMoveFilename", "comPop"};
    for (int row = 0; row < 3; ++row) {
        const int top = 270 + row * 360;
        place(new QLabel(iconRows[row], frame), {120, top, 480, 255});
        m_iconPreviews[size_t(row)] = named(new QLabel(frame), previews[row], previewTips[row]);
        place(m_iconPreviews[size_t(row)], {720, top, 255, 255});
        m_iconNames[size_t(row)] = named(new QLineEdit(frame), names[row]);
        place(m_iconNames[size_t(row)], {1080, top, 2535, 285});
        QPushButton *browse = button(QStringLiteral("参照..."), frame, browsers[row]);
        place(browse, {3720, top, 735, 300});
        connect(browse, &QPushButton::clicked, this, [this, row] { pickIcon(row); });
    }
    for (int row = 0; row < 4; ++row) {
        m_iconNames[size_t(row)]->setToolTip(QStringLiteral("アイコンの変更"));
        connect(m_iconNames[size_t(row)], &QLineEdit::returnPressed, this, [this, row] { previewIcon(row); });
        // The absent icon's field has no preview on leaving it.
        if (row < 3)
            m_iconNames[size_t(row)]->installEventFilter(this);
    }

    frame = addFrame("famWave", QStringLiteral("Wave"), {120, 3120, 4575, 975}, 2);
    static const char *const waveNames[] = {"txtMoveWavename", "txtPopWavename"};
    static const char *const waveButtons[] = {"comMovwWave", "comPopWave"};
    for (int row = 0; row < 2; ++row) {
        const int top = 270 + row * 345;
        place(new QLabel(iconRows[row + 1], frame), {120, top, 480, 255});
        m_waveNames[size_t(row)] = named(new QLineEdit(frame), waveNames[row], QStringLiteral("Waveの変更"));
        place(m_waveNames[size_t(row)], {720, top, 2895, 285});
        QPushButton *browse = button(QStringLiteral("参照..."), frame, waveButtons[row]);
        place(browse, {3720, top, 735, 300});
        connect(browse, &QPushButton::clicked, this, [this, row] { pickWave(row); });
    }

    frame = addFrame("famKeyWord", QStringLiteral("キーワード"), {4800, 120, 1335, 1455}, 2);
    m_txtPopup = named(new QPlainTextEdit(frame), "txtPopup", QStringLiteral("キーワード登録"));
    m_txtPopup->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_txtPopup->setLineWrapMode(QPlainTextEdit::NoWrap);
    place(m_txtPopup, {120, 240, 1095, 1095});

    frame = addFrame("famFlash", QStringLiteral("チカチカ"), {4800, 1680, 1335, 615}, 2);
    m_txtFlash = named(new FlashField(frame), "txtFlash", QStringLiteral("チカチカ時間"));
    place(m_txtFlash, {120, 240, 480, 285});
    connect(m_txtFlash, &QLineEdit::textChanged, this, &frmOption::txtFlash_Change);
    // A scroll bar counts downwards; it holds 10 minus the minutes, so that 10 is at the top
    // and the up arrow raises the value.
    m_scrFlash = named(new QScrollBar(Qt::Vertical, frame), "scrFlash");
    m_scrFlash->setRange(0, 10);
    place(m_scrFlash, {600, 240, 255, 285});
    connect(m_scrFlash, &QScrollBar::valueChanged, this, &frmOption::scrFlash_Change);
    place(new QLabel(QStringLiteral("分"), frame), {960, 270, 255, 255});

    // Desktops that show no title-bar icon still show a notification.
    frame = addFrame("famNotify", QStringLiteral("通知"), {4800, 2400, 1335, 615}, 2);
    m_chkNotify = named(new QCheckBox(QStringLiteral("デスクトップ通知"), frame), "chkNotify",
                        QStringLiteral("チカチカするときデスクトップに通知を出す"));
    place(m_chkNotify, {120, 270, 1155, 255});
}

} // namespace vorlan
