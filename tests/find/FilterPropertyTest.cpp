// The search-mode filter on real coin tables: the listed edge cases, and
// generated tables with random searches checked against a reference that
// evaluates the rows from their generated values.
#include "find/Filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>

#include "find/CoinRows.h"

namespace klv::find {
namespace {

using test::CoinRow;
using namespace klv::db;

struct Cell {
  int row;
  RowOperator op;
  std::string text;
};

// Saves each screen as a level (the last one confirmed) and returns the search.
std::shared_ptr<const ActiveSearch> SearchOf(const std::vector<std::vector<Cell>>& levels,
                                             int date_format = 7) {
  CriteriaList list;
  for (size_t i = 0; i < levels.size(); ++i) {
    SearchScreen screen = EmptyScreen();
    for (const Cell& c : levels[i]) {
      screen[static_cast<size_t>(c.row - 1)].op = c.op;
      screen[static_cast<size_t>(c.row - 1)].text = QString::fromStdString(c.text);
    }
    const SaveOutcome out =
        i + 1 < levels.size() ? list.More(screen, date_format) : list.Confirm(screen, date_format);
    EXPECT_TRUE(out.ok()) << out.message.toStdString();
  }
  return std::make_shared<const ActiveSearch>(list.criteria());
}

std::vector<uint32_t> Accepted(dbf::Table& table, std::shared_ptr<const ActiveSearch> search) {
  table.SetOnFilterRecord(RowFilter(std::move(search)));
  table.SetFiltered(true);
  std::vector<uint32_t> rows = test::Walk(table);
  EXPECT_EQ(table.RecordCount(), rows.size());
  table.SetFiltered(false);
  return rows;
}

TEST(SearchFilterTest, EdgeCases) {
  klv::test::TempDir dir;
  dbf::Table table;
  test::MakeCoinTable(dir,
                      {
                          {"USA", "1950", "Birds", "", "", 10, 0, 0, {1990, 1, 2}},         // 1
                          {"CAB", "1951", "ships", "", "", 10.01, {}, {}, {}},              // 2
                          {"Abbey", "1950", "", "", "", {}, 12.5, 3, {1985, 6, 1}},         // 3
                          {"usa east", "1850", "SHIPS", "", "", 9.99, 1, 1, {2001, 1, 1}},  // 4
                          {"France", "1950", "Ships and boats", "", "", 0.01, 2, 2, {}},    // 5
                      },
                      table);
  using V = std::vector<uint32_t>;
  const auto N1 = RowOperator::kEqual, N2 = RowOperator::kGreater, N3 = RowOperator::kLess,
             N4 = RowOperator::kRange;
  // Greater than 10 is strict.
  EXPECT_EQ(Accepted(table, SearchOf({{{6, N2, "> 10"}}})), V({2}));
  // A blank date reads as 0, before every real date; a blank number as 0.
  EXPECT_EQ(Accepted(table, SearchOf({{{11, N3, "< 01/01/1986"}}})), V({2, 3, 5}));
  EXPECT_EQ(Accepted(table, SearchOf({{{7, N1, "= 0"}}})), V({1, 2}));
  EXPECT_EQ(Accepted(table, SearchOf({{{13, N1, "= 0"}}})), V({1, 2}));
  // Both bounds of a range are excluded.
  EXPECT_EQ(Accepted(table, SearchOf({{{6, N4, "> 0.01      AND < 10.01"}}})), V({1, 4}));
  EXPECT_EQ(Accepted(table, SearchOf({{{11, N4, "> 01/02/1990 AND < 01/01/2001"}}})), V());
  // Contains, case ignored; the operator of a character row does nothing.
  EXPECT_EQ(Accepted(table, SearchOf({{{1, N4, "ab"}}})), V({2, 3}));
  // Two levels: (country USA and year 1950) or topic ships.
  EXPECT_EQ(Accepted(table, SearchOf({{{1, N1, "USA"}, {3, N1, "1950"}}, {{9, N1, "ships"}}})),
            V({1, 2, 4, 5}));
  // No criteria: nothing passes.
  EXPECT_EQ(Accepted(table, std::make_shared<const ActiveSearch>(std::vector<SearchCriterion>{})),
            V());
}

TEST(SearchFilterTest, TheActiveSearchKeepsItsOwnCriteria) {
  klv::test::TempDir dir;
  dbf::Table table;
  std::vector<CoinRow> rows(3);
  rows[0].country = "USA";
  rows[1].country = "Canada";
  rows[2].country = "usa";
  test::MakeCoinTable(dir, rows, table);
  CriteriaList list;
  SearchScreen screen = EmptyScreen();
  screen[0].text = "usa";
  ASSERT_TRUE(list.Confirm(screen, 7).ok());
  auto search = std::make_shared<const ActiveSearch>(list.criteria());
  table.SetOnFilterRecord(RowFilter(search));
  table.SetFiltered(true);
  EXPECT_EQ(table.RecordCount(), 2u);
  // Showing the form again empties its list; the filter does not change.
  list.ClearSearch();
  table.Refresh();
  EXPECT_EQ(table.RecordCount(), 2u);
  // Reopened, the table is prepared again and the search still holds.
  table.Close();
  table.Open();
  EXPECT_EQ(test::Walk(table), std::vector<uint32_t>({1, 3}));
}

// ---------------------------------------------------------------------------
// Generated tables and searches.

const std::vector<std::string> kCountries = {"USA",        "usa",        "Usa",        "USA East",
                                             "Canada",     "Österreich", "ÖSTERREICH", "",
                                             "Ümlaut ÿes", "Mu µ",       "Cabbage"};
const std::vector<std::string> kTopics = {"Ships", "ships and boats", "", "Birds",
                                          "BIRD",  "Sailing SHIPS"};
const std::vector<std::string> kYears = {"1950", "1950a", "1851", "", "19", "2001"};
const std::vector<double> kPrices = {0, 0.01, 10, 10.5, 12.5, 99.99, 100, 1000.25, -5};
const std::vector<long> kQuantities = {0, 1, 2, 5, 10, 40, 41};
const std::vector<dbf::Date> kDates = {{1950, 1, 1}, {1985, 6, 1}, {1990, 1, 2},
                                       {1990, 1, 3}, {2001, 1, 1}, {2024, 2, 29}};

bool IsText(int field) {
  return field == kCountry || field == kYear || field == kTopic || field == kComment;
}

// A row as the reference sees it: texts, and numbers with blanks as 0 and
// dates as yyyymmdd (blank 0, before every date).
struct RefRow {
  std::map<int, std::string> text;
  std::map<int, double> number;
};

RefRow RefOf(const CoinRow& r) {
  const auto& d = r.bought;
  return {{{kCountry, r.country}, {kYear, r.year}, {kTopic, r.topic}, {kComment, r.comment}},
          {{kPurchasePr, r.price.value_or(0)},
           {kMarketValu, r.market.value_or(0)},
           {kQuantity, static_cast<double>(r.quantity.value_or(0))},
           {kPurchDate, d.IsNull() ? 0 : d.year * 10000 + d.month * 100 + d.day}}};
}

struct Condition {
  int field;
  RowOperator op;
  double lo, hi;
  std::string text;  // as typed
};

bool Holds(const RefRow& r, const Condition& c) {
  if (IsText(c.field)) {
    return QString::fromStdString(r.text.at(c.field))
        .toUpper()
        .contains(QString::fromStdString(c.text).trimmed().toUpper());
  }
  const double v = r.number.at(c.field);
  return c.op == RowOperator::kEqual     ? v == c.lo
         : c.op == RowOperator::kGreater ? v > c.lo
         : c.op == RowOperator::kLess    ? v < c.lo
                                         : v > c.lo && v < c.hi;
}

// The cell text the masked edit leaves for a condition.
std::string CellText(const Condition& c, int date_format) {
  if (IsText(c.field)) return c.text;
  auto typed = [&](double v) {
    char buf[32];
    const int n = static_cast<int>(v), y = n / 10000, m = n / 100 % 100, d = n % 100;
    if (c.field == kPurchDate)
      std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", date_format == 10 ? d : m,
                    date_format == 10 ? m : d, y);
    else
      std::snprintf(buf, sizeof buf, c.field == kQuantity ? "%.0f" : "%.2f", v);
    return std::string(buf);
  };
  const char* op[] = {"= ", "> ", "< ", "> "};
  std::string text = op[static_cast<int>(c.op) - 1] + typed(c.lo);
  if (c.op == RowOperator::kRange) text += "  AND < " + typed(c.hi);
  return text;
}

TEST(SearchFilterPropertyTest, RandomSearchesAgreeWithTheReference) {
  std::mt19937 rng(20261209);
  auto pick = [&](const auto& v) { return v[rng() % v.size()]; };
  std::vector<CoinRow> rows(3000);
  for (size_t i = 0; i < rows.size(); ++i) {
    CoinRow& r = rows[i];
    r.country = pick(kCountries);
    r.topic = pick(kTopics);
    r.year = pick(kYears);
    r.comment = "row " + std::to_string(i % 700);
    if (rng() % 6) r.price = pick(kPrices);
    if (rng() % 6) r.market = pick(kPrices);
    if (rng() % 6) r.quantity = pick(kQuantities);
    if (rng() % 5) r.bought = pick(kDates);
  }
  std::vector<RefRow> ref;
  for (const CoinRow& r : rows) ref.push_back(RefOf(r));
  klv::test::TempDir dir;
  dbf::Table table;
  test::MakeCoinTable(dir, rows, table);
  table.AddIndex("BYCOUNTRY", "UPPER(COUNTRY)");

  const std::vector<int> fields = {kCountry,    kYear,       kTopic,    kComment,
                                   kPurchasePr, kMarketValu, kQuantity, kPurchDate};
  int nonempty = 0;
  for (int round = 0; round < 60; ++round) {
    const int date_format = round % 2 ? 10 : 7;
    std::vector<std::vector<Condition>> levels(1 + rng() % 4);
    std::vector<std::vector<Cell>> screens;
    for (auto& level : levels) {
      std::vector<int> chosen = fields;
      std::shuffle(chosen.begin(), chosen.end(), rng);
      chosen.resize(1 + rng() % 3);
      screens.emplace_back();
      for (int field : chosen) {
        Condition c{field, static_cast<RowOperator>(1 + rng() % 4), 0, 0, ""};
        if (IsText(field)) {
          // A piece of a stored value, in either case.
          const QString q = QString::fromStdString(pick(ref).text.at(field) + "s");
          const QString part =
              q.mid(static_cast<qsizetype>(rng() % static_cast<unsigned>(q.size())),
                    1 + static_cast<qsizetype>(rng() % 4));
          c.text = (part.trimmed().isEmpty() ? QString("a")
                    : rng() % 2              ? part.toLower()
                                             : part)
                       .toStdString();
        } else {
          c.lo = pick(ref).number.at(field);
          c.hi = pick(ref).number.at(field);
          if (c.op == RowOperator::kRange && c.hi < c.lo) std::swap(c.lo, c.hi);
          if (field == kPurchDate && (c.lo == 0 || c.hi == 0)) c.lo = c.hi = 19900102;
        }
        screens.back().push_back({field, c.op, CellText(c, date_format)});
        level.push_back(c);
      }
    }
    std::vector<uint32_t> want;
    for (size_t i = 0; i < rows.size(); ++i) {
      if (std::any_of(levels.begin(), levels.end(), [&](const std::vector<Condition>& level) {
            return std::all_of(level.begin(), level.end(),
                               [&](const Condition& c) { return Holds(ref[i], c); });
          }))
        want.push_back(static_cast<uint32_t>(i + 1));
    }
    nonempty += !want.empty();
    SCOPED_TRACE("round " + std::to_string(round));
    const auto search = SearchOf(screens, date_format);
    EXPECT_EQ(Accepted(table, search), want);
    // Through an index the same rows show, in the index's order.
    table.SetIndexName("BYCOUNTRY");
    std::vector<uint32_t> indexed = Accepted(table, search);
    std::sort(indexed.begin(), indexed.end());
    EXPECT_EQ(indexed, want);
    table.SetIndexName("");
  }
  // The searches are worth something only when many of them find rows.
  EXPECT_GT(nonempty, 30);
}

}  // namespace
}  // namespace klv::find
