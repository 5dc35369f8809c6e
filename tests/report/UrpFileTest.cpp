// The report definitions file byte for byte: the five built-ins with every
// field at its offset, the round trip of every field, damaged files, writes
// that fail part way, and the merge of the older file.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <QByteArray>
#include <QFile>

#include "base/Error.h"
#include "base/FaultEnv.h"
#include "report/UrpFile.h"
#include "support/TempDir.h"

namespace klv::report {
namespace {

using test::TempDir;

// The field names in field-number order, as the file stores them.
const char* const kFieldNames[21] = {
    "",           "Country",    "FaceValue", "Year",       "Condition", "MintMark",   "PurchasePr",
    "MarketValu", "PremiumVal", "Topic",     "Descriptio", "PurchDate", "Miscellane", "Quantity",
    "Comment",    "YearApprox", "Wanted",    "UserDef1",   "UserDef2",  "UserDef3",   "UserDef4"};

int Int16At(const QByteArray& b, int off) {
  return static_cast<int16_t>(static_cast<uint8_t>(b[off]) | static_cast<uint8_t>(b[off + 1]) << 8);
}
int32_t Int32At(const QByteArray& b, int off) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(b[off + i]);
  return static_cast<int32_t>(v);
}
double DoubleAt(const QByteArray& b, int off) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(b[off + i]);
  return std::bit_cast<double>(v);
}
// A length-prefixed string as raw bytes.
QByteArray StringAt(const QByteArray& b, int off) {
  return b.mid(off + 1, static_cast<uint8_t>(b[off]));
}

// One expected item: 'L' label, 'F' filler, 'D' record field, 'T' totals field.
struct Item {
  char kind;
  const char* text;  // label text, or field name
  int width;
  int field;  // field number (D, T)
};
Item L(const char* text, int w) {
  return {'L', text, w, 0};
}
Item F(int w) {
  return {'F', "", w, 0};
}
Item D(int field, int w) {
  return {'D', kFieldNames[field], w, field};
}
Item T(const char* name, int field, int w) {
  return {'T', name, w, field};
}

struct BuiltIn {
  const char* name;
  int width, size;
  bool column_headers, lines;
  int record_lines;
  std::vector<std::vector<Item>> lines_items;
  std::vector<Item> totals;
};

void ExpectLine(const QByteArray& b, int off, const std::vector<Item>& items, bool ends) {
  for (size_t i = 0; i < items.size(); ++i) {
    SCOPED_TRACE("item " + std::to_string(i + 1));
    const int at = off + static_cast<int>(i) * 75;
    const Item& it = items[i];
    const char* name = it.kind == 'L' ? "<LABEL>" : it.kind == 'F' ? "<FILLER>" : it.text;
    EXPECT_EQ(StringAt(b, at), QByteArray(name));
    EXPECT_EQ(static_cast<uint8_t>(b[at + 31]), it.field);
    EXPECT_EQ(Int16At(b, at + 32), it.width);
    EXPECT_EQ(StringAt(b, at + 34), QByteArray(it.kind == 'L' ? it.text : ""));
  }
  if (ends && items.size() < 20) {
    EXPECT_LE(Int16At(b, off + static_cast<int>(items.size()) * 75 + 32), 0);
  }
}

