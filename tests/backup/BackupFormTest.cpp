// The backup and restore dialogs on a real coin database, behind the main
// window's commands: captions, choices, the drive box and directory list,
// the open dialog each restore asks with, the Close caption after a
// success, and which commands browse-only mode keeps.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <QTableWidget>
#include <QTreeView>

#include "app/RecallDeleted.h"
#include "backup/Backup.h"
#include "backup/Restore.h"
#include "db/DbFiles.h"
#include "program/Program.h"
#include "support/QtText.h"
#include "support/RecordedColors.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"

namespace klv::backup {
namespace {

using app::TMain;
using platform::MsgButton;
using test::Q;
using test::TestPrompts;

class BackupFormTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (program_) program_->main().close();
    program_.reset();
  }
  TMain& Start(QStringList args = {}) {
    program_ = std::make_unique<program::Program>(QString());
    app::StartOptions o;
    o.arguments = args;
    o.screen = QSize(1280, 1024);
    EXPECT_TRUE(program_->Start(o));
    return program_->main();
  }
  // Runs command; while its dialog of type D is shown, act runs on it.
  template <typename D>
  void WithDialog(TMain::Command command, const std::function<void(D&)>& act) {
    bool shown = false;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      shown = true;
      act(*dialog);
      dialog->reject();
    });
    program_->main().Trigger(command);
    EXPECT_TRUE(shown);
  }

  test::TempDir home_, windir_, away_;
  test::ProgramDirsInEnvironment dirs_{home_, windir_};
  std::unique_ptr<program::Program> program_;
};

TEST_F(BackupFormTest, BackupDialogCopiesToTheChosenDirectory) {
  TMain& m = Start();
  for (int i = 0; i < 3; ++i) {
    m.MyTable().Append();
    m.MyTable().FieldByName("Country").SetAsString("Peru");
    m.MyTable().Post();
  }
  WithDialog<TMyBackup>(TMain::kBackup, [&](TMyBackup& d) {
    EXPECT_EQ(d.windowTitle(), "Backup");
    EXPECT_EQ(d.WhatGroup->title(), "What To Back Up");
    const char* const choices[] = {
        "Current &Database (*.DBF)", "Data &Lists of Current Database (*.0xx)",
        "Config &File of Current Database (*.INI)", "Global &Report Definitions (*.URP)"};
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(d.WhatRadio[i]->text(), choices[i]);
    EXPECT_TRUE(d.WhatRadio[0]->isChecked());
    EXPECT_EQ(d.WhereGroup->title(), "Where To Back Up To");
    EXPECT_EQ(d.StartButton->text(), "&Start Back Up");
    EXPECT_TRUE(d.StartButton->isDefault());
    EXPECT_EQ(d.CancelButton->text(), "&Cancel");
    EXPECT_EQ(d.HelpButton->text(), "&Help");
    // Both start on the program directory and its file system.
    EXPECT_EQ(d.Directory(), Q(home_.path()));
    ASSERT_GT(d.DriveCombo->count(), 0);
    const Drive& drive = d.drives()[static_cast<size_t>(d.DriveCombo->currentIndex())];
    EXPECT_TRUE(Q(home_.path()).startsWith(drive.mount_point));
    d.SetDirectory(Q(away_.path()));
    EXPECT_EQ(d.Directory(), Q(away_.path()));
    TestPrompts().ExpectMessage("Notice", "Backup completed successfully.", MsgButton::kOk);
    d.StartButtonClick();
    EXPECT_EQ(d.CancelButton->text(), "&Close");
    EXPECT_EQ(d.focusWidget(), d.CancelButton);
  });
  EXPECT_EQ(test::ReadFileBytes(away_.File("MASTER.DBF")),
            test::ReadFileBytes(home_.File("MASTER.DBF")));
}

