// The roster finds members through an index; whatever changes the list, and however it is
// changed, a look-up must give what a walk from the top would: the first row of the address in
// display order, and every row of it for a refresh.
#include "roster/memberlist.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using namespace vorlan;

QTreeWidgetItem *rowOf(const QString &user, const QString &address)
{
    auto *row = new QTreeWidgetItem;
    row->setText(MemberList::UserName, user);
    row->setText(MemberList::Address, address);
    return row;
}

QStringList column(const MemberList &members, MemberList::Column which)
{
    QStringList result;
    for (int i = 0; i < members.rowCount(); ++i)
        result.append(members.text(i, which));
    return result;
}

void add(MemberList &members, const QString &user, const QString &address)
{
    members.UpdateMember(QStringLiteral("0"), user, QStringLiteral("pc"), address,
                         QStringLiteral("09:00:00"));
}

struct Change
{
    const char *what;
    std::function<void(MemberList &)> change;
    // After the change, SetMemberInformation("10.0.0.1", "x"): the information column, top down.
    QStringList information;
    QStringList addresses;
};

// Three members b, a, c at 10.0.0.2, .1 and .3, looked up once so the index is in use, then
// changed; the information set afterwards shows which row was found.
TEST(MemberIndex, LookUpsAfterAnyChangeFindTheFirstRowInDisplayOrder)
{
    const QString a = QStringLiteral("10.0.0.1");
    const Change changes[] = {
        {"nothing", [](MemberList &) {}, {"", "x", ""}, {"10.0.0.2", "10.0.0.1", "10.0.0.3"}},
        {"a second row of the address at the top",
         [&](MemberList &m) { m.insertTopLevelItem(0, rowOf("a2", a)); },
         {"x", "", "", ""}, {"10.0.0.1", "10.0.0.2", "10.0.0.1", "10.0.0.3"}},
        {"a second row of the address at the end",
         [&](MemberList &m) { m.addTopLevelItem(rowOf("a2", a)); },
         {"", "x", "", ""}, {"10.0.0.2", "10.0.0.1", "10.0.0.3", "10.0.0.1"}},
        {"the first of two rows removed",
         [&](MemberList &m) { m.addTopLevelItem(rowOf("a2", a)); m.RemoveMember(a); },
         {"", "", "x"}, {"10.0.0.2", "10.0.0.3", "10.0.0.1"}},
        {"a sort that puts the second row first",
         [&](MemberList &m) {
             m.addTopLevelItem(rowOf("0", a));
             m.contains(a); // the index is rebuilt before the sort
             m.lvMember_ColumnClick(MemberList::UserName); // descending: c, b, a, 0
             m.lvMember_ColumnClick(MemberList::UserName); // ascending: 0, a, b, c
         },
         {"x", "", "", ""}, {"10.0.0.1", "10.0.0.1", "10.0.0.2", "10.0.0.3"}},
        {"the row taken out of the list", [&](MemberList &m) { delete m.takeTopLevelItem(1); },
         {"", ""}, {"10.0.0.2", "10.0.0.3"}},
        {"the address of another row edited to it",
         [&](MemberList &m) { m.topLevelItem(0)->setText(MemberList::Address, a); },
         {"x", "", ""}, {"10.0.0.1", "10.0.0.1", "10.0.0.3"}},
        {"the address of its row edited away",
         [&](MemberList &m) { m.topLevelItem(1)->setText(MemberList::Address, "10.0.0.9"); },
         {"", "", ""}, {"10.0.0.2", "10.0.0.9", "10.0.0.3"}},
        {"the list cleared and the address added again",
         [&](MemberList &m) { m.clear(); add(m, "a", a); }, {"x"}, {"10.0.0.1"}},
    };
    for (const Change &change : changes) {
        SCOPED_TRACE(change.what);
        MemberList members;
        add(members, QStringLiteral("b"), QStringLiteral("10.0.0.2"));
        add(members, QStringLiteral("a"), a);
        add(members, QStringLiteral("c"), QStringLiteral("10.0.0.3"));
        ASSERT_TRUE(members.contains(a));

        change.change(members);
        members.SetMemberInformation(a, QStringLiteral("x"));

        EXPECT_EQ(column(members, MemberList::Information), change.information);
        EXPECT_EQ(column(members, MemberList::Address), change.addresses);
        EXPECT_EQ(members.contains(a), change.addresses.contains(a));
    }
}

TEST(MemberIndex, RefreshReachesEveryRowOfTheAddressAndAddsNone)
{
    MemberList members;
    for (int i = 0; i < 300; ++i)
        add(members, QStringLiteral("u%1").arg(i), QStringLiteral("10.0.%1.%2").arg(i / 250).arg(i % 250));
    members.addTopLevelItem(rowOf(QStringLiteral("twin"), QStringLiteral("10.0.0.7")));

    add(members, QStringLiteral("new"), QStringLiteral("10.0.0.7"));
    add(members, QStringLiteral("last"), QStringLiteral("10.0.1.49"));

    EXPECT_EQ(members.rowCount(), 301);
    EXPECT_EQ(members.text(7, MemberList::UserName), QStringLiteral("new"));
    EXPECT_EQ(members.text(300, MemberList::UserName), QStringLiteral("new"));
    EXPECT_EQ(members.text(299, MemberList::UserName), QStringLiteral("last"));

    // Once the twin is gone, the address has one row again and is still found.
    ASSERT_TRUE(members.RemoveMember(QStringLiteral("10.0.0.7")));
    add(members, QStringLiteral("again"), QStringLiteral("10.0.0.7"));
    EXPECT_EQ(members.rowCount(), 300);
    EXPECT_EQ(members.text(299, MemberList::UserName), QStringLiteral("again"));
    EXPECT_TRUE(members.RemoveMember(QStringLiteral("10.0.0.7")));
    EXPECT_FALSE(members.contains(QStringLiteral("10.0.0.7")));
}

} // namespace
