// The program as main() builds it: the main window with the record edit form
// behind its commands, the default pick lists installed at a first start and
// shared between the form and the grid, and the lists following a database
// switch.
#include "program/Program.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <cstdlib>
#include <functional>
#include <memory>

#include "db/DbFiles.h"
#include "db/FieldTable.h"
#include "db/PickLists.h"
#include "db/dbf/Table.h"
#include "edit/Edit1.h"
#include "edit/EditBox1.h"
#include "find/Search1.h"
#include "support/QtText.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"

namespace klv::program {
namespace {

using namespace klv::db;

using namespace klv::app;
using namespace klv::edit;

using test::TestPrompts;

using test::Q;

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(Q(source_.File("COUNTRY.LST")), "Peru\r\nFrance\r\n");
    WriteFile(Q(source_.File("TOPIC.LST")), "Animals\r\n");
    WriteFile(Q(source_.File("CONDTION.LST")), "Fine\r\n");
    WriteFile(Q(source_.File("MISC.LST")), "Proof\r\n");
  }
  void TearDown() override {
    if (program_) program_->main().close();
    program_.reset();
  }

  Program& Start(QStringList args = {}) {
    program_ = std::make_unique<Program>(Q(source_.path()));
    StartOptions o;
    o.arguments = args;
    o.screen = QSize(1280, 1024);
    EXPECT_TRUE(program_->Start(o));
    return *program_;
  }

  static void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }
  static QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
  }
  QString Home(const QString& name) const { return Q(home_.path()) + '/' + name; }

  // Runs command on the main window; while its edit form is shown, act runs
  // on it (the form is modal, so this waits for the event loop).
  void WithEditForm(TMain::Command command, const std::function<void(TMyEdit&)>& act) {
    bool shown = false;
    QTimer::singleShot(0, [&] {
      auto* form = qobject_cast<TMyEdit*>(QApplication::activeModalWidget());
      ASSERT_NE(form, nullptr);
      shown = true;
      act(*form);
      if (form->isVisible()) form->reject();
    });
    program_->main().Trigger(command);
    EXPECT_TRUE(shown);
  }

  // The rows of the MASTER table as stored: Country and Description.
  std::vector<std::pair<std::string, std::string>> StoredRows() const {
    dbf::Table t;
    t.SetDirectory(home_.path() + "/");
    t.SetTableName("MASTER.DBF");
    t.SetReadOnly(true);
    t.Open();
    std::vector<std::pair<std::string, std::string>> rows;
    for (t.First(); !t.Eof(); t.Next())
      rows.emplace_back(t.FieldByName("Country").AsString(),
                        t.FieldByName("Descriptio").AsString());
    return rows;
  }

  test::TempDir home_, windir_, source_, other_;
  test::ProgramDirsInEnvironment dirs_{home_, windir_};
  std::unique_ptr<Program> program_;
};

TEST_F(ProgramTest, AFirstStartInstallsTheDefaultListsAndKeepsAUsersOwn) {
  WriteFile(Home("topic.lst"), "Ships\r\n");
  Program& p = Start();
  EXPECT_EQ(ReadFile(Home("COUNTRY.LST")), "Peru\r\nFrance\r\n");
  EXPECT_EQ(ReadFile(Home("topic.lst")), "Ships\r\n");
  EXPECT_FALSE(QFileInfo::exists(Home("TOPIC.LST")));
  // MASTER is new and has no list files of its own: both copies hold the
  // defaults.
  EXPECT_EQ(p.lists().FormList(ListKind::kCountry), QStringList({"Peru", "France"}));
  EXPECT_EQ(p.main().viewer_model()->PickList(kCountry), QStringList({"Peru", "France"}));
  EXPECT_EQ(p.main().viewer_model()->PickList(kTopic), QStringList({"Ships"}));
}

TEST_F(ProgramTest, RecordCommandsOpenTheEditFormAndTheGridFollows) {
  Program& p = Start();
  TMain& m = p.main();
  for (TMain::Command c :
       {TMain::kAdd, TMain::kEdit, TMain::kCopy, TMain::kListSaveDefaults, TMain::kListLoadDefaults,
        TMain::kListCountry, TMain::kListTopic, TMain::kListCondition, TMain::kListMiscellaneous})
    EXPECT_TRUE(m.CommandAvailable(c)) << c;

  WithEditForm(TMain::kAdd, [](TMyEdit& f) {
    EXPECT_EQ(f.windowTitle(), "Edit");
    f.Country->setEditText("Chile");
    f.Description->setText("Condor");
    EXPECT_TRUE(f.DoUpdateAndExit());
  });
  EXPECT_EQ(m.CountLabel->text(), "1");
  EXPECT_EQ(
      m.viewer_model()->data(m.viewer_model()->index(0, m.viewer_model()->ColumnOf(kCountry))),
      "Chile");
  // A value typed in the form joins both copies of the list.
  EXPECT_EQ(m.viewer_model()->PickList(kCountry), QStringList({"Peru", "France", "Chile"}));

  WithEditForm(TMain::kEdit, [](TMyEdit& f) {
    EXPECT_EQ(f.Description->text(), "Condor");
    f.Description->setText("Condor, small");
    EXPECT_TRUE(f.DoUpdateAndExit());
  });
  WithEditForm(TMain::kCopy, [](TMyEdit& f) {
    EXPECT_EQ(f.Country->currentText(), "Chile");
    f.Description->setText("Huemul");
    EXPECT_TRUE(f.DoUpdateAndExit());
  });
  EXPECT_EQ(m.CountLabel->text(), "2");
  auto rows = StoredRows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], std::make_pair(std::string("Chile"), std::string("Condor, small")));
  EXPECT_EQ(rows[1], std::make_pair(std::string("Chile"), std::string("Huemul")));

  // The grid's double-click is Edit.
  bool shown = false;
  QTimer::singleShot(0, [&] {
    auto* form = qobject_cast<TMyEdit*>(QApplication::activeModalWidget());
    shown = form != nullptr;
    if (form) form->reject();
  });
  const QModelIndex cell = m.viewer_model()->index(0, 0);
  emit m.ViewerGrid->doubleClicked(cell);
  EXPECT_TRUE(shown);
}

