#include "monitor/eventlist.h"

namespace hexline {

namespace {

// The trimming rule removes in one place; status entries add a second. Beyond this many places
// a reload is cheaper than telling the view of each.
constexpr qsizetype kMaxRuns = 8;

} // namespace

void EventList::noteChange()
{
    if (changed_)
        return;
    changed_ = true;
    if (listener_)
        listener_();
}

void EventList::insertTop(const QString& entry)
{
    entries_.prepend(entry);
    ++changes_.inserted;
    noteChange();
}

const QString& EventList::entryAt(int index) const
{
    return entries_.at(index);
}

void EventList::removeAt(int index)
{
    entries_.removeAt(index);
    noteChange();
    Changes& c = changes_;
    if (c.reload)
        return;
    if (index < c.inserted) { // a row the view has not seen yet
        --c.inserted;
        return;
    }
    if (--held_ == 0) {
        c.reload = true;
        c.removed.clear();
        return;
    }
    // Among the rows the view holds that are still here, and then in the view's own numbering.
    int row = index - c.inserted;
    auto next = c.removed.begin();
    for (; next != c.removed.end() && next->first <= row; ++next)
        row += next->count;
    const bool afterPrevious =
        next != c.removed.begin() && (next - 1)->first + (next - 1)->count == row;
    const bool beforeNext = next != c.removed.end() && next->first == row + 1;
    if (afterPrevious && beforeNext) {
        (next - 1)->count += 1 + next->count;
        c.removed.erase(next);
    } else if (afterPrevious) {
        ++(next - 1)->count;
    } else if (beforeNext) {
        --next->first;
        ++next->count;
    } else if (c.removed.size() < kMaxRuns) {
        c.removed.insert(next, Run{row, 1});
    } else {
        c.reload = true;
        c.removed.clear();
    }
}

void EventList::clear()
{
    if (entries_.isEmpty() && !changed_)
        return;
    entries_.clear();
    changes_.reload = true;
    changes_.removed.clear();
    noteChange();
}

EventList::Changes EventList::takeChanges()
{
    const Changes c = changes_;
    changes_ = {};
    held_ = count();
    changed_ = false;
    return c;
}

} // namespace hexline
