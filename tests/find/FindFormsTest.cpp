// The locate dialog and the search and replace form behind the main
// window's commands, on a real coin table: what each search finds, where the
// grid stands afterwards, the texts the user is told, and a replace run with
// its confirmations, counters, index and search mode.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "db/FieldTable.h"
#include "db/dbf/Table.h"
#include "edit/Edit1.h"
#include "find/Locate.h"
#include "find/Mylocate.h"
#include "find/Search1.h"
#include "find/SrchRep.h"
#include "pictures/SamplePictures.h"
#include "program/Program.h"
#include "support/HeldTable.h"
#include "support/QtText.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"

namespace klv::find {
namespace {

using app::TMain;
using platform::MsgButton;
using program::Program;
using test::Q;
using test::TestPrompts;

struct Row {
  const char* country;
  double market;
};

class FindFormsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (program_) program_->main().close();
    program_.reset();
  }

  Program& Start(const std::vector<Row>& rows, QStringList args = {}) {
    program_ = std::make_unique<Program>(QString());
    app::StartOptions o;
    o.arguments = args;
    o.screen = QSize(1280, 1024);
    EXPECT_TRUE(program_->Start(o));
    program_->main().show();
    dbf::Table& t = program_->main().MyTable();
    for (const Row& r : rows) {
      t.Append();
      t.FieldByName("Country").SetAsString(r.country);
      t.FieldByName("MarketValu").SetAsFloat(r.market);
      t.Post();
    }
    t.First();
    program_->main().DisplayCount();
    return *program_;
  }
  TMain& Main() { return program_->main(); }
  std::string Country() { return Main().MyTable().FieldByName("Country").AsString(); }

  // Runs command; while its modal form T is shown, act runs on it; the form
  // is closed afterwards if act left it open. Returns whether it was shown.
  template <typename T>
  bool WithModal(TMain::Command command, const std::function<void(T&)>& act) {
    bool shown = false;
    QTimer::singleShot(0, [&] {
      auto* form = qobject_cast<T*>(QApplication::activeModalWidget());
      if (!form) return;
      shown = true;
      act(*form);
      if (form->isVisible()) form->reject();
    });
    Main().Trigger(command);
    return shown;
  }

  // The grid's current row shows the row the table stands on.
  void ExpectGridOnCursor() {
    QApplication::processEvents();
    const QAbstractItemModel* m = Main().ViewerGrid->model();
    const int row = Main().ViewerGrid->currentIndex().row();
    ASSERT_GE(row, 0);
    int column = -1;
    for (int c = 0; c < m->columnCount(); ++c)
      if (m->headerData(c, Qt::Horizontal).toString() == "Country") column = c;
    ASSERT_GE(column, 0);
    EXPECT_EQ(m->data(m->index(row, column)).toString().trimmed(), Q(Country()));
  }

  // The grid's current row is selected, in view, and shows the row the
  // table stands on, before any queued event has run.
  void ExpectGridShowsCursorNow() {
    const app::ViewerGridView* g = Main().ViewerGrid;
    const QAbstractItemModel* m = g->model();
    const QModelIndex current = g->currentIndex();
    ASSERT_TRUE(current.isValid());
    EXPECT_TRUE(g->selectionModel()->isRowSelected(current.row(), QModelIndex()));
    EXPECT_TRUE(g->viewport()->rect().intersects(g->visualRect(current)));
    int column = -1;
    for (int c = 0; c < m->columnCount(); ++c)
      if (m->headerData(c, Qt::Horizontal).toString() == "Country") column = c;
    ASSERT_GE(column, 0);
    EXPECT_EQ(m->data(m->index(current.row(), column)).toString().trimmed(), Q(Country()));
  }
  // The same, and still so once the queued events have run.
  void ExpectGridShowsCursor() {
    ExpectGridShowsCursorNow();
    const int row = Main().ViewerGrid->currentIndex().row();
    QApplication::processEvents();
    ExpectGridShowsCursorNow();
    EXPECT_EQ(Main().ViewerGrid->currentIndex().row(), row);
  }

