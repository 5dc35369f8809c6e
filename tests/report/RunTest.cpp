// Report runs on the fixed collection: the text reports of the five
// built-in definitions against the checked-in expected files, the same
// reports as PDF read back, groups and totals breaks, a group header that
// does not fit at the foot of a page, 0 lines per record, Cancel, and the
// coins' obverse pictures beside their records.
//
// KLV_UPDATE_GOLDEN=1 rewrites the expected files (check the difference
// before committing it).
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontInfo>
#include <QImage>
#include <QProcess>
#include <QtEndian>

#include <gtest/gtest.h>

#include "app/Settings.h"
#include "pictures/PictureStore.h"
#include "report/CommandRun.h"
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
const std::array<int, 4> kCountryYear = {db::kCountry, db::kYear, 0, 0};
// The coins given an obverse picture (record numbers); coin 2 has only a
// reverse, which no report prints.
const std::vector<uint32_t> kWithObverse = {1, 4, 5, 12, 20, 33, 40};

QString ReadAll(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return QString();
  return QString::fromUtf8(f.readAll());
}

// The fixed collection, in a fresh directory, sorted by country and year.
class ReportRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rows_ = test::ReadCoinCsv(kData + "/report-coins.csv");
    test::WriteCoinTable(dir_.File("COINS.DBF"), rows_);
    test::OpenSorted(table_, dir_.path(), "COINS.DBF", kCountryYear);
  }

  RunSetup Setup(int mode, const QString& file = QString()) const {
    RunSetup s;
    s.mode = mode;
    s.captions = app::Settings().field_names;
    s.today = QStringLiteral("12/09/2026");
    s.text_file = file;
    return s;
  }

  QString Path(const char* name) const { return QString::fromStdString(dir_.File(name)); }

  // The text file of def (mode 3).
  QString RunText(const ReportDef& def) {
    const QString path = Path("REPORT.TXT");
    engine::TReportFiler filer;
    ReportGenerator run(def, table_, filer, Setup(kModeFile, path));
    EXPECT_TRUE(run.Run());
    EXPECT_FALSE(run.Aborted());
    return ReadAll(path);
  }

  // The stored pages of def (mode 2).
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

  // Grand totals of the collection worked out here: quantity, purchase,
  // market and premium, each value times quantity.
  std::array<double, 4> GrandTotals() const {
    std::array<double, 4> t{};
    for (const auto& r : rows_) {
      const double q = r[12].empty() ? 0 : std::stod(r[12]);
      t[0] += q;
      t[1] += q * (r[5].empty() ? 0 : std::stod(r[5]));
      t[2] += q * (r[6].empty() ? 0 : std::stod(r[6]));
      t[3] += q * (r[7].empty() ? 0 : std::stod(r[7]));
    }
    return t;
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

  uint32_t RecnoOf(const PageImage& image) const {
    const auto it = recno_of_.find(QFileInfo(image.path).fileName());
    return it == recno_of_.end() ? 0 : it->second;
  }

  klv::test::TempDir dir_;
  std::vector<std::vector<std::string>> rows_;
  dbf::Table table_;
  std::map<QString, uint32_t> recno_of_;  // picture file name to its coin
};

