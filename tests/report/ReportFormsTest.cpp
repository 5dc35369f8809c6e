// The report forms behind the main window's Reports command, on the fixed
// collection: the chooser's state and refusals, a view run into the preview
// with its navigation and zoom, Cancel in the middle of a long run, Print To
// File and PDF, reports of a search, the page range and the printer selection.
#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <functional>
#include <map>
#include <memory>

#include <gtest/gtest.h>

#include "db/FieldTable.h"
#include "find/Search1.h"
#include "program/Program.h"
#include "report/MyRep1.h"
#include "report/PrtRange.h"
#include "report/PrtSel.h"
#include "report/ReportCoins.h"
#include "report/Repprev.h"
#include "report/Rpform.h"
#include "report/UrpFile.h"
#include "report/engine/ReportPrinter.h"
#include "support/RecordedColors.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"

namespace klv::report {
namespace {

using app::TMain;
using klv::test::TestPrompts;
using platform::MsgButton;
using program::Program;

const std::string kData = KLV_TEST_DATA_DIR;

class ReportFormsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (program_) program_->main().close();
    program_.reset();
  }

  // The program on the fixed collection, repeated copies times.
  Program& Start(int copies = 1) {
    auto rows = test::ReadCoinCsv(kData + "/report-coins.csv");
    std::vector<std::vector<std::string>> all;
    for (int i = 0; i < copies; ++i) all.insert(all.end(), rows.begin(), rows.end());
    const std::string path = data_.File("COINS.DBF");
    test::WriteCoinTable(path, all);
    program_ = std::make_unique<Program>(QString());
    app::StartOptions o;
    o.arguments = {QString::fromStdString(path)};
    o.screen = QSize(1280, 1024);
    EXPECT_TRUE(program_->Start(o));
    program_->main().show();
    return *program_;
  }
  TMain& Main() { return program_->main(); }

  // Calls act on every modal form that shows while run runs, until act
  // returns true for it (then it is left to close itself) or it closes.
  void WhileModal(const std::function<void()>& run, const std::function<bool(QWidget*)>& act) {
    QTimer timer;
    QPointer<QWidget> done;  // a form gone is never taken for a new one at its address
    QObject::connect(&timer, &QTimer::timeout, [&] {
      QWidget* w = QApplication::activeModalWidget();
      if (w && w != done && act(w)) done = w;
    });
    timer.start(10);
    run();
  }

  klv::test::TempDir home_, windir_, data_;
  klv::test::ProgramDirsInEnvironment dirs_{home_, windir_};
  std::unique_ptr<Program> program_;
};

TEST_F(ReportFormsTest, ChooserListsTheDefinitionsAndRefusesWithoutASelection) {
  Start();
  EXPECT_TRUE(Main().CommandAvailable(TMain::kReports));
  EXPECT_TRUE(Main().CommandAvailable(TMain::kPrint));
  klv::test::RecordedColors colors;
  Main().state().settings.last_report = 7;  // beyond the list
  bool shown = false;
  WhileModal([&] { Main().Trigger(TMain::kReports); },
             [&](QWidget* w) {
               auto* c = qobject_cast<TMyReport*>(w);
               if (!c) return false;
               shown = true;
               EXPECT_EQ(c->windowTitle(), QStringLiteral("Reports"));
               EXPECT_EQ(c->ReportBox->count(), 5);
               EXPECT_EQ(c->ReportBox->item(3)->text(), QStringLiteral("Complete Report"));
               EXPECT_TRUE(c->ReportBox->selectedItems().isEmpty());
               EXPECT_TRUE(c->EntireButton->isChecked());
               EXPECT_FALSE(c->SearchButton->isEnabled());
               EXPECT_EQ(c->SortPanel->text(), QStringLiteral("Miscellaneous"));
               EXPECT_TRUE(c->ModifyButton->isEnabled());
               EXPECT_TRUE(c->NewButton->isEnabled());
               TestPrompts().ExpectMessage(QStringLiteral("Error"),
                                           QStringLiteral("No Report has been selected.  Please "
                                                          "choose one."),
                                           MsgButton::kOk);
               c->ViewButtonClick();
               EXPECT_EQ(TestPrompts().beeps(), 1);
               c->ReportBox->setCurrentRow(2);
               c->ExitButtonClick();
               return true;
             });
  EXPECT_TRUE(shown);
  EXPECT_EQ(Main().state().settings.last_report, 2);
  ASSERT_FALSE(colors.asked.empty());
  EXPECT_EQ(colors.asked.back().second, forms::ColorGroupId::kReport);
}