  static void Choose(TMyLocateDlg& d, const char* label, const char* value, int match,
                     bool case_sensitive) {
    d.FieldNameComboBox->setCurrentIndex(d.FieldNameComboBox->findText(QString::fromUtf8(label)));
    d.SearchValue->setText(QString::fromUtf8(value));
    QRadioButton* radios[] = {d.ExactMatchBtn, d.PartialMatchStartBtn, d.PartialMatchAnyBtn};
    radios[match]->setChecked(true);
    d.CaseSensitiveCheckBox->setChecked(case_sensitive);
  }

  test::TempDir home_, windir_;
  test::ProgramDirsInEnvironment dirs_{home_, windir_};
  std::unique_ptr<Program> program_;
};

const std::vector<Row> kRows = {{"Peru", 1},     {"ABBEY", 12.5}, {"Usa", 3},
                                {"USA East", 4}, {"USA", 5},      {"abbot", 6}};

TEST_F(FindFormsTest, LocateFirstFindsEachKindOfMatch) {
  Start(kRows);
  struct Case {
    const char* label;
    const char* value;
    int match;  // 0 exact, 1 at beginning, 2 anywhere
    bool case_sensitive;
    const char* found;  // "" when nothing matches
  };
  const Case cases[] = {
      {"Country", "ab", 1, false, "ABBEY"},
      {"Country", "ab", 1, true, "abbot"},
      {"Country", "AB", 1, true, "ABBEY"},
      {"Country", "xy", 1, false, ""},
      {"Country", "usa", 0, false, "Usa"},
      {"Country", "USA", 0, true, "USA"},
      {"Country", "usa e", 0, false, ""},
      {"Country", "east", 2, false, "USA East"},
      {"Country", "east", 2, true, ""},
      {"Market Value", "12.5", 0, false, "ABBEY"},
      {"Market Value", "12.50", 0, false, "ABBEY"},
      {"Market Value", "twelve", 0, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.label) + " " + c.value);
    TestPrompts().Reset();
    Main().MyTable().First();
    Main().MyTable().Next();  // the search from the first row must not start here
    Main().DisplayCount();
    const std::string before = Country();
    const bool expect_found = *c.found != '\0';
    if (!expect_found)
      TestPrompts().ExpectMessage("Information", "No matches found", MsgButton::kOk);
    bool still_open = false;
    EXPECT_TRUE(WithModal<TMyLocateDlg>(TMain::kLocate, [&](TMyLocateDlg& d) {
      Choose(d, c.label, c.value, c.match, c.case_sensitive);
      d.FirstButton->click();
      still_open = d.isVisible();
    }));
    EXPECT_EQ(still_open, !expect_found);
    EXPECT_EQ(Country(), expect_found ? std::string(c.found) : before);
    ExpectGridOnCursor();
  }
}

TEST_F(FindFormsTest, LocateNextWalksTheMatchesAndStaysOnTheLast) {
  Start(kRows);
  EXPECT_TRUE(WithModal<TMyLocateDlg>(TMain::kLocate, [&](TMyLocateDlg& d) {
    Choose(d, "Country", "us", 1, false);
    d.FirstButton->click();
  }));
  EXPECT_EQ(Country(), "Usa");
  Main().Trigger(TMain::kLocateNext);
  EXPECT_EQ(Country(), "USA East");
  ExpectGridOnCursor();
  Main().Trigger(TMain::kLocateNext);
  EXPECT_EQ(Country(), "USA");
  const uint32_t last = Main().MyTable().RecNo();
  TestPrompts().ExpectMessage("Information", "No more matches found", MsgButton::kOk);
  Main().Trigger(TMain::kLocateNext);
  EXPECT_EQ(Main().MyTable().RecNo(), last);
  ExpectGridOnCursor();

  // The dialog starts from what was searched last; Next there finds nothing more.
  TestPrompts().ExpectMessage("Information", "No more matches found", MsgButton::kOk);
  EXPECT_TRUE(WithModal<TMyLocateDlg>(TMain::kLocate, [&](TMyLocateDlg& d) {
    EXPECT_EQ(d.FieldNameComboBox->currentText(), "Country");
    EXPECT_EQ(d.SearchValue->text(), "us");
    EXPECT_TRUE(d.PartialMatchStartBtn->isChecked());
    d.NextButton->click();
    EXPECT_TRUE(d.isVisible());
    // Changing the field empties the value.
    d.FieldNameComboBox->setCurrentIndex(d.FieldNameComboBox->findText("Year"));
    EXPECT_EQ(d.SearchValue->text(), "");
  }));
  EXPECT_EQ(Main().MyTable().RecNo(), last);
}

