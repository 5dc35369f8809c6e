// Export and import through klvdbf (the code the program's forms run) on a
// coin table of N rows, each figure beside a baseline measured in the same
// run: exports beside `klvdbf dump` and pgdbf reading the table, the import
// of quoted delimited text beside `klvdbf append` of the same rows as CSV and
// sqlite3's .import of the same file; and the import of a spreadsheet's CSV
// with every mend at work (separators, signs, decimal commas, dates with
// dots, letters replaced, values cut) beside the same rows written tidily,
// each beside sqlite3's .import of its file. Wall time and peak memory
// (resident set) of each child process.
//
//   klv_transfer_bench [--rows N]    (default 100000; the work directory is
//                                     $KLV_BENCH_DIR/transfer or /tmp)
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "db/FieldTable.h"
#include "db/dbf/Table.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Figure {
  double seconds = 0;
  long peak_kib = 0;
  int status = -1;
};

// Runs argv (through sh -c when shell is set) with stdout to out_path.
Figure Run(const std::string& command) {
  Figure f;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
  if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
    return f;
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  f.peak_kib = usage.ru_maxrss;
  f.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return f;
}

void Print(const char* what, const Figure& f, uint64_t rows) {
  std::printf("  %-44s %7.2f s %9.0f rows/s %8ld KiB peak%s\n", what, f.seconds,
              f.seconds > 0 ? static_cast<double>(rows) / f.seconds : 0.0, f.peak_kib,
              f.status == 0 ? "" : "  (failed)");
}

void MakeTable(const std::string& path, uint64_t rows) {
  klv::dbf::Table::CreateTable(path, klv::CoinFieldDefs());
  klv::dbf::Table t;
  t.SetDirectory(klv::dbf::DirOf(path));
  t.SetTableName(klv::dbf::BaseOf(path));
  t.SetExclusive(true);
  t.Open();
  t.BeginAppendBatch();
  for (uint64_t i = 0; i < rows; ++i) {
    t.Append();
    t.Fields(0).SetAsString(i % 3 ? "Peru" : "Canada");
    t.Fields(1).SetAsString("1 Sol \"fine\"");
    t.Fields(2).SetAsString(std::to_string(1900 + i % 120));
    t.Fields(5).SetAsFloat(static_cast<double>(i % 1000) + 0.25);
    t.Fields(9).SetAsString("Description, with a comma " + std::to_string(i));
    t.Fields(10).SetAsDate({2000 + static_cast<int>(i % 20), 1 + static_cast<int>(i % 12),
                            1 + static_cast<int>(i % 28)});
    t.Fields(12).SetAsInteger(static_cast<int64_t>(i % 50));
    t.Post();
  }
  t.EndAppendBatch();
}

// The same rows twice: tidy (commas, plain numbers, ISO dates, Windows-1252
// letters only) and as a European spreadsheet saves them (semicolons,
// thousands separators and decimal commas, a currency sign, blanks, dates
// with dots, a letter Windows-1252 cannot hold, a value wider than its field),
// so that every mend of the import is at work on every row of the second.
void WriteSpreadsheetFiles(const std::string& tidy_path, const std::string& mends_path,
                           uint64_t rows) {
  std::FILE* tidy = std::fopen(tidy_path.c_str(), "wb");
  std::FILE* mends = std::fopen(mends_path.c_str(), "wb");
  std::fputs("Country,Price,Quantity,Date,Description\r\n", tidy);
  std::fputs("Land;Preis;Menge;Datum;Beschreibung\r\n", mends);
  for (uint64_t i = 0; i < rows; ++i) {
    const unsigned long long whole = 1000 + i % 9000;
    const unsigned cents = static_cast<unsigned>(i % 100);
    const int day = 1 + static_cast<int>(i % 28), month = 1 + static_cast<int>(i % 12);
    const int year = 1900 + static_cast<int>(i % 120);
    std::fprintf(tidy, "Polska,%llu.%02u,%d,%04d-%02d-%02d,zloty number %llu\r\n", whole, cents,
                 static_cast<int>(i % 50), year, month, day, static_cast<unsigned long long>(i));
    std::fprintf(mends,
                 "Rzeczpospolita Polska Ludowa;\"%llu.%03llu,%02u \xE2\x82\xAC\"; %d ;%d.%d.%d;"
                 "z\xC5\x82oty number %llu\r\n",
                 whole / 1000, whole % 1000, cents, static_cast<int>(i % 50), day, month, year,
                 static_cast<unsigned long long>(i));
  }
  std::fclose(tidy);
  std::fclose(mends);
}

}  // namespace

