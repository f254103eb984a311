#pragma once

#include "protocol/message.h"

#include <functional>

namespace vorlan {

class MemberList;

// The asking side of "情報" and "過去ログ": version requests to every member, past-log
// requests to one chosen member or to all the others. The answers are the dispatch's business.
class Requests
{
public:
    struct Hooks
    {
        std::function<void(const QString &text, const QString &address)> send;
        std::function<void()> pump;                    // lets pending events run
        std::function<void(bool)> setPastLogAsked;
    };

    Requests(const MemberList &members, const Identity &me, Hooks hooks);

    // A version request to every row, the own one included.
    void comInfo_Click();
    // The first ticked member other than the own one alone; else every other member.
    void comLog_Click();

private:
    bool askFirstTicked();
    void askEveryOther();
    void pumpTwice();

    const MemberList &m_members;
    const Identity &m_me;
    Hooks m_hooks;
};

} // namespace vorlan
