// The search form and the sort order dialog on a real coin table held by an
// OpenDatabase: what search mode then shows (count, grid, walk), the form's
// messages with their exact texts, and the sort index with its settings,
// another process holding the table, and a failure part way.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>
#include <cstdlib>
#include <functional>

#include "app/OpenDatabase.h"
#include "app/ViewerModel.h"
#include "base/FaultEnv.h"
#include "db/FieldTable.h"
#include "find/CoinRows.h"
#include "find/Search1.h"
#include "find/Sort1.h"
#include "find/SrchMask.h"
#include "find/SrchRep.h"
#include "platform/Profile.h"
#include "support/HeldTable.h"
#include "support/QtText.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"

namespace klv::find {
namespace {

using namespace klv::db;
using klv::test::Q;
using klv::test::TestPrompts;
using platform::MsgButton;
using test::CoinRow;

const std::vector<CoinRow> kRows = {
    {"USA", "1950", "Ships", "", "D", 5.0, {}, {}, dbf::Date{}},
    {"USA", "1960", "Birds", "", "", 15.0, {}, {}, dbf::Date{2020, 3, 1}},
    {"Canada", "1950", "tall SHIPS", "", "", 25.0, {}, {}, dbf::Date{}},
    {"Peru", "1935", "Animals", "", "", 10.0, {}, {}, dbf::Date{2019, 1, 1}},
    {"Mexico", "", "", "", "", {}, {}, {}, dbf::Date{}},
};

class FindFormTest : public ::testing::Test {
 protected:
  FindFormTest() {
    state_.program_dir = Q(dir_.path());
    state_.windows_dir = Q(dir_.path());
    state_.files.program_ini = Q(dir_.File("KLVCOIN.INI"));
    state_.files.start_dir = Q(dir_.path());
    {
      dbf::Table t;
      MakeCoinTable(dir_, kRows, t);
    }
    db_.OpenAtStart(Q(dir_.File("COINS.DBF")));
    state_.settings.date_format = 7;  // mm/dd/yyyy
    model_.SetTable(&db_.MyTable());
  }
  ~FindFormTest() override { model_.SetTable(nullptr); }

  // What search mode shows: the count, the grid's rows and a walk agree.
  std::vector<uint32_t> Shown() {
    model_.Reload();
    const std::vector<uint32_t> walked = test::Walk(db_.MyTable());
    EXPECT_EQ(db_.MyTable().RecordCount(), walked.size());
    EXPECT_EQ(model_.RecordCount(), walked.size());
    EXPECT_EQ(model_.rowCount(), static_cast<int>(walked.size()));
    return walked;
  }

  // Clicks the "..." of row and picks entry index in the picker.
  static void Pick(TMySearch& form, int row, int index) {
    bool picked = false;
    QTimer::singleShot(0, [&] {
      auto* picker = qobject_cast<TSearchOptions*>(QApplication::activeModalWidget());
      ASSERT_NE(picker, nullptr);
      EXPECT_EQ(picker->windowTitle(), "Search Options");
      picker->ListBox1->setCurrentRow(index);
      picker->OkButton->click();
      picked = true;
    });
    form.SearchGridMouseUp(row, 1);
    EXPECT_TRUE(picked);
  }

