#include "history/historywindow.h"

#include "base/clock.h"
#include "conversation/conversationview.h"
#include "history/hitlist.h"
#include "history/searchfold.h"
#include "history/searchjob.h"
#include "settings/runningsettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QTreeView>
#include <QVBoxLayout>

namespace vorlan {

namespace {

constexpr int DateRole = Qt::UserRole;

QString whyUnreadable(LogDay::State state)
{
    switch (state) {
    case LogDay::NotAFile: return QStringLiteral("通常のファイルではありません");
    case LogDay::NoAccess: return QStringLiteral("読み込めません");
    case LogDay::NotCp932: return QStringLiteral("Shift_JIS のテキストではありません");
    case LogDay::Readable: break;
    }
    return {};
}

QString dayPath(const QString &folder, const QDate &date)
{
    return folder + u'/' + date.toString(QStringLiteral("yyyyMMdd")) + QStringLiteral(".txt");
}

QString dayLabel(const QDate &date, LogDay::State state)
{
    const QString label = date.toString(QStringLiteral("yyyy/MM/dd"));
    return state == LogDay::Readable ? label : label + QStringLiteral(" (読めません)");
}

} // namespace

HistoryWindow::HistoryWindow(const RunningSettings &settings, const Clock &clock,
                             const ConversationView &conversation, QWidget *parent)
    : QWidget(parent, Qt::Window), m_settings(settings), m_clock(clock), m_conversation(conversation)
{
    setObjectName(QStringLiteral("frmHistory"));
    setWindowTitle(QStringLiteral("履歴"));
    resize(900, 600);
    createControls();

    m_job = new SearchJob(this);
    connect(m_job, &SearchJob::hitsFound, m_hitModel, &HitModel::append);
    connect(m_job, &SearchJob::progressed, this, [this](qint64 done, qint64 total) {
        m_progress->setValue(total > 0 ? int(done * 1000 / total) : 0);
    });
    connect(m_job, &SearchJob::unreadableFound, this, &HistoryWindow::markUnreadable);
    connect(m_job, &SearchJob::finished, this, &HistoryWindow::searchFinished);
    m_progressDelay.setSingleShot(true);
    m_progressDelay.setInterval(ProgressDelayMs);
    connect(&m_progressDelay, &QTimer::timeout, this, [this] {
        if (m_job->isRunning())
            m_progress->show();
    });

    new QShortcut(QKeySequence::Find, this, this, [this] {
        m_query->setFocus();
        m_query->selectAll();
    });
    new QShortcut(QKeySequence(Qt::Key_F3), this, this, [this] { showNextHit(1); });
    new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), this, this, [this] { showNextHit(-1); });
}

HistoryWindow::~HistoryWindow()
{
    m_listing.stop();
    m_reading.stop();
}

