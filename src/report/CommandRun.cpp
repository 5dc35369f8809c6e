#include "report/CommandRun.h"

#include <cstdio>

#include <QFileInfo>

#include "app/AppState.h"
#include "app/OpenDatabase.h"
#include "platform/Intl.h"
#include "platform/Paths.h"
#include "platform/Prompts.h"
#include "report/ReportRun.h"
#include "report/ReportTexts.h"
#include "report/UrpFile.h"
#include "report/engine/PaintedReport.h"
#include "report/engine/ReportFiler.h"

namespace klv::report {

namespace {

// Without a window nobody can answer: every message goes to standard error
// as one line, every question takes its dismissal answer, dialogs cancel.
class StderrPrompts : public platform::Prompts {
 public:
  platform::MsgButton MessageBox(QWidget*, const QString&, const QString& text, platform::MsgIcon,
                                 platform::MsgButtons buttons, platform::MsgButton) override {
    std::fprintf(stderr, "klvcoin: %s\n", qPrintable(QString(text).replace('\n', ' ')));
    return platform::DismissAnswer(buttons);
  }
  void Beep() override {}
  QString OpenFile(QWidget*, const platform::FileDialogRequest&) override { return {}; }
  QString SaveFile(QWidget*, const platform::FileDialogRequest&) override { return {}; }
  QString ChooseDirectory(QWidget*, const QString&, const QString&) override { return {}; }
  std::optional<QFont> ChooseFont(QWidget*, const QFont&) override { return std::nullopt; }
  std::optional<QColor> ChooseColor(QWidget*, const QColor&) override { return std::nullopt; }
  bool PrintDialog(QWidget*, QPrinter&) override { return false; }
  bool PrinterSetup(QWidget*, QPrinter&) override { return false; }
};

int Fail(const QString& message, int status = 1) {
  std::fprintf(stderr, "klvcoin: %s\n", qPrintable(message));
  return status;
}

}  // namespace

int RunReportCommand(const QString& report, const QString& output, const QString& database,
                     engine::PaperSize paper) {
  const QString suffix = QFileInfo(output).suffix().toUpper();
  if (suffix != QLatin1String("TXT") && suffix != QLatin1String("PDF"))
    return Fail(QStringLiteral("the output %1 is neither a .TXT nor a .PDF file").arg(output), 2);

  StderrPrompts prompts;
  platform::Prompts* previous = platform::SetPrompts(&prompts);
  struct Restore {
    platform::Prompts* previous;
    ~Restore() { platform::SetPrompts(previous); }
  } restore{previous};

  app::AppState state;
  const platform::Directories dirs = platform::LocateDirectories();
  state.program_dir = dirs.program;
  state.start_dir = dirs.start;
  state.windows_dir = dirs.windows;
  state.files.program_ini = app::ProgramSettingsPath(dirs.windows);
  state.files.start_dir = dirs.start;
  try {
    app::ReadSettings(state.settings, app::kProgramSettings, state.files, QString());
    state.intl = platform::ReadIntlSettings(dirs.windows);
    state.formats = app::MakeNumberFormats(state.settings, state.intl);

    QString path = database;
    if (path.isEmpty()) path = state.settings.last_database;
    if (path.isEmpty() || !QFileInfo(path).isFile())
      path = state.program_dir + QStringLiteral("/MASTER.DBF");
    if (!QFileInfo(path).isFile()) return Fail(QStringLiteral("%1 does not exist").arg(path));

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
    if (!def) return Fail(QString::fromLatin1(texts::kUnknownReport).arg(report, urp), 2);

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
    if (aborted) return Fail(QStringLiteral("%1 was not written").arg(target_path));
  } catch (const std::exception& e) {
    return Fail(QString::fromUtf8(e.what()).replace('\n', ' '));
  }
  return 0;
}

}  // namespace klv::report