  klv::test::TempDir dir_;
  app::AppState state_;
  app::OpenDatabase db_{state_};
  app::ViewerModel model_;
};

TEST_F(FindFormTest, SearchEndToEnd) {
  TMySearch form(db_);
  form.show();
  EXPECT_EQ(form.windowTitle(), "Search");
  EXPECT_EQ(form.SearchGrid->rowCount(), 21);
  EXPECT_EQ(form.SearchGrid->columnCount(), 3);
  EXPECT_EQ(form.SearchGrid->item(0, 0)->text(), " FIELD");
  EXPECT_EQ(form.SearchGrid->item(0, 2)->text(), " SEARCH CRITERIA    (Level 1)");
  EXPECT_EQ(form.SearchGrid->item(kTopic, 0)->text(), " " + state_.settings.field_names[kTopic]);
  EXPECT_EQ(form.SearchGrid->columnWidth(2), 378);

  // Two levels: (country USA and year 1950) or topic ships.
  form.SetCellText(kCountry, "usa");
  form.SetCellText(kYear, "1950");
  form.MoreButtonClick();
  EXPECT_EQ(form.SearchGrid->item(0, 2)->text(), " SEARCH CRITERIA    (Level 2)");
  EXPECT_EQ(form.CellText(kCountry), "");
  // A level without entries is refused, the earlier level kept.
  TestPrompts().ExpectMessage("Error", "No search criteria entered.", MsgButton::kOk);
  form.OkButtonClick();
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.list().count(), 2);
  form.SetCellText(kTopic, "ships");
  form.OkButtonClick();
  EXPECT_FALSE(form.isVisible());
  EXPECT_TRUE(db_.searching());
  EXPECT_EQ(Shown(), (std::vector<uint32_t>{1, 3}));

  // A range through the operator picker, a date typed into its masked edit.
  form.show();
  EXPECT_EQ(form.SearchGrid->item(0, 2)->text(), " SEARCH CRITERIA    (Level 1)");
  EXPECT_EQ(form.CellText(kTopic), "");
  Pick(form, kPurchasePr, 3);
  EXPECT_EQ(form.row_operator(kPurchasePr), RowOperator::kRange);
  EXPECT_EQ(form.RowInputMask(kPurchasePr), "\\> xxxxxxxxx \\A\\N\\D \\< xxxxxxxx; ");
  form.SetCellText(kPurchasePr, "> 5         AND < 20      ");
  Pick(form, kPurchDate, 1);
  EXPECT_EQ(form.RowInputMask(kPurchDate), "\\> 00/00/9999; ");
  form.SearchGrid->setCurrentCell(kPurchDate, 2);
  QLineEdit* editor = nullptr;
  for (QLineEdit* e : form.SearchGrid->findChildren<QLineEdit*>())
    if (e->isVisible() && e->inputMask() + "; " == form.RowInputMask(kPurchDate)) editor = e;
  ASSERT_NE(editor, nullptr);
  editor->setCursorPosition(2);
  QTest::keyClicks(editor, "06012019");
  form.OkButtonClick();
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.CellText(kPurchDate), "> 06/01/2019");
  EXPECT_EQ(Shown(), (std::vector<uint32_t>{2}));

  // Exit keeps the search in force, whatever the form held.
  form.show();
  form.SetCellText(kCountry, "Peru");
  form.ExitButtonClick();
  EXPECT_TRUE(db_.searching());
  EXPECT_EQ(Shown(), (std::vector<uint32_t>{2}));

  // A value list fills the cell; Clear empties the screen and the levels.
  form.show();
  Pick(form, kWanted, 1);
  EXPECT_EQ(form.CellText(kWanted), "NO");
  form.SetCellText(kCountry, "x");
  form.MoreButtonClick();
  form.ClearButtonClick();
  EXPECT_EQ(form.CellText(kWanted), "");
  EXPECT_EQ(form.list().count(), 0);
  EXPECT_EQ(form.SearchGrid->item(0, 2)->text(), " SEARCH CRITERIA    (Level 1)");

  // No match: search mode ends, the criteria go, the form stays.
  form.SetCellText(kCountry, "ZZZ");
  TestPrompts().ExpectMessage("Notice", "No valid matches found.  Search criteria will be cleared.",
                              MsgButton::kOk);
  form.OkButtonClick();
  EXPECT_TRUE(form.isVisible());
  EXPECT_FALSE(db_.searching());
  EXPECT_EQ(form.CellText(kCountry), "");
  EXPECT_EQ(form.list().count(), 0);
  EXPECT_EQ(Shown(), (std::vector<uint32_t>{1, 2, 3, 4, 5}));
  form.hide();
}