TEST(BuiltInDefinitions, EveryFieldAtItsOffset) {
  const std::vector<Item> standard_totals = {
      L("Quantity:", 15),       F(1), T("Quantity", 4, 12),
      L("Purchase Price:", 18), F(1), T("Purchase Price", 2, 12),
      L("Market Value:", 16),   F(1), T("Market Value", 1, 12),
      L("Premium Value:", 17),  F(1), T("Premium Value", 3, 12)};
  const std::vector<Item> values_line = {L("Purchase Price:", 15), F(1), D(6, 12),
                                         L("Market Value:", 15),   F(1), D(7, 12),
                                         L("Topic:", 8),           F(1), D(9, 20)};
  const std::vector<BuiltIn> expected = {
      {"Simple List Report",
       90,
       10,
       true,
       true,
       1,
       {{D(1, 20), D(3, 7), D(5, 2), D(15, 7), D(2, 20), D(4, 29), D(13, 4)}},
       {L("Quantity:", 10), F(1), T("Quantity", 4, 6), L("Purch Price:", 15), F(1),
        T("Purchase Price", 2, 8), L("Market Val:", 14), F(1), T("Market Value", 1, 8),
        L("Premium Val:", 15), F(1), T("Premium Value", 3, 8)}},
      {"Simple List Plus Values Report",
       120,
       10,
       true,
       true,
       1,
       {{D(1, 20), D(3, 7), D(5, 3), D(15, 7), D(2, 22), D(4, 30), D(6, 14), D(7, 14), D(13, 4)}},
       standard_totals},
      {"Three Line Report",
       120,
       8,
       false,
       true,
       4,
       {{L("Country:", 8), F(1), D(1, 20), L("Year:", 7), F(1), D(3, 7), D(5, 4), F(1),
         L("Approx Year:", 12), D(15, 5), L("Quantity:", 11), F(1), D(13, 7)},
        values_line,
        {L("Purchase Date:", 14), F(1), D(11, 11), L("Description:", 14), F(1), D(10, 40),
         L("Condition:", 12), F(1), D(4, 30)},
        {F(150)}},
       standard_totals},
      {"Complete Report",
       120,
       8,
       false,
       true,
       8,
       {{L("Country:", 8), F(1), D(1, 20), L("Year:", 7), F(1), D(3, 4), D(5, 4), F(1), D(15, 5),
         L("Condition:", 12), F(1), D(4, 30), L("Quantity:", 11), F(1), D(13, 7)},
        values_line,
        {L("Purchase Date:", 14), F(1), D(11, 11), L("Description:", 14), F(1), D(10, 40),
         L("Wanted:", 7), F(1), D(16, 4)},
        {L("Comment:", 8), F(1), D(14, 80)},
        {L("Misc:", 5), F(1), D(12, 110)},
        {L("User Def #1:", 12), F(1), D(17, 40), L("User Def #2:", 12), F(1), D(18, 40)},
        {L("User Def #3:", 12), F(1), D(19, 40), L("User Def #4:", 12), F(1), D(20, 40)},
        {F(150)}},
       standard_totals},
      {"Statistic/Summary Report", 120, 8, false, false, 0, {}, standard_totals},
  };

  TempDir dir;
  UrpFile file(QString::fromStdString(dir.File("KLVCOIN.URP")));
  ASSERT_TRUE(file.CreateIfMissing());
  EXPECT_FALSE(file.CreateIfMissing());
  QFile raw(file.path());
  ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
  const QByteArray all = raw.readAll();
  ASSERT_EQ(all.size(), 5 * 20622);

  for (size_t r = 0; r < expected.size(); ++r) {
    const BuiltIn& e = expected[r];
    SCOPED_TRACE(e.name);
    const QByteArray b = all.mid(static_cast<qsizetype>(r) * 20622, 20622);
    EXPECT_EQ(StringAt(b, 0), QByteArray(e.name));
    EXPECT_EQ(Int16At(b, 31), e.width);
    for (int f = 0; f < 5; ++f) {
      const int at = 33 + f * 61;
      EXPECT_EQ(StringAt(b, at), QByteArray("Arial"));
      EXPECT_EQ(Int16At(b, at + 51), e.size);
      EXPECT_EQ(b.mid(at + 53, 4), QByteArray(4, '\0'));
      EXPECT_EQ(Int32At(b, at + 57), 0);
    }
    EXPECT_EQ(b[338], e.column_headers ? 1 : 0);
    EXPECT_EQ(b.mid(339, 4), QByteArray("\x01\x00\x01\x01", 4));  // page numbers .. use totals
    EXPECT_EQ(Int16At(b, 343), e.record_lines);
    ExpectLine(b, 345, e.totals, true);
    for (int m = 0; m < 4; ++m) EXPECT_EQ(DoubleAt(b, 1845 + 8 * m), 0.5);
    EXPECT_EQ(b[1877], e.lines ? 1 : 0);
    EXPECT_EQ(b[1878], e.lines ? 1 : 0);
    for (int t = 0; t < 3; ++t) EXPECT_EQ(b[1879 + 81 * t], 0);
    for (size_t n = 0; n < e.lines_items.size(); ++n) {
      SCOPED_TRACE("line " + std::to_string(n + 1));
      ExpectLine(b, 622 + static_cast<int>(n + 1) * 1500, e.lines_items[n], true);
    }
    EXPECT_EQ(b[20122], 1);
    EXPECT_EQ(b[20123], 0);
    // The Complete Report prints the obverse pictures (the first reserved
    // byte); the rest of the reserved space stays zero.
    EXPECT_EQ(b[20124], std::string(e.name) == "Complete Report" ? 1 : 0);
    EXPECT_EQ(b.mid(20125), QByteArray(497, '\0'));
    EXPECT_EQ(EncodeReportDef(DecodeReportDef(b)), b);
  }
}

