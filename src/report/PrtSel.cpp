#include "report/PrtSel.h"

#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>

#include "forms/ColorGroups.h"
#include "forms/DialogRoutines.h"
#include "report/ReportTexts.h"
#include "report/engine/ReportPrinter.h"

namespace klv::report {

namespace {
QString L(const char* text) {
  return QString::fromLatin1(text);
}
}  // namespace

TPrintSelect::TPrintSelect(app::AppState& state, QWidget* parent) : QDialog(parent), state_(state) {
  setObjectName(QStringLiteral("PrintSelect"));
  setWindowTitle(L(texts::kPrintSelectCaption));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  setFont(font);
  DefaultButton = new QRadioButton(L(texts::kDefaultPrinter), this);
  DefaultButton->setObjectName(QStringLiteral("DefaultButton"));
  DefaultButton->setGeometry(12, 10, 200, 22);
  OtherButton = new QRadioButton(L(texts::kOtherPrinter), this);
  OtherButton->setObjectName(QStringLiteral("OtherButton"));
  OtherButton->setGeometry(12, 36, 200, 22);
  PrinterBox = new QComboBox(this);
  PrinterBox->setObjectName(QStringLiteral("PrinterBox"));
  PrinterBox->setEditable(false);
  PrinterBox->setGeometry(32, 62, 260, 24);
  OkButton = new QPushButton(L(texts::kOkButton), this);
  OkButton->setObjectName(QStringLiteral("OkButton"));
  OkButton->setGeometry(48, 100, 96, 27);
  OkButton->setDefault(true);
  CancelButton = new QPushButton(L(texts::kCancelButton), this);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  CancelButton->setGeometry(160, 100, 96, 27);
  CancelButton->setAutoDefault(false);
  resize(304, 136);
  connect(OkButton, &QPushButton::clicked, this, &TPrintSelect::OkButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &TPrintSelect::CancelButtonClick);
  connect(OtherButton, &QRadioButton::toggled, PrinterBox, &QWidget::setEnabled);
}

void TPrintSelect::showEvent(QShowEvent* event) {
  FormShow();
  QDialog::showEvent(event);
}

void TPrintSelect::FormShow() {
  forms::ApplyUserFonts(this, state_.fonts);
  forms::ScaleAndCentre(this, state_.scale_factor);
  const app::Settings& s = state_.settings;
  PrinterBox->clear();
  PrinterBox->addItems(engine::PrinterNames());
  (s.default_printer ? DefaultButton : OtherButton)->setChecked(true);
  PrinterBox->setEnabled(!s.default_printer);
  if (s.printer_index >= 0 && s.printer_index < PrinterBox->count())
    PrinterBox->setCurrentIndex(s.printer_index);
  SetColors();
}

void TPrintSelect::SetColors() {
  forms::ApplyColorGroup(this, forms::ColorGroupId::kReport);
}

void TPrintSelect::OkButtonClick() {
  app::Settings& s = state_.settings;
  s.default_printer = DefaultButton->isChecked();
  // An empty list keeps the index as it was.
  if (PrinterBox->currentIndex() >= 0) s.printer_index = PrinterBox->currentIndex();
  accept();
}

void TPrintSelect::CancelButtonClick() {
  reject();
}

}  // namespace klv::report
