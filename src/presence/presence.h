#pragma once

#include "presence/blinker.h"

#include <QDBusConnection>
#include <QIcon>
#include <QString>
#include <QObject>
#include <QTimer>
#include <functional>

class QWidget;

namespace vorlan {

class FramePacer;
class MemberList;
class NotificationPacer;
struct Identity;
struct RunningSettings;

// The four state icons as the window holds them at the moment of use.
struct StateIcons
{
    const QIcon &standing;
    const QIcon &received;
    const QIcon &important;
    const QIcon &away;
};

// comDesk_Click, the window-activity flag's users, the blink timer timStanding and the alert
// an incoming line raises. Everything it does to the window or the desktop goes through Seams.
// However fast lines come, the window is raised at most once per frame and its caption changes
// at most once every CaptionMs: the first line after a quiet spell shows at once, the lines of a
// flood then show as the newest one every CaptionMs, and the last one always shows (each caption
// change costs a round to the window system, and nobody reads a caption at frame rate). The
// taskbar is asked for attention once per blink, and
// desktop notifications come at most one every NotificationPacer::HoldMs, summing up the lines
// in between; the one on screen goes when the user comes to the window.
class Presence : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 CaptionMs = 250;

    struct Seams
    {
        std::function<void(const QIcon &)> setIcon;         // the title-bar icon
        std::function<void(const QString &)> setCaption;     // the window caption
        std::function<void()> showTitle;                     // back to the normal caption
        std::function<void()> raiseWindow;                   // restore and bring to the front
        std::function<void()> beep;
        std::function<void(const QString &file)> playSound;  // asynchronous, silent on failure
        std::function<void(const QString &)> setDeskCaption; // comDesk
        std::function<void(const QString &text, const QString &address)> send;
        std::function<void()> pump;                          // lets pending events run
        // For desktops without a title-bar icon; either may be empty.
        std::function<void(qint32 ticks)> requestAttention;  // taskbar attention for the blink
        std::function<void(const QString &summary, const QString &body)> notify;
        std::function<void()> closeNotification;             // the user has read the lines
    };

    // What presence reads and changes; owned by the window, which outlives this object.
    struct State
    {
        const MemberList &members;
        Identity &me;
        const RunningSettings &settings;
        const QStringList &keywords; // lstPopup
        StateIcons icons;
        bool &windowActive;          // WindowActive
    };

    Presence(State state, Seams seams, QObject *parent = nullptr);
    ~Presence() override;

    void comDesk_Click();
    void comTest_Click();
    // The user has come to the window: what the notification told is read.
    void windowActivated();
    // Entered by the dispatch for every chat line: code 100 or 101, the name to show, the line.
    void alert(QStringView code, const QString &name, const QString &payload);
    void timStanding_Timer();

    const Blinker &blinker() const { return m_blinker; }
    const QTimer &timStanding() const { return m_timStanding; }
    // Tests put observers in place of the real platform calls, and clocks of their own in the
    // pacers.
    Seams &seams() { return m_seams; }
    FramePacer &frames() { return *m_frames; }
    FramePacer &captions() { return *m_captions; }
    NotificationPacer &notifications() { return *m_notifications; }

signals:
    // The desk state (DeskFlag) has changed, whatever changed it; everything that shows it
    // follows this.
    void deskChanged(bool away);

private:
    void startBlink(qint32 count);
    void attendToBlink(const QString &name, const QString &payload);
    void endBlink();
    void showFrame();
    void showCaption();
    const QIcon &iconFor(Blinker::Icon icon) const;

    State m_state;
    Seams m_seams;
    Blinker m_blinker;
    QTimer m_timStanding;
    FramePacer *m_frames;
    FramePacer *m_captions;
    NotificationPacer *m_notifications;
    // What the next caption and frame show.
    QString m_captionName;
    QString m_captionLine;
    bool m_captionDue = false;
    bool m_raiseDue = false;
    // Ticks left of the attention request made; none is made while one lasts.
    qint32 m_attentionTicks = 0;
};

// The real platform calls for a top-level window: its icon and caption, restoring and raising
// it, the desktop beep and wave files, and notifications on bus (the session bus but in tests).
// Caption, title, comDesk and sending are the window's own.
Presence::Seams desktopSeams(QWidget &window, QDBusConnection bus);

} // namespace vorlan