TEST_F(ReportRunTest, BuiltInReportsGiveTheExpectedTextAndTheSameValuesAsPdf) {
  const std::vector<ReportDef> defs = BuiltInReportDefs();
  ASSERT_EQ(defs.size(), 5u);
  const std::array<double, 4> grand = GrandTotals();
  const QString grand_quantity = QString::number(grand[0], 'f', 0);
  const QString grand_market = QString::number(grand[2], 'f', 2);
  const bool update = std::getenv("KLV_UPDATE_GOLDEN") != nullptr;
  for (size_t i = 0; i < defs.size(); ++i) {
    SCOPED_TRACE(defs[i].name.toStdString());
    const QString text = RunText(defs[i]);
    const QString expected_path =
        QString::fromStdString(kData + "/report-golden/report" + std::to_string(i + 1) + ".txt");
    if (update) {
      QDir().mkpath(QFileInfo(expected_path).path());
      QFile f(expected_path);
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      f.write(text.toUtf8());
    }
    EXPECT_EQ(text, ReadAll(expected_path));
    // Every country of the collection starts one group, its caption centred
    // between dashes; the totals add value times quantity.
    std::set<std::string> countries;
    for (const auto& r : rows_) countries.insert(r[0]);
    ASSERT_EQ(countries.size(), 6u);
    for (const std::string& c : countries) {
      const QString country = QString::fromStdString(c);
      const QString pad((defs[i].width - country.size()) / 2, QLatin1Char(' '));
      const QString dashes(country.size(), QLatin1Char('-'));
      EXPECT_EQ(text.count(QStringLiteral("\n%1%2\n%1%3\n%1%2\n").arg(pad, dashes, country)), 1)
          << c;
    }
    const qsizetype grand_at = text.lastIndexOf(QStringLiteral("GRAND TOTALS"));
    ASSERT_GE(grand_at, 0);
    const QString grand_line = text.mid(grand_at).section(QLatin1Char('\n'), 1, 1);
    EXPECT_TRUE(grand_line.contains(grand_quantity)) << grand_line.toStdString();
    EXPECT_TRUE(grand_line.contains(grand_market)) << grand_line.toStdString();
    EXPECT_EQ(text.count(QLatin1Char('\f')), text.count(QStringLiteral("Page ")));

    // The PDF of the same report: the same pages, the same values.
    const QString pdf_path = Path("REPORT.PDF");
    engine::TPdfReport pdf(pdf_path);
    ReportGenerator run(defs[i], table_, pdf, Setup(kModePrint));
    ASSERT_TRUE(run.Run());
    QProcess p;
    p.start(QStringLiteral("pdftotext"),
            {QStringLiteral("-layout"), pdf_path, QStringLiteral("-")});
    ASSERT_TRUE(p.waitForFinished(60000));
    const QString pdf_text = QString::fromUtf8(p.readAllStandardOutput());
    EXPECT_EQ(pdf_text.count(QLatin1Char('\f')), text.count(QLatin1Char('\f')));
    EXPECT_EQ(pdf_text.count(QStringLiteral("GRAND TOTALS")), 1);
    EXPECT_TRUE(pdf_text.contains(grand_market)) << pdf_text.right(600).toStdString();
    EXPECT_TRUE(pdf_text.contains(grand_quantity));
    EXPECT_EQ(pdf_text.count(QStringLiteral("TOTALS")), text.count(QStringLiteral("TOTALS")));
  }
}

TEST_F(ReportRunTest, GroupsOnTwoLevelsCarryTheirOwnTotals) {
  ReportDef def = BuiltInReportDefs()[1];
  def.group_level2 = true;
  const QString text = RunText(def);
  // One group per country and year; each footer holds its group's sums.
  std::map<QString, std::array<double, 2>> groups;  // "country, year": quantity, market
  for (const auto& r : rows_) {
    const QString key = QString::fromStdString(r[0] + ", " + r[2]);
    const double q = r[12].empty() ? 0 : std::stod(r[12]);
    groups[key][0] += q;
    groups[key][1] += q * std::stod(r[6]);
  }
  for (const auto& [key, sums] : groups) {
    const qsizetype at = text.indexOf(
        QStringLiteral("\n") +
        QString(60, QLatin1Char(' ')).left((120 - static_cast<int>(key.size())) / 2) + key + '\n');
    ASSERT_GE(at, 0) << key.toStdString();
    const qsizetype footer = text.indexOf(QStringLiteral("TOTALS"), at);
    const QString line = text.mid(footer).section(QLatin1Char('\n'), 1, 1);
    EXPECT_TRUE(line.contains(QString::number(sums[1], 'f', 2)))
        << key.toStdString() << " " << line.toStdString();
  }
  EXPECT_EQ(text.count(QStringLiteral("TOTALS")), static_cast<qsizetype>(groups.size()) + 1);

  // Grouping off: no group captions, the grand totals alone at the end.
  def.group_level1 = false;
  const QString flat = RunText(def);
  EXPECT_EQ(flat.count(QStringLiteral("TOTALS")), 1);
  EXPECT_EQ(flat.count(QStringLiteral("GRAND TOTALS")), 1);
  EXPECT_FALSE(flat.contains(QStringLiteral("-----")));
}

