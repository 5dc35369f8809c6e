// A report definition as the report definitions file holds it: how wide the
// report is, its fonts, titles, margins and options, and what each of up to
// twelve lines per coin record holds, item by item, plus one totals line.
// Every definition of every collection lives in one file of fixed-size
// records (see UrpFile.h); this header is the in-memory form shared by the
// designer, the generator and the chooser.
#pragma once

#include <QString>
#include <array>
#include <cstdint>

namespace klv::report {

constexpr int kItemsPerLine = 20;
constexpr int kMaxRecordLines = 12;
// The totals line, where a line number is asked for (the designer's grid).
constexpr int kTotalsLine = 100;

// Item names that say the item's kind; any other name is a field's name.
inline constexpr const char* kFillerName = "<FILLER>";
inline constexpr const char* kLabelName = "<LABEL>";

// Totals fields: the field number of an item on the totals line.
enum TotalsField : uint8_t {
  kTotMarketValue = 1,
  kTotPurchasePrice = 2,
  kTotPremiumValue = 3,
  kTotQuantity = 4
};

struct ReportFont {
  QString name;       // at most 50 characters
  int16_t size = 10;  // points
  bool bold = false, italic = false, underline = false, strikeout = false;
  int32_t color = 0;  // Windows RGB value (0x00BBGGRR), 0 is black
  bool operator==(const ReportFont&) const = default;
};

struct ReportItem {
  QString name;        // "<FILLER>", "<LABEL>" or a field's name (30)
  uint8_t field = 0;   // FieldTable row 1..20, or a TotalsField on the totals line
  int16_t width = 0;   // characters; a line ends at its first item of width <= 0
  QString label;       // the label's text (40)
  bool IsFiller() const { return name == QLatin1String(kFillerName); }
  bool IsLabel() const { return name == QLatin1String(kLabelName); }
  bool IsField() const { return !IsFiller() && !IsLabel(); }
  bool operator==(const ReportItem&) const = default;
};

using ReportLine = std::array<ReportItem, kItemsPerLine>;

// Number of items of a line up to its end (its first item of width <= 0).
int LineLength(const ReportLine& line);

struct ReportDef {
  QString name;          // at most 30 characters
  int16_t width = 90;    // 90, 120 or 150 characters
  ReportFont titles_font, header_font, body_font, spare_font, footnote_font;
  bool column_headers = true;
  bool page_numbers = true;
  bool landscape = false;
  bool date_on_pages = true;
  bool use_totals = true;
  int16_t lines = 1;     // lines per record, 0 to 12
  ReportLine totals;
  double top_margin = 0.5, bottom_margin = 0.5, left_margin = 0.5, right_margin = 0.5;  // inches
  bool vertical_lines = true, horizontal_lines = true;
  std::array<QString, 3> titles;  // at most 80 characters each
  std::array<ReportLine, kMaxRecordLines> record_lines;
  bool group_level1 = true, group_level2 = false;
  bool operator==(const ReportDef&) const = default;
};

// A fresh definition as New Report starts it.
ReportDef NewReportDef();

}  // namespace klv::report
