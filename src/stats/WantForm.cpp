#include "stats/WantForm.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "forms/ColorGroups.h"
#include "forms/DialogRoutines.h"
#include "platform/Prompts.h"
#include "stats/StatsTexts.h"

namespace klv::stats {

using platform::L;

TWantForm::TWantForm(const app::AppState& state, Run run, QWidget* parent)
    : QDialog(parent), state_(state), run_(std::move(run)) {
  setObjectName(QStringLiteral("WantForm"));
  setWindowTitle(L(texts::kWantCaption));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  IntroLabel = new QLabel(L(texts::kWantIntro), this);
  ViewButton = new QPushButton(L(texts::kWantViewButton), this);
  ViewButton->setObjectName(QStringLiteral("ViewButton"));
  PrintButton = new QPushButton(L(texts::kWantPrintButton), this);
  PrintButton->setObjectName(QStringLiteral("PrintButton"));
  PdfButton = new QPushButton(L(texts::kWantPdfButton), this);
  PdfButton->setObjectName(QStringLiteral("PdfButton"));
  CloseButton = new QPushButton(L(texts::kWantCloseButton), this);
  CloseButton->setObjectName(QStringLiteral("CloseButton"));
  ViewButton->setDefault(true);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {ViewButton, PrintButton, PdfButton, CloseButton}) buttons->addWidget(b);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(IntroLabel);
  layout->addLayout(buttons);
  connect(ViewButton, &QPushButton::clicked, this, &TWantForm::ViewButtonClick);
  connect(PrintButton, &QPushButton::clicked, this, &TWantForm::PrintButtonClick);
  connect(PdfButton, &QPushButton::clicked, this, &TWantForm::PdfButtonClick);
  connect(CloseButton, &QPushButton::clicked, this, &QDialog::reject);
}

void TWantForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  forms::ApplyUserFonts(this, state_.fonts);
  forms::ApplyColorGroup(this, forms::ColorGroupId::kReport);
  forms::CentreOnScreen(this);
}

void TWantForm::ViewButtonClick() {
  if (run_) run_(2, QString());
}

void TWantForm::PrintButtonClick() {
  if (run_) run_(1, QString());
}

void TWantForm::PdfButtonClick() {
  platform::FileDialogRequest request;
  request.title = L(texts::kSavePdfTitle);
  request.filter = L(texts::kSavePdfFilter);
  request.default_suffix = L(texts::kSavePdfSuffix);
  request.overwrite_prompt = true;
  request.path_must_exist = true;
  const QString file = platform::prompts().SaveFile(this, request);
  if (file.isEmpty()) return;
  if (run_) run_(1, file);
}

}  // namespace klv::stats
