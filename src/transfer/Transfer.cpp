#include "transfer/Transfer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>

#include <xlsxwriter.h>

#include "base/Codepage.h"
#include "db/dbf/Base.h"
#include "pictures/PictureStore.h"
#include "transfer/TransferTexts.h"

namespace klv::transfer {

using base::ErrorCode;
using base::Fail;

namespace {

// One exported value, typed by its field.
struct Cell {
  enum class Type { kBlank, kText, kNumber, kDate, kBoolean };
  Type type = Type::kBlank;
  std::string text;
  double number = 0;
  dbf::Date date;
};

struct OutColumn {
  const dbf::Field* field = nullptr;
  char type = 'C';
  int decimals = 0;
  std::string name;  // the field's name, for messages
};

Cell CellOf(const dbf::Field& f) {
  Cell c;
  switch (f.def().type) {
    case 'N':
    case 'F':
      if (f.IsNull()) return c;
      c.type = Cell::Type::kNumber;
      c.number = f.AsFloat();
      return c;
    case 'D':
      if (f.IsNull()) return c;
      c.type = Cell::Type::kDate;
      c.date = f.AsDate();
      return c;
    case 'L':
      if (f.IsNull()) return c;
      c.type = Cell::Type::kBoolean;
      c.text = f.AsBoolean() ? "T" : "F";
      return c;
    default:
      c.type = Cell::Type::kText;
      c.text = f.AsString();
      return c;
  }
}

std::string IsoDate(const dbf::Date& d) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
  return buf;
}

class Writer {
 public:
  virtual ~Writer() = default;
  virtual void Header(const std::vector<std::string>& labels) = 0;
  virtual void Row(const std::vector<Cell>& cells) = 0;
  // Completes the temporary file (synced and closed); the caller renames it.
  virtual void Finish() = 0;
};

// Text through the file layer, in large writes.
class TextOut {
 public:
  TextOut(base::Env& env, const std::string& path)
      : file_(env.Open(path, base::OpenMode::kCreateTruncate)) {}
  void Add(std::string_view s) {
    buf_ += s;
    if (buf_.size() >= (1u << 16)) Flush();
  }
  void Finish() {
    Flush();
    file_->Sync();
    file_.reset();
  }

 private:
  void Flush() {
    if (buf_.empty()) return;
    file_->WriteAt(offset_, buf_.data(), buf_.size());
    offset_ += buf_.size();
    buf_.clear();
  }
  std::unique_ptr<base::File> file_;
  uint64_t offset_ = 0;
  std::string buf_;
};

// Quoted delimited text and CSV.
class TextWriter final : public Writer {
 public:
  TextWriter(base::Env& env, const std::string& path, ExportKind kind, char point,
             const dbf::TextFormat& format, std::vector<std::string> names)
      : out_(env, path), kind_(kind), point_(point), format_(format), names_(std::move(names)) {
    // Years always go out whole: a two-digit year would come back in
    // another century.
    std::string& pattern = format_.short_date;
    if (pattern.find("yyyy") == std::string::npos) {
      const size_t yy = pattern.find("yy");
      if (yy != std::string::npos) pattern.replace(yy, 2, "yyyy");
    }
    // Spreadsheets take a UTF-8 file for one when it says so at its start.
    if (kind_ == ExportKind::kCsv) out_.Add("\xEF\xBB\xBF");
  }
  void Header(const std::vector<std::string>& labels) override { Line(labels); }
  void Row(const std::vector<Cell>& cells) override {
    values_.resize(cells.size());
    const bool csv = kind_ != ExportKind::kAscii;
    for (size_t i = 0; i < cells.size(); ++i) {
      const Cell& c = cells[i];
      switch (c.type) {
        case Cell::Type::kBlank:
          values_[i].clear();
          break;
        case Cell::Type::kNumber:
          values_[i] = GeneralNumber(c.number, csv ? '.' : point_);
          break;
        case Cell::Type::kDate:
          values_[i] = csv ? IsoDate(c.date) : dbf::FormatDateText(c.date, format_);
          break;
        default:
          values_[i] = c.text;
          break;
      }
    }
    Line(values_);
  }
  void Finish() override { out_.Finish(); }