// On a table larger than the grid's window of rows, whatever moves the
// table's cursor leaves the grid standing on that row.
TEST_F(FindFormsTest, GridStandsOnTheTableRowAfterLocateSearchAndEdit) {
  std::vector<std::string> names;
  std::vector<Row> rows;
  for (int i = 1; i <= 1500; ++i) names.push_back("C" + std::to_string(10000 + i));
  for (const std::string& n : names) rows.push_back({n.c_str(), 1.0});
  Start(rows);
  dbf::Table& t = Main().MyTable();

  EXPECT_TRUE(WithModal<TMyLocateDlg>(TMain::kLocate, [&](TMyLocateDlg& d) {
    Choose(d, "Country", "C10900", 0, false);
    d.FirstButton->click();
  }));
  EXPECT_EQ(Country(), "C10900");
  ExpectGridShowsCursor();
  EXPECT_TRUE(WithModal<TMyLocateDlg>(TMain::kLocate, [&](TMyLocateDlg& d) {
    Choose(d, "Country", "C114", 1, false);
    d.NextButton->click();
  }));
  EXPECT_EQ(Country(), "C11400");
  ExpectGridShowsCursor();
  Main().Trigger(TMain::kLocateNext);
  EXPECT_EQ(Country(), "C11401");
  ExpectGridShowsCursor();

  // The edit form's Next moves the table; closing the form shows where.
  EXPECT_TRUE(WithModal<edit::TMyEdit>(TMain::kEdit, [&](edit::TMyEdit& e) {
    for (int i = 0; i < 3; ++i) e.NextButton->click();
  }));
  EXPECT_EQ(Country(), "C11404");
  ExpectGridShowsCursor();

  // Search mode: the grid stands on the first accepted row.
  t.GoTo(1200);
  Main().DisplayCount();
  ExpectGridShowsCursor();
  EXPECT_TRUE(WithModal<TMySearch>(TMain::kSearch, [&](TMySearch& f) {
    f.SearchGrid->item(1, 2)->setText("C107");
    f.OkButton->click();
  }));
  EXPECT_TRUE(Main().database().searching());
  EXPECT_EQ(Main().viewer_model()->RecordCount(), 100u);
  EXPECT_EQ(Country(), "C10700");
  ExpectGridShowsCursor();
  t.Last();
  Main().DisplayCount();
  EXPECT_EQ(Country(), "C10799");
  ExpectGridShowsCursor();
}

