// Report benchmark: "Complete Report" over a coin table (default: 100,000
// rows, made from the report tests' collection) to a text file and to PDF,
// beside `klvdbf dump` of the same rows; the same run into stored pages and
// the preview: time from View to the first page shown (the view run and the
// preview's start, printed beside the baseline), to turn a page, to jump to
// the last page; peak memory of the process after each step. Then the
// report to PDF over a table of M rows (default 2,000) each with an obverse
// photograph (1600 x 1200 JPEG), with the pictures off (the baseline) and on.
// --only text|pdf|view runs that one step alone (for a profiler).
//   klv_report_bench [--rows N] [--picture-rows M] [--dir DIR] [--only STEP]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <QApplication>
#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include "app/AppState.h"
#include "db/FieldTable.h"
#include "pictures/PictureStore.h"
#include "report/ReportRun.h"
#include "report/Rpform.h"
#include "report/UrpFile.h"
#include "report/engine/FilePreview.h"
#include "report/engine/PaintedReport.h"
#include "report/engine/ReportFiler.h"

namespace {

using Clock = std::chrono::steady_clock;
double Ms(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}
long PeakKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// A coin table of rows generated rows at path, indexed by country and year,
// unless it is there already.
void MakeTable(const std::string& path, long rows) {
  if (QFileInfo::exists(QString::fromStdString(path))) return;
  klv::dbf::Table::CreateTable(path, klv::CoinFieldDefs());
  klv::dbf::Table t;
  t.SetDirectory(path.substr(0, path.rfind('/')));
  t.SetTableName(path.substr(path.rfind('/') + 1));
  t.SetExclusive(true);
  t.Open();
  t.BeginAppendBatch();
  const char* countries[] = {"Canada", "France", "Germany", "Mexico", "United States"};
  for (long i = 0; i < rows; ++i) {
    t.Append();
    t.FieldByName("Country").SetAsString(countries[i % 5]);
    t.FieldByName("Year").SetAsString(std::to_string(1850 + i % 140));
    t.FieldByName("Condition").SetAsString("Very Fine");
    t.FieldByName("Descriptio").SetAsString("Coin number " + std::to_string(i));
    t.FieldByName("Comment").SetAsString("A comment of some length for the report");
    t.FieldByName("PurchasePr").SetAsFloat(1.25 * (i % 97));
    t.FieldByName("MarketValu").SetAsFloat(2.5 * (i % 89));
    t.FieldByName("Quantity").SetAsInteger(1 + i % 3);
    t.FieldByName("PurchDate").SetAsDate(klv::dbf::Date{1990 + int(i % 7), 1 + int(i % 12), 5});
    t.Post();
  }
  t.EndAppendBatch();
  t.AddIndex("NewIndex", "Upper(Left(Country,40))+Upper(Left(Year,40))");
  t.Close();
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  long rows = 100000, picture_rows = 2000;
  QString dir = QStringLiteral("/tmp/klv-report-bench");
  std::string only;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "--rows") rows = std::atol(argv[i + 1]);
    if (std::string(argv[i]) == "--picture-rows") picture_rows = std::atol(argv[i + 1]);
    if (std::string(argv[i]) == "--dir") dir = QString::fromLocal8Bit(argv[i + 1]);
    if (std::string(argv[i]) == "--only") only = argv[i + 1];
  }
  const std::string table_dir = dir.toStdString();
  std::system(("mkdir -p " + table_dir).c_str());
  const std::string path = table_dir + "/BENCH.DBF";
  MakeTable(path, rows);
  klv::dbf::Table table;
  table.SetDirectory(table_dir);
  table.SetTableName("BENCH.DBF");
  table.Open();
  table.SetIndexName("NewIndex");
  const klv::report::ReportDef def = klv::report::BuiltInReportDefs()[3];
  klv::report::RunSetup setup;
  setup.today = QStringLiteral("12/09/2026");
  std::printf("rows %ld, report \"%s\"\n", rows, qPrintable(def.name));

  auto t0 = Clock::now();
  if (!only.empty()) {
    setup.mode = only == "text"  ? klv::report::kModeFile
                 : only == "pdf" ? klv::report::kModePrint
                                 : klv::report::kModeView;
    setup.text_file = dir + QStringLiteral("/BENCH.TXT");
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadWrite);
    klv::report::engine::TReportFiler filer;
    if (only == "view") filer.SetStream(&buffer);
    klv::report::engine::TPdfReport pdf(dir + QStringLiteral("/BENCH.PDF"));
    klv::report::engine::TBaseReport& target =
        only == "pdf" ? static_cast<klv::report::engine::TBaseReport&>(pdf) : filer;
    klv::report::ReportGenerator run(def, table, target, setup);
    run.Run();
    std::printf("%-25s %9.0f ms  peak %ld kB\n", only.c_str(), Ms(t0), PeakKb());
    return 0;
  }
  QProcess dump;
  dump.setStandardOutputFile(QStringLiteral("/dev/null"));
  dump.start(QStringLiteral(KLV_KLVDBF_PATH),
             {QStringLiteral("dump"), QString::fromStdString(path), QStringLiteral("--tag"),
              QStringLiteral("NewIndex")});
  dump.waitForFinished(-1);
  const double dump_ms = Ms(t0);
  std::printf("baseline klvdbf dump      %9.0f ms\n", dump_ms);

  setup.mode = klv::report::kModeFile;
  setup.text_file = dir + QStringLiteral("/BENCH.TXT");
  t0 = Clock::now();
  {
    klv::report::engine::TReportFiler filer;
    klv::report::ReportGenerator run(def, table, filer, setup);
    run.Run();
    std::printf("text file                 %9.0f ms  %d pages  %lld bytes  peak %ld kB\n", Ms(t0),
                filer.PagesWritten(), QFileInfo(setup.text_file).size(), PeakKb());
  }
  setup.mode = klv::report::kModePrint;
  t0 = Clock::now();
  {
    klv::report::engine::TPdfReport pdf(dir + QStringLiteral("/BENCH.PDF"));
    klv::report::ReportGenerator run(def, table, pdf, setup);
    run.Run();
    std::printf("PDF                       %9.0f ms  %d pages  %lld bytes  peak %ld kB\n", Ms(t0),
                pdf.PagesPrinted(), QFileInfo(dir + QStringLiteral("/BENCH.PDF")).size(), PeakKb());
  }
  setup.mode = klv::report::kModeView;
  // The same run as View makes it: under the status form, which shows the
  // page being made and lets Cancel be pressed meanwhile.
  {
    QByteArray form_bytes;
    QBuffer form_buffer(&form_bytes);
    form_buffer.open(QIODevice::ReadWrite);
    klv::report::engine::TReportFiler form_filer;
    form_filer.SetStream(&form_buffer);
    const klv::app::AppState state;
    klv::report::TReportForm status(def, table, setup, state, form_filer);
    QTimer done;
    QObject::connect(&done, &QTimer::timeout, [&status] {
      const auto* ok = status.findChild<QPushButton*>(QStringLiteral("OkButton"));
      if (ok && ok->text() == QLatin1String("&Ok")) status.accept();
    });
    done.start(5);
    t0 = Clock::now();
    status.exec();
    std::printf("view run, status form     %9.0f ms  %d pages  peak %ld kB\n", Ms(t0),
                form_filer.PagesWritten(), PeakKb());
  }
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadWrite);
  const auto view_start = Clock::now();
  t0 = view_start;
  klv::report::engine::TReportFiler filer;
  filer.SetStream(&buffer);
  {
    klv::report::ReportGenerator run(def, table, filer, setup);
    run.Run();
  }
  std::printf("stored pages (view run)   %9.0f ms  %d pages  %lld bytes kept  peak %ld kB\n",
              Ms(t0), filer.PagesWritten(), static_cast<long long>(bytes.size()), PeakKb());
  klv::report::engine::TFilePreview preview;
  preview.resize(900, 700);
  preview.SetStream(&buffer);
  preview.show();
  t0 = Clock::now();
  preview.Start();
  preview.Render();
  std::printf("preview: first page shown %9.1f ms\n", Ms(t0));
  // What the collector waits for: from View to the first page on the screen
  // (the whole view run, then the preview's start), beside the baseline.
  std::printf("View to first page shown  %9.0f ms  (klvdbf dump %.0f ms)\n", Ms(view_start),
              dump_ms);
  t0 = Clock::now();
  preview.NextPage();
  preview.Render();
  std::printf("preview: turn a page      %9.1f ms\n", Ms(t0));
  t0 = Clock::now();
  preview.PrintPage(preview.PageCount());
  preview.Render();
  std::printf("preview: jump to last     %9.1f ms  peak %ld kB\n", Ms(t0), PeakKb());

  // Pictures: every row of their table has an obverse photograph.
  const std::string pics = table_dir + "/PICS.DBF";
  if (!QFileInfo::exists(QString::fromStdString(pics))) {
    MakeTable(pics, picture_rows);
    QImage photo(1600, 1200, QImage::Format_RGB32);
    QPainter painter(&photo);
    painter.fillRect(photo.rect(), QLinearGradient(0, 0, 1600, 1200));
    for (int i = 0; i < 400; ++i)
      painter.fillRect((i * 97) % 1600, (i * 61) % 1200, 40, 40,
                       QColor::fromHsv(i % 360, 150, 200));
    painter.end();
    const QString source = dir + QStringLiteral("/photo.jpg");
    photo.save(source, "JPEG", 90);
    t0 = Clock::now();
    klv::pictures::PictureStore store(pics);
    for (long r = 1; r <= picture_rows; ++r)
      store.Attach(static_cast<uint32_t>(r), klv::pictures::Side::kObverse, source.toStdString());
    std::printf("attach %ld photographs    %9.0f ms  (%lld bytes each)\n", picture_rows, Ms(t0),
                QFileInfo(source).size());
  }
  klv::dbf::Table pics_table;
  pics_table.SetDirectory(table_dir);
  pics_table.SetTableName("PICS.DBF");
  pics_table.Open();
  pics_table.SetIndexName("NewIndex");
  setup.mode = klv::report::kModePrint;
  for (const bool on : {false, true}) {
    klv::report::ReportDef with = def;
    with.print_obverse = on;
    const QString out = dir + QStringLiteral("/PICS.PDF");
    t0 = Clock::now();
    klv::report::engine::TPdfReport pdf(out);
    klv::report::ReportGenerator run(with, pics_table, pdf, setup);
    run.Run();
    std::printf("PDF %ld rows, pictures %-3s %7.0f ms  %d pages  %lld bytes  peak %ld kB\n",
                picture_rows, on ? "on" : "off", Ms(t0), pdf.PagesPrinted(), QFileInfo(out).size(),
                PeakKb());
  }
  // The same with the pictures into stored pages and the preview, where
  // each page shown reads its pictures.
  QByteArray pics_bytes;
  QBuffer pics_buffer(&pics_bytes);
  pics_buffer.open(QIODevice::ReadWrite);
  klv::report::engine::TReportFiler pics_filer;
  pics_filer.SetStream(&pics_buffer);
  setup.mode = klv::report::kModeView;
  t0 = Clock::now();
  {
    klv::report::ReportGenerator run(def, pics_table, pics_filer, setup);
    run.Run();
  }
  std::printf("view run, pictures on     %9.0f ms  %lld bytes kept\n", Ms(t0),
              static_cast<long long>(pics_bytes.size()));
  klv::report::engine::TFilePreview pics_preview;
  pics_preview.resize(900, 700);
  pics_preview.SetStream(&pics_buffer);
  pics_preview.show();
  pics_preview.Start();
  pics_preview.Render();
  t0 = Clock::now();
  pics_preview.NextPage();
  pics_preview.Render();
  std::printf("preview: turn a page, pictures %5.1f ms\n", Ms(t0));
  return 0;
}
