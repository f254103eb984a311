#include "presence/presence.h"

#include "base/framepacer.h"
#include "presence/alertplan.h"
#include "presence/desktopnotifier.h"
#include "presence/notificationpacer.h"
#include "presence/plaintext.h"
#include "presence/waveplayer.h"
#include "protocol/message.h"
#include "roster/memberlist.h"
#include "settings/runningsettings.h"

#include <QApplication>
#include <QWidget>

#include <climits>

namespace vorlan {

namespace {

constexpr int TickMs = 1000;
constexpr int TestBlinkTicks = 30;
constexpr int AlertBeeps = 5;

} // namespace

Presence::Presence(State state, Seams seams, QObject *parent)
    : QObject(parent), m_state(state), m_seams(std::move(seams)),
      m_frames(new FramePacer([this] { showFrame(); }, this)),
      m_captions(new FramePacer(CaptionMs, [this] { showCaption(); }, this)),
      m_notifications(new NotificationPacer(
          [this](const QString &summary, const QString &body) {
              if (m_seams.notify)
                  m_seams.notify(summary, body);
          },
          this))
{
    m_timStanding.setObjectName(QStringLiteral("timStanding"));
    m_timStanding.setInterval(TickMs);
    connect(&m_timStanding, &QTimer::timeout, this, &Presence::timStanding_Timer);
}

Presence::~Presence() = default;

void Presence::comDesk_Click()
{
    const bool goingAway = m_state.me.deskFlag == QLatin1String("0");
    m_seams.setDeskCaption(goingAway ? QStringLiteral("在席通知") : QStringLiteral("不在通知"));
    m_state.me.deskFlag = goingAway ? QStringLiteral("1") : QStringLiteral("0");
    m_seams.setIcon(goingAway ? m_state.icons.away : m_state.icons.standing);
    emit deskChanged(goingAway);

    // Events run between the sends: a leave may shrink the roster under the loop.
    const int rows = m_state.members.rowCount();
    for (int i = 0; i < rows; ++i) {
        if (!m_state.members.hasRow(i))
            continue;
        m_seams.send(buildDeskNotice(m_state.me), m_state.members.text(i, MemberList::Address));
        m_seams.pump();
    }
}

void Presence::windowActivated()
{
    m_notifications->clear();
    if (m_seams.closeNotification)
        m_seams.closeNotification();
}

void Presence::comTest_Click()
{
    startBlink(TestBlinkTicks);
    m_state.windowActive = false;
}

void Presence::alert(QStringView code, const QString &name, const QString &payload)
{
    if (m_state.me.deskFlag != QLatin1String("0"))
        return;
    if (m_state.windowActive) {
        m_raiseDue = true;
        m_frames->runOrRequest();
        return;
    }
    const AlertPlan plan = planAlert(code, payload, m_state.keywords, m_state.settings);
    switch (plan.action) {
    case AlertAction::ReceivedIcon:
    case AlertAction::ImportantIcon:
        // Only the newest line shows: its caption is made when it is time for one.
        m_captionName = name;
        m_captionLine = payload;
        m_captionDue = true;
        m_captions->runOrRequest();
        m_blinker.setPopIcon(plan.action == AlertAction::ImportantIcon);
        startBlink(Blinker::countFor(m_state.settings.FlashMinutes));
        attendToBlink(name, payload);
        break;
    case AlertAction::PopUp:
        m_state.windowActive = true;
        m_raiseDue = true;
        m_frames->runOrRequest();
        break;
    case AlertAction::None:
        break;
    }
    switch (plan.sound) {
    case AlertSound::Beeps:
        for (int i = 0; i < AlertBeeps; ++i)
            m_seams.beep();
        break;
    case AlertSound::ReceiveWave:
        m_seams.playSound(m_state.settings.ReceiveWaveFile);
        break;
    case AlertSound::ImportantWave:
        m_seams.playSound(m_state.settings.ImportantWaveFile);
        break;
    case AlertSound::None:
        break;
    }
}

// The raise of the window that lines since the last frame asked for.
void Presence::showFrame()
{
    if (m_raiseDue)
        m_seams.raiseWindow();
    m_raiseDue = false;
}

// The caption of the newest line.
void Presence::showCaption()
{
    if (m_captionDue)
        m_seams.setCaption(QStringLiteral("Vorlan ") + m_captionName + QStringLiteral("-> ") + m_captionLine);
    m_captionDue = false;
}

// The attention request lasts as long as the blink would if the window is never activated;
// activating the window ends both. Lines that keep the blink going ask again only once that
// time has run out.
void Presence::attendToBlink(const QString &name, const QString &payload)
{
    const qint32 count = m_blinker.BlinkCount();
    if (m_seams.requestAttention && m_attentionTicks <= 0) {
        m_attentionTicks = count > 0 ? count : Blinker::EndlessTicks;
        m_seams.requestAttention(m_attentionTicks);
    }
    if (m_seams.notify && m_state.settings.Notify != 0)
        m_notifications->add(name, payload);
}

// The user has looked, or the blink ran its time: a new line is news again.
void Presence::endBlink()
{
    m_attentionTicks = 0;
    m_notifications->clear();
}

void Presence::startBlink(qint32 count)
{
    m_blinker.start(count);
    // A blink already running keeps its rhythm; only its count and style change.
    if (!m_timStanding.isActive())
        m_timStanding.start();
}

void Presence::timStanding_Timer()
{
    const Blinker::Step step = m_blinker.tick(m_state.windowActive);
    if (!step.ended) {
        --m_attentionTicks;
        m_seams.setIcon(iconFor(step.icon));
        return;
    }
    endBlink();
    // A caption still due would put the line back over the normal title.
    m_captionDue = false;
    m_seams.setIcon(m_state.icons.standing);
    m_seams.showTitle();
    m_timStanding.stop();
}

const QIcon &Presence::iconFor(Blinker::Icon icon) const
{
    switch (icon) {
    case Blinker::Icon::Received: return m_state.icons.received;
    case Blinker::Icon::Important: return m_state.icons.important;
    case Blinker::Icon::Standing: break;
    }
    return m_state.icons.standing;
}

Presence::Seams desktopSeams(QWidget &window, QDBusConnection bus)
{
    auto *player = new WavePlayer(&window);
    Presence::Seams seams;
    seams.setIcon = [&window](const QIcon &icon) { window.setWindowIcon(icon); };
    seams.setCaption = [&window](const QString &caption) { window.setWindowTitle(captionShowing(caption)); };
    seams.raiseWindow = [&window] {
        // Back from the task bar as it was before: a maximised window stays maximised.
        if (window.isMinimized())
            window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
        window.show();
        window.raise();
        // Asking for the focus waits for the X server's answer; with the window active already
        // that wait came with every received line.
        if (!window.isActiveWindow())
            window.activateWindow();
    };
    seams.beep = [] { QApplication::beep(); };
    seams.requestAttention = [&window](qint32 ticks) {
        QApplication::alert(&window, int(std::min<qint64>(qint64(ticks) * TickMs, INT_MAX)));
    };
    auto *notifier = new DesktopNotifier(std::move(bus), &window);
    seams.notify = [notifier](const QString &summary, const QString &body) { notifier->notify(summary, body); };
    seams.closeNotification = [notifier] { notifier->close(); };
    QObject::connect(notifier, &DesktopNotifier::activated, &window, seams.raiseWindow);
    seams.playSound = [player](const QString &file) { player->play(file); };
    return seams;
}

} // namespace vorlan
