// Our tables and indexes as independent dBase software reads them
// (python3-dbfread, python3-dbf, Perl XBase's dbf_dump and index_dump, pgdbf,
// LibreOffice), and tables written by such software as we maintain them.
//
// Every reader's output is brought to one canonical text per field: C fields
// without trailing blanks (UTF-8), N fields with exactly their decimals, D
// fields as YYYY-MM-DD, L fields as T/F, and kNull for a blank N, D or L. A
// missing reader fails the test: they are all in deps/debian-packages.txt.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/FaultEnv.h"
#include "db/FieldTable.h"
#include "db/dbf/Base.h"
#include "db/dbf/Table.h"
#include "support/IsoDates.h"
#include "support/TempDir.h"

namespace klv::dbf {
namespace {

namespace fs = std::filesystem;

constexpr char kNull[] = "\\N";
using Row = std::vector<std::string>;

struct Output {
  int status = -1;
  std::string out;
  std::string err;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs a shell command under a time limit; stdout is captured, stderr kept
// in a file beside it for the failure message.
Output RunCommand(const std::string& command, const std::string& err_file,
                  int timeout_seconds = 120) {
  Output r;
  std::string full = "timeout " + std::to_string(timeout_seconds) + " " + command + " 2>" +
                     Quote(err_file) + " </dev/null";
  FILE* p = ::popen(full.c_str(), "r");
  if (p == nullptr) return r;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int st = ::pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  r.err = ReadFile(err_file);
  return r;
}

// A missing reader is a broken test machine, not a reason to skip.
bool HaveTool(const std::string& tool, const std::string& package) {
  std::string probe = "command -v " + Quote(tool) + " >/dev/null 2>&1";
  if (std::system(probe.c_str()) == 0) return true;
  ADD_FAILURE() << tool << " is not installed: it comes with the Debian package " << package
                << ", listed in deps/debian-packages.txt (scripts/deps.sh installs it)";
  return false;
}

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : s) {
    if (c == sep) {
      parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  parts.push_back(cur);
  return parts;
}

std::vector<std::string> Lines(const std::string& s) {
  std::vector<std::string> lines = Split(s, '\n');
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  for (auto& l : lines)
    if (!l.empty() && l.back() == '\r') l.pop_back();
  return lines;
}

std::string Fixed(double v, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  std::string s = buf;
  if (s.find_first_not_of("-0.") == std::string::npos && s[0] == '-') s.erase(0, 1);
  return s;
}

// A reader that prints numbers in its own way ("12.5"): back to the field's
// decimals. Text that is not a number is kept, so the comparison shows it.
std::string NumberText(const std::string& text, int decimals) {
  if (text.empty()) return kNull;
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size()) return "not a number: " + text;
  return Fixed(v, decimals);
}

// Reads canonical rows with dbfread or python3-dbf. The first line of the
// script's output is "count=N deleted=D encoding=E" from the reader's view of
// the header; then one line per live record, fields separated by 0x1F.
constexpr char kPythonReader[] = R"PY(
import sys, datetime, decimal
lib, path = sys.argv[1], sys.argv[2]
def canon(v, dec):
    if v is None: return '\\N'
    if isinstance(v, bool): return 'T' if v else 'F'
    if isinstance(v, datetime.date): return v.isoformat()
    if isinstance(v, str): return v.rstrip(' ')
    if isinstance(v, int): return str(v)
    s = '%.*f' % (dec, v)
    return s.lstrip('-') if s.strip('-0.') == '' else s
lines = []
if lib == 'dbfread':
    import dbfread
    t = dbfread.DBF(path, char_decode_errors='strict')
    decs = [f.decimal_count for f in t.fields]
    lines.append('count=%d deleted=%d encoding=%s' % (t.header.numrecords, len(t.deleted), t.encoding))
    for r in t:
        lines.append('\x1f'.join(canon(v, d) for v, d in zip(r.values(), decs)))
else:
    import dbf
    t = dbf.Table(path)
    t.open(dbf.READ_ONLY)
    names = t.field_names
    decs = [tuple(t.field_info(n))[2] for n in names]
    live = [r for r in t if not dbf.is_deleted(r)]
    lines.append('count=%d deleted=%d encoding=%s' % (len(t), len(t) - len(live), t.codepage.name))
    for r in live:
        lines.append('\x1f'.join(canon(r[n], d) for n, d in zip(names, decs)))
    t.close()
sys.stdout.write('\n'.join(lines) + '\n')
)PY";

struct Reading {
  std::string header;  // the reader's summary line, where it gives one
  std::vector<Row> rows;
};

class InteropTest : public ::testing::Test {
 protected:
  std::string Err() const { return dir_.File("stderr.txt"); }

  std::string Describe(const Output& o) const {
    return "exit status " + std::to_string(o.status) + ", stderr:\n" + o.err;
  }

  void BindTable(Table& t, const std::string& name) {
    t.SetTextFormat(test::IsoTextFormat());
    t.SetDirectory(dir_.path());
    t.SetTableName(name);
  }

