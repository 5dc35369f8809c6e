#include "report/PrtRange.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

#include "forms/ColorGroups.h"
#include "forms/DialogRoutines.h"
#include "platform/Prompts.h"
#include "report/ReportTexts.h"

namespace klv::report {

namespace {
QString L(const char* text) {
  return QString::fromLatin1(text);
}
}  // namespace

TPrintRange::TPrintRange(int page_count, double scale_factor, QWidget* parent)
    : QDialog(parent), page_count_(page_count), scale_factor_(scale_factor) {
  setObjectName(QStringLiteral("PrintRange"));
  setWindowTitle(L(texts::kPrintRangeCaption));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  setFont(font);
  auto edit = [this](const char* name, const QString& text, int left) {
    auto* e = new QLineEdit(text, this);
    e->setObjectName(QLatin1String(name));
    e->setMaxLength(3);
    e->setGeometry(left, 30, 80, 24);
    return e;
  };
  StartLabel = new QLabel(L(texts::kStartingPage), this);
  StartLabel->setGeometry(12, 8, 100, 18);
  EndLabel = new QLabel(L(texts::kEndingPage), this);
  EndLabel->setGeometry(124, 8, 100, 18);
  StartEdit = edit("StartEdit", QStringLiteral("1"), 12);
  EndEdit = edit("EndEdit", QString::number(page_count), 124);
  PrintButton = new QPushButton(L(texts::kRangePrintButton), this);
  PrintButton->setObjectName(QStringLiteral("PrintButton"));
  PrintButton->setGeometry(12, 68, 96, 27);
  PrintButton->setDefault(true);
  CancelButton = new QPushButton(L(texts::kCancelButton), this);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  CancelButton->setGeometry(124, 68, 96, 27);
  CancelButton->setAutoDefault(false);
  resize(232, 104);
  connect(PrintButton, &QPushButton::clicked, this, &TPrintRange::PrintButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &TPrintRange::CancelButtonClick);
}

void TPrintRange::showEvent(QShowEvent* event) {
  forms::ScaleAndCentre(this, scale_factor_);
  SetColors();
  QDialog::showEvent(event);
}

void TPrintRange::SetColors() {
  forms::ApplyColorGroup(this, forms::ColorGroupId::kReport);
}

void TPrintRange::Refuse(const char* text, QLineEdit* edit) {
  platform::prompts().Notify(this, L(texts::kError), L(text), platform::MsgIcon::kError);
  edit->setFocus();
}

void TPrintRange::PrintButtonClick() {
  bool ok_start = false, ok_end = false;
  const int start = StartEdit->text().trimmed().toInt(&ok_start);
  const int end = EndEdit->text().trimmed().toInt(&ok_end);
  if (!ok_start || start < 1 || start > page_count_) {
    Refuse(texts::kInvalidStartingPage, StartEdit);
    return;
  }
  if (!ok_end || end < start || end > page_count_) {
    Refuse(texts::kInvalidEndingPage, EndEdit);
    return;
  }
  first_ = start;
  last_ = end;
  accept();
}

void TPrintRange::CancelButtonClick() {
  reject();
}

}  // namespace klv::report
