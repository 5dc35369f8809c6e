// Pack Database, Rebuild Indexes and the repair offer
// on a real coin table behind an OpenDatabase: their questions and
// messages, a second copy holding the table, and the disk failing at every
// write of a pack or a rebuild in turn.
#include "db/Maintenance.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <filesystem>

#include "app/OpenDatabase.h"
#include "base/FaultEnv.h"
#include "db/DbFiles.h"
#include "support/HeldTable.h"
#include "support/QtText.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"

namespace klv::app {
namespace {

using platform::MsgButton;
using test::Q;
using test::TestPrompts;

const char kPackQuestion[] =
    "Deleted items are not permanently removed from the database until packing occurs.  Packing "
    "simply removes them to free up space.  Continue?";
const char kRebuildQuestion[] =
    "It is possible for your index files to become corrupted.  As a result, some items may not "
    "show up in the viewer or in reports.  This will rebuild your index files correctly.  "
    "Continue?";

class MaintenanceTest : public ::testing::Test {
 protected:
  MaintenanceTest() {
    state_.program_dir = Q(home_.path());
    state_.windows_dir = Q(home_.path());
    state_.files.program_ini = Q(home_.File("KLVCOIN.INI"));
    state_.files.start_dir = Q(home_.path());
    state_.settings.sort_levels = {1, 0, 0, 0};
  }

  // MASTER.DBF with rows "c0".."c<n-1>", those in deleted marked deleted.
  QString MakeDb(int n, const std::vector<int>& deleted) {
    const QString path = Q(home_.File("MASTER.DBF"));
    EXPECT_TRUE(db::MakeNewDB(path));
    dbf::Table t;
    t.SetDirectory(home_.path());
    t.SetTableName("MASTER.DBF");
    t.Open();
    t.BeginAppendBatch();
    for (int i = 0; i < n; ++i) {
      t.Append();
      t.FieldByName("Country").SetAsString("c" + std::to_string(i));
      t.Post();
    }
    t.EndAppendBatch();
    for (int r : deleted) {
      EXPECT_TRUE(t.GoTo(static_cast<uint32_t>(r + 1)));
      t.Delete();
    }
    return path;
  }
  std::vector<std::string> Live() {
    dbf::Table t;
    t.SetDirectory(home_.path());
    t.SetTableName("MASTER.DBF");
    t.SetRepairIndex(true);
    t.Open();
    std::vector<std::string> out;
    for (t.First(); !t.Eof(); t.Next()) out.push_back(t.FieldByName("Country").AsString());
    std::sort(out.begin(), out.end());
    return out;
  }
  static void ExpectPackQuestion(int deleted, MsgButton answer) {
    TestPrompts().ExpectMessage(
        "Confirm",
        QString(kPackQuestion) +
            "\n\nDeleted rows that packing will remove: " + QString::number(deleted) + ".",
        answer);
  }
  db::ExclusiveUse Exclusive(OpenDatabase& db) {
    return [&db](const std::function<void(dbf::Table&)>& a) { return db.RunExclusive(a); };
  }

