#pragma once

#include "history/backgroundwork.h"
#include "history/dayview.h"
#include "history/logfile.h"

#include <QDate>
#include <QTimer>
#include <QWidget>

#include <functional>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTreeView;

namespace vorlan {

class Clock;
class ConversationView;
class HitModel;
class SearchJob;
struct RunningSettings;
struct SearchSummary;

// "履歴": the days of the log folder, newest first, the chosen day's log read-only as the
// conversation view shows it, and a search across all days or a range of them. Not modal; a
// child of the main window, so it goes when the main window goes. Listing, reading and
// searching run on threads of their own; it never writes to a log file.
class HistoryWindow : public QWidget
{
    Q_OBJECT
public:
    // Most lines one search lists.
    static constexpr qsizetype MaxHits = 10000;
    // How long a search runs before its progress bar shows.
    static constexpr int ProgressDelayMs = 300;

    HistoryWindow(const RunningSettings &settings, const Clock &clock, const ConversationView &conversation,
                  QWidget *parent = nullptr);
    ~HistoryWindow() override;

    // Shows and raises the window, on today's log scrolled to its end unless it was open
    // already (on the same log folder).
    void open();
    // Lists the days of another folder (logs copied from another machine).
    void showFolder(const QString &folder);

    // Goes to the next or previous search result (F3, Shift+F3).
    void showNextHit(int step);
    void startSearch();
    void cancelSearch();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void createControls();
    void listDays();
    void daysListed(const QList<LogDay> &days);
    void readDay(const QDate &date, DayView::Target target);
    void dayChosen(QListWidgetItem *item);
    void hitChosen(int row);
    void markUnreadable(const LogDay &day);
    void searchFinished(const SearchSummary &summary);
    void browse();
    QString currentFolder() const;

    const RunningSettings &m_settings;
    const Clock &m_clock;
    const ConversationView &m_conversation;
    QString m_openedFolder; // the log folder the window last opened on
    QString m_shownFolder;   // of the day in the view
    bool m_readPending = false;
    QDate m_wantedDay;       // the day last asked for, shown or on its way
    QString m_wantedFolder;

    QComboBox *m_folders;
    QLineEdit *m_query;
    QCheckBox *m_kana;
    QCheckBox *m_range;
    QDateEdit *m_from;
    QDateEdit *m_to;
    QPushButton *m_search;
    QPushButton *m_cancel;
    QProgressBar *m_progress;
    QLabel *m_status;
    QListWidget *m_days;
    DayView *m_view;
    QTreeView *m_hits;
    HitModel *m_hitModel;
    SearchJob *m_job;
    QTimer m_progressDelay;
    quint64 m_readGeneration = 0;
    quint64 m_listGeneration = 0;
    // Last, so they stop before anything they post to goes.
    BackgroundWork m_listing;
    BackgroundWork m_reading;
};

} // namespace vorlan
