// The report output engine: the run and its events, the layout of sections,
// tabs and texts, the stored pages read back as they were laid out, and the
// PDF target, and the pictures of a page: stored as their file's path, drawn
// fitted into their rectangle.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <QBuffer>
#include <QColor>
#include <QDataStream>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>

#include <gtest/gtest.h>

#include "base/Error.h"
#include "report/engine/BaseReport.h"
#include "report/engine/PaintedReport.h"
#include "report/engine/ReportFiler.h"
#include "support/TempDir.h"

namespace klv::report::engine {
namespace {

// A target keeping every page it gets.
class Capture : public TBaseReport {
 public:
  std::vector<Page> pages;

 protected:
  void EndPage(Page& page) override { pages.push_back(page); }
};

// A report of `rows` numbered lines under a title, with a status line per
// page; the events it saw are logged.
template <class Target>
void NumberedLines(Target& r, int rows, std::vector<std::string>& log) {
  auto row_count = std::make_shared<int>(0);
  r.StatusFormat = QStringLiteral("Printing Page %p\r%0\r%1");
  r.OnBeforePrint = [&] { log.push_back("before"); };
  r.OnPrintHeader = [&] {
    log.push_back("header " + std::to_string(r.CurrentPage()));
    r.SetSectionTop(0.5);
    r.SetSectionBottom(1.25);
    r.Home();
    r.SetFont(QStringLiteral("Liberation Sans"), 12);
    r.PrintCenter(QStringLiteral("Title"), r.PageWidth() / 2);
  };
  r.OnPrintPage = [&r, rows, row_count] {
    int& row = *row_count;
    r.SetSectionTop(1.25);
    r.SetSectionBottom(r.PageHeight() - 1.25);
    r.Home();
    r.SetFont(QStringLiteral("Liberation Mono"), 10);
    r.ClearTabs();
    r.SetTab(TBaseReport::kAfterPrevious, kJustifyLeft, 2.0, 2, 15, 0);
    r.SetTab(TBaseReport::kAfterPrevious, kJustifyRight, 1.5, 2, 15, 10);
    while (r.LinesLeft() >= 1 && row < rows) {
      ++row;
      r.PrintLn(QStringLiteral("Row %1\t%2").arg(row).arg(row * 1.5, 0, 'f', 2));
    }
    r.StatusLine[0] = QStringLiteral("row %1").arg(row);
    r.UpdateStatus();
    return row < rows;
  };
  r.OnPrintFooter = [&] { log.push_back("footer " + std::to_string(r.CurrentPage())); };
  r.OnAfterPrint = [&] { log.push_back("after"); };
}

TEST(ReportEngine, RunLaysOutPagesOfWholeLinesAndStoresThemAsLaidOut) {
  Capture capture;
  std::vector<std::string> log;
  std::vector<QString> statuses;
  capture.OnStatus = [&](const QString& s) { statuses.push_back(s); };
  NumberedLines(capture, 120, log);
  ASSERT_TRUE(capture.Execute());
  EXPECT_FALSE(capture.Aborted());

  // Letter portrait, body 1.25 to 9.75 inch: 8.5 inch of 10 pt lines of
  // 1/6 inch: 51 lines a page, so 120 rows need three pages.
  ASSERT_EQ(capture.pages.size(), 3u);
  EXPECT_EQ(log, (std::vector<std::string>{"before", "header 1", "footer 1", "header 2", "footer 2",
                                           "header 3", "footer 3", "after"}));
  EXPECT_EQ(statuses.back(), QStringLiteral("Printing Page 3\rrow 120\r"));
  const Page& first = capture.pages[0];
  EXPECT_EQ(first.width, 8500);
  EXPECT_EQ(first.height, 11000);
  // The title, then two cells per row; the second tab follows the first.
  ASSERT_EQ(first.cells.size(), 1u + 2 * 51);
  const PageCell& a = first.cells[1];
  const PageCell& b = first.cells[2];
  EXPECT_EQ(a.text, QStringLiteral("Row 1"));
  EXPECT_EQ(b.text, QStringLiteral("1.50"));
  EXPECT_EQ(a.x, 500);
  EXPECT_EQ(a.width, 2000);
  EXPECT_EQ(b.x, 2500);
  EXPECT_EQ(b.justify, kJustifyRight);
  EXPECT_EQ(b.shade, 10);
  EXPECT_EQ(a.box, 15);
  EXPECT_EQ(a.margin, 20);
  EXPECT_EQ(a.y, 1250);
  EXPECT_EQ(first.cells[3].y, 1250 + 167);
  EXPECT_EQ(capture.pages[2].cells.back().text, QStringLiteral("180.00"));

  // The same run into a stream reads back page for page.
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadWrite);
  TReportFiler filer;
  filer.SetStream(&buffer);
  log.clear();
  NumberedLines(filer, 120, log);
  ASSERT_TRUE(filer.Execute());
  EXPECT_EQ(filer.PagesWritten(), 3);
  StoredPages stored;
  stored.Open(&buffer);
  ASSERT_EQ(stored.PageCount(), 3);
  for (int n = 1; n <= 3; ++n) EXPECT_EQ(stored.Read(n), capture.pages[n - 1]) << n;
  // A compact form: far less than the texts with their geometry in full.
  EXPECT_LT(bytes.size(), 3000);