 private:
  void Line(const std::vector<std::string>& values) {
    std::string line = kind_ == ExportKind::kAscii ? QuotedLine(values) : CsvLine(values);
    if (kind_ != ExportKind::kCsv) {
      std::string bad;
      auto bytes = base::CodePage::Cp1252().Encode(line, &bad);
      if (!bytes) {
        std::string field = "?";
        for (size_t i = 0; i < values.size() && i < names_.size(); ++i)
          if (!base::CodePage::Cp1252().Encode(values[i])) field = names_[i];
        Fail(ErrorCode::kCodePage, "The value of field " + field + " holds the character \"" + bad +
                                       "\", which a Windows-1252 file cannot hold.");
      }
      line = std::move(*bytes);
    }
    out_.Add(line);
    out_.Add("\r\n");
  }

  TextOut out_;
  ExportKind kind_;
  char point_;
  dbf::TextFormat format_;
  std::vector<std::string> names_;
  std::vector<std::string> values_;
};

// A PNG without the resolution it may carry (its pHYs chunk), by which the
// workbook library would size the picture: it is shown at its pixels.
std::string WithoutResolution(const std::string& png) {
  constexpr size_t kSignature = 8;
  std::string out = png.substr(0, kSignature);
  for (size_t at = kSignature; at + 12 <= png.size();) {
    const size_t length = (size_t(uint8_t(png[at])) << 24) | (size_t(uint8_t(png[at + 1])) << 16) |
                          (size_t(uint8_t(png[at + 2])) << 8) | size_t(uint8_t(png[at + 3]));
    if (length > png.size() - at - 12) return png;  // not a whole PNG: left to the library
    if (png.compare(at + 4, 4, "pHYs") != 0) out.append(png, at, length + 12);
    at += length + 12;
  }
  return out;
}

// An Excel workbook of one worksheet: numbers and dates as real cells.
class XlsxWriter final : public Writer {
 public:
  // The rows a worksheet holds.
  static constexpr uint64_t kMaxRows = 1048576;

  // How a sheet is written: row by row (its memory stays small whatever
  // its size); held in memory until it is closed, so that only the rows
  // with a picture are made high (written row by row, the library keeps no
  // row heights and would place each picture as if its row had the normal
  // height); or row by row with every row as high as a picture.
  enum class Rows { kStreamed, kHeld, kAllHigh };

  XlsxWriter(const std::string& path, const std::vector<OutColumn>& columns, Rows rows)
      : path_(path), rows_(rows) {
    lxw_workbook_options options{};
    options.constant_memory = rows == Rows::kHeld ? LXW_FALSE : LXW_TRUE;
    std::string dir = dbf::DirOf(path);
    tmpdir_ = dir.empty() ? std::string(".") : dir;
    options.tmpdir = tmpdir_.data();
    options.use_zip64 = LXW_TRUE;
    book_ = workbook_new_opt(path.c_str(), &options);
    if (!book_) Fail(ErrorCode::kIo, "Cannot create the workbook \"" + path + "\".");
    sheet_ = workbook_add_worksheet(book_, nullptr);
    if (rows == Rows::kAllHigh) worksheet_set_default_row(sheet_, kPictureRowPoints, LXW_FALSE);
    date_format_ = workbook_add_format(book_);
    format_set_num_format(date_format_, "yyyy-mm-dd");
    for (const OutColumn& c : columns) {
      lxw_format* f = nullptr;
      if (c.type == 'N' || c.type == 'F') {
        f = workbook_add_format(book_);
        std::string pattern =
            c.decimals > 0 ? "0." + std::string(static_cast<size_t>(c.decimals), '0') : "0";
        format_set_num_format(f, pattern.c_str());
      }
      formats_.push_back(f);
    }
  }
  ~XlsxWriter() override {
    // A workbook abandoned part way is closed into its temporary file, which
    // the caller removes.
    if (book_) workbook_close(book_);
    if (!pictures_dir_.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(pictures_dir_, ec);
    }
  }
  // Gives the sheet (made with pictures) a column of pictures at column,
  // one in each row that NextRowPicture gives one; call before the first
  // row.
  void AddPictureColumn(size_t column) {
    picture_col_ = Col(column);
    // The library reads each picture from its file when the workbook is
    // closed; these copies stay until then, whatever happens to the cache.
    pictures_dir_ = path_ + ".pictures/";
    std::error_code ec;
    std::filesystem::remove_all(pictures_dir_, ec);
    if (!std::filesystem::create_directory(pictures_dir_, ec))
      Fail(ErrorCode::kIo, "Cannot make the folder \"" + pictures_dir_ + "\": " + ec.message());
    Check(worksheet_set_column_pixels(sheet_, picture_col_, picture_col_, kPictureCell, nullptr));
  }
  // The picture of the row the next Row call writes; one with no bytes
  // for none.
  void NextRowPicture(RowPicture picture) { next_picture_ = std::move(picture); }
  void Header(const std::vector<std::string>& labels) override {
    for (size_t i = 0; i < labels.size(); ++i)
      Check(worksheet_write_string(sheet_, Row0(), Col(i), labels[i].c_str(), nullptr));
    ++row_;
  }
  void Row(const std::vector<Cell>& cells) override {
    if (!pictures_dir_.empty()) PlacePicture();
    for (size_t i = 0; i < cells.size(); ++i) {
      const Cell& c = cells[i];
      switch (c.type) {
        case Cell::Type::kBlank:
          break;
        case Cell::Type::kNumber:
          Check(worksheet_write_number(sheet_, Row0(), Col(i), c.number, formats_[i]));
          break;
        case Cell::Type::kDate: {
          lxw_datetime dt{c.date.year, c.date.month, c.date.day, 0, 0, 0.0};
          Check(worksheet_write_datetime(sheet_, Row0(), Col(i), &dt, date_format_));
          break;
        }
        default:
          if (!c.text.empty())
            Check(worksheet_write_string(sheet_, Row0(), Col(i), c.text.c_str(), nullptr));
          break;
      }
    }
    ++row_;
  }
  void Finish() override {
    lxw_error e = workbook_close(book_);
    book_ = nullptr;
    if (e != LXW_NO_ERROR)
      Fail(ErrorCode::kIo,
           "The workbook \"" + path_ + "\" could not be written: " + lxw_strerror(e));
  }

