// The main window driven as a user would, on the offscreen platform with the
// scripted prompts: start-up and its faults, the screen-size and button-bar
// options, browse-only mode, the grid's columns, the settings written at
// close, database switching with the recent-files list and the validity
// test, and a second copy holding the table.
#include "app/MainWin.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cstdlib>
#include <memory>
#include <tuple>

#include "app/AboutBox.h"
#include "app/ViewerModel.h"
#include "db/DbFiles.h"
#include "db/FieldTable.h"
#include "db/dbf/Table.h"
#include "pictures/SamplePictures.h"
#include "platform/HelpFile.h"
#include "platform/HelpViewer.h"
#include "platform/Profile.h"
#include "support/HeldTable.h"
#include "support/QtText.h"
#include "support/RecordedColors.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"

namespace klv::app {
namespace {

using namespace klv::db;
using platform::MsgButton;
using test::HeldByAnotherProcess;
using test::Q;
using test::TestPrompts;

class MainWinTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (main_) main_->close();
    main_.reset();
  }

  // Creates the main window as the program does; fails the test when it
  // cannot start.
  TMain& Start(QStringList args = {}, QSize screen = QSize(1280, 1024)) {
    main_ = std::make_unique<TMain>();
    StartOptions o;
    o.arguments = args;
    o.screen = screen;
    EXPECT_TRUE(main_->FormCreate(o));
    return *main_;
  }
  void Restart(QStringList args = {}, QSize screen = QSize(1280, 1024)) {
    main_->close();
    main_.reset();
    Start(args, screen);
  }
  void Close() {
    main_->close();
    main_.reset();
  }
  // The messages of a start whose last database is a dBase table but not a
  // coin table.
  static void ExpectLastDatabaseRefused() {
    TestPrompts().ExpectMessage(
        "Error",
        "This DBase file was not created with Kolvane Coins 97.  It cannot be opened.  You may, "
        "however, import data from this file using the import function.",
        MsgButton::kOk);
    TestPrompts().ExpectMessage("Error",
                                "The last database used as recorded in the INI file is not a valid "
                                "Kolvane Coins 97 file.  You will need to choose a new file.",
                                MsgButton::kOk);
  }

  QString Home(const QString& name) const { return Q(home_.path()) + '/' + name; }
  QString ProgramIni() const { return Q(windir_.path()) + "/KLVCOIN.INI"; }
  QString Setting(const QString& file, const QString& section, const QString& key) const {
    return platform::ReadProfileString(file, section, key, "<missing>");
  }
  // A coin table with the given countries, in record order.
  QString MakeDb(const QString& path, const QStringList& countries = {}) {
    EXPECT_TRUE(MakeNewDB(path));
    dbf::Table t;
    DatabasePaths p = DatabasePaths::From(path);
    t.SetDirectory(p.dir.toStdString());
    t.SetTableName(QFileInfo(path).fileName().toStdString());
    t.Open();
    for (const QString& c : countries) {
      t.Append();
      t.FieldByName("Country").SetAsString(c.toStdString());
      t.Post();
    }
    return path;
  }
  void OpenViaDialog(const QString& path) {
    TestPrompts().AnswerOpenFile(path);
    main_->Trigger(TMain::kOpen);
  }

  test::TempDir home_, windir_, other_;
  test::ProgramDirsInEnvironment dirs_{home_, windir_};
  std::unique_ptr<TMain> main_;
};

// ---------------------------------------------------------------------------
// Start-up

TEST_F(MainWinTest, FirstRunWithoutSettings) {
  TMain& m = Start();
  EXPECT_EQ(m.pos(), QPoint(0, 0));
  EXPECT_EQ(m.size(), QSize(640, 480));
  EXPECT_EQ(m.state().settings.button_bar, 1);
  EXPECT_TRUE(m.MenuScreenAccess[0]->isChecked());
  EXPECT_TRUE(m.SpeedPanel->isVisibleTo(&m));
  EXPECT_FALSE(m.CommandButton(TMain::kAdd)->isVisibleTo(&m));
  EXPECT_TRUE(QFileInfo::exists(Home("MASTER.DBF")));
  EXPECT_EQ(m.windowTitle(), "Kolvane Coins 97 (MASTER)");
  EXPECT_EQ(m.ViewerLabel->text(), "Coin Viewer");
  EXPECT_EQ(m.CountLabel->text(), "0");
  EXPECT_EQ(m.Count2Label->text(), "Coins");
  EXPECT_FALSE(m.SearchOnLabel->isVisibleTo(&m));
  EXPECT_TRUE(m.MenuScreenSizes[0]->isChecked());
  EXPECT_DOUBLE_EQ(m.state().scale_factor, 1.0);
  // The default sort order (Miscellaneous) is the index in force.
  EXPECT_EQ(m.sort_string(), "Upper(Left(Miscellane,80))");
  EXPECT_EQ(m.MyTable().IndexName(), "NEWINDEX");
  EXPECT_TRUE(m.MenuLastFilesSeparator->isVisible() == false);
  EXPECT_EQ(m.viewer_model()->columnCount(), 20);
}

TEST_F(MainWinTest, AFreshInstallWritesEveryKeyAtClose) {
  Start();
  Close();
  const QString db_ini = Home("MASTER.INI");
  ASSERT_TRUE(QFileInfo::exists(ProgramIni()));
  ASSERT_TRUE(QFileInfo::exists(db_ini));
  for (const char* key :
       {"Button Bar", "Main Window Left", "Main Window Top", "Main Window Width",
        "Main Window Height", "Last Import File", "Last Export File", "Last Database",
        "Last File 1", "Last File 5", "Show Tips", "Window Size", "Date Format",
        "Date Leading Zeros", "Currency Format", "Numeric Format"}) {
    EXPECT_NE(Setting(ProgramIni(), "Misc", key), "<missing>") << key;
  }
  EXPECT_EQ(Setting(ProgramIni(), "Misc", "Last Database"), Home("MASTER.DBF"));
  EXPECT_EQ(Setting(ProgramIni(), "Misc", "Main Window Width"), "640");
  for (const char* key : {"Load Defaults With Add", "Country", "Wanted", "Premium Value"})
    EXPECT_NE(Setting(ProgramIni(), "Defaults", key), "<missing>") << key;
  for (const char* section : {"Field Names", "Display Fields", "Field Width", "Field Order",
                              "Export Fields", "Export Order"}) {
    for (int f = 1; f <= kFieldCount; ++f) {
      const QString key = QString::fromLatin1(FieldTable[static_cast<size_t>(f)].name.data());
      EXPECT_NE(Setting(db_ini, section, key), "<missing>") << section << " " << key.toStdString();
    }
  }
  EXPECT_EQ(Setting(db_ini, "Sort Order", "Primary Sort"), "12");
  EXPECT_EQ(Setting(db_ini, "Grid Options", "Field Editing"), "No");
  EXPECT_EQ(Setting(db_ini, "Main Window Color", "Main Background"), "12632256");
  EXPECT_EQ(Setting(db_ini, "Reports", "Report Viewing Window Height"), "480");
  // Nothing of the database part leaks into the program file.
  EXPECT_EQ(Setting(ProgramIni(), "Sort Order", "Primary Sort"), "<missing>");
}

TEST_F(MainWinTest, WindowPlaceAndButtonBarComeBackFromTheSettings) {
  TMain& m = Start();
  m.move(30, 40);
  m.resize(700, 520);
  m.SetButtonBarMode(2);
  Restart();
  EXPECT_EQ(main_->pos(), QPoint(30, 40));
  EXPECT_EQ(main_->size(), QSize(700, 520));
  EXPECT_TRUE(main_->MenuScreenAccess[1]->isChecked());
  EXPECT_FALSE(main_->MenuScreenAccess[0]->isChecked());
  EXPECT_TRUE(main_->CommandButton(TMain::kAdd)->isVisibleTo(main_.get()));
  EXPECT_FALSE(main_->SpeedPanel->isVisibleTo(main_.get()));
}