// Clicks at point of the grid's viewport as the window system does: the
// widget there gets the click, an open cell editor included.
void ClickGridAt(QTableWidget* grid, QPoint point) {
  QWidget* target = grid->viewport()->childAt(point);
  if (!target) target = grid->viewport();
  QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(grid->viewport(), point));
}

// Clicks the criteria cell of row near its right end, past any text, as a
// user does, once or twice, and types text once its editor has opened (a
// click on the current cell opens it after the double-click time).
void ClickAndType(TMySearch& form, int row, const QString& text, int clicks = 1) {
  QTableWidget* grid = form.SearchGrid;
  grid->scrollToItem(grid->item(row, 2));
  const QRect cell = grid->visualItemRect(grid->item(row, 2));
  for (int i = 0; i < clicks; ++i) ClickGridAt(grid, QPoint(cell.right() - 6, cell.center().y()));
  for (int waited = 0; waited < 2000 && !qobject_cast<QLineEdit*>(QApplication::focusWidget());
       waited += 20)
    QTest::qWait(20);
  ASSERT_NE(qobject_cast<QLineEdit*>(QApplication::focusWidget()), nullptr) << "no cell editor";
  QTest::keyClicks(QApplication::focusWidget(), text);
}

TEST_F(FindFormTest, ACriterionTypedAfterAClickInItsCellIsSearched) {
  struct Case {
    const char* name;
    std::function<void(TMySearch&)> before;
  };
  const Case cases[] = {
      {"at first", [](TMySearch&) {}},
      {"after Find More",
       [](TMySearch& f) {
         ClickAndType(f, kYear, "1950");
         QTest::mouseClick(f.MoreButton, Qt::LeftButton);
       }},
      {"after Clear Search",
       [](TMySearch& f) {
         ClickAndType(f, kTopic, "Birds");
         QTest::mouseClick(f.ClearButton, Qt::LeftButton);
       }},
      {"after a picker",
       [](TMySearch& f) {
         Pick(f, kPurchasePr, 0);
         f.activateWindow();  // as the window manager does when the picker closes
         ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
       }},
  };
  for (const Case& c : cases) {
    for (int clicks : {1, 2}) {
      SCOPED_TRACE(std::string(c.name) + (clicks == 2 ? ", clicked twice" : ""));
      db_.SetSearchMode(false);
      TMySearch form(db_);
      form.show();
      form.activateWindow();
      ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
      c.before(form);
      ClickAndType(form, kCountry, "usa", clicks);
      QTest::mouseClick(form.OkButton, Qt::LeftButton);
      EXPECT_FALSE(form.isVisible());
      EXPECT_TRUE(db_.searching());
      const std::vector<uint32_t> expected = std::string(c.name) == "after Find More"
                                                 ? std::vector<uint32_t>{1, 2, 3}
                                                 : std::vector<uint32_t>{1, 2};
      EXPECT_EQ(Shown(), expected);
    }
  }
}

TEST_F(FindFormTest, ThePickCellsStandOutFromTheGridWhateverItsColour) {
  for (QColor grid : {QColor(127, 127, 127), QColor(128, 128, 128), QColor(Qt::black),
                      QColor(Qt::white), QColor(0, 0, 128), QColor(100, 100, 100)}) {
    SCOPED_TRACE(grid.name().toStdString());
    state_.settings.colors[app::kSearchColors][app::kListBoxBackground] = grid;
    TMySearch form(db_);
    form.show();
    const QImage shot = form.SearchGrid->grab().toImage();
    const QRect pick = form.SearchGrid->visualItemRect(form.SearchGrid->item(kPurchDate, 1));
    const QRect cell = form.SearchGrid->visualItemRect(form.SearchGrid->item(kPurchDate, 2));
    const QPoint offset = form.SearchGrid->viewport()->pos();
    const QColor fill = shot.pixelColor(pick.topLeft() + offset + QPoint(2, 2));
    const QColor around = shot.pixelColor(cell.center() + offset + QPoint(cell.width() / 3, 0));
    EXPECT_GE(std::abs(fill.lightness() - around.lightness()), 48)
        << fill.name().toStdString() << " on " << around.name().toStdString();
    form.hide();
  }
}