  Reading Python(const std::string& lib, const std::string& path) {
    Reading r;
    std::string script = dir_.File("reader.py");
    std::ofstream(script, std::ios::binary) << kPythonReader;
    Output o = RunCommand("env PYTHONIOENCODING=utf-8 /usr/bin/python3 " + Quote(script) + " " +
                              lib + " " + Quote(path),
                          Err());
    EXPECT_EQ(o.status, 0) << lib << ": " << Describe(o);
    auto lines = Lines(o.out);
    if (lines.empty()) return r;
    r.header = lines[0];
    for (size_t i = 1; i < lines.size(); ++i) r.rows.push_back(Split(lines[i], '\x1f'));
    return r;
  }

  // Perl XBase prints the stored bytes (here cp1252) and numbers as Perl
  // formats them; blank numbers and dates are undefined values.
  Reading DbfDump(const std::string& path, const std::vector<FieldDef>& defs) {
    Reading r;
    Output o = RunCommand("dbf_dump --fs '\t' --undef '\\N' " + Quote(path), Err());
    EXPECT_EQ(o.status, 0) << "dbf_dump: " << Describe(o);
    for (const std::string& line : Lines(o.out)) {
      Row row = Split(CodePage::Cp1252().Decode(line), '\t');
      for (size_t i = 0; i < row.size() && i < defs.size(); ++i) {
        if (row[i] == kNull) continue;
        if (defs[i].type == 'N') row[i] = NumberText(row[i], defs[i].decimals);
        if (defs[i].type == 'D' && row[i].size() == 8)
          row[i] = row[i].substr(0, 4) + "-" + row[i].substr(4, 2) + "-" + row[i].substr(6, 2);
      }
      r.rows.push_back(row);
    }
    return r;
  }

  // pgdbf writes a COPY block: tab-separated, \N for null, backslash escapes.
  Reading PgDbf(const std::string& path) {
    Reading r;
    Output o = RunCommand("pgdbf -s cp1252 " + Quote(path), Err());
    EXPECT_EQ(o.status, 0) << "pgdbf: " << Describe(o);
    bool in_copy = false;
    for (const std::string& line : Lines(o.out)) {
      if (!in_copy) {
        in_copy = line.rfind("\\COPY", 0) == 0;
        continue;
      }
      if (line == "\\.") break;
      Row row;
      for (const std::string& cell : Split(line, '\t')) {
        if (cell == kNull) {
          row.push_back(cell);
          continue;
        }
        std::string v;
        for (size_t i = 0; i < cell.size(); ++i) {
          if (cell[i] != '\\' || i + 1 == cell.size()) {
            v += cell[i];
            continue;
          }
          char e = cell[++i];
          v += e == 't' ? '\t' : e == 'n' ? '\n' : e == 'r' ? '\r' : e;
        }
        row.push_back(v);
      }
      r.rows.push_back(row);
    }
    EXPECT_TRUE(in_copy) << "pgdbf printed no COPY block:\n" << o.out;
    return r;
  }

