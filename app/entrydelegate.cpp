#include "app/entrydelegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionViewItem>

namespace hexline {

namespace {

constexpr int kMargin = 3;       // between the view's edge and the text
constexpr int kGeneration = 256; // texts kept per generation: many more than a view shows

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
    // The style draws the item without text, as for any view; the text is drawn here. The model
    // has nothing but text, so the view's option needs no filling in from it.
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
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
    const int top = option.rect.top() + (option.rect.height() - option.fontMetrics.height()) / 2;
    if (!laid.glyphs.isEmpty())
        painter->drawGlyphRun(QPointF(option.rect.left() + kMargin, top + ascii_.ascent()),
                              laid.glyphs);
    else
        painter->drawStaticText(option.rect.left() + kMargin, top, laid.text);
}

QSize EntryDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const
{
    return {option.rect.width(), option.fontMetrics.height()};
}

} // namespace hexline
