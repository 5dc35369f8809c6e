// The report designer (TUserReport, "Report Definition"): one definition's
// name, titles, width, lines per record, margins, options and fonts, with
// the layout grid (TRepLayout) and the fonts form (TReportFonts) behind its
// buttons. It works on a working copy; only "&Update" writes the
// definitions file, and "&Delete" removes the definition from it.
//
// How the report chooser opens it (one designer per use, modal):
//
//   TUserReport designer(parent, state, file);
//   const DesignResult r = designer.EditNew();          // New Report
//   const DesignResult r = designer.EditExisting(index); // Modify Report
//   if (r.changed) { reload the list from file; select r.select_index (-1: none) }
//
// EditNew starts from a fresh definition that Update appends (creating the
// file when missing). EditExisting reads record index (a read error is shown
// and nothing opens); Update overwrites it, or, when the name was changed,
// asks whether to append it as a new definition instead. After Update
// select_index is the written record's index; after Delete it is -1 and the
// file is one record shorter. Cancel leaves the file alone (changed false).
// A write that fails shows the input/output error and leaves both the file
// and the designer as they were, so the user can try again or cancel.
#pragma once

#include <array>
#include <exception>
#include <optional>

#include <QDialog>
#include <QString>

#include "app/AppState.h"
#include "report/ReportDef.h"
#include "report/UrpFile.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace klv::report {

struct DesignResult {
  bool changed = false;   // the definitions file was written
  int select_index = -1;  // the definition the chooser selects, or -1
};

class TUserReport : public QDialog {
  Q_OBJECT

 public:
  TUserReport(QWidget* parent, const app::AppState& state, UrpFile& file);

  // Shows the designer modally (see above).
  DesignResult EditNew();
  DesignResult EditExisting(int index);

  // The steps of EditNew and EditExisting before the designer is shown; the
  // tests drive the handlers after them. PrepareExisting returns false (the
  // error shown) when the definition cannot be read.
  void PrepareNew();
  bool PrepareExisting(int index);
  const DesignResult& result() const { return result_; }
  const ReportDef& working_copy() const { return def_; }
  bool modifying() const { return modify_; }

  // Handlers.
  void WidthClick(int width);
  void NumLinesExit();
  void ReportNameExit();
  void GroupLevel1Click();
  void SetFontsButtonClick();
  void SpecifyContentButtonClick();
  void UpdateButtonClick();
  void DeleteButtonClick();
  void CancelButtonClick();
  void HelpButtonClick();
  void SetColors();

  // The controls.
  QLineEdit* ReportName = nullptr;
  std::array<QLineEdit*, 3> Titles{};  // Title1 to Title3
  QGroupBox* WidthGroup = nullptr;
  QRadioButton* Width90 = nullptr;
  QRadioButton* Width120 = nullptr;
  QRadioButton* Width150 = nullptr;
  QLineEdit* NumLines = nullptr;
  QLineEdit* TopMargin = nullptr;
  QLineEdit* BottomMargin = nullptr;
  QLineEdit* LeftMargin = nullptr;
  QLineEdit* RightMargin = nullptr;
  QCheckBox* ColumnHeaders = nullptr;
  QCheckBox* PageNumbers = nullptr;
  QCheckBox* PrintLandscape = nullptr;
  QCheckBox* DateOnPages = nullptr;
  QCheckBox* UseTotals = nullptr;
  QCheckBox* HorizontalLines = nullptr;
  QCheckBox* VerticalLines = nullptr;
  QCheckBox* GroupLevel1 = nullptr;
  QCheckBox* GroupLevel2 = nullptr;
  QCheckBox* PrintObverse = nullptr;
  QLineEdit* TitlesFontText = nullptr;
  QLineEdit* HeaderFontText = nullptr;
  QLineEdit* BodyFontText = nullptr;
  QLineEdit* FootnoteFontText = nullptr;
  QPushButton* SetFontsButton = nullptr;
  QPushButton* SpecifyContentButton = nullptr;
  QPushButton* UpdateButton = nullptr;
  QPushButton* DeleteButton = nullptr;
  QPushButton* CancelButton = nullptr;
  QPushButton* HelpButton = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();
  // Puts the working copy into the controls.
  void ShowDefinition();
  void ShowFontTexts();
  void ShowWidth(int width);
  void UpdateEnablings();
  // The number of lines typed, when it is a number.
  std::optional<int> TypedLines() const;
  // Checks the number of lines (0 to 12); says so and puts the focus back
  // when it is not. Stores it in the working copy when it is.
  bool CheckNumLines();
  // Moves every control into the working copy; false (said, focus back)
  // when a margin is not a number.
  bool StoreControls();
  // Tells where a change kept the damaged definitions file, if it did.
  void TellKeptAside();
  void ShowIoError(const std::exception& e);

  const app::AppState& state_;
  UrpFile& file_;
  ReportDef def_;
  bool modify_ = false;
  int index_ = -1;
  QString original_name_;
  DesignResult result_;
  bool shown_ = false;
};

}  // namespace klv::report