TEST_F(FindFormsTest, LocateNextBeforeAnyLocateOpensTheDialog) {
  Start(kRows);
  EXPECT_TRUE(WithModal<TMyLocateDlg>(TMain::kLocateNext, [&](TMyLocateDlg& d) {
    EXPECT_EQ(d.windowTitle(), "Locate Field Value");
    EXPECT_EQ(d.FieldGroup->title(), "&Field To Search On");
    EXPECT_EQ(d.SearchTypeGroup->title(), "&Search Type");
    EXPECT_EQ(d.ValueGroup->title(), "Search &Value");
    EXPECT_EQ(d.CaseSensitiveCheckBox->text(), "&Case-sensitive");
    EXPECT_EQ(d.ExactMatchBtn->text(), "&Exact Match");
    EXPECT_EQ(d.PartialMatchStartBtn->text(), "&Partial Match at Beginning");
    EXPECT_EQ(d.PartialMatchAnyBtn->text(), "Partial Match &Anywhere");
    EXPECT_EQ(d.FirstButton->text(), "Fi&rst");
    EXPECT_EQ(d.NextButton->text(), "&Next");
    EXPECT_TRUE(d.PartialMatchStartBtn->isChecked());
    EXPECT_FALSE(d.CaseSensitiveCheckBox->isChecked());
    EXPECT_EQ(d.FieldNameComboBox->currentIndex(), -1);
    EXPECT_EQ(d.FieldNameComboBox->count(), 20);
    EXPECT_EQ(d.FieldNameComboBox->itemText(0), "Approx Year");
    EXPECT_EQ(d.FieldNameComboBox->itemText(19), "Year");
    EXPECT_TRUE(d.NextButton->isDefault());
    // While the list has the focus Enter starts no search.
    d.activateWindow();
    d.FieldNameComboBox->setFocus();
    QApplication::processEvents();
    if (d.FieldNameComboBox->hasFocus()) {
      EXPECT_FALSE(d.NextButton->isDefault());
      EXPECT_FALSE(d.FirstButton->isDefault());
      d.SearchValue->setFocus();
      QApplication::processEvents();
      EXPECT_TRUE(d.NextButton->isDefault());
    }
    // No field chosen: nothing is searched, nothing is said.
    d.SearchValue->setText("Peru");
    d.FirstButton->click();
    EXPECT_TRUE(d.isVisible());
    QTest::keyClick(&d, Qt::Key_Escape);
    EXPECT_FALSE(d.isVisible());
  }));
  EXPECT_TRUE(TestPrompts().Messages().empty());
}

TEST_F(FindFormsTest, BrowseOnlyKeepsLocateAndTakesSearchAndReplace) {
  Start({}, {"/browse"});
  EXPECT_TRUE(Main().CommandAvailable(TMain::kLocate));
  EXPECT_TRUE(Main().CommandAvailable(TMain::kLocateNext));
  EXPECT_FALSE(Main().CommandAvailable(TMain::kSearchReplace));
}

// Rows as stored, read through an independent open.
std::vector<std::string> StoredCountries(const test::TempDir& home) {
  dbf::Table t;
  t.SetDirectory(home.path() + "/");
  t.SetTableName("MASTER.DBF");
  t.SetReadOnly(true);
  t.Open();
  std::vector<std::string> out;
  for (t.First(); !t.Eof(); t.Next()) out.push_back(t.FieldByName("Country").AsString());
  return out;
}

TEST_F(FindFormsTest, ReplaceAskingNoToEveryRowChangesNothing) {
  Start(kRows);
  TestPrompts().ExpectMessage("Confirm", "Item = \"Usa\".  Change this record?", MsgButton::kNo);
  TestPrompts().ExpectMessage("Confirm", "Item = \"USA\".  Change this record?", MsgButton::kNo);
  TestPrompts().ExpectMessage("Finished", "Global Search and Replace Complete.", MsgButton::kOk);
  ReplaceCounters counters;
  EXPECT_TRUE(WithModal<TSearchAndReplace>(TMain::kSearchReplace, [&](TSearchAndReplace& f) {
    EXPECT_EQ(f.windowTitle(), "Search and Replace");
    EXPECT_EQ(f.FieldBox->count(), 20);
    EXPECT_EQ(f.FieldBox->maxVisibleItems(), 15);
    f.FieldBox->showPopup();
    const QAbstractItemView* list = f.FieldBox->view();
    EXPECT_EQ(list->viewport()->height() / list->sizeHintForRow(0), 15);
    f.FieldBox->hidePopup();
    EXPECT_EQ(f.StartButton->text(), "&Start Search");
    EXPECT_EQ(f.ConfirmBox->text(), "Confirm Before Replacing");
    f.FieldBox->setCurrentIndex(0);
    EXPECT_EQ(f.field_no(), 1);
    EXPECT_EQ(f.SearchText->maxLength(), 20);
    f.SearchText->setText("usa");
    f.ReplaceText->setText("America");
    f.ConfirmBox->setChecked(true);
    f.StartButton->click();
    counters = f.counters();
    EXPECT_FALSE(f.isVisible());
  }));
  EXPECT_EQ(counters, (ReplaceCounters{6, 2, 0}));
  EXPECT_EQ(StoredCountries(home_),
            (std::vector<std::string>{"Peru", "ABBEY", "Usa", "USA East", "USA", "abbot"}));
}

