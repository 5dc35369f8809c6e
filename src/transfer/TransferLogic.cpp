#include "transfer/TransferLogic.h"

#include <algorithm>
#include <utility>

#include "db/FieldTable.h"
#include "pictures/PictureFiles.h"
#include "platform/Prompts.h"
#include "transfer/TransferTexts.h"

namespace klv::transfer {

namespace {

using platform::L;

size_t U(int n) {
  return static_cast<size_t>(n);
}

QString FieldName(int field_no) {
  return QString::fromLatin1(db::FieldInfoOf(field_no).name.data(),
                             static_cast<qsizetype>(db::FieldInfoOf(field_no).name.size()));
}

// Ends search mode for the life of the object when asked to, and puts it
// back on however the object goes.
class SearchPause {
 public:
  SearchPause(app::OpenDatabase& db, bool pause) : db_(db), paused_(pause && db.searching()) {
    if (paused_) db_.EndSearch();
  }
  ~SearchPause() {
    if (!paused_) return;
    db_.SetSearchMode(true);
    try {
      db_.ReopenMyTable();
    } catch (const base::Error&) {
      // The table stays as the failure left it; the command's error shows.
    }
    emit db_.ViewerSettingsNeeded();
  }
  SearchPause(const SearchPause&) = delete;
  SearchPause& operator=(const SearchPause&) = delete;

