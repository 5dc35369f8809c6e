// Moving rows out of a table into a file and from a file into a table,
// without a window: the export walk with its four writers (quoted delimited
// text, CSV, an Excel workbook, a new dBase table) and the import walk with
// its three sources (quoted delimited text, CSV, a dBase table). Standard
// C++ over the engine; the program's forms and the command-line tool both
// run exactly this.
//
// Promises:
// - An export writes to a temporary file beside the target, synced, and
//   renames it into place only once it is complete: a failure or a kill
//   never leaves a half-written file under the chosen name, and an
//   existing file is replaced only by a complete one.
// - An import appends in the engine's batches. When it stops (a value the
//   field cannot take, a malformed line, a failed write), the rows it
//   reports as come in are in the table, whole, and none other; it says at
//   which line (or row) of the source it stopped.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/Env.h"
#include "base/Error.h"
#include "db/dbf/Table.h"
#include "transfer/Delimited.h"

namespace klv::pictures {
class PictureStore;
struct Picture;
}  // namespace klv::pictures

namespace klv::transfer {

// The kinds of export file; 1 and 2 are also the stored "File Type" values
// of the original two kinds, the others follow them.
enum class ExportKind : int {
  kAscii = 1,    // quoted delimited text, Windows-1252
  kDbf = 2,      // a new dBase table
  kCsv = 3,      // CSV, UTF-8
  kCsv1252 = 4,  // CSV, Windows-1252
  kXlsx = 5,     // an Excel workbook
};

struct ExportColumn {
  int position = 0;      // the field's position in the table, 0-based
  std::string label;     // its header text
  std::string dbf_name;  // the output field's name (dBase kind); "" keeps the field's name
};

// The long side, in pixels, of the coins' pictures in a workbook.
inline constexpr int kWorkbookPictureSide = 64;

// A small picture for a workbook: PNG bytes and its size in pixels.
struct RowPicture {
  std::string png;  // empty: none
  int width = 0, height = 0;
};

struct ExportOptions {
  ExportKind kind = ExportKind::kAscii;
  bool header = false;       // a first line (row) of the columns' labels; not for kDbf
  char decimal_point = '.';  // quoted delimited text only
  // Called every few hundred rows and at the end: rows written, rows the
  // table counted at the start.
  std::function<void(uint64_t done, uint64_t total)> progress;
  // A workbook only: makes a coin's obverse picture at most
  // kWorkbookPictureSide pixels on its long side. When set and the table
  // has attached obverse pictures, the workbook has one more column at its
  // right, captioned texts::kPictureColumn, holding each exported coin's
  // picture in its row, which is made high enough for it.
  std::function<RowPicture(const pictures::PictureStore&, const pictures::Picture&)> obverse;
  // A workbook with pictures of at most this many rows is held in memory
  // until it is closed, and only the rows with a picture are made high; a
  // larger one is written row by row, its memory small, with every row as
  // high as a picture.
  uint64_t picture_rows_held = 50000;
};

// The temporary file an export to path writes first.
std::string ExportTempPath(const std::string& path);

// Writes every row the table shows (its order, its filter), from its first
// row to its end, to path. The table's cursor and display guard are left as
// they were. Throws base::Error: kIo / kDiskFull when a file cannot be
// written, kCodePage when a value holds a character a Windows-1252 file
// cannot hold (naming the field), kBadValue when a workbook would hold more
// rows than a worksheet takes. Returns the number of rows written.
uint64_t ExportRows(base::Env& env, dbf::Table& table, const std::vector<ExportColumn>& columns,
                    const std::string& path, const ExportOptions& options);

// The kinds of import source; the stored "File Type" values.
enum class SourceKind : int { kAscii = 1, kDbf = 2, kCsv = 3 };

// One value of a source row: text, or a typed value read from a dBase field.
struct SourceValue {
  enum class Type { kText, kNumber, kDate, kBlank };
  Type type = Type::kText;
  std::string text;  // kText; also the field's text for the typed kinds
  double number = 0;
  dbf::Date date;
};

// Rows of a source file, one line (or one dBase row) at a time.
class RowSource {
 public:
  virtual ~RowSource() = default;
  virtual LineRead Next(std::vector<SourceValue>& values) = 0;
  // The line (dBase: the row, from 1) the last Next read.
  virtual int64_t line() const = 0;
  // How far the source has been read, 0 to 1.
  virtual double Fraction() const = 0;
  // Whether its number texts have a comma as the decimal point (a CSV file
  // separated by semicolons, as spreadsheets save it where that is the rule).
  virtual bool DecimalComma() const { return false; }
  // The names of the source's columns past the ones read (a CSV file's
  // first line, a dBase source's fields), once the first line is read.
  virtual std::vector<std::string> ColumnsNotRead() const { return {}; }
  // Whether the last row read was written out as a row even when all its
  // values are empty: a text line with a value in double quotes (as this
  // program writes every row), any dBase row. A row of bare empty values
  // (",,,", as spreadsheets write the rows below their data) is none.
  virtual bool RowWrittenOut() const { return true; }
};

// A text source read as quoted delimited text or as CSV, in the encoding
// found in the file (a CSV file with the delimiter its first line shows);
// at most max_values values a line are kept.
std::unique_ptr<RowSource> OpenTextSource(SourceKind kind, const std::string& path, int max_values);
// A dBase source, opened read-only and shared; its first max_values fields
// are read, in their order. names receives their names.
std::unique_ptr<RowSource> OpenDbfSource(base::Env& env, const std::string& path, int max_values,
                                         std::vector<std::string>* names,
                                         const dbf::TextFormat& format);

struct ImportOptions {
  bool skip_first = false;  // the first line is read and dropped
  dbf::Table::AppendBatchOptions batch;
  // Called every few hundred rows and at the end: rows appended so far and
  // the part of the source read.
  std::function<void(uint64_t rows, double fraction)> progress;
};

struct ImportResult {
  uint64_t rows = 0;  // rows appended, all of them whole
  // Number and date texts that did not read: the field was left blank.
  uint64_t unread_values = 0;
  // Texts cut to the width of their field.
  uint64_t cut_values = 0;
  // Characters the table's code page cannot hold, stored as their nearest
  // letters.
  uint64_t replaced_characters = 0;
  // Rows of only empty values, not stored.
  uint64_t empty_rows = 0;
  // Source columns past those imported (RowSource::ColumnsNotRead).
  std::vector<std::string> columns_not_read;
  enum class Stop { kNone, kMalformedLine, kEngine };
  Stop stop = Stop::kNone;
  int64_t stop_line = 0;       // the source line (dBase: row) where it stopped
  std::string engine_message;  // kEngine: the engine's or the file layer's message
  base::ErrorCode engine_code = base::ErrorCode::kIo;
};

// Appends one row to target for each record of source, value k going to
// the field at target position map[k] (-1: not imported; positions past
// the map's end are not imported). A value is stored by the target field's
// type: character fields take the text, characters the code page cannot
// hold as their nearest letters, cut to the field (both counted);
// whole-number fields a whole number, other numeric fields a number, as
// ParseFormattedNumber reads it (decimal commas when the source has them);
// date fields a date written in the target's short date format with its
// separator or with '.', '-' or a blank instead, or as YYYY-MM-DD. A number
// or date text that does not read leaves the field blank and is counted,
// except that a text with the format's separator and no letter that is
// still no date stops the import; a number too large for its field stops
// it too. Blank lines add nothing; rows of only empty values are counted
// and add nothing (RowSource::RowWrittenOut).
ImportResult ImportRows(dbf::Table& target, RowSource& source, const std::vector<int>& map,
                        const ImportOptions& options);

// What an import that ran to its end adds to its closing message: the rows
// imported with the counts of values cut, not read and changed, of empty
// rows and the columns not imported (texts::kCountStart and after); "" when
// there was nothing of the kind. Counts with comma thousands separators.
std::string ImportCountsText(const ImportResult& result);

}  // namespace klv::transfer
