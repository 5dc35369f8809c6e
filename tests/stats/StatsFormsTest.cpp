// The statistics window and the want list behind the main window's
// Statistics and Want List commands: the window beside the main window, a
// chart picked from the list with its figures beneath, Refresh after another
// copy added rows, the search result, and the want list printed to PDF.
#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "app/OpenDatabase.h"
#include "db/FieldTable.h"
#include "db/dbf/Table.h"
#include "program/Program.h"
#include "report/Rpform.h"
#include "stats/StatsWindow.h"
#include "stats/WantForm.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"

namespace klv::stats {
namespace {

using app::TMain;
using klv::test::TestPrompts;
using program::Program;

struct Coin {
  const char* country;
  const char* condition;
  int quantity;
  const char* wanted;
};

void AddCoins(dbf::Table& table, std::initializer_list<Coin> coins) {
  for (const Coin& c : coins) {
    table.Append();
    table.FieldByName("Country").SetAsString(c.country);
    table.FieldByName("Condition").SetAsString(c.condition);
    table.FieldByName("Quantity").SetAsInteger(c.quantity);
    table.FieldByName("PurchasePr").SetAsFloat(2.5);
    table.FieldByName("Wanted").SetAsString(c.wanted);
    table.Post();
  }
}

// The rows of France only, as a search would accept them.
class FranceOnly : public app::RowFilter {
 public:
  bool Accept(dbf::Table& table) override {
    return table.FieldByName("Country").AsString() == "France";
  }
};

class StatsFormsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (program_) program_->main().close();
    program_.reset();
  }

  Program& Start() {
    path_ = data_.File("COINS.DBF");
    dbf::Table::CreateTable(path_, db::CoinFieldDefs());
    {
      dbf::Table t;
      t.SetDirectory(data_.path());
      t.SetTableName("COINS.DBF");
      t.Open();
      AddCoins(
          t,
          {{"France", "Fine", 2, "No"}, {"Chile", "fine ", 1, "Yes"}, {"france", "VF", 3, "Yes"}});
    }
    program_ = std::make_unique<Program>(QString());
    app::StartOptions o;
    o.arguments = {QString::fromStdString(path_)};
    o.screen = QSize(1280, 1024);
    EXPECT_TRUE(program_->Start(o));
    program_->main().show();
    return *program_;
  }
  TMain& Main() { return program_->main(); }

  TStatsWindow& OpenStatistics() {
    Main().Trigger(TMain::kStatistics);
    TStatsWindow* w = program_->statistics();
    EXPECT_NE(w, nullptr);
    EXPECT_TRUE(QTest::qWaitForWindowExposed(w));
    return *w;
  }

  // Picks a chart as a person does: a click on its line in the list.
  static void PickChart(TStatsWindow& w, const QString& title) {
    const QList<QListWidgetItem*> items = w.ChartList->findItems(title, Qt::MatchExactly);
    ASSERT_EQ(items.size(), 1) << title.toStdString();
    const QRect r = w.ChartList->visualItemRect(items[0]);
    QTest::mouseClick(w.ChartList->viewport(), Qt::LeftButton, {}, r.center());
  }

  // The figures table, one string per line: its cells joined by '|'.
  static QStringList Figures(const TStatsWindow& w) {
    QStringList lines;
    for (int r = 0; r < w.FiguresTable->rowCount(); ++r) {
      QStringList cells;
      for (int c = 0; c < w.FiguresTable->columnCount(); ++c)
        cells << w.FiguresTable->item(r, c)->text();
      lines << cells.join(u'|');
    }
    return lines;
  }

  klv::test::TempDir home_, windir_, data_;
  klv::test::ProgramDirsInEnvironment dirs_{home_, windir_};
  std::unique_ptr<Program> program_;
  std::string path_;
};

