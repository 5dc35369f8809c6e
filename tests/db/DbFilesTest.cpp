// Creating, validating and testing collection databases, with the exact
// messages the user sees.
#include "db/DbFiles.h"

#include <gtest/gtest.h>

#include <QFile>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "db/FieldTable.h"
#include "db/dbf/Table.h"
#include "support/QtText.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"

namespace klv::db {
namespace {

using platform::MsgButton;

using test::Q;

unsigned char HeaderByte(const std::string& path, int offset) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(offset);
  return static_cast<unsigned char>(in.get());
}

TEST(MakeNewDBTest, CreatesAnEmptyCoinTableThatPassesTheValidityTest) {
  test::TempDir dir;
  QString path = Q(dir.File("MASTER.DBF"));
  ASSERT_TRUE(MakeNewDB(path));
  EXPECT_TRUE(CheckDBaseFormat(nullptr, path));
  dbf::Table t;
  t.SetDirectory(dir.path());
  t.SetTableName("MASTER");
  t.Open();
  EXPECT_EQ(t.FieldCount(), 20);
  EXPECT_EQ(t.RecordCount(), 0u);
  EXPECT_TRUE(t.Tags().empty());
  EXPECT_FALSE(std::filesystem::exists(dir.File("MASTER.MDX")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("MASTER.INI")));
}

TEST(MakeNewDBTest, ReplacesATableNobodyUsesAndSparesOneInUse) {
  test::TempDir dir;
  QString path = Q(dir.File("COINS.DBF"));
  ASSERT_TRUE(MakeNewDB(path));
  {
    dbf::Table t;
    t.SetDirectory(dir.path());
    t.SetTableName("COINS");
    t.Open();
    t.Append();
    t.FieldByName("Country").SetAsString("Peru");
    t.Post();
  }
  ASSERT_TRUE(MakeNewDB(path));
  {
    dbf::Table t;
    t.SetDirectory(dir.path());
    t.SetTableName("COINS");
    t.Open();
    EXPECT_EQ(t.RecordCount(), 0u);
    t.Append();
    t.FieldByName("Country").SetAsString("Chile");
    t.Post();
    // Held open by "another program": the file must survive untouched.
    test::TestPrompts().ExpectMessage(
        "Error",
        "The table \"" + path +
            "\" is currently in use by another program.  New table creation will be aborted.",
        MsgButton::kOk);
    EXPECT_FALSE(MakeNewDB(path));
    EXPECT_EQ(t.RecordCount(), 1u);
  }
}

class CheckDBaseFormatTest : public ::testing::Test {
 protected:
  QString Make(std::vector<dbf::FieldDef> fields) {
    std::string p = dir_.File("X.DBF");
    dbf::Table::CreateTable(p, fields);
    return Q(p);
  }
  void ExpectRejected(const QString& path) {
    test::TestPrompts().ExpectMessage(
        "Error",
        "This DBase file was not created with Kolvane Coins 97.  It cannot be opened.  You may, "
        "however, import data from this file using the import function.",
        MsgButton::kOk);
    EXPECT_FALSE(CheckDBaseFormat(nullptr, path));
  }
  test::TempDir dir_;
};

TEST_F(CheckDBaseFormatTest, NamesAndOrderDecideTypesDoNot) {
  auto fields = CoinFieldDefs();
  std::swap(fields[0], fields[1]);
  ExpectRejected(Make(fields));
  fields = CoinFieldDefs();
  fields.push_back({"EXTRA", 'C', 5, 0});
  ExpectRejected(Make(fields));
  fields = CoinFieldDefs();
  fields.pop_back();
  ExpectRejected(Make(fields));
  fields = CoinFieldDefs();
  fields[5] = {"PURCHASEPR", 'C', 30, 0};  // other type and width: still a coin table
  fields[10] = {"purchdate", 'C', 10, 0};
  EXPECT_TRUE(CheckDBaseFormat(nullptr, Make(fields)));
}

TEST_F(CheckDBaseFormatTest, MissingIndexFileClearsTheFlagSoTheTableOpens) {
  QString path = Make(CoinFieldDefs());
  {
    dbf::Table t;
    t.SetDirectory(dir_.path());
    t.SetTableName("X");
    t.Open();
    t.AddIndex("NewIndex", "Upper(Left(Country,80))");
  }
  ASSERT_EQ(HeaderByte(dir_.File("X.DBF"), 28), 1);
  std::filesystem::remove(dir_.File("X.MDX"));
  EXPECT_TRUE(CheckDBaseFormat(nullptr, path));
  EXPECT_EQ(HeaderByte(dir_.File("X.DBF"), 28), 0);
  dbf::Table t;
  t.SetDirectory(dir_.path());
  t.SetTableName("X");
  t.Open();
  t.AddIndex("NewIndex", "Upper(Left(Country,80))");  // a new index file
  EXPECT_TRUE(std::filesystem::exists(dir_.File("X.MDX")));
}

TEST_F(CheckDBaseFormatTest, AFileThatIsNoTableIsLeftAsItWas) {
  // No .MDX beside it, so the flag would be cleared, were it a table.
  const std::string junk = dir_.File("NOTES.DBF");
  const std::string text = "Not a table at all, only a letter about coins and their makers.";
  {
    std::FILE* f = std::fopen(junk.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  EXPECT_THROW(CheckDBaseFormat(nullptr, Q(junk)), dbf::DbfError);
  RemoveMDXByte(Q(junk));
  std::string after(text.size(), '\0');
  std::FILE* f = std::fopen(junk.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fread(after.data(), 1, after.size(), f), after.size());
  std::fclose(f);
  EXPECT_EQ(after, text);
}

TEST(DBaseInUseTest, SeesOtherOpens) {
  test::TempDir dir;
  QString path = Q(dir.File("M.DBF"));
  ASSERT_TRUE(MakeNewDB(path));
  EXPECT_FALSE(DBaseInUse(path));
  dbf::Table t;
  t.SetDirectory(dir.path());
  t.SetTableName("M");
  t.Open();
  EXPECT_TRUE(DBaseInUse(path));
  t.Close();
  EXPECT_FALSE(DBaseInUse(path));
}

TEST(DatabasePathsTest, DerivesCompanionsFromTheNameUpToItsFirstDot) {
  test::TempDir dir;
  DatabasePaths p = DatabasePaths::From(Q(dir.File("my.coins.dbf")));
  EXPECT_EQ(p.table_name, "my");
  EXPECT_EQ(p.mdx, Q(dir.File("my.MDX")));
  EXPECT_EQ(p.ini, Q(dir.File("my.INI")));
  EXPECT_EQ(p.base, Q(dir.File("my")));
  std::ofstream(dir.File("my.ini")) << "[x]\n";
  EXPECT_EQ(DatabasePaths::From(Q(dir.File("my.coins.dbf"))).ini, Q(dir.File("my.ini")));
}

TEST(DoLastFilesTest, KeepsFiveMostRecentWithoutDuplicates) {
  RecentFiles list{"a", "b", "c", "d", "e"};
  // Opening entry 3: it leaves, 1 and 2 move down, the previous one leads.
  DoLastFiles(list, "cur", "c");
  EXPECT_EQ(list, (RecentFiles{"cur", "a", "b", "d", "e"}));
  // Opening the database already open puts its own path first.
  DoLastFiles(list, "cur", "cur");
  EXPECT_EQ(list, (RecentFiles{"cur", "a", "b", "d", "e"}));
  // Letter case makes a different entry; the oldest falls off.
  DoLastFiles(list, "x", "CUR");
  EXPECT_EQ(list, (RecentFiles{"x", "cur", "a", "b", "d"}));
  RecentFiles empty{};
  DoLastFiles(empty, "p", "q");
  EXPECT_EQ(empty, (RecentFiles{"p", "", "", "", ""}));
}

}  // namespace
}  // namespace klv::db