int main(int argc, char** argv) {
  // The table is made by a child of its own, so that this process stays
  // small: a child's peak memory counts what it had when it was spawned.
  if (argc == 4 && std::string(argv[1]) == "--make") {
    MakeTable(argv[2], std::strtoull(argv[3], nullptr, 10));
    return 0;
  }
  uint64_t rows = 100000;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::string(argv[i]) == "--rows") rows = std::strtoull(argv[i + 1], nullptr, 10);
  const char* base = std::getenv("KLV_BENCH_DIR");
  const fs::path dir = fs::path(base ? base : "/tmp") / ("transfer-" + std::to_string(rows));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string d = dir.string() + "/";
  const std::string tool = KLV_KLVDBF_PATH;
  Run(std::string(argv[0]) + " --make " + d + "COINS.DBF " + std::to_string(rows));
  std::printf("%llu rows (%s)\n", static_cast<unsigned long long>(rows), d.c_str());

  std::printf("export (beside reading the table):\n");
  Print("baseline: klvdbf info (start-up only)", Run(tool + " info " + d + "COINS.DBF > /dev/null"),
        rows);
  Print("baseline: klvdbf dump > csv", Run(tool + " dump " + d + "COINS.DBF > " + d + "dump.csv"),
        rows);
  Print("baseline: pgdbf (reads the table)", Run("pgdbf " + d + "COINS.DBF > /dev/null"), rows);
  for (const char* kind : {"ascii", "csv", "xlsx", "dbf"}) {
    const std::string out = d + "out." + (std::string(kind) == "dbf" ? "DBF" : kind);
    Print((std::string("klvdbf export --kind ") + kind).c_str(),
          Run(tool + " export " + d + "COINS.DBF " + out + " --kind " + kind + " --header"), rows);
  }

  std::printf("import (of quoted delimited text, beside appending the same rows):\n");
  Run(tool + " create " + d + "A.DBF --coin");
  Run(tool + " create " + d + "B.DBF --coin");
  Print("baseline: sqlite3 .import of the same file",
        Run("sqlite3 " + d + "s.db '.mode csv' '.import " + d + "out.ascii coins'"), rows);
  Print("baseline: klvdbf append (CSV)",
        Run(tool + " append " + d + "A.DBF " + d + "dump.csv > /dev/null"), rows);
  Print(
      "klvdbf import --kind ascii --skip-first",
      Run(tool + " import " + d + "B.DBF " + d + "out.ascii --kind ascii --skip-first > /dev/null"),
      rows);
  Print("klvdbf import --kind csv --skip-first",
        Run(tool + " import " + d + "B.DBF " + d + "out.csv --kind csv --skip-first > /dev/null"),
        rows);
  Print("klvdbf import --kind dbf",
        Run(tool + " import " + d + "B.DBF " + d + "out.DBF --kind dbf > /dev/null"), rows);

  std::printf("import of spreadsheet CSV (every mend at work), beside sqlite3 .import:\n");
  WriteSpreadsheetFiles(d + "tidy.csv", d + "mends.csv", rows);
  const std::string map =
      " --map Country=Country,Price=PurchasePr,Quantity=Quantity,"
      "Date=PurchDate,Description=Descriptio";
  const std::string mends_map =
      " --map Land=Country,Preis=PurchasePr,Menge=Quantity,"
      "Datum=PurchDate,Beschreibung=Descriptio";
  Run(tool + " create " + d + "T.DBF --coin");
  Run(tool + " create " + d + "M.DBF --coin");
  const Figure sqlite_tidy =
      Run("sqlite3 " + d + "t.db '.mode csv' '.import " + d + "tidy.csv coins'");
  const Figure sqlite_mends =
      Run("sqlite3 " + d + "m.db '.mode csv' '.separator ;' '.import " + d + "mends.csv coins'");
  const Figure tidy = Run(tool + " import " + d + "T.DBF " + d +
                          "tidy.csv --kind csv --skip-first" + map + " > /dev/null");
  const Figure mends = Run(tool + " import " + d + "M.DBF " + d + "mends.csv --kind csv" +
                           " --skip-first" + mends_map + " > /dev/null");
  Print("baseline: sqlite3 .import (tidy file)", sqlite_tidy, rows);
  Print("baseline: sqlite3 .import (spreadsheet file)", sqlite_mends, rows);
  Print("klvdbf import, tidy file", tidy, rows);
  Print("klvdbf import, spreadsheet file (every mend)", mends, rows);
  if (tidy.seconds > 0 && sqlite_tidy.seconds > 0 && sqlite_mends.seconds > 0)
    std::printf(
        "  beside sqlite3: tidy %.2fx, spreadsheet %.2fx; the mends cost %+.1f%%\n",
        tidy.seconds / sqlite_tidy.seconds, mends.seconds / sqlite_mends.seconds,
        100.0 *
            ((mends.seconds / sqlite_mends.seconds) / (tidy.seconds / sqlite_tidy.seconds) - 1.0));
  fs::remove_all(dir);
  return 0;
}
