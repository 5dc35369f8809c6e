// Import and export with the files collectors really have: a suite of CSV
// edge cases read as an independent reader reads them, numbers and dates
// as spreadsheets write them, semicolon files, line breaks in values, dates
// before 1930, letters the table cannot hold, values wider than their
// fields, dBase files from other programs; and what the closing message
// counts of all that.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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
using test::Database;
using test::Row;

using Lines = std::vector<std::vector<std::string>>;

Lines ReadCsvFile(const std::string& path) {
  ByteReader in(path);
  CsvReader csv(in, DetectTextEncoding(path), DetectDelimiter(path));
  Lines lines;
  std::vector<std::string> values;
  for (LineRead r; (r = csv.Next(values)) != LineRead::kEnd;) {
    EXPECT_NE(r, LineRead::kMalformed) << path << " line " << csv.line();
    if (r == LineRead::kValues) lines.push_back(values);
  }
  return lines;
}

// tests/data/csv-edge: each NAME.csv beside NAME.json, the delimiter and
// the rows Python's csv module reads from it.
TEST(CsvEdgeCases, ReadAsAnIndependentReaderReadsThem) {
  int files = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::string(KLV_SAMPLES_DIR) + "/csv-edge")) {
    if (entry.path().extension() != ".csv") continue;
    ++files;
    const std::string path = entry.path().string();
    std::filesystem::path json = entry.path();
    json.replace_extension(".json");
    const QJsonObject want =
        QJsonDocument::fromJson(QByteArray::fromStdString(ReadFileBytes(json.string()))).object();
    ASSERT_FALSE(want.isEmpty()) << json;
    EXPECT_EQ(std::string(1, DetectDelimiter(path)), want["delimiter"].toString().toStdString())
        << path;
    Lines rows;
    for (const QJsonValue& row : want["rows"].toArray()) {
      rows.emplace_back();
      for (const QJsonValue& v : row.toArray()) rows.back().push_back(v.toString().toStdString());
    }
    EXPECT_EQ(ReadCsvFile(path), rows) << path;
  }
  EXPECT_GE(files, 17);
}