TEST_F(BackupFormTest, RestoreDialogAsksForTheSourceOfEachChoice) {
  TMain& m = Start();
  test::WriteFileBytes(away_.File("KLVCOIN.URP"), std::string(20622, 'q'));
  ASSERT_TRUE(db::MakeNewDB(Q(away_.File("GOLD.DBF"))));
  {
    dbf::Table gold;
    gold.SetDirectory(away_.path());
    gold.SetTableName("GOLD.DBF");
    gold.Open();
    gold.Append();
    gold.Post();
  }
  WithDialog<TMyRestore>(TMain::kRestore, [&](TMyRestore& d) {
    EXPECT_EQ(d.windowTitle(), "Restore");
    EXPECT_EQ(d.WhatGroup->title(), "What To Restore");
    EXPECT_EQ(d.WhatRadio[0]->text(), "&Database File (*.DBF)");
    EXPECT_EQ(d.WhatRadio[1]->text(), "Data &Lists of a Database (*.0xx)");
    EXPECT_EQ(d.WhatRadio[2]->text(), "Config &File of a Database (*.INI)");
    EXPECT_EQ(d.WhatRadio[3]->text(), "Global &Report Definitions (*.URP)");
    EXPECT_TRUE(d.WhatRadio[0]->isChecked());
    EXPECT_EQ(d.StartButton->text(), "&Start Restore");
    const struct {
      What what;
      const char* title;
      const char* filter;
      const char* suffix;
      const char* name;
    } dialogs[] = {
        {What::kDatabase, "Restore Database File", "DBase Files (*.DBF) | *.DBF", "DBF", ""},
        {What::kLists, "Restore Data List Files", "DBase Files (*.DBF) | *.DBF", "DBF", ""},
        {What::kConfig, "Restore Configuration File", "DBase Files (*.DBF) | *.DBF", "DBF", ""},
        {What::kReports, "Restore URP File", "Reports Files (*.URP) | *.URP", "URP", "KLVCOIN.URP"},
    };
    for (const auto& c : dialogs) {
      const platform::FileDialogRequest r = d.SourceDialog(c.what);
      EXPECT_EQ(r.title, c.title);
      EXPECT_EQ(r.filter, c.filter);
      EXPECT_EQ(r.default_suffix, c.suffix);
      EXPECT_EQ(r.file_name, c.name);
      EXPECT_TRUE(r.file_must_exist);
    }
    // Cancelling the open dialog does nothing.
    TestPrompts().AnswerOpenFile("");
    d.StartButtonClick();
    EXPECT_EQ(d.CancelButton->text(), "&Cancel");
    d.WhatRadio[3]->setChecked(true);
    TestPrompts().AnswerOpenFile(Q(away_.File("KLVCOIN.URP")));
    TestPrompts().ExpectMessage("Notice", "Restore completed successfully.", MsgButton::kOk);
    d.StartButtonClick();
    EXPECT_EQ(d.CancelButton->text(), "&Close");
    // A file that is no table: the engine's message, and the dialog goes on.
    test::WriteFileBytes(away_.File("JUNK.DBF"), "not a table at all");
    d.WhatRadio[0]->setChecked(true);
    TestPrompts().AnswerOpenFile(Q(away_.File("JUNK.DBF")));
    TestPrompts().AnswerMessage(MsgButton::kOk);
    emit d.StartButton->clicked();
    EXPECT_EQ(TestPrompts().Messages().back().caption, "Kolvane Coins 97");
    // A database of another name: restored beside the open one, which the
    // window then switches to.
    d.WhatRadio[0]->setChecked(true);
    TestPrompts().AnswerOpenFile(Q(away_.File("GOLD.DBF")));
    TestPrompts().ExpectMessage("Notice", "Restore completed successfully.", MsgButton::kOk);
    d.StartButtonClick();
  });
  EXPECT_EQ(test::ReadFileBytes(home_.File("KLVCOIN.URP")), std::string(20622, 'q'));
  EXPECT_EQ(m.windowTitle(), "Kolvane Coins 97 (GOLD)");
  EXPECT_EQ(m.CountLabel->text(), "1");
  EXPECT_TRUE(QFileInfo::exists(Q(home_.File("MASTER.DBF"))));
}

