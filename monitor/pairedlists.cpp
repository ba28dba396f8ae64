#include "pairedlists.h"

#include "eventlist.h"

namespace hexline {

void insertTrimmed(EventList& list, const QString& entry)
{
    list.insertTop(entry);
    if (list.count() > PairedLists::kTrimThreshold)
        list.removeAt(PairedLists::kTrimThreshold);
}

void PairedLists::insertTrimmed(const QString& textEntry, const QString& valueEntry)
{
    hexline::insertTrimmed(text, textEntry);
    hexline::insertTrimmed(values, valueEntry);
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
