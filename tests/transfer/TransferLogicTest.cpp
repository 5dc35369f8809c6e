// Export and import without a window: the text formats' edge cases, the
// field lists and their settings, search mode around an export, round trips
// through every kind of file, an import stopped by a bad value, a malformed
// line and a failing disk, and what other programs read of our files.
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "app/OpenDatabase.h"
#include "base/FaultEnv.h"
#include "support/QtText.h"
#include "support/TempDir.h"
#include "transfer/TransferLogic.h"
#include "transfer/TransferRows.h"

namespace klv::transfer {
namespace {

using klv::test::Q;
using klv::test::ReadFileBytes;
using klv::test::TempDir;
using klv::test::WriteFileBytes;
using test::Row;

using test::Database;
using test::Identity;

FirstLine Scan(const TempDir& dir, const std::string& bytes) {
  WriteFileBytes(dir.File("first.txt"), bytes);
  ByteReader in(dir.File("first.txt"));
  return ScanFirstLine(in, TextEncoding::kUtf8);
}

std::string Quoted(int n, const std::string& value) {
  std::string line;
  for (int i = 0; i < n; ++i) line += (i ? ",\"" : "\"") + value + "\"";
  return line + "\r\n";
}

TEST(DelimitedText, FirstLineChecks) {
  TempDir dir;
  struct Case {
    std::string bytes;
    FirstLine::Problem problem;
  };
  const Case cases[] = {
      {Quoted(30, "v"), FirstLine::kNone},
      {Quoted(31, "v"), FirstLine::kTooManyFields},
      {Quoted(2, std::string(255, 'x')), FirstLine::kNone},
      {Quoted(2, std::string(256, 'x')), FirstLine::kTooLong},
      {"\"a\",b\r\n", FirstLine::kUnmatchedQuote},
      {"\"a\",\r\n", FirstLine::kUnmatchedQuote},
      {"\"a\"x,\"b\"\r\n", FirstLine::kUnmatchedQuote},
      {"\"a\"\"b\",\"\",\"c,d\"", FirstLine::kNone},
  };
  for (const Case& c : cases) EXPECT_EQ(Scan(dir, c.bytes).problem, c.problem) << c.bytes;
  const FirstLine last = Scan(dir, cases[7].bytes);
  EXPECT_EQ(last.values, (std::vector<std::string>{"a\"b", "", "c,d"}));
  EXPECT_EQ(SourceFieldName(std::string(25, 'n')), QString(20, u'n'));
  EXPECT_EQ(SourceFieldName(""), "<BLANK FIELD>");
  EXPECT_EQ(FirstLineMessage(FirstLine::kTooManyFields),
            "The file selected does not appear to be an ASCII delimited text file.  An ASCII "
            "delimited file requires a unique format of each field being surrounded by double "
            "quotes and separated by a comma.  The selected file has too many fields.  There are "
            "at least 10 more fields than are required by Kolvane.");
}

TEST(DelimitedText, LinesWrittenAndRead) {
  EXPECT_EQ(QuotedLine({"  a \"q\"  ", "", "x,y"}), "\"a \"\"q\"\"\",\"\",\"x,y\"");
  EXPECT_EQ(CsvLine({"plain", "a,b", "say \"hi\"", "", "two\nlines"}),
            "plain,\"a,b\",\"say \"\"hi\"\"\",,\"two\nlines\"");
  // One empty value alone would be a blank line, read back as no row.
  EXPECT_EQ(CsvLine({""}), "\"\"");

  TempDir dir;
  // Quoted text: a blank line, an unquoted last value (kept as read), a
  // value past the first line's count, then a malformed line.
  WriteFileBytes(dir.File("q.txt"),
                 "\"a\",\"b\"\r\n\r\n\"c\"\"d\",tail\r\n\"e\",\"f\",\"extra\"\r\n\"g\"h\r\n");
  ByteReader in(dir.File("q.txt"));
  QuotedReader quoted(in, TextEncoding::kUtf8, 2);
  std::vector<std::string> v;
  EXPECT_EQ(quoted.Next(v), LineRead::kValues);
  EXPECT_EQ(quoted.Next(v), LineRead::kBlank);
  EXPECT_EQ(quoted.Next(v), LineRead::kValues);
  EXPECT_EQ(v, (std::vector<std::string>{"c\"d", "tail"}));
  EXPECT_EQ(quoted.Next(v), LineRead::kValues);
  EXPECT_EQ(v, (std::vector<std::string>{"e", "f"}));
  EXPECT_EQ(quoted.Next(v), LineRead::kMalformed);
  EXPECT_EQ(quoted.line(), 5);
  EXPECT_EQ(quoted.Next(v), LineRead::kEnd);

  // CSV in Windows-1252 (found by itself), quoted line breaks, LF endings.
  WriteFileBytes(dir.File("c.csv"), "n,\"x\ny\",\xE9t\xE9\n1,\"\",\"q\"\"\"\n");
  ASSERT_EQ(DetectTextEncoding(dir.File("c.csv")), TextEncoding::kWindows1252);
  ByteReader cin(dir.File("c.csv"));
  CsvReader csv(cin, TextEncoding::kWindows1252);
  EXPECT_EQ(csv.Next(v), LineRead::kValues);
  EXPECT_EQ(v, (std::vector<std::string>{"n", "x\ny", "\xC3\xA9t\xC3\xA9"}));
  EXPECT_EQ(csv.Next(v), LineRead::kValues);
  EXPECT_EQ(csv.line(), 3);
  EXPECT_EQ(v, (std::vector<std::string>{"1", "", "q\""}));
  WriteFileBytes(dir.File("u.csv"), "\xEF\xBB\xBF\xC3\xA9\r\n");
  EXPECT_EQ(DetectTextEncoding(dir.File("u.csv")), TextEncoding::kUtf8);
}

TEST(ExportSettings, GridOrderAndColumns) {
  app::Settings s;
  app::PerField<QString> labels = DisplayLabels(s);
  EXPECT_EQ(labels[db::kCountry], s.field_names[db::kCountry]);
  s.display_fields[db::kTopic] = false;
  EXPECT_EQ(DisplayLabel(s, db::kTopic), "TOPIC");

  ExportList list = ExportList::FromSettings(s, labels);
  EXPECT_EQ(list.row(1), (ExportRow{labels[db::kCountry], "Yes"}));
  EXPECT_FALSE(list.Up(1));
  EXPECT_TRUE(list.Up(db::kComment));  // Comment to row 13
  list.Toggle(1);
  list.StoreIn(s, labels);
  EXPECT_EQ(s.export_order[db::kComment], 13);
  EXPECT_EQ(s.export_order[db::kQuantity], 14);
  EXPECT_FALSE(s.export_fields[db::kCountry]);
  // Two fields of one caption each keep a row of their own, and both are
  // exported.
  labels[db::kUserDef2] = labels[db::kUserDef1];
  list = ExportList::FromSettings(s, labels);
  list.StoreIn(s, labels);
  EXPECT_EQ(s.export_order[db::kUserDef1], 17);
  EXPECT_EQ(s.export_order[db::kUserDef2], 18);
  {
    TempDir dir;
    Database d(dir, "COINS.DBF", {});
    std::vector<std::string> names;
    for (const ExportColumn& c : ExportColumns(s, labels, d.db.MyTable()))
      names.push_back(c.dbf_name);
    EXPECT_EQ(std::count(names.begin(), names.end(), "UserDef1"), 1);
    EXPECT_EQ(std::count(names.begin(), names.end(), "UserDef2"), 1);
  }
  list = ExportList::FromSettings(s, DisplayLabels(s));
  list.Defaults(DisplayLabels(s));
  EXPECT_EQ(list.row(20), (ExportRow{DisplayLabel(s, 20), "Yes"}));

  ImportList imp({"A", "B", "A"});
  EXPECT_EQ(imp.rows(), 20);
  EXPECT_EQ(imp.row(4), (ImportRow{"<EMPTY>", ""}));
  imp.Toggle(4);
  EXPECT_EQ(imp.row(4).use, "");
  EXPECT_TRUE(imp.Down(2));  // B to row 3
  imp.Toggle(3);
  EXPECT_EQ(imp.FieldMap(), (std::vector<int>{1, -1, 1}));
  EXPECT_EQ(ImportList(QStringList(31, "x")).rows(), 31);
}

TEST(Export, SearchModeAndEmptyTable) {
  TempDir dir;
  Database d(dir, "COINS.DBF", test::AwkwardRows());
  struct OnlyPeru : app::RowFilter {
    bool Accept(dbf::Table& t) override { return t.Fields(0).AsString() == "Peru"; }
  } peru;
  d.db.SetRowFilter(&peru);
  d.db.SetSearchMode(true);
  d.db.ReopenMyTable();
  const std::vector<ExportColumn> country = {{0, "Land", "Country"}};
  ExportRequest r;
  r.header = true;
  r.path = Q(dir.File("all.txt"));
  EXPECT_EQ(RunExport(d.db, country, r), 3u);
  EXPECT_TRUE(d.db.searching());
  EXPECT_EQ(d.db.MyTable().RecordCount(), 1u);
  // Windows-1252, in the sort order (by Miscellaneous).
  EXPECT_EQ(ReadFileBytes(dir.File("all.txt")),
            "\"Land\"\r\n\"\"\r\n\"Peru\"\r\n\"C\xF4te d'Ivoire\"\r\n");
  r.search_set = true;
  r.header = false;
  EXPECT_EQ(RunExport(d.db, country, r), 1u);
  EXPECT_EQ(ReadFileBytes(dir.File("all.txt")), "\"Peru\"\r\n");

  Database empty(dir, "EMPTY.DBF", {});
  for (ExportKind kind : {ExportKind::kAscii, ExportKind::kDbf}) {
    r.kind = kind;
    r.path = Q(dir.File(kind == ExportKind::kDbf ? "E.DBF" : "e.txt"));
    EXPECT_EQ(RunExport(empty.db, country, r), 0u);
  }
  EXPECT_EQ(ReadFileBytes(dir.File("e.txt")), "");
  EXPECT_TRUE(test::RowsOfFile(dir.File("E.DBF")).empty());
}

// Every field comes back equal through each kind of file.
TEST(RoundTrip, EveryKindGivesEveryFieldBack) {
  TempDir dir;
  Database from(dir, "COINS.DBF", test::AwkwardRows());
  std::vector<ExportColumn> all;
  for (int i = 0; i < db::kFieldCount; ++i)
    all.push_back(
        {i, std::string(db::FieldInfoOf(i + 1).name), std::string(db::FieldInfoOf(i + 1).name)});
  struct Kind {
    ExportKind out;
    SourceKind in;
    const char* file;
  };
  const Kind kinds[] = {{ExportKind::kAscii, SourceKind::kAscii, "out.txt"},
                        {ExportKind::kCsv, SourceKind::kCsv, "out.csv"},
                        {ExportKind::kCsv1252, SourceKind::kCsv, "out1252.csv"},
                        {ExportKind::kDbf, SourceKind::kDbf, "OUT.DBF"}};
  int n = 0;
  for (const Kind& k : kinds) {
    ExportRequest out;
    out.kind = k.out;
    out.header = k.out != ExportKind::kDbf;
    out.path = Q(dir.File(k.file));
    ASSERT_EQ(RunExport(from.db, all, out), 3u) << k.file;
    EXPECT_FALSE(std::filesystem::exists(ExportTempPath(dir.File(k.file))));
    Database to(dir, "TO" + std::to_string(++n) + ".DBF", {});
    ImportRequest in;
    in.kind = k.in;
    in.path = Q(dir.File(k.file));
    in.skip_first = out.header;
    in.field_map = Identity();
    const ImportResult r = RunImport(to.db, in);
    EXPECT_EQ(r.stop, ImportResult::Stop::kNone) << k.file << r.engine_message;
    EXPECT_EQ(r.rows, 3u);
    EXPECT_EQ(r.unread_values + r.cut_values + r.replaced_characters + r.empty_rows, 0u);
    EXPECT_EQ(to.Rows(), test::AwkwardRows()) << k.file;
  }
}

TEST(Import, StopsWholeAtABadValueOrAMalformedLine) {
  TempDir dir;
  Database to(dir, "COINS.DBF", {});
  // Two source fields of one name go to the row of the first; a number
  // that does not parse stays blank and is counted; a long value is cut; line 6 holds
  // a date that is none.
  WriteFileBytes(dir.File("in.txt"),
                 "\"Country\",\"Price\",\"Country\",\"Date\"\r\n"
                 "\"Chile\",\"1.5\",\"x\",\"2/3/2001\"\r\n"
                 "\r\n"
                 "\"y\",\"abc\",\"" +
                     std::string(30, 'L') +
                     "\",\"soon\"\r\n"
                     "\"Cuba\",\"\",\"z\",\"\"\r\n"
                     "\"Fiji\",\"2\",\"w\",\"13/45/2001\"\r\n"
                     "\"Guam\",\"3\",\"v\",\"1/1/2001\"\r\n");
  ImportRequest in;
  in.path = Q(dir.File("in.txt"));
  in.skip_first = true;
  in.field_map = {db::kCountry, db::kPurchasePr, db::kCountry, db::kPurchDate};
  ImportResult r = RunImport(to.db, in);
  EXPECT_EQ(r.stop, ImportResult::Stop::kEngine);
  EXPECT_EQ(r.rows, 3u);
  EXPECT_EQ(r.stop_line, 6);
  EXPECT_EQ(r.unread_values, 2u);  // "abc" and "soon"
  EXPECT_EQ(r.cut_values, 1u);
  std::vector<Row> got = to.Rows();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0][0], "x");  // the later value of the same name wins the row
  EXPECT_EQ(got[0][10], "2/3/2001");
  EXPECT_EQ(got[1][0], std::string(20, 'L'));
  EXPECT_EQ(got[1][5], "");
  EXPECT_EQ(got[1][10], "");
  EXPECT_EQ(got[2][5], "");
  EXPECT_EQ(ImportMessage(r, SourceKind::kAscii).left(30), "The import stopped at line 6: ");
  EXPECT_TRUE(
      ImportMessage(r, SourceKind::kAscii).endsWith("  3 record(s) were imported before it."));
  EXPECT_TRUE(to.db.MyTable().Check().empty());