TEST_F(FindFormsTest, ReplaceChangesEveryRowRebuildsTheIndexAndKeepsSearchMode) {
  Start(kRows);
  // Pictures on rows that change and on one that does not stay with them.
  const std::string path = Main().MyTable().DbfPath();
  const std::vector<std::pair<uint32_t, pictures::Side>> attached = {
      {1, pictures::Side::kObverse}, {3, pictures::Side::kObverse}, {5, pictures::Side::kReverse}};
  test::AttachSamples(path, attached);
  app::OpenDatabase& db = Main().database();
  db.state().settings.sort_levels = {1, 0, 0, 0};
  db.BuildSortString();
  const std::string sort = db.sort_string().toStdString();
  ASSERT_FALSE(sort.empty());
  db.SetSearchMode(true);
  Main().EnableEndSearch();
  TestPrompts().ExpectMessage("Finished", "Global Search and Replace Complete.", MsgButton::kOk);
  ReplaceCounters counters;
  EXPECT_TRUE(WithModal<TSearchAndReplace>(TMain::kSearchReplace, [&](TSearchAndReplace& f) {
    f.FieldBox->setCurrentIndex(0);
    f.SearchText->setText(" usa ");
    f.ReplaceText->setText("America");
    f.StartButton->click();
    counters = f.counters();
  }));
  EXPECT_EQ(counters, (ReplaceCounters{6, 2, 2}));
  EXPECT_EQ(StoredCountries(home_),
            (std::vector<std::string>{"Peru", "ABBEY", "America", "USA East", "America", "abbot"}));
  EXPECT_TRUE(db.searching());
  EXPECT_TRUE(Main().CommandAvailable(TMain::kEndSearch));
  dbf::Table& t = Main().MyTable();
  EXPECT_TRUE(t.IsOpen());
  EXPECT_FALSE(t.exclusive());
  EXPECT_EQ(QString::fromStdString(t.IndexName()).toUpper(), "NEWINDEX");
  std::string expression;
  for (const dbf::TagInfo& tag : t.Tags())
    if (QString::fromStdString(tag.name).toUpper() == "NEWINDEX") expression = tag.expression;
  EXPECT_EQ(expression, sort);
  // The table now walks in the new order: countries upper-cased, ascending.
  std::vector<std::string> walked;
  for (t.First(); !t.Eof(); t.Next()) walked.push_back(t.FieldByName("Country").AsString());
  EXPECT_EQ(walked,
            (std::vector<std::string>{"ABBEY", "abbot", "America", "America", "Peru", "USA East"}));
  EXPECT_EQ(test::AttachedPictures(path), attached);
}

TEST_F(FindFormsTest, ReplaceTakesNumbersAndDatesTypedAfterAClickPastTheBlanks) {
  struct Case {
    int field;
    const char* search;
    const char* replacement;
    ReplaceCounters counters;
  };
  const Case cases[] = {
      {db::kMarketValu, "12.5", "20", {6, 1, 1}},
      {db::kPurchDate, "01011990", "02021991", {6, 0, 0}},
  };
  Start(kRows);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    TestPrompts().ExpectMessage("Finished", "Global Search and Replace Complete.", MsgButton::kOk);
    ReplaceCounters counters;
    EXPECT_TRUE(WithModal<TSearchAndReplace>(TMain::kSearchReplace, [&](TSearchAndReplace& f) {
      f.activateWindow();
      ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
      f.FieldBox->setCurrentIndex(c.field - 1);
      for (auto [edit, text] :
           {std::pair{f.SearchText, c.search}, {f.ReplaceText, c.replacement}}) {
        QTest::mouseClick(edit, Qt::LeftButton, {}, QPoint(edit->width() - 6, edit->height() / 2));
        QTest::keyClicks(QApplication::focusWidget(), text);
      }
      QTest::mouseClick(f.StartButton, Qt::LeftButton);
      counters = f.counters();
      EXPECT_FALSE(f.isVisible());
    }));
    EXPECT_EQ(counters, c.counters);
  }
  dbf::Table& t = Main().MyTable();
  t.First();
  t.Next();
  EXPECT_EQ(Country(), "ABBEY");
  EXPECT_DOUBLE_EQ(t.FieldByName("MarketValu").AsFloat(), 20);
}

