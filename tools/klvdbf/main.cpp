// klvdbf: inspect, dump, fill, index, check and repair dBase tables with the
// program's own engine, taking the same locks as the program, so it is safe
// to run beside a running copy.
//
// CSV in and out is UTF-8 with a header line; dates are YYYY-MM-DD, numbers
// use "." as the point, an empty cell is an empty field, records count from 1.
// Exit status: 0 success, 1 a problem found or an engine error, 2 bad usage.
// A repair that had to mend or leave out anything has found a problem: it
// exits with 1 after writing the repaired table.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "Csv.h"
#include "db/FieldTable.h"
#include "db/dbf/Base.h"
#include "db/dbf/Salvage.h"
#include "db/dbf/Table.h"
#include "pictures/PictureStore.h"
#include "transfer/Transfer.h"

namespace {

using klv::dbf::DbfError;
using klv::dbf::Table;

constexpr int kOk = 0, kProblem = 1, kUsage = 2;

const char kUsageText[] =
    "Usage: klvdbf COMMAND FILE [ARGS]\n"
    "  info FILE                      header, fields, record count, index tags\n"
    "  dump FILE [--tag NAME] [--deleted]\n"
    "                                 rows as CSV, in the tag's order or record order\n"
    "  create FILE --coin             a new, empty coin table\n"
    "  append FILE [CSV]              rows from CSV (standard input when no file)\n"
    "  set FILE RECNO FIELD=VALUE...  change one row\n"
    "  delete FILE RECNO...           mark rows deleted\n"
    "  index FILE TAG EXPRESSION      add or replace an index tag\n"
    "  check FILE                     verify the table and every tag, and that nothing\n"
    "                                 follows the counted records\n"
    "  pack FILE                      remove deleted rows, rebuild the index\n"
    "  reindex FILE                   rebuild every index tag, cutting what an unfinished\n"
    "                                 append left after the counted records\n"
    "  repair FILE                    rewrite a damaged table with its whole rows,\n"
    "                                 keeping the original aside\n"
    "  export FILE OUT --kind ascii|csv|xlsx|dbf [--fields A,B,...] [--header] [--cp1252]\n"
    "                                 rows to quoted delimited text, CSV (UTF-8, or\n"
    "                                 Windows-1252), an Excel workbook or a new table\n"
    "  import FILE SRC --kind ascii|csv|dbf [--map SRC=DEST,...] [--skip-first]\n"
    "                                 rows appended from a file; SRC names a source field\n"
    "                                 (first line or dBase field) or its number from 1;\n"
    "                                 without --map, fields of the same name, else by position\n"
    "  image FILE RECNO obverse|reverse PICTURE\n"
    "                                 attach a copy of a JPEG, PNG or WebP picture\n"
    "  image FILE RECNO obverse|reverse --remove\n"
    "                                 remove the row's picture of that side\n"
    "  images FILE                    one line per picture: record number (\"-\" when\n"
    "                                 unattached), side and the stored picture's path\n"
    "  --help                         show this text\n"
    "  --version                      show the version\n";

struct Usage {
  std::string message;
};

// The tool's text: ISO dates, '.' as the point.
klv::dbf::TextFormat IsoFormat() {
  klv::dbf::TextFormat iso;
  iso.short_date = "yyyy/MM/dd";
  iso.date_separator = '-';
  iso.decimal_separator = '.';
  return iso;
}

void Bind(Table& t, const std::string& path) {
  t.SetTextFormat(IsoFormat());
  std::string dir = klv::dbf::DirOf(path);
  t.SetDirectory(dir.empty() ? "./" : dir);
  t.SetTableName(klv::dbf::BaseOf(path));
}

std::optional<uint32_t> ParseRecno(const std::string& s) {
  if (s.empty() || s.size() > 10 || s.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  unsigned long long v = std::stoull(s);
  if (v == 0 || v > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<uint32_t>(v);
}

std::string Version(uint8_t v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", v);
  return buf;
}

int Info(const std::string& path) {
  Table t;
  Bind(t, path);
  t.SetReadOnly(true);
  t.Open();
  klv::dbf::Date d = t.LastUpdate();
  std::printf("file: %s\nversion: %s\nlast update: %04d-%02d-%02d\ncode page: %s\n",
              t.DbfPath().c_str(), Version(t.version()).c_str(), d.year, d.month, d.day,
              t.code_page().name());
  std::printf("records: %u (%llu not deleted)\n", t.PhysicalCount(),
              static_cast<unsigned long long>(t.RecordCount()));
  std::printf("fields: %d\n", t.FieldCount());
  for (int i = 0; i < t.FieldCount(); ++i) {
    const auto& f = t.Fields(i).def();
    std::printf("  %2d %-10s %c %3d %2d\n", i + 1, f.name.c_str(), f.type, f.length, f.decimals);
  }
  auto tags = t.Tags();
  std::printf("index tags: %zu\n", tags.size());
  for (const auto& tag : tags) {
    std::printf("  %-10s %c %3d %s%s%s\n", tag.name.c_str(), tag.key_type, tag.key_length,
                tag.expression.c_str(), tag.descending ? " DESCENDING" : "",
                tag.unique ? " UNIQUE" : "");
  }
  return kOk;
}

int Dump(const std::string& path, const std::vector<std::string>& args) {
  std::string tag;
  bool deleted = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--tag" && i + 1 < args.size()) {
      tag = args[++i];
    } else if (args[i] == "--deleted") {
      deleted = true;
    } else {
      throw Usage{"dump: unexpected argument \"" + args[i] + "\""};
    }
  }
  Table t;
  Bind(t, path);
  t.SetReadOnly(true);
  t.Open();
  t.SetShowDeleted(deleted);
  if (!tag.empty()) t.SetIndexName(tag);
  std::vector<std::string> cells;
  if (deleted) cells.push_back("_DELETED");
  for (int i = 0; i < t.FieldCount(); ++i) cells.push_back(t.Fields(i).name());
  std::string out = klv::tools::CsvLine(cells) + "\r\n";
  std::vector<klv::dbf::Field*> fields;
  for (int i = 0; i < t.FieldCount(); ++i) fields.push_back(&t.Fields(i));
  // Cells go straight into the output, as CsvLine would write them.
  auto cell = [&out](std::string_view v) {
    if (v.find_first_of(",\"\r\n") == std::string_view::npos) {
      out += v;
      return;
    }
    out += '"';
    for (char ch : v) {
      if (ch == '"') out += '"';
      out += ch;
    }
    out += '"';
  };
  for (t.First(); !t.Eof(); t.Next()) {
    if (deleted) out += t.IsDeleted() ? "*," : ",";
    for (size_t i = 0; i < fields.size(); ++i) {
      if (i) out += ',';
      cell(fields[i]->AsString());
    }
    out += "\r\n";
    if (out.size() > (1 << 16)) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? kOk : kProblem;
}

int Create(const std::string& path, const std::vector<std::string>& args) {
  if (args.size() != 1 || args[0] != "--coin") throw Usage{"create: give --coin"};
  Table::CreateTable(path, klv::CoinFieldDefs());
  klv::pictures::SetAsideFolder(path);
  return kOk;
}

// Sets a field from CSV text; the message names the field.
void SetCell(Table& t, int field, const std::string& value) {
  t.Fields(field).SetAsString(value);
}

int Append(const std::string& path, const std::vector<std::string>& args) {
  if (args.size() > 1) throw Usage{"append: at most one CSV file"};
  // Rows from a file are read twice, to check them and then to append them,
  // so that memory does not grow with the file; standard input is kept.
  std::stringstream kept;
  auto open_input = [&](std::ifstream& file) -> std::istream* {
    if (args.empty()) return &kept;
    file.open(args[0], std::ios::binary);
    if (!file) {
      std::fprintf(stderr, "klvdbf: cannot read \"%s\"\n", args[0].c_str());
      return nullptr;
    }
    return &file;
  };
  if (args.empty()) kept << std::cin.rdbuf();
  std::ifstream file;
  std::istream* in = open_input(file);
  if (!in) return kProblem;
  klv::tools::CsvReader csv(*in);
  auto header = csv.Next();
  if (!header) return kOk;
  Table t;
  Bind(t, path);
  t.Open();
  std::vector<int> columns;
  for (auto& name : *header) {
    if (!name.empty() && name.back() == '\r') name.pop_back();
    klv::dbf::Field* f = t.FindField(name);
    if (!f) {
      std::fprintf(stderr, "klvdbf: line 1: the table has no field \"%s\"\n", name.c_str());
      return kProblem;
    }
    columns.push_back(f->index());
  }
  // Calls row(line, cells) for each data row of the input; false (after a
  // message) when a row has the wrong number of values.
  auto each_row = [&](klv::tools::CsvReader& reader, const auto& row) {
    while (auto cells = reader.Next()) {
      if (cells->size() == 1 && (*cells)[0].empty()) continue;  // blank line
      if (cells->size() != columns.size()) {
        std::fprintf(stderr, "klvdbf: line %d: %zu values for %zu fields; nothing appended\n",
                     reader.line(), cells->size(), columns.size());
        return false;
      }
      if (!row(reader.line(), *cells)) return false;
    }
    return true;
  };
  // Every value is tried before any row is written: all rows or none. One
  // blank row takes every row's values in turn and is then cancelled.
  t.Append();
  bool valid = each_row(csv, [&](int line, const std::vector<std::string>& cells) {
    try {
      for (size_t i = 0; i < columns.size(); ++i) SetCell(t, columns[i], cells[i]);
    } catch (const DbfError& e) {
      std::fprintf(stderr, "klvdbf: line %d: %s; nothing appended\n", line, e.what());
      return false;
    }
    return true;
  });
  t.Cancel();
  if (!valid) return kProblem;

  std::ifstream again;
  if (args.empty()) {
    kept.clear();
    kept.seekg(0);
  }
  in = open_input(again);
  if (!in) return kProblem;
  klv::tools::CsvReader rows(*in);
  rows.Next();  // the header line
  // In batches: other copies get the table between them, and a kill loses
  // at most the batch being written.
  size_t done = 0, written = 0;
  int written_line = 0;  // the first line not yet known written
  t.BeginAppendBatch();
  try {
    each_row(rows, [&](int line, const std::vector<std::string>& cells) {
      if (done == written) written_line = line;
      t.Append();
      for (size_t i = 0; i < columns.size(); ++i) SetCell(t, columns[i], cells[i]);
      t.Post();
      ++done;
      if (t.QueuedRows() == 0) written = done;
      return true;
    });
    t.EndAppendBatch();
  } catch (const DbfError& e) {
    t.DropAppendBatch();
    std::fprintf(stderr, "klvdbf: line %d: %s; %zu rows were appended before it\n", written_line,
                 e.what(), written);
    return kProblem;
  }
  return kOk;
}

int Set(const std::string& path, const std::vector<std::string>& args) {
  if (args.size() < 2) throw Usage{"set: give RECNO and at least one FIELD=VALUE"};
  auto recno = ParseRecno(args[0]);
  if (!recno) throw Usage{"set: \"" + args[0] + "\" is not a record number"};
  Table t;
  Bind(t, path);
  t.Open();
  std::vector<std::pair<int, std::string>> changes;
  for (size_t i = 1; i < args.size(); ++i) {
    auto eq = args[i].find('=');
    if (eq == std::string::npos) throw Usage{"set: \"" + args[i] + "\" is not FIELD=VALUE"};
    klv::dbf::Field* f = t.FindField(args[i].substr(0, eq));
    if (!f) {
      std::fprintf(stderr, "klvdbf: the table has no field \"%s\"\n",
                   args[i].substr(0, eq).c_str());
      return kProblem;
    }
    changes.emplace_back(f->index(), args[i].substr(eq + 1));
  }
  if (!t.GoTo(*recno)) {
    std::fprintf(stderr, "klvdbf: record %u does not exist or is deleted\n", *recno);
    return kProblem;
  }
  t.Edit();
  try {
    for (auto& [field, value] : changes) SetCell(t, field, value);
    t.Post();
  } catch (...) {
    t.Cancel();
    throw;
  }
  return kOk;
}

int Delete(const std::string& path, const std::vector<std::string>& args) {
  if (args.empty()) throw Usage{"delete: give at least one record number"};
  std::vector<uint32_t> recnos;
  for (const auto& a : args) {
    auto r = ParseRecno(a);
    if (!r) throw Usage{"delete: \"" + a + "\" is not a record number"};
    recnos.push_back(*r);
  }
  Table t;
  Bind(t, path);
  t.Open();
  int status = kOk;
  for (uint32_t r : recnos) {
    if (!t.GoTo(r)) {
      std::fprintf(stderr, "klvdbf: record %u does not exist or is already deleted\n", r);
      status = kProblem;
      continue;
    }
    t.Delete();
  }
  return status;
}

int Index(const std::string& path, const std::vector<std::string>& args) {
  if (args.size() != 2) throw Usage{"index: give TAG and EXPRESSION"};
  Table t;
  Bind(t, path);
  t.Open();
  t.AddIndex(args[0], args[1]);
  return kOk;
}

int Check(const std::string& path) {
  Table t;
  Bind(t, path);
  t.SetReadOnly(true);
  try {
    t.Open();
  } catch (const DbfError& e) {
    std::fprintf(stderr, "klvdbf: %s\n", e.what());
    return kProblem;
  }
  auto problems = t.Check();
  for (const auto& p : problems) std::fprintf(stderr, "klvdbf: %s\n", p.c_str());
  if (problems.empty()) {
    std::printf("%s: %u records, %zu index tags: no problems found\n", t.DbfPath().c_str(),
                t.PhysicalCount(), t.Tags().size());
  }
  return problems.empty() ? kOk : kProblem;
}

int Pack(const std::string& path) {
  Table t;
  Bind(t, path);
  t.SetExclusive(true);
  t.SetRepairIndex(true);
  t.Open();
  klv::pictures::PackKeepingPictures(t);
  return kOk;
}

int Reindex(const std::string& path) {
  Table t;
  Bind(t, path);
  t.SetRepairIndex(true);
  t.Open();
  t.RegenerateIndexes();
  return kOk;
}

std::string Plural(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

int Repair(const std::string& path) {
  // The name is found as the other commands find it: ".DBF" may be left
  // out and letter case does not matter.
  std::string dir = klv::dbf::DirOf(path), name = klv::dbf::BaseOf(path);
  if (name.find('.') == std::string::npos) name += ".DBF";
  std::string found = klv::dbf::FindFileNoCase(dir, name);
  klv::dbf::SalvageResult r =
      klv::dbf::Salvage(klv::dbf::Env::Default(), found.empty() ? dir + name : found);
  for (const auto& note : r.notes) std::fprintf(stderr, "klvdbf: %s\n", note.c_str());
  std::string line =
      (found.empty() ? dir + name : found) + " repaired: " + Plural(r.rows_kept, "row", "rows") +
      " kept (" + std::to_string(r.deleted_kept) + " deleted), " +
      Plural(r.rows_lost, "row", "rows") + " lost, " + Plural(r.bytes_dropped, "byte", "bytes") +
      " not kept, " + Plural(r.tags_rebuilt.size(), "index tag", "index tags") +
      " rebuilt; the original is now " + r.kept_dbf;
  if (!r.kept_mdx.empty()) line += " and its index " + r.kept_mdx;
  std::printf("%s\n", line.c_str());
  return r.notes.empty() ? kOk : kProblem;
}

std::vector<std::string> SplitList(const std::string& s) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(s);
  while (std::getline(in, part, ',')) parts.push_back(part);
  return parts;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

int Export(const std::string& path, const std::vector<std::string>& args) {
  if (args.empty() || args[0].rfind("--", 0) == 0) throw Usage{"export: give OUT"};
  const std::string& out = args[0];
  std::string kind, fields;
  bool header = false, cp1252 = false;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--kind" && i + 1 < args.size()) {
      kind = args[++i];
    } else if (args[i] == "--fields" && i + 1 < args.size()) {
      fields = args[++i];
    } else if (args[i] == "--header") {
      header = true;
    } else if (args[i] == "--cp1252") {
      cp1252 = true;
    } else {
      throw Usage{"export: unexpected argument \"" + args[i] + "\""};
    }
  }
  klv::transfer::ExportOptions options;
  if (kind == "ascii") {
    options.kind = klv::transfer::ExportKind::kAscii;
  } else if (kind == "csv") {
    options.kind = cp1252 ? klv::transfer::ExportKind::kCsv1252 : klv::transfer::ExportKind::kCsv;
  } else if (kind == "xlsx") {
    options.kind = klv::transfer::ExportKind::kXlsx;
  } else if (kind == "dbf") {
    options.kind = klv::transfer::ExportKind::kDbf;
  } else {
    throw Usage{"export: give --kind ascii, csv, xlsx or dbf"};
  }
  if (cp1252 && kind != "csv") throw Usage{"export: --cp1252 is for --kind csv"};
  options.header = header;
  Table t;
  Bind(t, path);
  t.SetReadOnly(true);
  t.Open();
  std::vector<klv::transfer::ExportColumn> columns;
  if (fields.empty()) {
    for (int i = 0; i < t.FieldCount(); ++i) columns.push_back({i, t.Fields(i).name(), ""});
  } else {
    for (const std::string& name : SplitList(fields)) {
      klv::dbf::Field* f = t.FindField(name);
      if (!f) {
        std::fprintf(stderr, "klvdbf: the table has no field \"%s\"\n", name.c_str());
        return kProblem;
      }
      columns.push_back({f->index(), f->name(), ""});
    }
  }
  klv::transfer::ExportRows(klv::dbf::Env::Default(), t, columns, out, options);
  return kOk;
}

int Import(const std::string& path, const std::vector<std::string>& args) {
  using klv::transfer::SourceKind;
  if (args.empty() || args[0].rfind("--", 0) == 0) throw Usage{"import: give SRC"};
  const std::string& src = args[0];
  std::string kind, map_text;
  bool skip_first = false;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--kind" && i + 1 < args.size()) {
      kind = args[++i];
    } else if (args[i] == "--map" && i + 1 < args.size()) {
      map_text = args[++i];
    } else if (args[i] == "--skip-first") {
      skip_first = true;
    } else {
      throw Usage{"import: unexpected argument \"" + args[i] + "\""};
    }
  }
  SourceKind source_kind;
  if (kind == "ascii") {
    source_kind = SourceKind::kAscii;
  } else if (kind == "csv") {
    source_kind = SourceKind::kCsv;
  } else if (kind == "dbf") {
    source_kind = SourceKind::kDbf;
  } else {
    throw Usage{"import: give --kind ascii, csv or dbf"};
  }
  if (skip_first && source_kind == SourceKind::kDbf)
    throw Usage{"import: --skip-first is for text sources"};

  Table t;
  Bind(t, path);
  t.Open();
  // The source's field names: a text file's first line, a table's fields.
  std::vector<std::string> names;
  std::unique_ptr<klv::transfer::RowSource> source;
  constexpr int kMaxValues = 1000;
  if (source_kind == SourceKind::kDbf) {
    source = klv::transfer::OpenDbfSource(klv::dbf::Env::Default(), src, kMaxValues, &names,
                                          t.text_format());
  } else {
    klv::transfer::ByteReader first(src);
    const auto encoding = klv::transfer::DetectTextEncoding(src);
    if (source_kind == SourceKind::kAscii) {
      klv::transfer::FirstLine line = klv::transfer::ScanFirstLine(first, encoding);
      static const char* const kProblems[] = {
          "", "a value of the first line is longer than 255 characters",
          "the first line ends inside a value (an unmatched quote?)",
          "the first line has more than 30 values"};
      if (line.problem != klv::transfer::FirstLine::kNone) {
        std::fprintf(stderr, "klvdbf: %s is not quoted delimited text: %s\n", src.c_str(),
                     kProblems[line.problem]);
        return kProblem;
      }
      names = line.values;
    } else {
      klv::transfer::CsvReader csv(first, encoding, klv::transfer::DetectDelimiter(src));
      if (csv.Next(names) == klv::transfer::LineRead::kMalformed) {
        std::fprintf(stderr,
                     "klvdbf: line 1: a closing quote is followed by neither a comma "
                     "nor a quote; nothing imported\n");
        return kProblem;
      }
    }
    source = klv::transfer::OpenTextSource(
        source_kind, src,
        source_kind == SourceKind::kAscii ? klv::transfer::kMaxSourceFields : kMaxValues);
  }

  std::vector<int> map(names.size(), -1);
  auto source_index = [&](const std::string& name) -> int {
    if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos) {
      const size_t k = std::stoul(name);
      return k >= 1 && k <= names.size() ? static_cast<int>(k - 1) : -1;
    }
    for (size_t k = 0; k < names.size(); ++k)
      if (SameName(names[k], name)) return static_cast<int>(k);
    return -1;
  };
  if (!map_text.empty()) {
    for (const std::string& pair : SplitList(map_text)) {
      const size_t eq = pair.find('=');
      if (eq == std::string::npos) throw Usage{"import: \"" + pair + "\" is not SRC=DEST"};
      const int k = source_index(pair.substr(0, eq));
      if (k < 0) {
        std::fprintf(stderr, "klvdbf: the source has no field \"%s\"\n",
                     pair.substr(0, eq).c_str());
        return kProblem;
      }
      klv::dbf::Field* f = t.FindField(pair.substr(eq + 1));
      if (!f) {
        std::fprintf(stderr, "klvdbf: the table has no field \"%s\"\n",
                     pair.substr(eq + 1).c_str());
        return kProblem;
      }
      map[static_cast<size_t>(k)] = f->index();
    }
  } else {
    bool any = false;
    for (size_t k = 0; k < names.size(); ++k) {
      if (klv::dbf::Field* f = t.FindField(names[k])) {
        map[k] = f->index();
        any = true;
      }
    }
    if (!any)
      for (size_t k = 0; k < names.size() && k < static_cast<size_t>(t.FieldCount()); ++k)
        map[k] = static_cast<int>(k);
  }

  klv::transfer::ImportOptions options;
  options.skip_first = skip_first;
  const klv::transfer::ImportResult r = klv::transfer::ImportRows(t, *source, map, options);
  const char* unit = source_kind == SourceKind::kDbf ? "row" : "line";
  if (r.stop == klv::transfer::ImportResult::Stop::kMalformedLine) {
    std::fprintf(stderr,
                 "klvdbf: %s %lld: a closing quote is followed by neither a comma nor a quote; "
                 "%llu rows were imported before it\n",
                 unit, static_cast<long long>(r.stop_line),
                 static_cast<unsigned long long>(r.rows));
    return kProblem;
  }
  if (r.stop == klv::transfer::ImportResult::Stop::kEngine) {
    std::fprintf(stderr, "klvdbf: %s %lld: %s; %llu rows were imported before it\n", unit,
                 static_cast<long long>(r.stop_line), r.engine_message.c_str(),
                 static_cast<unsigned long long>(r.rows));
    return kProblem;
  }
  std::printf("%llu rows imported\n", static_cast<unsigned long long>(r.rows));
  // The counts as the import form's closing message gives them.
  const std::string counts = klv::transfer::ImportCountsText(r);
  if (!counts.empty()) std::printf("%s\n", counts.c_str() + 2);
  return kOk;
}

