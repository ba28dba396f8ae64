// Receive processing fed arbitrary bytes in either input mode, with any termination value and
// any split into events. After every event: the lists are in step, every character of an entry or
// caption is its own stand-in (no CR, LF, lone surrogate or character that draws nothing), a list
// at 500 entries or more keeps its count, every character is accounted for, the line still open
// included, and a view that applies each list's batch of changes shows the list.
#include "monitor/eventlist.h"
#include "monitor/livetails.h"
#include "monitor/pairedlists.h"
#include "monitor/receiveprocessor.h"
#include "text/visibletext.h"

#include <QByteArray>

#include <cstdlib>

namespace {

struct Tails : hexline::LiveTails {
    void showTails(const QString& text, const QString& values, bool) override
    {
        if (text.size() > 30 || values.size() > 50 || !QStringView(text).isValidUtf16() ||
            hexline::visibleText(text) != text)
            std::abort();
    }
};

void check(bool ok)
{
    if (!ok)
        std::abort();
}

// Characters that an entry of the value list stands for: one per "v " or "? " token.
qsizetype tokens(const QString& valueEntry)
{
    return valueEntry.count(u' ');
}

// What a view holds: the list as it was, brought up to date by the list's changes. Returns the
// number of entries new since the last call.
int catchUp(QStringList& view, hexline::EventList& list)
{
    const hexline::EventList::Changes c = list.takeChanges();
    check(!c.reload); // receive processing only inserts and trims
    for (auto run = c.removed.crbegin(); run != c.removed.crend(); ++run)
        view.remove(run->first, run->count);
    check(view.size() + c.inserted == list.count());
    view = list.entries().mid(0, c.inserted) + view;
    check(view == list.entries());
    return c.inserted;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    const bool binary = data[0] & 1;
    // Mostly termination values that can end a line, sometimes any 16-bit value.
    const qint16 term = (data[0] & 2) ? qint16(data[1] | (data[2] << 8)) : qint16(data[1] & 15);
    const bool prefill = data[0] & 4; // start from lists at the trimming threshold
    data += 3;
    size -= 3;

    hexline::EventList text, values;
    hexline::PairedLists lists{text, values};
    Tails tails;
    hexline::ReceiveProcessor receiver(lists, tails);
    if (prefill)
        for (int i = 0; i < 500; ++i)
            lists.insertPlain(QString::number(i));

    QStringList textView = text.entries(), valuesView = values.entries();
    text.takeChanges();
    values.takeChanges();
    qsizetype accounted = 0;

    // Events: a length byte, then that many bytes.
    while (size > 0) {
        const size_t n = std::min<size_t>(data[0], size - 1);
        const QByteArray chunk(reinterpret_cast<const char*>(data + 1),
                               qsizetype(binary ? n & ~size_t(1) : n));
        data += n + 1;
        size -= n + 1;

        const int before = text.count();
        const qint64 processedBefore = receiver.charactersProcessed();
        if (binary)
            receiver.process(chunk, term);
        else // text mode: a QString, as the window hands it over
            receiver.process(QVariant(QString::fromLatin1(chunk)), term);

        // An event puts at most 256 lines into a list, so none of its new entries is trimmed yet.
        catchUp(textView, text);
        for (int i = catchUp(valuesView, values) - 1; i >= 0; --i) {
            const QString& v = values.entryAt(i);
            const bool isBreak = v.startsWith(QStringLiteral("-break- "));
            const qsizetype chars = isBreak ? tokens(v) - 1 : tokens(v);
            if (isBreak)
                check(chars == 201);
            accounted += isBreak ? chars : chars + 1; // an ended line also used up its terminator
        }

        const qint64 walked = receiver.charactersProcessed();
        check(walked - processedBefore == (binary ? chunk.size() / 2 : chunk.size()));
        // What no entry took is the line still open, which may span events: at most 200 characters.
        check(accounted <= walked && walked - accounted <= 200);
        check(text.count() == values.count());
        check(before >= 500 ? text.count() == before : text.count() <= 500);
        for (int i = 0; i < text.count(); ++i)
            check(QStringView(text.entryAt(i)).isValidUtf16() &&
                  hexline::visibleText(text.entryAt(i)) == text.entryAt(i) &&
                  !values.entryAt(i).contains(u'\r') && !values.entryAt(i).contains(u'\n'));
    }
    return 0;
}