TEST_F(ReportFormsTest, ViewShowsThePagesWithNavigationAndZoom) {
  Start(4);  // 160 coins
  Main().state().settings.last_report = 0;
  Main().state().settings.report_window = {10, 20, 900, 700};
  int previews = 0;
  QString status;
  WhileModal([&] { Main().Trigger(TMain::kReports); },
             [&](QWidget* w) {
               if (auto* c = qobject_cast<TMyReport*>(w)) {
                 QTimer::singleShot(0, c, [c] {
                   c->ViewButtonClick();
                   c->ExitButtonClick();
                 });
                 return true;
               }
               if (auto* s = qobject_cast<TReportForm*>(w)) {
                 if (s->Running()) return false;
                 status = s->StatusLabel->text();
                 s->OkButtonClick();
                 return true;
               }
               auto* p = qobject_cast<TMyPreview*>(w);
               if (!p) return false;
               ++previews;
               EXPECT_EQ(p->windowTitle(), QStringLiteral("Simple List Report"));
               const int count = p->FilePreview->PageCount();
               EXPECT_GE(count, 4);
               EXPECT_EQ(p->PageLabel->text(), QStringLiteral("Page 1 of %1").arg(count));
               p->FilePreview->NextPage();
               EXPECT_EQ(p->PageEdit->text(), QStringLiteral("2"));
               p->PageEdit->setText(QString::number(count));
               p->PageEditDone();
               EXPECT_EQ(p->PageLabel->text(), QStringLiteral("Page %1 of %1").arg(count));
               p->FilePreview->NextPage();  // past the end: stays
               EXPECT_EQ(p->FilePreview->CurrentPage(), count);
               p->ZoomEdit->setText(QStringLiteral("50"));
               p->ZoomEditDone();
               EXPECT_EQ(p->ZoomEdit->text(), QStringLiteral("50.0"));
               p->SetZoom(p->FilePreview->ZoomPageWidthFactor());
               EXPECT_GT(p->FilePreview->ZoomFactor(), 50);
               const QImage image = p->FilePreview->Render();
               EXPECT_GT(image.width(), 300);
               if (const char* dir = std::getenv("KLV_REPORT_SHOTS"))
                 image.save(QString::fromLocal8Bit(dir) + QStringLiteral("/preview-last.png"));
               p->resize(800, 600);
               p->close();
               return true;
             });
  EXPECT_EQ(previews, 1);
  EXPECT_EQ(status, QStringLiteral("Report Completed!"));
  EXPECT_EQ(Main().state().settings.report_window.width, 800);
}

TEST_F(ReportFormsTest, CancelEndsALongRunAndLeavesNoFile) {
  Start(100);  // 4000 coins, the complete report: hundreds of pages
  Main().state().settings.last_report = 3;
  const QString file = QString::fromStdString(data_.File("REPORT.TXT"));
  TestPrompts().AnswerSaveFile(file);
  QString status;
  int previews = 0;
  WhileModal([&] { Main().Trigger(TMain::kReports); },
             [&](QWidget* w) {
               if (auto* c = qobject_cast<TMyReport*>(w)) {
                 QTimer::singleShot(0, c, [c] {
                   c->FileButtonClick();
                   c->ViewButtonClick();  // a view run cancelled too: no preview
                   c->ExitButtonClick();
                 });
                 return true;
               }
               if (qobject_cast<TMyPreview*>(w)) ++previews;
               auto* s = qobject_cast<TReportForm*>(w);
               if (!s) return false;
               if (s->Running()) {
                 // Cancel as soon as the window gets to work, pages into the run.
                 EXPECT_TRUE(s->StatusLabel->text().startsWith(QStringLiteral("Printing Page ")));
                 EXPECT_EQ(s->OkButton->text(), QStringLiteral("&Cancel"));
                 s->OkButtonClick();
                 return false;
               }
               status = s->StatusLabel->text();
               EXPECT_EQ(s->OkButton->text(), QStringLiteral("&Ok"));
               s->OkButtonClick();
               return true;
             });
  EXPECT_EQ(status, QStringLiteral("Report Canceled!"));
  EXPECT_EQ(previews, 0);
  EXPECT_FALSE(QFile::exists(file));
  // Only the table and its index: no temporary file is left behind.
  EXPECT_EQ(QDir(QString::fromStdString(data_.path())).entryList(QDir::Files).size(), 2);
  const auto& asked = TestPrompts().asked();
  ASSERT_FALSE(asked.empty());
  EXPECT_EQ(asked[0].file.title, QStringLiteral("Save Report As a Text File"));
  EXPECT_EQ(asked[0].file.filter, QStringLiteral("Text Files (*.TXT)|*.TXT"));
  EXPECT_TRUE(asked[0].file.overwrite_prompt);
}