TEST(Numbers, AsSpreadsheetsWriteThem) {
  struct Case {
    const char* text;
    bool decimal_comma;
    char other_point;
    std::optional<double> want;
  };
  const Case cases[] = {
      {"1,234.50", false, '.', 1234.5},
      {"$3.00", false, '.', 3},
      {" 7 ", false, '.', 7},
      {"-$1.25", false, '.', -1.25},
      {"$-1.25", false, '.', -1.25},
      {"3.00 EUR", false, '.', 3},
      {"\xE2\x82\xAC 12,50", true, '.', 12.5},
      {"12,50\xC2\xA0\xE2\x82\xAC", true, '.', 12.5},
      {"1.234,50", false, '.', 1234.5},
      {"1.234,50", true, '.', 1234.5},
      {"0,5", true, '.', 0.5},
      {"1234,5", true, '.', 1234.5},
      {"1,234", false, '.', 1234},   // groups thousands
      {"1,234", true, '.', 1.234},   // a decimal comma file
      {"1,234", false, ',', 1.234},  // our own export with a decimal comma
      {"1,5", false, '.', 1.5},      // no group of three: the point
      {"1.234.567", false, '.', 1234567},
      {"1,234,567.5", true, '.', 1234567.5},
      {"12-", false, '.', -12},
      {"1e3", false, '.', 1000},
      {"12,34.5", false, '.', std::nullopt},
      {"n/a", false, '.', std::nullopt},
      {"$", false, '.', std::nullopt},
      {"1 234", false, '.', std::nullopt},
      {"--1", false, '.', std::nullopt},
      {"", false, '.', std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ParseFormattedNumber(c.text, c.decimal_comma, c.other_point), c.want) << c.text;
}

TEST(DelimitedText, ALineBreakInQuotedTextIsWrittenAsABlank) {
  EXPECT_EQ(QuotedLine({"two\nlines", "cr\r\nlf", "\n", "a\n\nb"}),
            "\"two lines\",\"cr lf\",\"\",\"a  b\"");
  // A row of empty values stays a row in either format.
  EXPECT_EQ(CsvLine({"", "", ""}), "\"\",,");
  EXPECT_EQ(QuotedLine({""}), "\"\"");
}

// The awkward values of a real collection under a two-digit display
// format: each kind of export reads back into every row, with its dates in
// their century.
TEST(RoundTrip, LineBreaksOldDatesAndQuotesComeBackInEveryRow) {
  TempDir dir;
  Row a(20, ""), b(20, ""), c(20, "");
  a[0] = "Peru";
  a[9] = "two\nlines";
  a[10] = "3/1/1925";
  a[13] = "he said \"x\"";
  c[1] = "\"";
  c[10] = "12/31/2029";
  c[13] = "cr\r\nlf";
  Database from(dir, "COINS.DBF", {a, b, c});
  const dbf::TextFormat two_digits{"M/d/yy", '/', '.'};
  from.db.MyTable().SetTextFormat(two_digits);
  std::vector<ExportColumn> all;
  for (int i = 0; i < db::kFieldCount; ++i)
    all.push_back({i, std::string(db::FieldInfoOf(i + 1).name), ""});
  struct Kind {
    ExportKind out;
    SourceKind in;
    const char* file;
    const char* description;  // what comes back of a[9]
  };
  const Kind kinds[] = {{ExportKind::kAscii, SourceKind::kAscii, "o.txt", "two lines"},
                        {ExportKind::kCsv, SourceKind::kCsv, "o.csv", "two\nlines"},
                        {ExportKind::kDbf, SourceKind::kDbf, "O.DBF", "two\nlines"}};
  int n = 0;
  for (const Kind& k : kinds) {
    ExportRequest out;
    out.kind = k.out;
    out.path = Q(dir.File(k.file));
    ASSERT_EQ(RunExport(from.db, all, out), 3u);
    Database to(dir, "TO" + std::to_string(++n) + ".DBF", {});
    to.db.MyTable().SetTextFormat(two_digits);
    ImportRequest in;
    in.kind = k.in;
    in.path = out.path;
    in.field_map = test::Identity();
    const ImportResult r = RunImport(to.db, in);
    EXPECT_EQ(r.stop, ImportResult::Stop::kNone) << k.file << r.engine_message;
    ASSERT_EQ(r.rows, 3u) << k.file;
    EXPECT_EQ(r.empty_rows, 0u) << k.file;
    dbf::Table& t = to.db.MyTable();
    t.First();
    EXPECT_EQ(t.Fields(9).AsString(), k.description) << k.file;
    EXPECT_EQ(t.Fields(10).AsDate(), (dbf::Date{1925, 3, 1})) << k.file;
    EXPECT_EQ(t.Fields(13).AsString(), "he said \"x\"") << k.file;
    t.Next();
    EXPECT_TRUE(t.Fields(10).IsNull()) << k.file;
    t.Next();
    EXPECT_EQ(t.Fields(1).AsString(), "\"") << k.file;
    EXPECT_EQ(t.Fields(10).AsDate(), (dbf::Date{2029, 12, 31})) << k.file;
  }
}

// One import of each kind of awkward source; the rows it stores and the
// closing message's counts.
TEST(Import, MendsAreMadeAndCountedInTheClosingMessage) {
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<int> map;
    std::vector<std::string> want;  // Country|PurchasePr|Quantity|PurchDate|Descriptio per row
    const char* message;
  };
  const std::vector<int> five = {db::kCountry, db::kPurchasePr, db::kQuantity, db::kPurchDate,
                                 db::kDescriptio};
  std::string wide_header, wide_row;
  for (int i = 1; i <= 32; ++i) {
    wide_header += (i > 1 ? "," : "") + std::string("c") + std::to_string(i);
    wide_row += (i > 1 ? "," : "") + std::to_string(i);
  }
  const Case cases[] = {
      {"semicolon.csv",
       "Land;Preis;Menge;Datum;Beschreibung\r\n"
       "Deutschland;1.234,50;3;07.05.1995;z\xC5\x82oty\r\n"
       "Polska;0,5; 7 ;1.1.1925;\xCA\xA4\r\n"
       ";;;;\r\n"
       "Bosnia and Herzegovina;n/a;2;soon;x\r\n",
       five,
       {"Deutschland|1234.50|3|7/5/1995|zloty", "Polska|0.50|7|1/1/1925|dz",
        "Bosnia and Herzegovi||2||x"},
       "Import Complete.  3 record(s) were imported.  1 value(s) were cut to the size of their "
       "fields.  2 number or date value(s) could not be read and were left blank.  2 "
       "character(s) that Windows-1252 cannot hold were stored as the nearest letters.  1 "
       "record(s) of only empty values were skipped."},
      {"spreadsheet.csv",
       "item,price,qty,date\r\nA,\"1,234.50\", 7 ,1995-05-07\r\nB,$3.00,2,7.5.1995\r\n"
       "C,-$1.25,1,7-5-95\r\nD,3.00 EUR,1,\r\nE,n/a,x,5 May 1995\r\n,,,\r\n,,,\r\n",
       {db::kCountry, db::kPurchasePr, db::kQuantity, db::kPurchDate},
       {"A|1234.50|7|5/7/1995|", "B|3.00|2|7/5/1995|", "C|-1.25|1|7/5/1995|", "D|3.00|1||",
        "E||||"},
       "Import Complete.  5 record(s) were imported.  3 number or date value(s) could not be "
       "read and were left blank.  2 record(s) of only empty values were skipped."},
      {"wide.csv",
       wide_header + "\r\n" + wide_row + "\r\n",
       {db::kCountry},
       {"1||||"},
       "Import Complete.  1 record(s) were imported.  Source columns past 30 were not "
       "imported: c31, c32."},
      {"tidy.csv", "a\r\nPeru\r\n", {db::kCountry}, {"Peru||||"}, "Import Complete."},
  };
  for (const Case& c : cases) {
    TempDir dir;
    Database to(dir, "COINS.DBF", {});
    WriteFileBytes(dir.File(c.name), c.bytes);
    ImportRequest in;
    in.kind = SourceKind::kCsv;
    in.path = Q(dir.File(c.name));
    in.skip_first = true;
    in.field_map = c.map;
    const ImportResult r = RunImport(to.db, in);
    EXPECT_EQ(r.stop, ImportResult::Stop::kNone) << c.name << r.engine_message;
    std::vector<std::string> got;
    for (const Row& row : to.Rows())
      got.push_back(row[0] + "|" + row[5] + "|" + row[12] + "|" + row[10] + "|" + row[9]);
    EXPECT_EQ(got, c.want) << c.name;
    EXPECT_EQ(ImportMessage(r, SourceKind::kCsv), c.message) << c.name;
  }
}

