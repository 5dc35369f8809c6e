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
  QString name;  // "<FILLER>", "<LABEL>" or a field's name (30)
  // FieldTable row 1..20, or a TotalsField on the totals line; 0 for a field
  // item whose name names no field (a damaged or foreign record): it prints
  // nothing.
  uint8_t field = 0;
  int16_t width = 0;  // characters; a line ends at its first item of width <= 0
  QString label;      // the label's text (40)
  bool IsFiller() const { return name == QLatin1String(kFillerName); }
  bool IsLabel() const { return name == QLatin1String(kLabelName); }
  bool IsField() const { return !IsFiller() && !IsLabel(); }
  bool operator==(const ReportItem&) const = default;
};

using ReportLine = std::array<ReportItem, kItemsPerLine>;

// Number of items of a line up to its end (its first item of width <= 0).
int LineLength(const ReportLine& line);

struct ReportDef {
  QString name;        // at most 30 characters
  int16_t width = 90;  // 90, 120 or 150 characters
  ReportFont titles_font, header_font, body_font, spare_font, footnote_font;
  bool column_headers = true;
  // Whether the page footer carries the page number: off, a footer shows no
  // number (its date, when date_on_pages, still prints).
  bool page_numbers = true;
  bool landscape = false;
  bool date_on_pages = true;
  bool use_totals = true;
  int16_t lines = 1;  // lines per record, 0 to 12
  ReportLine totals;
  double top_margin = 0.5, bottom_margin = 0.5, left_margin = 0.5, right_margin = 0.5;  // inches
  bool vertical_lines = true, horizontal_lines = true;
  std::array<QString, 3> titles;  // at most 80 characters each
  std::array<ReportLine, kMaxRecordLines> record_lines;
  bool group_level1 = true, group_level2 = false;
  // Whether each coin's obverse picture prints beside its record lines (on
  // the page only: the text file has no pictures).
  bool print_obverse = false;
  bool operator==(const ReportDef&) const = default;
};

// A fresh definition as New Report starts it.
ReportDef NewReportDef();

// The record line line_no (1 to kMaxRecordLines) or, for kTotalsLine, the
// totals line.
ReportLine& LineOf(ReportDef& def, int line_no);
const ReportLine& LineOf(const ReportDef& def, int line_no);

// Makes the widths of line add up to width, as storing one item does:
// walking items 1 to 20, an item of width 0 or less takes the whole width;
// the walk stops at the item where the sum reaches width (or at item 20),
// that item is cut or widened so the sum is exactly width, and every later
// item gets width 0.
void NormaliseLine(ReportLine& line, int width);
// The same walk when the report's width changes, except that after the item
// where the sum reaches width only the next item gets width 0 (the items
// behind it keep their widths, past the line's end).
void FitLineToWidth(ReportLine& line, int width);
// A width change: record lines 1 to def.lines fitted to width (the totals
// line is left alone) and def.width set. The body font is the caller's.
void ChangeReportWidth(ReportDef& def, int width);
// The body font size a report of width characters is given: 10, 8 or 6.
int16_t BodyFontSizeForWidth(int width);

// The field number an item's name stands for: the FieldTable row (1 to 20)
// of a record line's field, the TotalsField of a totals line's; 0 when the
// name is no field's. Letter case does not matter.
uint8_t FieldNumberOfName(const QString& name, bool totals_line);
// The name an item of field number field carries: the FieldTable name, or on
// the totals line the totals field's name; empty for a number out of range.
QString FieldNameOfNumber(int field, bool totals_line);

enum class ItemKind { kFiller, kLabel, kField };
ItemKind KindOf(const ReportItem& item);

// Stores one item as the item form's Ok does: item item_no (1 to 20) of
// line_no (1 to 12, or kTotalsLine) takes kind, width and, for a label, the
// trimmed label text cut to 40 characters, for a field the field number
// (1-based, as the field list counts); then its line is normalised to the
// report's width.
void StoreItem(ReportDef& def, int line_no, int item_no, ItemKind kind, const QString& label,
               int field, int width);

// The text a font slot shows in the designer: name, a blank, size, "pt".
QString FontText(const ReportFont& font);

// The first text of def the definitions file cannot hold (a character
// outside Windows-1252), described for the user; empty when all fit.
QString UnstorableText(const ReportDef& def);

}  // namespace klv::report