  WriteFileBytes(dir.File("bad.txt"), "\"a\"\r\n\"b\"\r\n\"c\"d\r\n\"e\"\r\n");
  in.path = Q(dir.File("bad.txt"));
  in.skip_first = false;
  in.field_map = {db::kTopic};
  r = RunImport(to.db, in);
  EXPECT_EQ(r.stop, ImportResult::Stop::kMalformedLine);
  EXPECT_EQ(r.stop_line, 3);
  EXPECT_EQ(r.rows, 2u);
  EXPECT_EQ(to.db.MyTable().RecordCount(), 5u);
  r.stop = ImportResult::Stop::kNone;
  EXPECT_EQ(ImportMessage(r, SourceKind::kAscii), "Import Complete.");
}

// A disk that fails at each write in turn: the rows reported are in the
// table, whole, the table checks, and the stop is at the first line not in.
TEST(Import, FailingDiskLosesNoWholeRow) {
  TempDir dir;
  std::string text;
  for (int i = 1; i <= 120; ++i)
    text += "\"row" + std::to_string(i) + "\",\"" + std::to_string(i) + "\"\r\n";
  WriteFileBytes(dir.File("in.txt"), text);
  for (int n = 1;; ++n) {
    TempDir run;
    base::FaultEnv env(base::Env::Default());
    env.SetSticky(true);
    ImportResult r;
    {
      Database to(run, "COINS.DBF", {}, env);
      ImportRequest in;
      in.path = Q(dir.File("in.txt"));
      in.field_map = {db::kCountry, db::kQuantity};
      in.batch.rows = 16;
      env.FailAt(n);
      r = RunImport(to.db, in);
      const bool fired = env.fired();
      env.FailAt(0);  // the disk has room again
      if (!fired) {
        EXPECT_EQ(r.rows, 120u);
        EXPECT_EQ(r.stop, ImportResult::Stop::kNone);
        break;
      }
      EXPECT_EQ(r.stop, ImportResult::Stop::kEngine) << n;
      try {
        to.db.Close();
      } catch (const base::Error&) {
      }
    }
    EXPECT_EQ(r.stop_line, static_cast<int64_t>(r.rows) + 1) << n;
    dbf::Table t;
    t.SetDirectory(run.path());
    t.SetTableName("COINS.DBF");
    t.SetRepairIndex(true);
    t.Open();
    // What the failed batch left behind the counted rows is no row; the
    // next append cuts it.
    for (const std::string& problem : t.Check())
      if (problem.find("past its last counted record") == std::string::npos)
        ADD_FAILURE() << n << ": " << problem;
    const std::vector<Row> rows = test::RowsOf(t);
    ASSERT_EQ(rows.size(), r.rows) << n;
    for (size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(rows[i][0], "row" + std::to_string(i + 1));
      EXPECT_EQ(rows[i][12], std::to_string(i + 1));
    }
    ASSERT_LT(n, 400);
  }
}

