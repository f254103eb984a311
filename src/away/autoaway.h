#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>

namespace vorlan {

class IdleSource;

// OPT/AutoAway: a user who has not touched keyboard or mouse for the set minutes, or who locks
// the screen, goes away as "不在通知" does; the first input after that, or the unlock, brings
// the user back the same way. Only an away of its own making is undone: a user who went away
// by the button (or came back and left again meanwhile) stays away whatever the input.
class AutoAway : public QObject
{
    Q_OBJECT
public:
    struct Hooks
    {
        std::function<bool()> isAway;     // DeskFlag says away
        std::function<void()> toggleDesk; // what the button does
    };

    // The idle time is asked for this often while the rule is on.
    static constexpr int PollMs = 2000;

    AutoAway(IdleSource &source, Hooks hooks, QObject *parent = nullptr);

    // 0 switches the rule off, and brings back a user it made away. A user it made away under
    // other minutes stays away until the next input.
    void setMinutes(int minutes);
    int minutes() const { return m_minutes; }
    // Why the desktop tells no idle time; empty when it does.
    QString unavailable() const;
    // The window is closing: no more asking, and no more notices.
    void stop();
    bool wentAwayByItself() const { return m_byItself; }
    const QTimer &poll() const { return m_poll; }

    // The desk state changed, by whatever means.
    void deskChanged();

private:
    void onIdle(qint64 ms);
    void onLock(bool locked);
    void toggle(bool byItself);

    IdleSource &m_source;
    Hooks m_hooks;
    QTimer m_poll;
    int m_minutes = 0;
    bool m_byItself = false;
    bool m_toggling = false;
    bool m_locked = false;
    bool m_stopped = false;
    // When the last input came, on m_clock, as the last idle time told it.
    QElapsedTimer m_clock;
    std::optional<qint64> m_lastInput;
};

} // namespace vorlan