TEST_F(MainWinTest, NeitherTheLastNorTheDefaultDatabaseCanBeCreated) {
  // The program directory cannot be made: a file stands where it should be.
  const std::string blocked = other_.File("blocked");
  {
    QFile f(Q(blocked));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
  setenv("KLVCOIN_HOME", (blocked + "/home").c_str(), 1);
  TestPrompts().AnswerMessage(MsgButton::kOk);
  auto m = std::make_unique<TMain>();
  EXPECT_FALSE(m->FormCreate(StartOptions{}));
  ASSERT_EQ(TestPrompts().Messages().size(), 1u);
  const auto box = TestPrompts().Messages()[0];
  EXPECT_EQ(box.caption, "Error");
  EXPECT_TRUE(box.text.startsWith("The default database \"" + Q(blocked) +
                                  "/home/MASTER.DBF\" "
                                  "could not be created.  "))
      << box.text.toStdString();
  // The reason follows.
  EXPECT_GT(box.text.size(), 70);
}

TEST_F(MainWinTest, AnIndexFileWithoutTheSortTagGetsItAdded) {
  MakeDb(Home("MASTER.DBF"), {"b", "a", "c"});
  {
    dbf::Table t;
    t.SetDirectory(home_.path());
    t.SetTableName("MASTER");
    t.Open();
    t.AddIndex("OTHER", "Country");
  }
  TMain& m = Start();
  EXPECT_EQ(m.MyTable().IndexName(), "NEWINDEX");
  EXPECT_EQ(m.CountLabel->text(), "3");
}

TEST_F(MainWinTest, ASortTagOfAnotherOrderIsBuiltAgainFromTheStoredLevels) {
  MakeDb(Home("MASTER.DBF"), {"b", "a", "c"});
  platform::WriteProfileString(Home("MASTER.INI"), "Sort Order", "Primary Sort",
                               QString::number(kYear));
  {
    dbf::Table t;
    t.SetDirectory(home_.path());
    t.SetTableName("MASTER");
    t.Open();
    t.AddIndex("NEWINDEX", "Upper(Left(Country,80))");
    for (t.First(); !t.Eof(); t.Next()) {
      const std::string country = t.FieldByName("Country").AsString();
      t.Edit();
      t.FieldByName("Year").SetAsString(country == "a" ? "1990" : country == "b" ? "1970" : "1980");
      t.Post();
    }
  }
  TMain& m = Start();
  std::string expression;
  for (const dbf::TagInfo& tag : m.MyTable().Tags())
    if (QString::fromStdString(tag.name).toUpper() == "NEWINDEX") expression = tag.expression;
  EXPECT_EQ(expression, "Upper(Left(Year,80))");
  std::vector<std::string> walked;
  dbf::Table& t = m.MyTable();
  for (t.First(); !t.Eof(); t.Next()) walked.push_back(t.FieldByName("Country").AsString());
  EXPECT_EQ(walked, (std::vector<std::string>{"b", "c", "a"}));
}

TEST_F(MainWinTest, AnInvalidLastDatabaseAsksUntilAValidOneIsChosen) {
  // A dBase table that is not a coin table, recorded as the last database.
  const QString bad = Q(other_.File("BAD.DBF"));
  dbf::Table::CreateTable(bad.toStdString(), {{"NAME", 'C', 10, 0, false}});
  platform::WriteProfileString(ProgramIni(), "Misc", "Last Database", bad);
  const QString good = MakeDb(Q(other_.File("GOOD.DBF")), {"x"});
  ExpectLastDatabaseRefused();
  TestPrompts().AnswerOpenFile(Q(other_.File("notes.txt")));
  TestPrompts().ExpectMessage("Error", "Invalid file type selected.", MsgButton::kOk);
  TestPrompts().AnswerOpenFile(good);
  TMain& m = Start();
  EXPECT_EQ(m.windowTitle(), "Kolvane Coins 97 (GOOD)");
  EXPECT_EQ(m.state().database_name, good);
  EXPECT_EQ(TestPrompts().asked()[2].caption, "Open Database File");
  EXPECT_TRUE(TestPrompts().asked()[2].file.file_must_exist);
  EXPECT_EQ(TestPrompts().asked()[2].file.filter, "Database Files (*.DBF)|*.DBF");
}

TEST_F(MainWinTest, CancellingTheOpenDialogAtStartFallsBackToTheDefault) {
  const QString bad = Q(other_.File("BAD.DBF"));
  dbf::Table::CreateTable(bad.toStdString(), {{"NAME", 'C', 10, 0, false}});
  platform::WriteProfileString(ProgramIni(), "Misc", "Last Database", bad);
  ExpectLastDatabaseRefused();
  TestPrompts().AnswerOpenFile("");
  TMain& m = Start();
  EXPECT_EQ(m.state().database_name, Home("MASTER.DBF"));
}

TEST_F(MainWinTest, ADatabaseNamedOnTheCommandLineOpensInsteadOfTheLastOne) {
  const QString named = MakeDb(Q(other_.File("NAMED.DBF")), {"a", "b"});
  MakeDb(Home("MASTER.DBF"));
  platform::WriteProfileString(ProgramIni(), "Misc", "Last Database", Home("MASTER.DBF"));
  TMain& m = Start({"--browse", named});
  EXPECT_EQ(m.windowTitle(), "Kolvane Coins 97 (NAMED)");
  EXPECT_EQ(m.CountLabel->text(), "2");
  EXPECT_TRUE(m.state().browse_only);

  // Not a coin table: the validity message, then the open dialog.
  Close();
  const QString bad = Q(other_.File("BAD.DBF"));
  dbf::Table::CreateTable(bad.toStdString(), {{"NAME", 'C', 10, 0, false}});
  TestPrompts().ExpectMessage(
      "Error",
      "This DBase file was not created with Kolvane Coins 97.  It cannot be opened.  You may, "
      "however, import data from this file using the import function.",
      MsgButton::kOk);
  TestPrompts().AnswerOpenFile(named);
  Start({bad});
  EXPECT_EQ(main_->windowTitle(), "Kolvane Coins 97 (NAMED)");
}

// ---------------------------------------------------------------------------
// Options

TEST_F(MainWinTest, WindowSizeIsStoredAndComesBack) {
  TMain& m = Start();
  m.SetScreenSize(1280);
  EXPECT_TRUE(m.MenuScreenSizes[3]->isChecked());
  EXPECT_FALSE(m.MenuScreenSizes[0]->isChecked());
  EXPECT_DOUBLE_EQ(m.state().scale_factor, 2.0);
  Restart();
  EXPECT_EQ(Setting(ProgramIni(), "Misc", "Window Size"), "1280");
  EXPECT_TRUE(main_->MenuScreenSizes[3]->isChecked());
  EXPECT_DOUBLE_EQ(main_->state().scale_factor, 2.0);
}

TEST_F(MainWinTest, AWindowSizeTheScreenCannotShowFallsBackOrIsRefused) {
  platform::WriteProfileString(ProgramIni(), "Misc", "Window Size", "1024");
  TMain& m = Start({}, QSize(800, 600));
  EXPECT_TRUE(m.MenuScreenSizes[0]->isChecked());
  EXPECT_FALSE(m.MenuScreenSizes[2]->isChecked());
  EXPECT_DOUBLE_EQ(m.state().scale_factor, 1.0);
  EXPECT_EQ(m.state().settings.window_size, 640);

  TestPrompts().ExpectMessage("Error",
                              "Your current screen resolution does not support 1024 x 768 pixels.",
                              MsgButton::kOk);
  m.MenuScreenSizes[2]->trigger();
  EXPECT_FALSE(m.MenuScreenSizes[2]->isChecked());
  EXPECT_TRUE(m.MenuScreenSizes[0]->isChecked());
  EXPECT_EQ(m.state().settings.window_size, 640);

  // 800 x 600 fits; choosing it again does nothing at all.
  m.MenuScreenSizes[1]->trigger();
  EXPECT_DOUBLE_EQ(m.state().scale_factor, 1.25);
  m.MenuScreenSizes[1]->trigger();
  EXPECT_TRUE(m.MenuScreenSizes[1]->isChecked());
  EXPECT_EQ(TestPrompts().Messages().size(), 1u);
}

TEST_F(MainWinTest, ButtonBarModesPlaceTheControls) {
  TMain& m = Start();
  m.resize(800, 600);
  m.show();
  QCoreApplication::processEvents();
  const int cw = m.client()->width();
  const int ch = m.client()->height();
  m.MenuScreenAccess[1]->trigger();
  EXPECT_EQ(m.Navigator->geometry(), QRect(400, 47, 221, 25));
  EXPECT_TRUE(m.NavigatorLabel->isVisible());
  EXPECT_EQ(m.ViewerGrid->geometry(), QRect(7, 122, cw - 14, ch - 129));
  EXPECT_TRUE(m.CommandButton(TMain::kExit)->isEnabled());
  EXPECT_FALSE(m.CommandButton(TMain::kEndSearch)->isEnabled());  // not searching
  EXPECT_FALSE(m.CommandButton(TMain::kAdd)->isEnabled());        // no edit form yet
  EXPECT_TRUE(m.CommandButton(TMain::kDelete)->isEnabled());
  m.MenuScreenAccess[2]->trigger();
  EXPECT_TRUE(m.MenuScreenAccess[2]->isChecked());
  EXPECT_FALSE(m.MenuScreenAccess[1]->isChecked());
  EXPECT_EQ(m.Navigator->geometry(), QRect(cw - 207, 8, 201, 25));
  EXPECT_EQ(m.ViewerBevel->geometry(), QRect(3, 4, cw - 6, ch - 7));
  EXPECT_FALSE(m.SpeedPanel->isVisible());
  EXPECT_FALSE(m.CommandButton(TMain::kExit)->isVisible());
  m.MenuScreenAccess[0]->trigger();
  EXPECT_EQ(m.Navigator->geometry(), QRect(424, 3, 241, 25));
  EXPECT_EQ(m.ViewerGrid->geometry(), QRect(7, 70, cw - 14, ch - 77));
  EXPECT_TRUE(m.SpeedPanel->isVisible());
  // The "Coin Viewer" label stays centred.
  EXPECT_EQ(m.ViewerLabel->x(), (cw - m.ViewerLabel->width()) / 2);
  m.resize(900, 650);
  QCoreApplication::processEvents();
  EXPECT_EQ(m.ViewerLabel->x(), (m.client()->width() - m.ViewerLabel->width()) / 2);
  EXPECT_EQ(m.ViewerGrid->width(), m.client()->width() - 14);
}

TEST_F(MainWinTest, BrowseOnlyInMixedCase) {
  MakeDb(Home("MASTER.DBF"), {"a", "b"});
  platform::WriteProfileString(Home("MASTER.INI"), "Grid Options", "Field Editing", "Yes");
  TMain& m = Start({"/bRoWsE"});
  // Forms that will register these later: Add and Copy stay locked, Edit not.
  bool edited = false;
  m.SetCommandHandler(TMain::kAdd, [] {});
  m.SetCommandHandler(TMain::kCopy, [] {});
  m.SetCommandHandler(TMain::kEdit, [&] { edited = true; });
  m.SetCommandHandler(TMain::kViewer, [] {});
  for (TMain::Command c : {TMain::kAdd, TMain::kCopy, TMain::kDelete, TMain::kViewer}) {
    EXPECT_FALSE(m.CommandAvailable(c)) << c;
    EXPECT_FALSE(m.CommandAction(c)->isEnabled()) << c;
    EXPECT_FALSE(m.CommandSpeed(c)->isEnabled()) << c;
  }
  EXPECT_FALSE(m.CommandAction(TMain::kBackup)->isEnabled());
  EXPECT_FALSE(m.MenuListMaintenance->menuAction()->isEnabled());
  EXPECT_TRUE(m.CommandAvailable(TMain::kEdit));
  EXPECT_TRUE(m.CommandAction(TMain::kEdit)->isEnabled());
  m.Trigger(TMain::kEdit);
  EXPECT_TRUE(edited);
  m.Trigger(TMain::kDelete);  // asks nothing, deletes nothing
  EXPECT_EQ(m.CountLabel->text(), "2");
  // In lettered-button mode the locked buttons stay off too.
  m.SetButtonBarMode(2);
  EXPECT_FALSE(m.CommandButton(TMain::kDelete)->isEnabled());
  EXPECT_TRUE(m.CommandButton(TMain::kEdit)->isEnabled());
  // The navigator keeps its four moving buttons.
  EXPECT_TRUE(m.Navigator->reduced());
  EXPECT_FALSE(m.Navigator->button(MyNavigator::kDelete)->isVisibleTo(m.Navigator));
  EXPECT_TRUE(m.Navigator->button(MyNavigator::kLast)->isVisibleTo(m.Navigator));
  // "Field Editing" is off during the run and unchanged on disk.
  EXPECT_FALSE(m.viewer_model()->field_editing());
  EXPECT_FALSE(m.viewer_model()->flags(m.viewer_model()->index(0, 0)) & Qt::ItemIsEditable);
  Close();
  EXPECT_EQ(Setting(Home("MASTER.INI"), "Grid Options", "Field Editing"), "Yes");
}

TEST_F(MainWinTest, FieldOrderWithAnUnassignedPositionAndHiddenColumns) {
  MakeDb(Home("MASTER.DBF"), {"Peru"});
  const QString ini = Home("MASTER.INI");
  platform::WriteProfileString(ini, "Field Order", "FaceValue", "0");
  platform::WriteProfileString(ini, "Display Fields", "Year", "No");
  platform::WriteProfileString(ini, "Field Names", "Country", "Land");
  platform::WriteProfileString(ini, "Field Width", "Country", "30");
  TMain& m = Start();
  const auto& cols = m.viewer_model()->columns();
  ASSERT_EQ(cols.size(), 19u);
  EXPECT_EQ(cols[1].field, kCountry);
  EXPECT_EQ(cols[0].field, kFaceValue);
  EXPECT_EQ(m.viewer_model()->ColumnOf(kYear), -1);
  EXPECT_EQ(m.viewer_model()->headerData(1, Qt::Horizontal).toString(), "Land");
  EXPECT_EQ(m.viewer_model()->data(m.viewer_model()->index(0, 1)).toString(), "Peru");
  EXPECT_GT(m.ViewerGrid->columnWidth(1), m.ViewerGrid->columnWidth(0));
}

// ---------------------------------------------------------------------------
// Commands

TEST_F(MainWinTest, DeleteAsksAndCounts) {
  MakeDb(Home("MASTER.DBF"), {"a", "b", "c"});
  TMain& m = Start();
  EXPECT_EQ(m.CountLabel->text(), "3");
  TestPrompts().ExpectMessage("Confirm", "Delete this record?", MsgButton::kNo);
  m.Trigger(TMain::kDelete);
  EXPECT_EQ(m.CountLabel->text(), "3");
  TestPrompts().ExpectMessage("Confirm", "Delete this record?", MsgButton::kYes);
  m.Trigger(TMain::kDelete);
  EXPECT_EQ(m.CountLabel->text(), "2");
  EXPECT_EQ(TestPrompts().Messages()[1].buttons, platform::MsgButtons::kYesNo);
  EXPECT_EQ(m.viewer_model()->rowCount(), 2);
}

// Warnings of the item views about editors (an editor the view no longer
// knows, after a reset under it), counted while it lives.
class EditorWarnings {
 public:
  EditorWarnings() { previous_ = qInstallMessageHandler(&Handle); }
  ~EditorWarnings() { qInstallMessageHandler(previous_); }
  static int count() { return count_; }

 private:
  static void Handle(QtMsgType, const QMessageLogContext&, const QString& text) {
    if (text.contains("does not belong to this view")) ++count_;
  }
  static inline int count_ = 0;
  QtMessageHandler previous_;
};

TEST_F(MainWinTest, FieldEditingInTheGridKeepsTheEditedCoinAndTabsOn) {
  MakeDb(Home("MASTER.DBF"), {"Spain", "Argentina", "Peru"});
  platform::WriteProfileString(Home("MASTER.INI"), "Grid Options", "Field Editing", "Yes");
  TMain& m = Start();
  m.show();
  m.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&m));
  ASSERT_TRUE(m.viewer_model()->field_editing());
  EditorWarnings warnings;
  const int warned = EditorWarnings::count();
  ViewerModel* model = m.viewer_model();
  const auto cell = [&](int row, int field) {
    return model->data(model->index(row, model->ColumnOf(field))).toString().trimmed();
  };
  const auto click = [&](int row, int column) {
    const QRect r = m.ViewerGrid->visualRect(model->index(row, column));
    QTest::mouseClick(m.ViewerGrid->viewport(), Qt::LeftButton, {}, r.center());
  };
  // Each key goes to the widget with the focus then, as the window system
  // sends it: the first opens the cell editor.
  const auto type = [](const char* text, Qt::Key then) {
    for (const char* c = text; *c; ++c) QTest::keyClick(QApplication::focusWidget(), *c);
    QTest::keyClick(QApplication::focusWidget(), then);
    QApplication::processEvents();
  };

  // Enter stores the year; the grid stays on Argentina, and so does Delete.
  click(1, model->ColumnOf(kYear));
  type("1959", Qt::Key_Return);
  EXPECT_EQ(cell(1, kYear), "1959");
  EXPECT_EQ(m.ViewerGrid->currentIndex().row(), 1);
  EXPECT_EQ(m.ViewerGrid->currentIndex().column(), model->ColumnOf(kYear));
  EXPECT_EQ(m.MyTable().FieldByName("Country").AsString(), "Argentina");

  // Tab stores the value and moves on: what is typed next goes into the next
  // cell of the same coin.
  const int next_column = model->ColumnOf(kYear) + 1;
  const int next_field = model->columns()[static_cast<size_t>(next_column)].field;
  click(0, model->ColumnOf(kYear));
  type("1960", Qt::Key_Tab);
  EXPECT_EQ(m.ViewerGrid->currentIndex().row(), 0);
  EXPECT_EQ(m.ViewerGrid->currentIndex().column(), next_column);
  type("XY", Qt::Key_Return);
  EXPECT_EQ(cell(0, kYear), "1960");
  EXPECT_EQ(cell(0, next_field), "XY");

  // What is typed into a combo cell replaces the old value, and is stored
  // as typed: never completed from the pick list ("Fine (F-12)").
  click(2, model->ColumnOf(kCountry));
  type("Chile", Qt::Key_Return);
  EXPECT_EQ(cell(2, kCountry), "Chile");
  EXPECT_EQ(m.ViewerGrid->currentIndex().row(), 2);
  // The list the program gives the grid from the database's list file.
  model->SetPickList(kCondition, {"Good (G-4)", "Fine (F-12)"});
  click(2, model->ColumnOf(kCondition));
  type("Fine", Qt::Key_Return);
  EXPECT_EQ(cell(2, kCondition), "Fine");

  click(1, model->ColumnOf(kYear));
  TestPrompts().ExpectMessage("Confirm", "Delete this record?", MsgButton::kYes);
  m.Trigger(TMain::kDelete);
  QApplication::processEvents();
  dbf::Table t;
  t.SetDirectory(home_.path());
  t.SetTableName("MASTER.DBF");
  t.Open();
  std::vector<std::string> left;
  for (t.First(); !t.Eof(); t.Next()) left.push_back(t.FieldByName("Country").AsString());
  EXPECT_EQ(left, (std::vector<std::string>{"Spain", "Chile"}));
  EXPECT_EQ(EditorWarnings::count(), warned);
}

