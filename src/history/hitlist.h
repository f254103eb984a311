#pragma once

#include "history/logsearch.h"

#include <QAbstractTableModel>
#include <QStyledItemDelegate>

#include <vector>

namespace vorlan {

// The lines a search found, in the order it found them: day, time, name and the line.
class HitModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { Day, Time, Name, Line, ColumnCount };
    enum Role { MatchStartRole = Qt::UserRole + 1, MatchLengthRole };

    using QAbstractTableModel::QAbstractTableModel;

    void clear();
    void append(const QList<SearchHit> &hits);
    const SearchHit &hit(int row) const { return m_hits[size_t(row)]; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<SearchHit> m_hits;
};

// Draws a found line with its match marked, moved left when the match would be out of sight.
class MatchDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

} // namespace vorlan
