// Backup and restore without a window: the copy that never leaves a partial
// file (the disk failing at every write in turn, a kill midway), the drive
// list, and each choice of the two dialogs with its exact messages, with
// another process holding the table and with too little room.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/OpenDatabase.h"
#include "backup/CopyRules.h"
#include "backup/Operations.h"
#include "base/FaultEnv.h"
#include "db/DbFiles.h"
#include "pictures/PictureStore.h"
#include "pictures/SamplePictures.h"
#include "support/HeldTable.h"
#include "support/QtText.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"

namespace klv::backup {
namespace {

using platform::MsgButton;
using test::Q;
using test::ReadFileBytes;
using test::TestPrompts;
using test::WriteFileBytes;

const QString kError = QStringLiteral("Error");
const QString kNotice = QStringLiteral("Notice");

CopyPlace WithFree(uint64_t bytes, base::Env* env = &base::Env::Default()) {
  CopyPlace place;
  place.env = env;
  place.free_space = [bytes](const QString&) { return std::optional<uint64_t>(bytes); };
  return place;
}

TEST(CopyFileTest, AFailingDiskNeverLeavesAPartFileOrLosesTheOldOne) {
  test::TempDir dir;
  std::string source(3 * 1024 * 1024 + 17, 'n');
  for (size_t i = 0; i < source.size(); i += 4096) source[i] = static_cast<char>(i / 4096);
  WriteFileBytes(dir.File("SRC"), source);
  base::FaultEnv faults(base::Env::Default());
  int fired = 0;
  for (int64_t n = 1;; ++n) {
    WriteFileBytes(dir.File("DEST"), "the old backup");
    faults.FailAt(n);
    QString reason;
    const bool ok = CopyFile(faults, Q(dir.File("SRC")), Q(dir.File("DEST")), &reason);
    EXPECT_FALSE(QFileInfo::exists(TemporaryFor(Q(dir.File("DEST"))))) << n;
    if (!faults.fired()) {
      EXPECT_TRUE(ok);
      EXPECT_EQ(ReadFileBytes(dir.File("DEST")), source);
      break;
    }
    ++fired;
    EXPECT_FALSE(ok) << n;
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_EQ(ReadFileBytes(dir.File("DEST")), "the old backup") << "fault at " << n;
  }
  EXPECT_GE(fired, 3);
  EXPECT_FALSE(CopyFile(base::Env::Default(), Q(dir.File("MISSING")), Q(dir.File("DEST"))));
  std::vector<double> seen;
  EXPECT_TRUE(CopyFile(base::Env::Default(), Q(dir.File("SRC")), Q(dir.File("DEST2")), nullptr,
                       [&](double f) { seen.push_back(f); }));
  ASSERT_EQ(seen.size(), 1u);  // one report per piece of 64 MiB
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_EQ(seen.back(), 1.0);
}

TEST(CopyRulesTest, SameFileDrivesAndNames) {
  test::TempDir dir;
  WriteFileBytes(dir.File("MASTER.DBF"), "x");
  EXPECT_TRUE(SameFile(Q(dir.File("MASTER.DBF")), Q(dir.File("master.dbf"))));
  EXPECT_TRUE(SameFile(Q(dir.File("sub/../MASTER.DBF")), Q(dir.File("MASTER.DBF"))));
  EXPECT_FALSE(SameFile(Q(dir.File("MASTER.DBF")), Q(dir.File("OTHER.DBF"))));

  WriteFileBytes(dir.File("mounts"),
                 "overlay / overlay rw,relatime 0 0\n"
                 "proc /proc proc rw 0 0\n"
                 "tmpfs /dev tmpfs rw 0 0\n"
                 "sysfs /sys sysfs ro 0 0\n"
                 "cgroup2 /sys/fs/cgroup cgroup2 ro 0 0\n"
                 "/dev/sdb1 /media/my\\040stick vfat rw 0 0\n"
                 "/dev/sda2 /home ext4 rw 0 0\n"
                 "tmpfs /tmp tmpfs rw 0 0\n");
  const std::vector<Drive> drives = MountedDrives(Q(dir.File("mounts")));
  ASSERT_EQ(drives.size(), 4u);
  EXPECT_EQ(drives[0].mount_point, "/");
  EXPECT_EQ(drives[1].mount_point, "/media/my stick");
  EXPECT_EQ(drives[1].device, "/dev/sdb1");
  EXPECT_EQ(drives[2].mount_point, "/home");
  EXPECT_EQ(DriveOf(drives, "/home/ann/.local/share/klvcoin"), 2);
  EXPECT_EQ(DriveOf(drives, "/homework"), 0);
  EXPECT_EQ(DriveOf(drives, "/media/my stick/coins"), 1);
  EXPECT_EQ(DriveOf(drives, "/tmp"), 3);
  EXPECT_FALSE(MountedDrives().empty());
}

// A program directory with a coin database open in an OpenDatabase, and a
// directory to back up to.
class BackupTest : public ::testing::Test {
 protected:
  BackupTest() {
    state_.program_dir = test::Q(home_.path());
    state_.windows_dir = test::Q(windir_.path());
    state_.files.program_ini = test::Q(windir_.File("KLVCOIN.INI"));
    state_.files.start_dir = test::Q(home_.path());
    db_ = std::make_unique<app::OpenDatabase>(state_);
  }
  ~BackupTest() override { db_.reset(); }