TEST_F(MainWinTest, ACoinChangedInTheGridKeepsItsPictures) {
  MakeDb(Home("MASTER.DBF"), {"Spain", "Argentina", "Peru"});
  const std::string path = Home("MASTER.DBF").toStdString();
  const std::vector<std::pair<uint32_t, pictures::Side>> attached = {
      {2, pictures::Side::kReverse}, {3, pictures::Side::kObverse}};
  test::AttachSamples(path, attached);
  platform::WriteProfileString(Home("MASTER.INI"), "Grid Options", "Field Editing", "Yes");
  TMain& m = Start();
  m.show();
  m.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&m));
  ViewerModel* model = m.viewer_model();
  // The Country and the Year name the coin; a new value of either is typed
  // into its cell and stored with Enter.
  for (const auto& [row, field, typed] : {std::tuple{2, kCountry, "Chile"},
                                          std::tuple{1, kYear, "1959"}}) {
    const QRect r = m.ViewerGrid->visualRect(model->index(row, model->ColumnOf(field)));
    QTest::mouseClick(m.ViewerGrid->viewport(), Qt::LeftButton, {}, r.center());
    for (const char* c = typed; *c; ++c) QTest::keyClick(QApplication::focusWidget(), *c);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(model->data(model->index(row, model->ColumnOf(field))).toString().trimmed(), typed);
  }
  EXPECT_EQ(test::AttachedPictures(path), attached);
}

