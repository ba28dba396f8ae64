#include "monitor/pairedlists.h"

#include "monitor/eventlist.h"

namespace hexline {

namespace {

// The trimming rule on one list.
void insertTrimmedInto(EventList& list, const QString& entry)
{
    list.insertTop(entry);
    if (list.count() > PairedLists::kTrimThreshold)
        list.removeAt(PairedLists::kTrimThreshold);
}

} // namespace

void PairedLists::insertTrimmed(const QString& textEntry, const QString& valueEntry)
{
    insertTrimmedInto(text, textEntry);
    insertTrimmedInto(values, valueEntry);
}

void PairedLists::insertPlain(const QString& entry)
{
    text.insertTop(entry);
    values.insertTop(entry);
}

void PairedLists::clear()
{
    text.clear();
    values.clear();
}

} // namespace hexline