void HistoryWindow::createControls()
{
    m_folders = new QComboBox(this);
    m_folders->setObjectName(QStringLiteral("folders"));
    m_folders->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_folders->setMinimumContentsLength(30);
    auto *browseButton = new QPushButton(QStringLiteral("参照..."), this);
    connect(browseButton, &QPushButton::clicked, this, &HistoryWindow::browse);
    connect(m_folders, &QComboBox::activated, this, [this] { listDays(); });

    m_query = new QLineEdit(this);
    m_query->setObjectName(QStringLiteral("query"));
    m_query->setPlaceholderText(QStringLiteral("検索する文字 (Ctrl+F)"));
    m_query->setClearButtonEnabled(true);
    connect(m_query, &QLineEdit::returnPressed, this, &HistoryWindow::startSearch);
    m_kana = new QCheckBox(QStringLiteral("ひらがなとカタカナを区別しない"), this);
    m_kana->setObjectName(QStringLiteral("kana"));
    m_range = new QCheckBox(QStringLiteral("期間"), this);
    m_range->setObjectName(QStringLiteral("range"));
    m_from = new QDateEdit(this);
    m_to = new QDateEdit(this);
    for (QDateEdit *edit : {m_from, m_to}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy/MM/dd"));
        edit->setEnabled(false);
        connect(m_range, &QCheckBox::toggled, edit, &QWidget::setEnabled);
    }
    m_from->setObjectName(QStringLiteral("from"));
    m_to->setObjectName(QStringLiteral("to"));
    m_search = new QPushButton(QStringLiteral("検索"), this);
    m_search->setObjectName(QStringLiteral("search"));
    connect(m_search, &QPushButton::clicked, this, &HistoryWindow::startSearch);
    m_cancel = new QPushButton(QStringLiteral("中止"), this);
    m_cancel->setObjectName(QStringLiteral("cancel"));
    m_cancel->setEnabled(false);
    connect(m_cancel, &QPushButton::clicked, this, &HistoryWindow::cancelSearch);
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 1000);
    m_progress->setTextVisible(false);
    m_progress->hide();
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));

    m_days = new QListWidget(this);
    m_days->setObjectName(QStringLiteral("days"));
    connect(m_days, &QListWidget::currentItemChanged, this, [this](QListWidgetItem *item) { dayChosen(item); });
    m_view = new DayView(this);
    m_hitModel = new HitModel(this);
    m_hits = new QTreeView(this);
    m_hits->setObjectName(QStringLiteral("hits"));
    m_hits->setModel(m_hitModel);
    m_hits->setRootIsDecorated(false);
    m_hits->setUniformRowHeights(true);
    m_hits->setItemDelegate(new MatchDelegate(m_hits));
    m_hits->header()->setStretchLastSection(true);
    connect(m_hits, &QTreeView::activated, this, [this](const QModelIndex &index) { hitChosen(index.row()); });
    connect(m_hits, &QTreeView::clicked, this, [this](const QModelIndex &index) { hitChosen(index.row()); });

    auto *folderRow = new QHBoxLayout;
    folderRow->addWidget(new QLabel(QStringLiteral("フォルダ"), this));
    folderRow->addWidget(m_folders, 1);
    folderRow->addWidget(browseButton);
    auto *searchRow = new QHBoxLayout;
    searchRow->addWidget(m_query, 1);
    searchRow->addWidget(m_search);
    searchRow->addWidget(m_cancel);
    auto *optionRow = new QHBoxLayout;
    optionRow->addWidget(m_kana);
    optionRow->addWidget(m_range);
    optionRow->addWidget(m_from);
    optionRow->addWidget(new QLabel(QStringLiteral("～"), this));
    optionRow->addWidget(m_to);
    optionRow->addStretch(1);
    optionRow->addWidget(m_progress);
    optionRow->addWidget(m_status);

    auto *right = new QSplitter(Qt::Vertical, this);
    right->addWidget(m_view);
    right->addWidget(m_hits);
    right->setStretchFactor(0, 3);
    right->setStretchFactor(1, 2);
    auto *split = new QSplitter(Qt::Horizontal, this);
    split->addWidget(m_days);
    split->addWidget(right);
    split->setStretchFactor(1, 1);
    split->setSizes({190, 710});

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(folderRow);
    layout->addLayout(searchRow);
    layout->addLayout(optionRow);
    layout->addWidget(split, 1);
}

void HistoryWindow::open()
{
    m_view->setLook(m_conversation, colorFromWindowsValue(m_settings.MessageColor));
    // Shown again, it starts afresh: new days may have begun and today has grown meanwhile.
    if (!isVisible() || m_openedFolder != m_settings.LogFolder) {
        m_openedFolder = m_settings.LogFolder;
        if (m_folders->count() == 0)
            m_folders->addItem(m_openedFolder);
        else
            m_folders->setItemText(0, m_openedFolder);
        m_folders->setCurrentIndex(0);
        const QDate today = m_clock.now().date();
        m_to->setDate(today);
        m_wantedDay = today; // without a log of its own, the newest day once listed
        m_wantedFolder = m_openedFolder;
        listDays();
        // Today's file needs no listing: it shows at once, while the folder is listed.
        if (QFileInfo::exists(dayPath(m_openedFolder, today)))
            readDay(today, DayView::Target());
    }
    show();
    raise();
    activateWindow();
}

void HistoryWindow::showFolder(const QString &folder)
{
    int index = m_folders->findText(folder);
    if (index < 0) {
        m_folders->addItem(folder);
        index = m_folders->count() - 1;
    }
    m_folders->setCurrentIndex(index);
    listDays();
}

void HistoryWindow::browse()
{
    const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("ログのフォルダ"), currentFolder());
    if (!folder.isEmpty())
        showFolder(folder);
}

QString HistoryWindow::currentFolder() const
{
    return m_folders->currentText();
}

// The names first, so the list shows at once; then the start of each file, which on a cold
// disk can take a while, marks those that are no code page 932 text.
void HistoryWindow::listDays()
{
    const QString folder = currentFolder();
    const quint64 generation = ++m_listGeneration;
    m_listing.start([this, folder, generation](const std::atomic_bool &cancel) {
        const QList<LogDay> days = listLogDays(folder, false, {}, {}, &cancel);
        if (cancel)
            return;
        const auto post = [this, generation](auto function) {
            QMetaObject::invokeMethod(this, [this, generation, function] {
                if (generation == m_listGeneration)
                    function();
            }, Qt::QueuedConnection);
        };
        post([this, days] { daysListed(days); });
        // Built once, here rather than at the first search, which then answers at once.
        cp932Spellings(0, false);
        cp932Spellings(0, true);
        for (LogDay day : days) {
            if (cancel)
                return;
            if (day.readable() && (day.state = sniffLogFile(day.path)) != LogDay::Readable)
                post([this, day] { markUnreadable(day); });
        }
    });
}

