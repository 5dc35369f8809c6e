#include "report/CommandRun.h"

#include <QFileInfo>

#include "app/AppState.h"
#include "app/OpenDatabase.h"
#include "platform/Prompts.h"
#include "report/ReportRun.h"
#include "report/ReportTexts.h"
#include "report/UrpFile.h"
#include "report/engine/PaintedReport.h"
#include "report/engine/ReportFiler.h"

namespace klv::report {

int RunReportCommand(const QString& report, const QString& output, const QString& database,
                     engine::PaperSize paper) {
  const QString suffix = QFileInfo(output).suffix().toUpper();
  if (suffix != QLatin1String("TXT") && suffix != QLatin1String("PDF"))
    return platform::CommandFailure(
        QStringLiteral("the output %1 is neither a .TXT nor a .PDF file").arg(output), 2);

  platform::StderrPrompts prompts;

  app::AppState state;
  try {
    const QString path = app::PrepareCommandRun(state, database);
    if (!QFileInfo(path).isFile())
      return platform::CommandFailure(QStringLiteral("%1 does not exist").arg(path));

    // The definitions, found by name.
    const QString urp = DefinitionsFilePath(state.program_dir);
    std::vector<ReportDef> defs =
        QFileInfo::exists(urp) ? UrpFile(urp).Load().defs : BuiltInReportDefs();
    const ReportDef* def = nullptr;
    for (const ReportDef& d : defs) {
      if (d.name.trimmed().compare(report.trimmed(), Qt::CaseInsensitive) == 0) {
        def = &d;
        break;
      }
    }
    if (!def)
      return platform::CommandFailure(QString::fromLatin1(texts::kUnknownReport).arg(report, urp),
                                      2);

    app::OpenDatabase db(state);
    db.MyTable().SetTextFormat(app::MakeTextFormat(
        state.settings.date_format, state.settings.date_leading_zeros, state.formats));
    db.OpenAtStart(path);
    // A file name relative to where the command was given.
    const QString target_path = QFileInfo(output).absoluteFilePath();
    bool aborted = false;
    if (suffix == QLatin1String("PDF")) {
      engine::TPdfReport pdf(target_path);
      pdf.SetTitle(def->name);
      pdf.SetPaper(paper);
      ReportGenerator run(*def, db.MyTable(), pdf, MakeRunSetup(db, kModePrint, QString()));
      run.Run();
      aborted = run.Aborted() || !pdf.Written();
    } else {
      engine::TReportFiler filer;
      filer.SetPaper(paper);
      ReportGenerator run(*def, db.MyTable(), filer, MakeRunSetup(db, kModeFile, target_path));
      run.Run();
      aborted = run.Aborted();
    }
    db.Close();
    if (aborted)
      return platform::CommandFailure(QStringLiteral("%1 was not written").arg(target_path));
  } catch (const std::exception& e) {
    return platform::CommandFailure(QString::fromUtf8(e.what()).replace('\n', ' '));
  }
  return 0;
}

}  // namespace klv::report
