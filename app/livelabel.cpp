#include "app/livelabel.h"

#include <QPainter>
#include <QStyleOption>

namespace hexline {

void LiveLabel::paintEvent(QPaintEvent* event)
{
    const bool plain = textFormat() == Qt::PlainText && isEnabled() && frameWidth() == 0 &&
                       margin() == 0 && indent() <= 0 &&
                       alignment() == (Qt::AlignLeft | Qt::AlignTop) &&
                       layoutDirection() == Qt::LeftToRight;
    if (!plain || text().isEmpty()) {
        QLabel::paintEvent(event);
        return;
    }
    ascii_.setFont(font());
    const QRect r = contentsRect();
    const QPointF origin(r.left(), r.top() + ascii_.ascent());
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    painter.setPen(QPen(option.palette.brush(foregroundRole()), 0));
    const QGlyphRun glyphs = ascii_.layOut(text(), r.width(), AsciiGlyphs::Clip);
    if (!glyphs.isEmpty()) {
        painter.drawGlyphRun(origin, glyphs);
        return;
    }
    // Any other text is laid out in full, as QLabel would, but on the same baseline.
    LaidLine(text(), font()).draw(painter, origin);
}

} // namespace hexline