 private:
  lxw_row_t Row0() {
    if (row_ >= kMaxRows)
      Fail(ErrorCode::kBadValue, "A worksheet holds at most 1,048,576 rows; the export has more.");
    return static_cast<lxw_row_t>(row_);
  }
  static lxw_col_t Col(size_t i) { return static_cast<lxw_col_t>(i); }
  // The picture column's cells: the largest picture with a margin.
  static constexpr int kPictureCell = kWorkbookPictureSide + 8;
  static constexpr double kPictureRowPoints = kPictureCell * 0.75;

  void PlacePicture() {
    const RowPicture picture = std::move(next_picture_);
    next_picture_ = {};
    if (picture.png.empty() || picture.width <= 0 || picture.height <= 0) return;
    if (rows_ == Rows::kHeld) Check(worksheet_set_row(sheet_, Row0(), kPictureRowPoints, nullptr));
    const std::string file = pictures_dir_ + std::to_string(row_) + ".png";
    {
      const std::string png = WithoutResolution(picture.png);
      std::FILE* out = std::fopen(file.c_str(), "wb");
      const bool written = out && std::fwrite(png.data(), 1, png.size(), out) == png.size();
      if ((out && std::fclose(out) != 0) || !written)
        Fail(ErrorCode::kIo, "Cannot write \"" + file + "\".");
    }
    // Fitted into the cell, centred, should it come larger than asked.
    const double scale =
        std::min(1.0, double(kWorkbookPictureSide) / std::max(picture.width, picture.height));
    lxw_image_options options{};
    options.x_scale = options.y_scale = scale;
    options.x_offset = static_cast<int32_t>((kPictureCell - picture.width * scale) / 2);
    options.y_offset = static_cast<int32_t>((kPictureCell - picture.height * scale) / 2);
    options.object_position = LXW_OBJECT_MOVE_DONT_SIZE;
    options.description = caption_.data();
    Check(worksheet_insert_image_opt(sheet_, Row0(), picture_col_, file.c_str(), &options));
  }
  void Check(lxw_error e) {
    if (e != LXW_NO_ERROR)
      Fail(ErrorCode::kIo,
           "The workbook \"" + path_ + "\" could not be written: " + lxw_strerror(e));
  }

