#pragma once

#include <QAbstractItemView>

namespace hexline {

// A list view for a list that grows at the top, rows of one height. Rows added at the top of a
// view scrolled to the top move the rows already drawn down by their pixels, and only the new rows
// are drawn; when the user has scrolled away from the top, the rows in sight stay where they are
// while new ones arrive above them, as a terminal holds its scrollback. Every other change (a
// reset, rows removed in sight) repaints what it touches.
class EntryListView : public QAbstractItemView {
    Q_OBJECT
public:
    explicit EntryListView(QWidget* parent = nullptr);

    void setModel(QAbstractItemModel* model) override;
    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;
    void doItemsLayout() override;

protected:
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override;
    void paintEvent(QPaintEvent* event) override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex& index) const override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;

private:
    int rowHeight() const;
    int rows() const;
    QModelIndex rowIndex(int row) const;
    void rowsRemoved(const QModelIndex& parent, int start, int end);

    mutable int rowHeight_ = 0; // 0 until measured
    bool holding_ = false;      // the offset changes while the rows in sight stay
    int removedAbove_ = 0;      // rows about to go above the first row in sight
};

} // namespace hexline
