#pragma once

#include <QFont>
#include <QGlyphRun>
#include <QRawFont>
#include <QStringView>

#include <array>

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
    // From the top of a line to its baseline.
    qreal ascent() const { return ascent_; }

private:
    QFont font_;
    QRawFont raw_;
    std::array<quint32, 95> glyphs_{}; // for ' ' to '~'
    bool valid_ = false;
    qreal narrowest_ = 0;  // the smallest advance of them
    quint32 ellipsis_ = 0; // the font's glyph for "…", 0 when it has none
    qreal ellipsisAdvance_ = 0;
    qreal ascent_ = 0;
};

} // namespace hexline
