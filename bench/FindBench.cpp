// The search filter of search by example over a large coin table. Each
// filtered count is printed beside two baselines measured in the same run:
// the unfiltered count, and a count through a filter that accepts every row
// without reading it (what the engine's walk alone costs). A filter that
// looks its fields up by name on every row is shown too, for comparison.
//
// The table (1,000,000 rows unless --rows N) is generated once by the engine
// and cached in $KLV_BENCH_DIR/find, default /tmp/klv-bench/find.
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

#include "db/FieldTable.h"
#include "db/dbf/Table.h"
#include "find/Criteria.h"
#include "find/Filter.h"

namespace {

namespace fs = std::filesystem;
using klv::dbf::Table;
using namespace klv::find;

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

}  // namespace

int main(int argc, char** argv) {
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
  return 0;
}