  test::TempDir dir_;
};

// ---------------------------------------------------------------------------
// A coin table with awkward values

std::vector<FieldDef> CoinDefs() {
  auto defs = CoinFieldDefs();
  for (auto& d : defs)
    for (char& c : d.name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return defs;
}

struct CoinRow {
  std::map<std::string, std::string> values;  // field name upper case -> canonical text
  bool deleted = false;
};

// Canonical text of every field of a row; fields not given are blank.
Row Canonical(const std::vector<FieldDef>& defs, const CoinRow& c) {
  Row row;
  for (const auto& d : defs) {
    auto it = c.values.find(d.name);
    if (it == c.values.end() || it->second.empty())
      row.push_back(d.type == 'C' ? "" : kNull);
    else
      row.push_back(it->second);
  }
  return row;
}

std::vector<CoinRow> AwkwardCoins() {
  std::string misc;
  while (misc.size() < 110) misc += "x,\"y\";";
  misc.resize(110);
  std::string full40 = "Ünïcödé-ish 40 characters, all of them!!";
  std::vector<CoinRow> rows;
  rows.push_back({{{"COUNTRY", "Österreich"},
                   {"FACEVALUE", "1 S, \"Edelweiß\""},
                   {"YEAR", "1959"},
                   {"CONDITION", "Très bien; ½ ¼ € ‰ ™"},
                   {"MINTMARK", "Ä"},
                   {"PURCHASEPR", "12.50"},
                   {"MARKETVALU", "-99999999999.99"},
                   {"PREMIUMVAL", "999999999999.99"},
                   {"TOPIC", "Café's \"best\""},
                   {"DESCRIPTIO", "back\\slash, comma"},
                   {"PURCHDATE", "1999-12-31"},
                   {"MISCELLANE", misc},
                   {"QUANTITY", "2147483647"},
                   {"COMMENT", "it's, \"quoted\"; done"},
                   {"YEARAPPROX", "ca."},
                   {"WANTED", "Yes"},
                   {"USERDEF1", "ñ ç ø å æ œ š ž Ÿ"},
                   {"USERDEF2", full40},
                   {"USERDEF3", full40},
                   {"USERDEF4", full40}},
                  false});
  rows.push_back({{}, false});  // every field blank
  rows.push_back(
      {{{"COUNTRY", "Deleted-Land"}, {"QUANTITY", "5"}, {"PURCHDATE", "2001-01-01"}}, true});
  rows.push_back({{{"COUNTRY", "Canada"},
                   {"FACEVALUE", "5¢"},
                   {"PURCHASEPR", "0.01"},
                   {"MARKETVALU", "-0.50"},
                   {"PREMIUMVAL", "0.00"},
                   {"PURCHDATE", "2024-02-29"},
                   {"QUANTITY", "-2147483648"}},
                  false});
  rows.push_back({{{"COUNTRY", "España"},
                   {"YEAR", "1800"},
                   {"PURCHDATE", "1800-02-28"},
                   {"QUANTITY", "0"},
                   {"MARKETVALU", "1234567.89"}},
                  false});
  rows.push_back(
      {{{"COUNTRY", "Zaire"}, {"PURCHDATE", "2099-12-31"}, {"PURCHASEPR", "-1.00"}}, false});
  rows.push_back({{{"COUNTRY", "Last, deleted"}, {"PURCHASEPR", "7.77"}}, true});
  return rows;
}

// Writes the rows with the engine: each row is appended blank-ish first and
// then edited to its values, so both write paths are exercised.
void WriteCoins(Table& t, const std::vector<CoinRow>& rows) {
  for (const CoinRow& c : rows) {
    t.Append();
    t.FieldByName("COUNTRY").SetAsString("placeholder");
    t.Post();
    t.Edit();
    t.FieldByName("COUNTRY").Clear();
    for (const auto& [name, value] : c.values) t.FieldByName(name).SetAsString(value);
    t.Post();
  }
  uint32_t r = 0;
  for (const CoinRow& c : rows) {
    ++r;
    if (!c.deleted) continue;
    ASSERT_TRUE(t.GoTo(r));
    t.Delete();
  }
}

std::vector<Row> LiveCanonical(const std::vector<FieldDef>& defs,
                               const std::vector<CoinRow>& rows) {
  std::vector<Row> out;
  for (const CoinRow& c : rows)
    if (!c.deleted) out.push_back(Canonical(defs, c));
  return out;
}

// Our own reading in the same canonical form.
std::vector<Row> EngineRows(Table& t) {
  std::vector<Row> out;
  for (t.First(); !t.Eof(); t.Next()) {
    Row row;
    for (int i = 0; i < t.FieldCount(); ++i) {
      Field& f = t.Fields(i);
      row.push_back(f.def().type != 'C' && f.IsNull() ? kNull : f.AsString());
    }
    out.push_back(row);
  }
  return out;
}

void ExpectRows(const std::string& who, const std::vector<Row>& got, const std::vector<Row>& want,
                const std::vector<FieldDef>& defs) {
  ASSERT_EQ(got.size(), want.size()) << who << " read another number of rows";
  for (size_t r = 0; r < want.size(); ++r) {
    ASSERT_EQ(got[r].size(), want[r].size()) << who << ", row " << r + 1;
    for (size_t f = 0; f < want[r].size(); ++f)
      EXPECT_EQ(got[r][f], want[r][f]) << who << ", row " << r + 1 << ", field " << defs[f].name;
  }
}

TEST_F(InteropTest, CoinTableReadsTheSameInEveryReaderBeforeAndAfterPack) {
  ASSERT_TRUE(HaveTool("/usr/bin/python3", "python3"));
  ASSERT_TRUE(HaveTool("dbf_dump", "libdbd-xbase-perl"));
  ASSERT_TRUE(HaveTool("pgdbf", "pgdbf"));
  const auto defs = CoinDefs();
  const auto coins = AwkwardCoins();
  const std::string path = dir_.File("COINS.DBF");
  Table::CreateTable(path, CoinFieldDefs());
  Table t;
  BindTable(t, "COINS.DBF");
  t.SetExclusive(true);
  t.Open();
  t.AddIndex("NEWINDEX", "Upper(Left(Country,40))+DTOS(PurchDate)");
  WriteCoins(t, coins);
  const auto want = LiveCanonical(defs, coins);
  ExpectRows("the engine", EngineRows(t), want, defs);

  auto check_all = [&](const std::string& when, uint32_t physical, uint32_t deleted) {
    SCOPED_TRACE(when);
    std::string counts =
        "count=" + std::to_string(physical) + " deleted=" + std::to_string(deleted);
    Reading a = Python("dbfread", path);
    EXPECT_EQ(a.header, counts + " encoding=cp1252");
    ExpectRows("dbfread", a.rows, want, defs);
    Reading b = Python("dbf", path);
    EXPECT_EQ(b.header, counts + " encoding=cp1252");
    ExpectRows("python3-dbf", b.rows, want, defs);
    ExpectRows("dbf_dump", DbfDump(path, defs).rows, want, defs);
    ExpectRows("pgdbf", PgDbf(path).rows, want, defs);
  };
  check_all("with deleted rows", static_cast<uint32_t>(coins.size()), 2);
  t.Pack();
  EXPECT_EQ(t.PhysicalCount(), want.size());
  ExpectRows("the engine after pack", EngineRows(t), want, defs);
  t.Close();
  check_all("after pack", static_cast<uint32_t>(want.size()), 0);
  // dbfread reads to the end of the file: nothing may follow the end mark.
  std::string bytes = ReadFile(path);
  size_t header = static_cast<uint8_t>(bytes[8]) | static_cast<uint8_t>(bytes[9]) << 8;
  size_t reclen = static_cast<uint8_t>(bytes[10]) | static_cast<uint8_t>(bytes[11]) << 8;
  EXPECT_EQ(bytes.size(), header + want.size() * reclen + 1);
}

// One test only: LibreOffice takes seconds to start. It gets its own profile
// directory so that it neither needs nor disturbs a user's.
TEST_F(InteropTest, LibreOfficeReadsTheCoinTable) {
  ASSERT_TRUE(HaveTool("soffice", "libreoffice-calc-nogui"));
  const auto defs = CoinDefs();
  const auto coins = AwkwardCoins();
  Table::CreateTable(dir_.File("COINS.DBF"), CoinFieldDefs());
  {
    Table t;
    BindTable(t, "COINS.DBF");
    t.Open();
    t.AddIndex("NEWINDEX", "Upper(Left(Country,40))+DTOS(PurchDate)");
    WriteCoins(t, coins);
  }
  std::string out_dir = dir_.File("csv");
  fs::create_directories(out_dir);
  // Import as Windows-1252 ("ANSI"): LibreOffice's dBase import takes the
  // character set from its options, not from the file. Export UTF-8 (76) with
  // raw cell contents rather than as displayed, so dates keep four-digit years.
  std::string cmd = "soffice --headless -env:UserInstallation=file://" + dir_.File("lo-profile") +
                    " --infilter=dBase:ANSI --convert-to " +
                    Quote("csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false") +
                    " --outdir " + Quote(out_dir) + " " + Quote(dir_.File("COINS.DBF"));
  Output o = RunCommand(cmd, Err(), 300);
  ASSERT_EQ(o.status, 0) << "soffice: " << Describe(o) << o.out;
  std::string csv = ReadFile(out_dir + "/COINS.csv");
  ASSERT_FALSE(csv.empty()) << "LibreOffice wrote no CSV:\n" << o.out << o.err;

  // RFC 4180 records; quoted cells may hold commas and doubled quotes.
  std::vector<Row> records;
  Row cur;
  std::string cell;
  bool quoted = false;
  for (size_t i = 0; i < csv.size(); ++i) {
    char c = csv[i];
    if (quoted) {
      if (c == '"' && i + 1 < csv.size() && csv[i + 1] == '"') {
        cell += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        cell += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      cur.push_back(cell);
      cell.clear();
    } else if (c == '\n' || c == '\r') {
      if (c == '\r' && i + 1 < csv.size() && csv[i + 1] == '\n') ++i;
      cur.push_back(cell);
      cell.clear();
      records.push_back(cur);
      cur.clear();
    } else {
      cell += c;
    }
  }
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records[0].size(), defs.size());
  EXPECT_EQ(records[0][0], "COUNTRY,C,20");
  records.erase(records.begin());
  for (Row& row : records) {
    for (size_t f = 0; f < row.size() && f < defs.size(); ++f) {
      if (defs[f].type == 'N') row[f] = NumberText(row[f], defs[f].decimals);
      if (defs[f].type == 'D') {
        // M/D/YYYY
        auto parts = Split(row[f], '/');
        if (row[f].empty()) {
          row[f] = kNull;
        } else if (parts.size() == 3) {
          char buf[16];
          std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", std::atoi(parts[2].c_str()),
                        std::atoi(parts[0].c_str()), std::atoi(parts[1].c_str()));
          row[f] = buf;
        }
      }
    }
  }
  ExpectRows("LibreOffice", records, LiveCanonical(defs, coins), defs);
}

// ---------------------------------------------------------------------------
// Index order as Perl XBase walks the .MDX

struct DumpEntry {
  std::string key;
  uint32_t recno;
};

// index_dump -n prints each entry as its key, a blank and the record number,
// in the tree's order, then "Total records: N".
std::vector<DumpEntry> IndexDump(const std::string& mdx, const std::string& tag,
                                 const std::string& err, std::string* failure) {
  Output o = RunCommand("index_dump -n " + Quote(mdx) + " " + Quote(tag), err);
  std::vector<DumpEntry> entries;
  if (o.status != 0) {
    *failure = "index_dump failed: exit status " + std::to_string(o.status) + "\n" + o.err;
    return entries;
  }
  bool total = false;
  for (const std::string& line : Lines(o.out)) {
    if (line.rfind("Total records:", 0) == 0) {
      total = true;
      continue;
    }
    size_t sp = line.find_last_of(' ');
    if (sp == std::string::npos || sp + 1 == line.size() ||
        line.find_first_not_of("0123456789", sp + 1) != std::string::npos) {
      *failure = "index_dump printed an unexpected line: " + line;
      return entries;
    }
    entries.push_back({line.substr(0, sp), static_cast<uint32_t>(std::stoul(line.substr(sp + 1)))});
  }
  if (!total) *failure = "index_dump did not finish its walk:\n" + o.out + o.err;
  return entries;
}

// Every record number, deleted rows included (they stay in the index), in
// the cursor's order of the tag.
std::vector<uint32_t> CursorOrder(Table& t, const std::string& tag) {
  t.SetShowDeleted(true);
  t.SetIndexName(tag);
  std::vector<uint32_t> order;
  for (t.First(); !t.Eof(); t.Next()) order.push_back(t.RecNo());
  t.SetShowDeleted(false);
  return order;
}

std::vector<uint32_t> Recnos(const std::vector<DumpEntry>& entries) {
  std::vector<uint32_t> r;
  for (const auto& e : entries) r.push_back(e.recno);
  return r;
}

uint32_t LE32(const std::string& b, size_t off) {
  if (off + 4 > b.size()) return 0;
  return static_cast<uint32_t>(static_cast<uint8_t>(b[off])) |
         static_cast<uint32_t>(static_cast<uint8_t>(b[off + 1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[off + 2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[off + 3])) << 24;
}

// Levels of the first tag's tree, read from the raw file: follows the first
// child from the root until a node whose extra right-hand pointer is zero.
int TreeDepth(const std::string& mdx_bytes, int item_length) {
  uint32_t header_page = LE32(mdx_bytes, 544);
  uint32_t page = LE32(mdx_bytes, header_page * 512u);
  int depth = 0;
  while (page != 0 && depth < 20) {
    size_t node = page * 512u;
    ++depth;
    uint32_t n = LE32(mdx_bytes, node);
    if (LE32(mdx_bytes, node + 8 + n * static_cast<uint32_t>(item_length)) == 0) break;
    page = LE32(mdx_bytes, node + 8);
  }
  return depth;
}

TEST_F(InteropTest, IndexDumpWalksNewIndexInCursorOrder) {
  ASSERT_TRUE(HaveTool("index_dump", "libdbd-xbase-perl"));
  const std::vector<std::string> countries = {
      "Österreich", "österreich", "Canada", "canada", "España", "Éire",       "France",
      "Germany",    "germany",    "Ísland", "Zaire",  "Åland",  "",           "United States",
      "Brasil",     "Côte",       "A",      "Z",      "Mexico", "New Zealand"};
  std::mt19937 rng(2024);
  auto pick_country = [&] { return countries[rng() % countries.size()]; };
  auto pick_date = [&]() -> std::string {
    if (rng() % 8 == 0) return "";
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u", static_cast<unsigned>(1900 + rng() % 130),
                  static_cast<unsigned>(1 + rng() % 12), static_cast<unsigned>(1 + rng() % 28));
    return buf;
  };
  Table::CreateTable(dir_.File("COINS.DBF"), CoinFieldDefs());
  Table t;
  BindTable(t, "COINS.DBF");
  t.SetExclusive(true);
  t.Open();
  t.AddIndex("NEWINDEX", "Upper(Left(Country,40))+DTOS(PurchDate)");
  t.SetIndexName("NEWINDEX");
  auto add = [&] {
    t.Append();
    t.FieldByName("Country").SetAsString(pick_country());
    t.FieldByName("PurchDate").SetAsString(pick_date());
    t.Post();
  };
  for (int i = 0; i < 3000; ++i) add();
  // Keys move (country and date change), rows go, rows come.
  for (int i = 0; i < 1200; ++i) {
    uint32_t r = 1 + static_cast<uint32_t>(rng() % t.PhysicalCount());
    if (!t.GoTo(r)) continue;
    if (i % 4 == 0) {
      t.Delete();
      continue;
    }
    t.Edit();
    if (i % 2) t.FieldByName("Country").SetAsString(pick_country());
    if (i % 3) t.FieldByName("PurchDate").SetAsString(pick_date());
    t.Post();
  }
  for (int i = 0; i < 300; ++i) add();
  ASSERT_TRUE(t.Check().empty());

  auto compare = [&](const std::string& when) {
    SCOPED_TRACE(when);
    std::string failure;
    auto entries = IndexDump(dir_.File("COINS.MDX"), "NEWINDEX", Err(), &failure);
    ASSERT_TRUE(failure.empty()) << failure;
    EXPECT_EQ(entries.size(), t.PhysicalCount());
    EXPECT_EQ(Recnos(entries), CursorOrder(t, "NEWINDEX"));
    for (size_t i = 1; i < entries.size(); ++i)
      ASSERT_LE(entries[i - 1].key, entries[i].key) << "entry " << i;
    // Each key is the record's own: its date part, looked up through the row.
    for (size_t i = 0; i < entries.size(); i += 97) {
      ASSERT_EQ(entries[i].key.size(), 48u);
      t.SetShowDeleted(true);
      ASSERT_TRUE(t.GoTo(entries[i].recno));
      std::string date(t.FieldByName("PurchDate").Raw());
      t.SetShowDeleted(false);
      EXPECT_EQ(entries[i].key.substr(40), date) << "record " << entries[i].recno;
    }
    EXPECT_GE(TreeDepth(ReadFile(dir_.File("COINS.MDX")), 52), 3);
  };
  compare("after incremental changes");
  t.Pack();
  compare("after pack");
}

TEST_F(InteropTest, ForeignTwoTagIndexStaysWalkableAfterOurChanges) {
  ASSERT_TRUE(HaveTool("index_dump", "libdbd-xbase-perl"));
  const std::string samples = std::string(KLV_SAMPLES_DIR) + "/dbase4-two-tags/";
  dir_.CopyIn(samples + "TEST.DBF");
  dir_.CopyIn(samples + "TEST.MDX");
  Table t;
  BindTable(t, "TEST");
  t.Open();
  struct Add {
    const char* name;
    int value;
  };
  // A key equal to an existing one (record 3 holds 15), a negative and a
  // large number, and more rows than one leaf holds.
  std::vector<Add> adds = {{"atest4", -5}, {"Mtest5", 15}, {"ztest6", 999999999}};
  for (int i = 0; i < 120; ++i)
    adds.push_back({i % 2 ? "btest-odd" : "0test-even", (i * 7919) % 1000 - 500});
  for (const Add& a : adds) {
    t.Append();
    t.FieldByName("TEST1").SetAsString(a.name);
    t.FieldByName("TEST2").SetAsInteger(a.value);
    t.Post();
  }
  ASSERT_TRUE(t.GoTo(2));
  t.Edit();
  t.FieldByName("TEST1").SetAsString("Btest2");
  t.FieldByName("TEST2").SetAsInteger(12);
  t.Post();
  ASSERT_TRUE(t.GoTo(1));
  t.Delete();
  ASSERT_TRUE(t.Check().empty());
  for (const char* tag : {"TEST1", "TEST2"}) {
    SCOPED_TRACE(tag);
    std::string failure;
    auto entries = IndexDump(dir_.File("TEST.MDX"), tag, Err(), &failure);
    ASSERT_TRUE(failure.empty()) << failure;
    EXPECT_EQ(entries.size(), 3 + adds.size());
    EXPECT_EQ(Recnos(entries), CursorOrder(t, tag));
  }
  // Spot checks of the order itself, independent of our cursor.
  std::string failure;
  auto by_name = Recnos(IndexDump(dir_.File("TEST.MDX"), "TEST1", Err(), &failure));
  ASSERT_GE(by_name.size(), 4u);
  EXPECT_EQ(by_name.front(), 7u);  // the first "0test-even": '-' sorts before "0test3"'s '3'
  auto by_value = Recnos(IndexDump(dir_.File("TEST.MDX"), "TEST2", Err(), &failure));
  ASSERT_GE(by_value.size(), 4u);
  EXPECT_EQ(by_value.back(), 6u);  // 999999999 is the largest value
}

// ---------------------------------------------------------------------------
// A table written by python3-dbf, maintained by us

TEST_F(InteropTest, TableWrittenByPythonDbfIsMaintainedByUs) {
  ASSERT_TRUE(HaveTool("/usr/bin/python3", "python3"));
  ASSERT_TRUE(HaveTool("dbf_dump", "libdbd-xbase-perl"));
  const std::string path = dir_.File("PEOPLE.DBF");
  std::string script = dir_.File("make.py");
  std::ofstream(script, std::ios::binary) << R"PY(
import sys, datetime, dbf
t = dbf.Table(sys.argv[1], 'NAME C(20); AMOUNT N(10,2); QTY N(5,0); BORN D; OK L', codepage='cp1252')
t.open(dbf.READ_WRITE)
t.append(('Zürich', 1.5, 3, datetime.date(2020, 1, 2), True))
t.append(('', None, None, None, None))
t.append(('Señor "x", y', -12.25, -7, datetime.date(1901, 12, 31), False))
for i in range(40):
    t.append(('row %02d' % i, i * 1.25, i, datetime.date(2000, 1 + i % 12, 1 + i % 28), i % 2 == 0))
t.close()
)PY";
  Output made = RunCommand("/usr/bin/python3 " + Quote(script) + " " + Quote(path), Err());
  ASSERT_EQ(made.status, 0) << "python3-dbf: " << Describe(made);

  auto row = [](std::string name, std::string amount, std::string qty, std::string born,
                std::string ok) {
    return Row{name, amount, qty, born, ok};
  };
  std::vector<Row> want = {row("Zürich", "1.50", "3", "2020-01-02", "T"),
                           row("", kNull, kNull, kNull, kNull),
                           row("Señor \"x\", y", "-12.25", "-7", "1901-12-31", "F")};
  for (int i = 0; i < 40; ++i) {
    char name[16], born[16];
    std::snprintf(name, sizeof name, "row %02d", i);
    std::snprintf(born, sizeof born, "2000-%02d-%02d", 1 + i % 12, 1 + i % 28);
    want.push_back(row(name, Fixed(i * 1.25, 2), std::to_string(i), born, i % 2 == 0 ? "T" : "F"));
  }

  Table t;
  BindTable(t, "PEOPLE");
  t.SetExclusive(true);
  t.Open();
  const auto defs = t.FieldDefs();
  ExpectRows("the engine, as python3-dbf wrote it", EngineRows(t), want, defs);
  t.AddIndex("BYNAME", "UPPER(NAME)");
  t.AddIndex("BYBORN", "DTOS(BORN)");
  t.SetIndexName("BYNAME");
  ASSERT_TRUE(t.FindKey("ZÜRICH"));
  t.Edit();
  t.FieldByName("NAME").SetAsString("Genève");
  t.FieldByName("AMOUNT").SetAsString("99999.99");
  t.FieldByName("OK").Clear();
  t.Post();
  want[0] = row("Genève", "99999.99", "3", "2020-01-02", kNull);
  t.Append();
  t.FieldByName("NAME").SetAsString("Ålesund");
  t.FieldByName("AMOUNT").SetAsFloat(-0.01);
  t.FieldByName("QTY").SetAsInteger(-9999);
  t.FieldByName("BORN").SetAsString("2024-02-29");
  t.FieldByName("OK").SetAsBoolean(true);
  t.Post();
  want.push_back(row("Ålesund", "-0.01", "-9999", "2024-02-29", "T"));
  t.SetIndexName("");
  for (uint32_t r : {2u, 10u, 11u}) {
    ASSERT_TRUE(t.GoTo(r));
    t.Delete();
  }
  want.erase(want.begin() + 10);
  want.erase(want.begin() + 9);
  want.erase(want.begin() + 1);
  t.Pack();
  ASSERT_TRUE(t.Check().empty());
  ExpectRows("the engine", EngineRows(t), want, defs);
  t.Close();

  std::string counts = "count=" + std::to_string(want.size()) + " deleted=0";
  Reading a = Python("dbfread", path);
  EXPECT_EQ(a.header, counts + " encoding=cp1252");
  ExpectRows("dbfread", a.rows, want, defs);
  Reading b = Python("dbf", path);
  EXPECT_EQ(b.header.substr(0, counts.size()), counts);
  ExpectRows("python3-dbf", b.rows, want, defs);
  // python3-dbf can still change the table we maintained.
  std::ofstream(script, std::ios::binary) << R"PY(
import sys, dbf
t = dbf.Table(sys.argv[1])
t.open(dbf.READ_WRITE)
t.append(('from python',))
t.close()
)PY";
  Output appended = RunCommand("/usr/bin/python3 " + Quote(script) + " " + Quote(path), Err());
  ASSERT_EQ(appended.status, 0) << "python3-dbf: " << Describe(appended);
  // It does not maintain our index: we notice and rebuild it.
  Table again;
  BindTable(again, "PEOPLE");
  try {
    again.Open();
    ADD_FAILURE() << "an index that misses python3-dbf's row was trusted";
  } catch (const DbfError& e) {
    EXPECT_EQ(e.code(), ErrorCode::kIndexMismatch) << e.what();
  }
  again.SetRepairIndex(true);
  again.Open();
  EXPECT_TRUE(again.Check().empty());
  again.SetIndexName("BYNAME");
  ASSERT_TRUE(again.FindKey("FROM PYTHON"));
  EXPECT_EQ(again.RecNo(), want.size() + 1);
}