// Two-digit year formats and a decimal comma: the text still comes back
// whole; and no export replaces the table it reads.
TEST(RoundTrip, ShortYearsAndDecimalCommas) {
  TempDir dir;
  Database from(dir, "COINS.DBF", {test::AwkwardRows()[2]});
  Database to(dir, "TO.DBF", {});
  const dbf::TextFormat german{"d/M/yy", '.', ','};
  from.db.MyTable().SetTextFormat(german);
  to.db.MyTable().SetTextFormat(german);
  ExportRequest r;
  r.path = Q(dir.File("o.txt"));
  EXPECT_EQ(RunExport(from.db, {{5, "P", ""}, {10, "D", ""}}, r), 1u);
  EXPECT_EQ(ReadFileBytes(dir.File("o.txt")), "\"-0,25\",\"31.12.1931\"\r\n");
  ImportRequest in;
  in.path = r.path;
  in.field_map = {db::kPurchasePr, db::kPurchDate};
  EXPECT_EQ(RunImport(to.db, in).rows, 1u);
  EXPECT_EQ(to.db.MyTable().Fields(10).AsDate(), (dbf::Date{1931, 12, 31}));
  EXPECT_EQ(to.db.MyTable().Fields(5).AsFloat(), -0.25);
  r.kind = ExportKind::kDbf;
  r.path = Q(dir.File("COINS.DBF"));
  EXPECT_THROW(RunExport(from.db, {{0, "C", ""}}, r), base::Error);
  EXPECT_EQ(from.Rows().size(), 1u);
}