TEST_F(FindFormTest, TheSeventySixthItemClearsTheWholeSearch) {
  TMySearch form(db_);
  form.show();
  const auto fill = [&] {
    for (int r = 1; r <= kFieldCount; ++r)
      if (SearchKind(r) == 'C') form.SetCellText(r, "A");
  };
  for (int level = 1; level <= 5; ++level) {
    fill();
    form.MoreButtonClick();
  }
  EXPECT_EQ(form.list().count(), 75);
  EXPECT_EQ(form.SearchGrid->item(0, 2)->text(), " SEARCH CRITERIA    (Level 6)");
  fill();
  TestPrompts().ExpectMessage("Error",
                              "More than 75 search items have been entered.  This exceeds the "
                              "maximum allowable.  Search criteria will be cleared.",
                              MsgButton::kOk);
  form.OkButtonClick();
  EXPECT_TRUE(form.isVisible());
  EXPECT_FALSE(db_.searching());
  EXPECT_EQ(form.list().count(), 0);
  EXPECT_EQ(form.CellText(kCountry), "");
  EXPECT_EQ(form.SearchGrid->item(0, 2)->text(), " SEARCH CRITERIA    (Level 1)");
  EXPECT_TRUE(form.MoreButton->isEnabled());
  form.hide();
}

TEST(InputMaskTest, ClassicMasksBecomeInputMasks) {
  EXPECT_EQ(InputMaskOf("ccc", '/'), "xxx; ");
  EXPECT_EQ(InputMaskOf("= ccccccccc;1", '/'), "= xxxxxxxxx; ");
  EXPECT_EQ(InputMaskOf("\\< 99/99/0000;1", '.'), "\\< 00.00.9999; ");
  EXPECT_EQ(InputMaskOf("\\> 99/99/0000 \\A\\ND \\< 99/99/0000;1", '-'),
            "\\> 00-00-9999 \\A\\N\\D \\< 00-00-9999; ");
}

// ---------------------------------------------------------------------------
// Sort order

class SortOrderTest : public FindFormTest {
 protected:
  std::string TagExpression() {
    for (const dbf::TagInfo& t : db_.MyTable().Tags())
      if (QString::fromStdString(t.name).compare("NewIndex", Qt::CaseInsensitive) == 0)
        return t.expression;
    return "";
  }
  QString Key(const char* key) {
    return platform::ReadProfileString(state_.paths.ini, "Sort Order", key, "?");
  }
  // Opens the dialog, chooses the levels and presses Ok; true when it closed.
  bool Choose(std::array<int, 4> levels) {
    TMySortOrder dialog(db_);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Sort Order");
    EXPECT_EQ(dialog.ComboBox[0]->count(), 21);
    EXPECT_EQ(dialog.ComboBox[0]->itemText(0), "<NONE>");
    for (size_t i = 0; i < 4; ++i) dialog.ComboBox[i]->setCurrentIndex(levels[i]);
    dialog.OkButton->click();
    const bool closed = !dialog.isVisible();
    dialog.hide();
    return closed;
  }
  std::vector<std::string> Countries() {
    std::vector<std::string> out;
    dbf::Table& t = db_.MyTable();
    for (t.First(); !t.Eof(); t.Next()) out.push_back(t.FieldByName("Country").AsString());
    return out;
  }
};

