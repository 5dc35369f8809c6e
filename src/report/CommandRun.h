// A report run from the command line, without a window:
//   klvcoin --report NAME --output FILE.TXT|FILE.PDF [--paper a4|letter] [FILE.DBF]
// The database (the one named, else the last one, else the default) is
// opened as at start, with its own settings and sort order; the report named
// (without regard to letter case) is taken from the definitions file, or
// from the built-in definitions when that file does not exist yet. A .PDF
// output gets the pages the printer would get; any other name a text file
// as Print To File writes it; both are laid out on paper. Needs a
// QGuiApplication.
#pragma once

#include <QString>

#include "report/engine/PaintedReport.h"

namespace klv::report {

// Exit status: 0 done, 1 the report could not be made (one line on
// standard error says why), 2 a wrong request (no such report, an output
// name that is neither .TXT nor .PDF).
int RunReportCommand(const QString& report, const QString& output, const QString& database,
                     engine::PaperSize paper = engine::LocalePaper());

}  // namespace klv::report
