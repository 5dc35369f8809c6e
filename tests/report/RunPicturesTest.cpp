// Reports with the coins' obverse pictures: the Complete Report of the fixed
// collection with pictures attached to some of its coins, as stored pages
// and as PDF; the pages without pictures (or with the option off) as they
// were; records that never split over a page; a picture gone during a run.
#include <algorithm>
#include <map>

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>

#include <gtest/gtest.h>

#include "app/Settings.h"
#include "pictures/PictureStore.h"
#include "report/ReportCoins.h"
#include "report/ReportRun.h"
#include "report/UrpFile.h"
#include "report/engine/PaintedReport.h"
#include "report/engine/ReportFiler.h"
#include "support/TempDir.h"

namespace klv::report {
namespace {

using engine::Page;
using engine::PageCell;
using engine::PageImage;
using pictures::Side;

const std::string kData = KLV_TEST_DATA_DIR;
// The coins given an obverse picture (record numbers); coin 2 has only a
// reverse, which no report prints.
const std::vector<uint32_t> kWithObverse = {1, 4, 5, 12, 20, 33, 40};

class ReportPicturesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rows_ = test::ReadCoinCsv(kData + "/report-coins.csv");
    test::WriteCoinTable(dir_.File("COINS.DBF"), rows_);
    test::OpenSorted(table_, dir_.path(), "COINS.DBF", {db::kCountry, db::kYear, 0, 0});
  }

  // Pictures of alternating kinds and sizes attached to the coins above,
  // one of them a photograph far larger than a page needs.
  void AttachPictures() {
    pictures::PictureStore store(dir_.File("COINS.DBF"));
    store.Load();
    for (size_t i = 0; i < kWithObverse.size(); ++i) {
      QImage image(i == 3  ? QSize(2400, 1600)
                   : i % 2 ? QSize(300, 200)
                           : QSize(160, 240),
                   QImage::Format_RGB32);
      image.fill(QColor::fromHsv(static_cast<int>(i) * 40, 200, 200));
      const std::string source =
          dir_.File("source" + std::to_string(i) + (i % 2 ? ".jpg" : ".png"));
      ASSERT_TRUE(image.save(QString::fromStdString(source)));
      store.Attach(kWithObverse[i], Side::kObverse, source);
    }
    store.Attach(2, Side::kReverse, dir_.File("source0.png"));
    store.Load();
    for (const pictures::Picture& p : store.pictures())
      recno_of_[QFileInfo(QString::fromStdString(store.PathOf(p))).fileName()] = p.recno;
  }

  RunSetup Setup(int mode) const {
    RunSetup s;
    s.mode = mode;
    s.captions = app::Settings().field_names;
    s.today = QStringLiteral("12/09/2026");
    s.text_file = QString::fromStdString(dir_.File("REPORT.TXT"));
    return s;
  }

  std::vector<Page> RunPages(const ReportDef& def, const std::function<void()>& on_record = {}) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadWrite);
    engine::TReportFiler filer;
    filer.SetStream(&buffer);
    ReportGenerator run(def, table_, filer, Setup(kModeView));
    run.OnRecord = on_record;
    EXPECT_TRUE(run.Run());
    engine::StoredPages stored;
    stored.Open(&buffer);
    std::vector<Page> pages;
    for (int n = 1; n <= stored.PageCount(); ++n) pages.push_back(stored.Read(n));
    return pages;
  }

  uint32_t RecnoOf(const PageImage& image) const {
    const auto it = recno_of_.find(QFileInfo(image.path).fileName());
    return it == recno_of_.end() ? 0 : it->second;
  }

  klv::test::TempDir dir_;
  std::vector<std::vector<std::string>> rows_;
  dbf::Table table_;
  std::map<QString, uint32_t> recno_of_;  // picture file name to its coin
};

ReportDef CompleteReport() {
  const ReportDef def = BuiltInReportDefs()[3];
  EXPECT_EQ(def.name, QStringLiteral("Complete Report"));
  EXPECT_TRUE(def.print_obverse);
  return def;
}