// A criterion typed into the search form's Country cell, then the first list
// report to a text file: "Print Search Criteria" prints the matching coins
// only, "Print Entire Database" every coin.
TEST_F(ReportFormsTest, SearchModeReportsPrintTheFoundCoinsOrAll) {
  struct Case {
    bool found_only;
    std::map<QString, int> rows;
  };
  const Case cases[] = {
      {true, {{"Mexico", 7}}},
      {false,
       {{"Canada", 6},
        {"France", 7},
        {"Germany", 6},
        {"Mexico", 7},
        {"United Kingdom", 6},
        {"United States", 8}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.found_only ? "search criteria" : "entire database");
    Start();
    bool searched = false;
    WhileModal([&] { Main().Trigger(TMain::kSearch); },
               [&](QWidget* w) {
                 auto* f = qobject_cast<find::TMySearch*>(w);
                 if (!f) return false;
                 QTimer::singleShot(0, f, [f, &searched] {
                   EXPECT_TRUE(QTest::qWaitForWindowActive(f));
                   QTableWidget* grid = f->SearchGrid;
                   const QRect cell = grid->visualItemRect(grid->item(db::kCountry, 2));
                   // The click goes to the widget under the pointer, the cell's
                   // editor when it is open already.
                   const QPoint at(cell.right() - 6, cell.center().y());
                   QWidget* under = grid->viewport()->childAt(at);
                   if (!under) under = grid->viewport();
                   QTest::mouseClick(under, Qt::LeftButton, {},
                                     under->mapFrom(grid->viewport(), at));
                   for (int waited = 0;
                        waited < 2000 && !qobject_cast<QLineEdit*>(QApplication::focusWidget());
                        waited += 20)
                     QTest::qWait(20);
                   EXPECT_NE(qobject_cast<QLineEdit*>(QApplication::focusWidget()), nullptr);
                   QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("Mexico"));
                   QTest::mouseClick(f->OkButton, Qt::LeftButton);
                   searched = !f->isVisible();
                   if (!searched) f->reject();
                 });
                 return true;
               });
    ASSERT_TRUE(searched);
    ASSERT_TRUE(Main().database().searching());

    const QString file = QString::fromStdString(data_.File("REPORT.TXT"));
    TestPrompts().AnswerSaveFile(file);
    Main().state().settings.last_report = 0;
    WhileModal([&] { Main().Trigger(TMain::kReports); },
               [&](QWidget* w) {
                 if (auto* r = qobject_cast<TMyReport*>(w)) {
                   QTimer::singleShot(0, r, [r, &c] {
                     EXPECT_TRUE(r->SearchButton->isEnabled());
                     QRadioButton* choice = c.found_only ? r->SearchButton : r->EntireButton;
                     QTest::mouseClick(choice, Qt::LeftButton, {}, choice->rect().center());
                     EXPECT_TRUE(choice->isChecked());
                     QTest::mouseClick(r->FileButton, Qt::LeftButton);
                     QTest::mouseClick(r->ExitButton, Qt::LeftButton);
                   });
                   return true;
                 }
                 auto* s = qobject_cast<TReportForm*>(w);
                 if (!s || s->Running()) return false;
                 s->OkButtonClick();
                 return true;
               });
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    // A coin's row: its country, then the year.
    const QRegularExpression row(QStringLiteral("^(\\S.*?)\\s+\\d{4}\\s"));
    std::map<QString, int> printed;
    for (const QString& line : QString::fromLatin1(out.readAll()).split('\n')) {
      const auto m = row.match(line);
      if (m.hasMatch()) ++printed[m.captured(1)];
    }
    EXPECT_EQ(printed, c.rows);
    program_->main().close();
    program_.reset();
    QFile::remove(file);
  }
}

