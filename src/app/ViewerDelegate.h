// The viewer grid's in-cell editors.
#pragma once

#include <QStyledItemDelegate>

namespace klv::app {

class ViewerModel;

// The in-cell editors: editable combo boxes with the pick lists for Country,
// Topic and Condition, a line edit limited to the field's width otherwise.
class ViewerDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  explicit ViewerDelegate(ViewerModel* model, QObject* parent = nullptr);

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override;
  void setEditorData(QWidget* editor, const QModelIndex& index) const override;
  void setModelData(QWidget* editor, QAbstractItemModel* model,
                    const QModelIndex& index) const override;

 private:
  ViewerModel* model_;
};

}  // namespace klv::app
