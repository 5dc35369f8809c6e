// A report run over a table of its own rather than the collection's (a list
// copied out of it), into the preview, the printer or a PDF file, with the
// status form and the preview a report from the chooser gets.
#pragma once

#include <functional>

#include <QString>

#include "app/AppState.h"
#include "db/dbf/Table.h"
#include "report/ReportDef.h"
#include "report/ReportRun.h"

class QWidget;

namespace klv::report {

// setup.mode kModeView shows the preview afterwards, kModePrint prints to
// the selected printer, or writes pdf when it is not empty. on_error gets an
// engine or file error that ended the run.
void RunReportOnTable(const ReportDef& def, dbf::Table& table, const RunSetup& setup,
                      app::AppState& state, const QString& pdf, QWidget* parent,
                      const std::function<void(const QString&)>& on_error);

}  // namespace klv::report