// The table's path as the other commands find it: ".DBF" may be left out
// and letter case does not matter.
std::string FoundTable(const std::string& path) {
  std::string dir = klv::dbf::DirOf(path), name = klv::dbf::BaseOf(path);
  if (name.find('.') == std::string::npos) name += ".DBF";
  std::string found = klv::dbf::FindFileNoCase(dir, name);
  if (found.empty())
    throw DbfError(klv::base::ErrorCode::kNotFound, "There is no table \"" + path + "\"");
  return found;
}

int Image(const std::string& path, const std::vector<std::string>& args) {
  if (args.size() != 3) throw Usage{"image: give RECNO, SIDE and PICTURE or --remove"};
  auto recno = ParseRecno(args[0]);
  if (!recno) throw Usage{"image: \"" + args[0] + "\" is not a record number"};
  auto side = klv::pictures::ParseSide(args[1]);
  if (!side) throw Usage{"image: give the side as obverse or reverse"};
  klv::pictures::PictureStore store(FoundTable(path));
  if (args[2] == "--remove") {
    if (!store.Remove(*recno, *side)) {
      std::fprintf(stderr, "klvdbf: record %u has no %s picture\n", *recno, args[1].c_str());
      return kProblem;
    }
    return kOk;
  }
  store.Attach(*recno, *side, args[2]);
  return kOk;
}

