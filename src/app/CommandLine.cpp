#include "app/CommandLine.h"

#include <QFileInfo>

#include "app/AppTexts.h"

namespace klv::app {

CommandLine ParseCommandLine(const QStringList& arguments) {
  CommandLine line;
  for (int i = 0; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    if (a.toUpper() == QLatin1String(texts::kBrowseSwitch) || a == QLatin1String("--browse")) {
      line.browse = true;
    } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
      line.help = true;
    } else if (a == QLatin1String("--version")) {
      line.version = true;
    } else if (a == QLatin1String("--report") || a == QLatin1String("--output") ||
               a == QLatin1String("--paper")) {
      QString& value = a == QLatin1String("--report")   ? line.report
                       : a == QLatin1String("--output") ? line.output
                                                        : line.paper;
      if (i + 1 < arguments.size()) {
        value = arguments[++i];
      } else {
        line.problem = a + QStringLiteral(" needs a value");
      }
    } else if (a == QLatin1String("--statistics")) {
      line.statistics = true;
    } else if (a == QLatin1String("--want-list")) {
      line.want_list = true;
    } else if (a.startsWith(QLatin1String("--")) ||
               (a.startsWith('/') && a.size() > 1 && !a.mid(1).contains('/') &&
                !QFileInfo::exists(a))) {
      // A switch we do not know (a path like "/x.dbf" that exists is a file).
      line.error = a;
    } else if (line.database.isEmpty()) {
      line.database = a;
    } else {
      line.error = a;
    }
  }
  const int runs =
      (line.report.isEmpty() ? 0 : 1) + (line.statistics ? 1 : 0) + (line.want_list ? 1 : 0);
  if (!line.problem.isEmpty()) {
  } else if (runs > 1) {
    line.problem = QStringLiteral("--report, --statistics and --want-list exclude each other");
  } else if (runs == 1 && line.output.isEmpty()) {
    line.problem = !line.report.isEmpty() ? QStringLiteral("--report needs --output")
                   : line.statistics      ? QStringLiteral("--statistics needs --output")
                                          : QStringLiteral("--want-list needs --output");
  } else if (runs == 0 && !line.output.isEmpty()) {
    line.problem = QStringLiteral("--output needs --report");
  }
  if (line.problem.isEmpty() && !line.paper.isEmpty() &&
      line.paper.compare(QLatin1String("a4"), Qt::CaseInsensitive) != 0 &&
      line.paper.compare(QLatin1String("letter"), Qt::CaseInsensitive) != 0)
    line.problem = QStringLiteral("--paper takes a4 or letter");
  if (line.problem.isEmpty() && !line.paper.isEmpty() && line.report.isEmpty())
    line.problem = QStringLiteral("--paper needs --report");
  return line;
}

}  // namespace klv::app
