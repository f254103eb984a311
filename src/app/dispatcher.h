#pragma once

#include "base/dropreport.h"
#include "protocol/message.h"
#include "protocol/replybudget.h"

#include <QDateTime>
#include <QSet>
#include <QStringList>
#include <functional>

namespace vorlan {

class Clock;
class ConversationView;
class MemberList;
struct RunningSettings;

// ProcessMessage: acts on one received message. Reads the header, keeps the roster current,
// writes lines into the conversation view and the log, answers requests and raises alerts.
class Dispatcher
{
public:
    struct Hooks
    {
        std::function<void(const QString &text, const QString &address)> send;
        std::function<void(const QStringList &items)> writeLog; // called only while logging is on
        std::function<void(QStringView code, const QString &name, const QString &payload)> alert;
        std::function<void()> showTitle;
        // A monotonic clock in milliseconds, for the reply budget; empty: the system's.
        std::function<qint64()> nowMs;
    };

    Dispatcher(MemberList &members, ConversationView &view, const Identity &me,
               const RunningSettings &settings, const Clock &clock, Hooks hooks);

    // text came from the address source. A message whose header names another address is
    // dropped unread: replies go to the header's address, so a forged one would aim them at a
    // third party.
    void ProcessMessage(const QString &text, const QString &source);

    bool PastLogAsked() const { return m_pastLogAsked; }
    void setPastLogAsked(bool asked) { m_pastLogAsked = asked; }
    // Headers naming one of these addresses are dropped (this host's broadcast and other
    // addresses); with refuseLoopback, any 127.x.x.x address too.
    void setNonPeerAddresses(const QStringList &addresses, bool refuseLoopback);

    // The text of the reply to a past-log request, as it would be sent now.
    QString pastLogReply() const;

private:
    using Handler = void (Dispatcher::*)(const ParsedMessage &);
    static Handler handlerFor(QStringView code);

    void onChat(const ParsedMessage &message);
    void onDirectedChat(const ParsedMessage &message);
    void onJoin(const ParsedMessage &message);
    void onJoinReply(const ParsedMessage &message);
    void onRejoin(const ParsedMessage &message);
    void onLeave(const ParsedMessage &message);
    void onNotice(const ParsedMessage &message);
    void onVersionRequest(const ParsedMessage &message);
    void onVersionReply(const ParsedMessage &message);
    void onPastLogRequest(const ParsedMessage &message);
    void onPastLogReply(const ParsedMessage &message);

    void updateMember(const ParsedMessage &message);
    void replyToJoin(const ParsedMessage &message);
    // Sends a reply unless the budget is spent (pastLog: the per-address limit applies too).
    void reply(const QString &text, const QString &address, bool pastLog = false);
    qint64 nowMs() const;
    void showLine(const QString &head, const QString &tail);
    void log(const QStringList &items);
    QString now() const;

    MemberList &m_members;
    ConversationView &m_view;
    const Identity &m_me;
    const RunningSettings &m_settings;
    const Clock &m_clock;
    Hooks m_hooks;
    bool m_pastLogAsked = false;
    QSet<QString> m_nonPeers;
    bool m_refuseLoopback = false;
    ReplyBudget m_budget;
    DropReport m_forged;
    // The fields of the last header read, whose strings the next one shares where equal.
    ParsedMessage m_lastHeader;
    DropReport m_overBudget;
    mutable QDateTime m_shownTime;
    mutable QString m_shownTimeText;
};

} // namespace vorlan
