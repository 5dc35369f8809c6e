#include "report/ReportLayout.h"

#include <algorithm>
#include <numeric>

#include "db/FieldTable.h"

namespace klv::report {

namespace {

// The widest amount and quantity the record form lets be typed (twelve and
// five characters).
constexpr double kWidestAmount = 999999999.99;
constexpr double kWidestQuantity = 99999;
// Two-digit day and month: the widest date of any short date pattern.
constexpr dbf::Date kWidestDate{2000, 12, 28};

// Rounding slack of widths measured in inches.
constexpr double kEpsilon = 1e-9;

int TableFieldOfTotals(int totals_field) {
  switch (totals_field) {
    case kTotMarketValue:
      return db::kMarketValu;
    case kTotPurchasePrice:
      return db::kPurchasePr;
    case kTotPremiumValue:
      return db::kPremiumVal;
    case kTotQuantity:
      return db::kQuantity;
    default:
      return 0;
  }
}

// Takes up to excess from the items of one kind (fillers or not), each
// giving in proportion to what it has beyond its need; returns what is
// still to take.
double Take(std::vector<double>& out, const std::vector<double>& needs,
            const std::vector<bool>& fillers, bool from_fillers, double excess) {
  double spare = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    if (fillers[i] == from_fillers) spare += std::max(0.0, out[i] - needs[i]);
  }
  if (spare <= kEpsilon) return excess;
  const double taken = std::min(excess, spare);
  for (size_t i = 0; i < out.size(); ++i) {
    if (fillers[i] != from_fillers) continue;
    out[i] -= std::max(0.0, out[i] - needs[i]) * taken / spare;
  }
  return excess - taken;
}

// The same in whole characters: one at a time from the item with the most
// to spare (the first of equals).
int TakeChars(std::vector<int>& out, const std::vector<int>& needs,
              const std::vector<bool>& fillers, bool from_fillers, int excess) {
  while (excess > 0) {
    int best = -1;
    for (size_t i = 0; i < out.size(); ++i) {
      if (fillers[i] != from_fillers || out[i] <= needs[i]) continue;
      if (best < 0 ||
          out[i] - needs[i] > out[static_cast<size_t>(best)] - needs[static_cast<size_t>(best)])
        best = static_cast<int>(i);
    }
    if (best < 0) break;
    --out[static_cast<size_t>(best)];
    --excess;
  }
  return excess;
}

}  // namespace

int FieldOfItem(const ReportItem& item) {
  if (item.field >= 1 && item.field <= db::kFieldCount) return item.field;
  return FieldNumberOfName(item.name, /*totals_line=*/false);
}

bool ShowsNumber(const ReportItem& item, bool totals_line) {
  if (!item.IsField()) return false;
  if (totals_line) return TableFieldOfTotals(item.field) != 0;
  const int f = FieldOfItem(item);
  return f >= 1 && db::FieldInfoOf(f).letter == 'N';
}

QString WidestText(const ReportItem& item, bool totals_line, const app::NumberFormats& formats,
                   const dbf::TextFormat& dates) {
  if (item.IsLabel()) return item.label;
  if (!item.IsField()) return QString();
  const int f = totals_line ? TableFieldOfTotals(item.field) : FieldOfItem(item);
  if (f < 1 || f > db::kFieldCount) return QString();
  const db::FieldInfo& info = db::FieldInfoOf(f);
  switch (info.kind) {
    case db::FieldKind::kDecimal:
      return app::FormatAmount(formats, 1, kWidestAmount);
    case db::FieldKind::kWhole:
      return app::FormatNumber(formats, 1, 0, kWidestQuantity);
    case db::FieldKind::kDate:
      return QString::fromStdString(dbf::FormatDateText(kWidestDate, dates));
    case db::FieldKind::kText:
      break;
  }
  return QString(info.width, QLatin1Char('0'));
}

std::vector<double> FitWidths(const std::vector<double>& widths, const std::vector<double>& needs,
                              const std::vector<bool>& fillers, double total) {
  const double sum = std::accumulate(widths.begin(), widths.end(), 0.0);
  bool short_of_room = false;
  for (size_t i = 0; i < widths.size(); ++i) short_of_room |= needs[i] > widths[i] + kEpsilon;
  if (!short_of_room && sum <= total + kEpsilon) return widths;

  std::vector<double> out(widths.size());
  for (size_t i = 0; i < widths.size(); ++i) out[i] = std::max(widths[i], needs[i]);
  double excess = std::accumulate(out.begin(), out.end(), 0.0) - total;
  if (excess > kEpsilon) excess = Take(out, needs, fillers, /*from_fillers=*/false, excess);
  if (excess > kEpsilon) excess = Take(out, needs, fillers, /*from_fillers=*/true, excess);
  if (excess > kEpsilon) {
    const double now = std::accumulate(out.begin(), out.end(), 0.0);
    for (double& w : out) w *= total / now;
  }
  return out;
}

std::vector<int> FitCharWidths(const std::vector<int>& widths, const std::vector<int>& needs,
                               const std::vector<bool>& fillers, int total) {
  const int sum = std::accumulate(widths.begin(), widths.end(), 0);
  bool short_of_room = false;
  for (size_t i = 0; i < widths.size(); ++i) short_of_room |= needs[i] > widths[i];
  if (!short_of_room && sum <= total) return widths;

  std::vector<int> out(widths.size());
  for (size_t i = 0; i < widths.size(); ++i) out[i] = std::max(widths[i], needs[i]);
  int excess = std::accumulate(out.begin(), out.end(), 0) - total;
  if (excess > 0) excess = TakeChars(out, needs, fillers, /*from_fillers=*/false, excess);
  if (excess > 0) TakeChars(out, needs, fillers, /*from_fillers=*/true, excess);
  return out;
}

}  // namespace klv::report