TEST_F(SortOrderTest, OkBuildsTheIndexAndStoresTheLevels) {
  EXPECT_TRUE(Choose({kCountry, kPurchDate, 0, 0}));
  EXPECT_EQ(db_.sort_string(), "Upper(Left(Country,40))+DTOS(PurchDate)");
  EXPECT_EQ(TagExpression(), "Upper(Left(Country,40))+DTOS(PurchDate)");
  EXPECT_EQ(Key("Primary Sort"), "1");
  EXPECT_EQ(Key("Secondary Sort"), "11");
  EXPECT_EQ(Key("Third Level Sort"), "0");
  EXPECT_EQ(Key("Fourth Level Sort"), "0");
  EXPECT_TRUE(db_.MyTable().IsOpen());
  EXPECT_EQ(Countries(), (std::vector<std::string>{"Canada", "Mexico", "Peru", "USA", "USA"}));
  // Another copy can open the table again: it is shared once more.
  {
    dbf::Table other;
    other.SetDirectory(dir_.path());
    other.SetTableName("COINS.DBF");
    EXPECT_NO_THROW(other.Open());
  }
  // All at <NONE>: natural order, the tag left in the index file.
  EXPECT_TRUE(Choose({0, 0, 0, 0}));
  EXPECT_EQ(db_.sort_string(), "");
  EXPECT_EQ(TagExpression(), "Upper(Left(Country,40))+DTOS(PurchDate)");
  EXPECT_EQ(Countries(), (std::vector<std::string>{"USA", "USA", "Canada", "Peru", "Mexico"}));
  EXPECT_EQ(Key("Primary Sort"), "0");
}

TEST_F(SortOrderTest, AnotherCopyHoldingTheTableChangesNothing) {
  const QString before = db_.sort_string();
  {
    klv::test::HeldByAnotherProcess holder(dir_.path(), "COINS");
    TestPrompts().ExpectMessage(
        "Error",
        "Creating a new sort order requires exclusive use of the DBase File.  Make sure that the "
        "DBase File is not in use by another program  or that no other users are running the "
        "software or that no other copies of the software are in use.",
        MsgButton::kOk);
    EXPECT_FALSE(Choose({kCountry, 0, 0, 0}));
  }
  EXPECT_EQ(state_.settings.sort_levels, (std::array<int, 4>{kMiscellane, 0, 0, 0}));
  EXPECT_EQ(db_.sort_string(), before);
  EXPECT_TRUE(db_.MyTable().IsOpen());
}

TEST_F(SortOrderTest, AFailurePutsThePreviousOrderBack) {
  EXPECT_TRUE(Choose({kCountry, 0, 0, 0}));
  // The settings file cannot be written: a directory stands in its place.
  ASSERT_TRUE(QFile::remove(state_.paths.ini));
  ASSERT_TRUE(QDir().mkpath(state_.paths.ini));
  TestPrompts().ExpectMessage("Error",
                              "Error in implementing sort order.  New sort order not implemented.",
                              MsgButton::kOk);
  EXPECT_FALSE(Choose({kTopic, kYear, 0, 0}));
  EXPECT_EQ(state_.settings.sort_levels, (std::array<int, 4>{kCountry, 0, 0, 0}));
  EXPECT_EQ(db_.sort_string(), "Upper(Left(Country,80))");
  EXPECT_EQ(TagExpression(), "Upper(Left(Country,80))");
  EXPECT_TRUE(db_.MyTable().IsOpen());
  EXPECT_EQ(Countries(), (std::vector<std::string>{"Canada", "Mexico", "Peru", "USA", "USA"}));
}

