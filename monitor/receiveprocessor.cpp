#include "monitor/receiveprocessor.h"

#include "monitor/livetails.h"
#include "text/visibletext.h"

#include <QElapsedTimer>

#include <algorithm>
#include <array>

namespace hexline {

namespace {

constexpr std::array<qint8, 128> makeHexTable()
{
    std::array<qint8, 128> table{};
    for (auto& v : table)
        v = -1;
    for (int i = 0; i < 10; ++i)
        table['0' + i] = qint8(i);
    for (int i = 0; i < 6; ++i) {
        table['A' + i] = qint8(10 + i);
        table['a' + i] = qint8(10 + i);
    }
    return table;
}

constexpr std::array<qint8, 128> kHex = makeHexTable();

constexpr QStringView kBreakMarker = u"-break- ";

bool isHighSurrogate(char16_t c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}
bool isLowSurrogate(char16_t c)
{
    return c >= 0xDC00 && c <= 0xDFFF;
}

// What the labels and the lists get of a line: prefix and line in one exactly sized copy (an entry
// is stored for good; the working line keeps its buffer), with every surrogate that has lost its
// partner - cut off by a forced break or by the tail - shown as the replacement character, and
// both halves of a pair that would draw nothing or reorder the line too.
QString shownCopy(QStringView prefix, QStringView line)
{
    QString out(prefix.size() + line.size(), Qt::Uninitialized);
    char16_t* d = reinterpret_cast<char16_t*>(out.data());
    for (QChar c : prefix)
        *d++ = c.unicode();
    const qsizetype n = line.size();
    for (qsizetype i = 0; i < n; ++i) {
        char16_t c = line[i].unicode();
        if (isHighSurrogate(c) && i + 1 < n && isLowSurrogate(line[i + 1].unicode())) {
            const char16_t low = line[++i].unicode();
            const bool shown = showsAsItself(QChar::surrogateToUcs4(c, low));
            *d++ = shown ? c : 0xFFFD;
            *d++ = shown ? low : 0xFFFD;
            continue;
        }
        if (isHighSurrogate(c) || isLowSurrogate(c)) // a whole pair was taken above
            c = 0xFFFD;
        *d++ = c;
    }
    return out;
}

// A value line holds only digits, "?" and blanks: an exactly sized copy needs no other care.
QString valuesCopy(QStringView prefix, QStringView line)
{
    QString out(prefix.size() + line.size(), Qt::Uninitialized);
    char16_t* d = reinterpret_cast<char16_t*>(out.data());
    std::copy(prefix.utf16(), prefix.utf16() + prefix.size(), d);
    std::copy(line.utf16(), line.utf16() + line.size(), d + prefix.size());
    return out;
}

// The value of c as one hexadecimal digit, or -1 when it is none.
int hexDigitValue(char16_t c)
{
    return c < 128 ? kHex[c] : -1;
}

} // namespace

ReceiveProcessor::ReceiveProcessor(PairedLists lists, LiveTails& tails)
    : lists_(lists), tails_(tails)
{
}

void ReceiveProcessor::startLines()
{
    textSize_ = valuesSize_ = 0;
    // The labels let go of the dropped piece with it, as blank as at start.
    captionFromEnded_ = false;
    captionDirty_ = false;
    tails_.showTails(QString(), QString(), false);
}

void ReceiveProcessor::process(const QVariant& received, qint16 termValue)
{
    if (received.typeId() == QMetaType::QByteArray)
        process(received.toByteArray(), termValue);
    else
        process(QStringView(received.toString()), termValue);
}

void ReceiveProcessor::process(QStringView received, qint16 termValue)
{
    walk(
        received.size(), [received](qsizetype i) { return received[i].unicode(); }, termValue);
}

void ReceiveProcessor::process(const QByteArray& received, qint16 termValue)
{
    // An odd last byte belongs to no character; the serial component never hands one over.
    const auto* bytes = reinterpret_cast<const uchar*>(received.constData());
    walk(
        received.size() / 2,
        [bytes](qsizetype i) { return char16_t(bytes[2 * i] | (bytes[2 * i + 1] << 8)); },
        termValue);
}

template <typename CharAt>
void ReceiveProcessor::walk(qsizetype n, const CharAt& charAt, qint16 termValue)
{
    captionDirty_ = false;
    processed_ += n;

    // A long walk keeps the labels live, a frame's length apart. Reading the clock costs more
    // than a character, so it is read once per batch.
    constexpr int kClockBatch = 1024;
    int untilClock = kClockBatch;
    QElapsedTimer sinceShown;
    sinceShown.start();

    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = charAt(i);
        const int digit = hexDigitValue(c);
        if (digit >= 0 && digit == termValue)
            endLine(shownCopy({}, lineText()), valuesCopy({}, lineValues()));
        else
            append(visibleCharacter(c), digit);
        if (textSize_ > kBreakLength)
            endLine(shownCopy(kBreakMarker, lineText()), valuesCopy(kBreakMarker, lineValues()));

        if (--untilClock == 0) {
            untilClock = kClockBatch;
            if (captionDirty_ && sinceShown.elapsed() >= LiveTails::kFrameMs) {
                showTails(true);
                sinceShown.start();
            }
        }
    }
    // The line left open goes on with the next event; the labels show its tail before the handler
    // returns.
    if (captionDirty_)
        showTails(false);
}

void ReceiveProcessor::append(char16_t visible, int digit)
{
    text_[textSize_++] = visible;
    char16_t* v = values_.data() + valuesSize_;
    if (digit < 0) {
        *v++ = u'?';
    } else {
        if (digit >= 10)
            *v++ = u'1';
        *v++ = char16_t(u'0' + digit % 10);
    }
    *v++ = u' ';
    valuesSize_ = v - values_.data();
    captionDirty_ = true;
    captionFromEnded_ = false;
}

void ReceiveProcessor::endLine(QString textEntry, QString valueEntry)
{
    lists_.insertTrimmed(textEntry, valueEntry);
    ++lines_;
    if (captionDirty_ && !captionFromEnded_) {
        // The labels still owe a repaint of this line's tail; the entries hold it.
        endedText_ = std::move(textEntry);
        endedValues_ = std::move(valueEntry);
        captionFromEnded_ = true;
    }
    textSize_ = valuesSize_ = 0;
}

void ReceiveProcessor::showTails(bool walking)
{
    const QStringView text = captionFromEnded_ ? QStringView(endedText_) : lineText();
    const QStringView values = captionFromEnded_ ? QStringView(endedValues_) : lineValues();
    tails_.showTails(shownCopy({}, text.right(kTextTail)), values.right(kValueTail).toString(),
                     walking);
    captionDirty_ = false;
}

} // namespace hexline
