// The statistics walk and the want list on real coin tables: each grouping's
// figures against a plain count over generated rows, the files read back
// (the PDF through pdftotext), the command line.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "db/FieldTable.h"
#include "db/dbf/Table.h"
#include "report/ReportRun.h"
#include "stats/Statistics.h"
#include "stats/WantList.h"
#include "support/TempDir.h"

// Rows are written as short aggregates; what they leave out is blank.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace klv::stats {
namespace {

struct Row {
  std::string country, year, condition, topic;
  double price = 0, market = 0;
  long quantity = 0;
  dbf::Date bought;
  std::string wanted = "No", face, mint, comment;
};

void MakeTable(const test::TempDir& dir, const std::vector<Row>& rows, dbf::Table& table) {
  dbf::Table::CreateTable(dir.File("COINS.DBF"), db::CoinFieldDefs());
  table.SetDirectory(dir.path());
  table.SetTableName("COINS.DBF");
  table.Open();
  for (const Row& r : rows) {
    table.Append();
    table.FieldByName("Country").SetAsString(r.country);
    table.FieldByName("Year").SetAsString(r.year);
    table.FieldByName("Condition").SetAsString(r.condition);
    table.FieldByName("Topic").SetAsString(r.topic);
    table.FieldByName("FaceValue").SetAsString(r.face);
    table.FieldByName("MintMark").SetAsString(r.mint);
    table.FieldByName("Comment").SetAsString(r.comment);
    table.FieldByName("Wanted").SetAsString(r.wanted);
    if (r.price) table.FieldByName("PurchasePr").SetAsFloat(r.price);
    if (r.market) table.FieldByName("MarketValu").SetAsFloat(r.market);
    if (r.quantity) table.FieldByName("Quantity").SetAsInteger(r.quantity);
    if (!r.bought.IsNull()) table.FieldByName("PurchDate").SetAsDate(r.bought);
    table.Post();
  }
  table.First();
}

std::string Key(std::string s) {
  while (!s.empty() && s.front() == ' ') s.erase(s.begin());
  while (!s.empty() && s.back() == ' ') s.pop_back();
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s.empty() ? "(NONE)" : s;
}

// The decade a person reads off a Year text.
std::string PlainDecade(const std::string& year) {
  const std::string k = Key(year);
  if (k == "(NONE)") return k;
  if (k.find("BC") != std::string::npos) return "BC";
  if (!std::isdigit(static_cast<unsigned char>(k[0]))) return "(UNKNOWN)";
  return std::to_string(std::stoi(k) / 10 * 10) + "S";
}

std::string PlainYear(const dbf::Date& d) {
  return d.IsNull() ? "(NONE)" : std::to_string(d.year);
}

struct Plain {
  uint64_t coins = 0;
  double quantity = 0, purchase = 0, market = 0;
};

std::vector<Row> GeneratedRows(int n, unsigned seed) {
  std::mt19937 rng(seed);
  const std::vector<std::string> countries = {"France", "FRANCE ", " france", "Chile",
                                              "",       "  ",      "Norway",  "nORWAY"};
  const std::vector<std::string> years = {"1964",  "1964D", "1875 S", "",  "c.1900", "100 BC",
                                          "44 bc", "850",   "2001",   "?", "  1999 "};
  const std::vector<std::string> conditions = {"Fine", "FINE", "Uncirculated", "", "VF"};
  const std::vector<std::string> topics = {"Ships", "ships", "", "Animals", "Kings"};
  std::vector<Row> rows;
  for (int i = 0; i < n; ++i) {
    Row r;
    r.country = countries[rng() % countries.size()];
    r.year = years[rng() % years.size()];
    r.condition = conditions[rng() % conditions.size()];
    r.topic = topics[rng() % topics.size()];
    r.price = static_cast<double>(rng() % 10000) / 100;
    r.market = static_cast<double>(rng() % 20000) / 100;
    r.quantity = static_cast<long>(rng() % 4);
    if (rng() % 4 != 0)
      r.bought =
          dbf::Date{1980 + static_cast<int>(rng() % 12), 1 + static_cast<int>(rng() % 12), 1};
    rows.push_back(r);
  }
  return rows;
}

const Chart& ChartOf(const Statistics& s, ChartId id) {
  return s.charts.at(static_cast<size_t>(id));
}

std::map<std::string, Plain> FiguresOf(const Chart& c) {
  std::map<std::string, Plain> out;
  for (const Group& g : c.groups) {
    Plain& p = out[Key(g.name.toStdString())];
    EXPECT_EQ(p.coins, 0u) << "group named twice: " << g.name.toStdString();
    p = {g.figures.coins, g.figures.quantity, g.figures.purchase, g.figures.market};
  }
  return out;
}

TEST(StatsWalk, EachGroupingMatchesAPlainCount) {
  test::TempDir dir;
  const std::vector<Row> rows = GeneratedRows(600, 7);
  dbf::Table table;
  MakeTable(dir, rows, table);
  const Statistics s = CollectStatistics(table, false);
  ASSERT_EQ(s.rows, rows.size());
  ASSERT_EQ(s.charts.size(), static_cast<size_t>(kChartCount));

  struct Case {
    ChartId id;
    std::function<std::string(const Row&)> group;
  };
  const std::vector<Case> cases = {
      {ChartId::kByCountry, [](const Row& r) { return Key(r.country); }},
      {ChartId::kByDecade, [](const Row& r) { return PlainDecade(r.year); }},
      {ChartId::kByCondition, [](const Row& r) { return Key(r.condition); }},
      {ChartId::kByTopic, [](const Row& r) { return Key(r.topic); }},
      {ChartId::kSpendingByYear, [](const Row& r) { return PlainYear(r.bought); }},
      {ChartId::kValueTotal, [](const Row&) { return std::string("ALL COINS"); }},
      {ChartId::kValueByCountry, [](const Row& r) { return Key(r.country); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.id));
    std::map<std::string, Plain> expected;
    for (const Row& r : rows) {
      Plain& p = expected[c.group(r)];
      ++p.coins;
      p.quantity += static_cast<double>(r.quantity);
      p.purchase += static_cast<double>(r.quantity) * r.price;
      p.market += static_cast<double>(r.quantity) * r.market;
    }
    const std::map<std::string, Plain> got = FiguresOf(ChartOf(s, c.id));
    ASSERT_EQ(got.size(), expected.size());
    for (const auto& [name, want] : expected) {
      SCOPED_TRACE(name);
      ASSERT_TRUE(got.count(name));
      EXPECT_EQ(got.at(name).coins, want.coins);
      EXPECT_DOUBLE_EQ(got.at(name).quantity, want.quantity);
      EXPECT_NEAR(got.at(name).purchase, want.purchase, 1e-6);
      EXPECT_NEAR(got.at(name).market, want.market, 1e-6);
    }
    EXPECT_EQ(ChartOf(s, c.id).total.coins, rows.size());
  }
}

TEST(StatsWalk, DecadesOfOddYearTexts) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"1964", "1960s"},   {"1964D", "1960s"}, {" 1875 S", "1870s"},    {"850", "850s"},
      {"7", "0s"},         {"100 BC", "BC"},   {"44 bc", "BC"},         {"bc", "BC"},
      {"", "(none)"},      {"   ", "(none)"},  {"c.1900", "(unknown)"}, {"?", "(unknown)"},
      {"ND", "(unknown)"},
  };
  for (const auto& [year, decade] : cases) EXPECT_EQ(DecadeOf(year).toStdString(), decade) << year;
  // In time: BC, the decades, then unknown and blank.
  int bc = 0, d1870 = 0, d1960 = 0, unknown = 0, none = 0;
  DecadeOf("100 BC", &bc);
  DecadeOf("1875", &d1870);
  DecadeOf("1964", &d1960);
  DecadeOf("ND", &unknown);
  DecadeOf("", &none);
  EXPECT_LT(bc, d1870);
  EXPECT_LT(d1870, d1960);
  EXPECT_LT(d1960, unknown);
  EXPECT_LT(unknown, none);
}

