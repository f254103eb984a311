#include "conversation/composer.h"

#include "conversation/chatsplit.h"
#include "net/udpendpoint.h"
#include "base/codec.h"
#include "roster/memberlist.h"

namespace vorlan {

Composer::Composer(const MemberList &members, const Identity &me, Hooks hooks)
    : m_members(members), m_me(me), m_hooks(std::move(hooks))
{
}

void Composer::pumpTwice()
{
    if (m_hooks.pump) {
        m_hooks.pump();
        m_hooks.pump();
    }
}

void Composer::comEnter_Click(QString text)
{
    if (text == QLatin1String("debug on") || text == QLatin1String("debug off")) {
        if (m_hooks.setTestVisible)
            m_hooks.setTestVisible(text == QLatin1String("debug on"));
        return;
    }
    if (text.size() > 1 && text.endsWith(QLatin1String("\r\n")))
        text.chop(2);
    if (text.isEmpty())
        return;
    if (m_hooks.sending)
        m_hooks.sending();
    if (m_me.deskFlag == QLatin1String("1") && m_hooks.deskToggle)
        m_hooks.deskToggle();
    text.replace(u'\t', u' ');

    const QString recipients =
        fitRecipients(recipientList(), cp932Length(buildDirectedChat(m_me, QString(), QString())),
                      UdpEndpoint::MaxDatagram);
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    for (const QString &line : lines) {
        if (anyRecipient())
            sendDirected(recipients, line);
        else
            sendToAll(line);
    }
}

bool Composer::anyRecipient() const
{
    return !m_members.tickedNames(m_me.address).isEmpty();
}

QString Composer::recipientList() const
{
    return m_members.tickedNames(m_me.address).join(u',');
}

// A line too long for one datagram goes as several messages of the same kind, in order.
void Composer::sendDirected(const QString &recipients, const QString &line)
{
    const qsizetype fixed = cp932Length(buildDirectedChat(m_me, recipients, QString()));
    for (const QString &piece : splitToFit(line, fixed, UdpEndpoint::MaxDatagram)) {
        const QString message = buildDirectedChat(m_me, recipients, piece);
        const int rows = m_members.rowCount();
        for (int i = 0; i < rows; ++i) {
            if (!m_members.hasRow(i) || !m_members.isTicked(i))
                continue;
            const QString address = m_members.text(i, MemberList::Address);
            if (address == m_me.address)
                continue;
            m_hooks.send(message, address);
            pumpTwice();
        }
        m_hooks.send(message, m_me.address);
        pumpTwice();
    }
}

void Composer::sendToAll(const QString &line)
{
    const qsizetype fixed = cp932Length(buildChat(m_me, QString()));
    for (const QString &piece : splitToFit(line, fixed, UdpEndpoint::MaxDatagram)) {
        const QString message = buildChat(m_me, piece);
        const int rows = m_members.rowCount();
        for (int i = 0; i < rows; ++i) {
            if (!m_members.hasRow(i))
                continue;
            m_hooks.send(message, m_members.text(i, MemberList::Address));
            pumpTwice();
        }
    }
}

} // namespace vorlan
