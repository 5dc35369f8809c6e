#include "report/ReportDef.h"

#include <algorithm>

#include "base/Codepage.h"
#include "db/FieldTable.h"
#include "report/ReportTexts.h"

namespace klv::report {

namespace {

ReportFont CourierNew(bool bold) {
  ReportFont f;
  f.name = QStringLiteral("Courier New");
  f.size = 10;
  f.bold = bold;
  return f;
}

ReportLine StartLine() {
  ReportLine line;
  for (ReportItem& item : line) {
    item.name = QLatin1String(kFillerName);
    item.width = 0;
  }
  line[0].width = 150;
  return line;
}

// The walk both normalisations share. Returns the index of the item where
// the sum reached width (or the last item), with that item already set so
// the sum is exactly width.
size_t WalkToWidth(ReportLine& line, int width) {
  int sum = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i].width <= 0) line[i].width = static_cast<int16_t>(width);
    if (sum + line[i].width >= width || i + 1 == line.size()) {
      line[i].width = static_cast<int16_t>(width - sum);
      return i;
    }
    sum += line[i].width;
  }
  return line.size() - 1;
}

}  // namespace

int LineLength(const ReportLine& line) {
  int n = 0;
  while (n < kItemsPerLine && line[static_cast<size_t>(n)].width > 0) ++n;
  return n;
}

ReportDef NewReportDef() {
  ReportDef def;
  def.name.clear();
  def.width = 90;
  def.titles_font = CourierNew(true);
  def.header_font = CourierNew(true);
  def.body_font = CourierNew(false);
  def.spare_font = CourierNew(false);
  def.footnote_font = CourierNew(true);
  def.column_headers = def.page_numbers = def.date_on_pages = def.use_totals = true;
  def.landscape = false;
  def.lines = 1;
  def.top_margin = def.bottom_margin = def.left_margin = def.right_margin = 0.5;
  def.vertical_lines = def.horizontal_lines = true;
  def.titles = {};
  def.totals = StartLine();
  for (ReportLine& line : def.record_lines) line = StartLine();
  def.group_level1 = true;
  def.group_level2 = false;
  return def;
}

ReportLine& LineOf(ReportDef& def, int line_no) {
  if (line_no == kTotalsLine) return def.totals;
  return def.record_lines.at(static_cast<size_t>(line_no - 1));
}

const ReportLine& LineOf(const ReportDef& def, int line_no) {
  if (line_no == kTotalsLine) return def.totals;
  return def.record_lines.at(static_cast<size_t>(line_no - 1));
}

void NormaliseLine(ReportLine& line, int width) {
  const size_t last = WalkToWidth(line, width);
  for (size_t i = last + 1; i < line.size(); ++i) line[i].width = 0;
}

void FitLineToWidth(ReportLine& line, int width) {
  const size_t last = WalkToWidth(line, width);
  if (last + 1 < line.size()) line[last + 1].width = 0;
}

void ChangeReportWidth(ReportDef& def, int width) {
  const int lines = std::clamp<int>(def.lines, 0, kMaxRecordLines);
  for (int i = 0; i < lines; ++i) FitLineToWidth(def.record_lines[static_cast<size_t>(i)], width);
  def.width = static_cast<int16_t>(width);
}

int16_t BodyFontSizeForWidth(int width) {
  if (width >= 150) return 6;
  if (width >= 120) return 8;
  return 10;
}