// Cells of a page drawn as a group caption: boxed all round, centred.
bool IsGroupCaption(const PageCell& c) {
  return c.box == 15 && c.justify == engine::kJustifyCenter;
}

TEST_F(ReportRunTest, GroupHeadersNeverEndAPageAndTotalsMoveWhole) {
  // A page body of a few lines makes every group boundary fall somewhere on
  // a page; whatever does not fit goes to the next.
  ReportDef def = BuiltInReportDefs()[2];  // four lines a record
  def.bottom_margin = 6.0;                 // body: 1.25 to 4.25 inch, 26 lines of 8 pt
  const std::vector<Page> pages = RunPages(def);
  ASSERT_GE(pages.size(), 8u);
  int captions = 0;
  for (size_t n = 0; n < pages.size(); ++n) {
    const Page& page = pages[n];
    const double body_bottom = (11.0 - 6.0 - 0.75) * 1000;
    for (size_t i = 0; i < page.cells.size(); ++i) {
      const PageCell& c = page.cells[i];
      // Nothing of the body runs into the footer.
      // (The footer starts half an inch above the bottom margin.)
      if (c.y < (11.0 - 6.0 - 0.5) * 1000) {
        EXPECT_LE(c.y + c.height, body_bottom + 1)
            << "page " << n + 1 << " " << c.text.toStdString();
      }
      if (!IsGroupCaption(c)) continue;
      ++captions;
      // A record follows its group caption on the same page.
      bool record_after = false;
      for (size_t j = i + 1; j < page.cells.size(); ++j) {
        if (page.cells[j].text == QStringLiteral("Country:")) record_after = true;
      }
      EXPECT_TRUE(record_after) << "page " << n + 1 << " ends in its group caption "
                                << c.text.toStdString();
    }
  }
  EXPECT_EQ(captions, 6);
  // Final totals that do not fit get a page of their own, holding only them
  // (and the page footer): among bodies of every height from 2 to 4 inches
  // some leave too little room after the last record.
  int alone = 0;
  for (int hundredths = 500; hundredths <= 700; hundredths += 4) {
    ReportDef tall = def;
    tall.bottom_margin = hundredths / 100.0;
    const std::vector<Page> run = RunPages(tall);
    int grand_pages = 0;
    for (const Page& page : run) {
      for (const PageCell& c : page.cells) grand_pages += c.text == QStringLiteral("GRAND TOTALS");
    }
    EXPECT_EQ(grand_pages, 1) << hundredths;
    bool records = false;
    for (const PageCell& c : run.back().cells)
      records = records || c.text == QStringLiteral("Country:");
    if (records) continue;
    ++alone;
    for (const PageCell& c : run.back().cells) {
      const bool totals = c.text.endsWith(QLatin1String("TOTALS")) || c.text.contains(':') ||
                          c.text.isEmpty() || c.text.front().isDigit();
      EXPECT_TRUE(totals || c.text.startsWith(QLatin1String("Page ")))
          << hundredths << ": " << c.text.toStdString();
    }
  }
  EXPECT_GE(alone, 1);

  // The text file breaks pages where the printed pages break; group totals
  // that open a page say whose they are.
  const QString text = RunText(def);
  EXPECT_EQ(text.count(QLatin1Char('\f')), static_cast<qsizetype>(pages.size()));
  int named = 0;
  for (const QString& page : text.split(QLatin1Char('\f'))) {
    const QString first = page.trimmed().section(QLatin1Char('\n'), 0, 0).trimmed();
    if (!first.endsWith(QLatin1String("TOTALS")) || first == QLatin1String("GRAND TOTALS"))
      continue;
    ++named;
    EXPECT_NE(first, QStringLiteral("TOTALS"));
    EXPECT_TRUE(first.endsWith(QLatin1String(" TOTALS"))) << first.toStdString();
  }
  EXPECT_GE(named, 1);
}