TEST_F(MainWinTest, AnEngineErrorInACommandReachesTheGeneralErrorDisplay) {
  TMain& m = Start();
  int after = 0;
  m.SetCommandHandler(TMain::kSearch, [&] {
    throw dbf::DbfError(dbf::ErrorCode::kIo, "The disk went away");
    ++after;
  });
  TestPrompts().ExpectMessage("Kolvane Coins 97", "The disk went away", MsgButton::kOk);
  m.Trigger(TMain::kSearch);
  EXPECT_EQ(after, 0);
  // The window goes on working.
  EXPECT_TRUE(m.MyTable().IsOpen());
}

TEST_F(MainWinTest, UnbuiltCommandsAreShownDisabled) {
  TMain& m = Start();
  for (TMain::Command c :
       {TMain::kAdd, TMain::kEdit, TMain::kCopy, TMain::kBackup, TMain::kRestore, TMain::kImport,
        TMain::kExport, TMain::kSearch, TMain::kLocate, TMain::kLocateNext, TMain::kReports,
        TMain::kViewer, TMain::kSortOrder, TMain::kColorAll, TMain::kListCountry,
        TMain::kSearchReplace, TMain::kRebuildIndexes, TMain::kPackDatabase, TMain::kReviewTips}) {
    EXPECT_FALSE(m.CommandAction(c)->isEnabled()) << c;
  }
  EXPECT_FALSE(m.CommandAction(TMain::kPrint)->isEnabled());
  for (TMain::Command c : {TMain::kNew, TMain::kOpen, TMain::kUpdate, TMain::kExit, TMain::kDelete,
                           TMain::kHelpContents, TMain::kAbout})
    EXPECT_TRUE(m.CommandAction(c)->isEnabled()) << c;
  EXPECT_EQ(m.CommandAction(TMain::kOpen)->text(), "&Open Database");
  EXPECT_EQ(m.CommandAction(TMain::kOpen)->shortcut(), QKeySequence("Ctrl+O"));
  EXPECT_EQ(m.CommandAction(TMain::kSearch)->text(), "&Search (Query)");
  EXPECT_EQ(m.CommandAction(TMain::kReviewTips)->text(), "&Review \"Tips of the Day\"");
  EXPECT_EQ(m.CommandSpeed(TMain::kLocateNext)->toolTip(), "Locate Next Record");
  EXPECT_EQ(m.CommandButton(TMain::kEndSearch)->text(), "E&nd Srch");
}

TEST_F(MainWinTest, TheWindowTakesTheMainColourGroup) {
  test::RecordedColors colors;
  TMain& m = Start();
  ASSERT_FALSE(colors.asked.empty());
  EXPECT_EQ(colors.asked.back(), std::make_pair<QWidget*>(&m, forms::ColorGroupId::kMain));
}

TEST_F(MainWinTest, SearchModeStateAndEndSearch) {
  TMain& m = Start();
  m.EnableEndSearch();
  EXPECT_TRUE(m.database().searching());
  EXPECT_TRUE(m.SearchOnLabel->isVisibleTo(&m));
  EXPECT_TRUE(m.CommandAction(TMain::kEndSearch)->isEnabled());
  EXPECT_TRUE(m.CommandSpeed(TMain::kEndSearch)->isEnabled());
  m.Trigger(TMain::kEndSearch);
  EXPECT_FALSE(m.database().searching());
  EXPECT_FALSE(m.SearchOnLabel->isVisibleTo(&m));
  EXPECT_FALSE(m.CommandAction(TMain::kEndSearch)->isEnabled());
  EXPECT_TRUE(m.MyTable().IsOpen());
}

// ---------------------------------------------------------------------------
// Database switching