// ---------------------------------------------------------------------------
// Appends that stop half way, read by dbfread, which ignores the header's
// count and reads up to the end mark, as well as by the engine.

// For each file: the header's count, then the live rows' NAME as dbfread
// reads them.
constexpr char kNamesReader[] = R"PY(
import sys, dbfread
for p in sys.argv[1:]:
    t = dbfread.DBF(p, char_decode_errors='strict')
    print('%d %s' % (t.header.numrecords, '|'.join(r['NAME'].rstrip(' ') for r in t)))
)PY";

class TornAppendTest : public InteropTest {
 protected:
  static std::vector<FieldDef> Fields() { return {{"NAME", 'C', 12, 0}, {"QTY", 'N', 5, 0}}; }

  void Seed(const std::string& dir) {
    Table::CreateTable(dir + "/T.DBF", Fields());
    Table t;
    t.SetDirectory(dir);
    t.SetTableName("T");
    t.Open();
    for (const char* n : {"s0", "s1", "s2"}) Add(t, n);
    t.AddIndex("BYNAME", "NAME");
  }

  static void Add(Table& t, const std::string& name) {
    t.Append();
    t.FieldByName("NAME").SetAsString(name);
    t.FieldByName("QTY").SetAsInteger(static_cast<int64_t>(name.size()));
    t.Post();
  }

