#include "presence/notificationpacer.h"

#include <QElapsedTimer>

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
    // A flood comes from few: the sender of the line before is counted already.
    if (m_senders.size() < CountedSenders && (m_lines == 1 || name != m_lastSender))
        m_senders.insert(name);
    m_lastSender = name;
    // A peer without a user name still gives the notification a title.
    m_newestName = name.isEmpty() ? QStringLiteral("Vorlan") : name;
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

QString NotificationPacer::summary() const
{
    if (m_lines <= 1)
        return m_newestName;
    // One pass of arg: a "%1" in a peer's name stays as typed.
    const QString count = QString::number(m_lines);
    if (m_senders.size() == 1)
        return QStringLiteral("%1: %2件").arg(m_newestName, count);
    const QString others = QString::number(m_senders.size() - 1);
    if (m_senders.size() >= CountedSenders)
        return QStringLiteral("%1 ほか%2人以上: %3件").arg(m_newestName, others, count);
    return QStringLiteral("%1 ほか%2人: %3件").arg(m_newestName, others, count);
}

QString NotificationPacer::body() const
{
    return m_newestLine;
}

} // namespace vorlan
