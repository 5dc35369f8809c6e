#include "stats/CommandRun.h"

#include <functional>

#include <QFileInfo>

#include "app/AppState.h"
#include "app/OpenDatabase.h"
#include "platform/Prompts.h"
#include "report/ReportRun.h"
#include "stats/Statistics.h"
#include "stats/WantList.h"

namespace klv::stats {

namespace {

// Opens the database as at start and runs work on it with the output's
// absolute path; work returns false when the file was not written.
int WithDatabase(const QString& output, const QString& database,
                 const std::function<bool(app::OpenDatabase&, const QString&)>& work) {
  platform::StderrPrompts prompts;

  app::AppState state;
  try {
    const QString path = app::PrepareCommandRun(state, database);
    if (!QFileInfo(path).isFile())
      return platform::CommandFailure(QStringLiteral("%1 does not exist").arg(path));

    app::OpenDatabase db(state);
    db.MyTable().SetTextFormat(app::MakeTextFormat(
        state.settings.date_format, state.settings.date_leading_zeros, state.formats));
    db.OpenAtStart(path);
    const QString target = QFileInfo(output).absoluteFilePath();
    const bool written = work(db, target);
    db.Close();
    if (!written) return platform::CommandFailure(QStringLiteral("%1 was not written").arg(target));
  } catch (const std::exception& e) {
    return platform::CommandFailure(QString::fromUtf8(e.what()).replace('\n', ' '));
  }
  return 0;
}

}  // namespace

int RunStatisticsCommand(const QString& output, const QString& database) {
  const QString suffix = QFileInfo(output).suffix().toUpper();
  if (suffix != QLatin1String("PDF") && suffix != QLatin1String("CSV"))
    return platform::CommandFailure(
        QStringLiteral("the output %1 is neither a .PDF nor a .CSV file").arg(output), 2);
  return WithDatabase(output, database, [&](app::OpenDatabase& db, const QString& target) {
    const Statistics stats = CollectStatistics(db.MyTable(), false);
    if (suffix == QLatin1String("CSV")) {
      WriteStatisticsCsv(stats, target);
      return true;
    }
    return WriteStatisticsPdf(stats, db.state().formats, target);
  });
}

int RunWantListCommand(const QString& output, const QString& database) {
  const QString suffix = QFileInfo(output).suffix().toUpper();
  if (suffix != QLatin1String("PDF") && suffix != QLatin1String("CSV") &&
      suffix != QLatin1String("TXT"))
    return platform::CommandFailure(
        QStringLiteral("the output %1 is neither a .PDF, a .CSV nor a .TXT file").arg(output), 2);
  return WithDatabase(output, database, [&](app::OpenDatabase& db, const QString& target) {
    WantList list(db.MyTable());
    if (suffix == QLatin1String("CSV")) {
      WriteWantListCsv(list, db.state().settings.field_names, target);
      return true;
    }
    const int mode = suffix == QLatin1String("TXT") ? report::kModeFile : report::kModePrint;
    return WriteWantListReport(list, report::MakeRunSetup(db, mode, target), target);
  });
}

}  // namespace klv::stats