// The Tools commands behind the main window, and the offer to convert an
// old table at start-up (step 13 of the start).
TEST_F(BackupFormTest, PackRecallAndConversionThroughTheMainWindow) {
  // An old table of version 2's fields, empty: offered, converted, deleted.
  std::vector<dbf::FieldDef> v2 = {{"ID", 'N', 5, 0}};
  for (const char* name : {"COUNTRY", "FACEVALUE", "YEAR", "CONDITION", "MINTMARK", "PURCHASEPR",
                           "MARKETVALU", "PREMIUMVAL", "TOPIC", "DESCRIPTIO", "PURCHDATE",
                           "MISCELLANE", "QUANTITY", "COMMENT", "YEARBC", "YEARAPPROX"})
    v2.push_back({name, 'C', 10, 0});
  dbf::Table::CreateTable(home_.File("C2LOG.DBF"), v2);
  TestPrompts().ExpectMessage(
      "Convert",
      "A database from a previous version (2.X) has been detected.  Would you like to convert "
      "it now?  NOTE: After conversion the old file will be deleted.  You may wish to make a "
      "copy of \"C2LOG.DBF\" first.",
      MsgButton::kYes);
  TMain& m = Start();
  EXPECT_FALSE(QFileInfo::exists(Q(home_.File("C2LOG.DBF"))));
  for (const char* country : {"Peru", "Chile", "Rome"}) {
    m.MyTable().Append();
    m.MyTable().FieldByName("Country").SetAsString(country);
    m.MyTable().Post();
  }
  m.MyTable().First();
  m.MyTable().Delete();
  m.MyTable().Delete();
  WithDialog<app::TRecallDeleted>(TMain::kRecallDeleted, [&](app::TRecallDeleted& d) {
    ASSERT_EQ(d.RowGrid->rowCount(), 2);
    EXPECT_EQ(d.RowGrid->item(0, 1)->text(), "Peru");
    EXPECT_EQ(d.RowGrid->horizontalHeaderItem(2)->text(), "Face Value");
    d.RowGrid->item(1, 0)->setCheckState(Qt::Checked);
    TestPrompts().ExpectMessage("Notice", "Rows brought back: 1.", MsgButton::kOk);
    d.RecallButtonClick();
  });
  EXPECT_EQ(m.MyTable().RecordCount(), 2u);
  TestPrompts().ExpectMessage(
      "Confirm",
      "Deleted items are not permanently removed from the database until packing occurs.  "
      "Packing simply removes them to free up space.  Continue?\n\nDeleted rows that packing "
      "will remove: 1.",
      MsgButton::kYes);
  m.Trigger(TMain::kPackDatabase);
  EXPECT_EQ(m.MyTable().PhysicalCount(), 2u);
  EXPECT_FALSE(m.MyTable().exclusive());
  for (TMain::Command c : {TMain::kBackup, TMain::kRestore, TMain::kRebuildIndexes})
    EXPECT_TRUE(m.CommandAction(c)->isEnabled()) << c;
}

// Both dialogs take the configuration colour group when shown, painted by
// kind of control; browse-only mode keeps backup and restore away.
TEST_F(BackupFormTest, ConfigureColoursAndBrowseOnlyMode) {
  TMain& m = Start({"/BROWSE"});
  EXPECT_FALSE(m.CommandAvailable(TMain::kBackup));
  EXPECT_FALSE(m.CommandAvailable(TMain::kRestore));
  EXPECT_FALSE(m.CommandAvailable(TMain::kRecallDeleted));
  EXPECT_TRUE(m.CommandAvailable(TMain::kPackDatabase));
  EXPECT_TRUE(m.CommandAvailable(TMain::kRebuildIndexes));
  app::ColorGroup& c = m.state().settings.colors[app::kConfigureColors];
  c[app::kRadioBackground] = QColor(70, 80, 90);
  c[app::kComboBackground] = QColor(4, 5, 6);
  test::RecordedColors colors;
  TMyBackup backup(m.database(), RealPlace(), &m);
  backup.show();
  TMyRestore restore(m.database(), RealPlace(), {}, &m);
  restore.show();
  using Asked = std::pair<QWidget*, forms::ColorGroupId>;
  EXPECT_EQ(colors.asked, (std::vector<Asked>{{&backup, forms::ColorGroupId::kConfigure},
                                              {&restore, forms::ColorGroupId::kConfigure}}));
  EXPECT_EQ(restore.WhatRadio[2]->palette().color(QPalette::Window), QColor(70, 80, 90));
  EXPECT_EQ(backup.DriveCombo->palette().color(QPalette::Base), QColor(4, 5, 6));
}

}  // namespace
}  // namespace klv::backup
