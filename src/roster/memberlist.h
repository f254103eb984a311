#pragma once

#include <QHash>
#include <QTreeWidget>
#include <optional>

namespace vorlan {

// lvMember: the member roster. The list is the only record of membership; rows are keyed by
// the address text each member reports about itself, compared exactly.
class MemberList : public QTreeWidget
{
    Q_OBJECT

public:
    enum Column { UserName, Desk, HostName, Address, StartTime, Information, ColumnCount };

    explicit MemberList(QWidget *parent = nullptr);
    ~MemberList() override;

    // Adds the row of address, or refreshes user name, desk, host name and start time of every
    // row with that address (information, tick and selection kept).
    void UpdateMember(const QString &deskFlag, const QString &userName, const QString &hostName,
                      const QString &address, const QString &startTime);
    // Removes the first row of address; false when there is none.
    bool RemoveMember(const QString &address);
    void SetMemberInformation(const QString &address, const QString &text);

    bool contains(const QString &address) const;
    int rowCount() const { return topLevelItemCount(); }
    // Row accessors by 0-based position. Loops that let events run between sends read the count
    // once and must skip positions that no longer exist: these return empty / false for them.
    bool hasRow(int row) const { return row >= 0 && row < rowCount(); }
    QString text(int row, Column column) const;
    QString displayName(int row) const;
    bool isTicked(int row) const;
    void setTicked(int row, bool ticked);
    QStringList addresses() const;
    // The display names of the ticked rows in display order, but for the row of address except:
    // whom a line goes to. Empty: it goes to everybody.
    QStringList tickedNames(const QString &except) const;

    // The display name of the selected row; empty when nothing is selected.
    std::optional<QString> selectedDisplayName() const;

    // Sorts by the column, flipping the one sort order of the whole list.
    void lvMember_ColumnClick(int column);
    Qt::SortOrder sortOrder() const { return m_sortOrder; }
    // Unticks every row ("選択解除").
    void comFree_Click();

signals:
    // A row was added; the caption's member count needs refreshing.
    void memberAdded();

private:
    void lvMember_ItemChanged(QTreeWidgetItem *item, int column);
    void selectRow(QTreeWidgetItem *item);
    QTreeWidgetItem *findRow(const QString &address) const;

    // An index from address to its first row in display order, so a received message does not
    // walk the whole list. It follows every change of the list, whoever makes it: additions and
    // removals are applied as they happen; anything that may change which row comes first (a
    // sort, a reset, an address edited, a second row for one address) only marks it stale, and
    // the next look-up rebuilds it.
    struct IndexEntry
    {
        QTreeWidgetItem *first = nullptr;
        int rows = 0;
    };
    void watchModel();
    void indexRowsInserted(int first, int last);
    void indexRowsAboutToBeRemoved(int first, int last);
    const IndexEntry *indexEntry(const QString &address) const;

    mutable QHash<QString, IndexEntry> m_index;
    mutable bool m_indexValid = true;

    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    bool m_unticking = false; // comFree_Click at work: ticks change, the selection does not
};

} // namespace vorlan
