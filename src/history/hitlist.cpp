#include "history/hitlist.h"

#include <QApplication>
#include <QPainter>
#include <QTextLayout>

namespace vorlan {

void HitModel::clear()
{
    beginResetModel();
    m_hits.clear();
    endResetModel();
}

void HitModel::append(const QList<SearchHit> &hits)
{
    if (hits.isEmpty())
        return;
    const int first = int(m_hits.size());
    beginInsertRows({}, first, first + int(hits.size()) - 1);
    m_hits.insert(m_hits.end(), hits.begin(), hits.end());
    endInsertRows();
}

int HitModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_hits.size());
}

int HitModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant HitModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const SearchHit &found = hit(index.row());
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case Day: return found.day.toString(QStringLiteral("yyyy/MM/dd"));
        case Time: return found.time;
        case Name: return found.name;
        case Line: return QString(found.line).replace(u'\t', u' ');
        default: return {};
        }
    }
    if (role == MatchStartRole)
        return found.matchStart;
    if (role == MatchLengthRole)
        return found.matchLength;
    return {};
}

QVariant HitModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case Day: return QStringLiteral("日付");
    case Time: return QStringLiteral("時刻");
    case Name: return QStringLiteral("名前");
    case Line: return QStringLiteral("行");
    default: return {};
    }
}

void MatchDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    if (index.column() != HitModel::Line) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem item(option);
    initStyleOption(&item, index);
    const QString text = item.text;
    item.text.clear();
    const QStyle *style = item.widget ? item.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, item.widget);
    const QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &item, item.widget);

    const int start = index.data(HitModel::MatchStartRole).toInt();
    const int length = index.data(HitModel::MatchLengthRole).toInt();
    QTextLayout layout(text, item.font);
    QTextCharFormat mark;
    mark.setBackground(QColor(255, 225, 80));
    mark.setForeground(QColor(Qt::black));
    layout.setFormats({{start, length, mark}});
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(1e6);
    layout.endLayout();
    const qreal matchX = line.cursorToX(start);
    const qreal shift = matchX > area.width() * 2 / 3 ? matchX - area.width() / 3 : 0;

    painter->save();
    painter->setClipRect(area);
    const bool selected = item.state & QStyle::State_Selected;
    painter->setPen(item.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    layout.draw(painter, QPointF(area.left() - shift, area.top() + (area.height() - line.height()) / 2));
    painter->restore();
}

} // namespace vorlan