 private:
  app::OpenDatabase& db_;
  bool paused_;
};

}  // namespace

QString DisplayLabel(const app::Settings& settings, int field_no) {
  const QString& caption = settings.field_names[U(field_no)];
  if (settings.display_fields[U(field_no)] && !caption.trimmed().isEmpty()) return caption;
  return FieldName(field_no).toUpper();
}

app::PerField<QString> DisplayLabels(const app::Settings& settings) {
  app::PerField<QString> labels;
  for (int f = 1; f <= db::kFieldCount; ++f) labels[U(f)] = DisplayLabel(settings, f);
  return labels;
}

ExportList ExportList::FromSettings(const app::Settings& settings,
                                    const app::PerField<QString>& labels) {
  ExportList list;
  for (int f = 1; f <= db::kFieldCount; ++f) {
    const int r = settings.export_order[U(f)];
    if (r < 1 || r > kRows) continue;
    list.rows_[U(r)] = {labels[U(f)], L(settings.export_fields[U(f)] ? texts::kYes : texts::kNo)};
  }
  return list;
}

void ExportList::Toggle(int r) {
  if (r < 1 || r > kRows) return;
  QString& use = rows_[U(r)].use;
  use = use == L(texts::kYes) ? L(texts::kNo) : L(texts::kYes);
}

bool ExportList::Up(int r) {
  if (r <= 1 || r > kRows) return false;
  std::swap(rows_[U(r)], rows_[U(r - 1)]);
  return true;
}

bool ExportList::Down(int r) {
  if (r < 1 || r >= kRows) return false;
  std::swap(rows_[U(r)], rows_[U(r + 1)]);
  return true;
}

void ExportList::Defaults(const app::PerField<QString>& labels) {
  for (int r = 1; r <= kRows; ++r) rows_[U(r)] = {labels[U(r)], L(texts::kYes)};
}

void ExportList::StoreIn(app::Settings& settings, const app::PerField<QString>& labels) const {
  // Two fields may carry the same caption: each takes a row of its own.
  std::array<bool, kRows + 1> taken{};
  for (int f = 1; f <= db::kFieldCount; ++f) {
    for (int r = 1; r <= kRows; ++r) {
      if (taken[U(r)] || rows_[U(r)].label != labels[U(f)]) continue;
      taken[U(r)] = true;
      settings.export_order[U(f)] = r;
      settings.export_fields[U(f)] = rows_[U(r)].use == L(texts::kYes);
      break;
    }
  }
}

std::vector<ExportColumn> ExportColumns(const app::Settings& settings,
                                        const app::PerField<QString>& labels, dbf::Table& table) {
  std::vector<ExportColumn> columns;
  for (int r = 1; r <= ExportList::kRows; ++r) {
    for (int f = 1; f <= db::kFieldCount; ++f) {
      if (settings.export_order[U(f)] != r) continue;
      if (settings.export_fields[U(f)]) {
        const std::string name(db::FieldInfoOf(f).name);
        if (const dbf::Field* field = table.FindField(name))
          columns.push_back({field->index(), labels[U(f)].toStdString(), name});
      }
    }
  }
  return columns;
}

RowPicture WorkbookPicture(const pictures::PictureStore& store, const pictures::Picture& picture) {
  QSize size;
  const QByteArray png = pictures::ThumbnailPng(store, picture, kWorkbookPictureSide, &size);
  return RowPicture{png.toStdString(), size.width(), size.height()};
}

uint64_t RunExport(app::OpenDatabase& db, const std::vector<ExportColumn>& columns,
                   const ExportRequest& request, base::Env& env) {
  SearchPause pause(db, !request.search_set);
  dbf::Table& table = db.MyTable();
  ExportOptions options;
  options.kind = request.kind;
  options.header = request.header;
  options.decimal_point = table.text_format().decimal_separator;
  options.progress = request.progress;
  options.obverse = WorkbookPicture;
  return ExportRows(env, table, columns, request.path.toStdString(), options);
}

QString SourceFieldName(const std::string& value) {
  if (value.empty()) return L(texts::kBlankField);
  return QString::fromStdString(value).left(20);
}

QString FirstLineMessage(FirstLine::Problem problem) {
  QString text = L(texts::kNotDelimited1) + L(texts::kNotDelimited2) + L(texts::kNotDelimited3);
  switch (problem) {
    case FirstLine::kTooLong:
      return text + L(texts::kProblemTooLong);
    case FirstLine::kUnmatchedQuote:
      return text + L(texts::kProblemUnmatched);
    case FirstLine::kTooManyFields:
      return text + L(texts::kProblemTooMany1) + L(texts::kProblemTooMany2);
    case FirstLine::kNone:
      break;
  }
  return {};
}

ImportList::ImportList(const QStringList& source_names) : names_(source_names) {
  const int count = static_cast<int>(names_.size());
  rows_.resize(U(std::max(count, db::kFieldCount) + 1));
  for (int r = 1; r <= rows(); ++r) {
    if (r <= count) {
      rows_[U(r)] = {names_[r - 1], L(texts::kYes)};
    } else if (r <= db::kFieldCount) {
      rows_[U(r)] = {L(texts::kEmpty), QString()};
    }
  }
}

bool ImportList::Up(int r) {
  if (r <= 1 || r > rows()) return false;
  std::swap(rows_[U(r)], rows_[U(r - 1)]);
  return true;
}

bool ImportList::Down(int r) {
  if (r < 1 || r >= rows()) return false;
  std::swap(rows_[U(r)], rows_[U(r + 1)]);
  return true;
}

void ImportList::Toggle(int r) {
  if (r < 1 || r > rows()) return;
  QString& use = rows_[U(r)].use;
  if (use == L(texts::kYes)) {
    use = L(texts::kNo);
  } else if (use == L(texts::kNo)) {
    use = L(texts::kYes);
  }
}

std::vector<int> ImportList::FieldMap() const {
  std::vector<int> map;
  const int last = std::min(rows(), static_cast<int>(db::kFieldCount));
  for (const QString& name : names_) {
    int entry = -1;
    for (int r = 1; r <= last; ++r) {
      if (rows_[U(r)].source != name) continue;
      if (rows_[U(r)].use == L(texts::kYes)) entry = r;
      break;
    }
    map.push_back(entry);
  }
  return map;
}

ImportResult RunImport(app::OpenDatabase& db, const ImportRequest& request, base::Env& env) {
  dbf::Table& table = db.MyTable();
  std::vector<int> positions;
  for (int field_no : request.field_map) {
    const dbf::Field* f = field_no >= 1 && field_no <= db::kFieldCount
                              ? table.FindField(std::string(db::FieldInfoOf(field_no).name))
                              : nullptr;
    positions.push_back(f ? f->index() : -1);
  }
  const std::string path = request.path.toStdString();
  std::unique_ptr<RowSource> source =
      request.kind == SourceKind::kDbf
          ? OpenDbfSource(env, path, kMaxSourceFields, nullptr, table.text_format())
          : OpenTextSource(request.kind, path, kMaxSourceFields);
  ImportOptions options;
  options.skip_first = request.skip_first && request.kind != SourceKind::kDbf;
  options.batch = request.batch;
  options.progress = request.progress;
  table.DisableControls();
  ImportResult result;
  try {
    result = ImportRows(table, *source, positions, options);
  } catch (...) {
    table.EnableControls();
    throw;
  }
  table.EnableControls();
  return result;
}

QStringList DbfSourceNames(const QString& path, base::Env& env) {
  std::vector<std::string> names;
  OpenDbfSource(env, path.toStdString(), kMaxSourceFields, &names, dbf::TextFormat{});
  QStringList list;
  for (const std::string& n : names) list << SourceFieldName(n);
  return list;
}

QStringList CsvSourceNames(const QString& path) {
  const std::string p = path.toStdString();
  ByteReader in(p);
  CsvReader csv(in, DetectTextEncoding(p), DetectDelimiter(p));
  std::vector<std::string> values;
  csv.Next(values);
  QStringList list;
  for (size_t i = 0; i < values.size() && i < U(kMaxSourceFields); ++i)
    list << SourceFieldName(values[i]);
  return list;
}

QString FormatCount(uint64_t value) {
  QString digits = QString::number(value);
  for (qsizetype i = digits.size() - 3; i > 0; i -= 3) digits.insert(i, u',');
  return digits;
}

QString ImportMessage(const ImportResult& result, SourceKind kind) {
  if (result.stop == ImportResult::Stop::kNone) {
    return L(texts::kImportComplete) + QString::fromStdString(ImportCountsText(result));
  }
  QString reason = result.stop == ImportResult::Stop::kMalformedLine
                       ? L(texts::kStoppedMalformed)
                       : QString::fromStdString(result.engine_message);
  if (!reason.endsWith(u'.')) reason += u'.';
  return L(kind == SourceKind::kDbf ? texts::kStoppedAtRow : texts::kStoppedAtLine) +
         QString::number(result.stop_line) + QStringLiteral(": ") + reason +
         L(texts::kStoppedCountStart) + FormatCount(result.rows) + L(texts::kStoppedCountEnd);
}

}  // namespace klv::transfer
