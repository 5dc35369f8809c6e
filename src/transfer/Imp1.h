// The import format dialog (TImportFormat, caption "Import Format"): the
// kind of source (quoted delimited text, a dBase table, or CSV from a
// spreadsheet) and the file, after which the import form lines up its
// fields. Created for one use and shown modally; it closes with the import
// form.
#pragma once

#include <exception>

#include <QDialog>

#include "app/OpenDatabase.h"
#include "transfer/Transfer.h"

class QFrame;
class QPushButton;
class QRadioButton;

namespace klv::transfer {

class TImportFormat : public QDialog {
  Q_OBJECT

 public:
  // db must outlive the dialog.
  explicit TImportFormat(app::OpenDatabase& db, QWidget* parent = nullptr);

  // The kind chosen with Select File (1 text, 2 dBase, 3 CSV), for the import form.
  SourceKind kind() const { return kind_; }
  // The error that ended the import and closed the dialogs.
  std::exception_ptr error() const { return error_; }

  // Controls.
  QFrame* MyPanel = nullptr;
  QRadioButton* AsciiDelimited = nullptr;
  QRadioButton* DBFFormat = nullptr;
  QRadioButton* CsvFormat = nullptr;
  QPushButton* FileButton = nullptr;
  QPushButton* CancelButton = nullptr;

  // Handlers.
  void FormShow();
  void FormClose();
  void SetColors();
  void FileButtonClick();
  void DoAscii();
  void DoDBF();
  void DoCsv();
  void CancelButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void done(int result) override;

 private:
  // The open dialog of a kind; "" when cancelled.
  QString AskForFile(SourceKind kind);

  app::OpenDatabase& db_;
  app::AppState& state_;
  SourceKind kind_ = SourceKind::kAscii;
  std::exception_ptr error_;
  bool shown_ = false;
  bool closed_ = false;
};

// The main window's Import: the format dialog, shown modally over owner.
// An error that ended the import is thrown again here, for the command's
// guard; the rows imported before it stay.
void DoImport(app::OpenDatabase& db, QWidget* owner);

}  // namespace klv::transfer
