#include "eventlist.h"

namespace hexline {

EventList::EventList(QObject* parent) : QAbstractListModel(parent) {}

void EventList::insertTop(const QString& entry)
{
    beginInsertRows({}, 0, 0);
    entries_.prepend(entry);
    endInsertRows();
}

const QString& EventList::entryAt(int index) const
{
    return entries_.at(index);
}

void EventList::removeAt(int index)
{
    beginRemoveRows({}, index, index);
    entries_.removeAt(index);
    endRemoveRows();
}

void EventList::clear()
{
    if (entries_.isEmpty())
        return;
    beginResetModel();
    entries_.clear();
    endResetModel();
}

int EventList::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant EventList::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= count())
        return {};
    return entries_.at(index.row());
}

} // namespace hexline
