// The item form (TReportPart, "Select Report Part"): what one item of one
// line is (filler, label with its text, or field from the list) and its
// width. "&Ok" stores it into the definition it was given (StoreItem: the
// line's widths then add up to the report width) and closes; a width that
// is not a whole number, or "Field" with no field chosen, is refused with a
// message and changes nothing. "&Cancel" changes nothing.
#pragma once

#include <QDialog>

#include "app/AppState.h"
#include "report/ReportDef.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace klv::report {

// The panel's text: "Line 3, Item 2" or "Totals Line, Item 2".
QString SelectedPartText(int line_no, int item_no);

class TReportPart : public QDialog {
  Q_OBJECT

 public:
  // line_no: 1 to 12, or kTotalsLine; item_no: 1 to 20.
  TReportPart(QWidget* parent, const app::AppState& state, ReportDef& def, int line_no,
              int item_no);

  void KindClick();
  void OkButtonClick();
  void CancelButtonClick();
  void SetColors();

  QLabel* SelectedPart = nullptr;
  QRadioButton* FillerRadio = nullptr;
  QRadioButton* LabelRadio = nullptr;
  QRadioButton* FieldRadio = nullptr;
  QLineEdit* LabelName = nullptr;
  QListWidget* FieldList = nullptr;
  QLineEdit* FieldWidth = nullptr;
  QPushButton* OkButton = nullptr;
  QPushButton* CancelButton = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  const app::AppState& state_;
  ReportDef& def_;
  int line_no_;
  int item_no_;
  bool shown_ = false;
};

}  // namespace klv::report