TEST_F(ReportRunTest, NoLinesPerRecordPrintsOnlyGroupsAndTotals) {
  const ReportDef summary = BuiltInReportDefs()[4];
  ASSERT_EQ(summary.lines, 0);
  const QString text = RunText(summary);
  EXPECT_FALSE(text.contains(QStringLiteral("Very Fine")));
  EXPECT_EQ(text.count(QStringLiteral("United Kingdom")), 1);  // its group caption
  EXPECT_EQ(text.count(QStringLiteral("GRAND TOTALS")), 1);
  // A quantity of 0 adds nothing: the coin with quantity 0 is Mexico's
  // first; its group's quantity is the sum of the others.
  double mexico = 0;
  for (const auto& r : rows_)
    if (r[0] == "Mexico") mexico += std::stod(r[12]);
  const qsizetype at = text.indexOf(QStringLiteral("Mexico"));
  const QString footer =
      text.mid(text.indexOf(QStringLiteral("TOTALS"), at)).section(QLatin1Char('\n'), 1, 1);
  EXPECT_TRUE(footer.contains(QStringLiteral("Quantity:") +
                              QString(" %1").arg(mexico, 0, 'f', 0).rightJustified(1)) ||
              footer.contains(QString::number(mexico, 'f', 0)))
      << footer.toStdString();
}

TEST_F(ReportRunTest, CancelStopsAtOnceAndLeavesTheFileAsItWas) {
  const QString path = Path("REPORT.TXT");
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("an earlier report\n");
  }
  const ReportDef def = BuiltInReportDefs()[3];
  engine::TReportFiler filer;
  ReportGenerator run(def, table_, filer, Setup(kModeFile, path));
  run.OnRecord = [&] {
    if (run.RecordsPrinted() == 5) filer.Abort();
  };
  ASSERT_TRUE(run.Run());
  EXPECT_TRUE(run.Aborted());
  EXPECT_EQ(run.RecordsPrinted(), 5);
  EXPECT_EQ(ReadAll(path), QStringLiteral("an earlier report\n"));
  EXPECT_EQ(QDir(QString::fromStdString(dir_.path())).entryList(QDir::Files).size(),
            3);  // DBF, MDX, TXT
  // The table's controls are back on and it stands where it stood.
  EXPECT_FALSE(table_.ControlsDisabled());
}

// klvcoin --report: the definitions file in another letter case, and the
// paper asked for.
TEST(ReportCommand, FindsTheDefinitionsFileInAnyLetterCaseOnThePaperAsked) {
  klv::test::TempDir home, windir, data;
  klv::test::ProgramDirsInEnvironment dirs(home, windir);
  {
    UrpFile file(QString::fromStdString(home.File("klvcoin.urp")));
    ReportDef mine = BuiltInReportDefs()[0];
    mine.name = QStringLiteral("Coins By Year");
    file.Append(mine);
  }
  const std::string db = data.File("COINS.DBF");
  test::WriteCoinTable(db, test::ReadCoinCsv(kData + "/report-coins.csv"));
  struct Case {
    engine::PaperSize paper;
    const char* page_size;  // as pdfinfo says it, points
  };
  for (const Case& c : {Case{engine::kA4Paper, "595 x 842 pts (A4)"},
                        Case{engine::kLetterPaper, "612 x 792 pts (letter)"}}) {
    SCOPED_TRACE(c.page_size);
    const QString pdf = QString::fromStdString(data.File("OUT.PDF"));
    ASSERT_EQ(
        RunReportCommand(QStringLiteral("coins by year"), pdf, QString::fromStdString(db), c.paper),
        0);
    QProcess info;
    info.start(QStringLiteral("pdfinfo"), {pdf});
    ASSERT_TRUE(info.waitForFinished(60000));
    const QString out = QString::fromUtf8(info.readAllStandardOutput());
    EXPECT_TRUE(out.contains(QLatin1String(c.page_size))) << out.toStdString();
  }
  // Nothing was made beside the file found.
  EXPECT_FALSE(QFile::exists(QString::fromStdString(home.File("KLVCOIN.URP"))));
}