TEST_F(MainWinTest, OpenChecksTheTypeAndTheFields) {
  TMain& m = Start();
  // The extension is compared in upper case.
  TestPrompts().ExpectMessage("Error", "Invalid file type selected.", MsgButton::kOk);
  OpenViaDialog(Q(other_.File("Coins.db")));
  const QString lower = MakeDb(Q(other_.File("Coins.dbf")), {"a"});
  OpenViaDialog(lower);
  EXPECT_EQ(m.windowTitle(), "Kolvane Coins 97 (Coins)");
  EXPECT_EQ(TestPrompts().asked()[2].file.title, "Open Database File");
  EXPECT_EQ(TestPrompts().asked()[2].file.filter, "Database Files (*.DBF)|*.DBF");
  EXPECT_TRUE(TestPrompts().asked()[2].file.file_must_exist);

  // The right names in another order, or a 21st field: rejected.
  std::vector<dbf::FieldDef> defs = CoinFieldDefs();
  std::vector<dbf::FieldDef> swapped = defs;
  std::swap(swapped[0], swapped[1]);
  dbf::Table::CreateTable(other_.File("SWAPPED.DBF"), swapped);
  std::vector<dbf::FieldDef> more = defs;
  more.push_back({"EXTRA", 'C', 5, 0, false});
  dbf::Table::CreateTable(other_.File("MORE.DBF"), more);
  for (const char* name : {"SWAPPED.DBF", "MORE.DBF"}) {
    TestPrompts().ExpectMessage(
        "Error",
        "This DBase file was not created with Kolvane Coins 97.  It cannot be opened.  You may, "
        "however, import data from this file using the import function.",
        MsgButton::kOk);
    OpenViaDialog(Q(other_.File(name)));
    EXPECT_EQ(m.windowTitle(), "Kolvane Coins 97 (Coins)");
  }
  // The right names with other types and widths: accepted.
  std::vector<dbf::FieldDef> other = defs;
  other[0].length = 33;
  other[5] = {"PURCHASEPR", 'C', 12, 0, false};
  dbf::Table::CreateTable(other_.File("TYPES.DBF"), other);
  OpenViaDialog(Q(other_.File("TYPES.DBF")));
  EXPECT_EQ(m.windowTitle(), "Kolvane Coins 97 (TYPES)");
}

TEST_F(MainWinTest, ATableWhoseIndexFileWasDeletedOpensAndGetsANewOne) {
  TMain& m = Start();
  const QString db = MakeDb(Q(other_.File("LOST.DBF")), {"b", "a"});
  OpenViaDialog(db);
  Close();
  ASSERT_TRUE(QFile::remove(Q(other_.File("LOST.MDX"))));
  Start();
  EXPECT_EQ(main_->windowTitle(), "Kolvane Coins 97 (LOST)");
  EXPECT_TRUE(QFileInfo::exists(Q(other_.File("LOST.MDX"))));
  EXPECT_EQ(main_->CountLabel->text(), "2");
  (void)m;
}

TEST_F(MainWinTest, SwitchingSavesAndReadsEachDatabasesSettings) {
  TMain& m = Start();
  const QString a = MakeDb(Q(other_.File("A.DBF")), {"x"});
  platform::WriteProfileString(Q(other_.File("A.INI")), "Sort Order", "Primary Sort", "1");
  m.state().settings.field_names[kCountry] = "Master land";
  OpenViaDialog(a);
  EXPECT_EQ(m.sort_string(), "Upper(Left(Country,80))");
  EXPECT_EQ(Setting(Home("MASTER.INI"), "Field Names", "Country"), "Master land");
  EXPECT_EQ(m.state().settings.field_names[kCountry], "Country");
  EXPECT_EQ(m.CountLabel->text(), "1");

  // A new database takes its settings from the program file, not from A.
  TestPrompts().AnswerSaveFile(Q(other_.File("NEW.DBF")));
  m.Trigger(TMain::kNew);
  EXPECT_EQ(m.windowTitle(), "Kolvane Coins 97 (NEW)");
  EXPECT_EQ(m.sort_string(), "Upper(Left(Miscellane,80))");
  EXPECT_EQ(m.CountLabel->text(), "0");
  EXPECT_EQ(TestPrompts().asked().back().file.title, "New Database File");
  EXPECT_TRUE(TestPrompts().asked().back().file.overwrite_prompt);
  EXPECT_EQ(Setting(Q(other_.File("A.INI")), "Sort Order", "Primary Sort"), "1");
}

TEST_F(MainWinTest, RecentFiles) {
  TMain& m = Start();
  const QString master = Home("MASTER.DBF");
  const QString a = MakeDb(Q(other_.File("A.DBF")));
  const QString b = MakeDb(Q(other_.File("B.DBF")));
  const QString c = MakeDb(Q(other_.File("C.DBF")));
  EXPECT_FALSE(m.MenuLastFilesSeparator->isVisible());
  OpenViaDialog(a);
  OpenViaDialog(b);
  OpenViaDialog(c);
  auto& files = m.state().settings.last_files;
  EXPECT_EQ(files[0], b);
  EXPECT_EQ(files[1], a);
  EXPECT_EQ(files[2], master);
  EXPECT_TRUE(files[3].isEmpty());
  EXPECT_TRUE(m.MenuLastFilesSeparator->isVisible());
  EXPECT_EQ(m.MenuLastFiles[0]->text(), "&1   " + b);
  EXPECT_EQ(m.MenuLastFiles[2]->text(), "&3   " + master);
  EXPECT_TRUE(m.MenuLastFiles[2]->isVisible());
  EXPECT_FALSE(m.MenuLastFiles[3]->isVisible());

  // Entry 3: removed, 1 and 2 move down, the open database goes first.
  m.MenuLastFiles[2]->trigger();
  EXPECT_EQ(m.state().database_name, master);
  EXPECT_EQ(files[0], c);
  EXPECT_EQ(files[1], b);
  EXPECT_EQ(files[2], a);
  EXPECT_TRUE(files[3].isEmpty());

  // The database already open: its own path goes first.
  OpenViaDialog(master);
  EXPECT_EQ(files[0], master);
  EXPECT_EQ(files[1], c);
  EXPECT_EQ(files[2], b);
  EXPECT_EQ(files[3], a);

  // A path differing only in case is another entry.
  const QString upper_c = Q(other_.path()) + "/c.DBF";
  QFile::copy(c, upper_c);
  OpenViaDialog(upper_c);
  EXPECT_EQ(files[0], master);
  EXPECT_EQ(files[1], master);
  EXPECT_EQ(files[2], c);

  // Written as "Last File 1" .. "Last File 5" at close, read back at start.
  Restart();
  EXPECT_EQ(Setting(ProgramIni(), "Misc", "Last File 3"), c);
  EXPECT_EQ(main_->MenuLastFiles[2]->text(), "&3   " + c);
  EXPECT_EQ(main_->state().database_name, upper_c);
}

TEST_F(MainWinTest, ASecondCopyHoldingTheTable) {
  TMain& m = Start();
  const QString shared = MakeDb(Q(other_.File("SHARED.DBF")), {"b", "a"});
  dbf::Table other_copy;
  other_copy.SetDirectory(other_.path());
  other_copy.SetTableName("SHARED");
  other_copy.Open();
  other_copy.AddIndex("NEWINDEX", "Upper(Left(Country,80))");

  // Opening works shared; the other copy's index is neither dropped nor rebuilt.
  platform::WriteProfileString(Q(other_.File("SHARED.INI")), "Sort Order", "Primary Sort", "12");
  OpenViaDialog(shared);
  EXPECT_EQ(m.windowTitle(), "Kolvane Coins 97 (SHARED)");
  EXPECT_EQ(m.CountLabel->text(), "2");
  ASSERT_EQ(m.MyTable().Tags().size(), 1u);
  EXPECT_EQ(m.MyTable().Tags()[0].expression, "Upper(Left(Country,80))");
  EXPECT_EQ(m.MyTable().IndexName(), "NEWINDEX");

  // New over a file another program holds: refused with the path in quotes.
  const QString held = MakeDb(Q(other_.File("HELD.DBF")), {"z"});
  dbf::Table holder;
  holder.SetDirectory(other_.path());
  holder.SetTableName("HELD");
  holder.Open();
  TestPrompts().AnswerSaveFile(held);
  TestPrompts().ExpectMessage(
      "Error",
      "The table \"" + held +
          "\" is currently in use by another program.  New table creation will be aborted.",
      MsgButton::kOk);
  m.Trigger(TMain::kNew);
  EXPECT_EQ(m.windowTitle(), "Kolvane Coins 97 (SHARED)");
  EXPECT_EQ(holder.RecordCount(), 1u);
}