TEST_F(ProgramTest, BrowseOnlyKeepsAddCopyAndTheListsAway) {
  Program& p = Start({"/bRoWsE"});
  TMain& m = p.main();
  EXPECT_FALSE(m.CommandAvailable(TMain::kAdd));
  EXPECT_FALSE(m.CommandAvailable(TMain::kCopy));
  EXPECT_TRUE(m.CommandAvailable(TMain::kEdit));
  EXPECT_FALSE(m.MenuListMaintenance->menuAction()->isEnabled());
}

TEST_F(ProgramTest, SearchModeShowsOnlyTheAcceptedRowsEverywhere) {
  Program& p = Start({"/BROWSE"});
  TMain& m = p.main();
  EXPECT_TRUE(m.CommandAvailable(TMain::kSearch));
  EXPECT_TRUE(m.CommandAvailable(TMain::kSortOrder));
  dbf::Table& t = m.MyTable();
  for (const char* country : {"Peru", "Chile", "Peru", "France"}) {
    t.Append();
    t.FieldByName("Country").SetAsString(country);
    t.Post();
  }
  m.DisplayCount();
  EXPECT_EQ(m.CountLabel->text(), "4");

  bool shown = false;
  QTimer::singleShot(0, [&] {
    auto* form = qobject_cast<find::TMySearch*>(QApplication::activeModalWidget());
    ASSERT_NE(form, nullptr);
    shown = true;
    form->SetCellText(kCountry, "peru");
    form->OkButtonClick();
  });
  m.Trigger(TMain::kSearch);
  EXPECT_TRUE(shown);
  EXPECT_EQ(m.CountLabel->text(), "2");
  EXPECT_TRUE(m.SearchOnLabel->isVisibleTo(&m));
  EXPECT_TRUE(m.CommandAvailable(TMain::kEndSearch));
  EXPECT_EQ(m.viewer_model()->rowCount(), 2);
  // The edit form walks the accepted rows only.
  WithEditForm(TMain::kEdit, [&t](TMyEdit& f) {
    EXPECT_EQ(f.Country->currentText(), "Peru");
    f.DoNextRecord();
    EXPECT_EQ(f.Country->currentText(), "Peru");
    EXPECT_EQ(t.RecNo(), 3u);
  });

  m.Trigger(TMain::kEndSearch);
  EXPECT_EQ(m.CountLabel->text(), "4");
  EXPECT_FALSE(m.SearchOnLabel->isVisibleTo(&m));
  EXPECT_FALSE(m.CommandAvailable(TMain::kEndSearch));
}

TEST_F(ProgramTest, TheListEditorReplacesBothCopiesAndADatabaseSwitchCarriesThem) {
  Program& p = Start();
  TMain& m = p.main();
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<TMyEditBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), "Edit \"Country\" List");
    box->AddInfo->setText("Japan");
    box->AddButtonClick();
    box->OkButtonClick();
  });
  m.Trigger(TMain::kListCountry);
  const QStringList master = {"Peru", "France", "Japan"};
  EXPECT_EQ(p.lists().FormList(ListKind::kCountry), master);
  EXPECT_EQ(m.viewer_model()->PickList(kCountry), master);
  EXPECT_EQ(ReadFile(Home("MASTER.001")), "Peru\r\nFrance\r\nJapan\r\n");

  // A new database starts from the defaults; opening MASTER again brings
  // its own lists back.
  TestPrompts().AnswerSaveFile(Q(other_.File("NEW.DBF")));
  m.Trigger(TMain::kNew);
  EXPECT_EQ(m.windowTitle(), "Kolvane Coins 97 (NEW)");
  EXPECT_EQ(m.viewer_model()->PickList(kCountry), QStringList({"Peru", "France"}));
  TestPrompts().AnswerOpenFile(Home("MASTER.DBF"));
  m.Trigger(TMain::kOpen);
  EXPECT_EQ(m.windowTitle(), "Kolvane Coins 97 (MASTER)");
  EXPECT_EQ(p.lists().FormList(ListKind::kCountry), master);
  EXPECT_EQ(m.viewer_model()->PickList(kCountry), master);
  EXPECT_TRUE(QFileInfo::exists(Q(other_.File("NEW.001"))));
}

}  // namespace
}  // namespace klv::program
