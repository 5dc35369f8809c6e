// klvcoin [/BROWSE | --browse] [FILE.DBF]
// klvcoin --report NAME --output FILE.TXT|FILE.PDF [--paper a4|letter] [FILE.DBF]
// klvcoin --statistics --output FILE.PDF|FILE.CSV [FILE.DBF]
// klvcoin --want-list --output FILE.PDF|FILE.CSV|FILE.TXT [FILE.DBF]
//
// Starts the program: the application title, the real prompts service, the
// main window (whose creation opens a database or gives up, saying why), and
// the message loop. Exits non-zero when no database could be opened.
//
// Set KLVCOIN_EXIT_AFTER_PAINT to make the program print, on standard
// output, "first-paint-ms" and the milliseconds from process start to the
// first painted viewer grid, and then close as the user would; the start-up
// benchmark uses it.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QGuiApplication>
#include <QTimer>

#include "app/AppTexts.h"
#include "app/Icons.h"
#include "app/MainWin.h"
#include "db/DbTexts.h"
#include "platform/QtPrompts.h"
#include "program/Program.h"
#include "report/CommandRun.h"
#include "report/engine/PaintedReport.h"
#include "report/engine/ReportPrinter.h"
#include "stats/CommandRun.h"

#ifndef KLV_VERSION
#define KLV_VERSION "0.0"
#endif

namespace {

// Reports the first paint of the grid's viewport, once the paint is done.
class FirstPaintProbe : public QObject {
 public:
  FirstPaintProbe(klv::app::TMain& main, std::chrono::steady_clock::time_point start)
      : main_(main), start_(start) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && !seen_) {
      seen_ = true;
      QTimer::singleShot(0, this, [this] {
        auto ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_)
                .count();
        std::printf("first-paint-ms %.1f\n", ms);
        std::fflush(stdout);
        main_.close();
      });
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  klv::app::TMain& main_;
  std::chrono::steady_clock::time_point start_;
  bool seen_ = false;
};

// A report run from the command line says what went wrong in one line;
// Qt's note about a missing runtime directory is none of the user's business.
void QuietRuntimeDirNote(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (text.startsWith(QLatin1String("QStandardPaths:"))) return;
  std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
}

}  // namespace

int main(int argc, char** argv) {
  const auto start = std::chrono::steady_clock::now();
  QStringList arguments;
  for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  const klv::app::CommandLine line = klv::app::ParseCommandLine(arguments);
  // These answer without a display.
  if (line.help) {
    std::fputs(klv::app::texts::kUsage, stdout);
    return 0;
  }
  if (line.version) {
    std::printf("klvcoin %s\n", KLV_VERSION);
    return 0;
  }
  if (!line.error.isEmpty()) {
    std::fprintf(stderr, "klvcoin: unknown argument %s\n\n%s", qPrintable(line.error),
                 klv::app::texts::kUsage);
    return 2;
  }
  if (!line.problem.isEmpty()) {
    std::fprintf(stderr, "klvcoin: %s\n\n%s", qPrintable(line.problem), klv::app::texts::kUsage);
    return 2;
  }
  if (!line.report.isEmpty() || line.statistics || line.want_list) {
    // No window: fonts are all a report run needs of the display.
    setenv("QT_QPA_PLATFORM", "offscreen", /*overwrite=*/0);
    qInstallMessageHandler(QuietRuntimeDirNote);
    QGuiApplication app(argc, argv);
    if (line.statistics) return klv::stats::RunStatisticsCommand(line.output, line.database);
    if (line.want_list) return klv::stats::RunWantListCommand(line.output, line.database);
    const std::optional<klv::report::engine::PaperSize> paper =
        klv::report::engine::PaperNamed(line.paper);
    return klv::report::RunReportCommand(line.report, line.output, line.database,
                                         paper ? *paper : klv::report::engine::PrinterPaper(-1));
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("klvcoin"));
  QApplication::setApplicationDisplayName(QString::fromLatin1(klv::db::texts::kTitle));
  QApplication::setApplicationVersion(QStringLiteral(KLV_VERSION));
  QApplication::setDesktopFileName(QStringLiteral("klvcoin"));
  QApplication::setWindowIcon(klv::app::ProgramIcon());
  // Windows are shown without the display name appended to their captions:
  // the main window's caption is the program's own.
  QApplication::setApplicationDisplayName(QString());

  klv::platform::QtPrompts prompts;
  klv::platform::SetPrompts(&prompts);

  int result = 0;
  {
    klv::program::Program program;
    program.SetTipsAtStart(true);
    klv::app::StartOptions options;
    options.arguments = arguments;
    if (!program.Start(options)) {
      klv::platform::SetPrompts(nullptr);
      return 1;
    }
    klv::app::TMain& main = program.main();
    FirstPaintProbe probe(main, start);
    if (std::getenv("KLVCOIN_EXIT_AFTER_PAINT"))
      main.ViewerGrid->viewport()->installEventFilter(&probe);
    main.show();
    result = QApplication::exec();
    main.close();
  }
  klv::platform::SetPrompts(nullptr);
  return result;
}
