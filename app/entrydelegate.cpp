#include "entrydelegate.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QStyleOptionViewItem>

namespace hexline {

namespace {

constexpr int kMargin = 3;       // between the view's edge and the text
constexpr int kGeneration = 256; // texts kept per generation: many more than a view shows

} // namespace

// Most entries are lines of digits, letters and spaces: their glyphs and kerned advances come
// straight from the font, without the shaping and line breaking of a full text layout, and are
// drawn, elided as QFontMetrics::elidedText would, at the places a full text layout puts them.
QGlyphRun EntryDelegate::asciiGlyphs(const QString& text, int width) const
{
    if (!hasAscii_ || text.isEmpty())
        return {};
    QList<quint32> glyphs(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x20 || c > 0x7e)
            return {};
        glyphs[i] = ascii_[c - 0x20];
    }
    QList<QPointF> advances = raw_.advancesForGlyphIndexes(glyphs, QRawFont::KernedAdvances);
    qreal total = 0;
    for (const QPointF& a : advances)
        total += a.x();
    if (total > width) {
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
    QList<QPointF> positions(glyphs.size());
    qreal x = 0;
    for (qsizetype i = 0; i < glyphs.size(); ++i) {
        positions[i] = {x, 0};
        x += advances[i].x();
    }
    QGlyphRun run;
    run.setRawFont(raw_);
    run.setGlyphIndexes(glyphs);
    run.setPositions(positions);
    return run;
}

const EntryDelegate::Laid& EntryDelegate::laidOut(const QString& text, const QFont& font,
                                                  int width) const
{
    if (width != width_ || font != font_) { // laid out for another view or font
        recent_.clear();
        older_.clear();
        width_ = width;
        font_ = font;
        raw_ = QRawFont::fromFont(font);
        QString printable;
        for (char c = 0x20; c <= 0x7e; ++c)
            printable += QLatin1Char(c);
        const QList<quint32> glyphs = raw_.glyphIndexesForString(printable);
        hasAscii_ = raw_.isValid() && glyphs.size() == qsizetype(ascii_.size()) &&
                    !glyphs.contains(0); // 0: the font lacks the character
        if (hasAscii_)
            std::copy(glyphs.cbegin(), glyphs.cend(), ascii_.begin());
        // The ellipsis only when the font itself has it; elidedText takes "..." otherwise.
        const QList<quint32> ellipsis = raw_.glyphIndexesForString(QString(QChar(0x2026)));
        ellipsis_ = ellipsis.size() == 1 ? ellipsis[0] : 0;
        ellipsisAdvance_ = ellipsis_ != 0 ? raw_.advancesForGlyphIndexes(ellipsis)[0].x() : 0;
        ascent_ = QFontMetricsF(font).ascent();
    }
    auto it = recent_.find(text);
    if (it != recent_.end())
        return *it;
    if (recent_.size() >= kGeneration) {
        older_ = std::move(recent_);
        recent_.clear();
    }
    Laid laid;
    if (auto old = older_.constFind(text); old != older_.cend()) {
        laid = *old;
    } else if (laid.glyphs = asciiGlyphs(text, width); laid.glyphs.isEmpty()) {
        QStaticText& full = laid.text;
        full.setTextFormat(Qt::PlainText); // received text is shown as it is, never as markup
        full.setPerformanceHint(QStaticText::AggressiveCaching);
        full.setText(text);
        full.prepare({}, font);
        // Too long to show whole: the end gives way to an ellipsis, as in any list. Most entries
        // fit and are laid out once.
        if (full.size().width() > width) {
            full.setText(QFontMetrics(font).elidedText(text, Qt::ElideRight, width));
            full.prepare({}, font);
        }
    }
    return *recent_.insert(text, laid);
}

void EntryDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const
{
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (option.state & QStyle::State_Active) ? QPalette::Active
                                                                               : QPalette::Inactive;
    if (selected)
        painter->fillRect(option.rect, option.palette.brush(group, QPalette::Highlight));
    painter->setPen(
        option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    painter->setFont(option.font);
    const Laid& laid =
        laidOut(index.data().toString(), option.font, option.rect.width() - 2 * kMargin);
    const int top = option.rect.top() + (option.rect.height() - option.fontMetrics.height()) / 2;
    if (!laid.glyphs.isEmpty())
        painter->drawGlyphRun(QPointF(option.rect.left() + kMargin, top + ascent_), laid.glyphs);
    else
        painter->drawStaticText(option.rect.left() + kMargin, top, laid.text);
    if (option.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(option);
        focus.backgroundColor =
            option.palette.color(group, selected ? QPalette::Highlight : QPalette::Base);
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
    }
}

QSize EntryDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const
{
    return {option.rect.width(), option.fontMetrics.height()};
}

} // namespace hexline