  // A coin table at path whose rows have the Country "<prefix> <i>".
  static QString MakeDb(const std::string& path, int rows, const std::string& prefix = "row") {
    EXPECT_TRUE(db::MakeNewDB(test::Q(path)));
    dbf::Table t;
    t.SetDirectory(base::DirOf(path));
    t.SetTableName(base::BaseOf(path));
    t.Open();
    t.BeginAppendBatch();
    for (int i = 0; i < rows; ++i) {
      t.Append();
      t.FieldByName("Country").SetAsString(prefix + " " + std::to_string(i));
      t.Post();
    }
    t.EndAppendBatch();
    return test::Q(path);
  }
  // The Country of every live row of the table at path, in record order.
  static std::vector<std::string> Countries(const std::string& path) {
    // A backup carries the .DBF alone.
    if (!QFileInfo::exists(db::DatabasePaths::From(test::Q(path)).mdx))
      dbf::Table::RemoveIndexFlag(base::Env::Default(), path);
    dbf::Table t;
    t.SetDirectory(base::DirOf(path));
    t.SetTableName(base::BaseOf(path));
    t.SetReadOnly(true);
    t.Open();
    std::vector<std::string> out;
    for (t.First(); !t.Eof(); t.Next()) out.push_back(t.FieldByName("Country").AsString());
    return out;
  }