void HistoryWindow::daysListed(const QList<LogDay> &days)
{
    const QSignalBlocker quiet(m_days);
    m_days->clear();
    QListWidgetItem *shown = nullptr;
    for (const LogDay &day : days) {
        auto *item = new QListWidgetItem(dayLabel(day.date, day.state), m_days);
        item->setData(DateRole, day.date);
        if (!day.readable()) {
            item->setForeground(palette().color(QPalette::Disabled, QPalette::Text));
            item->setToolTip(whyUnreadable(day.state));
        }
        if (day.date == m_wantedDay && m_wantedFolder == currentFolder())
            shown = item;
    }
    if (!days.isEmpty() && !m_range->isChecked())
        m_from->setDate(days.last().date);
    if (shown) {
        m_days->setCurrentItem(shown);
    } else if (m_days->count() > 0) {
        // The day shown is not in this folder (a day without a log, another folder).
        m_days->setCurrentRow(0);
        dayChosen(m_days->currentItem());
    }
}

void HistoryWindow::dayChosen(QListWidgetItem *item)
{
    if (item)
        readDay(item->data(DateRole).toDate(), DayView::Target());
}

void HistoryWindow::readDay(const QDate &date, DayView::Target target)
{
    const QString folder = currentFolder();
    const QString path = dayPath(folder, date);
    const quint64 generation = ++m_readGeneration;
    m_readPending = true;
    m_wantedDay = date;
    m_wantedFolder = folder;
    m_reading.start([this, folder, path, date, target, generation](const std::atomic_bool &cancel) {
        DayText day = vorlan::readDay(path, cancel);
        if (cancel)
            return;
        QMetaObject::invokeMethod(this, [this, day = std::move(day), folder, date, target, generation] {
            if (generation != m_readGeneration)
                return;
            m_readPending = false;
            m_shownFolder = folder;
            if (day.state == LogDay::Readable) {
                m_view->showDay(date, day, target);
                return;
            }
            m_view->showNotice(date, date.toString(QStringLiteral("yyyy/MM/dd ")) + whyUnreadable(day.state));
            markUnreadable(LogDay{date, {}, 0, day.state});
        }, Qt::QueuedConnection);
    });
}

void HistoryWindow::markUnreadable(const LogDay &day)
{
    for (int row = 0; row < m_days->count(); ++row) {
        QListWidgetItem *item = m_days->item(row);
        if (item->data(DateRole).toDate() == day.date) {
            item->setText(dayLabel(day.date, day.state));
            item->setForeground(palette().color(QPalette::Disabled, QPalette::Text));
            item->setToolTip(whyUnreadable(day.state));
        }
    }
}

void HistoryWindow::startSearch()
{
    const QString query = m_query->text();
    if (query.isEmpty())
        return;
    SearchRequest request;
    request.folder = currentFolder();
    request.query = query;
    request.kana = m_kana->isChecked();
    if (m_range->isChecked()) {
        request.from = std::min(m_from->date(), m_to->date());
        request.to = std::max(m_from->date(), m_to->date());
    }
    request.maxHits = MaxHits;
    m_hitModel->clear();
    m_status->setText(QStringLiteral("検索中..."));
    m_progress->setValue(0);
    m_progress->hide();
    m_cancel->setEnabled(true);
    m_job->start(request);
    m_progressDelay.start();
}

void HistoryWindow::cancelSearch()
{
    m_job->cancel();
}

void HistoryWindow::searchFinished(const SearchSummary &summary)
{
    m_progressDelay.stop();
    m_progress->hide();
    m_cancel->setEnabled(false);
    const QString count = QString::number(m_hitModel->rowCount());
    if (summary.cancelled)
        m_status->setText(count + QStringLiteral(" 件 (中止しました)"));
    else if (summary.truncated)
        m_status->setText(QStringLiteral("最初の %1 件").arg(count));
    else
        m_status->setText(count + QStringLiteral(" 件"));
}

void HistoryWindow::hitChosen(int row)
{
    if (row < 0 || row >= m_hitModel->rowCount())
        return;
    const SearchHit &hit = m_hitModel->hit(row);
    const DayView::Target target{hit.lineOffset, hit.column, hit.matchLength};
    for (int i = 0; i < m_days->count(); ++i) {
        if (m_days->item(i)->data(DateRole).toDate() == hit.day) {
            const QSignalBlocker quiet(m_days);
            m_days->setCurrentRow(i);
        }
    }
    if (!m_readPending && m_view->date() == hit.day && m_shownFolder == currentFolder())
        m_view->showTarget(target);
    else
        readDay(hit.day, target);
}

void HistoryWindow::showNextHit(int step)
{
    const int rows = m_hitModel->rowCount();
    if (rows == 0)
        return;
    const int current = m_hits->currentIndex().isValid() ? m_hits->currentIndex().row() : (step > 0 ? -1 : rows);
    const int next = std::clamp(current + step, 0, rows - 1);
    m_hits->setCurrentIndex(m_hitModel->index(next, 0));
    hitChosen(next);
}

void HistoryWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && m_job->isRunning()) {
        cancelSearch();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace vorlan