uint8_t FieldNumberOfName(const QString& name, bool totals_line) {
  const QString wanted = name.trimmed();
  if (totals_line) {
    for (int i = 0; i < 4; ++i) {
      if (wanted.compare(QLatin1String(texts::kTotalsFieldNames[i]), Qt::CaseInsensitive) == 0)
        return static_cast<uint8_t>(i + 1);
    }
    // A totals item named after its table field.
    const int fields[4] = {db::kMarketValu, db::kPurchasePr, db::kPremiumVal, db::kQuantity};
    for (int i = 0; i < 4; ++i) {
      const std::string_view f = db::FieldInfoOf(fields[i]).name;
      if (wanted.compare(QLatin1String(f.data(), static_cast<qsizetype>(f.size())),
                         Qt::CaseInsensitive) == 0)
        return static_cast<uint8_t>(i + 1);
    }
    return 0;
  }
  for (int i = 1; i <= db::kFieldCount; ++i) {
    const std::string_view f = db::FieldInfoOf(i).name;
    if (wanted.compare(QLatin1String(f.data(), static_cast<qsizetype>(f.size())),
                       Qt::CaseInsensitive) == 0)
      return static_cast<uint8_t>(i);
  }
  return 0;
}

QString FieldNameOfNumber(int field, bool totals_line) {
  if (totals_line) {
    if (field < 1 || field > 4) return {};
    return QLatin1String(texts::kTotalsFieldNames[field - 1]);
  }
  if (field < 1 || field > db::kFieldCount) return {};
  const std::string_view f = db::FieldInfoOf(field).name;
  return QLatin1String(f.data(), static_cast<qsizetype>(f.size()));
}

ItemKind KindOf(const ReportItem& item) {
  if (item.IsFiller()) return ItemKind::kFiller;
  if (item.IsLabel()) return ItemKind::kLabel;
  return ItemKind::kField;
}

void StoreItem(ReportDef& def, int line_no, int item_no, ItemKind kind, const QString& label,
               int field, int width) {
  ReportLine& line = LineOf(def, line_no);
  ReportItem& item = line.at(static_cast<size_t>(item_no - 1));
  item.width = static_cast<int16_t>(std::clamp(width, -32768, 32767));
  NormaliseLine(line, def.width);
  item.label.clear();
  switch (kind) {
    case ItemKind::kFiller:
      item.name = QLatin1String(kFillerName);
      item.field = 0;
      break;
    case ItemKind::kLabel:
      item.name = QLatin1String(kLabelName);
      item.label = label.trimmed().left(40);
      item.field = 0;
      break;
    case ItemKind::kField:
      item.name = FieldNameOfNumber(field, line_no == kTotalsLine);
      item.field = static_cast<uint8_t>(field);
      break;
  }
}

QString FontText(const ReportFont& font) {
  return font.name + u' ' + QString::number(font.size) + QLatin1String(texts::kFontTextSuffix);
}

namespace {

// The first character of text Windows-1252 cannot hold, or empty.
QString BadCharacter(const QString& text) {
  std::string bad;
  if (base::CodePage::Cp1252().Encode(text.toStdString(), &bad)) return {};
  return QString::fromStdString(bad);
}

}  // namespace

QString UnstorableText(const ReportDef& def) {
  auto problem = [](const QString& what, const QString& bad) {
    return QString::fromLatin1(texts::kUnstorableText).arg(what, bad);
  };
  if (QString bad = BadCharacter(def.name); !bad.isEmpty())
    return problem(QLatin1String(texts::kWhatName), bad);
  for (size_t i = 0; i < def.titles.size(); ++i) {
    if (QString bad = BadCharacter(def.titles[i]); !bad.isEmpty())
      return problem(QString::fromLatin1(texts::kWhatTitle).arg(QString::number(i + 1)), bad);
  }
  for (int line_no = 1; line_no <= kMaxRecordLines; ++line_no) {
    const ReportLine& line = LineOf(def, line_no);
    for (size_t i = 0; i < line.size(); ++i) {
      if (QString bad = BadCharacter(line[i].label); !bad.isEmpty())
        return problem(QString::fromLatin1(texts::kWhatLabel)
                           .arg(QString::number(line_no), QString::number(i + 1)),
                       bad);
    }
  }
  for (size_t i = 0; i < def.totals.size(); ++i) {
    if (QString bad = BadCharacter(def.totals[i].label); !bad.isEmpty())
      return problem(QString::fromLatin1(texts::kWhatTotalsLabel).arg(QString::number(i + 1)), bad);
  }
  return {};
}

}  // namespace klv::report