  test::TempDir home_, windir_, away_;
  app::AppState state_;
  std::unique_ptr<app::OpenDatabase> db_;
};

TEST_F(BackupTest, DatabaseBackupRefusedIntoItsOwnDirectoryAndCopiedElsewhere) {
  const QString master = MakeDb(home_.File("MASTER.DBF"), 5);
  db_->OpenAtStart(master);
  const std::string before = ReadFileBytes(home_.File("MASTER.DBF"));
  TestPrompts().ExpectMessage(kError,
                              "Destination File and Source File are identical.  You cannot copy a "
                              "file  over top of itself.  Please choose a different "
                              "directory/folder to backup to.",
                              MsgButton::kOk);
  EXPECT_FALSE(BackupDatabase(*db_, Q(home_.path()), nullptr, RealPlace()));
  EXPECT_EQ(ReadFileBytes(home_.File("MASTER.DBF")), before);

  TestPrompts().ExpectMessage(kNotice, "Backup completed successfully.", MsgButton::kOk);
  EXPECT_TRUE(BackupDatabase(*db_, Q(away_.path()), nullptr, RealPlace()));
  EXPECT_EQ(Countries(away_.File("MASTER.DBF")).size(), 5u);
  // Released afterwards: open shared, another copy may open it too.
  EXPECT_TRUE(db_->MyTable().IsOpen());
  EXPECT_FALSE(db_->MyTable().exclusive());
  EXPECT_EQ(Countries(home_.File("MASTER.DBF")).size(), 5u);
  // No list file at all: a success all the same.
  TestPrompts().ExpectMessage(kNotice, "Backup completed successfully.", MsgButton::kOk);
  EXPECT_TRUE(BackupLists(*db_, Q(away_.path()), nullptr, RealPlace()));
}

TEST_F(BackupTest, BackupAndRestoreTakeThePicturesAlong) {
  const QString master = MakeDb(home_.File("MASTER.DBF"), 3);
  db_->OpenAtStart(master);
  test::WriteFileBytes(home_.File("coin.jpg"), test::SampleJpeg());
  pictures::PictureStore(home_.File("MASTER.DBF"))
      .Attach(2, pictures::Side::kReverse, home_.File("coin.jpg"));
  TestPrompts().ExpectMessage(kNotice, "Backup completed successfully.", MsgButton::kOk);
  EXPECT_TRUE(BackupDatabase(*db_, Q(away_.path()), nullptr, RealPlace()));
  // The backup's table is opened only once restored (its index left behind).
  EXPECT_EQ(ReadFileBytes(away_.File("MASTER.PIC/00000001.jpg")), test::SampleJpeg());
  EXPECT_FALSE(ReadFileBytes(away_.File("MASTER.PIC/PICTURES.DBF")).empty());

  // Removed here, back with the restore.
  pictures::PictureStore(home_.File("MASTER.DBF")).Remove(2, pictures::Side::kReverse);
  TestPrompts().ExpectMessage(kNotice, "Restore completed successfully.", MsgButton::kOk);
  EXPECT_TRUE(RestoreDatabase(*db_, Q(away_.File("MASTER.DBF")), nullptr, RealPlace(), {}));
  pictures::PictureStore restored(home_.File("MASTER.DBF"));
  restored.Load();
  EXPECT_NE(restored.Find(2, pictures::Side::kReverse), nullptr);
}

TEST_F(BackupTest, TooLittleRoomOrAFullDiskCopiesNothingAndKeepsTheOldBackup) {
  const QString master = MakeDb(home_.File("MASTER.DBF"), 200);
  db_->OpenAtStart(master);
  MakeDb(away_.File("MASTER.DBF"), 3, "old");
  const std::string old_backup = ReadFileBytes(away_.File("MASTER.DBF"));
  const uint64_t size = static_cast<uint64_t>(QFileInfo(master).size());

  TestPrompts().ExpectMessage(
      kError,
      "There is not enough room on the destination drive to perform a backup.  If you are "
      "already using blank empty media, then you will need to use the ASCII Delimited "
      "Import/Export functions for backup and restore purposes.",
      MsgButton::kOk);
  EXPECT_FALSE(BackupDatabase(*db_, Q(away_.path()), nullptr, WithFree(size - 1)));
  EXPECT_EQ(ReadFileBytes(away_.File("MASTER.DBF")), old_backup);

  base::FaultEnv full(base::Env::Default());
  full.FailAt(2);  // the first block written to the new file
  TestPrompts().ExpectMessage(kError, "An error occurred during backup.  Backup not completed.",
                              MsgButton::kOk);
  EXPECT_FALSE(BackupDatabase(*db_, Q(away_.path()), nullptr, WithFree(size, &full)));
  EXPECT_TRUE(full.fired());
  EXPECT_EQ(ReadFileBytes(away_.File("MASTER.DBF")), old_backup);
  EXPECT_FALSE(QFileInfo::exists(TemporaryFor(Q(away_.File("MASTER.DBF")))));
  EXPECT_TRUE(db_->MyTable().IsOpen());
  EXPECT_EQ(db_->MyTable().RecordCount(), 200u);
}

TEST_F(BackupTest, AnotherCopyHoldingTheTableStopsBackupAndRestore) {
  const QString master = MakeDb(home_.File("MASTER.DBF"), 4);
  db_->OpenAtStart(master);
  MakeDb(away_.File("MASTER.DBF"), 9, "backup");
  const std::string before = ReadFileBytes(home_.File("MASTER.DBF"));
  test::HeldByAnotherProcess other(home_.path(), "MASTER.DBF");
  TestPrompts().ExpectMessage(
      kError,
      "Backing up the database requires exclusive use of the DBase File.  Make sure that the "
      "DBase File is not in use by another program  or that no other users are running the "
      "software or that no other copies of the software are in use.",
      MsgButton::kOk);
  EXPECT_FALSE(BackupDatabase(*db_, Q(away_.path()), nullptr, RealPlace()));
  TestPrompts().ExpectMessage("Kolvane Coins 97",
                              "Unable to restore the database.  Make sure the database is not in "
                              "use by any other users or by another copy of the software.",
                              MsgButton::kOk);
  EXPECT_FALSE(RestoreDatabase(*db_, Q(away_.File("MASTER.DBF")), nullptr, RealPlace(), {}));
  EXPECT_EQ(ReadFileBytes(home_.File("MASTER.DBF")), before);
  EXPECT_TRUE(db_->MyTable().IsOpen());
  EXPECT_EQ(db_->MyTable().RecordCount(), 4u);
}

TEST_F(BackupTest, RestoreOverTheOpenDatabaseReplacesItOrLeavesItAsItWas) {
  const QString master = MakeDb(home_.File("MASTER.DBF"), 4);
  db_->OpenAtStart(master);
  ASSERT_FALSE(db_->sort_string().isEmpty());
  MakeDb(away_.File("MASTER.DBF"), 7, "saved");
  TestPrompts().ExpectMessage(kError,
                              "Destination File and Source File are identical.  You cannot copy a "
                              "file  over top of itself.  Please choose a different "
                              "directory/folder to restore from.",
                              MsgButton::kOk);
  EXPECT_FALSE(RestoreDatabase(*db_, master, nullptr, RealPlace(), {}));

  // The disk failing at every write of the copy in turn.
  base::FaultEnv faults(base::Env::Default());
  const std::string before = ReadFileBytes(home_.File("MASTER.DBF"));
  TestPrompts().set_strict(false);
  for (int64_t n = 1; n < 4; ++n) {
    faults.FailAt(n);
    CopyPlace place = RealPlace();
    place.env = &faults;
    EXPECT_FALSE(RestoreDatabase(*db_, Q(away_.File("MASTER.DBF")), nullptr, place, {}));
    EXPECT_EQ(ReadFileBytes(home_.File("MASTER.DBF")), before);
    EXPECT_EQ(db_->MyTable().RecordCount(), 4u);
    EXPECT_FALSE(db_->MyTable().exclusive());
  }
  EXPECT_EQ(TestPrompts().Messages().back().text,
            "An error occurred during restore.  Restore not completed.");
  TestPrompts().Reset();
  TestPrompts().ExpectMessage(kNotice, "Restore completed successfully.", MsgButton::kOk);
  EXPECT_TRUE(RestoreDatabase(*db_, Q(away_.File("MASTER.DBF")), nullptr, RealPlace(), {}));
  // Open shared on the restored rows, in the sort order, its index new.
  EXPECT_EQ(db_->MyTable().RecordCount(), 7u);
  EXPECT_EQ(db_->MyTable().IndexName(), "NEWINDEX");
  EXPECT_TRUE(db_->MyTable().Check().empty());
  EXPECT_EQ(Countries(home_.File("MASTER.DBF")).size(), 7u);
}

TEST_F(BackupTest, RestoreGoesBesideTheOpenDatabaseWhereverItIs) {
  test::TempDir elsewhere;
  const QString coins = MakeDb(elsewhere.File("COINS.DBF"), 2);
  db_->OpenAtStart(coins);
  // A backup of another database, with its lists and settings.
  MakeDb(away_.File("GOLD.DBF"), 3, "gold");
  WriteFileBytes(away_.File("COINS.001"), "Peru\r\n");
  WriteFileBytes(away_.File("COINS.003"), "Fine\r\n");
  WriteFileBytes(away_.File("COINS.INI"), "[Sort Order]\r\nPrimary Sort=3\r\n");

  TestPrompts().ExpectMessage(
      "Warning",
      "The following file \"COINS.002\" could not be located on the specified source drive.",
      MsgButton::kOk);
  TestPrompts().ExpectMessage(
      kNotice, "One or more files were not restored.  Restore may not have completed successfully.",
      MsgButton::kOk);
  EXPECT_FALSE(RestoreLists(*db_, Q(away_.File("GOLD.DBF")), nullptr, RealPlace()));
  EXPECT_EQ(ReadFileBytes(elsewhere.File("COINS.001")), "Peru\r\n");
  EXPECT_EQ(ReadFileBytes(elsewhere.File("COINS.003")), "Fine\r\n");
  EXPECT_FALSE(QFileInfo::exists(Q(home_.File("COINS.001"))));

  bool settings_read = false;
  RestoreHooks hooks;
  hooks.settings_read = [&] { settings_read = true; };
  TestPrompts().ExpectMessage(kNotice, "Configuration File restored successfully.", MsgButton::kOk);
  EXPECT_TRUE(RestoreConfig(*db_, Q(away_.File("COINS.DBF")), nullptr, RealPlace(), hooks));
  EXPECT_TRUE(QFileInfo::exists(Q(elsewhere.File("COINS.INI"))));
  EXPECT_TRUE(settings_read);
  EXPECT_EQ(db_->state().settings.sort_levels[0], 3);
  EXPECT_EQ(db_->MyTable().IndexName(), "NEWINDEX");
  TestPrompts().ExpectMessage(
      "Warning",
      "The following file \"SILVER.INI\" could not be located on the specified source drive.",
      MsgButton::kOk);
  EXPECT_FALSE(RestoreConfig(*db_, Q(away_.File("SILVER.DBF")), nullptr, RealPlace(), hooks));

  // A database of another name joins the open one's directory and opens.
  TestPrompts().ExpectMessage(kNotice, "Restore completed successfully.", MsgButton::kOk);
  EXPECT_TRUE(RestoreDatabase(*db_, Q(away_.File("GOLD.DBF")), nullptr, RealPlace(), {}));
  EXPECT_EQ(db_->paths().dbf, Q(elsewhere.File("GOLD.DBF")));
  EXPECT_EQ(db_->MyTable().RecordCount(), 3u);
  EXPECT_EQ(Countries(elsewhere.File("COINS.DBF")).size(), 2u);
}

// A restore killed while it copies: the database still opens with its rows
// (or, past the rename, with the restored ones), never a mixture.
TEST_F(BackupTest, RestoreKilledMidwayLeavesATableThatOpens) {
  const std::string master = home_.File("MASTER.DBF");
  MakeDb(master, 50, "kept");
  MakeDb(away_.File("MASTER.DBF"), 300000, "restored");
  for (int delay_ms : {5, 30, 120}) {
    const pid_t child = fork();
    if (child == 0) {
      CopyFile(base::Env::Default(), Q(away_.File("MASTER.DBF")), Q(master));
      _exit(0);
    }
    usleep(static_cast<useconds_t>(delay_ms) * 1000);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    const std::vector<std::string> rows = Countries(master);
    ASSERT_TRUE(rows.size() == 50u || rows.size() == 300000u) << rows.size();
    EXPECT_EQ(rows.front(), rows.size() == 50u ? "kept 0" : "restored 0");
    if (rows.size() == 300000u) break;
  }
  db_->OpenAtStart(Q(master));
  EXPECT_GT(db_->MyTable().RecordCount(), 0u);
}

}  // namespace
}  // namespace klv::backup
