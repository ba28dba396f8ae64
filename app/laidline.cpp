#include "app/laidline.h"

#include <QPainter>
#include <QTextLayout>

namespace hexline {

LaidLine::LaidLine(const QString& text, const QFont& font)
{
    QTextLayout layout(text, font);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    if (!line.isValid()) {
        layout.endLayout();
        return;
    }
    line.setNumColumns(int(text.size())); // all of it in the one line, however wide
    layout.endLayout();
    runs_ = layout.glyphRuns();
    ascent_ = line.ascent();
    width_ = line.naturalTextWidth();
}

void LaidLine::draw(QPainter& painter, QPointF origin) const
{
    // The runs are placed for a line whose top is at 0.
    origin.ry() -= ascent_;
    for (const QGlyphRun& run : runs_)
        painter.drawGlyphRun(origin, run);
}

} // namespace hexline
