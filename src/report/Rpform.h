// The report status form, TReportForm ("Report Status Screen"): shown
// modally, it runs one report at once through the target it is given and
// shows the page being printed. While the run goes on its button is Cancel,
// which aborts the run before the next record; then it is Ok, which closes
// the form, and the status reads "Report Canceled!" or "Report Completed!".
//
// The run itself is a ReportGenerator (ReportRun.h); this form only shows
// it and lets the window work between records.
#pragma once

#include <functional>
#include <memory>

#include <QDialog>
#include <QElapsedTimer>

#include "app/OpenDatabase.h"
#include "report/ReportDef.h"
#include "report/ReportRun.h"
#include "report/engine/BaseReport.h"

class QLabel;
class QPushButton;

namespace klv::report {

class TReportForm : public QDialog {
  Q_OBJECT

 public:
  // target: the engine target of mode (the printer for 1, the stored-page
  // target for 2 and 3); text_file: mode 3's file.
  TReportForm(const ReportDef& def, int mode, app::OpenDatabase& db, engine::TBaseReport& target,
              const QString& text_file, QWidget* parent = nullptr);
  // The same over a table of its own (a list copied out of the collection),
  // with the setup given; state gives the fonts and the scale.
  TReportForm(const ReportDef& def, dbf::Table& table, RunSetup setup, const app::AppState& state,
              engine::TBaseReport& target, QWidget* parent = nullptr);
  ~TReportForm() override;

  QLabel* StatusLabel = nullptr;
  QPushButton* OkButton = nullptr;

  // An engine or file error that ended the run, for the general error display.
  std::function<void(const QString&)> OnError;
  // After the form closed.
  bool Aborted() const { return aborted_; }
  bool Running() const { return running_; }
  const ReportGenerator& generator() const { return *generator_; }

  void OkButtonClick();
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormShow();
  void SetColors();
  void RunReport();
  void LetWindowWork();

  engine::TBaseReport& target_;
  std::unique_ptr<ReportGenerator> generator_;
  QElapsedTimer since_events_;
  // The run's latest status, shown when the window next gets to work: the
  // label is set once then instead of for every page.
  QString pending_status_;
  bool started_ = false;
  bool running_ = false;
  bool aborted_ = false;
  double scale_factor_ = 1.0;
  platform::UserFonts fonts_;
};

}  // namespace klv::report
