// The report chooser, TMyReport ("Reports"): the report definitions by
// name, whether the search limits the records, the sort order the report
// follows, and the commands View, Print, Print To File, Print To PDF,
// Printer Setup, Modify Report and New Report. Created once at start-up and
// shown modally by the main window's Reports command.
//
// Running a report: the chosen definition is read from the definitions
// file; with "Print Entire Database" chosen in search mode the search is
// ended for the run and put back in force afterwards; the status form runs
// it on the printer (Print, PDF) or into stored pages (View, shown in the
// preview unless cancelled; Print To File, into a text file).
#pragma once

#include <functional>

#include <QDialog>

#include "app/OpenDatabase.h"
#include "forms/DialogRoutines.h"
#include "report/ReportDef.h"

class QAction;
class QGroupBox;
class QLabel;
class QListWidget;
class QMenuBar;
class QPushButton;
class QRadioButton;

namespace klv::report {

class TPrintSelect;

class TMyReport : public QDialog {
  Q_OBJECT

 public:
  TMyReport(app::OpenDatabase& db, TPrintSelect& print_select, QWidget* parent = nullptr);
  ~TMyReport() override;

  // The designer (TUserReport unless replaced): opened with the definition
  // to edit and its index, or -1 for a new one; nullptr leaves Modify Report
  // and New Report disabled.
  using Designer = std::function<void(TMyReport& chooser, const ReportDef& def, int index)>;
  void SetDesigner(Designer designer);
  // An engine or file error that ended a run, for the general error display.
  std::function<void(const QString&)> OnError;

  QString UrpPath() const;
  // Fills the list from the definitions file; selects index when given.
  // Returns what is wrong with the file (empty when nothing is).
  QString LoadReports(int select = -1);
  // Shows the chooser modally; a damaged definitions file is said first.
  void ShowModal();

  QMenuBar* MenuBar = nullptr;
  QListWidget* ReportBox = nullptr;
  QGroupBox* WhatToPrint = nullptr;
  QRadioButton* EntireButton = nullptr;
  QRadioButton* SearchButton = nullptr;
  QLabel* SortPanel = nullptr;
  QPushButton* ViewButton = nullptr;
  QPushButton* PrintButton = nullptr;
  QPushButton* FileButton = nullptr;
  QPushButton* PdfButton = nullptr;
  QPushButton* HelpButton = nullptr;
  QPushButton* ExitButton = nullptr;
  QPushButton* ModifyButton = nullptr;
  QPushButton* NewButton = nullptr;
  QAction* MenuModify = nullptr;
  QAction* MenuNew = nullptr;

  void ViewButtonClick();
  void PrintButtonClick();
  void FileButtonClick();
  void PdfButtonClick();
  void MenuPrinterSetupClick();
  void ModifyButtonClick();
  void NewButtonClick();
  void HelpButtonClick();
  void ExitButtonClick();
  // Runs the selected report in mode 1, 2 or 3 (file: mode 3's text file),
  // or, with pdf set, into that PDF file.
  void RunReport(int mode, const QString& file, const QString& pdf = QString());

 protected:
  void showEvent(QShowEvent* event) override;
  void done(int result) override;

 private:
  void FormCreate();
  void FormShow();
  void SetColors();
  bool CheckSelection();
  // The selected definition's index, or -1 (the list's current row alone is
  // no selection: the list makes its first row current when it gets focus).
  int SelectedIndex() const;
  QString SortOrderText() const;

  app::OpenDatabase& db_;
  TPrintSelect& print_select_;
  Designer designer_;
  forms::SavedDimensions dimensions_;
};

}  // namespace klv::report
