// The statistics of a collection: what the coin table holds by country,
// decade, condition and topic, what was spent by purchase year, and what it
// cost against what it is worth, in total and by country.
//
// Every figure comes from one walk of the table in its current order and
// filter (the search result in search mode). Groups compare as the index
// compares texts: blanks at both ends trimmed, letter case ignored; a blank
// value is the group "(none)". A group is named as the walk first met it.
//
// Promises:
// - The walk reads each row once and holds only the groups, never the rows:
//   memory grows with the number of distinct values.
// - The table's cursor and display guard are left as they were, however the
//   walk ends.
// - Money figures are value times quantity, as report totals are.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include <QString>

#include "app/Formats.h"
#include "db/dbf/Table.h"

namespace klv::stats {

// The figures of one group (or of the whole walk).
struct Figures {
  uint64_t coins = 0;   // rows
  double quantity = 0;  // the sum of Quantity
  double purchase = 0;  // purchase price times quantity
  double market = 0;    // market value times quantity
  void Add(double q, double purchase_price, double market_value) {
    ++coins;
    quantity += q;
    purchase += q * purchase_price;
    market += q * market_value;
  }
  void Add(const Figures& other) {
    coins += other.coins;
    quantity += other.quantity;
    purchase += other.purchase;
    market += other.market;
  }
};

struct Group {
  QString name;
  Figures figures;
};

// What a chart draws of each group.
enum class Measure {
  kCoins,     // coins per group
  kSpending,  // the purchase total per group
  kValue,     // purchase total beside market total per group
};

// The charts, in the order the window lists them.
enum class ChartId : int {
  kByCountry,
  kByDecade,
  kByCondition,
  kByTopic,
  kSpendingByYear,
  kValueTotal,
  kValueByCountry,
};
inline constexpr int kChartCount = 7;

struct Chart {
  ChartId id = ChartId::kByCountry;
  QString title;
  Measure measure = Measure::kCoins;
  // The groups shown: at most kTopGroups, then "others" for the rest.
  std::vector<Group> groups;
  Figures total;  // every row of the walk
};

// Large groupings keep this many groups; the rest are summed as "others".
inline constexpr size_t kTopGroups = 15;

struct Statistics {
  std::vector<Chart> charts;  // kChartCount of them, in ChartId order
  bool search_result = false;
  bool complete = true;  // false: the walk was stopped
  uint64_t rows = 0;
};

// The group of a Year text: "(none)" for a blank one, "BC" for one that
// says BC (in any letter case), the decade of its leading digits ("1960s",
// "850s"), else "(unknown)". sort_key orders decades in time: BC first,
// then the decades, then the unknown and the blank ones.
QString DecadeOf(std::string_view year, int* sort_key = nullptr);

// Called every few thousand rows with the rows walked so far and the rows
// the table counted at the start; returning false stops the walk.
using Progress = std::function<bool(uint64_t done, uint64_t total)>;

// Walks the table from its first row to its end. Throws what the table
// throws (after putting its cursor back).
Statistics CollectStatistics(dbf::Table& table, bool search_result, const Progress& progress = {});

// The columns of a chart's table, as the window, the PDF and the CSV head them.
QStringList FigureColumns();
// One line of a chart's table: the group's name, coins, quantity, purchase
// total and market total, the amounts as the program formats them.
QStringList FigureLine(const Group& group, const app::NumberFormats& formats);

// The tables as CSV, with a header line: chart, group, coins, quantity,
// purchase total, market total (plain numbers, two decimals for money).
// Written through a temporary file renamed into place; throws base::Error.
void WriteStatisticsCsv(const Statistics& stats, const QString& path);
// Each chart on a page of its own, drawn as bars, with its table beneath.
// False when the file could not be written.
bool WriteStatisticsPdf(const Statistics& stats, const app::NumberFormats& formats,
                        const QString& path);

}  // namespace klv::stats
