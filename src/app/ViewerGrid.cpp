#include "app/ViewerGrid.h"

#include <QPainter>

#include "app/ViewerDelegate.h"

namespace klv::app {

void ViewerGridView::CommitEditor() {
  if (state() != QAbstractItemView::EditingState) return;
  QWidget* editor = indexWidget(currentIndex());
  if (!editor) return;
  commitData(editor);
  closeEditor(editor, QAbstractItemDelegate::NoHint);
}

void ViewerGridView::SetLines(bool rows, bool columns) {
  row_lines_ = rows;
  column_lines_ = columns;
  viewport()->update();
}

namespace {

// Paints the cells, then the row and column lines the grid options ask for
// (the view's own grid draws both or neither).
class GridDelegate : public ViewerDelegate {
 public:
  GridDelegate(ViewerModel* model, ViewerGridView* view)
      : ViewerDelegate(model, view), view_(view) {}
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    ViewerDelegate::paint(painter, option, index);
    painter->save();
    painter->setPen(QColor(0x80, 0x80, 0x80));
    const QRect r = option.rect;
    if (view_->row_lines()) painter->drawLine(r.bottomLeft(), r.bottomRight());
    if (view_->column_lines()) painter->drawLine(r.topRight(), r.bottomRight());
    painter->restore();
  }

 private:
  ViewerGridView* view_;
};

}  // namespace

void ViewerGridView::InstallDelegate(ViewerModel* model) {
  setItemDelegate(new GridDelegate(model, this));
}

}  // namespace klv::app