// The disk failing at a write part way through a search and replace, once
// (the run reports and the table is restored at once) or for good (as a
// process killed there: the next open restores it).
TEST(ReplaceFaultTest, AWriteFailingPartWayLeavesWholeRowsTheIndexAndTheCount) {
  constexpr int kRowCount = 30;
  const QString run_error =
      "Error in running search and replace.  Search and replace will be "
      "aborted.";
  int run_failures = 0;
  for (bool sticky : {false, true}) {
    bool completed = false;
    for (int n = 1; n < 400 && !completed; ++n) {
      SCOPED_TRACE(std::to_string(n) + (sticky ? " sticky" : ""));
      klv::test::TempDir dir;
      std::vector<CoinRow> rows;
      for (int i = 1; i <= kRowCount; ++i)
        rows.push_back({i % 3 ? "Peru" : "USA",
                        "",
                        "",
                        "row " + std::to_string(i),
                        "",
                        {},
                        double(i),
                        {},
                        dbf::Date{}});
      {
        dbf::Table t;
        MakeCoinTable(dir, rows, t);
      }
      app::AppState state;
      state.program_dir = state.windows_dir = state.files.start_dir = Q(dir.path());
      state.files.program_ini = Q(dir.File("KLVCOIN.INI"));
      const QString path = Q(dir.File("COINS.DBF"));
      base::FaultEnv env(base::Env::Default());
      env.SetSticky(sticky);
      int expect_changed = 0;
      {
        app::OpenDatabase db(state, env);
        db.OpenAtStart(path);
        const std::string sort = db.sort_string().toStdString();
        ASSERT_FALSE(sort.empty());
        TSearchAndReplace form(db);
        form.FieldBox->setCurrentIndex(0);
        form.SearchText->setText("peru");
        form.ReplaceText->setText("Chile");
        TestPrompts().Reset();
        TestPrompts().set_strict(false);
        env.FailAt(n);
        form.StartButton->click();
        completed = !env.fired();
        env.FailAt(0);
        ASSERT_FALSE(TestPrompts().Messages().empty());
        const QString said = TestPrompts().Messages().back().text;
        const int changed = form.counters().changed;
        if (completed) {
          EXPECT_EQ(said, "Global Search and Replace Complete.");
          EXPECT_EQ(changed, kRowCount * 2 / 3);
        } else if (said.startsWith(run_error + "  ")) {
          ++run_failures;
          EXPECT_TRUE(said.startsWith(run_error + "  Records changed before the error: " +
                                      QString::number(changed) + ".\n\n"))
              << said.toStdString();
        } else {
          EXPECT_EQ(said, run_error);  // before any row: opening or dropping the index
          EXPECT_EQ(changed, 0);
        }
        if (!sticky) {
          // Open shared again at once, with the sort index unless building
          // it was what failed.
          EXPECT_TRUE(db.MyTable().IsOpen());
          EXPECT_FALSE(db.MyTable().exclusive());
          if (changed < kRowCount * 2 / 3) {
            EXPECT_EQ(QString::fromStdString(db.MyTable().IndexName()).toUpper(), "NEWINDEX");
          }
        }
        expect_changed = changed;
      }
      // The next start has the sort index, in step with the rows; every row
      // is whole, and as many were changed as the message said.
      app::OpenDatabase again(state);
      again.OpenAtStart(path);
      dbf::Table& t = again.MyTable();
      EXPECT_EQ(QString::fromStdString(t.IndexName()).toUpper(), "NEWINDEX");
      std::string expression;
      for (const dbf::TagInfo& tag : t.Tags())
        if (QString::fromStdString(tag.name).toUpper() == "NEWINDEX") expression = tag.expression;
      EXPECT_EQ(expression, again.sort_string().toStdString());
      EXPECT_EQ(t.RecordCount(), uint64_t(kRowCount));
      int seen = 0, chile = 0;
      for (t.First(); !t.Eof(); t.Next()) {
        ++seen;
        const int i = int(t.RecNo());
        EXPECT_EQ(t.FieldByName("Comment").AsString(), "row " + std::to_string(i));
        EXPECT_EQ(t.FieldByName("MarketValu").AsFloat(), double(i));
        const std::string country = t.FieldByName("Country").AsString();
        if (i % 3 == 0) {
          EXPECT_EQ(country, "USA");
        } else {
          EXPECT_TRUE(country == "Peru" || country == "Chile") << country;
          chile += country == "Chile";
        }
      }
      EXPECT_EQ(seen, kRowCount);
      EXPECT_EQ(chile, expect_changed);
    }
    EXPECT_TRUE(completed);
  }
  EXPECT_GT(run_failures, 0);
  TestPrompts().Reset();
}

}  // namespace
}  // namespace klv::find