// A process killed in the middle of an import leaves whole rows, in order,
// and a table that opens: at most the batch being written is lost.
TEST(Import, KilledPartWayLeavesWholeRows) {
  TempDir dir;
  std::string text;
  for (int i = 1; i <= 20000; ++i) text += "\"row" + std::to_string(i) + "\"\r\n";
  WriteFileBytes(dir.File("in.txt"), text);
  test::WriteCoinTable(dir.File("COINS.DBF"), {});
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dbf::Table t;
    t.SetDirectory(dir.path());
    t.SetTableName("COINS.DBF");
    t.Open();
    auto source = OpenTextSource(SourceKind::kAscii, dir.File("in.txt"), 1);
    ImportOptions options;
    options.batch.rows = 64;
    options.progress = [](uint64_t, double) { ::usleep(50000); };
    ImportRows(t, *source, {0}, options);
    ::_exit(0);
  }
  ::usleep(400000);
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  const std::vector<Row> rows = test::RowsOfFile(dir.File("COINS.DBF"));
  EXPECT_GT(rows.size(), 0u);
  EXPECT_LT(rows.size(), 20000u) << "the import finished before the kill";
  for (size_t i = 0; i < rows.size(); ++i) ASSERT_EQ(rows[i][0], "row" + std::to_string(i + 1));
}

