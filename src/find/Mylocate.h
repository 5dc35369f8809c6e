// The locate dialog (TMyLocateDlg, caption from the locate component,
// "Locate Field Value"): the user picks a field, a kind of match and a value,
// and "First" or "Next" moves the coin table's cursor to the matching row.
// It works on the table it is given and never changes a row.
//
// Promises:
// - A search that finds a row closes the dialog with the table standing on
//   that row (Found() is true); one that finds nothing says so in an
//   information box and leaves the cursor where it was.
// - Cancel and Escape close the dialog without moving the cursor.
// - Controls() gives back what the dialog showed when it closed, for the
//   locate component to remember.
#pragma once

#include <exception>

#include <QDialog>

#include "app/AppState.h"
#include "db/dbf/Table.h"
#include "find/Locate.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace klv::find {

class TMyLocateDlg : public QDialog {
  Q_OBJECT

 public:
  // setup: the starting state the locate component prepared for table.
  TMyLocateDlg(dbf::Table& table, const LocateDialogSetup& setup, const app::AppState& state,
               QWidget* parent = nullptr);

  // The dialog's controls now, and whether it closed on a found row.
  LocateDialogResult Controls() const;
  bool Found() const { return found_; }
  // The engine error that closed the dialog, if one did.
  std::exception_ptr error() const { return error_; }

  // Controls.
  QGroupBox* FieldGroup = nullptr;
  QComboBox* FieldNameComboBox = nullptr;
  QGroupBox* SearchTypeGroup = nullptr;
  QCheckBox* CaseSensitiveCheckBox = nullptr;
  QRadioButton* ExactMatchBtn = nullptr;
  QRadioButton* PartialMatchStartBtn = nullptr;
  QRadioButton* PartialMatchAnyBtn = nullptr;
  QGroupBox* ValueGroup = nullptr;
  QLineEdit* SearchValue = nullptr;
  QFrame* ButtonPanel = nullptr;
  QPushButton* FirstButton = nullptr;
  QPushButton* NextButton = nullptr;
  QPushButton* BitBtn1 = nullptr;  // Cancel

  // Handlers.
  void FindFirst();
  void FindNextBtnClick();
  void FieldNameComboBoxChange();
  void FieldNameComboBoxEnter();
  void FieldNameComboBoxExit();
  void FormShow();
  void SetColors();

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Search(bool from_start);
  void SetDefaultButton();
  bool ListDroppedDown() const;

  dbf::Table& table_;
  LocateDialogSetup setup_;
  const app::AppState& state_;
  bool found_ = false;
  bool shown_ = false;
  std::exception_ptr error_;
};

// The locate component's dialog runner for table: shows TMyLocateDlg
// modally over parent with the setup and hands its controls back. An engine
// error that closed the dialog is thrown again here.
LocateDialogResult RunLocateDialog(dbf::Table& table, const LocateDialogSetup& setup,
                                   const app::AppState& state, QWidget* parent);

// Shows a result's message (if any) through the prompts service: an
// information, warning or error box with OK.
void ShowLocateMessage(QWidget* parent, const LocateMessage& message);

// A field's display label for the list: the field caption table's label of
// a coin-table field, else the field's name.
QString LocateLabel(const app::AppState& state, const dbf::Table& table, const dbf::Field& field);

}  // namespace klv::find