TEST(StatsWalk, LargeGroupingsKeepTheTopFifteenAndOthers) {
  test::TempDir dir;
  std::vector<Row> rows;
  // Country k has k + 1 rows: the 15 largest are 29 down to 15.
  for (int k = 0; k < 30; ++k)
    for (int i = 0; i <= k; ++i)
      rows.push_back(Row{"Land" + std::to_string(k), "1990", "", "", 1, 2, 1});
  dbf::Table table;
  MakeTable(dir, rows, table);
  const Statistics s = CollectStatistics(table, false);
  const Chart& c = ChartOf(s, ChartId::kByCountry);
  ASSERT_EQ(c.groups.size(), kTopGroups + 1);
  EXPECT_EQ(c.groups.front().name.toStdString(), "Land29");
  EXPECT_EQ(c.groups[kTopGroups - 1].name.toStdString(), "Land15");
  EXPECT_EQ(c.groups.back().name.toStdString(), "others");
  uint64_t others = 0;
  for (int k = 0; k < 15; ++k) others += static_cast<uint64_t>(k + 1);
  EXPECT_EQ(c.groups.back().figures.coins, others);
  EXPECT_EQ(c.total.coins, rows.size());
}

TEST(StatsWalk, SeesOnlyTheRowsTheFilterAcceptsAndLeavesTheCursor) {
  test::TempDir dir;
  dbf::Table table;
  MakeTable(dir,
            {{"France", "1964", "Fine", "", 1, 2, 1},
             {"Chile", "1970", "Fine", "", 1, 2, 2},
             {"france", "1980", "VF", "", 1, 2, 3}},
            table);
  table.SetOnFilterRecord(
      [](dbf::Table& t) { return Key(t.FieldByName("Country").AsString()) == "FRANCE"; });
  table.SetFiltered(true);
  table.First();
  table.Next();
  const uint32_t stood = table.RecNo();
  const Statistics s = CollectStatistics(table, true);
  EXPECT_TRUE(s.search_result);
  EXPECT_EQ(s.rows, 2u);
  const Chart& c = ChartOf(s, ChartId::kByCountry);
  ASSERT_EQ(c.groups.size(), 1u);
  EXPECT_EQ(c.groups[0].name.toStdString(), "France");
  EXPECT_DOUBLE_EQ(c.groups[0].figures.quantity, 4);
  EXPECT_EQ(table.RecNo(), stood);
  EXPECT_FALSE(table.ControlsDisabled());
}

