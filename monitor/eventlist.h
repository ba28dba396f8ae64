#pragma once

#include <QStringList>

#include <functional>

namespace hexline {

// One display list: unsorted strings, newest at index 0. It keeps a summary of what changed since
// a view last looked, so that a view catches up once per frame in one batch, whatever the number
// of lines in between; tests drive it without any view.
class EventList {
public:
    // A run of rows that the view holds, numbered as the view numbers them.
    struct Run {
        int first = 0;
        int count = 0;
    };
    // Since the last takeChanges: the runs of rows removed from what the view holds (in order,
    // apart), then rows inserted at the top. After clear, removals in too many places, or the
    // removal of every row the view holds (a flood), the view reloads instead: an empty view in
    // between would hide its scroll bar and show it again.
    struct Changes {
        bool reload = false;
        QList<Run> removed;
        int inserted = 0; // now entries 0 .. inserted - 1
    };

    void insertTop(const QString& entry);
    int count() const { return int(entries_.size()); }
    const QString& entryAt(int index) const; // index 0 .. count() - 1
    void removeAt(int index);
    void clear();
    const QStringList& entries() const { return entries_; }

    bool hasChanges() const { return changed_; }
    Changes takeChanges();
    // Called at the first change after takeChanges, not at every change.
    void setChangeListener(std::function<void()> listener) { listener_ = std::move(listener); }

private:
    void noteChange();

    QStringList entries_;
    Changes changes_;
    int held_ = 0; // rows the view holds that are still in the list
    bool changed_ = false;
    std::function<void()> listener_;
};

} // namespace hexline