// An export that fails part way leaves the file it replaces as it was.
TEST(Export, FailureLeavesTheTargetAlone) {
  TempDir dir;
  Database from(dir, "COINS.DBF", test::AwkwardRows());
  WriteFileBytes(dir.File("keep.txt"), "old");
  base::FaultEnv env(base::Env::Default());
  ExportRequest r;
  r.path = Q(dir.File("keep.txt"));
  for (int n = 1; n <= 3; ++n) {
    env.FailAt(n);
    EXPECT_THROW(RunExport(from.db, {{0, "C", ""}}, r, env), base::Error);
    EXPECT_EQ(ReadFileBytes(dir.File("keep.txt")), "old");
  }
}

struct Output {
  int status = -1;
  std::string out;
};

Output Shell(const std::string& command) {
  Output o;
  FILE* p = ::popen(("timeout 300 " + command + " 2>&1 </dev/null").c_str(), "r");
  if (!p) return o;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) o.out.append(buf, n);
  const int st = ::pclose(p);
  o.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128;
  return o;
}

// The command-line tool runs the same code, with its exit codes.
TEST(Klvdbf, ExportAndImport) {
  TempDir dir;
  test::WriteCoinTable(dir.File("COINS.DBF"), test::AwkwardRows());
  const std::string tool = KLVDBF_PATH;
  auto run = [&](const std::string& args) { return Shell(tool + " " + args).status; };
  EXPECT_EQ(run("export " + dir.File("COINS.DBF") + " " + dir.File("o.csv") +
                " --kind csv --fields Year,Country --header"),
            0);
  EXPECT_EQ(ReadFileBytes(dir.File("o.csv")),
            "\xEF\xBB\xBFYEAR,COUNTRY\r\n1950,C\xC3\xB4te d'Ivoire\r\n\"\",\r\n1931,Peru\r\n");
  EXPECT_EQ(run("create " + dir.File("TO.DBF") + " --coin"), 0);
  EXPECT_EQ(run("import " + dir.File("TO.DBF") + " " + dir.File("o.csv") +
                " --kind csv --skip-first --map 2=Topic,YEAR=Comment"),
            0);
  std::vector<Row> rows = test::RowsOfFile(dir.File("TO.DBF"));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][8], "C\xC3\xB4te d'Ivoire");
  EXPECT_EQ(rows[2][13], "1931");
  EXPECT_EQ(run("export " + dir.File("COINS.DBF") + " " + dir.File("O.DBF") + " --kind dbf"), 0);
  EXPECT_EQ(test::RowsOfFile(dir.File("O.DBF")), test::AwkwardRows());
  EXPECT_EQ(run("export " + dir.File("COINS.DBF") + " x --kind pdf"), 2);
  WriteFileBytes(dir.File("bad.txt"), "\"a\"\r\n\"b\"x\r\n");
  EXPECT_EQ(run("import " + dir.File("TO.DBF") + " " + dir.File("bad.txt") +
                " --kind ascii --map 1=Country"),
            1);
  EXPECT_EQ(test::RowsOfFile(dir.File("TO.DBF")).size(), 4u);
}

