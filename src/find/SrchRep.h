// The search and replace form (TSearchAndReplace, caption "Search and
// Replace"): sets one field to a new value in every row of the coin table
// whose value in that field equals the one typed, asking before each change
// when "Confirm Before Replacing" is ticked. Created for one use and shown
// modally.
//
// Promises:
// - Nothing is opened exclusively before the input has passed its checks;
//   an input error names the edit at fault and keeps the form open.
// - The run has the table to itself, visits every row in record order
//   without the search filter, and afterwards the sort index "NewIndex" is
//   built again from the sort string, search mode is as it was and the
//   table is open shared again, also when the run ends by an engine error
//   (the changes posted before it remain).
// - Another copy holding the table is told and changes nothing.
#pragma once

#include <exception>

#include <QDialog>

#include "app/OpenDatabase.h"
#include "find/Replace.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace klv::find {

class TSearchAndReplace : public QDialog {
  Q_OBJECT

 public:
  // database must outlive the form.
  explicit TSearchAndReplace(app::OpenDatabase& database, QWidget* parent = nullptr);

  // The engine error that ended a run and closed the form, if one did.
  std::exception_ptr error() const { return error_; }

  int field_no() const { return field_no_; }
  const ReplaceCounters& counters() const { return counters_; }
  // Where a counter is drawn (0 processed, 1 found, 2 changed), in the
  // form's coordinates at the present scale.
  QPoint CounterPosition(int which) const;

  // Controls.
  QLabel* FieldLabel = nullptr;
  QComboBox* FieldBox = nullptr;
  QLabel* SearchLabel = nullptr;
  QLineEdit* SearchText = nullptr;
  QLabel* ReplaceLabel = nullptr;
  QLineEdit* ReplaceText = nullptr;
  QCheckBox* ConfirmBox = nullptr;
  QPushButton* StartButton = nullptr;
  QPushButton* CancelButton = nullptr;
  QFrame* CounterFrame = nullptr;
  QLabel* ProcessedLabel = nullptr;
  QLabel* FoundLabel = nullptr;
  QLabel* ChangedLabel = nullptr;

  // Handlers.
  void FormShow();
  void SetColors();
  void FieldBoxChange();
  void StartButtonClick();
  void CancelButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void DoStart();
  void RestoreAfterRun(dbf::Table& table, bool was_searching);

  app::OpenDatabase& db_;
  app::AppState& state_;
  std::exception_ptr error_;
  int field_no_ = 0;
  ReplaceCounters counters_;
  bool shown_ = false;
};

// The main menu's "Search and Replace": shows the form modally over owner.
// An engine error that ended the run is thrown again here, for the
// command's guard to show.
void ShowSearchAndReplace(app::OpenDatabase& database, QWidget* owner);

// A mask of the form's edits as the edits take it: "9" an optional digit,
// "0" a required one, "c" an optional character, "/" the date separator;
// blanks show as spaces. "" stays "".
QString EditInputMask(const QString& mask, QChar date_separator);

}  // namespace klv::find
