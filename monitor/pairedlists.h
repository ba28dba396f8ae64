#pragma once

#include <QString>

namespace hexline {

class EventList;

// The text list and the value list, written as a pair: every writer inserts into the text list
// first and then into the value list, so entry i of one belongs to entry i of the other.
struct PairedLists {
    // A list that grows past this many entries by a trimmed insertion loses its entry at this
    // index (not its oldest one).
    static constexpr int kTrimThreshold = 500;

    EventList& text;
    EventList& values;

    // For received lines: insert, then drop the entry at index 500 if the list is over 500.
    void insertTrimmed(const QString& textEntry, const QString& valueEntry);
    // For status entries: the same text into both lists, nothing removed.
    void insertPlain(const QString& entry);
    void clear();
};

} // namespace hexline
