#include "app/entrylistview.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyleOptionSlider>
#include <QTimer>

#include <algorithm>
#include <optional>
#include <utility>

namespace hexline {

namespace {

// A scroll bar repainted only when what it shows changes: its slider's place and size on the
// screen, and whether it stands at an end, where a style may draw the arrow there as disabled.
// A change of the list's length alone (rows added or dropped at a frame) moves the slider by a
// pixel now and then: that repaint waits up to kLengthRepaintMs, so that a growing list does not
// repaint the whole bar at every frame, a tall fill each time. A move of the slider's value
// (dragging, the wheel, the keys) is shown at once.
class SliderScrollBar : public QScrollBar {
public:
    SliderScrollBar(Qt::Orientation orientation, QWidget* parent) : QScrollBar(orientation, parent)
    {
        later_.setSingleShot(true);
        later_.setInterval(kLengthRepaintMs);
        connect(&later_, &QTimer::timeout, this, [this] {
            if (shown_ != looks()) {
                shown_ = looks();
                update();
            }
        });
    }

protected:
    // What the bar shows is what it last asked to repaint with: a render of it elsewhere (a
    // grab) paints too, but leaves the screen as it was.
    void sliderChange(SliderChange change) override
    {
        if (shown_ == looks() && change != SliderOrientationChange)
            return;
        if (shown_ && (change == SliderRangeChange || change == SliderStepsChange)) {
            if (!later_.isActive())
                later_.start();
            return;
        }
        later_.stop();
        shown_ = looks();
        QScrollBar::sliderChange(change);
    }

private:
    static constexpr int kLengthRepaintMs = 1000;

    struct Looks {
        QRect slider;
        bool atMinimum;
        bool atMaximum;
        bool operator==(const Looks&) const = default;
    };

    Looks looks() const
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider,
                                        this),
                value() == minimum(), value() == maximum()};
    }

    QTimer later_;
    std::optional<Looks> shown_;
};

} // namespace

EntryListView::EntryListView(QWidget* parent) : QAbstractItemView(parent)
{
    setVerticalScrollMode(ScrollPerPixel);
    setVerticalScrollBar(new SliderScrollBar(Qt::Vertical, this));
}

void EntryListView::setModel(QAbstractItemModel* model)
{
    if (QAbstractItemModel* old = this->model())
        disconnect(old, &QAbstractItemModel::rowsRemoved, this, &EntryListView::rowsRemoved);
    QAbstractItemView::setModel(model);
    if (model)
        connect(model, &QAbstractItemModel::rowsRemoved, this, &EntryListView::rowsRemoved);
}

int EntryListView::rowHeight() const
{
    if (rowHeight_ > 0)
        return rowHeight_;
    const QModelIndex first = rowIndex(0);
    if (!first.isValid() || !itemDelegate())
        return std::max(1, fontMetrics().height()); // measured once there is a row
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    rowHeight_ = std::max(1, itemDelegate()->sizeHint(option, first).height());
    return rowHeight_;
}

QModelIndex EntryListView::rowIndex(int row) const
{
    return model() ? model()->index(row, 0, rootIndex()) : QModelIndex();
}

int EntryListView::rows() const
{
    return model() ? model()->rowCount(rootIndex()) : 0;
}

int EntryListView::horizontalOffset() const
{
    return 0;
}

bool EntryListView::isIndexHidden(const QModelIndex&) const
{
    return false;
}

int EntryListView::verticalOffset() const
{
    return verticalScrollBar()->value();
}

QRect EntryListView::visualRect(const QModelIndex& index) const
{
    if (!index.isValid() || index.parent() != rootIndex() || index.column() != 0)
        return {};
    const int h = rowHeight();
    return {0, index.row() * h - verticalOffset(), viewport()->width(), h};
}

QModelIndex EntryListView::indexAt(const QPoint& point) const
{
    const int y = point.y() + verticalOffset();
    const int row = y / rowHeight();
    if (y < 0 || row >= rows() || point.x() < 0 || point.x() >= viewport()->width())
        return {};
    return rowIndex(row);
}

void EntryListView::scrollTo(const QModelIndex& index, ScrollHint hint)
{
    if (!index.isValid() || index.parent() != rootIndex())
        return;
    const int h = rowHeight(), top = index.row() * h, page = viewport()->height();
    const int at = verticalOffset();
    int to = at;
    switch (hint) {
    case PositionAtTop:
        to = top;
        break;
    case PositionAtBottom:
        to = top + h - page;
        break;
    case PositionAtCenter:
        to = top - (page - h) / 2;
        break;
    case EnsureVisible:
        if (top < at)
            to = top;
        else if (top + h > at + page)
            to = top + h - page;
        break;
    }
    verticalScrollBar()->setValue(to);
}

QModelIndex EntryListView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers)
{
    const int n = rows();
    if (n == 0)
        return {};
    const QModelIndex current = currentIndex();
    int row = current.isValid() ? current.row() : 0;
    const int page = std::max(1, viewport()->height() / rowHeight());
    if (current.isValid()) {
        switch (cursorAction) {
        case MoveUp:
        case MovePrevious:
            --row;
            break;
        case MoveDown:
        case MoveNext:
            ++row;
            break;
        case MovePageUp:
            row -= page;
            break;
        case MovePageDown:
            row += page;
            break;
        case MoveHome:
            row = 0;
            break;
        case MoveEnd:
            row = n - 1;
            break;
        case MoveLeft:
        case MoveRight:
            break;
        }
    }
    return rowIndex(std::clamp(row, 0, n - 1));
}