  // What dbfread reads of each file: (header count, names).
  std::vector<std::pair<uint32_t, std::vector<std::string>>> DbfRead(
      const std::vector<std::string>& paths) {
    std::string script = dir_.File("names.py");
    std::ofstream(script, std::ios::binary) << kNamesReader;
    std::string cmd = "/usr/bin/python3 " + Quote(script);
    for (const auto& p : paths) cmd += " " + Quote(p);
    Output o = RunCommand(cmd, Err());
    EXPECT_EQ(o.status, 0) << "dbfread: " << Describe(o);
    std::vector<std::pair<uint32_t, std::vector<std::string>>> out;
    for (const std::string& line : Lines(o.out)) {
      auto sp = line.find(' ');
      std::string names = line.substr(sp + 1);
      out.emplace_back(static_cast<uint32_t>(std::stoul(line.substr(0, sp))),
                       names.empty() ? std::vector<std::string>{} : Split(names, '|'));
    }
    EXPECT_EQ(out.size(), paths.size());
    out.resize(paths.size());
    return out;
  }

  // Opens the table as `klvdbf reindex` does and rebuilds it; returns the
  // names in record order.
  static std::vector<std::string> Mend(const std::string& dir) {
    Table t;
    t.SetDirectory(dir);
    t.SetTableName("T");
    t.SetRepairIndex(true);
    t.Open();
    t.RegenerateIndexes();
    auto problems = t.Check();
    EXPECT_TRUE(problems.empty()) << problems.front();
    std::vector<std::string> names;
    for (t.First(); !t.Eof(); t.Next()) names.push_back(t.FieldByName("NAME").AsString());
    EXPECT_EQ(names.size(), t.PhysicalCount());
    return names;
  }