// A definitions file copied from another system, in lower case: the chooser
// lists its definitions (none added beside it); a piece of a record at its
// end is said when the chooser opens.
TEST_F(ReportFormsTest, ChooserReadsTheDefinitionsFileInAnyLetterCaseAndSaysItIsDamaged) {
  const std::string lower = home_.File("klvcoin.urp");
  {
    UrpFile file(QString::fromStdString(lower));
    ReportDef mine = BuiltInReportDefs()[0];
    mine.name = QStringLiteral("Coins By Year");
    file.Append(mine);
  }
  {
    QFile f(QString::fromStdString(lower));
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write(QByteArray(100, 'x'));
  }
  Start();
  TestPrompts().ExpectMessage(
      QStringLiteral("Warning"),
      QStringLiteral("The report definitions file \"%1\" ends in 100 bytes that are not a whole "
                     "report definition.  They are left out; the next change to the file keeps "
                     "the file as it is now beside it first.")
          .arg(QString::fromStdString(lower)),
      MsgButton::kOk);
  int shown = 0;
  WhileModal([&] { Main().Trigger(TMain::kReports); },
             [&](QWidget* w) {
               auto* c = qobject_cast<TMyReport*>(w);
               if (!c || QApplication::activeModalWidget() != c) return false;
               ++shown;
               EXPECT_EQ(c->ReportBox->count(), 1);
               if (c->ReportBox->count() > 0) {
                 EXPECT_EQ(c->ReportBox->item(0)->text(), QStringLiteral("Coins By Year"));
               }
               QTest::mouseClick(c->ExitButton, Qt::LeftButton, {}, c->ExitButton->rect().center());
               return true;
             });
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(TestPrompts().asked().size(), 1u);
  EXPECT_EQ(QDir(QString::fromStdString(home_.path()))
                .entryList({QStringLiteral("*.urp"), QStringLiteral("*.URP")}, QDir::Files),
            QStringList{QStringLiteral("klvcoin.urp")});
}

// Stored pages that cannot be read: turning to the damaged page shows the
// message with the preview still open, instead of throwing through the
// event loop.
TEST_F(ReportFormsTest, APreviewCommandThatFailsSaysSoWhereItRuns) {
  klv::test::TempDir dir;
  test::WriteCoinTable(dir.File("COINS.DBF"), test::ReadCoinCsv(kData + "/report-coins.csv"));
  dbf::Table table;
  test::OpenSorted(table, dir.path(), "COINS.DBF", {db::kCountry, db::kYear, 0, 0});
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadWrite);
  {
    engine::TReportFiler filer;
    filer.SetStream(&buffer);
    RunSetup setup;
    ReportGenerator run(BuiltInReportDefs()[3], table, filer, setup);
    ASSERT_TRUE(run.Run());
    ASSERT_GE(filer.PagesWritten(), 2);
  }
  // The last page's compressed bytes are spoilt.
  for (qsizetype i = bytes.size() - 40; i < bytes.size(); ++i) bytes[i] = '\x5A';
  app::AppState state;
  state.settings.report_window = {0, 0, 800, 600};
  TMyPreview preview(&buffer, QStringLiteral("Complete Report"), -1, state);
  QStringList errors;
  bool open_when_told = false;
  preview.OnError = [&](const QString& message) {
    errors << message;
    open_when_told = preview.isVisible();
  };
  preview.show();
  QWidget* next = preview.ToolBar->widgetForAction(preview.NextPageSpeed);
  ASSERT_NE(next, nullptr);
  for (int n = 1; n < preview.FilePreview->PageCount(); ++n)
    QTest::mouseClick(next, Qt::LeftButton, {}, next->rect().center());
  EXPECT_EQ(errors, QStringList{QStringLiteral("The stored report pages are damaged.")});
  EXPECT_TRUE(open_when_told);
  EXPECT_LT(preview.FilePreview->CurrentPage(), preview.FilePreview->PageCount());
}