TEST_F(FindFormsTest, ReplaceLabelsHoldTheirWholeTextAtEveryWindowSize) {
  Start(kRows);
  for (double factor : {1.0, 1.28, 1.6, 2.0}) {
    SCOPED_TRACE(factor);
    Main().database().state().scale_factor = factor;
    TSearchAndReplace form(Main().database());
    form.show();
    for (auto [label, text] : {std::pair{form.FieldLabel, "Field "},
                               {form.SearchLabel, "Text To Search For"},
                               {form.ReplaceLabel, "Replacement Text"}}) {
      EXPECT_EQ(label->text(), text);
      EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text())) << text;
      EXPECT_LE(label->geometry().right(), form.SearchText->x()) << text;
    }
  }
}

TEST_F(FindFormsTest, ReplaceRefusesBadInputAndATableInUse) {
  Start(kRows);
  TestPrompts().ExpectMessage("Error", "No field has been selected.", MsgButton::kOk);
  TestPrompts().ExpectMessage("Error", "Invalid search date entered.  Please correct.",
                              MsgButton::kOk);
  TestPrompts().ExpectMessage(
      "Error",
      "Search and Replace requires exclusive use of the DBase File.  Make sure that the DBase "
      "File is not in use by another program  or that no other users are running the software "
      "or that no other copies of the software are in use.",
      MsgButton::kOk);
  test::HeldByAnotherProcess other(home_.path(), "MASTER.DBF");
  EXPECT_TRUE(WithModal<TSearchAndReplace>(TMain::kSearchReplace, [&](TSearchAndReplace& f) {
    f.StartButton->click();
    EXPECT_TRUE(f.isVisible());
    f.FieldBox->setCurrentIndex(10);  // the purchase date
    EXPECT_EQ(f.field_no(), 11);
    EXPECT_FALSE(f.SearchText->inputMask().isEmpty());
    f.StartButton->click();
    EXPECT_TRUE(f.isVisible());
    f.FieldBox->setCurrentIndex(0);
    f.SearchText->setText("usa");
    f.ReplaceText->setText("America");
    f.StartButton->click();
    EXPECT_TRUE(f.isVisible());
  }));
  EXPECT_TRUE(Main().MyTable().IsOpen());
  EXPECT_EQ(StoredCountries(home_)[2], "Usa");
}

}  // namespace
}  // namespace klv::find

namespace klv::find {
namespace {

TEST(ReplaceEditMaskTest, MasksTakeTheDateSeparatorAndShowBlanksAsSpaces) {
  EXPECT_EQ(EditInputMask("99/99/0000;1", u'/'), "00\\/00\\/9999; ");
  EXPECT_EQ(EditInputMask("99/99/0000;1", u'.'), "00\\.00\\.9999; ");
  EXPECT_EQ(EditInputMask("ccccccccc;1", u'/'), "xxxxxxxxx; ");
  EXPECT_EQ(EditInputMask("", u'/'), "");
  QLineEdit edit;
  edit.setInputMask(EditInputMask("99/99/0000;1", u'-'));
  EXPECT_EQ(edit.displayText(), "  -  -    ");
  QTest::keyClicks(&edit, "01021990");
  EXPECT_EQ(edit.displayText(), "01-02-1990");
}

}  // namespace
}  // namespace klv::find