  // The rows s0, s1, s2, a0, a1, ... in order, n of them.
  static std::vector<std::string> Expected(size_t n) {
    std::vector<std::string> want = {"s0", "s1", "s2"};
    for (size_t i = 0; want.size() < n; ++i) want.push_back("a" + std::to_string(i));
    want.resize(n);
    return want;
  }
};

// The fault layer stops a batched append at its Nth write, for every N, as
// a process that died there: dbfread never reads a row past the header's
// count, and once the table is mended the two read the same rows.
TEST_F(TornAppendTest, AppendStoppedAtEveryWriteShowsDbfreadNoRowPastTheCount) {
  ASSERT_TRUE(HaveTool("/usr/bin/python3", "python3"));
  std::vector<std::string> stopped, mended;
  std::vector<std::vector<std::string>> engine;
  for (int n = 1;; ++n) {
    std::string dir = dir_.File("f" + std::to_string(n));
    fs::create_directories(dir);
    Seed(dir);
    base::FaultEnv faults(Env::Default());
    faults.SetSticky(true);
    bool fired = false;
    {
      Table t(faults);
      t.SetDirectory(dir);
      t.SetTableName("T");
      t.Open();
      Table::AppendBatchOptions four;
      four.rows = 4;
      four.milliseconds = 1000000;
      t.BeginAppendBatch(four);
      faults.FailAt(n);
      try {
        for (int i = 0; i < 10; ++i) Add(t, "a" + std::to_string(i));
        t.EndAppendBatch();
      } catch (const DbfError&) {
        fired = faults.fired();
      }
      if (fired) t.DropAppendBatch();
    }
    fs::copy_file(dir + "/T.DBF", dir + "/STOPPED.DBF");
    stopped.push_back(dir + "/STOPPED.DBF");
    engine.push_back(Mend(dir));
    mended.push_back(dir + "/T.DBF");
    if (!fired) break;
    ASSERT_LT(n, 300);
  }
  EXPECT_GT(stopped.size(), 15u);
  auto before = DbfRead(stopped), after = DbfRead(mended);
  for (size_t i = 0; i < stopped.size(); ++i) {
    SCOPED_TRACE("stopped at write " + std::to_string(i + 1));
    auto& [count, names] = before[i];
    EXPECT_LE(names.size(), count) << "dbfread read a row past the count";
    EXPECT_EQ(names, Expected(names.size()));
    EXPECT_EQ(after[i].second, engine[i]);
    EXPECT_EQ(after[i].first, engine[i].size());
    EXPECT_EQ(engine[i], Expected(engine[i].size()));
    EXPECT_GE(engine[i].size(), names.size());
  }
}