TEST(StatsWalk, SeesRowsAnotherCopyAddedOnTheNextWalk) {
  test::TempDir dir;
  dbf::Table table;
  MakeTable(dir, {{"France", "1964", "", "", 1, 2, 1}}, table);
  EXPECT_EQ(CollectStatistics(table, false).rows, 1u);
  dbf::Table other;
  other.SetDirectory(dir.path());
  other.SetTableName("COINS.DBF");
  other.Open();
  other.Append();
  other.FieldByName("Country").SetAsString("Chile");
  other.Post();
  EXPECT_EQ(CollectStatistics(table, false).rows, 2u);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string PdfText(const std::string& pdf) {
  const std::string txt = pdf + ".txt";
  const std::string cmd = "pdftotext -layout '" + pdf + "' '" + txt + "'";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  return ReadFile(txt);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream s(text);
  for (std::string line; std::getline(s, line);) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    size_t start = line.find_first_not_of(" \f");
    out.push_back(start == std::string::npos ? "" : line.substr(start));
  }
  return out;
}

bool HasLineStarting(const std::vector<std::string>& lines, const std::string& start) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& l) { return l.rfind(start, 0) == 0; });
}

TEST(StatsFiles, PdfPagesCarryEachChartWithItsTable) {
  test::TempDir dir;
  dbf::Table table;
  MakeTable(dir,
            {{"France", "1964", "Fine", "Ships", 10, 25, 2, {1990, 5, 1}},
             {"Chile", "100 BC", "VF", "", 1.5, 3, 1, {}},
             {"france", "", "fine", "ships", 5, 5, 1, {1990, 6, 1}}},
            table);
  const Statistics s = CollectStatistics(table, false);
  const std::string pdf = dir.File("STATS.PDF");
  ASSERT_TRUE(WriteStatisticsPdf(s, app::NumberFormats{}, QString::fromStdString(pdf)));
  const std::string text = PdfText(pdf);
  // One page per chart.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\f'), kChartCount);
  const std::vector<std::string> lines = Lines(text);
  for (const char* title :
       {"Coins by Country", "Coins by Decade", "Coins by Condition", "Coins by Topic",
        "Spending by Purchase Year", "Purchase Price against Market Value",
        "Purchase Price against Market Value by Country"})
    EXPECT_TRUE(HasLineStarting(lines, title)) << title;
  // Table lines begin with the group's name: name, coins, quantity, purchase, market.
  const std::vector<std::pair<std::string, std::vector<std::string>>> expected = {
      {"France", {"2", "3", "25.00", "55.00"}},    {"Chile", {"1", "1", "1.50", "3.00"}},
      {"BC", {"1", "1", "1.50", "3.00"}},          {"1960s", {"1", "2", "20.00", "50.00"}},
      {"(none)", {"1", "1", "5.00", "5.00"}},      {"1990", {"2", "3", "25.00", "55.00"}},
      {"All coins", {"3", "4", "26.50", "58.00"}}, {"Total", {"3", "4", "26.50", "58.00"}}};
  for (const auto& [name, cells] : expected) {
    std::string want = name;
    bool found = false;
    for (const std::string& l : lines) {
      if (l.rfind(name, 0) != 0) continue;
      std::stringstream words(l.substr(name.size()));
      std::vector<std::string> got;
      for (std::string w; words >> w;) got.push_back(w);
      if (got == cells) found = true;
    }
    EXPECT_TRUE(found) << name;
  }
}

