#include "roster/reload.h"

#include "roster/memberlist.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

namespace {

using namespace vorlan;

const QString MyAddress = QStringLiteral("192.168.0.5");
const QString Rejoin = QStringLiteral("203 0me,pc00,192.168.0.5,09:00:00");
const QString Broadcast = QStringLiteral("255.255.255.255");

class ReloadTest : public ::testing::Test
{
protected:
    ReloadTest()
    {
        me.userName = QStringLiteral("me");
        me.hostName = QStringLiteral("pc00");
        me.address = MyAddress;
        me.startTime = QStringLiteral("09:00:00");
    }

    Reload::Hooks hooks()
    {
        Reload::Hooks result;
        result.send = [this](const QString &text, const QString &address) {
            sender.sent.append({text, address});
            events.append("send " + address);
            return !failing.contains(address);
        };
        result.pump = [this] { events.append("pump"); };
        result.setPastLogAsked = [this](bool asked) {
            events.append(asked ? "asked" : "not asked");
        };
        result.resolve = [this](const QString &name) -> std::optional<QString> {
            return names.contains(name) ? std::optional(names.value(name)) : std::nullopt;
        };
        result.showMessage = [this](const QString &text) { messages.append(text); };
        result.otherBroadcasts = [this] { return otherNetworks; };
        return result;
    }

    void add(const QString &user, const QString &address)
    {
        members.UpdateMember("0", user, "pc", address, "08:00:00");
    }

    void reload() { Reload(members, me, lstIP, lstMemberIP, hooks()).comReload_Click(); }

    Identity me;
    MemberList members;
    QStringList lstIP;
    QStringList lstMemberIP = {"stale"};
    QHash<QString, QString> names;
    QStringList failing;
    QStringList otherNetworks;
    test::RecordingSender sender;
    QStringList events;
    QStringList messages;
};

} // namespace

TEST_F(ReloadTest, NobodyKnownSendsOnlyTheBroadcastAndKeepsTheLocalRow)
{
    me.deskFlag = QStringLiteral("1");
    reload();
    EXPECT_EQ(events, QStringList({"asked", "send 255.255.255.255"}));
    EXPECT_EQ(sender.texts(), QStringList({"203 1me,pc00,192.168.0.5,09:00:00"}));
    EXPECT_EQ(members.addresses(), QStringList({MyAddress}));
    EXPECT_EQ(members.text(0, MemberList::Desk), QStringLiteral("不在"));
    EXPECT_EQ(lstMemberIP, QStringList());
}

TEST_F(ReloadTest, AsksTheBroadcastTheConfiguredPeerAndEveryFormerMember)
{
    add("taro", "192.168.0.6");
    add("me", MyAddress);
    add("hanako", "192.168.0.7");
    members.setTicked(0, true);
    members.SetMemberInformation("192.168.0.6", "V1.2.9");
    lstIP = {"10.1.0.9"};
    otherNetworks = {"172.16.255.255"}; // a second network of this host, by its own broadcast
    reload();
    EXPECT_EQ(events, QStringList({"asked", "send 255.255.255.255", "send 172.16.255.255", "pump",
                                   "send 10.1.0.9", "pump", "send 192.168.0.6", "pump",
                                   "send 192.168.0.5", "pump", "send 192.168.0.7", "pump"}));
    EXPECT_EQ(sender.texts(), QStringList(6, Rejoin));
    EXPECT_EQ(lstMemberIP, QStringList({"192.168.0.6", MyAddress, "192.168.0.7"}));
    // Only the local row is left, fresh: the members come back as they answer.
    ASSERT_EQ(members.rowCount(), 1);
    EXPECT_EQ(members.text(0, MemberList::UserName), "me");
    EXPECT_EQ(members.text(0, MemberList::HostName), "pc00");
    EXPECT_EQ(members.text(0, MemberList::StartTime), "09:00:00");
    EXPECT_FALSE(members.isTicked(0));
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(ReloadTest, AReloadHandledBetweenTheSendsLeavesThisOnesFormerMembersAsked)
{
    add("taro", "192.168.0.6");
    otherNetworks = {"172.16.255.255"};
    Reload::Hooks outerHooks = hooks();
    bool nested = false;
    outerHooks.pump = [&] {
        if (!std::exchange(nested, true))
            reload(); // the roster holds only the local row now
    };
    Reload(members, me, lstIP, lstMemberIP, outerHooks).comReload_Click();
    EXPECT_EQ(sender.addresses().count("192.168.0.6"), 1) << sender.addresses().join(' ').toStdString();
}

TEST_F(ReloadTest, ConfiguredEntriesByNameByTextAndWithErrors)
{
    names = {{"peerhost", "10.1.0.7"}, {"badhost", "10.1.0.8"}};
    failing = {"10.1.0.8", "no.such.name"};
    lstIP = {"peerhost", "no.such.name", "badhost", "10.1.0.9"};
    reload();
    // Each entry is resolved when it can be, sent as it stands otherwise; a failed send names
    // its entry and the next one is still asked.
    EXPECT_EQ(sender.addresses(), QStringList({Broadcast, "10.1.0.7", "no.such.name", "10.1.0.8",
                                               "10.1.0.9"}));
    EXPECT_EQ(messages, QStringList({
        QStringLiteral("登録されているIPアドレス、または、ホスト名(no.such.name)にエラーがあるので修正して下さい."),
        QStringLiteral("登録されているIPアドレス、または、ホスト名(badhost)にエラーがあるので修正して下さい."),
    }));
}
