#pragma once

#include <QAbstractListModel>
#include <QStringList>

namespace hexline {

// One display list: unsorted strings, newest at index 0. It is the model behind a list view,
// so the window shows it as it changes and tests drive it without any window.
class EventList : public QAbstractListModel {
    Q_OBJECT
public:
    explicit EventList(QObject* parent = nullptr);

    void insertTop(const QString& entry);
    int count() const { return int(entries_.size()); }
    const QString& entryAt(int index) const; // index 0 .. count() - 1
    void removeAt(int index);
    void clear();

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    QStringList entries_;
};

} // namespace hexline
