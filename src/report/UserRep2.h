// The report layout form (TRepLayout, "Specify Report Layout"): the item
// grid of a definition. Under the heading "Report: " and the name it draws
// one row per record line in use (band "Report Body") and one for the totals
// line (band "Report Totals"), each row split into one box per item up to
// the line's end, as wide as the item's share of the report width (the last
// box runs to the row's end). Field boxes show the field's caption in black
// on the left, label boxes their text in red on the right, fillers "Filler"
// in green in the middle; a text too long for its box loses characters from
// its end. Pressing and releasing a mouse button on the same box opens the
// item form (TReportPart) for it. The form works on its own copy of the
// definition: "&Ok" accepts (the caller takes definition()), "&Cancel"
// drops it.
#pragma once

#include <QDialog>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <optional>
#include <vector>

#include "app/AppState.h"
#include "report/ReportDef.h"

class QFontMetricsF;
class QPushButton;

namespace klv::report {

// One box of the grid: the line (1 to 12, or kTotalsLine) and item (1 to 20)
// it stands for and where it is drawn, in grid units before scaling.
struct LayoutBox {
  int line_no = 0;
  int item_no = 0;
  QRectF rect;
};

// The boxes of def's grid, body rows first, in item order.
std::vector<LayoutBox> LayoutBoxes(const ReportDef& def);

// The text a box shows and how: what it says, its colour and alignment.
struct BoxText {
  QString text;
  Qt::GlobalColor color;
  Qt::Alignment alignment;
};
// field_captions: the field caption table, by field number (1 to 20).
BoxText BoxTextOf(const ReportItem& item, bool totals_line, const QStringList& field_captions);
// text without characters at its end until it is at most width pixels wide
// in metrics.
QString CutToWidth(const QString& text, const QFontMetricsF& metrics, qreal width);

class TRepLayout;

// The drawing surface of the grid.
class LayoutGrid : public QWidget {
  Q_OBJECT

 public:
  LayoutGrid(TRepLayout* layout, double scale);
  std::optional<LayoutBox> BoxAt(const QPointF& pos) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  TRepLayout* layout_;
  double scale_;
  std::optional<LayoutBox> pressed_;
};

class TRepLayout : public QDialog {
  Q_OBJECT

 public:
  TRepLayout(QWidget* parent, const app::AppState& state, const ReportDef& def);

  const ReportDef& definition() const { return def_; }
  ReportDef& definition() { return def_; }
  // The field caption table, by field number (entry 0 unused).
  const QStringList& field_captions() const { return captions_; }

  // A box clicked: opens the item form for it, then redraws.
  void BoxClick(int line_no, int item_no);
  void OkButtonClick();
  void CancelButtonClick();
  void SetColors();

  LayoutGrid* Grid = nullptr;
  QPushButton* OkButton = nullptr;
  QPushButton* CancelButton = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  const app::AppState& state_;
  ReportDef def_;
  QStringList captions_;
  bool shown_ = false;
};

}  // namespace klv::report
