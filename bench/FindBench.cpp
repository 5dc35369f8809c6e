// Finding and ordering over large coin tables. Each figure is printed beside
// a baseline measured in the same run:
//   - the search filter: filtered counts beside the unfiltered count and a
//     count through a filter that accepts every row without reading it (what
//     the engine's walk alone costs); a filter that looks its fields up by
//     name on every row, for comparison;
//   - search by example accepting 1% and 50% of the rows: the time to the
//     first screen of the result (the first 25 rows through the filter, and
//     the viewer grid's model counting and reading its first screen as the
//     main window does) and to the exact count, beside a plain walk;
//   - locate with the only match on the last row, and Locate Next from it,
//     beside the plain walk;
//   - a new sort order (the table opened exclusively, the tag "NewIndex"
//     dropped and built again, the table opened shared) beside `klvdbf index`
//     building the same tag;
//   - search and replace of 10,000 values in 100,000 rows (index dropped,
//     rows changed, index built again, as the command does) beside a walk of
//     the same rows reading the field.
//
// The tables (1,000,000 rows unless --rows N, and 100,000 for the replace)
// are generated once by the engine and cached in $KLV_BENCH_DIR/find, default
// /tmp/klv-bench/find. The replace runs on a fresh copy each time.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QImage>

#include "app/OpenDatabase.h"
#include "app/ViewerModel.h"
#include "db/FieldTable.h"
#include "db/dbf/Table.h"
#include "find/Criteria.h"
#include "find/Filter.h"
#include "find/Locate.h"
#include "find/Replace.h"
#include "find/Sort1.h"
#include "pictures/PictureStore.h"

