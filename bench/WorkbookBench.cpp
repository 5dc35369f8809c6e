// The Excel export of a coin table with an obverse picture on every row:
// the workbook with its column of pictures, when the small pictures are
// first made and when they come from the folder's cache, beside the same
// export without pictures (the baseline, same run) and a CSV export. Each
// export runs in a child process: wall time, peak memory (resident set) and
// the file's size.
//   klv_workbook_bench [--rows N]    (default 10000)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <QGuiApplication>

#include "BenchPictures.h"
#include "db/FieldTable.h"
#include "db/dbf/Table.h"
#include "transfer/Transfer.h"
#include "transfer/TransferLogic.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Runs work in a child process and prints its figures.
void Measure(const char* what, const std::string& path, uint64_t rows,
             const std::function<void()>& work) {
  const Clock::time_point start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    try {
      work();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s: %s\n", what, e.what());
      _exit(1);
    }
    _exit(0);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const double s = std::chrono::duration<double>(Clock::now() - start).count();
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  std::printf("  %-40s %7.2f s %8.0f rows/s %8ld KiB peak %8.1f MB%s\n", what, s,
              static_cast<double>(rows) / s, usage.ru_maxrss, ec ? 0.0 : size / 1e6,
              WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "" : "  (failed)");
}

}  // namespace

int main(int argc, char** argv) {
  int rows = 10000;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--rows") == 0) rows = std::atoi(argv[i + 1]);
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const std::string dir = (fs::temp_directory_path() / "klv-workbook-bench").string();
  fs::remove_all(dir);
  fs::create_directories(dir);
  const Clock::time_point made = Clock::now();
  klv::bench::MakePictureDatabase(dir, rows, true);
  std::printf("made %d rows, each with its own picture, in %.1f s\n", rows,
              std::chrono::duration<double>(Clock::now() - made).count());

  std::vector<klv::transfer::ExportColumn> columns;
  for (int i = 0; i < klv::db::kFieldCount; ++i)
    columns.push_back({i, std::string(klv::db::FieldInfoOf(i + 1).name), ""});
  auto exporter = [&](klv::transfer::ExportKind kind, const std::string& path, bool pictures) {
    return [=, &columns] {
      klv::dbf::Table t;
      t.SetDirectory(dir + "/");
      t.SetTableName("MASTER.DBF");
      t.SetReadOnly(true);
      t.Open();
      klv::transfer::ExportOptions options;
      options.kind = kind;
      options.header = true;
      if (pictures) options.obverse = klv::transfer::WorkbookPicture;
      klv::transfer::ExportRows(klv::base::Env::Default(), t, columns, path, options);
    };
  };
  using klv::transfer::ExportKind;
  const std::string plain = dir + "/plain.xlsx", with = dir + "/pictures.xlsx",
                    csv = dir + "/coins.csv";
  std::printf("export of %d rows, 20 columns:\n", rows);
  Measure("workbook without pictures (baseline)", plain, rows,
          exporter(ExportKind::kXlsx, plain, false));
  Measure("workbook with pictures, first made", with, rows,
          exporter(ExportKind::kXlsx, with, true));
  Measure("workbook with pictures, from the cache", with, rows,
          exporter(ExportKind::kXlsx, with, true));
  Measure("CSV (UTF-8)", csv, rows, exporter(ExportKind::kCsv, csv, false));
  fs::remove_all(dir);
  return 0;
}
