// The import form (TMyImport): the coin table's fields beside the source's
// fields, lined up with Up and Down and switched on and off in the USE
// column, and the run that appends the source's records with a running
// count. Created by the import format dialog for one file.
//
// Promises:
// - The records come in whole, in the engine's batches; one that stops
//   says at which line (or record) of the source and how many came in.
// - The count and the form repaint while the records are read.
#pragma once

#include <exception>

#include <QDialog>
#include <QStringList>

#include "app/OpenDatabase.h"
#include "transfer/TransferLogic.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace klv::transfer {

class TMyImport : public QDialog {
  Q_OBJECT

 public:
  // db must outlive the form.
  TMyImport(app::OpenDatabase& db, SourceKind kind, QString path, QWidget* parent = nullptr);

  // Reads the source field names: a text file's first line (the problem it
  // has, if any) or a dBase table's fields, CSV's first line.
  FirstLine::Problem GetFirstLine();
  void GetDBFInfo();
  void GetCsvInfo();
  const QStringList& source_names() const { return names_; }
  const ImportList& list() const { return list_; }
  uint64_t count() const { return count_; }
  // Where the running count is drawn, in the form's coordinates.
  QPoint CountPosition() const;
  std::exception_ptr error() const { return error_; }
  // How the appends are batched (tests make the batches small).
  void SetBatchOptions(const dbf::Table::AppendBatchOptions& batch) { batch_ = batch; }

  // Controls.
  QTableWidget* ImportGrid = nullptr;
  QLabel* FieldLabel = nullptr;
  QLabel* AlignmentLabel = nullptr;
  QPushButton* UpButton = nullptr;
  QPushButton* DownButton = nullptr;
  QLabel* ImportLabel = nullptr;
  QLabel* CountLabel = nullptr;
  QCheckBox* SkipFirst = nullptr;
  QPushButton* StartButton = nullptr;
  QPushButton* ExitButton = nullptr;
  QPushButton* HelpButton = nullptr;
  QLabel* NoteLabel = nullptr;

  // Handlers.
  void FormCreate();
  void FormShow();
  void SetColors();
  void UpButtonClick();
  void DownButtonClick();
  void SkipFirstClick();
  void ImportGridDblClick(int row, int column);
  void StartButtonClick();
  void ExitButtonClick();
  void HelpButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void FillGrid();

  app::OpenDatabase& db_;
  app::AppState& state_;
  SourceKind kind_;
  QString path_;
  QStringList names_;
  ImportList list_{QStringList()};
  uint64_t count_ = 0;
  dbf::Table::AppendBatchOptions batch_;
  std::exception_ptr error_;
  bool shown_ = false;
};

}  // namespace klv::transfer