namespace {

namespace fs = std::filesystem;
using klv::dbf::Table;
using namespace klv::find;
using klv::pictures::CoinFollower;
using klv::pictures::PictureStore;
using klv::pictures::Side;

double NowMs() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// Median of three timed runs, after one that warms the page cache.
double MedianMs(const std::function<void()>& run) {
  run();
  std::vector<double> times;
  for (int i = 0; i < 3; ++i) {
    const double start = NowMs();
    run();
    times.push_back(NowMs() - start);
  }
  std::sort(times.begin(), times.end());
  return times[1];
}

const char* const kCountries[] = {"USA",    "Canada",  "Mexico",  "France", "Deutschland",
                                  "España", "Italia",  "Japan",   "China",  "Österreich",
                                  "usa",    "Belgium", "Denmark", "India",  "Australia"};

void Generate(const std::string& dir, uint32_t rows) {
  fs::create_directories(dir);
  const std::string path = dir + "/COINS.DBF";
  Table::CreateTable(path, klv::CoinFieldDefs());
  Table t;
  t.SetDirectory(dir);
  t.SetTableName("COINS.DBF");
  t.SetExclusive(true);
  t.Open();
  uint64_t h = 88172645463325252ull;
  auto next = [&] {
    h ^= h << 13;
    h ^= h >> 7;
    h ^= h << 17;
    return h;
  };
  for (uint32_t i = 0; i < rows; ++i) {
    t.Append();
    t.Fields(klv::db::kCountry - 1).SetAsString(kCountries[next() % std::size(kCountries)]);
    t.Fields(klv::db::kYear - 1).SetAsString(std::to_string(1800 + next() % 225));
    t.Fields(klv::db::kTopic - 1).SetAsString(next() % 3 ? "Ships" : "Animals");
    if (next() % 10)
      t.Fields(klv::db::kPurchasePr - 1).SetAsFloat(static_cast<double>(next() % 1000000) / 100);
    t.Fields(klv::db::kMarketValu - 1).SetAsFloat(static_cast<double>(next() % 1000000) / 100);
    t.Fields(klv::db::kQuantity - 1).SetAsInteger(static_cast<int64_t>(next() % 50));
    if (next() % 10) {
      t.Fields(klv::db::kPurchDate - 1)
          .SetAsDate({static_cast<int>(1950 + next() % 75), static_cast<int>(1 + next() % 12),
                      static_cast<int>(1 + next() % 28)});
    }
    t.Fields(klv::db::kComment - 1).SetAsString("row " + std::to_string(i + 1));
    t.Post();
  }
}

bool Cached(const std::string& dir, uint32_t rows) {
  try {
    Table t;
    t.SetDirectory(dir);
    t.SetTableName("COINS.DBF");
    t.SetReadOnly(true);
    t.Open();
    return t.PhysicalCount() == rows;
  } catch (const std::exception&) {
    return false;
  }
}

SearchRow Row(int field_no, RowOperator op, const char* text) {
  SearchRow row;
  row.kind = SearchKind(field_no);
  row.op = op;
  row.text = QString::fromUtf8(text);
  return row;
}

std::shared_ptr<const ActiveSearch> Search(
    const std::vector<std::vector<std::pair<int, SearchRow>>>& levels) {
  CriteriaList list;
  for (size_t i = 0; i < levels.size(); ++i) {
    SearchScreen screen = EmptyScreen();
    for (const auto& [field_no, row] : levels[i]) screen[static_cast<size_t>(field_no - 1)] = row;
    const SaveOutcome out = i + 1 < levels.size() ? list.More(screen, 7) : list.Confirm(screen, 7);
    if (!out.ok()) {
      std::fprintf(stderr, "klv_find_bench: criteria refused: %s\n", qPrintable(out.message));
      std::exit(1);
    }
  }
  return std::make_shared<const ActiveSearch>(list.criteria());
}

// The plain walks the figures are set beside: each row of the table in its
// current order, with nothing read, or with one field read as text (what a
// locate or a replace reads of each row).
uint64_t PlainWalk(Table& t) {
  uint64_t n = 0;
  for (t.First(); !t.Eof(); t.Next()) ++n;
  return n;
}

uint64_t WalkReading(Table& t, int field_no) {
  uint64_t n = 0;
  const klv::dbf::Field& field = t.Fields(field_no - 1);
  for (t.First(); !t.Eof(); t.Next()) n += field.AsString().size() > 0;
  return n;
}

// Runs once and returns milliseconds (for runs that change files).
double OnceMs(const std::function<void()>& run) {
  const double start = NowMs();
  run();
  return NowMs() - start;
}

void Report(const char* what, double ms, double baseline_ms, const char* baseline) {
  std::printf("%-58s %9.1f ms vs baseline %9.1f ms (%s), %.2fx\n", what, ms, baseline_ms, baseline,
              ms / baseline_ms);
}

void OpenShared(Table& t, const std::string& dir) {
  t.Close();
  t.SetDirectory(dir);
  t.SetTableName("COINS.DBF");
  t.SetExclusive(false);
  t.SetReadOnly(false);
  t.Open();
}

// The replace table: every tenth row's COUNTRY is "Peru", no other row's; the
// sort index is the program's default order.
void GenerateReplaceTable(const std::string& dir, uint32_t rows) {
  fs::create_directories(dir);
  Table::CreateTable(dir + "/COINS.DBF", klv::CoinFieldDefs());
  Table t;
  t.SetDirectory(dir);
  t.SetTableName("COINS.DBF");
  t.SetExclusive(true);
  t.Open();
  const char* const others[] = {"USA", "Canada", "Mexico", "France", "Japan", "Chile"};
  for (uint32_t i = 0; i < rows; ++i) {
    t.Append();
    t.Fields(klv::db::kCountry - 1).SetAsString(i % 10 == 3 ? "Peru" : others[i % 6]);
    t.Fields(klv::db::kMiscellane - 1).SetAsString("lot " + std::to_string(rows - i));
    t.Fields(klv::db::kComment - 1).SetAsString("row " + std::to_string(i + 1));
    t.Post();
  }
  t.AddIndex("NewIndex", klv::app::BuildSortString({12, 0, 0, 0}).toStdString());
}

// Opened as Search and Replace opens it: alone, its sort tag dropped.
void OpenForReplace(Table& t, const std::string& dir) {
  t.SetDirectory(dir);
  t.SetTableName("COINS.DBF");
  t.SetExclusive(true);
  t.Open();
  t.SetIndexName("");
  t.DeleteIndex("NewIndex");
}

void CopyTable(const std::string& from, const std::string& to) {
  fs::remove_all(to);
  fs::create_directories(to);
  for (const char* name : {"COINS.DBF", "COINS.MDX"})
    fs::copy_file(from + "/" + name, to + "/" + name);
}

double RunTool(const std::string& args) {
  const std::string cmd = std::string(KLV_KLVDBF_PATH) + " " + args + " > /dev/null";
  const double start = NowMs();
  if (std::system(cmd.c_str()) != 0) {
    std::fprintf(stderr, "klv_find_bench: %s failed\n", cmd.c_str());
    std::exit(1);
  }
  return NowMs() - start;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  uint32_t rows = 1000000;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--rows") == 0) rows = static_cast<uint32_t>(std::atol(argv[i + 1]));
  const char* base = std::getenv("KLV_BENCH_DIR");
  const std::string dir = std::string(base && *base ? base : "/tmp/klv-bench") + "/find";
  if (!Cached(dir, rows)) {
    std::printf("generating %u rows in %s ...\n", rows, dir.c_str());
    const double start = NowMs();
    Generate(dir, rows);
    std::printf("  %.1f s\n", (NowMs() - start) / 1000);
  }
  Table t;
  t.SetDirectory(dir);
  t.SetTableName("COINS.DBF");
  t.SetReadOnly(true);
  t.Open();

  uint64_t count = 0;
  const double unfiltered = MedianMs([&] { count = t.RecordCount(); });
  std::printf("%-58s %9.3f ms  %8llu rows\n", "baseline: unfiltered count", unfiltered,
              static_cast<unsigned long long>(count));
  t.SetOnFilterRecord([](Table&) { return true; });
  t.SetFiltered(true);
  const double walk = MedianMs([&] { count = t.RecordCount(); });
  std::printf("%-58s %9.1f ms  %8llu rows\n", "baseline: count through a filter accepting all",
              walk, static_cast<unsigned long long>(count));

  struct Case {
    const char* what;
    std::shared_ptr<const ActiveSearch> search;
  };
  const std::vector<Case> cases = {
      {"COUNTRY contains \"an\"",
       Search({{{klv::db::kCountry, Row(klv::db::kCountry, RowOperator::kEqual, "an")}}})},
      {"PURCHASEPR > 100 AND < 5000",
       Search({{{klv::db::kPurchasePr,
                 Row(klv::db::kPurchasePr, RowOperator::kRange, "> 100       AND < 5000    ")}}})},
      {"PURCHDATE < 01/01/1980",
       Search({{{klv::db::kPurchDate,
                 Row(klv::db::kPurchDate, RowOperator::kLess, "< 01/01/1980")}}})},
      {"3 levels: USA+1950 | TOPIC ships+QUANTITY>40 | COMMENT 99",
       Search({{{klv::db::kCountry, Row(klv::db::kCountry, RowOperator::kEqual, "usa")},
                {klv::db::kYear, Row(klv::db::kYear, RowOperator::kEqual, "195")}},
               {{klv::db::kTopic, Row(klv::db::kTopic, RowOperator::kEqual, "ships")},
                {klv::db::kQuantity, Row(klv::db::kQuantity, RowOperator::kGreater, "> 40")}},
               {{klv::db::kComment, Row(klv::db::kComment, RowOperator::kEqual, "99")}}})},
  };
  uint64_t contains_count = 0;
  for (const Case& c : cases) {
    t.SetOnFilterRecord(RowFilter(c.search));
    const double ms = MedianMs([&] { count = t.RecordCount(); });
    std::printf("%-58s %9.1f ms  %8llu rows  (%.2fx the accept-all walk)\n", c.what, ms,
                static_cast<unsigned long long>(count), ms / walk);
    if (&c == &cases.front()) contains_count = count;
  }

  // The same contains test with the field found by name and its text
  // converted and upper-cased on every row.
  t.SetOnFilterRecord([](Table& table) {
    return UpperText(QString::fromStdString(table.FieldByName("Country").AsString()))
        .contains(QLatin1String("AN"));
  });
  const double by_name = MedianMs([&] { count = t.RecordCount(); });
  std::printf("%-58s %9.1f ms  %8llu rows\n", "for comparison: COUNTRY by name, as text, each row",
              by_name, static_cast<unsigned long long>(count));
  if (count != contains_count) {
    std::fprintf(stderr, "klv_find_bench: the search filter counted %llu rows, not %llu\n",
                 static_cast<unsigned long long>(contains_count),
                 static_cast<unsigned long long>(count));
    return 1;
  }

  // --- Search by example: the first screen and the exact count.
  t.SetFiltered(false);
  const double plain = MedianMs([&] { count = PlainWalk(t); });
  std::printf("%-58s %9.1f ms  %8llu rows\n", "baseline: plain walk", plain,
              static_cast<unsigned long long>(count));
  const double reading = MedianMs([&] { count = WalkReading(t, klv::db::kComment); });
  std::printf("%-58s %9.1f ms  %8llu rows\n", "baseline: walk reading COMMENT as text", reading,
              static_cast<unsigned long long>(count));
  const std::vector<Case> shares = {
      {"1%: MARKETVALU > 0 AND < 100",
       Search({{{klv::db::kMarketValu,
                 Row(klv::db::kMarketValu, RowOperator::kRange, "> 0         AND < 100     ")}}})},
      {"50%: MARKETVALU < 5000",
       Search({{{klv::db::kMarketValu, Row(klv::db::kMarketValu, RowOperator::kLess, "< 5000")}}})},
  };
  klv::app::ViewerModel model;
  std::vector<klv::app::ViewerColumn> columns;
  for (int f = 1; f <= klv::db::kFieldCount; ++f) columns.push_back({f, QString::number(f), 15});
  model.SetColumns(columns);
  constexpr int kScreenRows = 25;
  for (const Case& c : shares) {
    std::printf("search %s\n", c.what);
    t.SetOnFilterRecord(RowFilter(c.search));
    t.SetFiltered(true);
    int screen = 0;
    const double first = MedianMs([&] {
      screen = 0;
      for (t.First(); !t.Eof() && screen < kScreenRows; t.Next()) ++screen;
    });
    Report("  first screen (25 rows through the filter)", first, plain, "plain walk");
    // What the main window does: the model counts exactly, then reads its screen.
    const double grid = MedianMs([&] {
      t.First();
      model.SetTable(&t);
      for (int r = 0; r < kScreenRows; ++r)
        for (int col = 0; col < model.columnCount(); ++col)
          (void)model.data(model.index(r, col), Qt::DisplayRole);
      model.SetTable(nullptr);
    });
    Report("  first screen of the viewer grid (counts first)", grid, plain, "plain walk");
    const double exact = MedianMs([&] { count = t.RecordCount(); });
    Report("  exact count", exact, plain, "plain walk");
    std::printf("  %llu rows accepted\n", static_cast<unsigned long long>(count));
  }
  t.SetFiltered(false);

  // --- Locate: the only match on the last row, then Locate Next from it.
  const QString last_comment = QStringLiteral("row %1").arg(rows);
  LocateResult located;
  const double locate = MedianMs([&] {
    located = LocateSearch(t, true, QStringLiteral("Comment"), false,
                           TMyLocateMatchType::mtExactMatch, last_comment);
  });
  if (!located.found || t.RecNo() != rows) {
    std::fprintf(stderr, "klv_find_bench: locate did not find the last row\n");
    return 1;
  }
  Report("locate, only match on the last row", locate, reading, "walk reading COMMENT");
  const double next = MedianMs([&] {
    located = LocateSearch(t, false, QStringLiteral("Comment"), false,
                           TMyLocateMatchType::mtExactMatch, last_comment);
  });
  if (located.found || t.RecNo() != rows) {
    std::fprintf(stderr, "klv_find_bench: Locate Next left the last row\n");
    return 1;
  }
  Report("Locate Next from it (nothing more)", next, reading, "walk reading COMMENT");

  // --- A new sort order beside klvdbf index building the same tag.
  const QString sort = klv::app::BuildSortString({1, 11, 0, 0});
  const std::string dbf = dir + "/COINS.DBF";
  std::vector<double> tool_ms, order_ms;
  for (int i = 0; i < 2; ++i) {
    t.Close();
    tool_ms.push_back(RunTool("index " + dbf + " NewIndex '" + sort.toStdString() + "'"));
    order_ms.push_back(OnceMs([&] {
      t.Close();
      t.SetReadOnly(false);
      t.SetExclusive(true);
      t.Open();
      ApplySortIndex(t, sort);
      OpenShared(t, dir);
    }));
  }
  Report("new sort order (exclusive open, drop, build, reopen)",
         *std::min_element(order_ms.begin(), order_ms.end()),
         *std::min_element(tool_ms.begin(), tool_ms.end()), "klvdbf index, same tag");
  t.Close();

  // --- Search and replace of 10,000 values in 100,000 rows.
  constexpr uint32_t kReplaceRows = 100000;
  const std::string pristine = dir + "/replace-src";
  const std::string work = dir + "/replace-run";
  if (!Cached(pristine, kReplaceRows)) {
    fs::remove_all(pristine);
    GenerateReplaceTable(pristine, kReplaceRows);
  }
  Table r;
  const double replace_walk = MedianMs([&] {
    OpenShared(r, pristine);
    count = WalkReading(r, klv::db::kCountry);
    r.Close();
  });
  std::vector<double> run_ms, whole_ms;
  ReplaceRun run;
  for (int i = 0; i < 3; ++i) {
    CopyTable(pristine, work);
    whole_ms.push_back(OnceMs([&] {
      OpenForReplace(r, work);
      const ReplaceCheck check = CheckReplaceInput(klv::db::kCountry, QStringLiteral("peru"),
                                                   QStringLiteral("Chile"), 1, &r);
      run_ms.push_back(OnceMs([&] { run = RunReplace(r, check.plan); }));
      r.AddIndex("NewIndex", klv::app::BuildSortString({12, 0, 0, 0}).toStdString());
      r.SetIndexName("NewIndex");
      OpenShared(r, work);
    }));
    r.Close();
  }
  if (!run.ran || run.counters.changed != static_cast<int32_t>(kReplaceRows / 10)) {
    std::fprintf(stderr, "klv_find_bench: the replace changed %d rows\n", run.counters.changed);
    return 1;
  }
  std::sort(run_ms.begin(), run_ms.end());
  std::sort(whole_ms.begin(), whole_ms.end());
  std::printf("search and replace, %d of %u rows changed\n", run.counters.changed, kReplaceRows);
  Report("  the rows visited and changed", run_ms[1], replace_walk, "walk reading COUNTRY");
  Report("  with the index dropped and built again", whole_ms[1], replace_walk,
         "walk reading COUNTRY");

  // The same replace where 1,000 of the changed coins have a picture, with
  // the pictures following each posted row as the program's table does.
  const std::string with_pictures = dir + "/replace-pictures";
  constexpr uint32_t kPictures = 1000;
  if (!Cached(with_pictures, kReplaceRows) ||
      !fs::exists(with_pictures + "/COINS.PIC/PICTURES.DBF")) {
    CopyTable(pristine, with_pictures);
    const std::string png = with_pictures + "/coin.png";
    QImage(64, 64, QImage::Format_RGB32).save(QString::fromStdString(png), "PNG");
    PictureStore store(with_pictures + "/COINS.DBF");
    // Row 10k + 4 holds "Peru".
    for (uint32_t k = 0; k < kPictures; ++k) store.Attach(10 * k + 4, Side::kObverse, png);
  }
  std::vector<double> pictures_ms;
  for (int i = 0; i < 3; ++i) {
    CopyTable(with_pictures, work);
    fs::copy(with_pictures + "/COINS.PIC", work + "/COINS.PIC", fs::copy_options::recursive);
    OpenForReplace(r, work);
    CoinFollower follower;
    follower.Follow(r);
    const ReplaceCheck check = CheckReplaceInput(klv::db::kCountry, QStringLiteral("peru"),
                                                 QStringLiteral("Chile"), 1, &r);
    pictures_ms.push_back(OnceMs([&] {
      CoinFollower::Gathering gathering(follower);
      run = RunReplace(r, check.plan);
      gathering.End();
    }));
    r.SetAfterPostEdit({});
    r.Close();
  }
  PictureStore kept(work + "/COINS.DBF");
  kept.Load();
  if (kept.Unattached().size() != 0 || kept.pictures().size() != kPictures) {
    std::fprintf(stderr, "klv_find_bench: %zu of the pictures came loose\n",
                 kept.Unattached().size());
    return 1;
  }
  std::sort(pictures_ms.begin(), pictures_ms.end());
  Report("  the same, 1,000 changed coins with pictures", pictures_ms[1], run_ms[1],
         "no pictures");
  fs::remove_all(work);
  return 0;
}