TEST_F(ReportFormsTest, PageRangeIsCheckedAgainstThePageCount) {
  struct Case {
    const char *start, *end;
    const char* message;  // nullptr: accepted
  } cases[] = {
      {"1", "5", nullptr},
      {" 3 ", "3", nullptr},  // one page
      {"0", "5", "Invalid Starting Page specified. Please correct."},
      {"6", "6", "Invalid Starting Page specified. Please correct."},
      {"x", "5", "Invalid Starting Page specified. Please correct."},
      {"3", "2", "Invalid Ending Page specified.  Please correct."},
      {"3", "6", "Invalid Ending Page specified.  Please correct."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.start) + "-" + c.end);
    TPrintRange range(5, 1.0);
    EXPECT_EQ(range.windowTitle(), QStringLiteral("Page Printing"));
    EXPECT_EQ(range.EndEdit->text(), QStringLiteral("5"));
    range.StartEdit->setText(QString::fromLatin1(c.start));
    range.EndEdit->setText(QString::fromLatin1(c.end));
    if (c.message)
      TestPrompts().ExpectMessage(QStringLiteral("Error"), QString::fromLatin1(c.message),
                                  MsgButton::kOk);
    range.PrintButtonClick();
    EXPECT_EQ(range.result(), c.message ? 0 : int(QDialog::Accepted));
    if (!c.message) {
      EXPECT_EQ(range.first(), QString::fromLatin1(c.start).trimmed().toInt());
      EXPECT_EQ(range.last(), QString::fromLatin1(c.end).toInt());
    }
  }
}

TEST_F(ReportFormsTest, PrinterSelectionStoresOnlyOnOk) {
  app::AppState state;
  state.settings.default_printer = true;
  state.settings.printer_index = 3;
  TPrintSelect select(state);
  select.show();
  EXPECT_EQ(select.windowTitle(), QStringLiteral("Printer Selection"));
  EXPECT_TRUE(select.DefaultButton->isChecked());
  EXPECT_FALSE(select.PrinterBox->isEnabled());
  select.OtherButton->setChecked(true);
  select.CancelButtonClick();
  EXPECT_TRUE(state.settings.default_printer);
  select.show();
  select.OtherButton->setChecked(true);
  select.OkButtonClick();
  EXPECT_FALSE(state.settings.default_printer);
  EXPECT_EQ(TPrintSelect::PrinterOf(state.settings),
            select.PrinterBox->count() > 0 ? select.PrinterBox->currentIndex() : 3);
}

}  // namespace
}  // namespace klv::report

namespace klv::report {
namespace {

// Prints once on a real CUPS queue (the cups-pdf printer of the design
// notes), when the system has one.
TEST(ReportPrinting, PrintsOnARealQueue) {
  if (engine::PrinterNames().isEmpty()) GTEST_SKIP() << "no printer queue on this system";
  klv::test::TempDir dir;
  auto rows = test::ReadCoinCsv(kData + "/report-coins.csv");
  test::WriteCoinTable(dir.File("COINS.DBF"), rows);
  dbf::Table table;
  test::OpenSorted(table, dir.path(), "COINS.DBF", {db::kCountry, db::kYear, 0, 0});
  engine::TReportPrinter printer;
  printer.SelectPrinter(-1);
  RunSetup setup;
  setup.mode = kModePrint;
  setup.today = QStringLiteral("12/09/2026");
  ReportGenerator run(BuiltInReportDefs()[1], table, printer, setup);
  ASSERT_TRUE(run.Run());
  EXPECT_FALSE(run.Aborted());
  EXPECT_GE(printer.PagesPrinted(), 2);
}

}  // namespace
}  // namespace klv::report
