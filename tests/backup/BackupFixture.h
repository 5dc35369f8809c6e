// A program directory with a coin database open in an OpenDatabase, and
// the helpers the backup tests share: tables of numbered rows, their rows
// read back, a second directory to back up to.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <QFileInfo>
#include <QString>

#include "app/OpenDatabase.h"
#include "db/DbFiles.h"
#include "db/dbf/Table.h"
#include "support/QtText.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"

namespace klv::backup {

class BackupFixture : public ::testing::Test {
 protected:
  BackupFixture() {
    state_.program_dir = test::Q(home_.path());
    state_.windows_dir = test::Q(windir_.path());
    state_.files.program_ini = test::Q(windir_.File("KLVCOIN.INI"));
    state_.files.start_dir = test::Q(home_.path());
    db_ = std::make_unique<app::OpenDatabase>(state_);
  }
  ~BackupFixture() override { db_.reset(); }

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

}  // namespace klv::backup