TEST(ReportPaper, TheLocaleSaysWhichPaper) {
  struct Case {
    const char *lc_all, *lc_paper, *lang;
    bool letter;
  } cases[] = {
      {"", "", "en_US.UTF-8", true}, {"", "", "de_DE.UTF-8", false},
      {"", "", "C.UTF-8", true},     {"", "", "", true},
      {"", "fr_CA", "de_DE", true},  {"en_GB.UTF-8", "en_US", "en_US", false},
      {"", "es_MX.utf8", "", true},  {"", "", "pt_BR", false},
  };
  const QByteArray saved[3] = {qgetenv("LC_ALL"), qgetenv("LC_PAPER"), qgetenv("LANG")};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.lc_all) + "/" + c.lc_paper + "/" + c.lang);
    qputenv("LC_ALL", c.lc_all);
    qputenv("LC_PAPER", c.lc_paper);
    qputenv("LANG", c.lang);
    const engine::PaperSize paper = engine::LocalePaper();
    EXPECT_NEAR(paper.width, c.letter ? 8.5 : 8.2677, 1e-3);
    EXPECT_NEAR(paper.height, c.letter ? 11.0 : 11.6929, 1e-3);
  }
  qputenv("LC_ALL", saved[0]);
  qputenv("LC_PAPER", saved[1]);
  qputenv("LANG", saved[2]);
  EXPECT_TRUE(engine::PaperNamed(QStringLiteral("A4")).has_value());
  EXPECT_TRUE(engine::PaperNamed(QStringLiteral("letter")).has_value());
  EXPECT_FALSE(engine::PaperNamed(QStringLiteral("legal")).has_value());
}

// The groups follow the rows as the table walks them: the fields of its
// active index, whatever order that is.
TEST(ReportGroups, FollowTheIndexTheRowsAreWalkedIn) {
  struct Case {
    const char* expression;  // "" for no index: record order
    GroupKey first, second;
  };
  const Case cases[] = {
      {"", {}, {}},
      {"Upper(Left(Year,40))+Upper(Left(Country,40))",
       {db::kYear, 40, true},
       {db::kCountry, 40, true}},
      {"STR(MarketValu,12,2)+Upper(Left(Country,40))",
       {db::kMarketValu, 0, false},
       {db::kCountry, 40, true}},
      {"Upper(Left(Topic,26))+DTOS(PurchDate)+STR(Quantity,12,0)",
       {db::kTopic, 26, true},
       {db::kPurchDate, 0, false}},
      {"COUNTRY+YEAR", {db::kCountry, 0, false}, {db::kYear, 0, false}},
      {"'A'+COUNTRY", {}, {}},  // a term without a field: no groups
  };
  const auto rows = test::ReadCoinCsv(kData + "/report-coins.csv");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expression);
    klv::test::TempDir dir;
    test::WriteCoinTable(dir.File("COINS.DBF"), rows);
    dbf::Table table;
    table.SetDirectory(dir.path());
    table.SetTableName("COINS.DBF");
    table.Open();
    if (*c.expression) {
      table.AddIndex("NewIndex", c.expression);
      table.SetIndexName("NewIndex");
    }
    const std::array<GroupKey, 2> keys = WalkOrderKeys(table);
    EXPECT_EQ(keys[0], c.first);
    EXPECT_EQ(keys[1], c.second);

    RunSetup setup;
    setup.mode = kModeFile;
    setup.text_file = QString::fromStdString(dir.File("R.TXT"));
    {
      engine::TReportFiler filer;
      ReportGenerator run(BuiltInReportDefs()[0], table, filer, setup);
      ASSERT_TRUE(run.Run());
      EXPECT_EQ(run.level1_field(), c.first.field);
    }
    const QString text = ReadAll(setup.text_file);
    if (c.first.field == 0) {
      // No groups: no caption box, the grand totals alone.
      EXPECT_FALSE(text.contains(QStringLiteral("---")));
      EXPECT_EQ(text.count(QStringLiteral("TOTALS")), 1);
      EXPECT_EQ(text.count(QStringLiteral("GRAND TOTALS")), 1);
      continue;
    }
    // One group per value of the first field, never one per row.
    std::set<std::string> values;
    for (const auto& r : rows) values.insert(r[static_cast<size_t>(c.first.field - 1)]);
    values.erase("");  // a group of blank values has no caption
    const qsizetype groups = text.count(QStringLiteral("TOTALS")) - 1;
    EXPECT_EQ(groups, static_cast<qsizetype>(values.size() + (c.first.field == db::kTopic)));
  }
}

