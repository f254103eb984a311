#include "conversation/requests.h"

#include "roster/memberlist.h"

namespace vorlan {

Requests::Requests(const MemberList &members, const Identity &me, Hooks hooks)
    : m_members(members), m_me(me), m_hooks(std::move(hooks))
{
}

void Requests::pumpTwice()
{
    if (m_hooks.pump) {
        m_hooks.pump();
        m_hooks.pump();
    }
}

// Answers are handled while the loop runs (each send lets events run); rows that vanish
// meanwhile are skipped.
void Requests::comInfo_Click()
{
    const int rows = m_members.rowCount();
    for (int i = 0; i < rows; ++i) {
        if (m_members.hasRow(i))
            m_hooks.send(buildVersionRequest(m_me), m_members.text(i, MemberList::Address));
    }
}

void Requests::comLog_Click()
{
    if (!askFirstTicked())
        askEveryOther();
}

bool Requests::askFirstTicked()
{
    const int rows = m_members.rowCount();
    for (int i = 0; i < rows; ++i) {
        const QString address = m_members.text(i, MemberList::Address);
        if (!m_members.isTicked(i) || address == m_me.address)
            continue;
        m_hooks.send(buildPastLogRequest(m_me), address);
        pumpTwice();
        return true;
    }
    return false;
}

void Requests::askEveryOther()
{
    const int rows = m_members.rowCount();
    for (int i = 0; i < rows; ++i) {
        if (!m_members.hasRow(i))
            continue;
        const QString address = m_members.text(i, MemberList::Address);
        if (address == m_me.address)
            continue;
        // Set before the send: an answer handled during it must find the request made.
        if (m_hooks.setPastLogAsked)
            m_hooks.setPastLogAsked(true);
        m_hooks.send(buildPastLogRequest(m_me), address);
        pumpTwice();
    }
}

} // namespace vorlan
