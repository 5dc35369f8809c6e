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
  if (line.problem.isEmpty() && !line.paper.isEmpty() &&
      line.paper.compare(QLatin1String("a4"), Qt::CaseInsensitive) != 0 &&
      line.paper.compare(QLatin1String("letter"), Qt::CaseInsensitive) != 0)
    line.problem = QStringLiteral("--paper takes a4 or letter");
  if (line.problem.isEmpty() && !line.paper.isEmpty() && line.report.isEmpty())
    line.problem = QStringLiteral("--paper needs --report");
  if (line.problem.isEmpty() && line.report.isEmpty() != line.output.isEmpty())
    line.problem = line.report.isEmpty() ? QStringLiteral("--output needs --report")
                                         : QStringLiteral("--report needs --output");
  return line;
}

}  // namespace klv::app
