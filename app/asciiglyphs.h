#pragma once

#include <QFont>
#include <QGlyphRun>
#include <QRawFont>
#include <QStringView>

#include <array>
#include <vector>

namespace hexline {

// Lays out a line of printable ASCII from the font's own glyphs and kerned advances, without the
// shaping and line breaking of a full text layout, at the places a full layout puts them. Most
// received lines are such; any other text is left to a full layout.
class AsciiGlyphs {
public:
    enum Overflow { Elide, Clip };

    void setFont(const QFont& font);
    // Empty when the text is not printable ASCII or the font lacks a glyph. What does not fit in
    // width is elided as QFontMetrics::elidedText does, or left out where it is out of sight.
    QGlyphRun layOut(QStringView text, int width, Overflow overflow) const;
    // From the top of a line to its baseline, for any text: where every line of the font is
    // drawn from.
    qreal ascent() const { return ascent_; }

private:
    static constexpr int kPrintable = 95; // ' ' to '~'
    qreal kernedAdvance(int first, int next) const;

    QFont font_;
    QRawFont raw_;
    std::array<quint32, kPrintable> glyphs_{};
    std::array<qreal, kPrintable> advances_{}; // of a glyph that ends a line: not kerned
    // The advance of each pair's first glyph, kerned against the second, as the font is asked for
    // it the first time the pair is laid out (NaN until then): asking for a whole line's kerned
    // advances cost more than placing the glyphs.
    mutable std::vector<float> kerned_;
    bool valid_ = false;
    qreal narrowest_ = 0;  // the smallest advance of them
    quint32 ellipsis_ = 0; // the font's glyph for "…", 0 when it has none
    qreal ellipsisAdvance_ = 0;
    qreal ascent_ = 0;
};

} // namespace hexline