TEST(StatsFiles, CsvHasAHeaderAndOneLinePerGroup) {
  test::TempDir dir;
  dbf::Table table;
  MakeTable(dir, {{"France, Paris", "1964", "Fine", "", 10, 25, 2}}, table);
  const std::string csv = dir.File("STATS.CSV");
  WriteStatisticsCsv(CollectStatistics(table, false), QString::fromStdString(csv));
  const std::vector<std::string> lines = Lines(ReadFile(csv));
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "Chart,Group,Coins,Quantity,Purchase Total,Market Total");
  EXPECT_EQ(lines[1], "Coins by Country,\"France, Paris\",1,2,20.00,50.00");
  EXPECT_EQ(lines[2], "Coins by Country,Total,1,2,20.00,50.00");
}

TEST(WantList, WantedRowsOnlyByCountryThenYear) {
  test::TempDir dir;
  dbf::Table table;
  std::vector<Row> rows = {
      {"norway", "1950", "", "", 0, 0, 0, {}, "Yes", "1 Krone", "", "first"},
      {"Chile", "1990", "", "", 0, 0, 0, {}, "No", "", "", "not wanted"},
      {"Chile", "1890", "", "", 0, 0, 0, {}, "YES", "10 Pesos", "So", ""},
      {"", "1900", "", "", 0, 0, 0, {}, "Yes", "", "", "no country"},
      {"Norway", "1905", "", "", 0, 0, 0, {}, "Yes", "", "", ""},
      {"chile", "100 BC", "", "", 0, 0, 0, {}, "Yes", "", "", ""},
      {"Chile", "ND", "", "", 0, 0, 0, {}, "Yes", "", "", ""},
      {"Chile", "1890a", "", "", 0, 0, 0, {}, "Yes", "", "", ""},
  };
  MakeTable(dir, rows, table);
  WantList list(table);
  EXPECT_EQ(list.rows(), 7u);
  std::vector<std::string> order;
  dbf::Table& t = list.table();
  for (t.First(); !t.Eof(); t.Next())
    order.push_back(t.FieldByName("Country").AsString() + "/" + t.FieldByName("Year").AsString());
  const std::vector<std::string> expected = {"chile/100 BC", "Chile/1890",  "Chile/1890a",
                                             "Chile/ND",     "Norway/1905", "norway/1950",
                                             "/1900"};
  EXPECT_EQ(order, expected);

  // CSV as the export writes it, headed by the captions.
  app::PerField<QString> captions;
  for (int f = 1; f <= db::kFieldCount; ++f)
    captions[static_cast<size_t>(f)] =
        QString::fromUtf8(db::FieldInfoOf(f).caption.data(), db::FieldInfoOf(f).caption.size());
  const std::string csv = dir.File("WANT.CSV");
  WriteWantListCsv(list, captions, QString::fromStdString(csv));
  const std::vector<std::string> lines = Lines(ReadFile(csv));
  ASSERT_GE(lines.size(), 3u);
  // UTF-8 with its byte order mark, as the export's CSV.
  EXPECT_EQ(lines[0],
            "\xEF\xBB\xBF"
            "Country,Face Value,Year,Mint Mark,Condition,Comment");
  EXPECT_EQ(lines[2], "Chile,10 Pesos,1890,So,,");

  // The PDF through the report engine: the columns' captions and the rows.
  report::RunSetup setup;
  setup.mode = report::kModePrint;
  setup.captions = captions;
  const std::string pdf = dir.File("WANT.PDF");
  ASSERT_TRUE(WriteWantListReport(list, setup, QString::fromStdString(pdf)));
  const std::vector<std::string> pdf_lines = Lines(PdfText(pdf));
  EXPECT_TRUE(HasLineStarting(pdf_lines, "Want List"));
  EXPECT_TRUE(HasLineStarting(pdf_lines, "Country"));
  EXPECT_TRUE(HasLineStarting(pdf_lines, "norway")) << "the rows as stored";
  EXPECT_FALSE(HasLineStarting(pdf_lines, "not wanted"));
}