  // Landscape swaps the page's sides and fits fewer lines.
  Capture wide;
  wide.SetOrientation(Orientation::kLandscape);
  NumberedLines(wide, 120, log);
  wide.Execute();
  EXPECT_EQ(wide.pages[0].width, 11000);
  EXPECT_EQ(wide.pages.size(), 4u);  // 6 inch of body: 36 lines a page
}

TEST(ReportEngine, TextsAreMeasuredAndCutToTheirTab) {
  Capture r;
  r.SetFont(QStringLiteral("Liberation Mono"), 10);
  // A monospaced font at 10 pt: 0.6 em a character, 1/12 inch.
  EXPECT_NEAR(r.TextWidth(QStringLiteral("MMMMMMMMMMMM")), 1.0, 0.01);
  EXPECT_EQ(r.FitText(QStringLiteral("ABCDEFGHIJKL"), 0.51), QStringLiteral("ABCDEF"));
  EXPECT_EQ(r.FitText(QStringLiteral("ABC"), 0.01), QString());
  EXPECT_EQ(r.FitText(QStringLiteral("ABC"), 1.0), QStringLiteral("ABC"));
  r.SetTab(1.0, kJustifyCenter, 0.8, 5, 0, 0);
  r.SetTab(TBaseReport::kAfterPrevious, kJustifyLeft, 0.1, 10, 0, 0);
  EXPECT_NEAR(r.TabWidth(1), 0.7, 1e-9);
  EXPECT_EQ(r.TabWidth(2), 0.0);  // margins wider than the tab
  EXPECT_EQ(r.TabWidth(3), 0.0);
  r.SetFont(QStringLiteral("Liberation Sans"), 8);
  EXPECT_NEAR(r.LineHeight(), 8 * 1.2 / 72, 1e-12);
  r.SetSectionTop(1);
  r.SetSectionBottom(1 + 5 * r.LineHeight());
  r.Home();
  EXPECT_EQ(r.LinesLeft(), 5);
  r.NewLine();
  r.NewLine();
  EXPECT_EQ(r.LinesLeft(), 3);
  r.SetFont(QStringLiteral("Liberation Sans"), 16);
  EXPECT_EQ(r.LinesLeft(), 1);
}

TEST(ReportEngine, AbortAndHandlerFailuresEndTheRun) {
  std::vector<std::string> log;
  Capture r;
  NumberedLines(r, 1000, log);
  auto page = r.OnPrintPage;
  r.OnPrintPage = [&] {
    const bool more = page();
    if (r.CurrentPage() == 2) r.Abort();
    return more;
  };
  ASSERT_TRUE(r.Execute());
  EXPECT_TRUE(r.Aborted());
  // The aborted page is not finished: no footer, not handed on.
  EXPECT_EQ(r.pages.size(), 1u);
  EXPECT_EQ(log.back(), "after");
  EXPECT_EQ(std::count(log.begin(), log.end(), "footer 2"), 0);

  Capture failing;
  log.clear();
  NumberedLines(failing, 10, log);
  failing.OnPrintPage = []() -> bool { throw base::Error(base::ErrorCode::kIo, "disk gone"); };
  EXPECT_THROW(failing.Execute(), base::Error);
  EXPECT_TRUE(failing.Aborted());
  EXPECT_FALSE(failing.Running());
  EXPECT_EQ(log.back(), "after");
}

TEST(ReportEngine, DamagedStoredPagesAreRefused) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadWrite);
  TReportFiler filer;
  filer.SetStream(&buffer);
  std::vector<std::string> log;
  NumberedLines(filer, 60, log);
  filer.Execute();
  StoredPages pages;
  pages.Open(&buffer);
  ASSERT_EQ(pages.PageCount(), 2);

  const QByteArray good = bytes;
  for (const QByteArray& damaged :
       {QByteArray("not pages at all"), good.left(good.size() - 7), QByteArray()}) {
    QByteArray copy = damaged;
    QBuffer b(&copy);
    b.open(QIODevice::ReadOnly);
    EXPECT_THROW(pages.Open(&b), base::Error);
    EXPECT_FALSE(pages.IsOpen());
  }
  // A page whose bytes were changed inside: the index opens, the page not.
  QByteArray flipped = good;
  for (int i = 40; i < 60; ++i) flipped[i] = static_cast<char>(flipped[i] ^ 0x5A);
  QBuffer b(&flipped);
  b.open(QIODevice::ReadOnly);
  pages.Open(&b);
  EXPECT_THROW(pages.Read(1), base::Error);
  EXPECT_NO_THROW(pages.Read(2));
  EXPECT_THROW(pages.Read(3), base::Error);
}

