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
    // The Information column takes what the others leave of the list's width: at the default
    // size all six show, and a scroll bar appears only when the others need it.
    header()->setStretchLastSection(true);
    connect(header(), &QHeaderView::sectionClicked, this, &MemberList::lvMember_ColumnClick);
    connect(this, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem *item) { selectRow(item); });
    connect(this, &QTreeWidget::itemChanged, this, &MemberList::lvMember_ItemChanged);
    watchModel();
}

// The tree's own destructor empties its model, after this part of the object is gone: the index
// must not hear of it.
MemberList::~MemberList()
{
    disconnect(model(), nullptr, this, nullptr);
}

void MemberList::watchModel()
{
    QAbstractItemModel *rows = model();
    const auto invalidate = [this] { m_indexValid = false; };
    connect(rows, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &parent, int first, int last) {
                if (!parent.isValid())
                    indexRowsInserted(first, last);
            });
    connect(rows, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex &parent, int first, int last) {
                if (!parent.isValid())
                    indexRowsAboutToBeRemoved(first, last);
            });
    connect(rows, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &topLeft, const QModelIndex &bottomRight) {
                if (topLeft.column() <= Address && bottomRight.column() >= Address)
                    m_indexValid = false;
            });
    connect(rows, &QAbstractItemModel::modelReset, this, invalidate);
    connect(rows, &QAbstractItemModel::layoutChanged, this, invalidate);
    connect(rows, &QAbstractItemModel::rowsMoved, this, invalidate);
}

void MemberList::indexRowsInserted(int first, int last)
{
    if (!m_indexValid)
        return;
    for (int i = first; i <= last; ++i) {
        QTreeWidgetItem *row = topLevelItem(i);
        IndexEntry &entry = m_index[row->text(Address)];
        if (entry.rows++ > 0)
            m_indexValid = false; // which of the two comes first is not worth working out here
        else
            entry.first = row;
    }
}

void MemberList::indexRowsAboutToBeRemoved(int first, int last)
{
    if (!m_indexValid)
        return;
    for (int i = first; i <= last; ++i) {
        QTreeWidgetItem *row = topLevelItem(i);
        const auto entry = m_index.find(row->text(Address));
        if (entry == m_index.end()) {
            m_indexValid = false;
            return;
        }
        if (--entry->rows == 0)
            m_index.erase(entry);
        else if (entry->first == row)
            m_indexValid = false;
    }
}

const MemberList::IndexEntry *MemberList::indexEntry(const QString &address) const
{
    if (!m_indexValid) {
        m_index.clear();
        const int rows = rowCount();
        for (int i = 0; i < rows; ++i) {
            IndexEntry &entry = m_index[topLevelItem(i)->text(Address)];
            if (entry.rows++ == 0)
                entry.first = topLevelItem(i);
        }
        m_indexValid = true;
    }
    const auto entry = m_index.constFind(address);
    return entry == m_index.constEnd() ? nullptr : &*entry;
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
    if (const IndexEntry *entry = indexEntry(address)) {
        const auto refresh = [&](QTreeWidgetItem *row) {
            row->setText(UserName, userName);
            row->setText(Desk, deskText(deskFlag));
            row->setText(HostName, hostName);
            row->setText(StartTime, startTime);
        };
        if (entry->rows == 1) {
            refresh(entry->first);
            return;
        }
        const int rows = rowCount();
        for (int i = 0; i < rows; ++i) {
            if (topLevelItem(i)->text(Address) == address)
                refresh(topLevelItem(i));
        }
        return;
    }

    auto *row = new QTreeWidgetItem;
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
    const IndexEntry *entry = indexEntry(address);
    return entry ? entry->first : nullptr;
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

QStringList MemberList::tickedNames(const QString &except) const
{
    QStringList names;
    const int rows = rowCount();
    for (int i = 0; i < rows; ++i) {
        if (isTicked(i) && text(i, Address) != except)
            names.append(displayName(i));
    }
    return names;
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
