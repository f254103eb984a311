#include "presence/notificationpacer.h"

#include <QElapsedTimer>

#include <algorithm>
#include <memory>

namespace vorlan {

NotificationPacer::NotificationPacer(Show show, QObject *parent)
    : QObject(parent), m_show(std::move(show))
{
    auto monotonic = std::make_shared<QElapsedTimer>();
    monotonic->start();
    m_now = [monotonic] { return monotonic->elapsed(); };
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &NotificationPacer::runDue);
}

void NotificationPacer::setClock(std::function<qint64()> nowMs)
{
    m_now = std::move(nowMs);
}

void NotificationPacer::add(const QString &name, const QString &line)
{
    ++m_lines;
    const auto sender = std::find_if(m_senders.begin(), m_senders.end(),
                                     [&name](const Sender &s) { return s.name == name; });
    if (sender != m_senders.end())
        ++sender->lines;
    else
        m_senders.append({name, 1});
    m_newestName = name;
    m_newestLine = line;
    m_waiting = true;
    if (!m_holding)
        showNow();
}

void NotificationPacer::clear()
{
    m_senders.clear();
    m_lines = 0;
    m_waiting = false;
}

void NotificationPacer::runDue()
{
    const qint64 left = m_shownAt + HoldMs - m_now();
    if (left > 0) {
        m_timer.start(int(left));
        return;
    }
    m_holding = false;
    if (m_waiting)
        showNow();
}

void NotificationPacer::showNow()
{
    m_show(summary(), body());
    m_waiting = false;
    m_holding = true;
    m_shownAt = m_now();
    m_timer.start(int(HoldMs));
}

// One line: its sender. More: "12行 alice 7、bob 5", the busiest senders first, the rest as
// "他2人 3".
QString NotificationPacer::summary() const
{
    if (m_lines <= 1)
        return m_newestName;
    QList<Sender> senders = m_senders;
    std::stable_sort(senders.begin(), senders.end(),
                     [](const Sender &a, const Sender &b) { return a.lines > b.lines; });
    QStringList parts;
    int others = 0, otherLines = 0;
    for (qsizetype i = 0; i < senders.size(); ++i) {
        if (i < NamedSenders) {
            parts.append(senders[i].name + u' ' + QString::number(senders[i].lines));
        } else {
            ++others;
            otherLines += senders[i].lines;
        }
    }
    if (others > 0)
        parts.append(QStringLiteral("他%1人 %2").arg(others).arg(otherLines));
    return QStringLiteral("%1行 ").arg(m_lines) + parts.join(QStringLiteral("、"));
}

// The newest line; with several senders, whose it is.
QString NotificationPacer::body() const
{
    return m_senders.size() > 1 ? m_newestName + QStringLiteral(": ") + m_newestLine : m_newestLine;
}

} // namespace vorlan
