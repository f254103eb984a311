#pragma once

#include "history/backgroundwork.h"
#include "history/logsearch.h"

#include <QList>
#include <QObject>

namespace vorlan {

// A search run off the caller's thread. What it finds comes back on the caller's thread in
// batches, the first hit at once and then at most every BatchMs, so the list grows while the
// search goes on and the event loop is never flooded.
class SearchJob : public QObject
{
    Q_OBJECT
public:
    static constexpr int BatchMs = 30;

    explicit SearchJob(QObject *parent = nullptr);
    ~SearchJob() override;

    // Stops a search still running (without its finished signal), then starts this one.
    void start(const SearchRequest &request);
    // Stops the search; finished follows at once, marked cancelled.
    void cancel();
    bool isRunning() const { return m_running; }

signals:
    void hitsFound(const QList<vorlan::SearchHit> &hits);
    void progressed(qint64 bytesDone, qint64 bytesTotal);
    void unreadableFound(const vorlan::LogDay &day);
    void finished(const vorlan::SearchSummary &summary);

private:
    friend class PostingSink;
    void stopQuietly();

    BackgroundWork m_work;
    quint64 m_generation = 0; // of the running search; what older ones post is dropped
    bool m_running = false;
    qint64 m_hitsDelivered = 0;
};

} // namespace vorlan