TEST_F(MainWinTest, ASecondProcessHoldingTheTable) {
  TMain& m = Start();
  const QString db = MakeDb(Q(other_.File("PROC.DBF")), {"a"});
  HeldByAnotherProcess holder(other_.path(), "PROC");
  EXPECT_TRUE(DBaseInUse(db));
  OpenViaDialog(db);
  EXPECT_EQ(m.windowTitle(), "Kolvane Coins 97 (PROC)");
  EXPECT_EQ(m.CountLabel->text(), "1");
  // Without the tag and unable to add it alone, the table shows in record order.
  EXPECT_EQ(m.MyTable().IndexName(), "");
}

TEST_F(MainWinTest, AnEngineErrorDuringASwitchReopensThePreviousDatabase) {
  MakeDb(Home("MASTER.DBF"), {"one", "two"});
  TMain& m = Start();
  // The right field names, but Country is a number: the sort index on it
  // cannot be built, after the old database was closed.
  std::vector<dbf::FieldDef> defs = CoinFieldDefs();
  defs[0] = {"COUNTRY", 'N', 5, 0, false};
  dbf::Table::CreateTable(other_.File("ODD.DBF"), defs);
  platform::WriteProfileString(Q(other_.File("ODD.INI")), "Sort Order", "Primary Sort", "1");
  TestPrompts().AnswerMessage(MsgButton::kOk);
  OpenViaDialog(Q(other_.File("ODD.DBF")));
  ASSERT_EQ(TestPrompts().Messages().size(), 1u);
  const QString text = TestPrompts().Messages()[0].text;
  EXPECT_EQ(TestPrompts().Messages()[0].caption, "Error");
  EXPECT_TRUE(text.startsWith("The database could not be opened.  ")) << text.toStdString();
  EXPECT_TRUE(text.endsWith("The database open before is open again.")) << text.toStdString();
  EXPECT_EQ(m.windowTitle(), "Kolvane Coins 97 (MASTER)");
  EXPECT_EQ(m.state().database_name, Home("MASTER.DBF"));
  EXPECT_TRUE(m.MyTable().IsOpen());
  EXPECT_EQ(m.CountLabel->text(), "2");
  EXPECT_EQ(m.sort_string(), "Upper(Left(Miscellane,80))");
  // The failed database did not join the recent files.
  EXPECT_TRUE(m.state().settings.last_files[0].isEmpty());
}

TEST_F(MainWinTest, AReadOnlyProgramDirectoryStopsTheStartSayingWhy) {
  // The program directory exists, holds no default database and cannot be
  // written to. Returns 0 when the start failed as it should, else the
  // number of the check that failed.
  auto start = [&]() -> int {
    TestPrompts().AnswerMessage(MsgButton::kOk);
    auto m = std::make_unique<TMain>();
    if (m->FormCreate(StartOptions{})) return 1;
    if (TestPrompts().Messages().size() != 1u) return 2;
    const auto box = TestPrompts().Messages()[0];
    if (box.caption != "Error") return 3;
    const QString what =
        "The default database \"" + Home("MASTER.DBF") + "\" could not be created.  ";
    if (!box.text.startsWith(what)) return 4;
    if (box.text.size() <= what.size()) return 5;  // the reason follows
    if (QFileInfo::exists(Home("MASTER.DBF"))) return 6;
    return 0;
  };
  ASSERT_EQ(chmod(home_.path().c_str(), 0555), 0);
  ASSERT_EQ(chmod(windir_.path().c_str(), 0755), 0);
  if (geteuid() != 0) {
    EXPECT_EQ(start(), 0);
  } else {
    // Permissions do not stop the superuser: start as an ordinary user in a
    // child process.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      alarm(60);
      if (setgid(65534) != 0 || setuid(65534) != 0) _exit(90);
      _exit(start());
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  chmod(home_.path().c_str(), 0700);
}

TEST_F(MainWinTest, EveryCommandHasItsCaptionShortcutAndButtons) {
  TMain& m = Start();
  struct Row {
    TMain::Command command;
    const char* caption;
    const char* shortcut;  // "" for none
    const char* button;    // lettered button, "" for none
    const char* hint;      // speed button, "" for none
  };
  const Row rows[] = {
      {TMain::kNew, "&New Database", "Ctrl+W", "", "New Database"},
      {TMain::kOpen, "&Open Database", "Ctrl+O", "", "Open Database"},
      {TMain::kUpdate, "&Update Database", "Ctrl+Z", "", ""},
      {TMain::kBackup, "&Back Up Data", "Ctrl+B", "", ""},
      {TMain::kRestore, "&Restore Data", "Ctrl+Y", "", ""},
      {TMain::kPrint, "&Print", "Ctrl+P", "", ""},
      {TMain::kExit, "E&xit", "Ctrl+X", "E&xit", ""},
      {TMain::kAdd, "&Add", "Ctrl+A", "&Add", "Add Record"},
      {TMain::kEdit, "&Edit", "Ctrl+E", "&Edit", "Edit Record"},
      {TMain::kCopy, "&Copy", "Ctrl+C", "&Copy", "Copy Record"},
      {TMain::kDelete, "&Delete", "Ctrl+D", "&Delete", "Delete Record"},
      {TMain::kImport, "&Import", "Ctrl+M", "", "Import Records"},
      {TMain::kExport, "E&xport", "Ctrl+T", "", "Export Records"},
      {TMain::kSearch, "&Search (Query)", "Ctrl+S", "&Search", "Search Records"},
      {TMain::kEndSearch, "&End Search", "Ctrl+I", "E&nd Srch", "End Search"},
      {TMain::kLocate, "&Locate", "Ctrl+L", "", "Locate Record"},
      {TMain::kLocateNext, "Locate &Next", "Ctrl+N", "", "Locate Next Record"},
      {TMain::kReports, "&Reports", "Ctrl+R", "&Reports", "Reports"},
      {TMain::kViewer, "&Viewer", "Ctrl+V", "&Viewer", "Viewer Configuration"},
      {TMain::kSortOrder, "Sort &Order", "Ctrl+Q", "", "Set Sorting Order"},
      {TMain::kColorMain, "&Main Window Color", "Ctrl+F4", "", ""},
      {TMain::kColorEdit, "&Edit Window Color", "Ctrl+F5", "", ""},
      {TMain::kColorSearch, "&Search Window Color", "Ctrl+F6", "", ""},
      {TMain::kColorReport, "&Report Window Color", "Ctrl+F7", "", ""},
      {TMain::kColorConfigure, "&Configure Window Color", "Ctrl+F8", "", ""},
      {TMain::kColorAll, "&ALL Windows Color", "Ctrl+F9", "", "Color Setup"},
      {TMain::kListSaveDefaults, "&Save As Defaults", "", "", ""},
      {TMain::kListLoadDefaults, "Load In &Defaults", "", "", ""},
      {TMain::kListCountry, "&Country", "", "", ""},
      {TMain::kListTopic, "&Topic", "", "", ""},
      {TMain::kListCondition, "C&ondition", "", "", ""},
      {TMain::kListMiscellaneous, "&Miscellaneous", "", "", ""},
      {TMain::kSearchReplace, "&Search and Replace", "Ctrl+F", "", ""},
      {TMain::kRebuildIndexes, "&Rebuild Indexes", "", "", ""},
      {TMain::kPackDatabase, "&Pack Database", "", "", ""},
      {TMain::kRecallDeleted, "Recall &Deleted Rows", "", "", ""},
      {TMain::kHelpContents, "&Contents", "Ctrl+H", "He&lp", "Help"},
      {TMain::kReviewTips, "&Review \"Tips of the Day\"", "", "", ""},
      {TMain::kAbout, "&About", "", "", ""},
      {TMain::kOpenSample, "Open &Sample Collection", "", "", ""},
      {TMain::kStatistics, "S&tatistics", "", "", ""},
      {TMain::kWantList, "&Want List", "", "", ""},
  };
  ASSERT_EQ(std::size(rows), static_cast<size_t>(TMain::kCommandCount));
  int buttons = 0, speeds = 0;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.caption);
    ASSERT_NE(m.CommandAction(r.command), nullptr);
    EXPECT_EQ(m.CommandAction(r.command)->text(), r.caption);
    EXPECT_EQ(m.CommandAction(r.command)->shortcut(),
              QKeySequence(QString::fromLatin1(r.shortcut)));
    if (*r.button) {
      ASSERT_NE(m.CommandButton(r.command), nullptr);
      EXPECT_EQ(m.CommandButton(r.command)->text(), r.button);
      ++buttons;
    } else {
      EXPECT_EQ(m.CommandButton(r.command), nullptr);
    }
    if (*r.hint) {
      ASSERT_NE(m.CommandSpeed(r.command), nullptr);
      EXPECT_EQ(m.CommandSpeed(r.command)->toolTip(), r.hint);
      ++speeds;
    } else {
      EXPECT_EQ(m.CommandSpeed(r.command), nullptr);
    }
  }
  EXPECT_EQ(buttons, 10);
  EXPECT_EQ(speeds, 17);

  // The menus and the option items that are not commands.
  QStringList menus;
  for (QAction* a : m.menuBar()->actions()) menus << a->text();
  EXPECT_EQ(menus, QStringList({"&File", "&Records", "Navi&gate", "&Options", "&Tools", "&Help"}));
  const char* const sizes[] = {"640 x 480", "800 x 600", "1024 x 768", "1280 x 1024"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(m.MenuScreenSizes[static_cast<size_t>(i)]->text(), sizes[i]);
    EXPECT_EQ(m.MenuScreenSizes[static_cast<size_t>(i)]->shortcut(),
              QKeySequence(QStringLiteral("Shift+F%1").arg(i + 1)));
  }
  const char* const access[] = {"&Speed Buttons", "&Lettered Buttons", "&None"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(m.MenuScreenAccess[static_cast<size_t>(i)]->text(), access[i]);
    EXPECT_EQ(m.MenuScreenAccess[static_cast<size_t>(i)]->shortcut(),
              QKeySequence(QStringLiteral("Ctrl+F%1").arg(i + 1)));
  }
  const char* const fonts[] = {"&Label Font", "&Edit Font", "&Button Font"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(m.MenuFonts[static_cast<size_t>(i)]->text(), fonts[i]);
    EXPECT_EQ(m.MenuFonts[static_cast<size_t>(i)]->shortcut(),
              QKeySequence(QStringLiteral("Shift+F%1").arg(i + 8)));
  }
  EXPECT_EQ(m.MenuNumericFormat[0]->text(), "&U.S. Format");
  EXPECT_EQ(m.MenuNumericFormat[1]->text(), "&Windows Setting");
  EXPECT_EQ(m.MenuCurrencyFormat[0]->text(), "&U.S. Dollars");
  EXPECT_EQ(m.MenuCurrencyFormat[1]->text(), "&Windows Setting");
  EXPECT_EQ(m.MenuLeadingZeros->text(), "&Leading Zeros");
  EXPECT_EQ(m.MenuColor->title(), "&Color");
  EXPECT_EQ(m.MenuListMaintenance->title(), "List &Maintenance");
  EXPECT_EQ(m.NavigatorLabel->text(), "Navigation Controls");
  EXPECT_EQ(m.SearchOnLabel->text(), "SEARCH ON");
}