  std::string path_;
  Rows rows_;
  std::string tmpdir_;
  lxw_workbook* book_ = nullptr;
  lxw_worksheet* sheet_ = nullptr;
  lxw_format* date_format_ = nullptr;
  std::vector<lxw_format*> formats_;
  uint64_t row_ = 0;
  std::string pictures_dir_;  // "" while the sheet has no picture column
  lxw_col_t picture_col_ = 0;
  RowPicture next_picture_;
  std::string caption_ = texts::kPictureColumn;
};

// A new dBase table, written in the engine's batches.
class DbfWriter final : public Writer {
 public:
  DbfWriter(base::Env& env, const std::string& path, const std::vector<dbf::FieldDef>& defs)
      : env_(env), path_(path), table_(env) {
    dbf::Table::CreateTable(env, path, defs);
    table_.SetDirectory(dbf::DirOf(path).empty() ? "./" : dbf::DirOf(path));
    table_.SetTableName(dbf::BaseOf(path));
    table_.SetExclusive(true);
    table_.Open();
    table_.BeginAppendBatch();
  }
  ~DbfWriter() override {
    if (table_.IsOpen()) {
      if (table_.state() == dbf::Table::State::kInsert) table_.Cancel();
      table_.DropAppendBatch();
      try {
        table_.Close();
      } catch (const base::Error&) {
        // The temporary table is removed by the caller.
      }
    }
  }
  void Header(const std::vector<std::string>&) override {}
  void Row(const std::vector<Cell>& cells) override {
    table_.Append();
    for (size_t i = 0; i < cells.size(); ++i) {
      const Cell& c = cells[i];
      dbf::Field& f = table_.Fields(static_cast<int>(i));
      switch (c.type) {
        case Cell::Type::kBlank:
          break;
        case Cell::Type::kNumber:
          f.SetAsFloat(c.number);
          break;
        case Cell::Type::kDate:
          f.SetAsDate(c.date);
          break;
        case Cell::Type::kBoolean:
          f.SetAsBoolean(c.text == "T");
          break;
        case Cell::Type::kText:
          f.SetAsString(c.text);
          break;
      }
    }
    table_.Post();
  }
  void Finish() override {
    table_.EndAppendBatch();
    table_.Close();
    env_.Open(path_, base::OpenMode::kReadWrite)->Sync();
  }

 private:
  base::Env& env_;
  std::string path_;
  dbf::Table table_;
};

// The output field of an exported one: character fields keep their width,
// amounts become float fields, whole numbers and dates stay as they are;
// fields the engine cannot write go out as their text.
dbf::FieldDef OutputDef(const dbf::FieldDef& in, const std::string& name) {
  dbf::FieldDef out;
  out.name = name.empty() ? in.name : name;
  switch (in.type) {
    case 'N':
    case 'F':
      out.type = in.decimals > 0 ? 'F' : 'N';
      out.length = in.length;
      out.decimals = in.decimals;
      break;
    case 'D':
    case 'L':
      out.type = in.type;
      break;
    case 'C':
      out.type = 'C';
      out.length = in.length;
      break;
    default:
      out.type = 'C';
      out.length = 254;
      break;
  }
  return out;
}

// Puts the cursor back where it stood and the display guard as it was.
class CursorKeeper {
 public:
  explicit CursorKeeper(dbf::Table& table) : table_(table) {
    had_row_ = !table_.Eof() && !table_.Bof() && table_.RecNo() != 0;
    if (had_row_) mark_ = table_.GetBookmark();
    table_.DisableControls();
  }
  ~CursorKeeper() {
    try {
      if (had_row_) {
        table_.GotoBookmark(mark_);
      } else {
        table_.First();
      }
    } catch (const base::Error&) {
      // The row is gone (another copy deleted it): the first row will do.
      try {
        table_.First();
      } catch (const base::Error&) {
      }
    }
    table_.EnableControls();
  }
  CursorKeeper(const CursorKeeper&) = delete;
  CursorKeeper& operator=(const CursorKeeper&) = delete;

 private:
  dbf::Table& table_;
  bool had_row_ = false;
  dbf::Bookmark mark_;
};

using Clock = std::chrono::steady_clock;

// Calls back at most every 50 ms (and at the first row), so that a form's
// gauge and count move without slowing the walk.
class Pacer {
 public:
  bool Due(uint64_t n) {
    if ((n & 63) != 1 && n != 1) return false;
    const Clock::time_point now = Clock::now();
    if (n != 1 && now - last_ < std::chrono::milliseconds(50)) return false;
    last_ = now;
    return true;
  }

 private:
  Clock::time_point last_{};
};

}  // namespace

std::string ExportTempPath(const std::string& path) {
  return dbf::DirOf(path) + ".~" + dbf::BaseOf(path);
}

