#include "report/UrpFile.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include <QFile>

#include "base/Bytes.h"
#include "base/Codepage.h"
#include "base/Env.h"
#include "base/Error.h"
#include "db/FieldTable.h"
#include "platform/Paths.h"
#include "report/ReportTexts.h"

namespace klv::report {

using base::Error;
using base::ErrorCode;

namespace {

// Where each part of a definition record lies.
constexpr int kOffName = 0;
constexpr int kOffWidth = 31;
constexpr int kOffFonts = 33;  // titles, column header, body, fourth slot, footnote
constexpr int kOffColumnHeaders = 338;
constexpr int kOffPageNumbers = 339;
constexpr int kOffLandscape = 340;
constexpr int kOffDateOnPages = 341;
constexpr int kOffUseTotals = 342;
constexpr int kOffLines = 343;
constexpr int kOffTotals = 345;
constexpr int kOffMargins = 1845;  // top, bottom, left, right
constexpr int kOffVerticalLines = 1877;
constexpr int kOffHorizontalLines = 1878;
constexpr int kOffTitles = 1879;
constexpr int kOffRecordLines = 2122;
constexpr int kOffGroupLevel1 = 20122;
constexpr int kOffGroupLevel2 = 20123;
constexpr int kOffPrintObverse = 20124;  // the first byte of the reserved space
constexpr int kOffReserved = 20124;

constexpr int kNameCapacity = 30;
constexpr int kTitleCapacity = 80;
constexpr int kFontNameCapacity = 50;
constexpr int kLabelCapacity = 40;
constexpr int kFontSize = 61;
constexpr int kItemSize = 75;
constexpr int kLineSize = kItemsPerLine * kItemSize;

static_assert(kOffFonts + 5 * kFontSize == kOffColumnHeaders);
static_assert(kOffTotals + kLineSize == kOffMargins);
static_assert(kOffTitles + 3 * (kTitleCapacity + 1) == kOffRecordLines);
static_assert(kOffRecordLines + kMaxRecordLines * kLineSize == kOffGroupLevel1);
static_assert(kOffReserved + 498 == kUrpRecordSize);

// The older file's record.
constexpr int kOldOffName = 0;
constexpr int kOldOffWidth = 31;
constexpr int kOldOffColumnHeaders = 83;
constexpr int kOldOffPageNumbers = 84;
constexpr int kOldOffUseTotals = 85;
constexpr int kOldOffLines = 86;
constexpr int kOldOffTotals = 88;
constexpr int kOldOffTitles = 1588;
constexpr int kOldOffRecordLines = 1831;
static_assert(kOldOffTotals + kLineSize == kOldOffTitles);
static_assert(kOldOffRecordLines + kMaxRecordLines * kLineSize == kOldUrpRecordSize);

std::string NativePath(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

class RecordWriter {
 public:
  explicit RecordWriter(QByteArray& bytes) : p_(reinterpret_cast<uint8_t*>(bytes.data())) {}

  void String(int off, int capacity, const QString& text) {
    std::string bad;
    std::optional<std::string> bytes = base::CodePage::Cp1252().Encode(text.toStdString(), &bad);
    if (!bytes) {
      base::Fail(ErrorCode::kCodePage, "The text \"" + text.toStdString() +
                                           "\" holds the character \"" + bad +
                                           "\", which Windows-1252 cannot hold");
    }
    const size_t n = std::min(bytes->size(), static_cast<size_t>(capacity));
    p_[off] = static_cast<uint8_t>(n);
    std::memcpy(p_ + off + 1, bytes->data(), n);
  }
  void Int16(int off, int16_t v) { base::Put16(p_ + off, static_cast<uint16_t>(v)); }
  void Int32(int off, int32_t v) { base::Put32(p_ + off, static_cast<uint32_t>(v)); }
  void Bool(int off, bool v) { p_[off] = v ? 1 : 0; }
  void Byte(int off, uint8_t v) { p_[off] = v; }
  void Double(int off, double v) { base::Put64(p_ + off, std::bit_cast<uint64_t>(v)); }

  void Font(int off, const ReportFont& f) {
    String(off, kFontNameCapacity, f.name);
    Int16(off + 51, f.size);
    Bool(off + 53, f.bold);
    Bool(off + 54, f.italic);
    Bool(off + 55, f.underline);
    Bool(off + 56, f.strikeout);
    Int32(off + 57, f.color);
  }
  void Line(int off, const ReportLine& line) {
    for (const ReportItem& item : line) {
      String(off, kNameCapacity, item.name);
      Byte(off + 31, item.field);
      Int16(off + 32, item.width);
      String(off + 34, kLabelCapacity, item.label);
      off += kItemSize;
    }
  }

 private:
  uint8_t* p_;
};

class RecordReader {
 public:
  explicit RecordReader(const QByteArray& bytes)
      : p_(reinterpret_cast<const uint8_t*>(bytes.constData())) {}

  QString String(int off, int capacity) const {
    const int n = std::min<int>(p_[off], capacity);
    const std::string text = base::CodePage::Cp1252().Decode(
        std::string_view(reinterpret_cast<const char*>(p_ + off + 1), static_cast<size_t>(n)));
    return QString::fromStdString(text);
  }
  bool StringTooLong(int off, int capacity) const { return p_[off] > capacity; }
  int16_t Int16(int off) const { return static_cast<int16_t>(base::Get16(p_ + off)); }
  int32_t Int32(int off) const { return static_cast<int32_t>(base::Get32(p_ + off)); }
  bool Bool(int off) const { return p_[off] != 0; }
  uint8_t Byte(int off) const { return p_[off]; }
  double Double(int off) const { return std::bit_cast<double>(base::Get64(p_ + off)); }

  ReportFont Font(int off) const {
    ReportFont f;
    f.name = String(off, kFontNameCapacity);
    f.size = Int16(off + 51);
    f.bold = Bool(off + 53);
    f.italic = Bool(off + 54);
    f.underline = Bool(off + 55);
    f.strikeout = Bool(off + 56);
    f.color = Int32(off + 57);
    return f;
  }
  ReportLine Line(int off) const {
    ReportLine line;
    for (ReportItem& item : line) {
      item.name = String(off, kNameCapacity);
      item.field = Byte(off + 31);
      item.width = Int16(off + 32);
      item.label = String(off + 34, kLabelCapacity);
      off += kItemSize;
    }
    return line;
  }
  bool LineTooLong(int off) const {
    for (int i = 0; i < kItemsPerLine; ++i, off += kItemSize) {
      if (StringTooLong(off, kNameCapacity) || StringTooLong(off + 34, kLabelCapacity)) return true;
    }
    return false;
  }
  int16_t Lines(int off) const {
    return static_cast<int16_t>(std::clamp<int>(Int16(off), 0, kMaxRecordLines));
  }

 private:
  const uint8_t* p_;
};

// A failure of the file layer, told as the input/output error of path.
[[noreturn]] void FailIo(const char* format, const QString& path, const Error& e) {
  const QString message = QString::fromLatin1(format).arg(path, QString::fromLocal8Bit(e.what()));
  throw Error(e.code(), message.toStdString());
}

// The definitions the built-ins are made of.
ReportItem Filler(int width) {
  return ReportItem{QLatin1String(kFillerName), 0, static_cast<int16_t>(width), QString()};
}
ReportItem Label(const char* text, int width) {
  return ReportItem{QLatin1String(kLabelName), 0, static_cast<int16_t>(width), QLatin1String(text)};
}
ReportItem Field(int field, int width) {
  return ReportItem{FieldNameOfNumber(field, false), static_cast<uint8_t>(field),
                    static_cast<int16_t>(width), QString()};
}
ReportItem Total(TotalsField field, int width) {
  return ReportItem{FieldNameOfNumber(field, true), static_cast<uint8_t>(field),
                    static_cast<int16_t>(width), QString()};
}

// items, then fillers of width 0 to the end of the line.
ReportLine MakeLine(std::initializer_list<ReportItem> items) {
  ReportLine line;
  size_t i = 0;
  for (const ReportItem& item : items) line[i++] = item;
  for (; i < line.size(); ++i) line[i] = Filler(0);
  return line;
}

ReportLine StandardTotals() {
  return MakeLine({Label("Quantity:", 15), Filler(1), Total(kTotQuantity, 12),
                   Label("Purchase Price:", 18), Filler(1), Total(kTotPurchasePrice, 12),
                   Label("Market Value:", 16), Filler(1), Total(kTotMarketValue, 12),
                   Label("Premium Value:", 17), Filler(1), Total(kTotPremiumValue, 12)});
}

ReportDef BuiltIn(const char* name, int width, int font_size, bool column_headers, bool lines,
                  int record_lines) {
  ReportDef def = NewReportDef();
  def.name = QLatin1String(name);
  def.width = static_cast<int16_t>(width);
  ReportFont arial;
  arial.name = QStringLiteral("Arial");
  arial.size = static_cast<int16_t>(font_size);
  def.titles_font = def.header_font = def.body_font = def.spare_font = def.footnote_font = arial;
  def.column_headers = column_headers;
  def.vertical_lines = def.horizontal_lines = lines;
  def.lines = static_cast<int16_t>(record_lines);
  def.totals = StandardTotals();
  return def;
}

}  // namespace

QByteArray EncodeReportDef(const ReportDef& def) {
  QByteArray bytes(kUrpRecordSize, '\0');
  RecordWriter w(bytes);
  w.String(kOffName, kNameCapacity, def.name);
  w.Int16(kOffWidth, def.width);
  const ReportFont* fonts[5] = {&def.titles_font, &def.header_font, &def.body_font, &def.spare_font,
                                &def.footnote_font};
  for (int i = 0; i < 5; ++i) w.Font(kOffFonts + i * kFontSize, *fonts[i]);
  w.Bool(kOffColumnHeaders, def.column_headers);
  w.Bool(kOffPageNumbers, def.page_numbers);
  w.Bool(kOffLandscape, def.landscape);
  w.Bool(kOffDateOnPages, def.date_on_pages);
  w.Bool(kOffUseTotals, def.use_totals);
  w.Int16(kOffLines, def.lines);
  w.Line(kOffTotals, def.totals);
  const double margins[4] = {def.top_margin, def.bottom_margin, def.left_margin, def.right_margin};
  for (int i = 0; i < 4; ++i) w.Double(kOffMargins + 8 * i, margins[i]);
  w.Bool(kOffVerticalLines, def.vertical_lines);
  w.Bool(kOffHorizontalLines, def.horizontal_lines);
  for (int i = 0; i < 3; ++i)
    w.String(kOffTitles + i * (kTitleCapacity + 1), kTitleCapacity, def.titles[i]);
  for (int i = 0; i < kMaxRecordLines; ++i)
    w.Line(kOffRecordLines + i * kLineSize, def.record_lines[static_cast<size_t>(i)]);
  w.Bool(kOffGroupLevel1, def.group_level1);
  w.Bool(kOffGroupLevel2, def.group_level2);
  w.Bool(kOffPrintObverse, def.print_obverse);
  return bytes;
}

ReportDef DecodeReportDef(const QByteArray& record) {
  if (record.size() != kUrpRecordSize)
    base::Fail(ErrorCode::kBadValue, "a report definition record of the wrong size");
  const RecordReader r(record);
  ReportDef def;
  def.name = r.String(kOffName, kNameCapacity);
  def.width = r.Int16(kOffWidth);
  ReportFont* fonts[5] = {&def.titles_font, &def.header_font, &def.body_font, &def.spare_font,
                          &def.footnote_font};
  for (int i = 0; i < 5; ++i) *fonts[i] = r.Font(kOffFonts + i * kFontSize);
  def.column_headers = r.Bool(kOffColumnHeaders);
  def.page_numbers = r.Bool(kOffPageNumbers);
  def.landscape = r.Bool(kOffLandscape);
  def.date_on_pages = r.Bool(kOffDateOnPages);
  def.use_totals = r.Bool(kOffUseTotals);
  def.lines = r.Lines(kOffLines);
  def.totals = r.Line(kOffTotals);
  double* margins[4] = {&def.top_margin, &def.bottom_margin, &def.left_margin, &def.right_margin};
  for (int i = 0; i < 4; ++i) *margins[i] = r.Double(kOffMargins + 8 * i);
  def.vertical_lines = r.Bool(kOffVerticalLines);
  def.horizontal_lines = r.Bool(kOffHorizontalLines);
  for (int i = 0; i < 3; ++i)
    def.titles[static_cast<size_t>(i)] =
        r.String(kOffTitles + i * (kTitleCapacity + 1), kTitleCapacity);
  for (int i = 0; i < kMaxRecordLines; ++i)
    def.record_lines[static_cast<size_t>(i)] = r.Line(kOffRecordLines + i * kLineSize);
  def.group_level1 = r.Bool(kOffGroupLevel1);
  def.group_level2 = r.Bool(kOffGroupLevel2);
  def.print_obverse = r.Bool(kOffPrintObverse);
  return def;
}

bool LooksDamaged(const QByteArray& record) {
  if (record.size() != kUrpRecordSize) return true;
  const RecordReader r(record);
  const int16_t width = r.Int16(kOffWidth);
  if (width != 90 && width != 120 && width != 150) return true;
  const int16_t lines = r.Int16(kOffLines);
  if (lines < 0 || lines > kMaxRecordLines) return true;
  if (r.StringTooLong(kOffName, kNameCapacity)) return true;
  for (int i = 0; i < 5; ++i) {
    const int off = kOffFonts + i * kFontSize;
    if (r.StringTooLong(off, kFontNameCapacity)) return true;
    for (int b = 53; b <= 56; ++b)
      if (r.Byte(off + b) > 1) return true;
  }
  const int flags[] = {kOffColumnHeaders, kOffPageNumbers,   kOffLandscape,       kOffDateOnPages,
                       kOffUseTotals,     kOffVerticalLines, kOffHorizontalLines, kOffGroupLevel1,
                       kOffGroupLevel2,   kOffPrintObverse};
  for (int off : flags)
    if (r.Byte(off) > 1) return true;
  for (int i = 0; i < 3; ++i)
    if (r.StringTooLong(kOffTitles + i * (kTitleCapacity + 1), kTitleCapacity)) return true;
  if (r.LineTooLong(kOffTotals)) return true;
  for (int i = 0; i < kMaxRecordLines; ++i)
    if (r.LineTooLong(kOffRecordLines + i * kLineSize)) return true;
  return false;
}

ReportDef ConvertOldReportDef(const QByteArray& old_record) {
  if (old_record.size() != kOldUrpRecordSize)
    base::Fail(ErrorCode::kBadValue, "an older report definition record of the wrong size");
  const RecordReader r(old_record);
  ReportDef def = NewReportDef();
  def.name = r.String(kOldOffName, kNameCapacity);
  def.width = r.Int16(kOldOffWidth);
  def.column_headers = r.Bool(kOldOffColumnHeaders);
  def.page_numbers = r.Bool(kOldOffPageNumbers);
  def.use_totals = r.Bool(kOldOffUseTotals);
  def.lines = r.Lines(kOldOffLines);
  for (int i = 0; i < 3; ++i)
    def.titles[static_cast<size_t>(i)] =
        r.String(kOldOffTitles + i * (kTitleCapacity + 1), kTitleCapacity);
  // The older file keeps no field numbers; printing needs them.
  auto convert = [&r](int off, bool totals) {
    ReportLine line = r.Line(off);
    for (ReportItem& item : line) {
      item.field = item.IsField() ? FieldNumberOfName(item.name, totals) : 0;
    }
    return line;
  };
  def.totals = convert(kOldOffTotals, true);
  for (int i = 0; i < kMaxRecordLines; ++i)
    def.record_lines[static_cast<size_t>(i)] = convert(kOldOffRecordLines + i * kLineSize, false);
  def.landscape = false;
  def.date_on_pages = true;
  def.top_margin = def.bottom_margin = def.left_margin = def.right_margin = 0.5;
  def.vertical_lines = def.horizontal_lines = false;
  def.group_level1 = true;
  def.group_level2 = false;
  const int16_t size = def.width == 90 ? 10 : 8;
  for (ReportFont* f :
       {&def.titles_font, &def.header_font, &def.body_font, &def.spare_font, &def.footnote_font})
    f->size = size;
  return def;
}

std::vector<ReportDef> BuiltInReportDefs() {
  using namespace db;
  std::vector<ReportDef> defs;

  ReportDef simple = BuiltIn("Simple List Report", 90, 10, true, true, 1);
  simple.record_lines[0] =
      MakeLine({Field(kCountry, 20), Field(kYear, 7), Field(kMintMark, 2), Field(kYearApprox, 7),
                Field(kFaceValue, 20), Field(kCondition, 29), Field(kQuantity, 4)});
  simple.totals = MakeLine({Label("Quantity:", 10), Filler(1), Total(kTotQuantity, 6),
                            Label("Purch Price:", 15), Filler(1), Total(kTotPurchasePrice, 8),
                            Label("Market Val:", 14), Filler(1), Total(kTotMarketValue, 8),
                            Label("Premium Val:", 15), Filler(1), Total(kTotPremiumValue, 8)});
  defs.push_back(simple);

  ReportDef values = BuiltIn("Simple List Plus Values Report", 120, 10, true, true, 1);
  values.record_lines[0] =
      MakeLine({Field(kCountry, 20), Field(kYear, 7), Field(kMintMark, 3), Field(kYearApprox, 7),
                Field(kFaceValue, 22), Field(kCondition, 30), Field(kPurchasePr, 14),
                Field(kMarketValu, 14), Field(kQuantity, 4)});
  defs.push_back(values);

  const ReportLine values_line = MakeLine(
      {Label("Purchase Price:", 15), Filler(1), Field(kPurchasePr, 12), Label("Market Value:", 15),
       Filler(1), Field(kMarketValu, 12), Label("Topic:", 8), Filler(1), Field(kTopic, 20)});
  const ReportLine empty_line = MakeLine({Filler(150)});

  ReportDef three = BuiltIn("Three Line Report", 120, 8, false, true, 4);
  three.record_lines[0] =
      MakeLine({Label("Country:", 8), Filler(1), Field(kCountry, 20), Label("Year:", 7), Filler(1),
                Field(kYear, 7), Field(kMintMark, 4), Filler(1), Label("Approx Year:", 12),
                Field(kYearApprox, 5), Label("Quantity:", 11), Filler(1), Field(kQuantity, 7)});
  three.record_lines[1] = values_line;
  three.record_lines[2] = MakeLine({Label("Purchase Date:", 14), Filler(1), Field(kPurchDate, 11),
                                    Label("Description:", 14), Filler(1), Field(kDescriptio, 40),
                                    Label("Condition:", 12), Filler(1), Field(kCondition, 30)});
  three.record_lines[3] = empty_line;
  defs.push_back(three);

  ReportDef complete = BuiltIn("Complete Report", 120, 8, false, true, 8);
  complete.record_lines[0] =
      MakeLine({Label("Country:", 8), Filler(1), Field(kCountry, 20), Label("Year:", 7), Filler(1),
                Field(kYear, 4), Field(kMintMark, 4), Filler(1), Field(kYearApprox, 5),
                Label("Condition:", 12), Filler(1), Field(kCondition, 30), Label("Quantity:", 11),
                Filler(1), Field(kQuantity, 7)});
  complete.record_lines[1] = values_line;
  complete.record_lines[2] = MakeLine(
      {Label("Purchase Date:", 14), Filler(1), Field(kPurchDate, 11), Label("Description:", 14),
       Filler(1), Field(kDescriptio, 40), Label("Wanted:", 7), Filler(1), Field(kWanted, 4)});
  complete.record_lines[3] = MakeLine({Label("Comment:", 8), Filler(1), Field(kComment, 80)});
  complete.record_lines[4] = MakeLine({Label("Misc:", 5), Filler(1), Field(kMiscellane, 110)});
  complete.record_lines[5] = MakeLine({Label("User Def #1:", 12), Filler(1), Field(kUserDef1, 40),
                                       Label("User Def #2:", 12), Filler(1), Field(kUserDef2, 40)});
  complete.record_lines[6] = MakeLine({Label("User Def #3:", 12), Filler(1), Field(kUserDef3, 40),
                                       Label("User Def #4:", 12), Filler(1), Field(kUserDef4, 40)});
  complete.record_lines[7] = empty_line;
  complete.print_obverse = true;
  defs.push_back(complete);

  defs.push_back(BuiltIn("Statistic/Summary Report", 120, 8, false, false, 0));
  return defs;
}

// ---------------------------------------------------------------------------
// The file

UrpFile::UrpFile(QString path, base::Env* env)
    : path_(std::move(path)), env_(env ? env : &base::Env::Default()) {}

std::vector<QByteArray> UrpFile::ReadRecords(size_t record_size, const QString& path,
                                             qint64* tail) const {
  std::vector<QByteArray> records;
  if (tail) *tail = 0;
  const std::string native = NativePath(path);
  try {
    if (!env_->Exists(native)) return records;
    std::unique_ptr<base::File> file = env_->Open(native, base::OpenMode::kReadOnly);
    uint64_t off = 0;
    for (;;) {
      QByteArray record(static_cast<qsizetype>(record_size), '\0');
      const size_t n = file->ReadAt(off, record.data(), record_size);
      if (n < record_size) {
        if (tail) *tail = static_cast<qint64>(n);
        break;
      }
      records.push_back(std::move(record));
      off += record_size;
    }
  } catch (const Error& e) {
    FailIo(texts::kUrpReadError, path, e);
  }
  return records;
}

void UrpFile::WriteRecords(const std::vector<QByteArray>& records) {
  const std::string target = NativePath(path_);
  try {
    base::ReplaceFile(*env_, target, [&](base::File& file) {
      uint64_t off = 0;
      for (const QByteArray& record : records) {
        file.WriteAt(off, record.constData(), static_cast<size_t>(record.size()));
        off += static_cast<uint64_t>(record.size());
      }
    });
    env_->SyncDir(target);
  } catch (const Error& e) {
    FailIo(texts::kUrpWriteError, path_, e);
  }
}

UrpFile::Contents UrpFile::Load() const {
  Contents contents;
  qint64 tail = 0;
  const std::vector<QByteArray> records = ReadRecords(kUrpRecordSize, path_, &tail);
  QStringList damaged;
  for (size_t i = 0; i < records.size(); ++i) {
    if (LooksDamaged(records[i])) damaged.append(QString::number(i + 1));
    contents.defs.push_back(DecodeReportDef(records[i]));
  }
  QStringList problems;
  if (!damaged.isEmpty())
    problems.append(QString::fromLatin1(texts::kUrpDamagedRecords).arg(path_, damaged.join(u", ")));
  if (tail > 0)
    problems.append(QString::fromLatin1(texts::kUrpShortRecord).arg(path_, QString::number(tail)));
  contents.problem = problems.join(u"  ");
  return contents;
}

QStringList UrpFile::Names() const {
  QStringList names;
  for (const ReportDef& def : Load().defs) names.append(def.name);
  return names;
}

ReportDef UrpFile::Read(int index) const {
  const std::vector<QByteArray> records = ReadRecords(kUrpRecordSize, path_);
  if (index < 0 || static_cast<size_t>(index) >= records.size()) {
    base::Fail(ErrorCode::kNotFound,
               QString::fromLatin1(texts::kUrpReadError)
                   .arg(path_, QStringLiteral("no report definition %1").arg(index + 1))
                   .toStdString());
  }
  return DecodeReportDef(records[static_cast<size_t>(index)]);
}

std::vector<QByteArray> UrpFile::ReadForRewrite() {
  kept_aside_.clear();
  qint64 tail = 0;
  std::vector<QByteArray> records = ReadRecords(kUrpRecordSize, path_, &tail);
  // A piece of a record at the end would be lost by the rewrite, damaged
  // records would no longer be the file as it was found: the file is copied
  // aside first, as it is, unless a copy was kept before and nothing is lost.
  const bool damaged = std::any_of(records.begin(), records.end(), LooksDamaged);
  if (tail == 0 && !damaged) return records;
  const std::string native = NativePath(path_);
  const auto slash = native.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : native.substr(0, slash + 1);
  const std::string name = native.substr(slash == std::string::npos ? 0 : slash + 1);
  if (tail == 0 && !base::FilesStartingWith(dir, name + kKeptSuffix).empty()) return records;
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  std::string aside;
  try {
    for (int k = 1;; ++k) {
      aside = native + kKeptSuffix + stamp + (k > 1 ? "-" + std::to_string(k) : "");
      if (!env_->Exists(aside)) break;
    }
    std::unique_ptr<base::File> in = env_->Open(native, base::OpenMode::kReadOnly);
    const uint64_t size = in->Size();
    std::string bytes(static_cast<size_t>(size), '\0');
    if (in->ReadAt(0, bytes.data(), bytes.size()) != bytes.size())
      base::Fail(ErrorCode::kIo, "the file changed while it was copied");
    in.reset();
    base::ReplaceFile(*env_, aside,
                      [&](base::File& out) { out.WriteAt(0, bytes.data(), bytes.size()); });
    env_->SyncDir(aside);
  } catch (const Error& e) {
    FailIo(texts::kUrpWriteError, QString::fromStdString(aside), e);
  }
  kept_aside_ = QString::fromStdString(aside);
  return records;
}

int UrpFile::Append(const ReportDef& def) {
  const QByteArray record = EncodeReportDef(def);
  std::vector<QByteArray> records = ReadForRewrite();
  records.push_back(record);
  WriteRecords(records);
  return static_cast<int>(records.size()) - 1;
}

void UrpFile::Write(int index, const ReportDef& def) {
  const QByteArray record = EncodeReportDef(def);
  std::vector<QByteArray> records = ReadForRewrite();
  if (index < 0 || static_cast<size_t>(index) > records.size()) {
    base::Fail(ErrorCode::kNotFound,
               QString::fromLatin1(texts::kUrpWriteError)
                   .arg(path_, QStringLiteral("no report definition %1").arg(index + 1))
                   .toStdString());
  }
  if (static_cast<size_t>(index) == records.size()) {
    records.push_back(record);
  } else {
    records[static_cast<size_t>(index)] = record;
  }
  WriteRecords(records);
}

void UrpFile::Delete(int index) {
  std::vector<QByteArray> records = ReadForRewrite();
  if (index < 0 || static_cast<size_t>(index) >= records.size()) {
    base::Fail(ErrorCode::kNotFound,
               QString::fromLatin1(texts::kUrpWriteError)
                   .arg(path_, QStringLiteral("no report definition %1").arg(index + 1))
                   .toStdString());
  }
  records.erase(records.begin() + index);
  WriteRecords(records);
}

bool UrpFile::CreateIfMissing() {
  try {
    if (env_->Exists(NativePath(path_))) return false;
  } catch (const Error& e) {
    FailIo(texts::kUrpReadError, path_, e);
  }
  std::vector<QByteArray> records;
  for (const ReportDef& def : BuiltInReportDefs()) records.push_back(EncodeReportDef(def));
  WriteRecords(records);
  return true;
}

int UrpFile::MergeOldFile(const QString& old_path) {
  const std::string native_old = NativePath(old_path);
  if (!env_->Exists(native_old)) return 0;
  QStringList built_in;
  for (const ReportDef& def : BuiltInReportDefs()) built_in.append(def.name);
  std::vector<QByteArray> merged;
  for (const QByteArray& old : ReadRecords(kOldUrpRecordSize, old_path)) {
    const ReportDef def = ConvertOldReportDef(old);
    if (built_in.contains(def.name.trimmed(), Qt::CaseInsensitive)) continue;
    merged.push_back(EncodeReportDef(def));
  }
  if (!merged.empty()) {
    std::vector<QByteArray> records = ReadForRewrite();
    records.insert(records.end(), merged.begin(), merged.end());
    WriteRecords(records);
  }
  try {
    env_->Remove(native_old);
    env_->SyncDir(native_old);
  } catch (const Error& e) {
    FailIo(texts::kUrpWriteError, old_path, e);
  }
  return static_cast<int>(merged.size());
}

QString DefinitionsFilePath(const QString& program_dir) {
  return platform::CompanionFile(program_dir, QString::fromLatin1(texts::kUrpFileName));
}

void PrepareDefinitionsFile(const QString& program_dir) {
  UrpFile file(DefinitionsFilePath(program_dir));
  file.CreateIfMissing();
  const QString old =
      platform::FindFileNoCase(program_dir, QString::fromLatin1(texts::kOldUrpFileName));
  if (!old.isEmpty()) file.MergeOldFile(old);
}

}  // namespace klv::report