TEST_F(StatsFormsTest, WindowBesideTheMainWindowShowsThePickedChart) {
  Start();
  TStatsWindow& w = OpenStatistics();
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Statistics"));
  EXPECT_FALSE(w.isModal());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_EQ(w.ChartList->count(), 7);
  EXPECT_TRUE(w.NoticeLabel->text().startsWith(QStringLiteral("All coins of the collection.")));
  // Coins by country: letter case and blanks do not part a group.
  EXPECT_EQ(Figures(w),
            (QStringList{"France|2|5|12.50|0.00", "Chile|1|1|2.50|0.00", "Total|3|6|15.00|0.00"}));

  PickChart(w, QStringLiteral("Coins by Condition"));
  EXPECT_EQ(w.ChartList->currentRow(), 2);
  EXPECT_EQ(Figures(w),
            (QStringList{"Fine|2|3|7.50|0.00", "VF|1|3|7.50|0.00", "Total|3|6|15.00|0.00"}));

  // Another copy adds a row; Refresh counts it.
  {
    dbf::Table other;
    other.SetDirectory(data_.path());
    other.SetTableName("COINS.DBF");
    other.Open();
    AddCoins(other, {{"Peru", "", 4, "No"}});
  }
  QTest::mouseClick(w.RefreshButton, Qt::LeftButton);
  EXPECT_EQ(w.ChartList->currentRow(), 2);
  EXPECT_EQ(Figures(w), (QStringList{"Fine|2|3|7.50|0.00", "(none)|1|4|10.00|0.00",
                                     "VF|1|3|7.50|0.00", "Total|4|10|25.00|0.00"}));
  EXPECT_TRUE(w.NoticeLabel->text().contains(QStringLiteral("Rows counted: 4")));
}

TEST_F(StatsFormsTest, InSearchModeTheWindowCountsAndSaysTheSearchResult) {
  Start();
  FranceOnly filter;
  app::OpenDatabase& db = Main().database();
  db.SetRowFilter(&filter);
  db.SetSearchMode(true);
  db.ReopenMyTable();
  TStatsWindow& w = OpenStatistics();
  EXPECT_TRUE(
      w.NoticeLabel->text().startsWith(QStringLiteral("Statistics of the search result only.")));
  EXPECT_EQ(Figures(w), (QStringList{"France|1|2|5.00|0.00", "Total|1|2|5.00|0.00"}));
  // The search ended: the window counts the whole collection again by
  // itself, and again when a search begins while it is hidden and shown.
  db.EndSearch();
  db.SetRowFilter(nullptr);
  QApplication::processEvents();
  EXPECT_TRUE(w.NoticeLabel->text().startsWith(QStringLiteral("All coins of the collection.")));
  EXPECT_EQ(Figures(w).size(), 3);
  w.hide();
  db.SetRowFilter(&filter);
  db.SetSearchMode(true);
  db.ReopenMyTable();
  w.show();
  QApplication::processEvents();
  EXPECT_TRUE(
      w.NoticeLabel->text().startsWith(QStringLiteral("Statistics of the search result only.")));
  EXPECT_EQ(Figures(w), (QStringList{"France|1|2|5.00|0.00", "Total|1|2|5.00|0.00"}));
}

TEST_F(StatsFormsTest, WantListPrintsToPdfThroughTheReportEngine) {
  Start();
  const QString pdf = QString::fromStdString(data_.File("WANT.PDF"));
  TestPrompts().AnswerSaveFile(pdf);
  bool form_seen = false, status_seen = false;
  QPointer<QWidget> done;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    QWidget* m = QApplication::activeModalWidget();
    if (!m || m == done) return;
    if (auto* f = qobject_cast<TWantForm*>(m)) {
      // Clicks run outside this handler: what they open has a loop of its own.
      if (form_seen) {
        done = f;
        QTimer::singleShot(0, f, [f] { QTest::mouseClick(f->CloseButton, Qt::LeftButton); });
        return;
      }
      form_seen = true;
      EXPECT_EQ(f->windowTitle(), QStringLiteral("Want List"));
      QTimer::singleShot(0, f, [f] { QTest::mouseClick(f->PdfButton, Qt::LeftButton); });
    } else if (auto* s = qobject_cast<report::TReportForm*>(m)) {
      if (s->Running()) return;
      status_seen = true;
      EXPECT_EQ(s->StatusLabel->text(), QStringLiteral("Report Completed!"));
      done = s;
      QTimer::singleShot(0, s, [s] { QTest::mouseClick(s->OkButton, Qt::LeftButton); });
    }
  });
  timer.start(10);
  Main().Trigger(TMain::kWantList);
  EXPECT_TRUE(form_seen);
  EXPECT_TRUE(status_seen);
  ASSERT_TRUE(QFileInfo(pdf).isFile());
  const std::string txt = data_.File("WANT.TXT");
  const std::string cmd = "pdftotext -layout '" + pdf.toStdString() + "' '" + txt + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const std::string text = klv::test::ReadFileBytes(txt);
  EXPECT_NE(text.find("Want List"), std::string::npos);
  const size_t chile = text.find("Chile"), france = text.find("france");
  ASSERT_NE(chile, std::string::npos);
  ASSERT_NE(france, std::string::npos);
  EXPECT_LT(chile, france);
  EXPECT_EQ(text.find("France "), std::string::npos) << "a coin not wanted";
}

}  // namespace
}  // namespace klv::stats