uint64_t ExportRows(base::Env& env, dbf::Table& table, const std::vector<ExportColumn>& columns,
                    const std::string& path, const ExportOptions& options) {
  const std::string temp = ExportTempPath(path);
  // Replacing the table being read (or its index) would lose it.
  std::error_code ec;
  for (const std::string& own : {table.DbfPath(), table.MdxPath()}) {
    if (!own.empty() && std::filesystem::equivalent(path, own, ec))
      Fail(ErrorCode::kBadValue,
           "\"" + path + "\" is the table being exported; choose another file.");
  }
  std::vector<OutColumn> out;
  std::vector<std::string> names, labels;
  std::vector<dbf::FieldDef> defs;
  for (const ExportColumn& c : columns) {
    const dbf::Field& f = table.Fields(c.position);
    out.push_back(OutColumn{&f, f.def().type, f.def().decimals, f.name()});
    names.push_back(f.name());
    labels.push_back(c.label);
    defs.push_back(OutputDef(f.def(), c.dbf_name));
  }
  // The pictures of a workbook, when the table has any to show.
  std::unique_ptr<pictures::PictureStore> store;
  if (options.kind == ExportKind::kXlsx && options.obverse) {
    store = std::make_unique<pictures::PictureStore>(table.DbfPath());
    store->Load();
    const auto& all = store->pictures();
    if (std::none_of(all.begin(), all.end(), [](const pictures::Picture& p) {
          return p.attached() && p.side == pictures::Side::kObverse;
        }))
      store.reset();
  }
  if (store) labels.push_back(texts::kPictureColumn);
  const uint64_t total = table.RecordCount();
  uint64_t rows = 0;
  std::vector<uint32_t> recnos;  // of the rows written, for their pictures
  try {
    std::unique_ptr<Writer> writer;
    XlsxWriter* book = nullptr;
    switch (options.kind) {
      case ExportKind::kDbf:
        writer = std::make_unique<DbfWriter>(env, temp, defs);
        break;
      case ExportKind::kXlsx: {
        using Rows = XlsxWriter::Rows;
        const Rows sheet_rows = !store                             ? Rows::kStreamed
                                : total <= options.picture_rows_held ? Rows::kHeld
                                                                     : Rows::kAllHigh;
        auto workbook = std::make_unique<XlsxWriter>(temp, out, sheet_rows);
        if (store) workbook->AddPictureColumn(out.size());
        book = workbook.get();
        writer = std::move(workbook);
        break;
      }
      default:
        writer = std::make_unique<TextWriter>(env, temp, options.kind, options.decimal_point,
                                              table.text_format(), names);
        break;
    }
    if (options.header && options.kind != ExportKind::kDbf) writer->Header(labels);
    {
      CursorKeeper keep(table);
      std::vector<Cell> cells(out.size());
      Pacer pacer;
      for (table.First(); !table.Eof(); table.Next()) {
        for (size_t i = 0; i < out.size(); ++i) cells[i] = CellOf(*out[i].field);
        if (store) {
          const pictures::Picture* p = store->Find(table.RecNo(), pictures::Side::kObverse);
          book->NextRowPicture(p ? options.obverse(*store, *p) : RowPicture{});
        }
        writer->Row(cells);
        if (options.kind == ExportKind::kDbf) recnos.push_back(table.RecNo());
        ++rows;
        if (options.progress && pacer.Due(rows)) options.progress(rows, total);
      }
    }
    writer->Finish();
    writer.reset();
    // The workbook library writes through its own stream; sync what it wrote.
    if (options.kind == ExportKind::kXlsx) env.Open(temp, base::OpenMode::kReadWrite)->Sync();
    env.Rename(temp, path);
    env.SyncDir(path);
    if (options.kind == ExportKind::kDbf)
      pictures::CopyPicturesOfRows(table.DbfPath(), path, recnos);
  } catch (...) {
    try {
      if (env.Exists(temp)) env.Remove(temp);
    } catch (const base::Error&) {
      // What cannot be removed stays under its temporary name only.
    }
    throw;
  }
  if (options.progress) options.progress(rows, total);
  return rows;
}

namespace {

class TextSource final : public RowSource {
 public:
  TextSource(SourceKind kind, const std::string& path, int max_values)
      : encoding_(DetectTextEncoding(path)),
        delimiter_(kind == SourceKind::kCsv ? DetectDelimiter(path) : ','),
        in_(path),
        quoted_(in_, encoding_, max_values),
        csv_(in_, encoding_, delimiter_),
        kind_(kind),
        max_values_(max_values) {}
  LineRead Next(std::vector<SourceValue>& values) override {
    const LineRead r = kind_ == SourceKind::kCsv ? csv_.Next(texts_) : quoted_.Next(texts_);
    line_ = kind_ == SourceKind::kCsv ? csv_.line() : quoted_.line();
    if (texts_.size() > static_cast<size_t>(max_values_)) {
      if (first_line_) extra_.assign(texts_.begin() + max_values_, texts_.end());
      texts_.resize(static_cast<size_t>(max_values_));
    }
    first_line_ = false;
    values.resize(texts_.size());
    for (size_t i = 0; i < texts_.size(); ++i) {
      values[i].type = SourceValue::Type::kText;
      values[i].text = std::move(texts_[i]);
    }
    return r;
  }
  int64_t line() const override { return line_; }
  double Fraction() const override {
    return in_.size() == 0 ? 1.0
                           : static_cast<double>(in_.offset()) / static_cast<double>(in_.size());
  }
  bool DecimalComma() const override { return delimiter_ == ';'; }
  bool RowWrittenOut() const override {
    return kind_ == SourceKind::kCsv ? csv_.quoted() : quoted_.quoted();
  }
  std::vector<std::string> ColumnsNotRead() const override { return extra_; }

