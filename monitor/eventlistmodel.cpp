#include "monitor/eventlistmodel.h"

#include "monitor/eventlist.h"

namespace hexline {

EventListModel::EventListModel(EventList& list, QObject* parent)
    : QAbstractListModel(parent), list_(list), shown_(list.entries())
{
    list_.takeChanges();
    list_.setChangeListener([this] { Q_EMIT changed(); });
}

bool EventListModel::sync()
{
    if (!list_.hasChanges())
        return false;
    const EventList::Changes c = list_.takeChanges();
    if (c.reload) {
        beginResetModel();
        shown_ = list_.entries();
        endResetModel();
        return true;
    }
    // The last run first, so that the rows of the others keep their numbers.
    for (auto run = c.removed.crbegin(); run != c.removed.crend(); ++run) {
        beginRemoveRows({}, run->first, run->first + run->count - 1);
        shown_.remove(run->first, run->count);
        endRemoveRows();
    }
    if (c.inserted > 0) {
        // Row by row, so that the two lists never share their storage: the list's next entry
        // would copy all of it.
        beginInsertRows({}, 0, c.inserted - 1);
        for (int row = c.inserted - 1; row >= 0; --row)
            shown_.prepend(list_.entryAt(row));
        endInsertRows();
    }
    return true;
}

int EventListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(shown_.size());
}

QVariant EventListModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= shown_.size())
        return {};
    return shown_.at(index.row());
}

} // namespace hexline