// A process appending in batches is killed at random moments, 30 times:
// every batch it saw written is there, dbfread never reads a row past the
// count, and after the table is mended dbfread and the engine agree.
TEST_F(TornAppendTest, AppendKilledAtRandomShowsDbfreadNoRowPastTheCount) {
  ASSERT_TRUE(HaveTool("/usr/bin/python3", "python3"));
  std::mt19937 rng(1997);
  std::vector<std::string> killed, mended;
  std::vector<std::vector<std::string>> engine;
  std::vector<uint32_t> committed;
  constexpr uint32_t kBatch = 40;
  for (int round = 0; round < 30; ++round) {
    std::string dir = dir_.File("k" + std::to_string(round));
    fs::create_directories(dir);
    Seed(dir);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::fflush(nullptr);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(fds[0]);
      try {
        Table t;
        t.SetDirectory(dir);
        t.SetTableName("T");
        t.Open();
        Table::AppendBatchOptions options;
        options.rows = kBatch;
        t.BeginAppendBatch(options);
        for (uint32_t i = 0;; ++i) {
          Add(t, "a" + std::to_string(i));
          // Reported once the batch holding it is written.
          uint32_t done = i + 1;
          if (t.QueuedRows() == 0 && ::write(fds[1], &done, sizeof done) != sizeof done) _exit(2);
        }
      } catch (...) {
        _exit(3);
      }
    }
    ::close(fds[1]);
    std::this_thread::sleep_for(std::chrono::microseconds(3000 + rng() % 120000));
    ::kill(child, SIGKILL);
    int st = 0;
    ::waitpid(child, &st, 0);
    EXPECT_TRUE(WIFSIGNALED(st)) << "round " << round << ": the child ended by itself";
    uint32_t v = 0, last = 0;
    while (::read(fds[0], &v, sizeof v) == sizeof v) last = v;
    ::close(fds[0]);
    committed.push_back(last);
    fs::copy_file(dir + "/T.DBF", dir + "/KILLED.DBF");
    killed.push_back(dir + "/KILLED.DBF");
    engine.push_back(Mend(dir));
    mended.push_back(dir + "/T.DBF");
  }
  auto before = DbfRead(killed), after = DbfRead(mended);
  int torn = 0;
  for (size_t i = 0; i < killed.size(); ++i) {
    SCOPED_TRACE("round " + std::to_string(i));
    auto& [count, names] = before[i];
    EXPECT_LE(names.size(), count) << "dbfread read a row past the count";
    EXPECT_EQ(names, Expected(names.size()));
    EXPECT_GE(engine[i].size(), 3 + committed[i]);
    EXPECT_LE(engine[i].size(), 3 + committed[i] + kBatch);
    EXPECT_EQ(engine[i], Expected(engine[i].size()));
    EXPECT_EQ(after[i].second, engine[i]);
    EXPECT_EQ(after[i].first, engine[i].size());
    torn += fs::file_size(killed[i]) != fs::file_size(mended[i]);
  }
  std::printf("%d of 30 kills left an unfinished tail, cut by the mend\n", torn);
}

}  // namespace
}  // namespace klv::dbf