  test::TempDir home_;
  AppState state_;
};

TEST_F(MaintenanceTest, PackAndRebuildAskFirstAndNeedTheTableAlone) {
  const QString path = MakeDb(10, {2, 5, 7});
  OpenDatabase db(state_);
  db.OpenAtStart(path);
  const std::vector<std::string> live = Live();
  {
    test::HeldByAnotherProcess other(home_.path(), "MASTER.DBF");
    ExpectPackQuestion(3, MsgButton::kYes);
    TestPrompts().ExpectMessage(
        "Error",
        "Unable to pack table.  Packing requires exclusive use of the DBase File.  Make sure "
        "that the DBase File is not in use by another program  or that no other users are "
        "running the software or that no other copies of the software are in use.",
        MsgButton::kOk);
    db::MenuPackClick(nullptr, path, Exclusive(db));
    TestPrompts().ExpectMessage("Confirm", kRebuildQuestion, MsgButton::kYes);
    TestPrompts().ExpectMessage(
        "Error",
        "Unable to reindex table.  Reindexing requires exclusive use of the DBase File.  Make "
        "sure that the DBase File is not in use by another program  or that no other users are "
        "running the software or that no other copies of the software are in use.",
        MsgButton::kOk);
    db::MenuRebuildClick(nullptr, Exclusive(db));
    // The first copy goes on with the table open shared.
    EXPECT_TRUE(db.MyTable().IsOpen());
    EXPECT_FALSE(db.MyTable().exclusive());
    EXPECT_EQ(db.MyTable().RecordCount(), 7u);
    EXPECT_EQ(db.MyTable().PhysicalCount(), 10u);
  }
  ExpectPackQuestion(3, MsgButton::kNo);
  db::MenuPackClick(nullptr, path, Exclusive(db));
  EXPECT_EQ(db.MyTable().PhysicalCount(), 10u);

  ExpectPackQuestion(3, MsgButton::kYes);
  double last_progress = 0;
  db::MenuPackClick(nullptr, path, Exclusive(db), [&](double f) { last_progress = f; });
  EXPECT_EQ(last_progress, 1.0);
  EXPECT_EQ(db.MyTable().PhysicalCount(), 7u);
  EXPECT_FALSE(db.MyTable().exclusive());
  EXPECT_EQ(db.MyTable().IndexName(), "NEWINDEX");
  EXPECT_EQ(Live(), live);

  // Nothing deleted: the count stays, the table stays usable.
  ExpectPackQuestion(0, MsgButton::kYes);
  db::MenuPackClick(nullptr, path, Exclusive(db));
  EXPECT_EQ(db.MyTable().RecordCount(), 7u);
  TestPrompts().ExpectMessage("Confirm", kRebuildQuestion, MsgButton::kYes);
  db::MenuRebuildClick(nullptr, Exclusive(db));
  EXPECT_TRUE(db.MyTable().Check().empty());
  EXPECT_FALSE(db.MyTable().exclusive());
}

// The disk failing at each write of a pack, then of a rebuild, in turn: an
// operation that did not happen is never silent, no live row is lost, and
// the table is open shared afterwards.
TEST_F(MaintenanceTest, AFailedPackOrRebuildIsReportedAndLosesNothing) {
  const QString path = MakeDb(40, {0, 13, 39});
  const std::vector<std::string> live = Live();
  base::FaultEnv faults(base::Env::Default());
  for (const bool pack : {true, false}) {
    int failures = 0;
    for (int64_t n = 1; n < 200; ++n) {
      if (pack) MakeDb(40, {0, 13, 39});  // each round from the unpacked table
      OpenDatabase db(state_, faults);
      db.OpenAtStart(path);
      TestPrompts().Reset();
      TestPrompts().set_strict(false);
      TestPrompts().AnswerMessage(MsgButton::kYes);
      faults.FailAt(n);
      if (pack) db::MenuPackClick(nullptr, path, Exclusive(db));
      if (!pack) db::MenuRebuildClick(nullptr, Exclusive(db));
      const bool fired = faults.fired();
      faults.FailAt(0);
      const auto messages = TestPrompts().Messages();
      const bool done = pack ? db.MyTable().PhysicalCount() == 37u : db.MyTable().Check().empty();
      if (messages.size() == 2u) {
        ++failures;
        EXPECT_TRUE(messages[1].text.startsWith(pack ? "Packing the table failed."
                                                     : "Rebuilding the index failed."));
      }
      EXPECT_TRUE(done || messages.size() == 2u) << "silent failure at " << n;
      EXPECT_TRUE(db.MyTable().IsOpen()) << n;
      EXPECT_FALSE(db.MyTable().exclusive());
      db.Close();
      EXPECT_EQ(Live(), live) << "fault at " << n;
      if (!fired) break;
    }
    EXPECT_GE(failures, 2) << pack;
  }
}

// A table cut short: the damage is named, the repair offered; Yes keeps the
// original aside and opens the whole rows.
TEST_F(MaintenanceTest, ADamagedTableIsOfferedForRepair) {
  const QString path = MakeDb(10, {3});
  const std::string file = home_.File("MASTER.DBF");
  // Cut inside row 9: rows 9 and 10 are lost, the deleted row 4 is kept.
  const std::string head = test::ReadFileBytes(file).substr(0, 12);
  const size_t record = static_cast<uint8_t>(head[10]) | static_cast<uint8_t>(head[11]) << 8;
  std::filesystem::resize_file(file, std::filesystem::file_size(file) - 1 - record - record / 2);
  std::filesystem::remove(home_.File("MASTER.MDX"));
  TestPrompts().AnswerMessage(MsgButton::kNo);
  EXPECT_FALSE(OpenDatabase::CheckOrRepair(nullptr, path));
  ASSERT_EQ(TestPrompts().Messages().size(), 1u);
  const test::AskedPrompt asked = TestPrompts().Messages()[0];
  EXPECT_EQ(asked.caption, "Error");
  EXPECT_TRUE(asked.text.startsWith("The table \"" + path + "\" is damaged:"))
      << asked.text.toStdString();
  EXPECT_TRUE(
      asked.text.endsWith("Repair it now?  The damaged file is kept aside unchanged, and "
                          "a new table with every whole row takes its name."));
  TestPrompts().Reset();
  TestPrompts().AnswerMessage(MsgButton::kYes);
  TestPrompts().AnswerMessage(MsgButton::kOk);
  EXPECT_TRUE(OpenDatabase::CheckOrRepair(nullptr, path));
  const QString done = TestPrompts().Messages().back().text;
  EXPECT_TRUE(
      done.startsWith("The table was repaired: 8 rows were kept (1 of them deleted "
                      "rows).  The damaged file is kept as \""))
      << done.toStdString();
  EXPECT_TRUE(done.endsWith("  2 rows could not be saved.")) << done.toStdString();
  EXPECT_EQ(Live().size(), 7u);
  int kept = 0;
  for (const auto& entry : std::filesystem::directory_iterator(home_.path()))
    kept += entry.path().filename().string().starts_with("MASTER.DBF.damaged-");
  EXPECT_EQ(kept, 1);
}

}  // namespace
}  // namespace klv::app
