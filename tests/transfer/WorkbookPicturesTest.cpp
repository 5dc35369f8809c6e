// The coins' obverse pictures in an exported workbook: one small picture in
// the row of its coin, in a column of its own at the right, the export of a
// search included; tables without obverse pictures, and the other kinds of
// file, export as they did without them.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QImage>

#include "pictures/PictureStore.h"
#include "support/QtText.h"
#include "support/TempDir.h"
#include "transfer/TransferLogic.h"
#include "transfer/TransferRows.h"

namespace klv::transfer {
namespace {

using klv::test::Q;
using klv::test::ReadFileBytes;
using test::Row;

// What a workbook shows, read from its parts with Python's zipfile: the
// pictures it holds, the caption of column C and, by country, each
// picture's column, size in pixels, whether it lies within one cell and its
// row's height; then how many rows have a height of their own, and the
// sheet's height for the others when it is not the usual one.
constexpr char kReader[] = R"py(import re, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
names = z.namelist()
print(len([n for n in names if n.startswith("xl/media/")]), "pictures")
part = lambda n: z.read(n).decode() if n in names else ""
shared = re.findall(r"<si><t[^>]*>([^<]*)</t>", part("xl/sharedStrings.xml"))
sheet = part("xl/worksheets/sheet1.xml")
cells = {}
for ref, kind, at, text in re.findall(
    r'<c r="([A-Z]+[0-9]+)"[^>]*t="(s|inlineStr)"[^>]*>(?:<v>([0-9]+)</v>|<is><t>([^<]*)</t>)', sheet):
  cells[ref] = shared[int(at)] if kind == "s" else text
heights = dict(re.findall(r'<row r="([0-9]+)"[^>]* ht="([0-9.]+)"', sheet))
print("C1:", cells.get("C1"))
lines = []
for a in part("xl/drawings/drawing1.xml").split("<xdr:twoCellAnchor")[1:]:
  (c1, r1), (c2, r2) = re.findall(r"<xdr:col>(\d+)</xdr:col>.*?<xdr:row>(\d+)</xdr:row>", a)
  cx, cy = re.search(r'<a:ext cx="(\d+)" cy="(\d+)"', a).groups()
  row = str(int(r1) + 1)
  lines.append("%s: column %s, %dx%d%s, row %s high" % (cells.get("A" + row), c1,
      int(cx) // 9525, int(cy) // 9525, "" if (c1, r1) == (c2, r2) else " across cells",
      heights.get(row)))
print("\n".join(sorted(lines)))
print(len(heights), "rows of their own height")
default = re.search(r'<sheetFormatPr[^>]*defaultRowHeight="([0-9.]+)"', sheet)
if default and default.group(1) != "15":
  print("every other row", default.group(1), "high")
)py";

class WorkbookPictures : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<Row> rows;
    for (const char* country : {"Denmark", "Peru", "Chile", "Austria", "Brazil"}) {
      rows.push_back(Row(20, ""));
      rows.back()[0] = country;
    }
    coins_ = std::make_unique<test::Database>(dir_, "COINS.DBF", rows);
    klv::test::WriteFileBytes(dir_.File("read.py"), kReader);
  }

  // Attaches a picture of one colour and size, as the program's user does.
  void Attach(uint32_t recno, pictures::Side side, int width, int height, QRgb colour,
              const char* format) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    const std::string file = dir_.File("p" + std::to_string(recno) + "." + format);
    ASSERT_TRUE(image.save(Q(file), format));
    pictures::PictureStore(dir_.File("COINS.DBF")).Attach(recno, side, file);
  }

  std::string Export(ExportKind kind, const std::string& name, bool search = false) {
    ExportRequest r;
    r.kind = kind;
    r.header = true;
    r.search_set = search;
    r.path = Q(dir_.File(name));
    RunExport(coins_->db, {{0, "Country", "Country"}, {2, "Year", "Year"}}, r);
    return dir_.File(name);
  }

  std::string Read(const std::string& book) {
    std::string out;
    FILE* p =
        ::popen(("/usr/bin/python3 " + dir_.File("read.py") + " " + book + " 2>&1").c_str(), "r");
    char buf[4096];
    for (size_t n; p && (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    if (p) ::pclose(p);
    return out;
  }

  klv::test::TempDir dir_;
  std::unique_ptr<test::Database> coins_;
};

TEST_F(WorkbookPictures, EachCoinsPictureInItsRow) {
  const std::string none = "0 pictures\nC1: None\n\n0 rows of their own height\n";
  EXPECT_EQ(Read(Export(ExportKind::kXlsx, "plain.xlsx")), none);
  const std::string csv = ReadFileBytes(Export(ExportKind::kCsv, "before.csv"));
  const std::string text = ReadFileBytes(Export(ExportKind::kAscii, "before.txt"));
  // A reverse picture alone makes no column.
  Attach(1, pictures::Side::kReverse, 90, 90, qRgb(200, 0, 0), "png");
  EXPECT_EQ(Read(Export(ExportKind::kXlsx, "reverse.xlsx")), none);
  // Each obverse about 64 pixels on its long side, in proportion.
  Attach(2, pictures::Side::kObverse, 200, 100, qRgb(0, 200, 0), "png");
  Attach(4, pictures::Side::kObverse, 60, 120, qRgb(0, 0, 200), "jpg");
  Attach(5, pictures::Side::kObverse, 30, 20, qRgb(200, 200, 0), "png");
  EXPECT_EQ(Read(Export(ExportKind::kXlsx, "all.xlsx")),
            "3 pictures\nC1: Obverse\n"
            "Austria: column 2, 32x64, row 54 high\n"
            "Brazil: column 2, 64x42, row 54 high\n"
            "Peru: column 2, 64x32, row 54 high\n"
            "3 rows of their own height\n");
  // Of the found coins only, each with its own picture.
  struct Found : app::RowFilter {
    bool Accept(dbf::Table& t) override {
      const std::string c = t.Fields(0).AsString();
      return c == "Chile" || c == "Brazil" || c == "Austria";
    }
  } found;
  coins_->db.SetRowFilter(&found);
  coins_->db.SetSearchMode(true);
  coins_->db.ReopenMyTable();
  EXPECT_EQ(Read(Export(ExportKind::kXlsx, "found.xlsx", true)),
            "2 pictures\nC1: Obverse\n"
            "Austria: column 2, 32x64, row 54 high\n"
            "Brazil: column 2, 64x42, row 54 high\n"
            "2 rows of their own height\n");
  coins_->db.SetSearchMode(false);
  coins_->db.ReopenMyTable();
  // The pictures' copies made for the workbooks are gone with them.
  for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
    EXPECT_EQ(e.path().filename().string().find("pictures"), std::string::npos) << e.path();
  EXPECT_EQ(ReadFileBytes(Export(ExportKind::kCsv, "after.csv")), csv);
  EXPECT_EQ(ReadFileBytes(Export(ExportKind::kAscii, "after.txt")), text);
}

TEST_F(WorkbookPictures, ALargeSheetIsWrittenRowByRowWithEveryRowHighEnough) {
  Attach(2, pictures::Side::kObverse, 200, 100, qRgb(0, 200, 0), "png");
  Attach(4, pictures::Side::kObverse, 60, 120, qRgb(0, 0, 200), "jpg");
  // The header and five rows are more than this sheet holds in memory:
  // every row is as high as a picture, so each picture still lies within
  // its own cell.
  ExportOptions options;
  options.kind = ExportKind::kXlsx;
  options.header = true;
  options.obverse = WorkbookPicture;
  options.picture_rows_held = 4;
  const std::string book = dir_.File("large.xlsx");
  ExportRows(base::Env::Default(), coins_->db.MyTable(),
             {{0, "Country", "Country"}, {2, "Year", "Year"}}, book, options);
  EXPECT_EQ(Read(book),
            "2 pictures\nC1: Obverse\n"
            "Austria: column 2, 32x64, row 54 high\n"
            "Peru: column 2, 64x32, row 54 high\n"
            "6 rows of their own height\nevery other row 54 high\n");
}

}  // namespace
}  // namespace klv::transfer
