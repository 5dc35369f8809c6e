// The export form (TMyExport, caption "Export"): which fields go out and in
// which order (kept in the database's settings), the whole table or the
// search result, and the kind of file: quoted delimited text, a new dBase
// table, CSV for spreadsheets (UTF-8 or Windows-1252) or an Excel workbook.
// Created for one use and shown modally.
//
// Promises:
// - The file appears under the chosen name only once it is complete.
// - Search mode is as it was afterwards, whether the export ended well or
//   not.
// - The gauge moves and the form repaints while rows are written.
#pragma once

#include <exception>

#include <QDialog>

#include "app/OpenDatabase.h"
#include "transfer/TransferLogic.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTableWidget;

namespace klv::transfer {

class TMyExport : public QDialog {
  Q_OBJECT

 public:
  // db must outlive the form.
  explicit TMyExport(app::OpenDatabase& db, QWidget* parent = nullptr);

  // The engine or file error that ended an export and closed the form.
  std::exception_ptr error() const { return error_; }
  const ExportList& list() const { return list_; }

  // Controls.
  QTableWidget* ExportGrid = nullptr;
  QLabel* NoteLabel = nullptr;
  QPushButton* UpButton = nullptr;
  QPushButton* DownButton = nullptr;
  QPushButton* DefaultsButton = nullptr;
  QGroupBox* WhatPanel = nullptr;
  QRadioButton* ExportEntire = nullptr;
  QRadioButton* ExportSearch = nullptr;
  QGroupBox* HowPanel = nullptr;
  QRadioButton* AsciiFile = nullptr;
  QRadioButton* DBaseFile = nullptr;
  QRadioButton* CsvFile = nullptr;
  QRadioButton* Csv1252File = nullptr;
  QRadioButton* XlsxFile = nullptr;
  QCheckBox* FirstRow = nullptr;
  QPushButton* StartExportButton = nullptr;
  QPushButton* ExitButton = nullptr;
  QPushButton* HelpButton = nullptr;
  QLabel* GaugeLabel = nullptr;
  QProgressBar* MyGauge = nullptr;

  // Handlers.
  void FormCreate();
  void FormShow();
  void FormClose();
  void SetColors();
  void ExportGridDblClick(int row, int column);
  void UpButtonClick();
  void DownButtonClick();
  void DefaultsButtonClick();
  void FirstRowClick();
  void AsciiFileClick();
  void DBaseFileClick();
  void StartExportButtonClick();
  void UpdateConfigs();
  std::vector<ExportColumn> CalcIndexOrder();
  void ExitButtonClick();
  void HelpButtonClick();

  // The kind the radio buttons choose.
  ExportKind ChosenKind() const;

 protected:
  void showEvent(QShowEvent* event) override;
  void done(int result) override;

 private:
  void FillGrid();
  void DoExport(ExportKind kind, const std::vector<ExportColumn>& columns);

  app::OpenDatabase& db_;
  app::AppState& state_;
  app::PerField<QString> labels_;
  ExportList list_;
  std::exception_ptr error_;
  bool shown_ = false;
  bool closed_ = false;
};

// The main window's Export: the form, shown modally over owner. An error
// that ended the export is thrown again here, for the command's guard.
void DoExport(app::OpenDatabase& db, QWidget* owner);

}  // namespace klv::transfer
