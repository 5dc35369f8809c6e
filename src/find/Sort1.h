// The sort order dialog, TMySortOrder: up to four fields the coin table is
// ordered by, turned into the index "NewIndex" and stored in the open
// database's settings file. Created for one use and shown modally.
//
// Promises:
// - Ok builds the new index only with the table to itself; when another
//   program or copy holds it the user is told and nothing changes.
// - A failure while building the index or writing the settings leaves the
//   previous sort levels, the sort string built from them and (as far as
//   the table lets it be rebuilt) their index in force, and says so.
#pragma once

#include <array>

#include <QDialog>

#include "app/OpenDatabase.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace klv::find {

class TMySortOrder : public QDialog {
  Q_OBJECT

 public:
  explicit TMySortOrder(app::OpenDatabase& db, QWidget* parent = nullptr);

  std::array<QLabel*, 4> LabelSort{};    // LabelSort1 to LabelSort4
  std::array<QComboBox*, 4> ComboBox{};  // ComboBox1 to ComboBox4
  QPushButton* OkButton = nullptr;
  QPushButton* CancelButton = nullptr;

  void OkButtonClick();
  void CancelButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormCreate();
  void FormShow();
  void SetColors();
  void Error(const char* text);

  app::OpenDatabase& db_;
  bool shown_ = false;
};

// The main window's "Sort Order" command: the dialog, shown modally.
void DoSortOrder(app::OpenDatabase& db, QWidget* owner);

// Makes the sort string the order of the table (open exclusively): no index
// for an empty string, else "NewIndex" dropped and built again from it.
void ApplySortIndex(dbf::Table& table, const QString& sort_string);

}  // namespace klv::find
