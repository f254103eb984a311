#include "roster/memberlist.h"

#include "app/mainwindow.h"

#include <QHeaderView>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTextCursor>

#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <ostream>


namespace {

using namespace vorlan;

class MemberListTest : public ::testing::Test
{
protected:
    MemberListTest()
    {
        QObject::connect(&members, &MemberList::memberAdded, [this] { ++added; });
    }

    void add(const QString &user, const QString &address, const QString &host = QStringLiteral("pc"),
             const QString &flag = QStringLiteral("0"), const QString &start = QStringLiteral("09:00:00"))
    {
        members.UpdateMember(flag, user, host, address, start);
    }

    QStringList column(MemberList::Column which) const
    {
        QStringList result;
        for (int i = 0; i < members.rowCount(); ++i)
            result.append(members.text(i, which));
        return result;
    }

    bool isSelected(int row) const { return members.topLevelItem(row)->isSelected(); }

    MemberList members;
    int added = 0;
};

// --- Adding and refreshing rows ---

TEST_F(MemberListTest, NewAddressAddsAnUntickedRowWithEmptyInformation)
{
    add(QStringLiteral("taro"), QStringLiteral("192.168.0.5"), QStringLiteral("pc01"), QStringLiteral("0"),
        QStringLiteral("08:59:59"));

    ASSERT_EQ(members.rowCount(), 1);
    EXPECT_EQ(members.text(0, MemberList::UserName), QStringLiteral("taro"));
    EXPECT_EQ(members.text(0, MemberList::Desk), QString());
    EXPECT_EQ(members.text(0, MemberList::HostName), QStringLiteral("pc01"));
    EXPECT_EQ(members.text(0, MemberList::Address), QStringLiteral("192.168.0.5"));
    EXPECT_EQ(members.text(0, MemberList::StartTime), QStringLiteral("08:59:59"));
    EXPECT_EQ(members.text(0, MemberList::Information), QString());
    EXPECT_FALSE(members.isTicked(0));
    EXPECT_FALSE(isSelected(0));
    EXPECT_EQ(added, 1);
    EXPECT_TRUE(members.contains(QStringLiteral("192.168.0.5")));
}

TEST_F(MemberListTest, RefreshReplacesFourColumnsAndKeepsEverythingElse)
{
    add(QStringLiteral("hanako"), QStringLiteral("192.168.0.7"));
    add(QStringLiteral("taro"), QStringLiteral("192.168.0.5"), QStringLiteral("pc01"));
    members.SetMemberInformation(QStringLiteral("192.168.0.5"), QStringLiteral("V1.2.9"));
    members.setTicked(1, true);
    ASSERT_TRUE(isSelected(1));
    added = 0;

    add(QStringLiteral("太郎"), QStringLiteral("192.168.0.5"), QStringLiteral("pc99"), QStringLiteral("1"),
        QStringLiteral("12:00:00"));

    EXPECT_EQ(members.rowCount(), 2);
    EXPECT_EQ(members.text(1, MemberList::UserName), QStringLiteral("太郎"));
    EXPECT_EQ(members.text(1, MemberList::Desk), QStringLiteral("不在"));
    EXPECT_EQ(members.text(1, MemberList::HostName), QStringLiteral("pc99"));
    EXPECT_EQ(members.text(1, MemberList::Address), QStringLiteral("192.168.0.5"));
    EXPECT_EQ(members.text(1, MemberList::StartTime), QStringLiteral("12:00:00"));
    EXPECT_EQ(members.text(1, MemberList::Information), QStringLiteral("V1.2.9"));
    EXPECT_TRUE(members.isTicked(1));
    EXPECT_TRUE(isSelected(1));
    EXPECT_EQ(members.text(0, MemberList::UserName), QStringLiteral("hanako"));
    EXPECT_EQ(added, 0);
}

TEST_F(MemberListTest, OnlyDeskFlagOneShowsAway)
{
    add(QStringLiteral("a"), QStringLiteral("10.0.0.1"), QStringLiteral("pc"), QStringLiteral("1"));
    add(QStringLiteral("b"), QStringLiteral("10.0.0.2"), QStringLiteral("pc"), QStringLiteral("0"));
    add(QStringLiteral("c"), QStringLiteral("10.0.0.3"), QStringLiteral("pc"), QStringLiteral("x"));
    add(QStringLiteral("d"), QStringLiteral("10.0.0.4"), QStringLiteral("pc"), QString());

    EXPECT_EQ(column(MemberList::Desk), QStringList({"不在", "", "", ""}));

    add(QStringLiteral("a"), QStringLiteral("10.0.0.1"), QStringLiteral("pc"), QStringLiteral("0"));
    add(QStringLiteral("b"), QStringLiteral("10.0.0.2"), QStringLiteral("pc"), QStringLiteral("1"));
    EXPECT_EQ(column(MemberList::Desk), QStringList({"", "不在", "", ""}));
}

TEST_F(MemberListTest, AddressesAreComparedAsExactText)
{
    add(QStringLiteral("one"), QStringLiteral("192.168.0.1"));
    add(QStringLiteral("two"), QStringLiteral("192.168.000.001"));
    add(QStringLiteral("three"), QStringLiteral("192.168.0.1 "));

    EXPECT_EQ(members.rowCount(), 3);
    EXPECT_EQ(added, 3);
    EXPECT_EQ(members.addresses(), QStringList({"192.168.0.1", "192.168.000.001", "192.168.0.1 "}));

    EXPECT_TRUE(members.RemoveMember(QStringLiteral("192.168.000.001")));
    EXPECT_EQ(column(MemberList::UserName), QStringList({"one", "three"}));
    EXPECT_FALSE(members.contains(QStringLiteral("192.168.000.001")));
    EXPECT_TRUE(members.contains(QStringLiteral("192.168.0.1")));
}

TEST_F(MemberListTest, UnknownAddressesChangeNothing)
{
    add(QStringLiteral("taro"), QStringLiteral("192.168.0.5"));

    EXPECT_FALSE(members.RemoveMember(QStringLiteral("192.168.0.6")));
    members.SetMemberInformation(QStringLiteral("192.168.0.6"), QStringLiteral("V9"));

    EXPECT_EQ(members.rowCount(), 1);
    EXPECT_EQ(members.text(0, MemberList::Information), QString());
    EXPECT_FALSE(members.contains(QStringLiteral("192.168.0.6")));
    EXPECT_FALSE(members.contains(QString()));
}

TEST_F(MemberListTest, DisplayNameFallsBackToTheHostName)
{
    add(QStringLiteral("taro"), QStringLiteral("10.0.0.1"), QStringLiteral("pc01"));
    add(QString(), QStringLiteral("10.0.0.2"), QStringLiteral("pc02"));

    EXPECT_EQ(members.displayName(0), QStringLiteral("taro"));
    EXPECT_EQ(members.displayName(1), QStringLiteral("pc02"));
    EXPECT_EQ(members.text(1, MemberList::UserName), QString());

    EXPECT_FALSE(members.selectedDisplayName().has_value());
    members.topLevelItem(1)->setSelected(true);
    EXPECT_EQ(members.selectedDisplayName(), QStringLiteral("pc02"));
}

TEST_F(MemberListTest, ARowLeavingByAnyPathTakesItsAddressAlong)
{
    add(QStringLiteral("a"), QStringLiteral("10.0.0.1"));
    add(QStringLiteral("b"), QStringLiteral("10.0.0.2"));
    add(QStringLiteral("c"), QStringLiteral("10.0.0.3"));
    members.lvMember_ColumnClick(MemberList::UserName); // descending: c, b, a

    EXPECT_TRUE(members.RemoveMember(QStringLiteral("10.0.0.2")));
    delete members.takeTopLevelItem(0); // c
    EXPECT_FALSE(members.contains(QStringLiteral("10.0.0.2")));
    EXPECT_FALSE(members.contains(QStringLiteral("10.0.0.3")));
    members.SetMemberInformation(QStringLiteral("10.0.0.1"), QStringLiteral("V1"));
    EXPECT_EQ(column(MemberList::Information), QStringList({QStringLiteral("V1")}));

    members.clear();
    add(QStringLiteral("a2"), QStringLiteral("10.0.0.1"));
    add(QStringLiteral("c2"), QStringLiteral("10.0.0.3"));
    add(QStringLiteral("c3"), QStringLiteral("10.0.0.3"));
    EXPECT_EQ(column(MemberList::UserName), QStringList({QStringLiteral("a2"), QStringLiteral("c3")}));
    EXPECT_EQ(added, 5);
}

// --- The columns ---

TEST_F(MemberListTest, HeadersNameTheSixColumnsAndCentreTheStartTime)
{
    const QTreeWidgetItem *header = members.headerItem();
    ASSERT_EQ(members.columnCount(), 6);
    EXPECT_EQ(header->text(0), QStringLiteral("User Name"));
    EXPECT_EQ(header->text(1), QStringLiteral("Desk"));
    EXPECT_EQ(header->text(2), QStringLiteral("Host Name"));
    EXPECT_EQ(header->text(3), QStringLiteral("Address"));
    EXPECT_EQ(header->text(4), QStringLiteral("Start Time"));
    EXPECT_EQ(header->text(5), QStringLiteral("Information"));

    add(QStringLiteral("taro"), QStringLiteral("10.0.0.1"));
    const QTreeWidgetItem *row = members.topLevelItem(0);
    for (int column = 0; column < MemberList::ColumnCount; ++column) {
        const bool centred = column == MemberList::StartTime;
        EXPECT_EQ(bool(header->textAlignment(column) & Qt::AlignHCenter), centred) << column;
        EXPECT_EQ(bool(row->textAlignment(column) & Qt::AlignHCenter), centred) << column;
    }
    EXPECT_EQ(members.objectName(), QStringLiteral("lvMember"));
    EXPECT_EQ(members.toolTip(), QStringLiteral("参加メンバー一覧"));
}

// --- Sorting by a clicked column ---

TEST_F(MemberListTest, EachColumnClickFlipsTheOneSortOrder)
{
    add(QStringLiteral("b"), QStringLiteral("192.168.0.10"));
    add(QStringLiteral("c"), QStringLiteral("192.168.0.9"));
    add(QStringLiteral("a"), QStringLiteral("192.168.0.2"));

    members.lvMember_ColumnClick(MemberList::Address);
    const QStringList first = members.addresses();
    const Qt::SortOrder firstOrder = members.sortOrder();
    members.lvMember_ColumnClick(MemberList::Address);
    const QStringList second = members.addresses();

    EXPECT_NE(members.sortOrder(), firstOrder);
    // Text order: "192.168.0.10" comes before "192.168.0.2".
    const QStringList ascending = {"192.168.0.10", "192.168.0.2", "192.168.0.9"};
    const QStringList descending = {"192.168.0.9", "192.168.0.2", "192.168.0.10"};
    EXPECT_EQ(first, firstOrder == Qt::AscendingOrder ? ascending : descending);
    EXPECT_EQ(second, firstOrder == Qt::AscendingOrder ? descending : ascending);

    const Qt::SortOrder before = members.sortOrder();
    members.header()->sectionClicked(MemberList::UserName);
    EXPECT_NE(members.sortOrder(), before);
    EXPECT_EQ(column(MemberList::UserName),
              members.sortOrder() == Qt::AscendingOrder ? QStringList({"a", "b", "c"})
                                                        : QStringList({"c", "b", "a"}));
    EXPECT_EQ(members.header()->sortIndicatorSection(), int(MemberList::UserName));
}

TEST_F(MemberListTest, SortingMovesWholeRows)
{
    add(QStringLiteral("b"), QStringLiteral("10.0.0.2"), QStringLiteral("host-b"));
    add(QStringLiteral("a"), QStringLiteral("10.0.0.1"), QStringLiteral("host-a"));
    members.SetMemberInformation(QStringLiteral("10.0.0.2"), QStringLiteral("V1"));
    members.setTicked(0, true);

    members.lvMember_ColumnClick(MemberList::UserName);
    members.lvMember_ColumnClick(MemberList::UserName);
    const int rowOfB = members.text(0, MemberList::UserName) == QLatin1String("b") ? 0 : 1;

    EXPECT_EQ(members.text(rowOfB, MemberList::HostName), QStringLiteral("host-b"));
    EXPECT_EQ(members.text(rowOfB, MemberList::Address), QStringLiteral("10.0.0.2"));
    EXPECT_EQ(members.text(rowOfB, MemberList::Information), QStringLiteral("V1"));
    EXPECT_TRUE(members.isTicked(rowOfB));
    EXPECT_FALSE(members.isTicked(1 - rowOfB));
}

// --- Ticks and selection ---

TEST_F(MemberListTest, TickingOrClickingARowSelectsIt)
{
    add(QStringLiteral("a"), QStringLiteral("10.0.0.1"));
    add(QStringLiteral("b"), QStringLiteral("10.0.0.2"));

    members.setTicked(1, true);
    EXPECT_TRUE(members.isTicked(1));
    EXPECT_TRUE(isSelected(1));
    EXPECT_FALSE(isSelected(0));

    members.topLevelItem(0)->setCheckState(MemberList::UserName, Qt::Checked); // the user's tick
    EXPECT_TRUE(isSelected(0));
    EXPECT_TRUE(members.isTicked(1));

    members.itemClicked(members.topLevelItem(1), MemberList::HostName);
    EXPECT_TRUE(isSelected(1));

    members.setTicked(1, false);
    EXPECT_FALSE(members.isTicked(1));
}

TEST_F(MemberListTest, OneRowIsSelectedAtATimeAndItNamesTheDoubleClick)
{
    add(QStringLiteral("a"), QStringLiteral("10.0.0.1"));
    add(QStringLiteral("b"), QStringLiteral("10.0.0.2"));
    add(QStringLiteral("c"), QStringLiteral("10.0.0.3"));

    members.setTicked(2, true);
    members.setTicked(0, true);
    EXPECT_EQ(members.selectedItems().size(), 1);
    EXPECT_TRUE(isSelected(0));
    EXPECT_EQ(members.selectedDisplayName(), QStringLiteral("a"));

    members.itemClicked(members.topLevelItem(1), MemberList::Address);
    EXPECT_EQ(members.selectedItems().size(), 1);
    EXPECT_EQ(members.selectedDisplayName(), QStringLiteral("b"));

    members.setTicked(2, false); // unticking is a click on the box as well
    EXPECT_EQ(members.selectedDisplayName(), QStringLiteral("c"));
    EXPECT_TRUE(members.isTicked(0));
}

TEST_F(MemberListTest, DeselectUnticksEveryRowAndKeepsTheSelection)
{
    members.comFree_Click(); // no rows: nothing to do
    EXPECT_EQ(members.rowCount(), 0);

    add(QStringLiteral("a"), QStringLiteral("10.0.0.1"));
    add(QStringLiteral("b"), QStringLiteral("10.0.0.2"));
    add(QStringLiteral("c"), QStringLiteral("10.0.0.3"));
    members.setTicked(0, true);
    members.setTicked(2, true);
    members.itemClicked(members.topLevelItem(1), MemberList::UserName);
    ASSERT_TRUE(isSelected(1));

    members.comFree_Click();

    EXPECT_FALSE(members.isTicked(0));
    EXPECT_FALSE(members.isTicked(1));
    EXPECT_FALSE(members.isTicked(2));
    EXPECT_TRUE(isSelected(1));
    EXPECT_FALSE(isSelected(0));
    EXPECT_FALSE(isSelected(2));
    EXPECT_EQ(column(MemberList::UserName), QStringList({"a", "b", "c"}));

    members.setTicked(0, true); // ticks still select afterwards
    EXPECT_TRUE(isSelected(0));
}

// --- Positions that no longer exist ---

TEST_F(MemberListTest, VanishedPositionsReadAsEmpty)
{
    add(QStringLiteral("a"), QStringLiteral("10.0.0.1"), QStringLiteral("pc-a"));
    add(QStringLiteral("b"), QStringLiteral("10.0.0.2"), QStringLiteral("pc-b"));
    members.setTicked(1, true);
    const int rows = members.rowCount();
    members.RemoveMember(QStringLiteral("10.0.0.2"));

    EXPECT_TRUE(members.hasRow(0));
    EXPECT_FALSE(members.hasRow(rows - 1));
    EXPECT_FALSE(members.hasRow(-1));
    EXPECT_EQ(members.text(rows - 1, MemberList::Address), QString());
    EXPECT_EQ(members.text(-1, MemberList::UserName), QString());
    EXPECT_EQ(members.displayName(rows - 1), QString());
    EXPECT_FALSE(members.isTicked(rows - 1));
    members.setTicked(rows - 1, true);
    EXPECT_EQ(members.rowCount(), 1);
    EXPECT_EQ(members.addresses(), QStringList({"10.0.0.1"}));
}

// --- Double-click: the selected member's name goes into the compose box ---

class DoubleClickTest : public ::testing::Test
{
protected:
    DoubleClickTest()
    {
        MainWindowOptions options;
        options.iniPath = dir.path() + QStringLiteral("/Vorlan.ini");
        window = std::make_unique<MainWindow>(options);
        window->settings().Honorific = QStringLiteral("さん");
        list().UpdateMember(QStringLiteral("0"), QStringLiteral("hanako"), QStringLiteral("pc02"),
                            QStringLiteral("192.168.0.7"), QStringLiteral("08:30:00"));
        list().UpdateMember(QStringLiteral("0"), QString(), QStringLiteral("pc09"),
                            QStringLiteral("192.168.0.19"), QStringLiteral("07:00:00"));
    }

