#pragma once

#include "app/asciiglyphs.h"
#include "app/laidline.h"

#include <QFont>
#include <QGlyphRun>
#include <QHash>
#include <QStyleOptionViewItem>
#include <QStyledItemDelegate>

#include <vector>

namespace hexline {

// Draws a list entry as one line of plain text, elided at the right edge; the style draws the
// item itself (background, selection, focus). An entry never changes, so its laid-out text is
// kept and reused while it is on screen: a frame that moves every row down lays out only the rows
// that are new.
class EntryDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    // An entry as it is drawn: its glyphs when it is plain ASCII, else its text laid out in full.
    struct Laid {
        QGlyphRun glyphs;
        LaidLine text;
    };

    const Laid& laidOut(const QString& text, const QFont& font, int width) const;
    // Whether the style draws anything of an item drawn with this option, found by drawing one
    // once for each state, palette and size: most styles draw nothing for a row that is neither
    // selected nor current, and asking them for every row costs half as much as its text.
    bool styleDraws(const QStyleOptionViewItem& option, const QStyle& style) const;

    // Two generations: texts drawn lately, and the ones before them, dropped when the recent
    // ones fill up.
    mutable QHash<QString, Laid> recent_;
    mutable QHash<QString, Laid> older_;
    mutable int width_ = 0;
    mutable QFont font_;
    mutable AsciiGlyphs ascii_;

    struct StyleProbe {
        const QStyle* style;
        const QWidget* widget;
        QStyle::State state;
        QStyleOptionViewItem::ViewItemFeatures features;
        QSize size;
        qint64 palette;
        bool draws;
    };
    mutable std::vector<StyleProbe> probes_; // a few: one for each state a row is drawn in
};

} // namespace hexline