// Other programs read what we write: python3-dbfread our dBase table,
// LibreOffice our CSV and our workbook (real number and date cells), and the
// workbook's values come back through LibreOffice's CSV.
TEST(Interop, OtherProgramsReadOurFiles) {
  TempDir dir;
  Database from(dir, "COINS.DBF", test::AwkwardRows());
  std::vector<ExportColumn> all;
  for (int i = 0; i < db::kFieldCount; ++i)
    all.push_back(
        {i, std::string(db::FieldInfoOf(i + 1).name), std::string(db::FieldInfoOf(i + 1).name)});
  ExportRequest r;
  for (auto [kind, file] : {std::pair{ExportKind::kDbf, "OUT.DBF"},
                            {ExportKind::kCsv, "out.csv"},
                            {ExportKind::kXlsx, "out.xlsx"}}) {
    r.kind = kind;
    r.header = kind != ExportKind::kDbf;
    r.path = Q(dir.File(file));
    ASSERT_EQ(RunExport(from.db, all, r), 3u);
  }
  const std::string script = dir.File("read.py");
  WriteFileBytes(script,
                 "import sys, dbfread\n"
                 "for r in dbfread.DBF(sys.argv[1], encoding='cp1252'):\n"
                 "  print(repr([r['COUNTRY'], r['FACEVALUE'], r['PURCHASEPR'], r['MARKETVALU'],"
                 " str(r['PURCHDATE']), r['QUANTITY'], r['COMMENT']]))\n");
  Output py =
      Shell("env PYTHONIOENCODING=utf-8 /usr/bin/python3 " + script + " " + dir.File("OUT.DBF"));
  ASSERT_EQ(py.status, 0) << py.out;
  EXPECT_EQ(py.out,
            "[\"C\xC3\xB4te d'Ivoire\", '5 \"Francs\", big', 12.5, 1234567.89, '2020-03-01', 3, "
            "'\xC3\x9Cn\xC3\xAF \xE2\x82\xAC 100']\n"
            "['', '', None, None, 'None', None, '']\n"
            "['Peru', '1/2 Sol', -0.25, 0.0, '1931-12-31', -7, '']\n");

  const std::string lo = "soffice --headless -env:UserInstallation=file://" + dir.File("lo") + " ";
  const std::string out_dir = dir.File("lo-out");
  Output csv = Shell(lo + "--infilter=CSV:44,34,76,1,,0,false,true --convert-to " +
                     "'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false' --outdir " +
                     out_dir + " " + dir.File("out.csv"));
  ASSERT_EQ(csv.status, 0) << csv.out;
  const std::string seen = ReadFileBytes(out_dir + "/out.csv");
  EXPECT_NE(seen.find("C\xC3\xB4te d'Ivoire,\"5 \"\"Francs\"\", big\",1950,VF,D,12.5,1234567.89,,"
                      "\"Ships, sails\",two  blanks  inside,2020-03-01,"),
            std::string::npos)
      << seen;
  Output fods = Shell(lo + "--convert-to fods --outdir " + out_dir + " " + dir.File("out.xlsx"));
  ASSERT_EQ(fods.status, 0) << fods.out;
  const std::string xml = ReadFileBytes(out_dir + "/out.fods");
  EXPECT_NE(xml.find("office:date-value=\"2020-03-01\""), std::string::npos);
  EXPECT_NE(xml.find("office:value=\"1234567.89\""), std::string::npos);
  EXPECT_NE(xml.find("office:value=\"-7\""), std::string::npos);

  // The workbook's cells, as LibreOffice reads them, import back equal.
  std::filesystem::create_directories(dir.File("x"));
  std::filesystem::rename(dir.File("out.xlsx"), dir.File("x/wb.xlsx"));
  Output back = Shell(
      lo +
      "--convert-to 'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false' --outdir " +
      out_dir + " " + dir.File("x/wb.xlsx"));
  ASSERT_EQ(back.status, 0) << back.out;
  Database to(dir, "TO.DBF", {});
  ImportRequest in;
  in.kind = SourceKind::kCsv;
  in.path = Q(out_dir + "/wb.csv");
  in.skip_first = true;
  in.field_map = Identity();
  const ImportResult got = RunImport(to.db, in);
  EXPECT_EQ(got.stop, ImportResult::Stop::kNone)
      << got.engine_message << ReadFileBytes(out_dir + "/wb.csv");
  // The blank coin is a row of bare commas in a spreadsheet's CSV, as the
  // rows below its data are: skipped and counted.
  std::vector<Row> want = test::AwkwardRows();
  want.erase(want.begin() + 1);
  EXPECT_EQ(to.Rows(), want) << ReadFileBytes(out_dir + "/wb.csv");
  EXPECT_EQ(got.empty_rows, 1u);
}

}  // namespace
}  // namespace klv::transfer