TEST(DefinitionRecord, EveryFieldRoundTrips) {
  ReportDef def = NewReportDef();
  def.name = QStringLiteral("Münzen € — a name much longer than thirty characters");
  def.name.replace(QStringLiteral("—"), QStringLiteral("-"));
  def.width = 150;
  def.titles_font = {QStringLiteral("DejaVu Serif"), 14, true, true, false, true, 0x0000FF};
  def.spare_font.color = 0x123456;
  def.footnote_font.underline = true;
  def.column_headers = false;
  def.page_numbers = false;
  def.landscape = true;
  def.date_on_pages = false;
  def.use_totals = false;
  def.lines = 12;
  def.top_margin = 0.25;
  def.right_margin = 1.75;
  def.vertical_lines = false;
  def.titles = {QStringLiteral("Title one"), QString(), QStringLiteral("Troisième")};
  def.record_lines[11][19] = ReportItem{QStringLiteral("UserDef4"), 20, 7, QString()};
  def.record_lines[5][3] = ReportItem{QStringLiteral("<LABEL>"), 0, 9, QStringLiteral("Année:")};
  def.totals[2] = ReportItem{QStringLiteral("Quantity"), 4, 11, QString()};
  def.group_level2 = true;

  const QByteArray b = EncodeReportDef(def);
  ASSERT_EQ(b.size(), 20622);
  EXPECT_EQ(StringAt(b, 0), QByteArray("M\xFCnzen \x80 - a name much longer "));
  EXPECT_EQ(StringAt(b, 1879 + 2 * 81), QByteArray("Troisi\xE8me"));
  EXPECT_EQ(Int32At(b, 216 + 57), 0x123456);
  EXPECT_EQ(DoubleAt(b, 1869), 1.75);
  EXPECT_EQ(b[20123], 1);
  EXPECT_EQ(Int16At(b, 2122 + 11 * 1500 + 19 * 75 + 32), 7);

  ReportDef expected = def;
  expected.name = expected.name.left(30);
  EXPECT_EQ(DecodeReportDef(b), expected);

  def.titles[1] = QStringLiteral("Coins of 日本");
  try {
    EncodeReportDef(def);
    ADD_FAILURE() << "a text outside Windows-1252 was written";
  } catch (const base::Error& e) {
    EXPECT_EQ(e.code(), base::ErrorCode::kCodePage);
  }
  EXPECT_EQ(UnstorableText(def),
            QStringLiteral("The title line 2 contains the character \"日\", which cannot be "
                           "stored in the report definitions file.  Please correct."));
}

TEST(DefinitionRecord, ObversePicturesTakeTheFirstReservedByteOnly) {
  ReportDef def = BuiltInReportDefs()[1];
  ASSERT_FALSE(def.print_obverse);
  const QByteArray off = EncodeReportDef(def);
  def.print_obverse = true;
  const QByteArray on = EncodeReportDef(def);
  std::vector<int> differ;
  for (int i = 0; i < on.size(); ++i)
    if (on[i] != off[i]) differ.push_back(i);
  EXPECT_EQ(differ, std::vector<int>{20124});
  EXPECT_EQ(on[20124], 1);
  EXPECT_EQ(DecodeReportDef(on), def);
  EXPECT_FALSE(LooksDamaged(on));
  // A record as older copies write it (the byte zero) reads off; a byte no
  // writer writes is damage.
  EXPECT_FALSE(DecodeReportDef(off).print_obverse);
  QByteArray other = on;
  other[20124] = 2;
  EXPECT_TRUE(LooksDamaged(other));
  EXPECT_FALSE(ConvertOldReportDef(QByteArray(kOldUrpRecordSize, '\0')).print_obverse);
}