// Two coins whose every field is filled to its full width: one of digits
// after a word's start (as wide as a value of that length is sized for),
// one of capitals W (the widest letter, which prints narrowed).
std::vector<std::vector<std::string>> FullWidthRows() {
  std::vector<std::vector<std::string>> rows(2);
  for (int f = 1; f <= db::kFieldCount; ++f) {
    const db::FieldInfo& info = db::FieldInfoOf(f);
    for (size_t r = 0; r < rows.size(); ++r) {
      std::string v;
      switch (info.kind) {
        case db::FieldKind::kDecimal:
          v = r == 0 ? "999999999.99" : "-99999999.99";
          break;
        case db::FieldKind::kWhole:
          v = r == 0 ? "99999" : "-9999";
          break;
        case db::FieldKind::kDate:
          v = "2000-12-28";
          break;
        case db::FieldKind::kText:
          if (r == 0) {
            v = std::string(info.name.substr(0, 2));
            for (int i = 0; static_cast<int>(v.size()) < info.width; ++i) v += char('0' + i % 10);
            v.resize(static_cast<size_t>(info.width));
          } else {
            v = std::string(static_cast<size_t>(info.width), 'W');
          }
          break;
      }
      rows[r].push_back(v);
    }
  }
  return rows;
}

QString PdfText(const QString& pdf_path) {
  QProcess p;
  p.start(QStringLiteral("pdftotext"), {pdf_path, QStringLiteral("-")});
  if (!p.waitForFinished(60000)) return QString();
  return QString::fromUtf8(p.readAllStandardOutput());
}

