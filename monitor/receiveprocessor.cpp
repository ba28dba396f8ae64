#include "receiveprocessor.h"

#include "livetails.h"

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

const QString kBreakMarker = QStringLiteral("-break- ");

// An entry is stored for good, so it gets its own exactly sized copy; the working lines keep
// their buffers for the next line.
QString exactCopy(const QString& line)
{
    return QString(line.constData(), line.size());
}

bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The value of c as one hexadecimal digit, or -1 when it is none.
int hexDigitValue(char16_t c)
{
    return c < 128 ? kHex[c] : -1;
}

// The stand-in that a received character shows as in a line: control characters as their
// visible pictures, C1 controls and unpaired surrogates as the replacement character.
char16_t visibleCharacter(char16_t c, bool pairedSurrogate)
{
    if (c < 0x20)
        return char16_t(0x2400 + c);
    if (c == 0x7F)
        return 0x2421;
    if (c >= 0x80 && c <= 0x9F)
        return 0xFFFD;
    if ((isHighSurrogate(c) || isLowSurrogate(c)) && !pairedSurrogate)
        return 0xFFFD;
    return c;
}

} // namespace

ReceiveProcessor::ReceiveProcessor(PairedLists lists, LiveTails& tails) : lists_(lists), tails_(tails)
{
    lineText_.reserve(kBreakLength + 1);
    lineValues_.reserve(3 * (kBreakLength + 1));
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
    walk(received.size(), [received](qsizetype i) { return received[i].unicode(); }, termValue);
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
    lineText_.resize(0);
    lineValues_.resize(0);
    captionDirty_ = false;
    sinceRepaint_.start();
    processed_ += n;

    // Reading the clock costs more than a character, so it is read once per batch.
    constexpr int kClockBatch = 256;
    int untilClock = kClockBatch;

    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = charAt(i);
        const int digit = hexDigitValue(c);
        if (digit >= 0 && digit == termValue) {
            endLine(exactCopy(lineText_), exactCopy(lineValues_));
        } else {
            bool paired = false;
            if (isHighSurrogate(c))
                paired = i + 1 < n && isLowSurrogate(charAt(i + 1));
            else if (isLowSurrogate(c))
                paired = i > 0 && isHighSurrogate(charAt(i - 1));
            append(visibleCharacter(c, paired), digit);
        }
        if (lineText_.size() > kBreakLength)
            endLine(kBreakMarker + lineText_, kBreakMarker + lineValues_);

        if (--untilClock == 0) {
            untilClock = kClockBatch;
            if (captionDirty_ && sinceRepaint_.elapsed() >= kRepaintIntervalMs)
                showTails();
        }
    }
    // The partial line is dropped, but the labels must show its tail before the handler returns.
    if (captionDirty_)
        showTails();
}

void ReceiveProcessor::append(char16_t visible, int digit)
{
    lineText_ += QChar(visible);
    if (digit < 0) {
        lineValues_ += u"? ";
    } else {
        if (digit >= 10)
            lineValues_ += u'1';
        lineValues_ += QChar(char16_t(u'0' + digit % 10));
        lineValues_ += u' ';
    }
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
    lineText_.resize(0);
    lineValues_.resize(0);
}

void ReceiveProcessor::showTails()
{
    const QString& text = captionFromEnded_ ? endedText_ : lineText_;
    const QString& values = captionFromEnded_ ? endedValues_ : lineValues_;
    tails_.showTails(QStringView(text).right(kTextTail).toString(),
                     QStringView(values).right(kValueTail).toString());
    captionDirty_ = false;
    sinceRepaint_.start();
}

} // namespace hexline
