#include "app/ViewerDelegate.h"

#include <QComboBox>
#include <QLineEdit>

#include "app/ViewerModel.h"
#include "db/FieldTable.h"

namespace klv::app {
namespace {

using db::FieldInfoOf;
using db::kCondition;
using db::kCountry;
using db::kTopic;

bool IsComboField(int field) {
  return field == kCountry || field == kTopic || field == kCondition;
}

}  // namespace

ViewerDelegate::ViewerDelegate(ViewerModel* model, QObject* parent)
    : QStyledItemDelegate(parent), model_(model) {}

QWidget* ViewerDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                      const QModelIndex& index) const {
  int column = index.column();
  if (column < 0 || column >= static_cast<int>(model_->columns().size()))
    return QStyledItemDelegate::createEditor(parent, option, index);
  const int field = model_->columns()[static_cast<size_t>(column)].field;
  if (IsComboField(field)) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(
        QStringLiteral("MyCombo%1")
            .arg(QString::fromLatin1(FieldInfoOf(field).name.data(),
                                     static_cast<int>(FieldInfoOf(field).name.size()))));
    combo->setEditable(true);
    // As in the edit form: what is typed is what is stored, never completed
    // from the list.
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setCompleter(nullptr);
    combo->addItems(model_->PickList(field));
    combo->lineEdit()->setMaxLength(FieldInfoOf(field).width);
    combo->setFont(option.font);
    return combo;
  }
  auto* edit = new QLineEdit(parent);
  edit->setMaxLength(FieldInfoOf(field).width);
  edit->setFrame(false);
  edit->setFont(option.font);
  return edit;
}

void ViewerDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
  const QString text = index.data(Qt::EditRole).toString();
  if (auto* combo = qobject_cast<QComboBox*>(editor)) {
    combo->setCurrentText(text);
    // As in the plain cells, what is typed replaces the old value.
    combo->lineEdit()->selectAll();
  } else if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
    edit->setText(text);
  } else {
    QStyledItemDelegate::setEditorData(editor, index);
  }
}

void ViewerDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                  const QModelIndex& index) const {
  QString text;
  if (auto* combo = qobject_cast<QComboBox*>(editor)) {
    text = combo->currentText();
  } else if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
    text = edit->text();
  } else {
    return QStyledItemDelegate::setModelData(editor, model, index);
  }
  // Leaving a cell unchanged writes nothing (and takes no row lock).
  if (text == index.data(Qt::EditRole).toString()) return;
  model->setData(index, text, Qt::EditRole);
}

}  // namespace klv::app
