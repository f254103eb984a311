#include "history/searchjob.h"

#include <QElapsedTimer>
#include <QMetaObject>

#include <utility>

namespace vorlan {

// Collects on the search's thread and posts to the job's.
class PostingSink final : public SearchSink
{
public:
    PostingSink(SearchJob *job, quint64 generation)
        : m_job(job), m_generation(generation)
    {
        m_sinceHits.start();
        m_sinceProgress.start();
    }

    template <typename Function>
    void post(Function function)
    {
        QMetaObject::invokeMethod(
            m_job,
            [job = m_job, generation = m_generation, function = std::move(function)] {
                if (job->m_generation == generation && job->m_running)
                    function(job);
            },
            Qt::QueuedConnection);
    }

    void started(qint64, qint64 bytes) override { m_total = bytes; }

    void found(SearchHit &&hit) override
    {
        m_pending.append(std::move(hit));
        if (m_pending.size() == 1 && m_first) {
            m_first = false;
            flush();
        } else if (m_sinceHits.elapsed() >= SearchJob::BatchMs) {
            flush();
        }
    }

    void progressed(qint64 done) override
    {
        if (m_sinceProgress.elapsed() < SearchJob::BatchMs)
            return;
        m_sinceProgress.restart();
        post([done, total = m_total](SearchJob *job) { emit job->progressed(done, total); });
    }

    void unreadable(const LogDay &day) override
    {
        post([day](SearchJob *job) { emit job->unreadableFound(day); });
    }

    void flush()
    {
        m_sinceHits.restart();
        if (m_pending.isEmpty())
            return;
        post([hits = std::exchange(m_pending, {})](SearchJob *job) {
            job->m_hitsDelivered += hits.size();
            emit job->hitsFound(hits);
        });
    }

private:
    SearchJob *m_job;
    quint64 m_generation;
    QList<SearchHit> m_pending;
    QElapsedTimer m_sinceHits;
    QElapsedTimer m_sinceProgress;
    qint64 m_total = 0;
    bool m_first = true;
};

SearchJob::SearchJob(QObject *parent)
    : QObject(parent)
{
}

SearchJob::~SearchJob()
{
    stopQuietly();
}

void SearchJob::stopQuietly()
{
    m_work.stop();
    ++m_generation;
    m_running = false;
}

void SearchJob::start(const SearchRequest &request)
{
    stopQuietly();
    m_running = true;
    m_hitsDelivered = 0;
    const quint64 generation = m_generation;
    m_work.start([this, request, generation](const std::atomic_bool &cancel) {
        PostingSink sink(this, generation);
        const SearchSummary summary = searchLogs(request, sink, cancel);
        sink.flush();
        sink.post([summary](SearchJob *job) {
            job->m_running = false;
            emit job->finished(summary);
        });
    });
}

void SearchJob::cancel()
{
    if (!m_running)
        return;
    stopQuietly();
    SearchSummary summary;
    summary.hits = m_hitsDelivered;
    summary.cancelled = true;
    emit finished(summary);
}

} // namespace vorlan
