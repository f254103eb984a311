#pragma once

#include <QList>
#include <QSet>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

namespace vorlan {

// The desktop notifications of a conversation that goes on while the window is in the
// background. The first line after a quiet spell is shown as it is, at once; what follows within
// HoldMs waits, and when that time is up one notification sums up every line since the user last
// looked: how many, from whom, and the newest. So a flood makes one notification every HoldMs,
// each replacing the one before it, and not one per line; the last lines of a burst are always
// shown, HoldMs after the notification before them at the latest.
class NotificationPacer : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 HoldMs = 3000;
    // The most senders told apart: any host can send under a new name with every line, and the
    // names kept must not grow with a flood. Past it the summary says "ほか999人以上".
    static constexpr qsizetype CountedSenders = 1000;

    using Show = std::function<void(const QString &summary, const QString &body)>;
    explicit NotificationPacer(Show show, QObject *parent = nullptr);

    // A line from name that asks for a notification.
    void add(const QString &name, const QString &line);
    // The user has seen the conversation: the count starts over and nothing waiting is shown.
    void clear();

    bool isWaiting() const { return m_waiting; }
    // Milliseconds from an arbitrary start; tests put in a clock of their own, and call runDue
    // where the timer would fire.
    void setClock(std::function<qint64()> nowMs);
    void runDue();

    // The summary and body of the lines since the count started: one line shows as its sender
    // and itself; more as "花子 ほか2人: 3件" (the newest line's sender first) and the newest line.
    QString summary() const;
    QString body() const;

private:
    void showNow();

    Show m_show;
    std::function<qint64()> m_now;
    QTimer m_timer;
    QSet<QString> m_senders; // who spoke since the count started, up to CountedSenders
    QString m_newestName;
    QString m_lastSender;
    QString m_newestLine;
    int m_lines = 0;
    qint64 m_shownAt = 0;
    bool m_holding = false; // a notification was shown less than HoldMs ago
    bool m_waiting = false; // lines came since the last one shown
};

} // namespace vorlan