QString PdfText(const QString& path) {
  QProcess p;
  p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), path, QStringLiteral("-")});
  p.waitForFinished(30000);
  return QString::fromUtf8(p.readAllStandardOutput());
}

TEST(ReportEngine, PdfTargetWritesThePagesOrLeavesTheNameAlone) {
  test::TempDir dir;
  const QString path = QString::fromStdString(dir.File("out.pdf"));
  std::vector<std::string> log;
  {
    TPdfReport pdf(path);
    NumberedLines(pdf, 60, log);
    ASSERT_TRUE(pdf.Execute());
    EXPECT_TRUE(pdf.Written());
    EXPECT_EQ(pdf.PagesPrinted(), 2);
  }
  const QString text = PdfText(path);
  EXPECT_TRUE(text.contains(QStringLiteral("Row 60"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("90.00")));
  EXPECT_EQ(text.count(QStringLiteral("Title")), 2);

  // An aborted run leaves the earlier file as it was, and no stray file.
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray before = f.readAll();
  f.close();
  {
    TPdfReport pdf(path);
    NumberedLines(pdf, 500, log);
    auto page = pdf.OnPrintPage;
    pdf.OnPrintPage = [&] {
      const bool more = page();
      if (pdf.CurrentPage() == 3) pdf.Abort();
      return more;
    };
    pdf.Execute();
    EXPECT_FALSE(pdf.Written());
  }
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), before);
  int files = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 1);

  // A directory that does not exist cannot take the file.
  TPdfReport nowhere(QString::fromStdString(dir.File("missing/out.pdf")));
  NumberedLines(nowhere, 5, log);
  EXPECT_THROW(nowhere.Execute(), base::Error);
}

// A picture file of one colour.
QString WritePicture(const test::TempDir& dir, const char* name, QSize size, QColor color) {
  QImage image(size, QImage::Format_RGB32);
  image.fill(color);
  const QString path = QString::fromStdString(dir.File(name));
  EXPECT_TRUE(image.save(path));
  return path;
}

// page drawn at 100 dots per inch on white.
QImage Drawn(const Page& page, bool monochrome = false) {
  QImage out(page.width / 10, page.height / 10, QImage::Format_RGB32);
  out.setDotsPerMeterX(3937);
  out.setDotsPerMeterY(3937);
  out.fill(Qt::white);
  QPainter painter(&out);
  PageTransform(painter, 1.0);
  PaintPage(painter, page, monochrome);
  return out;
}