void EntryListView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command)
{
    if (!selectionModel())
        return;
    const QRect r = rect.normalized();
    const int h = rowHeight(), at = verticalOffset();
    const int first = std::max(0, (r.top() + at) / h);
    const int last = std::min(rows() - 1, (r.bottom() + at) / h);
    QItemSelection selection;
    if (r.bottom() + at >= 0 && first <= last)
        selection.select(rowIndex(first), rowIndex(last));
    selectionModel()->select(selection, command);
}

QRegion EntryListView::visualRegionForSelection(const QItemSelection& selection) const
{
    QRegion region;
    const int h = rowHeight(), at = verticalOffset();
    for (const QItemSelectionRange& range : selection)
        if (range.isValid() && range.parent() == rootIndex())
            region += QRect(0, range.top() * h - at, viewport()->width(),
                            (range.bottom() - range.top() + 1) * h) &
                      viewport()->rect();
    return region;
}

void EntryListView::paintEvent(QPaintEvent* event)
{
    QAbstractItemDelegate* delegate = itemDelegate();
    if (!model() || !delegate)
        return;
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QStyle::State state = option.state;
    const int h = rowHeight(), at = verticalOffset();
    const QRect area = event->rect();
    const int first = std::max(0, (area.top() + at) / h);
    const int last = std::min(rows() - 1, (area.bottom() + at) / h);
    const QModelIndex current = currentIndex();
    const bool focus = (hasFocus() || viewport()->hasFocus()) && current.isValid();
    QPainter painter(viewport());
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = rowIndex(row);
        option.rect = QRect(0, row * h - at, viewport()->width(), h);
        option.state = state;
        if (selectionModel() && selectionModel()->isSelected(index))
            option.state |= QStyle::State_Selected;
        if (focus && index == current)
            option.state |= QStyle::State_HasFocus;
        delegate->paint(&painter, option, index);
    }
}

void EntryListView::updateGeometries()
{
    const int h = rowHeight(), page = viewport()->height();
    QScrollBar* bar = verticalScrollBar();
    bar->setSingleStep(h);
    bar->setPageStep(page);
    const int last = std::max(0, rows() * h - page);
    // The scroll area shows or hides the bar from a queued call at every range change, which
    // wakes the event loop twice a frame for a list that gains and loses rows. Only a range that
    // becomes or stops being empty can change what it decides; the value stays within the range.
    const QSignalBlocker quiet(bar->maximum() > 0 && last > 0 && bar->value() <= last ? bar
                                                                                      : nullptr);
    bar->setRange(0, last);
    horizontalScrollBar()->setRange(0, 0);
    QAbstractItemView::updateGeometries();
}

void EntryListView::doItemsLayout()
{
    rowHeight_ = 0;
    QAbstractItemView::doItemsLayout(); // the geometry, and the whole view repainted
}

void EntryListView::scrollContentsBy(int dx, int dy)
{
    if (!holding_)
        QAbstractItemView::scrollContentsBy(dx, dy);
}

void EntryListView::rowsInserted(const QModelIndex& parent, int start, int end)
{
    QAbstractItemView::rowsInserted(parent, start, end);
    if (parent != rootIndex())
        return;
    const int h = rowHeight(), at = verticalOffset(), added = (end - start + 1) * h;
    updateGeometries();
    if (start * h < at) {
        // Above the first row in sight: the rows in sight stay where they are. Only what the
        // end of the list does not let the offset grow by moves them.
        QScrollBar* bar = verticalScrollBar();
        holding_ = true;
        bar->setValue(at + added);
        holding_ = false;
        if (const int rest = at + added - bar->value(); rest > 0)
            viewport()->scroll(0, rest);
        return;
    }
    // The rows drawn from the insertion down move down; only the new ones are drawn.
    const int y = start * h - at;
    if (y < viewport()->height())
        viewport()->scroll(0, added, QRect(0, y, viewport()->width(), viewport()->height() - y));
}

void EntryListView::rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end)
{
    // An entry that drops off the list takes its highlight with it. Left current, its row would
    // pass the highlight to a row never clicked and scroll to it, away from the newest lines.
    const QModelIndex current = currentIndex();
    if (parent == rootIndex() && current.isValid() && current.row() >= start &&
        current.row() <= end)
        selectionModel()->clearCurrentIndex();
    QAbstractItemView::rowsAboutToBeRemoved(parent, start, end);
    if (parent != rootIndex())
        return;
    const int h = rowHeight(), at = verticalOffset();
    if ((end + 1) * h <= at) { // above the rows in sight, which stay
        removedAbove_ += end - start + 1;
        return;
    }
    // The rows below the removed ones move up: repainted from there down.
    const int y = std::max(0, start * h - at);
    if (y < viewport()->height())
        viewport()->update(QRect(0, y, viewport()->width(), viewport()->height() - y));
}

void EntryListView::rowsRemoved(const QModelIndex& parent, int, int)
{
    if (parent != rootIndex())
        return;
    if (const int above = std::exchange(removedAbove_, 0); above > 0) {
        holding_ = true;
        verticalScrollBar()->setValue(verticalOffset() - above * rowHeight());
        holding_ = false;
    }
    updateGeometries();
}

} // namespace hexline
