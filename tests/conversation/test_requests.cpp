#include "conversation/requests.h"

#include "roster/memberlist.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>

namespace {

using namespace vorlan;

const QString Me = QStringLiteral("0me,pc00,192.168.0.5,09:00:00");
const QString VersionRequest = QStringLiteral("405 ") + Me;
const QString PastLogRequest = QStringLiteral("500 ") + Me;

// Rows in this order: the own row, taro, hanako.
const QStringList Rows = {"192.168.0.5", "192.168.0.6", "192.168.0.7"};

class RequestsTest : public ::testing::Test
{
protected:
    RequestsTest()
    {
        me.userName = QStringLiteral("me");
        me.hostName = QStringLiteral("pc00");
        me.address = Rows[0];
        me.startTime = QStringLiteral("09:00:00");
    }

    Requests requests(const QStringList &rows, const QList<int> &ticked = {})
    {
        for (const QString &address : rows)
            members.UpdateMember("0", "user" + address.right(1), "pc", address, "08:00:00");
        for (int row : ticked)
            members.setTicked(row, true);
        Requests::Hooks hooks;
        hooks.send = [this](const QString &text, const QString &address) {
            sender.sent.append({text, address});
            events.append("send " + address);
            if (duringSend)
                std::exchange(duringSend, nullptr)();
        };
        hooks.pump = [this] { events.append("pump"); };
        hooks.setPastLogAsked = [this](bool asked) {
            pastLogAsked = asked;
            events.append("asked");
        };
        return Requests(members, me, std::move(hooks));
    }

    Identity me;
    MemberList members;
    test::RecordingSender sender;
    QStringList events;
    std::optional<bool> pastLogAsked;
    std::function<void()> duringSend; // what events handled during the next send do
};

} // namespace

TEST_F(RequestsTest, InformationAsksEveryRowTheOwnIncluded)
{
    requests(Rows, {1}).comInfo_Click();
    EXPECT_EQ(sender.addresses(), Rows);
    EXPECT_EQ(sender.texts(), QStringList(3, VersionRequest));

    // hanako's Leave is handled while the first request goes out: her row is gone, and nothing
    // goes to an empty address.
    members.clear();
    sender.clear();
    Requests asking = requests(Rows);
    duringSend = [this] { members.RemoveMember(Rows[2]); };
    asking.comInfo_Click();
    EXPECT_EQ(sender.addresses(), Rows.first(2));
}

TEST_F(RequestsTest, PastLogAsksTheFirstTickedOtherMemberOrElseEveryOther)
{
    struct Case
    {
        const char *name;
        QStringList rows;
        QList<int> ticked;
        QStringList events;
        std::optional<bool> pastLogAsked;
    };
    const Case cases[] = {
        {"second and third ticked: the second alone", Rows, {1, 2},
         {"send 192.168.0.6", "pump", "pump"}, std::nullopt},
        {"own row and third ticked: the third alone", Rows, {0, 2},
         {"send 192.168.0.7", "pump", "pump"}, std::nullopt},
        {"only the own row ticked: every other", Rows, {0},
         {"asked", "send 192.168.0.6", "pump", "pump", "asked", "send 192.168.0.7", "pump", "pump"},
         true},
        {"nothing ticked: every other", Rows, {},
         {"asked", "send 192.168.0.6", "pump", "pump", "asked", "send 192.168.0.7", "pump", "pump"},
         true},
        {"nobody else listed: nothing", {Rows[0]}, {0}, {}, std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        members.clear();
        sender.clear();
        events.clear();
        pastLogAsked.reset();
        requests(c.rows, c.ticked).comLog_Click();
        EXPECT_EQ(events, c.events);
        EXPECT_EQ(pastLogAsked, c.pastLogAsked);
        EXPECT_EQ(sender.texts(), QStringList(sender.sent.size(), PastLogRequest));
    }
}