TEST(ReportFullWidth, EveryValueOfAFullRowPrintsWholeInEveryBuiltInReport) {
  klv::test::TempDir dir;
  const auto rows = FullWidthRows();
  test::WriteCoinTable(dir.File("FULL.DBF"), rows);
  dbf::Table table;
  test::OpenSorted(table, dir.path(), "FULL.DBF", kCountryYear);
  const QString base = QString::fromStdString(dir.path());
  // The values as a report shows them: amounts, quantities and dates in
  // the formats of the run (U.S., the table's M/d/yyyy).
  std::vector<std::vector<QString>> shown(rows.size());
  for (size_t r = 0; r < rows.size(); ++r) {
    for (int f = 1; f <= db::kFieldCount; ++f) {
      const std::string& v = rows[r][static_cast<size_t>(f - 1)];
      QString s = QString::fromStdString(v);
      if (db::FieldInfoOf(f).kind == db::FieldKind::kDate) s = QStringLiteral("12/28/2000");
      shown[r].push_back(s);
    }
  }
  for (const ReportDef& def : BuiltInReportDefs()) {
    SCOPED_TRACE(def.name.toStdString());
    RunSetup setup;
    setup.captions = app::Settings().field_names;
    setup.today = QStringLiteral("12/09/2026");

    setup.mode = kModeFile;
    setup.text_file = base + QStringLiteral("/FULL.TXT");
    {
      engine::TReportFiler filer;
      ReportGenerator run(def, table, filer, setup);
      ASSERT_TRUE(run.Run());
    }
    const QString text = ReadAll(setup.text_file);
    // Every line of the records within the report's width (the totals of
    // these coins are far beyond any value).
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype n = 0; n < lines.size(); ++n) {
      if (n > 0 && lines[n - 1].endsWith(QLatin1String("TOTALS"))) continue;
      EXPECT_LE(QString(lines[n]).remove(QLatin1Char('\f')).size(), def.width)
          << lines[n].toStdString();
    }

    setup.mode = kModeView;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadWrite);
    std::vector<QString> cells;
    {
      engine::TReportFiler filer;
      filer.SetStream(&buffer);
      ReportGenerator run(def, table, filer, setup);
      ASSERT_TRUE(run.Run());
      engine::StoredPages stored;
      stored.Open(&buffer);
      for (int n = 1; n <= stored.PageCount(); ++n)
        for (const PageCell& c : stored.Read(n).cells) cells.push_back(c.text);
    }

    setup.mode = kModePrint;
    const QString pdf_path = base + QStringLiteral("/FULL.PDF");
    {
      engine::TPdfReport pdf(pdf_path);
      ReportGenerator run(def, table, pdf, setup);
      ASSERT_TRUE(run.Run());
    }
    const QString pdf_text = PdfText(pdf_path);
    ASSERT_FALSE(pdf_text.isEmpty());

    for (int n = 0; n < def.lines; ++n) {
      const ReportLine& line = def.record_lines[static_cast<size_t>(n)];
      for (int i = 0; i < LineLength(line); ++i) {
        const ReportItem& item = line[static_cast<size_t>(i)];
        if (item.IsLabel()) {
          EXPECT_TRUE(text.contains(item.label)) << item.label.toStdString();
          EXPECT_NE(std::find(cells.begin(), cells.end(), item.label), cells.end())
              << item.label.toStdString();
          EXPECT_TRUE(pdf_text.contains(item.label)) << item.label.toStdString();
        }
        if (!item.IsField()) continue;
        for (size_t r = 0; r < rows.size(); ++r) {
          const QString& value = shown[r][static_cast<size_t>(item.field - 1)];
          EXPECT_TRUE(text.contains(value)) << "text: " << value.toStdString();
          EXPECT_NE(std::find(cells.begin(), cells.end(), value), cells.end())
              << "page: " << value.toStdString();
          EXPECT_TRUE(pdf_text.contains(value)) << "PDF: " << value.toStdString();
        }
      }
    }
  }
}

ReportDef CompleteReport() {
  const ReportDef def = BuiltInReportDefs()[3];
  EXPECT_EQ(def.name, QStringLiteral("Complete Report"));
  EXPECT_TRUE(def.print_obverse);
  return def;
}