    MemberList &list() { return *window->lvMember(); }
    QPlainTextEdit &box() { return *window->txtSend(); }

    void setCaret(int position)
    {
        QTextCursor cursor = box().textCursor();
        cursor.setPosition(position);
        box().setTextCursor(cursor);
    }

    QTemporaryDir dir;
    std::unique_ptr<MainWindow> window;
};

TEST_F(DoubleClickTest, InsertsTheNameAndHonorificAtTheCaret)
{
    box().setPlainText(QStringLiteral("こんにちは、よろしく"));
    setCaret(6);
    list().topLevelItem(0)->setSelected(true);

    window->lvMember_DblClick();

    EXPECT_EQ(box().toPlainText(), QStringLiteral("こんにちは、hanakoさんよろしく"));
    EXPECT_EQ(box().textCursor().position(), 6 + 8);

    window->lvMember_DblClick(); // typing goes on after the inserted name
    EXPECT_EQ(box().toPlainText(), QStringLiteral("こんにちは、hanakoさんhanakoさんよろしく"));
    EXPECT_EQ(box().textCursor().position(), 6 + 16);
}

TEST_F(DoubleClickTest, MemberWithoutUserNameIsNamedByItsHost)
{
    box().setPlainText(QStringLiteral("ab"));
    setCaret(0);
    list().topLevelItem(1)->setSelected(true);

    window->lvMember_DblClick();

    EXPECT_EQ(box().toPlainText(), QStringLiteral("pc09さんab"));
    EXPECT_EQ(box().textCursor().position(), 6);
}

TEST_F(DoubleClickTest, NothingSelectedLeavesTheTextAlone)
{
    box().setPlainText(QStringLiteral("ab"));
    setCaret(1);
    list().topLevelItem(0)->setSelected(false);
    list().topLevelItem(1)->setSelected(false);

    window->lvMember_DblClick();

    EXPECT_EQ(box().toPlainText(), QStringLiteral("ab"));
    EXPECT_EQ(box().textCursor().position(), 1);
}

} // namespace
