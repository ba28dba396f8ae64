#pragma once

#include <QAbstractListModel>
#include <QStringList>

namespace hexline {

class EventList;

// Shows an EventList in a list view. The view sees the list as it was at the last sync; sync
// tells it what changed since in one batch: a removal per run of rows gone (one in steady use)
// and one insertion at the top.
class EventListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit EventListModel(EventList& list, QObject* parent = nullptr);

    // False when there was nothing to tell.
    bool sync();

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

Q_SIGNALS:
    // The list changed after the last sync (raised once until the next sync).
    void changed();

private:
    EventList& list_;
    QStringList shown_;
};

} // namespace hexline
