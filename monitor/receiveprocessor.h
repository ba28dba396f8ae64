#pragma once

#include "monitor/pairedlists.h"

#include <QString>
#include <QVariant>

#include <array>

namespace hexline {

class LiveTails;

// Turns received input into text lines and value lines. Every character is read as one
// hexadecimal digit; a digit equal to the termination value ends the line, anything else joins
// it, and a line longer than 200 characters is broken off. Ended and broken lines go to the top
// of both lists. A line lives until it ends: devices hand a line over in several reads, so a line
// still open when one event's input runs out goes on with the next event's.
class ReceiveProcessor {
public:
    static constexpr qsizetype kTextTail = 30;
    static constexpr qsizetype kValueTail = 50;
    static constexpr qsizetype kBreakLength = 200; // a line longer than this is broken off

    ReceiveProcessor(PairedLists lists, LiveTails& tails);

    // Empties both working lines and blanks the labels: Open calls it when it opens the port, so
    // that a piece left by an earlier opening never joins the new one's first line nor stays on
    // the labels.
    void startLines();

    // The input of one receive event, walked. A QString is text-mode input (one character each);
    // a QByteArray is binary-mode input, taken as 16-bit characters made of byte pairs, low byte
    // first.
    void process(const QVariant& received, qint16 termValue);
    void process(QStringView received, qint16 termValue);
    void process(const QByteArray& received, qint16 termValue);

    // Characters walked and lines put into the lists since construction, for benchmarks.
    qint64 charactersProcessed() const { return processed_; }
    qint64 linesEnded() const { return lines_; }

private:
    template <typename CharAt> void walk(qsizetype n, const CharAt& charAt, qint16 termValue);
    void append(char16_t visible, int digit);
    void endLine(QString textEntry, QString valueEntry);
    void showTails(bool walking);

    PairedLists lists_;
    LiveTails& tails_;
    // The text line and the value line not yet ended, kept from one event to the next, in fixed
    // buffers that the longest line fits (a value takes at most three characters, "15 "). A lone
    // surrogate stays in them as received (its partner may come with the next read) and is
    // replaced only where the line is shown or stored.
    QStringView lineText() const { return {text_.data(), textSize_}; }
    QStringView lineValues() const { return {values_.data(), valuesSize_}; }
    std::array<char16_t, kBreakLength + 1> text_{};
    std::array<char16_t, 3 * (kBreakLength + 1)> values_{};
    qsizetype textSize_ = 0;
    qsizetype valuesSize_ = 0;
    // What the labels should show: the live lines, or the last line that ended after the most
    // recent caption change.
    QString endedText_;
    QString endedValues_;
    bool captionFromEnded_ = false;
    bool captionDirty_ = false;
    qint64 processed_ = 0;
    qint64 lines_ = 0;
};

} // namespace hexline