TEST(ReportPictures, DrawnFittedAndCentredOrNotAtAll) {
  test::TempDir dir;
  const QString wide = WritePicture(dir, "wide.png", {200, 100}, QColor(200, 30, 30));
  const QString tall = WritePicture(dir, "tall.jpg", {60, 120}, QColor(30, 30, 200));
  const QString text = QString::fromStdString(dir.File("notes.txt"));
  {
    QFile f(text);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a picture");
  }
  struct Case {
    const char* what;
    QString path;
    bool monochrome;
    // Points of the 1 x 1 inch rectangle at (1, 1), in dots at 100 per
    // inch: one inside the picture, one beside it.
    QPoint inside, outside;
    bool drawn;
  };
  const Case cases[] = {
      {"wide: a band across the middle", wide, false, {150, 150}, {150, 110}, true},
      {"tall: a band down the middle", tall, false, {150, 150}, {110, 150}, true},
      {"greys on a monochrome device", wide, true, {150, 150}, {150, 110}, true},
      {"a file that is gone",
       QString::fromStdString(dir.File("gone.png")),
       false,
       {150, 150},
       {150, 110},
       false},
      {"a file that is no picture", text, false, {150, 150}, {150, 110}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Page page;
    page.images.push_back(PageImage{1000, 1000, 1000, 1000, c.path});
    QImage out;
    ASSERT_NO_THROW(out = Drawn(page, c.monochrome));
    const QColor in = out.pixelColor(c.inside);
    EXPECT_EQ(out.pixelColor(c.outside), QColor(Qt::white));
    if (!c.drawn) {
      EXPECT_EQ(in, QColor(Qt::white));
      continue;
    }
    EXPECT_NE(in, QColor(Qt::white));
    if (c.monochrome) {
      EXPECT_EQ(in.red(), in.green());
      EXPECT_EQ(in.green(), in.blue());
    } else {
      EXPECT_GT(std::abs(in.red() - in.blue()), 100);
    }
  }
}

TEST(ReportPictures, StoredAsTheirPathAndDamageIsRefused) {
  Page page;
  page.cells.push_back(PageCell{500, 500, 2000, 200, 20, 0, kJustifyLeft, 0, 0, "Country:"});
  page.fonts.push_back(PageFont{});
  page.images.push_back(PageImage{500, 700, 1100, 1000, QStringLiteral("/data/MASTER.PIC/7.jpg")});
  page.images.push_back(PageImage{500, 1800, 1100, 1000, QStringLiteral("/data/MASTER.PIC/8.png")});
  const QByteArray bytes = EncodePage(page);
  EXPECT_EQ(DecodePage(bytes), page);
  // The picture's bytes are not in the page.
  EXPECT_LT(bytes.size(), 200);

  // A page without pictures is written as pages always were (version 1).
  Page plain = page;
  plain.images.clear();
  EXPECT_EQ(qUncompress(EncodePage(plain)).mid(4, 2), QByteArray("\x00\x01", 2));
  EXPECT_EQ(DecodePage(EncodePage(plain)), plain);

  // The picture records damaged: a count beyond the bytes, a path cut
  // short, a path length beyond the page, a page cut inside a rectangle.
  const QByteArray raw = qUncompress(bytes);
  const qsizetype images_at = raw.size() - 2 * 16 - 2 * (4 + 2 * 22) - 4;
  ASSERT_EQ(raw.mid(images_at, 4), QByteArray("\x00\x00\x00\x02", 4));
  QByteArray huge_count = raw;
  huge_count[images_at] = 0x7F;
  QByteArray long_path = raw;
  long_path[images_at + 4 + 16] = 0x40;
  for (const QByteArray& damaged :
       {huge_count, long_path, raw.left(raw.size() - 10), raw.left(images_at + 4 + 9)}) {
    EXPECT_THROW(DecodePage(qCompress(damaged, 1)), base::Error);
  }
  try {
    DecodePage(qCompress(huge_count, 1));
  } catch (const base::Error& e) {
    EXPECT_STREQ(e.what(), "The stored report pages are damaged.");
  }
}

// Pages of every kind the stored pages hold: none of anything, texts null,
// empty and beyond Latin-1, cells going back up and left, pictures, and one
// page far larger than the rest.
std::vector<Page> AssortedPages() {
  std::vector<Page> pages(5);
  pages[1].fonts = {PageFont{QStringLiteral("Arial"), 10, true, false, true, false, 0x123456},
                    PageFont{QString::fromUtf8("Caf\u00e9 \U0001F600"), 7.25}};
  pages[1].cells = {PageCell{500, 900, 2000, 167, 20, 0, kJustifyLeft, kBoxTop, 0, QString()},
                    PageCell{2500, 900, 100, 167, 0, 1, kJustifyRight, 15, 40, QStringLiteral("")},
                    PageCell{100, 200, 300, 167, 0, 1, kJustifyCenter, 0, 0,
                             QString::fromUtf8("\u00c5land \u20ac 5 \U0001F600")}};
  pages[2] = pages[1];
  pages[2].width = 11000;
  pages[2].height = 8500;
  pages[2].images = {PageImage{10, 20, 30, 40, QStringLiteral("/a/b.jpg")},
                     PageImage{-5, 0, 0, 0, QString()}};
  pages[3].fonts = pages[1].fonts;
  for (int i = 0; i < 20000; ++i)
    pages[3].cells.push_back(PageCell{i % 7 * 1000, i / 7 * 167, 1000, 167, 20, uint16_t(i % 2),
                                      kJustifyLeft, 0, 0, QString::number(i * 7919)});
  pages[4] = pages[1];
  return pages;
}

TEST(ReportStoredPages, EachPageReadsBackAsWrittenInTheBytesQtWouldGive) {
  const std::vector<Page> pages = AssortedPages();
  // Twice over, big pages between small ones: each page's bytes stand alone.
  for (int round = 0; round < 2; ++round) {
    for (size_t i = 0; i < pages.size(); ++i) {
      SCOPED_TRACE(i);
      const QByteArray bytes = EncodePage(pages[i]);
      EXPECT_EQ(DecodePage(bytes), pages[i]);
      // The same bytes as qCompress of the page at level 1, as they always
      // were: stored pages of earlier runs read the same.
      EXPECT_EQ(qCompress(qUncompress(bytes), 1), bytes);
    }
  }
  // A null text and an empty one stay apart.
  EXPECT_TRUE(DecodePage(EncodePage(pages[1])).cells[0].text.isNull());
  EXPECT_FALSE(DecodePage(EncodePage(pages[1])).cells[1].text.isNull());
}

// page drawn on an image at dpi, with cache when given.
QImage DrawnAt(const Page& page, int dpi, PaintCache* cache) {
  QImage out(page.width * dpi / 1000, page.height * dpi / 1000, QImage::Format_RGB32);
  out.setDotsPerMeterX(static_cast<int>(std::lround(dpi / 0.0254)));
  out.setDotsPerMeterY(static_cast<int>(std::lround(dpi / 0.0254)));
  out.fill(Qt::white);
  QPainter painter(&out);
  PageTransform(painter, 1.0);
  PaintPage(painter, page, /*monochrome=*/false, cache);
  return out;
}

TEST(ReportStoredPages, PagesDrawnWithAKeptCacheLookAsDrawnAlone) {
  // A label repeated on every page, a text too wide for its cell (drawn
  // narrowed), another font on the next page, and more texts than the
  // cache keeps.
  std::vector<Page> pages(4);
  const PageFont arial{QStringLiteral("Arial"), 10};
  const PageFont big{QStringLiteral("DejaVu Serif"), 14, false, true};
  for (size_t n = 0; n < pages.size(); ++n) {
    Page& p = pages[n];
    p.width = 3000;
    p.height = 2000;
    p.fonts = {n % 2 ? big : arial, arial};
    p.cells.push_back(
        PageCell{100, 100, 1200, 200, 20, 1, kJustifyLeft, 0, 0, QStringLiteral("Country:")});
    p.cells.push_back(PageCell{100, 400, 600, 200, 20, 0, kJustifyRight, kBoxBottom, 0,
                               QStringLiteral("A comment of some length for the report")});
    p.cells.push_back(PageCell{800, 400, 2000, 200, 20, 0, kJustifyCenter, 0, 0,
                               QStringLiteral("A comment of some length for the report")});
  }
  for (int i = 0; i < PaintCache::kMostWidths + 50; ++i)
    pages[2].cells.push_back(
        PageCell{100, 700 + i % 5 * 200, 900, 200, 0, 1, kJustifyLeft, 0, 0, QString::number(i)});
  PaintCache cache;
  for (const int dpi : {100, 100, 150}) {
    for (size_t n = 0; n < pages.size(); ++n) {
      SCOPED_TRACE(testing::Message() << "dpi " << dpi << ", page " << n);
      EXPECT_EQ(DrawnAt(pages[n], dpi, &cache), DrawnAt(pages[n], dpi, nullptr));
    }
  }
}

}  // namespace
}  // namespace klv::report::engine