TEST_F(MainWinTest, PrintIsTheReportsCommand) {
  TMain& m = Start();
  EXPECT_FALSE(m.CommandAction(TMain::kPrint)->isEnabled());
  int reports = 0;
  m.SetCommandHandler(TMain::kReports, [&] { ++reports; });
  EXPECT_TRUE(m.CommandAction(TMain::kPrint)->isEnabled());
  m.CommandAction(TMain::kPrint)->trigger();
  m.Trigger(TMain::kReports);
  EXPECT_EQ(reports, 2);
  m.SetCommandHandler(TMain::kReports, nullptr);
  EXPECT_FALSE(m.CommandAction(TMain::kPrint)->isEnabled());
}

TEST_F(MainWinTest, DateNumberAndCurrencyMenus) {
  const QString db = MakeDb(Home("MASTER.DBF"), {"Peru"});
  {
    dbf::Table t;
    t.SetDirectory(home_.path());
    t.SetTableName("MASTER");
    t.Open();
    t.First();
    t.Edit();
    t.FieldByName("PurchDate").SetAsDate({1997, 5, 7});
    t.Post();
  }
  TMain& m = Start();
  ViewerModel* model = m.viewer_model();
  auto shown = [&] { return model->data(model->index(0, model->ColumnOf(kPurchDate))).toString(); };
  EXPECT_TRUE(m.MenuDateFormats[0]->isChecked());
  EXPECT_FALSE(m.MenuLeadingZeros->isChecked());
  EXPECT_EQ(shown(), "5/7/97");

  m.MenuDateFormats[4]->trigger();  // "dd-mm-yy"
  EXPECT_EQ(m.MenuDateFormats[4]->text(), "dd-mm-yy");
  EXPECT_TRUE(m.MenuDateFormats[4]->isChecked());
  EXPECT_FALSE(m.MenuDateFormats[0]->isChecked());
  EXPECT_EQ(shown(), "7-5-97");
  m.MenuLeadingZeros->trigger();
  EXPECT_TRUE(m.MenuLeadingZeros->isChecked());
  EXPECT_EQ(shown(), "07-05-97");

  // The ticked item again: nothing changes, nothing is read again.
  QSignalSpy resets(model, &QAbstractItemModel::modelReset);
  m.MenuDateFormats[4]->trigger();
  EXPECT_TRUE(m.MenuDateFormats[4]->isChecked());
  EXPECT_EQ(resets.count(), 0);
  EXPECT_EQ(m.state().settings.date_format, 5);

  m.MenuNumericFormat[1]->trigger();
  EXPECT_TRUE(m.MenuNumericFormat[1]->isChecked());
  EXPECT_FALSE(m.MenuNumericFormat[0]->isChecked());
  EXPECT_EQ(m.state().formats.numbers, NumberStyle::kWindows);
  EXPECT_EQ(m.state().formats.money, NumberStyle::kUS);
  m.MenuCurrencyFormat[1]->trigger();
  EXPECT_TRUE(m.MenuCurrencyFormat[1]->isChecked());
  EXPECT_FALSE(m.MenuCurrencyFormat[0]->isChecked());
  EXPECT_EQ(m.state().formats.money, NumberStyle::kWindows);
  m.MenuCurrencyFormat[0]->trigger();
  EXPECT_TRUE(m.MenuCurrencyFormat[0]->isChecked());
  EXPECT_FALSE(m.MenuCurrencyFormat[1]->isChecked());
  EXPECT_EQ(resets.count(), 0);  // nothing is shown again

  // Kept at close, in force at the next start.
  Restart();
  EXPECT_EQ(Setting(ProgramIni(), "Misc", "Date Format"), "5");
  EXPECT_EQ(Setting(ProgramIni(), "Misc", "Date Leading Zeros"), "Yes");
  EXPECT_EQ(Setting(ProgramIni(), "Misc", "Numeric Format"), "2");
  EXPECT_EQ(Setting(ProgramIni(), "Misc", "Currency Format"), "1");
  EXPECT_TRUE(main_->MenuDateFormats[4]->isChecked());
  EXPECT_TRUE(main_->MenuLeadingZeros->isChecked());
  EXPECT_TRUE(main_->MenuNumericFormat[1]->isChecked());
  model = main_->viewer_model();
  EXPECT_EQ(model->data(model->index(0, model->ColumnOf(kPurchDate))).toString(), "07-05-97");
  (void)db;
}

TEST_F(MainWinTest, UpdateDatabaseWritesTheSettingsAndKeepsSearchMode) {
  MakeDb(Home("MASTER.DBF"), {"a", "b"});
  TMain& m = Start();
  m.state().settings.field_names[kTopic] = "Theme";
  m.EnableEndSearch();
  m.Trigger(TMain::kUpdate);
  EXPECT_EQ(Setting(Home("MASTER.INI"), "Field Names", "Topic"), "Theme");
  EXPECT_TRUE(m.database().searching());
  EXPECT_TRUE(m.SearchOnLabel->isVisibleTo(&m));
  EXPECT_TRUE(m.MyTable().IsOpen());
  EXPECT_TRUE(m.MyTable().Filtered());
  EXPECT_EQ(
      m.viewer_model()->headerData(m.viewer_model()->ColumnOf(kTopic), Qt::Horizontal).toString(),
      "Theme");
  EXPECT_EQ(m.CountLabel->text(), "2");
}

