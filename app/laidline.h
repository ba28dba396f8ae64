#pragma once

#include <QFont>
#include <QGlyphRun>
#include <QList>
#include <QPointF>

class QPainter;

namespace hexline {

// One line of any text laid out in full (shaping, fallback fonts), kept as glyph runs and drawn
// from its baseline. Placed by its top, as a text layout is, a line that takes a character from a
// fallback font with a larger ascent would sit lower than its neighbours.
class LaidLine {
public:
    LaidLine() = default;
    LaidLine(const QString& text, const QFont& font);

    qreal width() const { return width_; }
    // Draws the line with its baseline starting at origin, in the painter's pen.
    void draw(QPainter& painter, QPointF origin) const;

private:
    QList<QGlyphRun> runs_;
    qreal ascent_ = 0; // of the line as laid out: the largest of its fonts'
    qreal width_ = 0;
};

} // namespace hexline
