#include "report/TableRun.h"

#include <memory>

#include <QBuffer>

#include "report/PrtSel.h"
#include "report/Repprev.h"
#include "report/Rpform.h"
#include "report/engine/PaintedReport.h"
#include "report/engine/ReportFiler.h"
#include "report/engine/ReportPrinter.h"

namespace klv::report {

void RunReportOnTable(const ReportDef& def, dbf::Table& table, const RunSetup& setup,
                      app::AppState& state, const QString& pdf, QWidget* parent,
                      const std::function<void(const QString&)>& on_error) {
  try {
    const int printer = TPrintSelect::PrinterOf(state.settings);
    std::unique_ptr<engine::TBaseReport> target;
    QByteArray pages;
    QBuffer stream(&pages);
    RunSetup run = setup;
    if (!pdf.isEmpty()) {
      auto t = std::make_unique<engine::TPdfReport>(pdf);
      t->SetTitle(def.name);
      t->SetPaper(engine::PrinterPaper(printer));
      target = std::move(t);
      run.mode = kModePrint;
    } else if (run.mode == kModePrint) {
      auto t = std::make_unique<engine::TReportPrinter>();
      t->SetMessageParent(parent);
      target = std::move(t);
    } else {
      auto t = std::make_unique<engine::TReportFiler>();
      stream.open(QIODevice::ReadWrite);
      t->SetStream(&stream);
      t->SetPaper(engine::PrinterPaper(printer));
      target = std::move(t);
      run.mode = kModeView;
    }
    target->SelectPrinter(printer);
    bool aborted = true;
    {
      TReportForm status(def, table, run, state, *target, parent);
      status.OnError = on_error;
      status.exec();
      aborted = status.Aborted();
    }
    if (run.mode == kModeView && pdf.isEmpty() && !aborted) {
      TMyPreview preview(&stream, def.name, printer, state, parent);
      preview.exec();
    }
  } catch (const std::exception& e) {
    if (on_error) on_error(QString::fromUtf8(e.what()));
  }
}

}  // namespace klv::report
