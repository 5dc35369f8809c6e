// Line widths as the item form and a width change leave them, item storing,
// and the field numbers items get from their names.
#include <gtest/gtest.h>

#include <vector>

#include "report/ReportDef.h"
#include "report/UrpFile.h"

namespace klv::report {
namespace {

ReportLine LineOfWidths(const std::vector<int>& widths) {
  ReportLine line;
  for (size_t i = 0; i < line.size(); ++i) {
    line[i].name = QStringLiteral("<FILLER>");
    line[i].width = static_cast<int16_t>(i < widths.size() ? widths[i] : 0);
  }
  return line;
}

std::vector<int> WidthsOf(const ReportLine& line, size_t n) {
  std::vector<int> out;
  for (size_t i = 0; i < n; ++i) out.push_back(line[i].width);
  return out;
}

struct WidthCase {
  const char* what;
  std::vector<int> before;
  int width;
  std::vector<int> normalised;  // storing an item
  std::vector<int> fitted;      // a width change
};

TEST(LineWidths, NormaliseAndFitToReportWidth) {
  const std::vector<WidthCase> cases = {
      {"an item overshoots", {50, 60, 25, 0}, 90, {50, 40, 0, 0}, {50, 40, 0, 0}},
      {"later items keep their widths on a width change (150 to 90)",
       {40, 60, 30, 20, 0},
       90,
       {40, 50, 0, 0, 0},
       {40, 50, 0, 20, 0}},
      {"the first item already too wide", {100, 20}, 90, {90, 0}, {90, 0}},
      {"an item of width 0 takes the rest (90 to 120)",
       {20, 30, 40, 0, 0},
       120,
       {20, 30, 40, 30, 0},
       {20, 30, 40, 30, 0}},
      {"the widths add up exactly", {40, 50, 10}, 90, {40, 50, 0}, {40, 50, 0}},
      {"twenty short items: the last is widened", std::vector<int>(20, 2), 90,
       [] {
         std::vector<int> v(20, 2);
         v[19] = 52;
         return v;
       }(),
       [] {
         std::vector<int> v(20, 2);
         v[19] = 52;
         return v;
       }()},
  };
  for (const WidthCase& c : cases) {
    SCOPED_TRACE(c.what);
    ReportLine normalised = LineOfWidths(c.before);
    NormaliseLine(normalised, c.width);
    EXPECT_EQ(WidthsOf(normalised, c.normalised.size()), c.normalised);
    ReportLine fitted = LineOfWidths(c.before);
    FitLineToWidth(fitted, c.width);
    EXPECT_EQ(WidthsOf(fitted, c.fitted.size()), c.fitted);
  }
}

TEST(LineWidths, WidthChangeFitsOnlyTheRecordLinesInUse) {
  ReportDef def = BuiltInReportDefs()[0];  // 90 characters, one line of 89
  def.lines = 2;
  def.record_lines[1] = LineOfWidths({150});
  const ReportLine totals = def.totals;
  const ReportLine third = def.record_lines[2];

  ChangeReportWidth(def, 150);
  EXPECT_EQ(def.width, 150);
  EXPECT_EQ(WidthsOf(def.record_lines[0], 9), (std::vector<int>{20, 7, 2, 7, 20, 29, 4, 61, 0}));
  EXPECT_EQ(LineLength(def.record_lines[0]), 8);
  EXPECT_EQ(WidthsOf(def.record_lines[1], 2), (std::vector<int>{150, 0}));
  EXPECT_EQ(def.totals, totals);
  EXPECT_EQ(def.record_lines[2], third);

  // And back to 90: the line is cut where it reaches 90, the filler after it ends it.
  ChangeReportWidth(def, 90);
  EXPECT_EQ(WidthsOf(def.record_lines[0], 9), (std::vector<int>{20, 7, 2, 7, 20, 29, 4, 1, 0}));
  EXPECT_EQ(WidthsOf(def.record_lines[1], 2), (std::vector<int>{90, 0}));
  EXPECT_EQ(BodyFontSizeForWidth(90), 10);
  EXPECT_EQ(BodyFontSizeForWidth(120), 8);
  EXPECT_EQ(BodyFontSizeForWidth(150), 6);
}

TEST(StoreItem, TakesKindTextFieldAndNormalisesTheLine) {
  ReportDef def = NewReportDef();
  def.width = 120;
  StoreItem(def, 3, 1, ItemKind::kLabel,
            QStringLiteral("   Price of this coin, as I paid it at the fair:  "), 0, 40);
  const ReportItem& label = def.record_lines[2][0];
  EXPECT_EQ(label.name, QStringLiteral("<LABEL>"));
  EXPECT_EQ(label.label, QStringLiteral("Price of this coin, as I paid it at the "));
  EXPECT_EQ(WidthsOf(def.record_lines[2], 3), (std::vector<int>{40, 80, 0}));

  StoreItem(def, 3, 2, ItemKind::kField, QString(), 7, 12);
  EXPECT_EQ(def.record_lines[2][1].name, QStringLiteral("MarketValu"));
  EXPECT_EQ(def.record_lines[2][1].field, 7);
  EXPECT_EQ(WidthsOf(def.record_lines[2], 4), (std::vector<int>{40, 12, 68, 0}));

  StoreItem(def, kTotalsLine, 1, ItemKind::kField, QString(), 3, 200);
  EXPECT_EQ(def.totals[0].name, QStringLiteral("Premium Value"));
  EXPECT_EQ(def.totals[0].field, 3);
  EXPECT_EQ(WidthsOf(def.totals, 2), (std::vector<int>{120, 0}));

  StoreItem(def, 3, 1, ItemKind::kFiller, QString(), 0, 40);
  EXPECT_EQ(def.record_lines[2][0].name, QStringLiteral("<FILLER>"));
  EXPECT_EQ(def.record_lines[2][0].label, QString());
}

TEST(FieldNumbers, ComeFromTheItemName) {
  EXPECT_EQ(FieldNumberOfName(QStringLiteral("Country"), false), 1);
  EXPECT_EQ(FieldNumberOfName(QStringLiteral("marketvalu"), false), 7);
  EXPECT_EQ(FieldNumberOfName(QStringLiteral("UserDef4"), false), 20);
  EXPECT_EQ(FieldNumberOfName(QStringLiteral("Market Value"), false), 0);
  EXPECT_EQ(FieldNumberOfName(QStringLiteral("Market Value"), true), 1);
  EXPECT_EQ(FieldNumberOfName(QStringLiteral("Quantity"), true), 4);
  EXPECT_EQ(FieldNumberOfName(QStringLiteral("PurchasePr"), true), 2);
  EXPECT_EQ(FieldNumberOfName(QStringLiteral("Bogus"), false), 0);
}

}  // namespace
}  // namespace klv::report