QByteArray ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return QByteArray::fromStdString(std::string(std::istreambuf_iterator<char>(in), {}));
}
void WriteAll(const std::string& path, const QByteArray& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.constData(), bytes.size());
}

TEST(DefinitionsFile, AppendWriteDeleteKeepTheOtherRecords) {
  TempDir dir;
  UrpFile file(QString::fromStdString(dir.File("KLVCOIN.URP")));
  EXPECT_TRUE(file.Load().defs.empty());  // missing: no definitions, no problem
  ReportDef a = NewReportDef();
  a.name = QStringLiteral("A");
  ReportDef b = a;
  b.name = QStringLiteral("B");
  file.Append(a);
  file.Append(b);
  file.Append(a);
  // Bytes past a string's length are kept by a write of another record.
  QByteArray bytes = ReadAll(dir.File("KLVCOIN.URP"));
  bytes[20622 + 20] = 'x';
  WriteAll(dir.File("KLVCOIN.URP"), bytes);

  ReportDef c = a;
  c.name = QStringLiteral("C");
  file.Write(2, c);
  EXPECT_EQ(file.Names(), (QStringList{"A", "B", "C"}));
  EXPECT_EQ(ReadAll(dir.File("KLVCOIN.URP")).mid(20622, 20622), bytes.mid(20622, 20622));
  file.Delete(0);
  EXPECT_EQ(file.Names(), (QStringList{"B", "C"}));
  EXPECT_EQ(file.Read(1), c);
  file.Delete(1);
  file.Delete(0);
  EXPECT_EQ(std::filesystem::file_size(dir.File("KLVCOIN.URP")), 0u);
  EXPECT_TRUE(file.Names().isEmpty());
  EXPECT_THROW(file.Delete(0), base::Error);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(DefinitionsFile, DamagedFileKeepsEveryWholeRecord) {
  TempDir dir;
  const std::string path = dir.File("KLVCOIN.URP");
  UrpFile file(QString::fromStdString(path));
  ASSERT_TRUE(file.CreateIfMissing());
  QByteArray bytes = ReadAll(path);
  bytes[20622 + 31] = 77;      // width of record 2
  bytes[3 * 20622 + 340] = 5;  // a flag of record 4
  bytes.append(QByteArray(1234, '\xAB'));
  WriteAll(path, bytes);

  const UrpFile::Contents contents = file.Load();
  ASSERT_EQ(contents.defs.size(), 5u);
  EXPECT_EQ(contents.defs[4].name, QStringLiteral("Statistic/Summary Report"));
  EXPECT_EQ(contents.problem,
            QString::fromStdString(
                "The report definitions file \"" + path +
                "\" holds damaged report definitions (number 2, 4).  Check them before printing "
                "with them.  The report definitions file \"" +
                path +
                "\" ends in 1234 bytes that are not a whole report definition.  They are left "
                "out; the next change to the file keeps the file as it is now beside it first."));
  // Lines out of range never reach a reader.
  bytes[343] = 99;
  WriteAll(path, bytes);
  EXPECT_EQ(file.Read(0).lines, 12);

  file.Append(NewReportDef());
  EXPECT_EQ(std::filesystem::file_size(path), 6u * 20622);
  EXPECT_EQ(ReadAll(path).left(5 * 20622), bytes.left(5 * 20622));
  // The file as it was, piece at the end included, is kept beside it.
  const QString kept = file.KeptAside();
  ASSERT_TRUE(kept.startsWith(QString::fromStdString(path) + QStringLiteral(".damaged-")))
      << kept.toStdString();
  EXPECT_EQ(ReadAll(kept.toStdString()), bytes);
  // Its damaged records stay as they were, nothing more is lost: the next
  // change keeps no second copy.
  file.Delete(5);
  EXPECT_TRUE(file.KeptAside().isEmpty());
  EXPECT_EQ(std::filesystem::file_size(path), 5u * 20622);
  // A whole file is rewritten without a copy.
  TempDir clean;
  UrpFile whole(QString::fromStdString(clean.File("KLVCOIN.URP")));
  whole.CreateIfMissing();
  whole.Append(NewReportDef());
  EXPECT_TRUE(whole.KeptAside().isEmpty());
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(clean.path()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(DefinitionsFile, FailedWriteLeavesTheFileAsItWas) {
  TempDir dir;
  const std::string path = dir.File("KLVCOIN.URP");
  ASSERT_TRUE(UrpFile(QString::fromStdString(path)).CreateIfMissing());
  const QByteArray before = ReadAll(path);
  base::FaultEnv env(base::Env::Default());
  UrpFile file(QString::fromStdString(path), &env);
  int faults = 0;
  for (int n = 1;; ++n) {
    env.FailAt(n);
    try {
      file.Delete(2);
      env.FailAt(0);
      break;
    } catch (const base::Error& e) {
      ++faults;
      EXPECT_TRUE(QString::fromLocal8Bit(e.what()).startsWith(
          QString::fromStdString("Input/output error writing \"" + path + "\":  ")))
          << e.what();
      EXPECT_EQ(ReadAll(path), before) << "fault " << n;
    }
  }
  EXPECT_GE(faults, 3);  // create, write, sync, rename at least
  EXPECT_EQ(std::filesystem::file_size(path), 4u * 20622);
}

// One record of the older file, byte by byte.
QByteArray OldRecord(const char* name, int width, int lines) {
  QByteArray b(19831, '\0');
  auto put_string = [&b](int off, const QByteArray& s) {
    b[off] = static_cast<char>(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) b[off + 1 + static_cast<int>(i)] = s[i];
  };
  auto put_item = [&](int off, const char* item, int w, const char* label) {
    put_string(off, item);
    b[off + 31] = 0;
    b[off + 32] = static_cast<char>(w & 0xFF);
    b[off + 33] = static_cast<char>(w >> 8);
    put_string(off + 34, label);
  };
  put_string(0, name);
  b[31] = static_cast<char>(width);
  b[32] = 0;
  b[83] = 1;  // column headers
  b[84] = 0;  // page numbers
  b[85] = 1;  // use totals
  b[86] = static_cast<char>(lines);
  put_item(88, "Market Value", 20, "");
  put_item(88 + 75, "<FILLER>", 0, "");
  put_string(1588, "Old title");
  put_string(1750, "Third title \xE9");
  put_item(1831, "<LABEL>", 8, "Country:");
  put_item(1831 + 75, "Country", 20, "");
  put_item(1831 + 150, "Descriptio", 62, "");
  put_item(1831 + 1500, "Wanted", 3, "");
  put_item(1831 + 1575, "<FILLER>", 87, "");
  return b;
}

TEST(OlderFile, MergedAfterTheBuiltInsAndDeleted) {
  TempDir dir;
  const std::string old_path = dir.File("RADER.URP");
  QByteArray old = OldRecord("Simple List Report", 90, 1);
  old += OldRecord("My Coins", 90, 2);
  old += OldRecord("Wide One", 150, 1);
  old += QByteArray(500, 'z');  // a piece of a record
  WriteAll(old_path, old);

  UrpFile file(QString::fromStdString(dir.File("KLVCOIN.URP")));
  ASSERT_TRUE(file.CreateIfMissing());
  EXPECT_EQ(file.MergeOldFile(QString::fromStdString(old_path)), 2);
  EXPECT_FALSE(std::filesystem::exists(old_path));
  EXPECT_EQ(file.MergeOldFile(QString::fromStdString(old_path)), 0);

  const UrpFile::Contents contents = file.Load();
  EXPECT_EQ(contents.problem, QString());
  ASSERT_EQ(contents.defs.size(), 7u);
  EXPECT_EQ(contents.defs[0].name, QStringLiteral("Simple List Report"));
  const ReportDef& mine = contents.defs[5];
  EXPECT_EQ(mine.name, QStringLiteral("My Coins"));
  EXPECT_EQ(mine.width, 90);
  EXPECT_TRUE(mine.column_headers);
  EXPECT_FALSE(mine.page_numbers);
  EXPECT_TRUE(mine.use_totals);
  EXPECT_EQ(mine.lines, 2);
  EXPECT_FALSE(mine.landscape);
  EXPECT_TRUE(mine.date_on_pages);
  EXPECT_FALSE(mine.vertical_lines);
  EXPECT_FALSE(mine.horizontal_lines);
  EXPECT_TRUE(mine.group_level1);
  EXPECT_FALSE(mine.group_level2);
  EXPECT_EQ(mine.left_margin, 0.5);
  EXPECT_EQ(mine.titles[0], QStringLiteral("Old title"));
  EXPECT_EQ(mine.titles[2], QStringLiteral("Third title é"));
  const ReportFont bold{QStringLiteral("Courier New"), 10, true, false, false, false, 0};
  ReportFont regular = bold;
  regular.bold = false;
  EXPECT_EQ(mine.titles_font, bold);
  EXPECT_EQ(mine.header_font, bold);
  EXPECT_EQ(mine.body_font, regular);
  EXPECT_EQ(mine.spare_font, regular);
  EXPECT_EQ(mine.footnote_font, bold);
  EXPECT_EQ(contents.defs[6].body_font.size, 8);
  EXPECT_EQ(contents.defs[6].titles_font.size, 8);
  EXPECT_EQ(mine.record_lines[0][0], (ReportItem{"<LABEL>", 0, 8, "Country:"}));
  EXPECT_EQ(mine.record_lines[0][1], (ReportItem{"Country", 1, 20, ""}));
  EXPECT_EQ(mine.record_lines[0][2], (ReportItem{"Descriptio", 10, 62, ""}));
  EXPECT_EQ(mine.record_lines[1][0], (ReportItem{"Wanted", 16, 3, ""}));
  EXPECT_EQ(mine.record_lines[1][1], (ReportItem{"<FILLER>", 0, 87, ""}));
  EXPECT_EQ(mine.totals[0], (ReportItem{"Market Value", 1, 20, ""}));
}

TEST(OlderFile, KeptWhenTheMergeCannotBeWritten) {
  TempDir dir;
  const std::string old_path = dir.File("RADER.URP");
  WriteAll(old_path, OldRecord("My Coins", 120, 1));
  const std::string path = dir.File("KLVCOIN.URP");
  ASSERT_TRUE(UrpFile(QString::fromStdString(path)).CreateIfMissing());
  base::FaultEnv env(base::Env::Default());
  UrpFile file(QString::fromStdString(path), &env);
  env.FailAt(2);
  EXPECT_THROW(file.MergeOldFile(QString::fromStdString(old_path)), base::Error);
  env.FailAt(0);
  EXPECT_TRUE(std::filesystem::exists(old_path));
  EXPECT_EQ(file.Names().size(), 5);
  EXPECT_EQ(file.MergeOldFile(QString::fromStdString(old_path)), 1);
  EXPECT_EQ(file.Names().size(), 6);
}

}  // namespace
}  // namespace klv::report

namespace klv::report {
namespace {

TEST(StartUp, CreatesTheFileThenMergesAnOlderFileOfAnyCase) {
  TempDir dir;
  const QString home = QString::fromStdString(dir.path());
  WriteAll(dir.File("rader.urp"), OldRecord("From Before", 120, 1));
  PrepareDefinitionsFile(home);
  EXPECT_FALSE(std::filesystem::exists(dir.File("rader.urp")));
  EXPECT_EQ(DefinitionsFilePath(home), home + QStringLiteral("/KLVCOIN.URP"));
  const QStringList names = UrpFile(DefinitionsFilePath(home)).Names();
  ASSERT_EQ(names.size(), 6);
  EXPECT_EQ(names.last(), QStringLiteral("From Before"));
  PrepareDefinitionsFile(home);  // nothing more to do
  EXPECT_EQ(UrpFile(DefinitionsFilePath(home)).Names(), names);
}

}  // namespace
}  // namespace klv::report
