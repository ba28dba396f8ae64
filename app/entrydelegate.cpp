#include "app/entrydelegate.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionViewItem>

#include <algorithm>

namespace hexline {

namespace {

constexpr int kMargin = 3;         // between the view's edge and the text
constexpr int kGeneration = 256;   // texts kept per generation: many more than a view shows
constexpr std::size_t kProbes = 8; // more than the states a row is drawn in

} // namespace

const EntryDelegate::Laid& EntryDelegate::laidOut(const QString& text, const QFont& font,
                                                  int width) const
{
    if (width != width_ || font != font_) { // laid out for another view or font
        recent_.clear();
        older_.clear();
        width_ = width;
        font_ = font;
        ascii_.setFont(font);
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
    } else if (laid.glyphs = ascii_.layOut(text, width, AsciiGlyphs::Elide);
               laid.glyphs.isEmpty()) {
        // Too long to show whole: the end gives way to an ellipsis, as in any list. Most entries
        // fit and are laid out once.
        laid.text = LaidLine(text, font);
        if (laid.text.width() > width)
            laid.text = LaidLine(QFontMetrics(font).elidedText(text, Qt::ElideRight, width), font);
    }
    return *recent_.insert(text, laid);
}

bool EntryDelegate::styleDraws(const QStyleOptionViewItem& option, const QStyle& style) const
{
    if (option.backgroundBrush.style() != Qt::NoBrush)
        return true;
    const QSize size = option.rect.size();
    const qint64 palette = option.palette.cacheKey();
    for (const StyleProbe& p : probes_)
        if (p.style == &style && p.widget == option.widget && p.state == option.state &&
            p.features == option.features && p.size == size && p.palette == palette)
            return p.draws;
    if (probes_.size() >= kProbes)
        probes_.clear();
    QImage probe(size, QImage::Format_ARGB32_Premultiplied);
    probe.fill(Qt::transparent);
    {
        QPainter painter(&probe);
        QStyleOptionViewItem at = option;
        at.rect = probe.rect();
        style.drawControl(QStyle::CE_ItemViewItem, &at, &painter, option.widget);
    }
    bool draws = false;
    for (int y = 0; y < probe.height() && !draws; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(probe.constScanLine(y));
        draws = std::any_of(line, line + probe.width(), [](QRgb pixel) { return pixel != 0; });
    }
    probes_.push_back({&style, option.widget, option.state, option.features, size, palette, draws});
    return draws;
}

void EntryDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const
{
    // The style draws the item without text, as for any view; the text is drawn here. The model
    // has nothing but text, so the view's option needs no filling in from it.
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    if (styleDraws(option, *style))
        style->drawControl(QStyle::CE_ItemViewItem, &option, painter, widget);

    const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (option.state & QStyle::State_Active) ? QPalette::Active
                                                                               : QPalette::Inactive;
    const bool selected = option.state & QStyle::State_Selected;
    painter->setPen(
        option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    painter->setFont(option.font);
    const Laid& laid =
        laidOut(index.data().toString(), option.font, option.rect.width() - 2 * kMargin);
    // Every row's text stands on the font's baseline, whatever fonts it takes its glyphs from.
    const int top = option.rect.top() + (option.rect.height() - option.fontMetrics.height()) / 2;
    const QPointF origin(option.rect.left() + kMargin, top + ascii_.ascent());
    if (!laid.glyphs.isEmpty()) {
        painter->drawGlyphRun(origin, laid.glyphs);
        return;
    }
    // A fallback font's glyph may reach past the row: it is cut there rather than left on the
    // neighbours, which are painted without it.
    painter->save();
    painter->setClipRect(option.rect, Qt::IntersectClip);
    laid.text.draw(*painter, origin);
    painter->restore();
}

QSize EntryDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const
{
    return {option.rect.width(), option.fontMetrics.height()};
}

} // namespace hexline