 private:
  TextEncoding encoding_;
  char delimiter_;
  bool first_line_ = true;
  std::vector<std::string> extra_;
  mutable ByteReader in_;
  QuotedReader quoted_;
  CsvReader csv_;
  SourceKind kind_;
  int max_values_;
  std::vector<std::string> texts_;
  int64_t line_ = 0;
};

class DbfSource final : public RowSource {
 public:
  DbfSource(base::Env& env, const std::string& path, int max_values,
            std::vector<std::string>* names, const dbf::TextFormat& format)
      : table_(env) {
    table_.SetDirectory(dbf::DirOf(path).empty() ? "./" : dbf::DirOf(path));
    table_.SetTableName(dbf::BaseOf(path));
    table_.SetReadOnly(true);
    table_.SetTextFormat(format);
    try {
      table_.Open();
    } catch (const base::Error& e) {
      // A header that claims a production index the folder does not hold:
      // the flag is cleared, as opening a database does, and the rows read.
      if (e.code() != ErrorCode::kNotFound || !env.Exists(path) ||
          !dbf::Table::RemoveIndexFlag(env, path))
        throw;
      table_.Open();
    }
    total_ = table_.PhysicalCount();
    count_ = std::min(table_.FieldCount(), max_values);
    if (names) {
      names->clear();
      for (int i = 0; i < count_; ++i) names->push_back(table_.Fields(i).name());
    }
    for (int i = count_; i < table_.FieldCount(); ++i) extra_.push_back(table_.Fields(i).name());
    table_.First();
  }
  LineRead Next(std::vector<SourceValue>& values) override {
    if (!started_) {
      started_ = true;
    } else {
      table_.Next();
    }
    // Rows appended after the source was opened are not read: a table
    // imported into itself is read once, not without end.
    if (table_.Eof() || table_.RecNo() > total_) return LineRead::kEnd;
    ++line_;
    values.resize(static_cast<size_t>(count_));
    for (int i = 0; i < count_; ++i) {
      const dbf::Field& f = table_.Fields(i);
      SourceValue& v = values[static_cast<size_t>(i)];
      v.text = f.AsString();
      const char type = f.def().type;
      if ((type == 'N' || type == 'F' || type == 'D') && f.IsNull()) {
        v.type = SourceValue::Type::kBlank;
      } else if (type == 'N' || type == 'F') {
        v.type = SourceValue::Type::kNumber;
        v.number = f.AsFloat();
      } else if (type == 'D') {
        v.type = SourceValue::Type::kDate;
        v.date = f.AsDate();
      } else {
        v.type = SourceValue::Type::kText;
      }
    }
    return LineRead::kValues;
  }
  int64_t line() const override { return line_; }
  double Fraction() const override {
    return total_ == 0 ? 1.0 : std::min(1.0, static_cast<double>(line_) / total_);
  }
  std::vector<std::string> ColumnsNotRead() const override { return extra_; }

