// Statistics benchmark: the one walk behind the statistics window over a
// coin table of 1,000,000 rows (default), beside pgdbf reading the same file
// in the same run (its output thrown away); median of five runs of each.
//   klv_stats_bench [--rows N] [--dir DIR]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <QFileInfo>
#include <QGuiApplication>

#include "db/FieldTable.h"
#include "stats/Statistics.h"

namespace {

using Clock = std::chrono::steady_clock;
double Ms(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}
double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  long rows = 1000000;
  std::string dir = "/tmp/klv-stats-bench";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "--rows") rows = std::atol(argv[i + 1]);
    if (std::string(argv[i]) == "--dir") dir = argv[i + 1];
  }
  std::system(("mkdir -p " + dir).c_str());
  const std::string name = "STATS" + std::to_string(rows) + ".DBF";
  const std::string path = dir + "/" + name;
  if (!QFileInfo::exists(QString::fromStdString(path))) {
    klv::dbf::Table::CreateTable(path, klv::CoinFieldDefs());
    klv::dbf::Table t;
    t.SetDirectory(dir);
    t.SetTableName(name);
    t.SetExclusive(true);
    t.Open();
    t.BeginAppendBatch();
    const char* countries[] = {"Canada", "France", "germany ", "Mexico", "United States",
                               "Chile",  "Peru",   "Norway",   "",       "Japan"};
    const char* conditions[] = {"Fine", "Very Fine", "uncirculated", "", "Good"};
    const char* topics[] = {"Ships", "Animals", "", "Kings", "Birds", "Bridges"};
    const char* years[] = {"1964", "1875 S", "", "c.1900", "100 BC", "2001D", "1999"};
    for (long i = 0; i < rows; ++i) {
      t.Append();
      t.FieldByName("Country").SetAsString(countries[i % 10]);
      t.FieldByName("Condition").SetAsString(conditions[i % 5]);
      t.FieldByName("Topic").SetAsString(topics[i % 6]);
      t.FieldByName("Year").SetAsString(years[i % 7]);
      t.FieldByName("FaceValue").SetAsString("1 Dollar");
      t.FieldByName("PurchasePr").SetAsFloat(static_cast<double>(i % 1000) / 10);
      t.FieldByName("MarketValu").SetAsFloat(static_cast<double>(i % 700) / 7);
      t.FieldByName("Quantity").SetAsInteger(1 + i % 3);
      if (i % 4) t.FieldByName("PurchDate").SetAsDate({1970 + static_cast<int>(i % 50), 1, 1});
      t.Post();
    }
    t.EndAppendBatch();
    t.Close();
  }

  std::vector<double> walk, pgdbf;
  uint64_t counted = 0;
  for (int run = 0; run < 5; ++run) {
    {
      const auto start = Clock::now();
      const std::string cmd = "pgdbf '" + path + "' > /dev/null";
      if (std::system(cmd.c_str()) != 0) {
        std::fprintf(stderr, "pgdbf failed\n");
        return 1;
      }
      pgdbf.push_back(Ms(start));
    }
    {
      const auto start = Clock::now();
      klv::dbf::Table t;
      t.SetDirectory(dir);
      t.SetTableName(name);
      t.Open();
      const klv::stats::Statistics s = klv::stats::CollectStatistics(t, false);
      counted = s.rows;
      walk.push_back(Ms(start));
    }
  }
  const double w = Median(walk), p = Median(pgdbf);
  std::printf("rows %llu\n", static_cast<unsigned long long>(counted));
  std::printf("statistics-walk-ms %.1f\n", w);
  std::printf("baseline pgdbf-ms %.1f\n", p);
  std::printf("ratio %.2f (at most 1.50)\n", w / p);
  return w <= 1.5 * p ? 0 : 1;
}
