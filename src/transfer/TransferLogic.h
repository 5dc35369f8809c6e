// Export and import of the open collection database, without a window: the
// export field list with its settings, the import field-matching list, the
// first-line check of a text source, and the runs on the open database's
// coin table (search mode, progress, the closing messages' texts). The
// forms Export1, Imp1 and Import1 move values between their widgets and
// these.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QString>
#include <QStringList>

#include "app/OpenDatabase.h"
#include "app/Settings.h"
#include "transfer/Transfer.h"

namespace klv::transfer {

// A coin table field's display label: its caption from the field caption
// table while the viewer shows the field, else the table's field name.
QString DisplayLabel(const app::Settings& settings, int field_no);
// The display labels of fields 1 to 20 (entry 0 unused).
app::PerField<QString> DisplayLabels(const app::Settings& settings);

// The export grid's rows 1 to 20: a label and "Yes" or "No".
struct ExportRow {
  QString label;
  QString use;
  bool operator==(const ExportRow&) const = default;
};

class ExportList {
 public:
  static constexpr int kRows = 20;
  // Each field's label and flag on the row its export order names.
  static ExportList FromSettings(const app::Settings& settings,
                                 const app::PerField<QString>& labels);
  const ExportRow& row(int r) const { return rows_[static_cast<size_t>(r)]; }
  // Column 1 of row r (1 to 20): "Yes" becomes "No", anything else "Yes".
  void Toggle(int r);
  // Swap row r with the row above / below; false when there is none.
  bool Up(int r);
  bool Down(int r);
  // Rows 1 to 20: the labels in field order, all "Yes".
  void Defaults(const app::PerField<QString>& labels);
  // UpdateConfigs: each field takes as export order the first row whose
  // label is its label and that no earlier field took (two fields may share
  // a caption), and as flag whether that row says "Yes"; a field
  // whose label is on no row keeps its settings.
  void StoreIn(app::Settings& settings, const app::PerField<QString>& labels) const;

 private:
  std::array<ExportRow, kRows + 1> rows_{};
};

// CalcIndexOrder: the exported columns, in export order (rows 1 to 20),
// each the coin table field (every field, in field order) at that row when its flag is set, looked
// up in table by name, with its label (header text) and the output field name.
std::vector<ExportColumn> ExportColumns(const app::Settings& settings,
                                        const app::PerField<QString>& labels, dbf::Table& table);

struct ExportRequest {
  ExportKind kind = ExportKind::kAscii;
  bool search_set = false;  // only the rows search mode shows
  bool header = false;
  QString path;
  std::function<void(uint64_t done, uint64_t total)> progress;
};

// A coin's obverse picture as a workbook shows it: the pictures' cached
// small picture of kWorkbookPictureSide pixels (made there when it is not).
RowPicture WorkbookPicture(const pictures::PictureStore& store, const pictures::Picture& picture);

// The record loop on the open database's table: with the whole table
// wanted while search mode is on, search mode is ended for the run and put
// back afterwards (also when the run fails). Throws what ExportRows throws.
uint64_t RunExport(app::OpenDatabase& db, const std::vector<ExportColumn>& columns,
                   const ExportRequest& request, base::Env& env = base::Env::Default());

// A source field's name as listed: its first 20 characters, or
// "<BLANK FIELD>" for an empty one.
QString SourceFieldName(const std::string& value);

// The message for a first line that makes a file no quoted delimited text.
QString FirstLineMessage(FirstLine::Problem problem);

// The import grid's columns 1 and 2 on rows 1 to max(count, 20).
struct ImportRow {
  QString source;  // a source field's name, or "<EMPTY>"
  QString use;     // "Yes", "No" or ""
  bool operator==(const ImportRow&) const = default;
};

class ImportList {
 public:
  explicit ImportList(const QStringList& source_names);
  int rows() const { return static_cast<int>(rows_.size()) - 1; }
  const ImportRow& row(int r) const { return rows_[static_cast<size_t>(r)]; }
  bool Up(int r);
  bool Down(int r);
  // "Yes" and "No" change places; an empty cell stays empty.
  void Toggle(int r);
  // For each source position, the coin field number (1 to 20) of the first
  // row 1 to 20 listing its name, when that row says "Yes"; else -1.
  std::vector<int> FieldMap() const;

 private:
  QStringList names_;
  std::vector<ImportRow> rows_;  // entry 0 unused
};

struct ImportRequest {
  SourceKind kind = SourceKind::kAscii;
  QString path;
  bool skip_first = false;     // text sources only
  std::vector<int> field_map;  // per source position: coin field number or -1
  std::function<void(uint64_t rows, double fraction)> progress;
  dbf::Table::AppendBatchOptions batch;
};

// Appends the source's records to the open database's table (the rows go
// in whole, in batches) and says how it went.
ImportResult RunImport(app::OpenDatabase& db, const ImportRequest& request,
                       base::Env& env = base::Env::Default());

// The source field names of a dBase source: the first 20 characters of
// each of its first 30 fields' names. Throws what opening the table throws.
QStringList DbfSourceNames(const QString& path, base::Env& env = base::Env::Default());
// The names of a CSV source's first line (at most 30).
QStringList CsvSourceNames(const QString& path);

// The closing message of an import: "Import Complete." (followed by
// ImportCountsText when it says anything), or, for one that stopped, what
// stopped it, where, and how many records came in.
QString ImportMessage(const ImportResult& result, SourceKind kind);

// A count as the import form draws it: decimal with comma thousands separators.
QString FormatCount(uint64_t value);

}  // namespace klv::transfer