 private:
  dbf::Table table_;
  std::vector<std::string> extra_;
  uint32_t total_ = 0;
  int count_ = 0;
  bool started_ = false;
  int64_t line_ = 0;
};

bool HasLetter(std::string_view s) {
  for (char c : s)
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
  return false;
}

std::optional<dbf::Date> IsoDateText(std::string_view s) {
  if (s.size() != 10 || s[4] != '-' || s[7] != '-') return std::nullopt;
  int parts[3] = {0, 0, 0};
  const size_t at[3][2] = {{0, 4}, {5, 2}, {8, 2}};
  for (int p = 0; p < 3; ++p) {
    for (size_t i = at[p][0]; i < at[p][0] + at[p][1]; ++i) {
      if (s[i] < '0' || s[i] > '9') return std::nullopt;
      parts[p] = parts[p] * 10 + (s[i] - '0');
    }
  }
  if (!dbf::IsValidDate(parts[0], parts[1], parts[2])) return std::nullopt;
  return dbf::Date{parts[0], parts[1], parts[2]};
}

// What a target field takes.
enum class Target { kText, kWhole, kNumber, kDate, kBoolean };

Target TargetOf(const dbf::FieldDef& def) {
  switch (def.type) {
    case 'N':
      return def.decimals == 0 ? Target::kWhole : Target::kNumber;
    case 'F':
      return Target::kNumber;
    case 'D':
      return Target::kDate;
    case 'L':
      return Target::kBoolean;
    default:
      return Target::kText;
  }
}

// What the import met while storing values.
struct Tally {
  uint64_t unread = 0;
  uint64_t cut = 0;
  uint64_t replaced = 0;
};

// A date text in the short date format, with its separator or another
// common one ('/', '.', '-', a blank) between the parts.
std::optional<dbf::Date> DateWithAnySeparator(std::string_view text,
                                              const dbf::TextFormat& format) {
  if (auto d = dbf::ParseDateText(text, format)) return d;
  std::string s(text);
  bool changed = false;
  for (char& c : s) {
    if ((c == '/' || c == '.' || c == '-' || c == ' ') && c != format.date_separator) {
      c = format.date_separator;
      changed = true;
    }
  }
  if (!changed) return std::nullopt;
  return dbf::ParseDateText(s, format);
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

void StoreValue(dbf::Field& f, Target target, const SourceValue& v, bool decimal_comma,
                Tally& tally) {
  if (v.type == SourceValue::Type::kBlank) return;
  switch (target) {
    case Target::kText:
      if (f.SetAsNearestString(v.text, &tally.replaced)) ++tally.cut;
      return;
    case Target::kBoolean:
      if (!v.text.empty()) f.SetAsString(v.text);
      return;
    case Target::kWhole:
    case Target::kNumber: {
      std::optional<double> n;
      if (v.type == SourceValue::Type::kNumber) {
        n = v.number;
      } else {
        if (v.text.find_first_not_of(' ') == std::string::npos) return;
        n = ParseFormattedNumber(v.text, decimal_comma, f.text_format().decimal_separator);
      }
      if (n && target == Target::kWhole && std::trunc(*n) != *n) n.reset();
      if (!n) {
        ++tally.unread;
        return;
      }
      if (target == Target::kWhole) {
        // Beyond what 64 bits hold no field is wide enough either: say so
        // plainly rather than cast it.
        if (std::fabs(*n) >= 9.2e18)
          Fail(ErrorCode::kOverflow,
               "The value " + std::string(Trim(v.text)) + " is too large for field " + f.name());
        f.SetAsInteger(static_cast<int64_t>(*n));
      } else {
        f.SetAsFloat(*n);
      }
      return;
    }
    case Target::kDate: {
      if (v.type == SourceValue::Type::kDate) {
        f.SetAsDate(v.date);
        return;
      }
      const std::string_view text = Trim(v.text);
      if (text.empty()) return;
      if (auto iso = IsoDateText(text)) {
        f.SetAsDate(*iso);
        return;
      }
      const dbf::TextFormat& format = f.text_format();
      if (!HasLetter(text)) {
        if (auto d = DateWithAnySeparator(text, format)) {
          f.SetAsDate(*d);
          return;
        }
        // A text in the format's own pattern that is no date stops the
        // import; SetAsString refuses it, naming the field.
        if (text.find(format.date_separator) != std::string_view::npos) f.SetAsString(text);
      }
      ++tally.unread;
      return;
    }
  }
}

bool OnlyEmptyValues(const std::vector<SourceValue>& values) {
  for (const SourceValue& v : values) {
    if (v.type == SourceValue::Type::kNumber || v.type == SourceValue::Type::kDate) return false;
    if (v.text.find_first_not_of(' ') != std::string::npos) return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<RowSource> OpenTextSource(SourceKind kind, const std::string& path,
                                          int max_values) {
  return std::make_unique<TextSource>(kind, path, max_values);
}

std::unique_ptr<RowSource> OpenDbfSource(base::Env& env, const std::string& path, int max_values,
                                         std::vector<std::string>* names,
                                         const dbf::TextFormat& format) {
  return std::make_unique<DbfSource>(env, path, max_values, names, format);
}

ImportResult ImportRows(dbf::Table& target, RowSource& source, const std::vector<int>& map,
                        const ImportOptions& options) {
  ImportResult result;
  std::vector<Target> kinds;
  std::vector<dbf::Field*> fields;
  for (int position : map) {
    if (position < 0 || position >= target.FieldCount()) {
      fields.push_back(nullptr);
      kinds.push_back(Target::kText);
      continue;
    }
    dbf::Field& f = target.Fields(position);
    fields.push_back(&f);
    kinds.push_back(TargetOf(f.def()));
  }
  std::vector<SourceValue> values;
  if (options.skip_first) {
    if (source.Next(values) == LineRead::kMalformed) {
      result.stop = ImportResult::Stop::kMalformedLine;
      result.stop_line = source.line();
      return result;
    }
  }

  uint64_t done = 0, written = 0;
  int64_t first_unwritten_line = 0;
  int64_t last_line = 0;  // the line of the last row appended
  bool in_row = false;    // between a row's Append and the end of its Post
  bool posting = false;
  Pacer pacer;
  Tally tally;
  const bool decimal_comma = source.DecimalComma();
  target.BeginAppendBatch(options.batch);
  try {
    for (;;) {
      const LineRead r = source.Next(values);
      if (r == LineRead::kEnd) break;
      if (r == LineRead::kBlank) continue;
      if (r == LineRead::kMalformed) {
        result.stop = ImportResult::Stop::kMalformedLine;
        result.stop_line = source.line();
        break;
      }
      if (!source.RowWrittenOut() && OnlyEmptyValues(values)) {
        ++result.empty_rows;
        continue;
      }
      if (done == written) first_unwritten_line = source.line();
      in_row = true;
      target.Append();
      const size_t n = std::min(values.size(), fields.size());
      for (size_t k = 0; k < n; ++k) {
        if (fields[k]) StoreValue(*fields[k], kinds[k], values[k], decimal_comma, tally);
      }
      posting = true;
      target.Post();
      posting = false;
      in_row = false;
      last_line = source.line();
      ++done;
      if (target.QueuedRows() == 0) written = done;
      if (options.progress && pacer.Due(done)) options.progress(done, source.Fraction());
    }
    target.EndAppendBatch();
    result.rows = done;
  } catch (const base::Error& e) {
    // A row whose post failed while it waited in the queue belongs to it:
    // then the first line not in is the next one.
    const bool queued = posting && target.state() != dbf::Table::State::kInsert;
    if (queued) {
      ++done;
      in_row = false;
      last_line = source.line();
    }
    if (target.state() == dbf::Table::State::kInsert) target.Cancel();
    result.stop = ImportResult::Stop::kEngine;
    result.engine_message = e.what();
    result.engine_code = e.code();
    // The first line whose row is not in: the row at fault, else the one
    // after the last row appended.
    result.stop_line = in_row ? source.line() : last_line + 1;
    try {
      // The rows before the one at fault are whole: keep them.
      target.EndAppendBatch();
      result.rows = done;
    } catch (const base::Error& again) {
      try {
        target.DropAppendBatch();
      } catch (const base::Error&) {
        // What the batch left behind the counted rows is no row.
      }
      result.rows = written;
      result.engine_message = again.what();
      result.engine_code = again.code();
      if (written < done) result.stop_line = first_unwritten_line;
    }
  }
  result.unread_values = tally.unread;
  result.cut_values = tally.cut;
  result.replaced_characters = tally.replaced;
  result.columns_not_read = source.ColumnsNotRead();
  if (options.progress) options.progress(result.rows, source.Fraction());
  return result;
}

std::string ImportCountsText(const ImportResult& r) {
  if (r.cut_values == 0 && r.unread_values == 0 && r.replaced_characters == 0 &&
      r.empty_rows == 0 && r.columns_not_read.empty())
    return {};
  const auto count = [](uint64_t n, const char* end) {
    std::string digits = std::to_string(n);
    for (size_t i = digits.size(); i > 3; i -= 3) digits.insert(i - 3, 1, ',');
    return texts::kCountStart + digits + end;
  };
  std::string text = count(r.rows, texts::kRowsImportedEnd);
  if (r.cut_values) text += count(r.cut_values, texts::kCutEnd);
  if (r.unread_values) text += count(r.unread_values, texts::kUnreadEnd);
  if (r.replaced_characters) text += count(r.replaced_characters, texts::kReplacedEnd);
  if (r.empty_rows) text += count(r.empty_rows, texts::kEmptyRowsEnd);
  if (!r.columns_not_read.empty()) {
    text += texts::kCountStart;
    text += texts::kColumnsNotRead;
    for (size_t i = 0; i < r.columns_not_read.size(); ++i) {
      if (i) text += ", ";
      text += r.columns_not_read[i];
    }
    text += '.';
  }
  return text;
}

}  // namespace klv::transfer
