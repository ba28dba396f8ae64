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
    ascii_.setFont(font());
    const QRect r = contentsRect();
    const QGlyphRun glyphs =
        plain ? ascii_.layOut(text(), r.width(), AsciiGlyphs::Clip) : QGlyphRun();
    if (glyphs.isEmpty()) {
        QLabel::paintEvent(event);
        return;
    }
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    painter.setPen(QPen(option.palette.brush(foregroundRole()), 0));
    painter.drawGlyphRun(QPointF(r.left(), r.top() + ascii_.ascent()), glyphs);
}

} // namespace hexline