// A number no field can hold stops the import with a plain message, never
// a value cast out of range.
TEST(Import, AQuantityTooLargeForItsFieldSaysSo) {
  for (const char* value : {"1e30", "-1e30", "123456789012"}) {
    TempDir dir;
    Database to(dir, "COINS.DBF", {});
    WriteFileBytes(dir.File("q.csv"), std::string("Quantity\r\n5\r\n") + value + "\r\n");
    ImportRequest in;
    in.kind = SourceKind::kCsv;
    in.path = Q(dir.File("q.csv"));
    in.skip_first = true;
    in.field_map = {db::kQuantity};
    const ImportResult r = RunImport(to.db, in);
    EXPECT_EQ(r.stop, ImportResult::Stop::kEngine) << value;
    EXPECT_EQ(r.rows, 1u);
    const QString message = ImportMessage(r, SourceKind::kCsv);
    EXPECT_TRUE(message.startsWith("The import stopped at line 3: The value "))
        << message.toStdString();
    EXPECT_TRUE(message.contains(" is too large for field QUANTITY")) << message.toStdString();
    EXPECT_FALSE(message.contains("922337")) << message.toStdString();
    EXPECT_TRUE(message.endsWith("  1 record(s) were imported before it."))
        << message.toStdString();
  }
}

// A dBase III file as other programs write it: fields COUNTRY and TOPIC
// (C 20), the given last-update year byte, index flag and driver byte.
std::string OtherDbf(uint8_t year, uint8_t index_flag, uint8_t driver,
                     const std::vector<std::pair<std::string, std::string>>& rows) {
  std::string h(32, '\0');
  h[0] = 0x03;
  h[1] = static_cast<char>(year);
  h[2] = 5;
  h[3] = 7;
  h[4] = static_cast<char>(rows.size());
  h[8] = 32 + 2 * 32 + 1;
  h[10] = 41;
  h[28] = static_cast<char>(index_flag);
  h[29] = static_cast<char>(driver);
  for (const char* name : {"COUNTRY", "TOPIC"}) {
    std::string d(32, '\0');
    d.replace(0, std::string(name).size(), name);
    d[11] = 'C';
    d[16] = 20;
    h += d;
  }
  h += '\x0D';
  for (const auto& [country, topic] : rows) {
    h += ' ';
    h += country + std::string(20 - country.size(), ' ');
    h += topic + std::string(20 - topic.size(), ' ');
  }
  return h + '\x1A';
}