TEST_F(ReportRunTest, EachObversePrintsBesideItsOwnRecordWhichNeverSplits) {
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

TEST_F(ReportRunTest, WithoutPicturesOrWithTheOptionOffPagesAreAsBefore) {
  const ReportDef complete = CompleteReport();
  ReportDef off = complete;
  off.print_obverse = false;
  const std::vector<Page> before = RunPages(complete);  // the table has no pictures yet
  std::vector<QByteArray> before_bytes;
  for (const Page& p : before) {
    EXPECT_TRUE(p.images.empty());
    before_bytes.push_back(engine::EncodePage(p));
  }
  AttachPictures();
  std::vector<QByteArray> after_bytes;
  for (const Page& p : RunPages(off)) after_bytes.push_back(engine::EncodePage(p));
  EXPECT_EQ(after_bytes, before_bytes);
  // The text file has no pictures: the same text with them.
  EXPECT_EQ(RunText(complete),
            ReadAll(QString::fromStdString(kData + "/report-golden/report4.txt")));
}

// SHA-256 of the stored pages of def over the rows, each page's bytes as
// written before their compression, in page order; with the page count.
QString StoredPagesHash(const ReportDef& def, dbf::Table& table, const RunSetup& setup) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadWrite);
  engine::TReportFiler filer;
  filer.SetStream(&buffer);
  ReportGenerator run(def, table, filer, setup);
  EXPECT_TRUE(run.Run());
  QCryptographicHash hash(QCryptographicHash::Sha256);
  qsizetype at = 8;  // the stream's magic
  int pages = 0;
  while (at + 4 <= bytes.size()) {
    const quint32 size = qFromLittleEndian<quint32>(bytes.constData() + at);
    hash.addData(qUncompress(bytes.mid(at + 4, size)));
    at += 4 + static_cast<qsizetype>(size);
    ++pages;
  }
  EXPECT_EQ(at, bytes.size());
  return QString::number(pages) + QLatin1Char(' ') + QString::fromLatin1(hash.result().toHex());
}

// The pages as drawn are the pages as stored: a faster run must not move a
// cell by a mil. The hashes were taken from runs checked by eye in the
// preview and in print.
TEST_F(ReportRunTest, StoredPagesAreByteForByteThoseRecorded) {
  // The hashes hold for the fonts the package list installs; elsewhere the
  // texts measure otherwise and the cells fall elsewhere.
  for (const auto& [asked, installed] : {std::pair{"Arial", "Liberation Sans"},
                                         std::pair{"Courier New", "Liberation Mono"}}) {
    if (QFontInfo(QFont(QString::fromLatin1(asked))).family() != QLatin1String(installed))
      GTEST_SKIP() << asked << " is not drawn in " << installed << " here";
  }
  // The collection ten times over: groups long enough to run over pages.
  std::vector<std::vector<std::string>> many;
  for (int copy = 0; copy < 10; ++copy) many.insert(many.end(), rows_.begin(), rows_.end());
  test::WriteCoinTable(dir_.File("MANY.DBF"), many);
  dbf::Table big;
  test::OpenSorted(big, dir_.path(), "MANY.DBF", kCountryYear);
  const std::vector<ReportDef> defs = BuiltInReportDefs();
  ReportDef landscape = defs[0];
  landscape.landscape = true;
  landscape.vertical_lines = landscape.horizontal_lines = true;
  struct Case {
    const char* name;
    ReportDef def;
    const char* hash;
  };
  for (const Case& c : {
           Case{"report 1", defs[0],
                "9 2d2dea19fb6f82c5b37d8b1b68fdf52f77339fa075c2955aba5a913b64790af8"},
           Case{"report 2", defs[1],
                "9 6319b00e6795c93329041d83820cc820f3bf132b8612606738206250de2fd3c0"},
           Case{"report 3", defs[2],
                "28 4b019b436603c447dcead79b8d93740ab9cf73633f2db60562d787899a8e43c9"},
           Case{"report 4", defs[3],
                "58 0573b05a1dbf1b76ce27516bac1a4b09f74c0cb612fca1fb1958ee28fa7e13f1"},
           Case{"report 5", defs[4],
                "1 12b3ec0f17a6e8decbecaeda6fa2e9a868980227cc3b53e8c58b142d77b8bf74"},
           Case{"report 1 landscape, boxed", landscape,
                "13 874ecb854984ed92fd8c5e95db68c975fca58ac8d56614d2a6b98d94c98e1e5c"},
       }) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(StoredPagesHash(c.def, big, Setup(kModeView)).toStdString(), c.hash);
  }
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

TEST_F(ReportRunTest, PictureGoneDuringTheRunPrintsNothingInItsPlace) {
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