TEST(CommandLine, StatisticsAndWantListRuns) {
  const auto parse = [](const std::vector<const char*>& args) {
    QStringList list;
    for (const char* a : args) list << QString::fromLatin1(a);
    return app::ParseCommandLine(list);
  };
  const app::CommandLine stats = parse({"--statistics", "--output", "S.PDF", "C.DBF"});
  EXPECT_TRUE(stats.statistics);
  EXPECT_EQ(stats.output.toStdString(), "S.PDF");
  EXPECT_EQ(stats.database.toStdString(), "C.DBF");
  EXPECT_TRUE(stats.problem.isEmpty());
  const app::CommandLine want = parse({"--want-list", "--output", "W.CSV"});
  EXPECT_TRUE(want.want_list);
  EXPECT_TRUE(want.problem.isEmpty());
  const std::vector<std::pair<std::vector<const char*>, std::string>> wrong = {
      {{"--statistics"}, "--statistics needs --output"},
      {{"--want-list"}, "--want-list needs --output"},
      {{"--statistics", "--want-list", "--output", "X.PDF"},
       "--report, --statistics and --want-list exclude each other"},
      {{"--output", "X.PDF"}, "--output needs --report"},
  };
  for (const auto& [args, problem] : wrong) EXPECT_EQ(parse(args).problem.toStdString(), problem);
}

}  // namespace
}  // namespace klv::stats
