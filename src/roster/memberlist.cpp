#include "roster/memberlist.h"

#include "protocol/message.h"

#include <QHeaderView>
#include <QScopedValueRollback>

namespace vorlan {

namespace {

constexpr int TickRole = Qt::UserRole + 1; // the check state last seen, to tell ticks from edits

QString deskText(const QString &deskFlag)
{
    return deskFlag == QLatin1String("1") ? QStringLiteral("不在") : QString();
}

// A roster row that holds its address's entry in the list's index for as long as it exists.
class MemberRow final : public QTreeWidgetItem
{
public:
    MemberRow(QHash<QString, QTreeWidgetItem *> &index, const QString &address)
        : m_index(index), m_address(address)
    {
        m_index.insert(m_address, this);
    }
    ~MemberRow() override
    {
        const auto entry = m_index.constFind(m_address);
        if (entry != m_index.cend() && entry.value() == this)
            m_index.erase(entry);
    }
    MemberRow(const MemberRow &) = delete;
    MemberRow &operator=(const MemberRow &) = delete;

private:
    QHash<QString, QTreeWidgetItem *> &m_index;
    QString m_address;
};

} // namespace

MemberList::MemberList(QWidget *parent)
    : QTreeWidget(parent)
{
    setObjectName(QStringLiteral("lvMember"));
    setToolTip(QStringLiteral("参加メンバー一覧"));
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setColumnCount(ColumnCount);
    setHeaderLabels({QStringLiteral("User Name"), QStringLiteral("Desk"), QStringLiteral("Host Name"),
                     QStringLiteral("Address"), QStringLiteral("Start Time"),
                     QStringLiteral("Information")});
    headerItem()->setTextAlignment(StartTime, Qt::AlignCenter);
    header()->setSectionsClickable(true);
    header()->setStretchLastSection(false);
    connect(header(), &QHeaderView::sectionClicked, this, &MemberList::lvMember_ColumnClick);
    connect(this, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem *item) { selectRow(item); });
    connect(this, &QTreeWidget::itemChanged, this, &MemberList::lvMember_ItemChanged);
}

MemberList::~MemberList()
{
    // The rows go while the index they update still exists.
    clear();
}

void MemberList::lvMember_ItemChanged(QTreeWidgetItem *item, int column)
{
    if (column != UserName)
        return;
    const int state = item->checkState(UserName);
    if (item->data(UserName, TickRole).toInt() == state)
        return;
    item->setData(UserName, TickRole, state);
    if (!m_unticking)
        selectRow(item); // ticking a row also selects it
}

void MemberList::selectRow(QTreeWidgetItem *item)
{
    // One member is selected at a time; the double-click names the selected one.
    setCurrentItem(item, UserName, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void MemberList::UpdateMember(const QString &deskFlag, const QString &userName,
                              const QString &hostName, const QString &address,
                              const QString &startTime)
{
    if (QTreeWidgetItem *row = findRow(address)) {
        row->setText(UserName, userName);
        row->setText(Desk, deskText(deskFlag));
        row->setText(HostName, hostName);
        row->setText(StartTime, startTime);
        return;
    }

    auto *row = new MemberRow(m_rowOfAddress, address);
    row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    row->setText(UserName, userName);
    row->setText(Desk, deskText(deskFlag));
    row->setText(HostName, hostName);
    row->setText(Address, address);
    row->setText(StartTime, startTime);
    row->setTextAlignment(StartTime, Qt::AlignCenter);
    row->setData(UserName, TickRole, Qt::Unchecked);
    row->setCheckState(UserName, Qt::Unchecked);
    addTopLevelItem(row);
    emit memberAdded();
}

QTreeWidgetItem *MemberList::findRow(const QString &address) const
{
    QTreeWidgetItem *row = m_rowOfAddress.value(address);
    // A row taken out of the list without being deleted no longer counts.
    return row && row->treeWidget() == this ? row : nullptr;
}

bool MemberList::RemoveMember(const QString &address)
{
    QTreeWidgetItem *row = findRow(address);
    delete row;
    return row != nullptr;
}

void MemberList::SetMemberInformation(const QString &address, const QString &text)
{
    if (QTreeWidgetItem *row = findRow(address))
        row->setText(Information, text);
}

bool MemberList::contains(const QString &address) const
{
    return findRow(address) != nullptr;
}

QString MemberList::text(int row, Column column) const
{
    return hasRow(row) ? topLevelItem(row)->text(column) : QString();
}

QString MemberList::displayName(int row) const
{
    return vorlan::displayName(text(row, UserName), text(row, HostName));
}

bool MemberList::isTicked(int row) const
{
    return hasRow(row) && topLevelItem(row)->checkState(UserName) == Qt::Checked;
}

void MemberList::setTicked(int row, bool ticked)
{
    if (hasRow(row))
        topLevelItem(row)->setCheckState(UserName, ticked ? Qt::Checked : Qt::Unchecked);
}

QStringList MemberList::addresses() const
{
    QStringList result;
    const int rows = rowCount();
    result.reserve(rows);
    for (int i = 0; i < rows; ++i)
        result.append(topLevelItem(i)->text(Address));
    return result;
}

std::optional<QString> MemberList::selectedDisplayName() const
{
    const QList<QTreeWidgetItem *> selected = selectedItems();
    if (selected.isEmpty())
        return std::nullopt;
    return vorlan::displayName(selected.first()->text(UserName), selected.first()->text(HostName));
}

void MemberList::lvMember_ColumnClick(int column)
{
    m_sortOrder = m_sortOrder == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    header()->setSortIndicatorShown(true);
    header()->setSortIndicator(column, m_sortOrder);
    sortItems(column, m_sortOrder);
}

void MemberList::comFree_Click()
{
    // Unticking is not a click on the row: keep the selection as it is.
    const QScopedValueRollback unticking(m_unticking, true);
    const int rows = rowCount();
    for (int i = 0; i < rows; ++i)
        topLevelItem(i)->setCheckState(UserName, Qt::Unchecked);
}

} // namespace vorlan
