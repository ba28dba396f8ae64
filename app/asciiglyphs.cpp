#include "app/asciiglyphs.h"

#include <QFontMetricsF>

#include <algorithm>
#include <cmath>
#include <limits>

namespace hexline {

void AsciiGlyphs::setFont(const QFont& font)
{
    if (valid_ && font == font_)
        return;
    font_ = font;
    ascent_ = QFontMetricsF(font).ascent();
    raw_ = QRawFont::fromFont(font);
    QString printable;
    for (char c = ' '; c <= '~'; ++c)
        printable += QLatin1Char(c);
    const QList<quint32> glyphs = raw_.glyphIndexesForString(printable);
    valid_ = raw_.isValid() && glyphs.size() == qsizetype(glyphs_.size()) &&
             !glyphs.contains(0); // 0: the font lacks the character
    if (!valid_)
        return;
    std::copy(glyphs.cbegin(), glyphs.cend(), glyphs_.begin());
    const QList<QPointF> advances = raw_.advancesForGlyphIndexes(glyphs);
    std::transform(advances.cbegin(), advances.cend(), advances_.begin(),
                   [](QPointF a) { return a.x(); });
    kerned_.assign(std::size_t(kPrintable) * kPrintable, std::numeric_limits<float>::quiet_NaN());
    narrowest_ = std::max<qreal>(
        1, std::min_element(advances.cbegin(), advances.cend(), [](QPointF a, QPointF b) {
               return a.x() < b.x();
           })->x());
    // The ellipsis only when the font itself has it; elidedText takes "..." otherwise.
    const QList<quint32> ellipsis = raw_.glyphIndexesForString(QString(QChar(0x2026)));
    ellipsis_ = ellipsis.size() == 1 ? ellipsis[0] : 0;
    ellipsisAdvance_ = ellipsis_ != 0 ? raw_.advancesForGlyphIndexes(ellipsis)[0].x() : 0;
}

QGlyphRun AsciiGlyphs::layOut(QStringView text, int width, Overflow overflow) const
{
    if (!valid_ || text.isEmpty()) // no font yet, or one that lacks a glyph: no narrowest advance
        return {};
    if (overflow == Clip) // a very long line: only its start can be in sight, kerned or not
        text = text.left(qsizetype(std::ceil(2 * width / narrowest_)) + 2);
    QList<quint32> glyphs(text.size());
    QList<QPointF> advances(text.size());
    int next = 0;
    for (qsizetype i = text.size() - 1; i >= 0; --i) {
        const char16_t c = text[i].unicode();
        if (c < u' ' || c > u'~')
            return {};
        const int at = c - u' ';
        glyphs[i] = glyphs_[at];
        advances[i].rx() = i + 1 < text.size() ? kernedAdvance(at, next) : advances_[at];
        next = at;
    }
    qreal total = 0;
    for (const QPointF& a : advances)
        total += a.x();
    if (total > width && overflow == Elide) {
        // Cut before the character that reaches the room left beside the ellipsis.
        if (ellipsis_ == 0)
            return {};
        const qreal room = width - ellipsisAdvance_;
        qsizetype cut = 0;
        for (qreal x = advances[0].x(); cut + 1 < advances.size() && x < room;)
            x += advances[++cut].x();
        glyphs.resize(cut);
        glyphs.append(ellipsis_);
        advances = raw_.advancesForGlyphIndexes(glyphs, QRawFont::KernedAdvances);
    }
    QList<QPointF> positions;
    positions.reserve(glyphs.size());
    for (qreal x = 0; positions.size() < glyphs.size() && x < width;) {
        positions.append({x, 0});
        x += advances[positions.size() - 1].x();
    }
    glyphs.resize(positions.size());
    QGlyphRun run;
    run.setRawFont(raw_);
    run.setGlyphIndexes(glyphs);
    run.setPositions(positions);
    return run;
}

qreal AsciiGlyphs::kernedAdvance(int first, int next) const
{
    float& advance = kerned_[std::size_t(first) * kPrintable + next];
    if (std::isnan(advance)) // a QFixed in 1/64 pixel: exact as a float
        advance = float(raw_.advancesForGlyphIndexes(QList<quint32>{glyphs_[first], glyphs_[next]},
                                                     QRawFont::KernedAdvances)
                            .first()
                            .x());
    return advance;
}

} // namespace hexline
