#include "stats/WantList.h"

#include <algorithm>
#include <array>
#include <string>

#include <QFileInfo>

#include "base/Ascii.h"
#include "base/Error.h"
#include "db/FieldTable.h"
#include "report/engine/PaintedReport.h"
#include "report/engine/ReportFiler.h"
#include "stats/StatsTexts.h"
#include "transfer/Transfer.h"

namespace klv::stats {

namespace {

// The fields the list shows, in its columns' order.
constexpr std::array<int, 6> kListFields = {db::kCountry,  db::kFaceValue, db::kYear,
                                            db::kMintMark, db::kCondition, db::kComment};

constexpr int kLastKey = 1 << 30;

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

struct WantedRow {
  std::string country_key;
  int year_key = 0;
  std::string year_text;
  std::array<std::string, kListFields.size()> values;  // as read, UTF-8
};

std::string FieldName(int field_no) {
  return std::string(db::FieldInfoOf(field_no).name);
}

}  // namespace

int YearOrderKey(std::string_view year) {
  year = Trimmed(year);
  if (year.empty()) return kLastKey + 1;
  int value = 0;
  size_t digits = 0;
  while (digits < year.size() && digits < 7 && year[digits] >= '0' && year[digits] <= '9') {
    value = value * 10 + (year[digits] - '0');
    ++digits;
  }
  bool bc = false;
  for (size_t i = 0; i + 1 < year.size(); ++i)
    if ((year[i] == 'B' || year[i] == 'b') && (year[i + 1] == 'C' || year[i + 1] == 'c')) bc = true;
  if (bc) return -kLastKey + (digits ? kLastKey / 2 - value : 0);
  if (digits == 0) return kLastKey;
  return value;
}

WantList::WantList(dbf::Table& source, const Progress& progress) {
  if (!dir_.isValid())
    throw base::Error(base::ErrorCode::kIo, "no temporary folder for the want list");
  dbf::Field& wanted = source.FieldByName(FieldName(db::kWanted));
  std::array<dbf::Field*, kListFields.size()> fields{};
  for (size_t i = 0; i < kListFields.size(); ++i)
    fields[i] = &source.FieldByName(FieldName(kListFields[i]));
  const dbf::CodePage& cp = source.code_page();

  std::vector<WantedRow> rows;
  const uint64_t counted = source.RecordCount();
  const uint32_t start = source.RecNo();
  source.DisableControls();
  struct PutBack {
    dbf::Table& table;
    uint32_t start;
    ~PutBack() {
      try {
        if (start == 0 || !table.GoTo(start)) table.First();
      } catch (...) {
      }
      table.EnableControls();
    }
  } put_back{source, start};
  uint64_t walked = 0;
  for (source.First(); !source.Eof(); source.Next()) {
    ++walked;
    if (progress && walked % 4096 == 0 && !progress(walked, counted)) break;
    const std::string_view flag = Trimmed(wanted.Raw());
    if (flag.size() != 3 || base::UpperAscii(flag) != "YES") continue;
    WantedRow row;
    for (size_t i = 0; i < kListFields.size(); ++i) row.values[i] = fields[i]->AsString();
    const std::string_view country = Trimmed(fields[0]->Raw());
    row.country_key.assign(country);
    for (char& c : row.country_key) c = static_cast<char>(cp.Upper(static_cast<uint8_t>(c)));
    const std::string_view year = Trimmed(fields[2]->Raw());
    row.year_key = YearOrderKey(year);
    row.year_text = base::UpperAscii(year);
    rows.push_back(std::move(row));
  }
  // A blank country sorts after every named one.
  std::stable_sort(rows.begin(), rows.end(), [](const WantedRow& a, const WantedRow& b) {
    if (a.country_key.empty() != b.country_key.empty()) return b.country_key.empty();
    if (a.country_key != b.country_key) return a.country_key < b.country_key;
    if (a.year_key != b.year_key) return a.year_key < b.year_key;
    return a.year_text < b.year_text;
  });

  const std::string dir = QFileInfo(dir_.path()).absoluteFilePath().toStdString();
  const std::string name = "WANTLIST.DBF";
  dbf::Table::CreateTable(dir + "/" + name, db::CoinFieldDefs());
  table_ = std::make_unique<dbf::Table>();
  table_->SetDirectory(dir);
  table_->SetTableName(name);
  table_->SetExclusive(true);
  table_->SetTextFormat(source.text_format());
  table_->Open();
  dbf::Field& copy_wanted = table_->FieldByName(FieldName(db::kWanted));
  for (const WantedRow& row : rows) {
    table_->Append();
    for (size_t i = 0; i < kListFields.size(); ++i)
      table_->FieldByName(FieldName(kListFields[i])).SetAsString(row.values[i]);
    copy_wanted.SetAsString(texts::kWantedYes);
    table_->Post();
  }
  rows_ = rows.size();
  table_->First();
}

WantList::~WantList() {
  if (table_) table_->Close();
}

report::ReportDef WantListDef() {
  using report::ReportItem;
  report::ReportDef def = report::NewReportDef();
  def.name = QLatin1String(texts::kWantListName);
  def.width = 120;
  report::ReportFont font;
  font.name = QStringLiteral("Arial");
  font.size = report::BodyFontSizeForWidth(def.width);
  def.titles_font = def.header_font = def.body_font = def.spare_font = def.footnote_font = font;
  def.titles_font.size = 12;
  def.titles_font.bold = true;
  def.column_headers = true;
  def.use_totals = false;
  def.lines = 1;
  def.titles = {QLatin1String(texts::kWantListTitle), QString(), QString()};
  const std::array<int, kListFields.size()> widths = {20, 18, 8, 9, 24, 41};
  report::ReportLine& line = def.record_lines[0];
  for (size_t i = 0; i < line.size(); ++i) {
    line[i] = i < kListFields.size()
                  ? ReportItem{report::FieldNameOfNumber(kListFields[i], false),
                               static_cast<uint8_t>(kListFields[i]),
                               static_cast<int16_t>(widths[i]), QString()}
                  : ReportItem{QLatin1String(report::kFillerName), 0, 0, QString()};
  }
  report::NormaliseLine(line, def.width);
  def.group_level1 = def.group_level2 = false;
  return def;
}

void WriteWantListCsv(WantList& list, const app::PerField<QString>& captions, const QString& path) {
  dbf::Table& table = list.table();
  std::vector<transfer::ExportColumn> columns;
  for (int field_no : kListFields) {
    transfer::ExportColumn c;
    c.position = table.FieldByName(FieldName(field_no)).index();
    c.label = captions[static_cast<size_t>(field_no)].toStdString();
    columns.push_back(c);
  }
  transfer::ExportOptions options;
  options.kind = transfer::ExportKind::kCsv;
  options.header = true;
  transfer::ExportRows(base::Env::Default(), table, columns, path.toStdString(), options);
}

bool WriteWantListReport(WantList& list, const report::RunSetup& setup, const QString& path) {
  const report::ReportDef def = WantListDef();
  if (setup.mode == report::kModeFile) {
    report::engine::TReportFiler filer;
    report::RunSetup s = setup;
    s.text_file = path;
    report::ReportGenerator run(def, list.table(), filer, s);
    run.Run();
    return !run.Aborted();
  }
  report::engine::TPdfReport pdf(path);
  pdf.SetTitle(def.name);
  report::ReportGenerator run(def, list.table(), pdf, setup);
  run.Run();
  return !run.Aborted() && pdf.Written();
}

}  // namespace klv::stats
