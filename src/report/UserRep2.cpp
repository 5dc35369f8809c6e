#include "report/UserRep2.h"

#include <algorithm>

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>

#include "forms/ColorGroups.h"
#include "forms/DialogRoutines.h"
#include "report/ReportTexts.h"
#include "report/UserRep3.h"

namespace klv::report {

namespace t = report::texts;

namespace {

// The grid in its own units (multiplied by the screen scale factor).
constexpr qreal kRowLeft = 4, kRowRight = 629, kRowHeight = 20;
constexpr qreal kBodyTop = 75, kTotalsTop = 355;
constexpr qreal kGridWidth = 633, kGridHeight = 385;

void AddRow(std::vector<LayoutBox>& boxes, const ReportDef& def, int line_no, qreal top) {
  const ReportLine& line = LineOf(def, line_no);
  // A line whose first item has no width still offers that item to edit.
  const int count = std::max(1, LineLength(line));
  const qreal width = def.width > 0 ? def.width : 1;
  qreal left = kRowLeft;
  int sum = 0;
  for (int i = 0; i < count; ++i) {
    sum += std::max<int>(0, line[static_cast<size_t>(i)].width);
    qreal right = kRowLeft + (kRowRight - kRowLeft) * sum / width;
    if (i + 1 == count || right > kRowRight) right = kRowRight;
    boxes.push_back(LayoutBox{line_no, i + 1, QRectF(left, top, right - left, kRowHeight)});
    left = right;
    if (right >= kRowRight) break;
  }
}

}  // namespace

std::vector<LayoutBox> LayoutBoxes(const ReportDef& def) {
  std::vector<LayoutBox> boxes;
  const int lines = std::clamp<int>(def.lines, 0, kMaxRecordLines);
  for (int n = 1; n <= lines; ++n) AddRow(boxes, def, n, kBodyTop + (n - 1) * kRowHeight);
  AddRow(boxes, def, kTotalsLine, kTotalsTop);
  return boxes;
}

BoxText BoxTextOf(const ReportItem& item, bool totals_line, const QStringList& field_captions) {
  switch (KindOf(item)) {
    case ItemKind::kFiller:
      return {QString::fromLatin1(t::kFillerBox), Qt::darkGreen, Qt::AlignCenter};
    case ItemKind::kLabel:
      return {item.label, Qt::red, Qt::AlignRight | Qt::AlignVCenter};
    case ItemKind::kField:
      break;
  }
  QString caption;
  if (totals_line) {
    if (item.field >= 1 && item.field <= 4)
      caption = QString::fromLatin1(t::kTotalsFieldNames[item.field - 1]);
  } else if (item.field >= 1 && item.field < field_captions.size()) {
    caption = field_captions[item.field];
  }
  if (caption.isEmpty()) caption = item.name;
  return {caption, Qt::black, Qt::AlignLeft | Qt::AlignVCenter};
}

QString CutToWidth(const QString& text, const QFontMetricsF& metrics, qreal width) {
  QString cut = text;
  while (!cut.isEmpty() && metrics.horizontalAdvance(cut) > width) cut.chop(1);
  return cut;
}

// ---------------------------------------------------------------------------
// LayoutGrid

LayoutGrid::LayoutGrid(TRepLayout* layout, double scale)
    : QWidget(layout), layout_(layout), scale_(scale) {
  setObjectName(QStringLiteral("LayoutGrid"));
  setFixedSize(qRound(kGridWidth * scale), qRound(kGridHeight * scale));
}

std::optional<LayoutBox> LayoutGrid::BoxAt(const QPointF& pos) const {
  const QPointF unscaled = pos / scale_;
  for (const LayoutBox& box : LayoutBoxes(layout_->definition())) {
    if (box.rect.contains(unscaled)) return box;
  }
  return std::nullopt;
}

void LayoutGrid::paintEvent(QPaintEvent*) {
  const ReportDef& def = layout_->definition();
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  p.scale(scale_, scale_);
  QFont font(QString::fromLatin1(t::kGridFont));
  font.setPointSizeF(8);
  p.setFont(font);
  const QFontMetricsF metrics(font, this);

  p.setPen(Qt::black);
  QFont heading = font;
  heading.setBold(true);
  p.setFont(heading);
  p.drawText(QRectF(kRowLeft, 8, kRowRight - kRowLeft, 18), Qt::AlignLeft | Qt::AlignVCenter,
             QString::fromLatin1(t::kReportHeading) + def.name);
  p.drawText(QRectF(kRowLeft, kBodyTop - 22, kRowRight - kRowLeft, 18),
             Qt::AlignLeft | Qt::AlignVCenter, QString::fromLatin1(t::kReportBodyBand));
  p.drawText(QRectF(kRowLeft, kTotalsTop - 22, kRowRight - kRowLeft, 18),
             Qt::AlignLeft | Qt::AlignVCenter, QString::fromLatin1(t::kReportTotalsBand));
  p.setFont(font);

  for (const LayoutBox& box : LayoutBoxes(def)) {
    const bool totals = box.line_no == kTotalsLine;
    const ReportItem& item = LineOf(def, box.line_no)[static_cast<size_t>(box.item_no - 1)];
    const BoxText text = BoxTextOf(item, totals, layout_->field_captions());
    p.setPen(QColor(Qt::gray));
    p.drawRect(box.rect);
    const QRectF inner = box.rect.adjusted(2, 0, -2, 0);
    p.setPen(QColor(text.color));
    p.drawText(inner, static_cast<int>(text.alignment),
               CutToWidth(text.text, metrics, inner.width()));
  }
}

void LayoutGrid::mousePressEvent(QMouseEvent* event) {
  pressed_ = BoxAt(event->position());
}

void LayoutGrid::mouseReleaseEvent(QMouseEvent* event) {
  const std::optional<LayoutBox> released = BoxAt(event->position());
  const std::optional<LayoutBox> pressed = pressed_;
  pressed_.reset();
  if (pressed && released && pressed->line_no == released->line_no &&
      pressed->item_no == released->item_no)
    layout_->BoxClick(released->line_no, released->item_no);
}

// ---------------------------------------------------------------------------
// TRepLayout

TRepLayout::TRepLayout(QWidget* parent, const app::AppState& state, const ReportDef& def)
    : QDialog(parent), state_(state), def_(def) {
  setObjectName(QStringLiteral("RepLayout"));
  setWindowTitle(QString::fromLatin1(t::kRepLayoutCaption));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  setFont(font);
  captions_.append(QString());
  for (int f = 1; f <= db::kFieldCount; ++f)
    captions_.append(state_.settings.field_names[static_cast<size_t>(f)]);

  const double scale = state_.scale_factor > 0 ? state_.scale_factor : 1.0;
  Grid = new LayoutGrid(this, scale);
  Grid->move(0, 0);
  const int bottom = Grid->height();
  OkButton = new QPushButton(QString::fromLatin1(t::kOkButton), this);
  OkButton->setObjectName(QStringLiteral("OkButton"));
  OkButton->setGeometry(Grid->width() / 2 - 100, bottom + 8, 90, 28);
  CancelButton = new QPushButton(QString::fromLatin1(t::kCancelButton), this);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  CancelButton->setGeometry(Grid->width() / 2 + 10, bottom + 8, 90, 28);
  connect(OkButton, &QPushButton::clicked, this, &TRepLayout::OkButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &TRepLayout::CancelButtonClick);
  setFixedSize(Grid->width(), bottom + 44);
}

void TRepLayout::BoxClick(int line_no, int item_no) {
  TReportPart part(this, state_, def_, line_no, item_no);
  part.exec();
  Grid->update();
}

void TRepLayout::OkButtonClick() {
  accept();
}

void TRepLayout::CancelButtonClick() {
  reject();
}

void TRepLayout::SetColors() {
  forms::ApplyColorGroup(this, forms::ColorGroupId::kReport);
}

void TRepLayout::showEvent(QShowEvent* event) {
  if (!shown_) {
    shown_ = true;
    // The grid is drawn to the scale factor already; only the form is centred.
    forms::ApplyUserFonts(this, state_.fonts);
    forms::CentreOnScreen(this);
    SetColors();
  }
  QDialog::showEvent(event);
}

}  // namespace klv::report
