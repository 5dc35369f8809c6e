#include "report/Rpform.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>

#include "forms/ColorGroups.h"
#include "forms/DialogRoutines.h"
#include "report/ReportTexts.h"

namespace klv::report {

namespace {

QString L(const char* text) {
  return QString::fromLatin1(text);
}

// How long the run goes on before the window gets to work (Cancel, repaints).
constexpr int kEventsEveryMs = 25;

}  // namespace

TReportForm::TReportForm(const ReportDef& def, int mode, app::OpenDatabase& db,
                         engine::TBaseReport& target, const QString& text_file, QWidget* parent)
    : TReportForm(def, db.MyTable(), MakeRunSetup(db, mode, text_file), db.state(), target,
                  parent) {}

TReportForm::TReportForm(const ReportDef& def, dbf::Table& table, RunSetup setup,
                         const app::AppState& state, engine::TBaseReport& target, QWidget* parent)
    : QDialog(parent), target_(target) {
  setObjectName(QStringLiteral("ReportForm"));
  setWindowTitle(L(texts::kStatusCaption));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  setModal(true);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  setFont(font);
  StatusLabel = new QLabel(this);
  StatusLabel->setObjectName(QStringLiteral("StatusLabel"));
  StatusLabel->setGeometry(8, 8, 264, 64);
  StatusLabel->setAlignment(Qt::AlignCenter);
  OkButton = new QPushButton(L(texts::kStatusCancelButton), this);
  OkButton->setObjectName(QStringLiteral("OkButton"));
  OkButton->setGeometry(92, 80, 96, 27);
  OkButton->setDefault(true);
  resize(280, 115);
  connect(OkButton, &QPushButton::clicked, this, &TReportForm::OkButtonClick);

  scale_factor_ = state.scale_factor;
  fonts_ = state.fonts;
  generator_ = std::make_unique<ReportGenerator>(def, table, target_, std::move(setup));
  generator_->OnRecord = [this] { LetWindowWork(); };
  target_.OnStatus = [this](const QString& status) {
    pending_status_ = status;
    LetWindowWork();
  };
}

TReportForm::~TReportForm() {
  target_.OnStatus = nullptr;
}

void TReportForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (started_) return;
  started_ = true;
  FormShow();
  // The run starts once the form is on the screen.
  QTimer::singleShot(0, this, &TReportForm::RunReport);
}

void TReportForm::FormShow() {
  forms::ApplyUserFonts(this, fonts_);
  forms::ScaleAndCentre(this, scale_factor_);
  SetColors();
}

void TReportForm::SetColors() {
  forms::ApplyColorGroup(this, forms::ColorGroupId::kReport);
}

void TReportForm::LetWindowWork() {
  if (since_events_.isValid() && since_events_.elapsed() < kEventsEveryMs) return;
  since_events_.restart();
  if (!pending_status_.isNull()) {
    StatusLabel->setText(pending_status_.replace(QLatin1Char('\r'), QLatin1Char('\n')).trimmed());
    pending_status_ = QString();
  }
  QApplication::processEvents();
}

void TReportForm::RunReport() {
  running_ = true;
  since_events_.start();
  QString error;
  bool started = false;
  try {
    started = generator_->Run();
  } catch (const std::exception& e) {
    error = QString::fromUtf8(e.what());
  }
  running_ = false;
  pending_status_ = QString();
  aborted_ = !started || target_.Aborted() || !error.isEmpty();
  StatusLabel->setText(L(aborted_ ? texts::kStatusCanceled : texts::kStatusCompleted));
  OkButton->setText(L(texts::kStatusOkButton));
  if (!error.isEmpty() && OnError) OnError(error);
}

void TReportForm::OkButtonClick() {
  if (running_) {
    target_.Abort();
    return;
  }
  accept();
}

void TReportForm::reject() {
  // Escape while the run goes on cancels it; the form stays until Ok.
  if (running_) {
    target_.Abort();
    return;
  }
  QDialog::reject();
}

void TReportForm::closeEvent(QCloseEvent* event) {
  if (running_) {
    target_.Abort();
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

}  // namespace klv::report