TEST(DbfSource, OtherProgramsTablesWithoutCodePageOrIndex) {
  struct Case {
    uint8_t driver;
    std::vector<std::pair<std::string, std::string>> rows;
    const char* page;
    std::vector<std::string> want;  // Country|Topic in the coin table
    uint64_t replaced;
  };
  const Case cases[] = {
      {0,
       {{"Polska", "z\xC5\x82oty"}, {"C\xC3\xB4te d'Ivoire", "\xC3\xA9t\xC3\xA9"}},
       "utf-8",
       {"Polska|zloty", "C\xC3\xB4te d'Ivoire|\xC3\xA9t\xC3\xA9"},
       1},
      {0,
       {{"C\xF4te d'Ivoire", "\xE9t\xE9"}},
       "cp1252",
       {"C\xC3\xB4te d'Ivoire|\xC3\xA9t\xC3\xA9"},
       0},
      {0, {{"Peru", "Sol"}}, "cp1252", {"Peru|Sol"}, 0},
      {0x57, {{"C\xF4te d'Ivoire", "x"}}, "cp1252", {"C\xC3\xB4te d'Ivoire|x"}, 0},
  };
  for (const Case& c : cases) {
    for (uint8_t year : {26, 126}) {
      TempDir dir;
      WriteFileBytes(dir.File("OTHER.DBF"), OtherDbf(year, 1, c.driver, c.rows));
      Database to(dir, "COINS.DBF", {});
      ImportRequest in;
      in.kind = SourceKind::kDbf;
      in.path = Q(dir.File("OTHER.DBF"));
      in.field_map = {db::kCountry, db::kTopic};
      const ImportResult r = RunImport(to.db, in);
      ASSERT_EQ(r.stop, ImportResult::Stop::kNone) << c.page << r.engine_message;
      std::vector<std::string> got;
      for (const Row& row : to.Rows()) got.push_back(row[0] + "|" + row[8]);
      EXPECT_EQ(got, c.want) << c.page;
      EXPECT_EQ(r.replaced_characters, c.replaced);

      dbf::Table t;
      t.SetDirectory(dir.path());
      t.SetTableName("OTHER.DBF");
      t.SetReadOnly(true);
      t.Open();
      EXPECT_STREQ(t.code_page().name(), c.page);
      EXPECT_EQ(t.LastUpdate(), (dbf::Date{2026, 5, 7})) << int{year};
    }
  }
}

std::string Shell(const std::string& command) {
  std::string out;
  FILE* p = ::popen(("timeout 120 " + command + " 2>&1 </dev/null").c_str(), "r");
  if (!p) return out;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  ::pclose(p);
  return out;
}

// A table without a code page byte, its text UTF-8, stays UTF-8 when we
// write into it: python3-dbfread and pgdbf read our row as they read the
// others; and they read an export of the mended rows as we stored them.
TEST(Interop, IndependentReadersReadWhatWeWrite) {
  TempDir dir;
  WriteFileBytes(dir.File("OTHER.DBF"), OtherDbf(126, 0, 0, {{"Polska", "z\xC5\x82oty"}}));
  {
    dbf::Table t;
    t.SetDirectory(dir.path());
    t.SetTableName("OTHER.DBF");
    t.Open();
    t.Append();
    t.Fields(0).SetAsString(
        "\xC4\x8C"
        "esko");
    // 21 bytes: the last character does not fit whole and is left out.
    t.Fields(1).SetAsString(
        "koruna \xC4\x8D"
        "esk\xC3\xA1 xxxx\xC4\x8D");
    t.Post();
  }
  const std::string script = dir.File("read.py");
  WriteFileBytes(script,
                 "import sys, dbfread\n"
                 "for r in dbfread.DBF(sys.argv[1], encoding=sys.argv[2]):\n"
                 "  print(r['COUNTRY'] + '|' + r['TOPIC'])\n");
  EXPECT_EQ(Shell("env PYTHONIOENCODING=utf-8 /usr/bin/python3 " + script + " " +
                  dir.File("OTHER.DBF") + " utf-8"),
            "Polska|z\xC5\x82oty\n\xC4\x8C"
            "esko|koruna \xC4\x8D"
            "esk\xC3\xA1 xxxx\n");
  const std::string pg = Shell("pgdbf -s utf-8 " + dir.File("OTHER.DBF"));
  EXPECT_NE(pg.find("\xC4\x8C"
                    "esko\tkoruna \xC4\x8D"
                    "esk\xC3\xA1 xxxx\n"),
            std::string::npos)
      << pg;

  // The mended rows of an import, exported as a dBase table (Windows-1252).
  Database to(dir, "COINS.DBF", {});
  WriteFileBytes(dir.File("in.csv"), "Land;Name\r\nRzeczpospolita Polska Ludowa;z\xC5\x82oty\r\n");
  ImportRequest in;
  in.kind = SourceKind::kCsv;
  in.path = Q(dir.File("in.csv"));
  in.skip_first = true;
  in.field_map = {db::kCountry, db::kTopic};
  ASSERT_EQ(RunImport(to.db, in).rows, 1u);
  ExportRequest out;
  out.kind = ExportKind::kDbf;
  out.path = Q(dir.File("OUT.DBF"));
  ASSERT_EQ(RunExport(to.db, {{0, "Country", ""}, {8, "Topic", ""}}, out), 1u);
  EXPECT_EQ(Shell("env PYTHONIOENCODING=utf-8 /usr/bin/python3 " + script + " " +
                  dir.File("OUT.DBF") + " cp1252"),
            "Rzeczpospolita Polsk|zloty\n");
  EXPECT_NE(Shell("pgdbf -s cp1252 " + dir.File("OUT.DBF")).find("Rzeczpospolita Polsk\tzloty"),
            std::string::npos);
}

}  // namespace
}  // namespace klv::transfer
