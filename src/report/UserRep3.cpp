#include "report/UserRep3.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QShowEvent>

#include "forms/ColorGroups.h"
#include "forms/DialogRoutines.h"
#include "platform/Prompts.h"
#include "report/ReportTexts.h"

namespace klv::report {

namespace t = report::texts;
using platform::MsgIcon;
using platform::prompts;

namespace {

QString L(const char* text) {
  return QString::fromLatin1(text);
}

}  // namespace

QString SelectedPartText(int line_no, int item_no) {
  if (line_no == kTotalsLine) return L(t::kPartTotalsItem) + QString::number(item_no);
  return L(t::kPartLine) + QString::number(line_no) + L(t::kPartItem) + QString::number(item_no);
}

TReportPart::TReportPart(QWidget* parent, const app::AppState& state, ReportDef& def, int line_no,
                         int item_no)
    : QDialog(parent), state_(state), def_(def), line_no_(line_no), item_no_(item_no) {
  setObjectName(QStringLiteral("ReportPart"));
  setWindowTitle(L(t::kReportPartCaption));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  setFont(font);

  auto* panel = new QGroupBox(L(t::kSelectedPart), this);
  panel->setObjectName(QStringLiteral("SelectedPartPanel"));
  panel->setGeometry(12, 8, 376, 48);
  SelectedPart = new QLabel(SelectedPartText(line_no, item_no), panel);
  SelectedPart->setObjectName(QStringLiteral("SelectedPart"));
  SelectedPart->setAlignment(Qt::AlignCenter);
  SelectedPart->setGeometry(8, 20, 360, 20);

  auto* kinds = new QButtonGroup(this);
  auto radio = [this, kinds](const char* text, const char* name, int y) {
    auto* r = new QRadioButton(L(text), this);
    r->setObjectName(QLatin1String(name));
    r->setGeometry(16, y, 240, 20);
    kinds->addButton(r);
    connect(r, &QRadioButton::clicked, this, &TReportPart::KindClick);
    return r;
  };
  FillerRadio = radio(t::kFillerRadio, "FillerRadio", 66);
  LabelRadio = radio(t::kLabelRadio, "LabelRadio", 90);
  FieldRadio = radio(t::kFieldRadio, "FieldRadio", 114);

  auto* label_label = new QLabel(L(t::kLabelTextLabel), this);
  label_label->setGeometry(16, 142, 200, 16);
  LabelName = new QLineEdit(this);
  LabelName->setObjectName(QStringLiteral("LabelName"));
  LabelName->setMaxLength(40);
  LabelName->setGeometry(16, 160, 372, 24);
  auto* list_label = new QLabel(L(t::kFieldListLabel), this);
  list_label->setGeometry(16, 192, 200, 16);
  FieldList = new QListWidget(this);
  FieldList->setObjectName(QStringLiteral("FieldList"));
  FieldList->setGeometry(16, 210, 220, 180);
  auto* width_label = new QLabel(L(t::kFieldWidthLabel), this);
  width_label->setGeometry(248, 192, 140, 16);
  FieldWidth = new QLineEdit(this);
  FieldWidth->setObjectName(QStringLiteral("FieldWidth"));
  FieldWidth->setMaxLength(3);
  FieldWidth->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), this));
  FieldWidth->setGeometry(248, 210, 60, 24);

  OkButton = new QPushButton(L(t::kOkButton), this);
  OkButton->setObjectName(QStringLiteral("OkButton"));
  OkButton->setGeometry(100, 402, 90, 28);
  OkButton->setDefault(true);
  CancelButton = new QPushButton(L(t::kCancelButton), this);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  CancelButton->setGeometry(210, 402, 90, 28);
  connect(OkButton, &QPushButton::clicked, this, &TReportPart::OkButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &TReportPart::CancelButtonClick);
  resize(400, 440);

  const bool totals = line_no == kTotalsLine;
  if (totals) {
    for (const char* name : t::kTotalsFieldNames) FieldList->addItem(L(name));
  } else {
    for (int f = 1; f <= db::kFieldCount; ++f)
      FieldList->addItem(state_.settings.field_names[static_cast<size_t>(f)]);
  }
  const ReportItem& item = LineOf(def_, line_no).at(static_cast<size_t>(item_no - 1));
  const ItemKind kind = KindOf(item);
  FillerRadio->setChecked(kind == ItemKind::kFiller);
  LabelRadio->setChecked(kind == ItemKind::kLabel);
  FieldRadio->setChecked(kind == ItemKind::kField);
  LabelName->setText(item.label);
  if (kind == ItemKind::kField && item.field >= 1 && item.field <= FieldList->count())
    FieldList->setCurrentRow(item.field - 1);
  FieldWidth->setText(QString::number(item.width));
  KindClick();
}

void TReportPart::KindClick() {
  LabelName->setEnabled(LabelRadio->isChecked());
  FieldList->setEnabled(FieldRadio->isChecked());
}

void TReportPart::OkButtonClick() {
  bool ok = false;
  const int width = FieldWidth->text().trimmed().toInt(&ok);
  if (!ok) {
    prompts().Notify(this, L(t::kError), L(t::kInvalidWidth), MsgIcon::kError);
    FieldWidth->setFocus();
    return;
  }
  ItemKind kind = ItemKind::kFiller;
  if (LabelRadio->isChecked()) kind = ItemKind::kLabel;
  if (FieldRadio->isChecked()) kind = ItemKind::kField;
  const int field = FieldList->currentItem() && FieldList->currentItem()->isSelected()
                        ? FieldList->currentRow() + 1
                        : 0;
  if (kind == ItemKind::kField && field == 0) {
    prompts().Notify(this, L(t::kError), L(t::kNoFieldChosen), MsgIcon::kError);
    FieldList->setFocus();
    return;
  }
  StoreItem(def_, line_no_, item_no_, kind, LabelName->text(), field, width);
  accept();
}

void TReportPart::CancelButtonClick() {
  reject();
}

void TReportPart::SetColors() {
  forms::ApplyColorGroup(this, forms::ColorGroupId::kReport);
}

void TReportPart::showEvent(QShowEvent* event) {
  if (!shown_) {
    shown_ = true;
    forms::ApplyUserFonts(this, state_.fonts);
    forms::ScaleAndCentre(this, state_.scale_factor);
    SetColors();
  }
  QDialog::showEvent(event);
}

}  // namespace klv::report
