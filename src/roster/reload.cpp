#include "roster/reload.h"

#include "roster/memberlist.h"

namespace vorlan {

namespace {

const QString Broadcast = QStringLiteral("255.255.255.255");

} // namespace

Reload::Reload(MemberList &members, const Identity &me, const QStringList &lstIP,
               QStringList &lstMemberIP, Hooks hooks)
    : m_members(members), m_me(me), m_lstIP(lstIP), m_lstMemberIP(lstMemberIP),
      m_hooks(std::move(hooks))
{
}

void Reload::comReload_Click()
{
    if (m_hooks.setPastLogAsked)
        m_hooks.setPastLogAsked(true); // the answers to a reload fetch no past log
    // Copies: events run between the sends, and a configuration change or another reload
    // handled meanwhile replaces these lists; this reload still asks its own former members.
    const QStringList former = m_members.addresses();
    m_lstMemberIP = former;
    m_members.clear();
    m_members.UpdateMember(m_me.deskFlag, m_me.userName, m_me.hostName, m_me.address,
                           m_me.startTime);

    m_hooks.send(buildRejoin(m_me), Broadcast);
    if (m_hooks.otherBroadcasts) {
        for (const QString &address : m_hooks.otherBroadcasts()) {
            m_hooks.send(buildRejoin(m_me), address);
            if (m_hooks.pump)
                m_hooks.pump();
        }
    }
    const QStringList peers = m_lstIP;
    for (const QString &entry : peers)
        rejoinPeer(entry);
    for (const QString &address : former) {
        m_hooks.send(buildRejoin(m_me), address);
        if (m_hooks.pump)
            m_hooks.pump();
    }
}

// A name that does not resolve goes out as it stands; only a failed send is the entry's fault.
void Reload::rejoinPeer(const QString &entry)
{
    const std::optional<QString> address = m_hooks.resolve ? m_hooks.resolve(entry) : std::nullopt;
    if (!m_hooks.send(buildRejoin(m_me), address.value_or(entry)) && m_hooks.showMessage) {
        m_hooks.showMessage(QStringLiteral("登録されているIPアドレス、または、ホスト名(") + entry
                            + QStringLiteral(")にエラーがあるので修正して下さい."));
    }
    if (m_hooks.pump)
        m_hooks.pump();
}

} // namespace vorlan
