// The value picker of the search form, TSearchOptions: the operators of a
// numeric or date row, or the values of a character row with a value list.
// Created for one use and shown modally; Ok hands back the selected entry.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include "app/AppState.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace klv::find {

class TSearchOptions : public QDialog {
  Q_OBJECT

 public:
  // row: the grid row (1 to 20) served; label: its field's display label.
  TSearchOptions(const app::AppState& state, int row, const QString& label,
                 QWidget* parent = nullptr);

  int row() const { return row_; }
  void LoadList(const QStringList& items);
  // The selected entry's position, or -1.
  int Selected() const;

  QLabel* FieldNameLabel = nullptr;
  QListWidget* ListBox1 = nullptr;
  QPushButton* OkButton = nullptr;
  QPushButton* CancelButton = nullptr;

  void OkButtonClick();
  void CancelButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void SetColors();

  const app::AppState& state_;
  int row_;
  bool shown_ = false;
};

}  // namespace klv::find
