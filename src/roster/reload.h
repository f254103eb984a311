#pragma once

#include "protocol/message.h"

#include <QStringList>
#include <functional>
#include <optional>

namespace vorlan {

class MemberList;

// comReload_Click ("リロード"): rebuilds the roster from scratch. The roster keeps only the
// local row, and a Rejoin goes to the broadcast address, to every configured peer and to every
// member known before; the members refill the roster as their answers come in.
class Reload
{
public:
    struct Hooks
    {
        // Returns false when the send failed (the failure has been reported).
        std::function<bool(const QString &text, const QString &address)> send;
        std::function<void()> pump;                               // lets pending events run
        std::function<void(bool)> setPastLogAsked;
        std::function<std::optional<QString>(const QString &name)> resolve; // empty: no address
        std::function<void(const QString &text)> showMessage;
        // The other networks' broadcast addresses, asked like the limited broadcast; may be empty.
        std::function<QStringList()> otherBroadcasts;
    };

    // lstIP: the configured peers; lstMemberIP: the scratch list the former addresses go into.
    Reload(MemberList &members, const Identity &me, const QStringList &lstIP,
           QStringList &lstMemberIP, Hooks hooks);

    void comReload_Click();

private:
    void rejoinPeer(const QString &entry);

    MemberList &m_members;
    const Identity &m_me;
    const QStringList &m_lstIP;
    QStringList &m_lstMemberIP;
    Hooks m_hooks;
};

} // namespace vorlan
