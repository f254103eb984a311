#pragma once

#include "protocol/message.h"

#include <functional>

namespace vorlan {

class MemberList;

// comEnter_Click: turns the composed text into Chat lines to every member, or DirectedChat
// lines to the ticked members plus one copy to the sender.
class Composer
{
public:
    struct Hooks
    {
        std::function<void(const QString &text, const QString &address)> send;
        std::function<void()> pump;                  // lets pending events run
        std::function<void(bool)> setTestVisible;    // comTest
        std::function<void()> deskToggle;            // comDesk_Click, to come back to the desk
        std::function<void()> sending;               // the text goes out, to show up in the conversation
    };

    Composer(const MemberList &members, const Identity &me, Hooks hooks);

    // text: the compose box's text, lines separated by CR LF. The box is emptied afterwards.
    void comEnter_Click(QString text);

private:
    QString recipientList() const;
    bool anyRecipient() const;
    void sendDirected(const QString &recipients, const QString &line);
    void sendToAll(const QString &line);
    void pumpTwice();

    const MemberList &m_members;
    const Identity &m_me;
    Hooks m_hooks;
};

} // namespace vorlan