TEST_F(MainWinTest, AFileThatIsNoTableEndsTheOpenWithTheEnginesMessage) {
  MakeDb(Home("MASTER.DBF"), {"a"});
  TMain& m = Start();
  const QString junk = Q(other_.File("JUNK.DBF"));
  {
    QFile f(junk);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("these are not the rows you are looking for");
  }
  TestPrompts().AnswerMessage(MsgButton::kOk);
  OpenViaDialog(junk);
  ASSERT_EQ(TestPrompts().Messages().size(), 1u);
  EXPECT_EQ(TestPrompts().Messages()[0].caption, "Kolvane Coins 97");
  EXPECT_FALSE(TestPrompts().Messages()[0].text.isEmpty());
  EXPECT_EQ(m.windowTitle(), "Kolvane Coins 97 (MASTER)");
  EXPECT_TRUE(m.MyTable().IsOpen());
  EXPECT_EQ(m.CountLabel->text(), "1");
  EXPECT_TRUE(m.state().settings.last_files[0].isEmpty());
}

TEST_F(MainWinTest, FontCommandsChangeTheUserFonts) {
  TMain& m = Start();
  QFont chosen(QStringLiteral("DejaVu Serif"));
  chosen.setBold(true);
  TestPrompts().AnswerFont(chosen);
  m.MenuFonts[1]->trigger();  // "&Edit Font"
  EXPECT_EQ(m.state().fonts.edit.family(), "DejaVu Serif");
  EXPECT_TRUE(m.state().fonts.edit.bold());
  TestPrompts().AnswerFont(std::nullopt);
  m.MenuFonts[2]->trigger();  // cancelled: unchanged
  EXPECT_EQ(m.state().fonts.button.family(), "Arial");
  // The buttons take the button font's name and style.
  QFont button(QStringLiteral("DejaVu Sans"));
  button.setItalic(true);
  TestPrompts().AnswerFont(button);
  m.MenuFonts[2]->trigger();
  EXPECT_EQ(m.CommandButton(TMain::kExit)->font().family(), "DejaVu Sans");
  // A wider label font leaves the title whole.
  TestPrompts().AnswerFont(QFont(QStringLiteral("DejaVu Serif"), 10, QFont::Bold));
  m.MenuFonts[0]->trigger();  // "&Label Font"
  EXPECT_EQ(m.ViewerLabel->font().family(), "DejaVu Serif");
  EXPECT_GE(m.ViewerLabel->width(), m.ViewerLabel->sizeHint().width());
  EXPECT_TRUE(m.CommandButton(TMain::kExit)->font().italic());
  Close();
  EXPECT_EQ(Setting(Home("MASTER.INI"), "Edit Font", "Font Name"), "DejaVu Serif");
  EXPECT_EQ(Setting(Home("MASTER.INI"), "Edit Font", "Bold"), "Yes");
  EXPECT_EQ(Setting(Home("MASTER.INI"), "Button Font", "Italic"), "Yes");
}

TEST_F(MainWinTest, AtStartAnotherProcessHoldingATableWithoutTheSortTag) {
  MakeDb(Home("MASTER.DBF"), {"b", "a"});
  HeldByAnotherProcess holder(home_.path(), "MASTER");
  TMain& m = Start();
  EXPECT_EQ(m.windowTitle(), "Kolvane Coins 97 (MASTER)");
  EXPECT_EQ(m.CountLabel->text(), "2");
  EXPECT_TRUE(m.MyTable().IsOpen());
}

TEST_F(MainWinTest, HelpOpensTheProgramsHelpFileAtItsContentsAndAboutSaysWhoWeAre) {
  Start();
  const QString shipped = QStringLiteral(KLV_SHIPPED_HELP_FILE);
  ASSERT_TRUE(QFile::copy(shipped, Home("KLVCOIN.HLP")));
  main_->Trigger(TMain::kHelpContents);
  auto* help = main_->findChild<platform::HelpWindow*>(QString(), Qt::FindDirectChildrenOnly);
  ASSERT_NE(help, nullptr);
  EXPECT_TRUE(help->isVisible());
  EXPECT_EQ(help->current_keyword(), QLatin1String(platform::HelpFile::kContentsKeyword));
  // The lettered Help button does the same.
  main_->SetButtonBarMode(2);
  help->close();
  main_->CommandButton(TMain::kHelpContents)->click();
  EXPECT_NE(main_->findChild<platform::HelpWindow*>(QString(), Qt::FindDirectChildrenOnly),
            nullptr);

  QString about_title, about_version;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<TAboutBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    about_title = box->windowTitle();
    about_version = box->Version->text();
    box->OKButton->click();
  });
  main_->Trigger(TMain::kAbout);
  EXPECT_EQ(about_title, "About Kolvane Coins 97");
  EXPECT_EQ(about_version, "Version " + QCoreApplication::applicationVersion());
  EXPECT_EQ(main_->findChild<TAboutBox*>(), nullptr);  // made for the one showing
}

QByteArray Bytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// Open Sample Collection, chosen on the Help menu: the shipped sample copied
// into the program directory and opened there, the shipped files untouched.
TEST_F(MainWinTest, OpenSampleCollectionCopiesTheSampleAndOpensTheCopy) {
  const QString shipped = QStringLiteral(KLV_SHIPPED_SAMPLE_DIR);
  const QByteArray dbf = Bytes(shipped + "/SAMPLE.DBF");
  const QByteArray mdx = Bytes(shipped + "/SAMPLE.MDX");
  // An index left behind by a deleted sample does not stop the copy.
  QFile orphan(Home("SAMPLE.MDX"));
  ASSERT_TRUE(orphan.open(QIODevice::WriteOnly));
  orphan.write("not an index");
  orphan.close();
  TMain& m = Start();
  m.SetSampleSource(shipped);
  m.CommandAction(TMain::kOpenSample)->trigger();
  EXPECT_EQ(m.windowTitle(), "Kolvane Coins 97 (SAMPLE)");
  EXPECT_EQ(m.state().database_name, Home("SAMPLE.DBF"));
  EXPECT_EQ(m.CountLabel->text(), "68");
  EXPECT_EQ(m.MyTable().IndexName(), "NEWINDEX");
  EXPECT_TRUE(TestPrompts().asked().empty());
  EXPECT_EQ(Bytes(shipped + "/SAMPLE.DBF"), dbf);
  EXPECT_EQ(Bytes(shipped + "/SAMPLE.MDX"), mdx);
  // The copy is the user's from now on: a second time opens it as it is.
  m.MyTable().Last();
  m.MyTable().Delete();
  OpenViaDialog(MakeDb(Q(other_.File("OTHER.DBF")), {"x"}));
  m.CommandAction(TMain::kOpenSample)->trigger();
  EXPECT_EQ(m.windowTitle(), "Kolvane Coins 97 (SAMPLE)");
  EXPECT_EQ(m.CountLabel->text(), "67");
  EXPECT_EQ(m.state().settings.last_files[0], Q(other_.File("OTHER.DBF")));
}

TEST_F(MainWinTest, OpenSampleCollectionNeverReplacesAFileOfThatName) {
  // The user's own SAMPLE table, spelled in another letter case.
  const QString own = MakeDb(Home("sample.dbf"), {"Peru", "Chile"});
  const QByteArray before = Bytes(own);
  TMain& m = Start();
  m.SetSampleSource(QStringLiteral(KLV_SHIPPED_SAMPLE_DIR));
  m.CommandAction(TMain::kOpenSample)->trigger();
  EXPECT_EQ(m.windowTitle(), "Kolvane Coins 97 (sample)");
  EXPECT_EQ(m.CountLabel->text(), "2");
  EXPECT_FALSE(QFileInfo::exists(Home("SAMPLE.DBF")));
  EXPECT_EQ(Bytes(own).mid(32), before.mid(32));  // rows and fields as they were
}

TEST_F(MainWinTest, OpenSampleCollectionWithoutTheSampleSaysWhereItLooked) {
  const QString empty = Q(other_.path());
  TMain& m = Start();
  m.SetSampleSource(empty);
  TestPrompts().ExpectMessage("Error",
                              "The sample collection is not installed.  SAMPLE.DBF and SAMPLE.MDX "
                              "were looked for in:\n" +
                                  empty,
                              MsgButton::kOk);
  m.CommandAction(TMain::kOpenSample)->trigger();
  EXPECT_EQ(m.windowTitle(), "Kolvane Coins 97 (MASTER)");
  EXPECT_FALSE(QFileInfo::exists(Home("SAMPLE.DBF")));
  EXPECT_FALSE(QFileInfo::exists(Home("SAMPLE.MDX")));
}

}  // namespace
}  // namespace klv::app