TEST_F(ReportPicturesTest, EachObversePrintsBesideItsOwnRecordWhichNeverSplits) {
  AttachPictures();
  ReportDef list = BuiltInReportDefs()[0];  // one line a record, boxed
  list.print_obverse = true;
  struct Case {
    const char* what;
    ReportDef def;
    double bottom_margin;
    int block_mils;    // the lines a record takes, with its picture
    int column_mils;   // the picture column
    const char* last;  // the label of the record's last line ("" for none)
  };
  // The Complete Report's 8 lines of 8 points are 1.067 inch high, its
  // column as wide; a line of the list is 1/6 inch: its records take the
  // least column's 0.6 inch, four lines.
  for (Case c : {Case{"complete", CompleteReport(), 0.5, 1067, 1067, "User Def #3:"},
                 Case{"complete, short pages", CompleteReport(), 5.9, 1067, 1067, "User Def #3:"},
                 Case{"list", list, 0.5, 667, 600, ""},
                 Case{"list, short pages", list, 7.1, 667, 600, ""}}) {
    SCOPED_TRACE(c.what);
    c.def.bottom_margin = c.bottom_margin;
    const std::vector<Page> pages = RunPages(c.def);
    const int body_bottom = engine::ToMils(11.0 - c.bottom_margin - 0.75);
    std::vector<uint32_t> printed;
    int records = 0;
    for (size_t n = 0; n < pages.size(); ++n) {
      const Page& page = pages[n];
      for (const PageCell& cell : page.cells) {
        EXPECT_LE(cell.x + cell.width, 8001) << cell.text.toStdString();
        records += cell.text == QLatin1String("Country:");
      }
      for (const PageImage& image : page.images) {
        const uint32_t recno = RecnoOf(image);
        ASSERT_NE(recno, 0u) << image.path.toStdString();
        printed.push_back(recno);
        EXPECT_EQ(image.x, 500);
        EXPECT_EQ(image.width, c.column_mils - 100);
        EXPECT_NEAR(image.height, c.block_mils - 100, 1);
        EXPECT_LE(image.y + image.height + 100, body_bottom + 1);
        // Its own record: the coin's description (Complete) or country
        // (list) on the record's first lines, level with the picture's top,
        // and the record's last line on the same page.
        const std::string& mine = rows_[recno - 1][c.def.lines > 1 ? 9 : 0];
        bool first_line = false, own = false, last = *c.last == 0;
        for (const PageCell& cell : page.cells) {
          if (cell.y < image.y || cell.y >= image.y + c.block_mils) continue;
          // Nothing of the record in the picture's column.
          EXPECT_GE(cell.x, 500 + c.column_mils) << cell.text.toStdString();
          first_line = first_line || (cell.y == image.y && cell.x == 500 + c.column_mils);
          own = own || cell.text.toStdString() == mine;
          last = last || cell.text == QLatin1String(c.last);
        }
        EXPECT_TRUE(first_line && own && last) << "page " << n + 1 << ", coin " << recno;
      }
    }
    std::sort(printed.begin(), printed.end());
    EXPECT_EQ(printed, kWithObverse);
    // Margins that leave too little room print the records alone.
    c.def.left_margin = c.def.right_margin = 3.7;
    for (const Page& page : RunPages(c.def)) EXPECT_TRUE(page.images.empty());
    if (c.def.lines > 1) {
      EXPECT_EQ(records, 40);
    }
  }
}

TEST_F(ReportPicturesTest, WithoutPicturesOrWithTheOptionOffPagesAreAsBefore) {
  const ReportDef complete = CompleteReport();
  ReportDef off = complete;
  off.print_obverse = false;
  const std::vector<Page> before = RunPages(complete);  // the table has no pictures yet
  std::vector<QByteArray> before_bytes;
  for (const Page& p : before) {
    EXPECT_TRUE(p.images.empty());
    before_bytes.push_back(engine::EncodePage(p));
  }
  const QString path = Setup(kModeFile).text_file;
  engine::TReportFiler filer;
  const auto text = [&](const ReportDef& def) {
    ReportGenerator run(def, table_, filer, Setup(kModeFile));
    EXPECT_TRUE(run.Run());
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  };
  QFile golden(QString::fromStdString(kData + "/report-golden/report4.txt"));
  ASSERT_TRUE(golden.open(QIODevice::ReadOnly));
  const QByteArray expected_text = golden.readAll();
  EXPECT_EQ(text(complete), expected_text);

  AttachPictures();
  std::vector<QByteArray> after_bytes;
  for (const Page& p : RunPages(off)) after_bytes.push_back(engine::EncodePage(p));
  EXPECT_EQ(after_bytes, before_bytes);
  // The text file has no pictures: the same text with them.
  EXPECT_EQ(text(complete), expected_text);
}

// pdfimages -list: the width and height of each picture in the PDF.
std::vector<std::pair<int, int>> PdfImages(const QString& path) {
  QProcess p;
  p.start(QStringLiteral("pdfimages"), {QStringLiteral("-list"), path});
  p.waitForFinished(60000);
  std::vector<std::pair<int, int>> out;
  const QStringList lines = QString::fromUtf8(p.readAllStandardOutput()).split('\n');
  for (qsizetype i = 2; i < lines.size(); ++i) {
    const QStringList f = lines[i].simplified().split(' ');
    if (f.size() > 4 && f[2] == QLatin1String("image"))
      out.emplace_back(f[3].toInt(), f[4].toInt());
  }
  return out;
}

TEST_F(ReportPicturesTest, PictureGoneDuringTheRunPrintsNothingInItsPlace) {
  AttachPictures();
  pictures::PictureStore store(dir_.File("COINS.DBF"));
  store.Load();
  // Pictures removed while the run goes: their places stay empty; the run
  // and the others print.
  const QString gone[2] = {QString::fromStdString(store.PathOf(*store.Find(40, Side::kObverse))),
                           QString::fromStdString(store.PathOf(*store.Find(33, Side::kObverse)))};
  const std::vector<Page> pages = RunPages(CompleteReport(), [&] { QFile::remove(gone[0]); });
  int kept = 0;
  for (const Page& page : pages) kept += static_cast<int>(page.images.size());
  EXPECT_EQ(kept, static_cast<int>(kWithObverse.size()));

  const QString pdf_path = QString::fromStdString(dir_.File("REPORT.PDF"));
  engine::TPdfReport pdf(pdf_path);
  ReportGenerator run(CompleteReport(), table_, pdf, Setup(kModePrint));
  run.OnRecord = [&] { QFile::remove(gone[1]); };
  ASSERT_TRUE(run.Run());
  ASSERT_TRUE(pdf.Written());
  const std::vector<std::pair<int, int>> images = PdfImages(pdf_path);
  EXPECT_EQ(images.size(), kWithObverse.size() - 2);  // coins 40 and 33 are gone
  // Each at about 300 dots per inch of its 0.967 inch column, or its own
  // size when smaller: never a photograph at full size.
  for (const auto& [w, h] : images) {
    EXPECT_LE(std::max(w, h), 300);
    EXPECT_GE(std::max(w, h), 239);
  }
}

}  // namespace
}  // namespace klv::report
