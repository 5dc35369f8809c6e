// The coins' obverse pictures in an exported workbook: one small picture in
// the row of its coin, in a column of its own at the right, the export of a
// search included; tables without obverse pictures, and the other kinds of
// file, export as they did without them.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QColor>
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
using klv::test::TempDir;
using test::Database;
using test::Row;

std::string Run(const std::string& command) {
  std::string out;
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  ::pclose(p);
  return out;
}

// The names of a zip file's members, one a line, or one member's bytes.
std::string Zip(const std::string& path, const std::string& member = "") {
  const std::string read = member.empty() ? "print(\"\\n\".join(sorted(z.namelist())))"
                                          : "sys.stdout.buffer.write(z.read(\"" + member + "\"))";
  return Run("/usr/bin/python3 -c 'import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); " + read +
             "' '" + path + "'");
}

// The texts of the workbook's cells by their names ("A1"), shared or not.
std::map<std::string, std::string> Texts(const std::string& book) {
  std::vector<std::string> shared;
  const std::string strings = Zip(book, "xl/sharedStrings.xml");
  const std::regex si("<si><t[^>]*>([^<]*)</t></si>");
  for (std::sregex_iterator it(strings.begin(), strings.end(), si), end; it != end; ++it)
    shared.push_back((*it)[1]);
  std::map<std::string, std::string> texts;
  const std::string sheet = Zip(book, "xl/worksheets/sheet1.xml");
  const std::regex cell(
      "<c r=\"([A-Z]+[0-9]+)\"[^>]*t=\"(s|inlineStr)\"[^>]*>(<v>([0-9]+)</v>|<is><t>([^<]*)</t>)");
  for (std::sregex_iterator it(sheet.begin(), sheet.end(), cell), end; it != end; ++it)
    texts[(*it)[1]] = (*it)[2] == "s" ? shared.at(std::stoul((*it)[4])) : std::string((*it)[5]);
  return texts;
}

// Where the sheet shows each country: its row, counted from 0.
std::map<std::string, int> RowsOfCountries(const std::string& book) {
  std::map<std::string, int> rows;
  for (const auto& [name, text] : Texts(book))
    if (name[0] == 'A') rows[text] = std::stoi(name.substr(1)) - 1;
  return rows;
}

// The height the sheet gives each row that has one, by row from 0.
std::map<int, std::string> RowHeights(const std::string& sheet) {
  std::map<int, std::string> heights;
  const std::regex row("<row r=\"([0-9]+)\"[^>]* ht=\"([0-9.]+)\"");
  for (std::sregex_iterator it(sheet.begin(), sheet.end(), row), end; it != end; ++it)
    heights[std::stoi((*it)[1]) - 1] = (*it)[2];
  return heights;
}

// Each picture of the drawing: "column,row widthxheight" in pixels, by its
// top-left cell.
std::vector<std::string> Anchors(const std::string& drawing) {
  std::vector<std::string> out;
  const std::regex anchor(
      "<xdr:from><xdr:col>([0-9]+)</xdr:col><xdr:colOff>[0-9]+</xdr:colOff><xdr:row>([0-9]+)"
      "</xdr:row>.*<xdr:to><xdr:col>([0-9]+)</xdr:col><xdr:colOff>[0-9]+</xdr:colOff>"
      "<xdr:row>([0-9]+)</xdr:row>.*<a:ext cx=\"([0-9]+)\" cy=\"([0-9]+)\"");
  const std::string kStart = "<xdr:twoCellAnchor";
  for (size_t at = drawing.find(kStart); at != std::string::npos;) {
    const size_t next = drawing.find(kStart, at + 1);
    const std::string one = drawing.substr(at, next - at);
    at = next;
    std::smatch m;
    if (!std::regex_search(one, m, anchor)) {
      ADD_FAILURE() << one;
      continue;
    }
    // A picture inside its one cell.
    EXPECT_EQ(m[1], m[3]);
    EXPECT_EQ(m[2], m[4]);
    out.push_back(std::string(m[1]) + "," + std::string(m[2]) + " " +
                  std::to_string(std::stol(m[5]) / 9525) + "x" +
                  std::to_string(std::stol(m[6]) / 9525));
  }
  return out;
}

Row CoinOf(const std::string& country) {
  Row r(20, "");
  r[0] = country;
  r[2] = "1950";
  return r;
}

class WorkbookPictures : public ::testing::Test {
 protected:
  void SetUp() override {
    coins_ = std::make_unique<Database>(
        dir_, "COINS.DBF",
        std::vector<Row>{CoinOf("Denmark"), CoinOf("Peru"), CoinOf("Chile"), CoinOf("Austria"),
                         CoinOf("Brazil")});
  }

  // Attaches a picture of one colour and size, as the program's user would.
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