int Images(const std::string& path) {
  klv::pictures::PictureStore store(FoundTable(path));
  store.Load();
  for (const auto& p : store.pictures()) {
    std::string recno = p.attached() ? std::to_string(p.recno) : "-";
    std::printf("%s\t%s\t%s\n", recno.c_str(), std::string(klv::pictures::SideName(p.side)).c_str(),
                store.PathOf(p).c_str());
  }
  return kOk;
}

int Run(const std::vector<std::string>& argv) {
  if (argv.empty() || argv[0] == "--help" || argv[0] == "-h") {
    std::fputs(kUsageText, argv.empty() ? stderr : stdout);
    return argv.empty() ? kUsage : kOk;
  }
  if (argv[0] == "--version") {
    std::printf("klvdbf %s\n", KLV_VERSION);
    return kOk;
  }
  if (argv.size() < 2) throw Usage{"give a FILE"};
  const std::string& cmd = argv[0];
  const std::string& path = argv[1];
  std::vector<std::string> rest(argv.begin() + 2, argv.end());
  auto no_args = [&] {
    if (!rest.empty()) throw Usage{cmd + ": unexpected argument \"" + rest[0] + "\""};
  };
  if (cmd == "info") return no_args(), Info(path);
  if (cmd == "dump") return Dump(path, rest);
  if (cmd == "create") return Create(path, rest);
  if (cmd == "append") return Append(path, rest);
  if (cmd == "set") return Set(path, rest);
  if (cmd == "delete") return Delete(path, rest);
  if (cmd == "index") return Index(path, rest);
  if (cmd == "check") return no_args(), Check(path);
  if (cmd == "pack") return no_args(), Pack(path);
  if (cmd == "reindex") return no_args(), Reindex(path);
  if (cmd == "repair") return no_args(), Repair(path);
  if (cmd == "export") return Export(path, rest);
  if (cmd == "import") return Import(path, rest);
  if (cmd == "image") return Image(path, rest);
  if (cmd == "images") return no_args(), Images(path);
  throw Usage{"unknown command \"" + cmd + "\""};
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  try {
    return Run(args);
  } catch (const Usage& u) {
    std::fprintf(stderr, "klvdbf: %s\n%s", u.message.c_str(), kUsageText);
    return kUsage;
  } catch (const DbfError& e) {
    std::fprintf(stderr, "klvdbf: %s\n", e.what());
    return kProblem;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "klvdbf: %s\n", e.what());
    return kProblem;
  }
}