  TempDir dir_;
  std::unique_ptr<Database> coins_;
};

TEST_F(WorkbookPictures, EachCoinsPictureInItsRow) {
  const std::string csv_before = ReadFileBytes(Export(ExportKind::kCsv, "before.csv"));
  const std::string txt_before = ReadFileBytes(Export(ExportKind::kAscii, "before.txt"));
  // Only obverse pictures are shown, each about 64 pixels on its long side.
  Attach(1, pictures::Side::kReverse, 90, 90, qRgb(200, 0, 0), "png");
  Attach(2, pictures::Side::kObverse, 200, 100, qRgb(0, 200, 0), "png");
  Attach(4, pictures::Side::kObverse, 60, 120, qRgb(0, 0, 200), "jpg");
  Attach(5, pictures::Side::kObverse, 30, 20, qRgb(200, 200, 0), "png");
  struct Case {
    bool search;
    std::vector<std::string> countries;           // the coins exported
    std::map<std::string, std::string> pictures;  // by country: its size
  };
  const Case cases[] = {
      {false,
       {"Denmark", "Peru", "Chile", "Austria", "Brazil"},
       {{"Peru", "64x32"}, {"Austria", "32x64"}, {"Brazil", "64x42"}}},
      // Only the found coins, each with its own picture.
      {true, {"Chile", "Brazil", "Austria"}, {{"Austria", "32x64"}, {"Brazil", "64x42"}}},
  };
  struct Found : app::RowFilter {
    bool Accept(dbf::Table& t) override {
      const std::string c = t.Fields(0).AsString();
      return c == "Chile" || c == "Brazil" || c == "Austria";
    }
  } found;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.search);
    if (c.search) {
      coins_->db.SetRowFilter(&found);
      coins_->db.SetSearchMode(true);
      coins_->db.ReopenMyTable();
    }
    const std::string book = Export(ExportKind::kXlsx, "coins.xlsx", c.search);
    const std::string names = Zip(book);
    const std::regex media("xl/media/image[0-9]+\\.png");
    EXPECT_EQ(size_t(std::distance(std::sregex_iterator(names.begin(), names.end(), media),
                                   std::sregex_iterator())),
              c.pictures.size())
        << names;
    const std::string sheet = Zip(book, "xl/worksheets/sheet1.xml");
    EXPECT_EQ(Texts(book)["C1"], "Obverse");
    const std::map<std::string, int> rows = RowsOfCountries(book);
    std::vector<std::string> want;
    std::map<int, std::string> heights;  // rows without a picture keep the normal height
    ASSERT_EQ(rows.size(), c.countries.size() + 1) << sheet;
    for (const std::string& country : c.countries) {
      ASSERT_TRUE(rows.count(country)) << country;
      const int row = rows.at(country);
      auto picture = c.pictures.find(country);
      if (picture == c.pictures.end()) continue;
      heights[row] = "54";
      want.push_back("2," + std::to_string(row) + " " + picture->second);
    }
    std::vector<std::string> got = Anchors(Zip(book, "xl/drawings/drawing1.xml"));
    std::sort(want.begin(), want.end());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, want);
    EXPECT_EQ(RowHeights(sheet), heights) << sheet;
  }
  coins_->db.SetSearchMode(false);
  coins_->db.ReopenMyTable();
  // The pictures' copies made for the workbook are gone with it.
  for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
    EXPECT_EQ(e.path().filename().string().find("pictures"), std::string::npos) << e.path();
  // The text files are as they were.
  EXPECT_EQ(ReadFileBytes(Export(ExportKind::kCsv, "after.csv")), csv_before);
  EXPECT_EQ(ReadFileBytes(Export(ExportKind::kAscii, "after.txt")), txt_before);
}

TEST_F(WorkbookPictures, NoObversePictureNoPictureColumn) {
  const std::string plain = Export(ExportKind::kXlsx, "plain.xlsx");
  EXPECT_EQ(Zip(plain).find("xl/drawings/"), std::string::npos);
  Attach(3, pictures::Side::kReverse, 40, 40, qRgb(9, 9, 9), "png");
  for (const std::string& book : {plain, Export(ExportKind::kXlsx, "reverse.xlsx")}) {
    SCOPED_TRACE(book);
    const std::string names = Zip(book);
    EXPECT_EQ(names.find("xl/drawings/"), std::string::npos) << names;
    EXPECT_EQ(names.find("xl/media/"), std::string::npos) << names;
    const std::string sheet = Zip(book, "xl/worksheets/sheet1.xml");
    EXPECT_EQ(sheet.find("Obverse"), std::string::npos);
    EXPECT_EQ(sheet.find(" ht=\""), std::string::npos);
    EXPECT_EQ(RowsOfCountries(book).size(), 6u);
  }
}

}  // namespace
}  // namespace klv::transfer
