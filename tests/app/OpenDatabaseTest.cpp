// The open database without a window: the sort string, the switch and its
// roll-back at each step that can fail (a damaged settings file, an index
// that cannot be built, the disk failing at every write in turn, the
// previous database gone), the exclusive-use sequence with another process
// holding the table and with an action that throws, and search mode.
#include "app/OpenDatabase.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <stdexcept>

#include "base/FaultEnv.h"
#include "db/DbFiles.h"
#include "db/FieldTable.h"
#include "platform/Profile.h"
#include "support/HeldTable.h"
#include "support/QtText.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"

namespace klv::app {
namespace {

using namespace klv::db;
using platform::MsgButton;
using test::Q;
using test::TestPrompts;

TEST(SortStringTest, BuiltFromTheSortLevels) {
  auto build = [](std::array<int, 4> levels) { return BuildSortString(levels).toStdString(); };
  EXPECT_EQ(build({kCountry, 0, 0, 0}), "Upper(Left(Country,80))");
  EXPECT_EQ(build({kCountry, kPurchDate, 0, 0}), "Upper(Left(Country,40))+DTOS(PurchDate)");
  EXPECT_EQ(build({kTopic, kMarketValu, kYear, 0}),
            "Upper(Left(Topic,26))+STR(MarketValu,12,2)+Upper(Left(Year,26))");
  EXPECT_EQ(build({0, 0, 0, 0}), "");
  EXPECT_EQ(build({0, 0, 0, kQuantity}), "STR(Quantity,12,0)");
  EXPECT_EQ(build({0, 0, 0, kComment}), "Upper(Left(Comment,80))");
  EXPECT_EQ(build({kCountry, kCountry, 0, 0}), "Upper(Left(Country,40))+Upper(Left(Country,40))");
  EXPECT_EQ(build({kCountry, kTopic, kYear, kComment}),
            "Upper(Left(Country,20))+Upper(Left(Topic,20))+Upper(Left(Year,20))+"
            "Upper(Left(Comment,20))");
  // Out-of-range levels are skipped but still share the width.
  EXPECT_EQ(build({kCountry, 21, 0, 0}), "Upper(Left(Country,40))");
}

// Accepts the rows whose Country is the one given.
class CountryFilter : public RowFilter {
 public:
  explicit CountryFilter(std::string country) : country_(std::move(country)) {}
  bool Accept(dbf::Table& table) override {
    return table.FieldByName("Country").AsString() == country_;
  }

 private:
  std::string country_;
};

class OpenDatabaseTest : public ::testing::Test {
 protected:
  OpenDatabaseTest() {
    state_.program_dir = Q(home_.path());
    state_.windows_dir = Q(windir_.path());
    state_.files.program_ini = Q(windir_.File("KLVCOIN.INI"));
    state_.files.start_dir = Q(home_.path());
  }

  QString Home(const std::string& name) const { return Q(home_.File(name)); }
  QString MakeDb(const std::string& name, const std::vector<std::string>& countries) {
    const QString path = Home(name);
    EXPECT_TRUE(MakeNewDB(path));
    dbf::Table t;
    t.SetDirectory(home_.path());
    t.SetTableName(name);
    t.Open();
    for (const std::string& c : countries) {
      t.Append();
      t.FieldByName("Country").SetAsString(c);
      t.Post();
    }
    return path;
  }
  void Write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }
  // Whether another user could open the table now (it is not held
  // exclusively).
  bool OthersCanOpen(const std::string& name) {
    dbf::Table t;
    t.SetDirectory(home_.path());
    t.SetTableName(name);
    try {
      t.Open();
      return true;
    } catch (const dbf::DbfError&) {
      return false;
    }
  }
  static QByteArray Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  // What the open database looks like: name, count, sort string, the
  // settings record's caption of Topic, the first Country list entry.
  struct Seen {
    QString name;
    uint64_t count;
    QString sort;
    QString topic_caption;
    QStringList countries;
  };
  Seen Look(OpenDatabase& db) {
    return {db.name(), db.MyTable().IsOpen() ? db.MyTable().RecordCount() : 0, db.sort_string(),
            state_.settings.field_names[kTopic], db.lists().FormList(ListKind::kCountry)};
  }

  test::TempDir home_;
  test::TempDir windir_;
  AppState state_;
};

TEST_F(OpenDatabaseTest, ASwitchSavesTheOldDatabaseAndOpensTheNewOneWithItsOwnFiles) {
  const QString a = MakeDb("A.DBF", {"x", "y"});
  const QString b = MakeDb("B.DBF", {"z"});
  Write(Home("B.001"), "Peru\r\nChile\r\n");
  platform::WriteProfileString(Home("B.INI"), "Field Names", "Topic", "Theme");
  platform::WriteProfileString(Home("B.INI"), "Sort Order", "Primary Sort", "1");

  OpenDatabase db(state_);
  int bound = 0;
  QObject::connect(&db, &OpenDatabase::DatabaseBound, [&] { ++bound; });
  db.OpenAtStart(a);
  db.LoadAllList();
  db.SetListsInUse(true);
  db.lists().AddToList(ListKind::kCountry, "Spain");
  state_.settings.field_names[kTopic] = "Subject";

  EXPECT_EQ(db.SwitchTo(b, /*is_new=*/false), OpenDatabase::SwitchResult::kSwitched);
  EXPECT_EQ(bound, 2);
  // The old database's settings and lists were written.
  EXPECT_EQ(platform::ReadProfileString(Home("A.INI"), "Field Names", "Topic", ""), "Subject");
  EXPECT_EQ(Read(Home("A.001")), "Spain\r\n");
  // The new one's are in force, and its index was built for its sort order.
  const Seen now = Look(db);
  EXPECT_EQ(now.name, b);
  EXPECT_EQ(now.count, 1u);
  EXPECT_EQ(now.sort, "Upper(Left(Country,80))");
  EXPECT_EQ(now.topic_caption, "Theme");
  EXPECT_EQ(now.countries, QStringList({"Peru", "Chile"}));
  EXPECT_EQ(Q(db.MyTable().IndexName()).toUpper(), "NEWINDEX");
  EXPECT_EQ(state_.settings.last_files[0], a);
  EXPECT_TRUE(OthersCanOpen("B.DBF"));  // opened shared
}

TEST_F(OpenDatabaseTest, AFileThatIsNoCoinTableIsRefusedAndChangesNothing) {
  const QString a = MakeDb("A.DBF", {"x"});
  dbf::Table::CreateTable(home_.File("OTHER.DBF"), {{"NAME", 'C', 10, 0, false}});
  OpenDatabase db(state_);
  db.OpenAtStart(a);
  TestPrompts().ExpectMessage(
      "Error",
      "This DBase file was not created with Kolvane Coins 97.  It cannot be "
      "opened.  You may, however, import data from this file using the "
      "import function.",
      MsgButton::kOk);
  EXPECT_EQ(db.SwitchTo(Home("OTHER.DBF"), false), OpenDatabase::SwitchResult::kRefused);
  EXPECT_EQ(db.name(), a);
  EXPECT_TRUE(db.MyTable().IsOpen());
  EXPECT_FALSE(QFileInfo::exists(Home("A.INI")));  // nothing written
}

// Each way a switch can fail after the old database was closed: the
// previous database is open again with everything as it was, and the user
// is told both what failed and that the previous database is back.
TEST_F(OpenDatabaseTest, ASwitchFailingAtAnyStepReopensThePreviousDatabase) {
  const QString a = MakeDb("A.DBF", {"x", "y"});
  Write(Home("A.001"), "Peru\r\n");
  platform::WriteProfileString(Home("A.INI"), "Field Names", "Topic", "Subject");
  // The right field names, but Country is a number: its sort index cannot
  // be built.
  std::vector<dbf::FieldDef> defs = CoinFieldDefs();
  defs[0] = {"COUNTRY", 'N', 5, 0, false};
  dbf::Table::CreateTable(home_.File("ODD.DBF"), defs);
  platform::WriteProfileString(Home("ODD.INI"), "Sort Order", "Primary Sort", "1");
  const QString unwritable = MakeDb("C.DBF", {"c"});

  struct Case {
    const char* what;
    QString target;
    std::function<void()> before;
    std::function<void()> after;
  } cases[] = {
      {"the new index cannot be built", Home("ODD.DBF"), [] {}, [] {}},
      // The old database's settings file cannot be written: a directory
      // stands where it should be.
      {"the old settings cannot be written", unwritable,
       [&] {
         QFile::remove(Home("A.INI"));
         QDir().mkdir(Home("A.INI"));
       },
       [&] {
         QDir().rmdir(Home("A.INI"));
         platform::WriteProfileString(Home("A.INI"), "Field Names", "Topic", "Subject");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OpenDatabase db(state_);
    db.OpenAtStart(a);
    db.LoadAllList();
    db.SetListsInUse(true);
    const Seen before = Look(db);
    c.before();
    TestPrompts().AnswerMessage(MsgButton::kOk);
    EXPECT_EQ(db.SwitchTo(c.target, false), OpenDatabase::SwitchResult::kRolledBack);
    ASSERT_EQ(TestPrompts().Messages().size(), 1u);
    const QString text = TestPrompts().Messages()[0].text;
    EXPECT_EQ(TestPrompts().Messages()[0].caption, "Error");
    EXPECT_TRUE(text.startsWith("The database could not be opened.  ")) << text.toStdString();
    EXPECT_TRUE(text.endsWith("\n\nThe database open before is open again."));
    const Seen after = Look(db);
    EXPECT_EQ(after.name, before.name);
    EXPECT_EQ(after.count, 2u);
    EXPECT_EQ(after.sort, before.sort);
    EXPECT_EQ(after.topic_caption, "Subject");
    EXPECT_EQ(after.countries, QStringList({"Peru"}));
    EXPECT_TRUE(state_.settings.last_files[0].isEmpty());
    c.after();
    TestPrompts().Reset();
  }
}

TEST_F(OpenDatabaseTest, ADiskFailingAtEachWriteOfASwitchLosesNothing) {
  const QString a = MakeDb("A.DBF", {"x", "y"});
  const QString b = MakeDb("B.DBF", {"z"});
  base::FaultEnv env(base::Env::Default());
  TestPrompts().set_strict(false);
  bool switched = false;
  int rolled_back = 0;
  for (int n = 1; n < 200 && !switched; ++n) {
    SCOPED_TRACE(n);
    OpenDatabase db(state_, env);
    db.OpenAtStart(a);
    env.FailAt(n);
    const OpenDatabase::SwitchResult r = db.SwitchTo(b, false);
    env.FailAt(0);
    switched = r == OpenDatabase::SwitchResult::kSwitched;
    if (switched) {
      EXPECT_FALSE(env.fired());
      EXPECT_EQ(db.MyTable().RecordCount(), 1u);
    } else {
      EXPECT_EQ(r, OpenDatabase::SwitchResult::kRolledBack);
      ++rolled_back;
      EXPECT_EQ(db.name(), a);
      EXPECT_EQ(db.MyTable().RecordCount(), 2u);
    }
    db.Close();
    // Both tables still hold every row, whichever write failed.
    for (const auto& [name, rows] : {std::pair{"A.DBF", 2u}, std::pair{"B.DBF", 1u}}) {
      dbf::Table t;
      t.SetDirectory(home_.path());
      t.SetTableName(name);
      // An index the failed write left half made is found out and rebuilt.
      t.SetRepairIndex(true);
      t.Open();
      EXPECT_EQ(t.RecordCount(), rows) << name;
    }
    state_.settings.last_files = {};
  }
  EXPECT_TRUE(switched);
  EXPECT_GT(rolled_back, 3);
}

TEST_F(OpenDatabaseTest, WhenThePreviousDatabaseIsGoneTooTheSwitchSaysItIsLost) {
  const QString a = MakeDb("A.DBF", {"x"});
  std::vector<dbf::FieldDef> defs = CoinFieldDefs();
  defs[0] = {"COUNTRY", 'N', 5, 0, false};
  dbf::Table::CreateTable(home_.File("ODD.DBF"), defs);
  platform::WriteProfileString(Home("ODD.INI"), "Sort Order", "Primary Sort", "1");
  OpenDatabase db(state_);
  db.OpenAtStart(a);
  QStringList errors;
  QObject::connect(&db, &OpenDatabase::EngineError, [&](const QString& m) { errors << m; });
  db.Close();
  ASSERT_TRUE(QFile::rename(a, Home("GONE.DBF")));
  TestPrompts().AnswerMessage(MsgButton::kOk);
  EXPECT_EQ(db.SwitchTo(Home("ODD.DBF"), false), OpenDatabase::SwitchResult::kLost);
  EXPECT_EQ(errors.size(), 1);
  ASSERT_EQ(TestPrompts().Messages().size(), 1u);
  EXPECT_FALSE(TestPrompts().Messages()[0].text.contains("open again"));
  EXPECT_FALSE(db.MyTable().IsOpen());
}

TEST_F(OpenDatabaseTest, ExclusiveUseRunsAloneAndAlwaysEndsShared) {
  const QString a = MakeDb("A.DBF", {"x", "y", "z"});
  OpenDatabase db(state_);
  db.OpenAtStart(a);
  db.MyTable().Next();
  const uint32_t recno = db.MyTable().RecNo();
  int reapplied = 0;
  QObject::connect(&db, &OpenDatabase::ViewerSettingsNeeded, [&] { ++reapplied; });
  auto ends_shared = [&] {
    EXPECT_TRUE(db.MyTable().IsOpen());
    EXPECT_TRUE(OthersCanOpen("A.DBF"));
    EXPECT_EQ(Q(db.MyTable().IndexName()).toUpper(), "NEWINDEX");
    EXPECT_EQ(db.MyTable().RecNo(), recno);
  };

  // Alone: the action has the table to itself.
  bool ran = false;
  EXPECT_EQ(db.WithExclusiveUse([&](dbf::Table& t) {
    ran = true;
    EXPECT_TRUE(t.IsOpen());
    EXPECT_FALSE(OthersCanOpen("A.DBF"));
  }),
            OpenDatabase::ExclusiveResult::kDone);
  EXPECT_TRUE(ran);
  EXPECT_EQ(reapplied, 1);
  ends_shared();

  // An action that throws: the error goes on to the caller, the table is
  // open shared all the same.
  EXPECT_THROW(db.WithExclusiveUse([](dbf::Table&) { throw std::runtime_error("no room"); }),
               std::runtime_error);
  EXPECT_EQ(reapplied, 2);
  ends_shared();

  // Another process holds the table: the action does not run.
  {
    test::HeldByAnotherProcess holder(home_.path(), "A");
    ran = false;
    EXPECT_EQ(db.WithExclusiveUse([&](dbf::Table&) { ran = true; }),
              OpenDatabase::ExclusiveResult::kInUse);
    EXPECT_FALSE(ran);
    EXPECT_EQ(reapplied, 3);
    EXPECT_TRUE(db.MyTable().IsOpen());
    EXPECT_EQ(db.MyTable().RecNo(), recno);
  }
}

TEST_F(OpenDatabaseTest, SearchModeAppliesTheRowFilterUntilItEnds) {
  const QString a = MakeDb("A.DBF", {"x", "b", "y", "b"});
  const QString b = MakeDb("B.DBF", {"b"});
  OpenDatabase db(state_);
  db.OpenAtStart(a);
  std::vector<bool> changes;
  QObject::connect(&db, &OpenDatabase::SearchModeChanged, [&](bool on) { changes.push_back(on); });
  CountryFilter filter("b");
  db.SetRowFilter(&filter);
  db.SetSearchMode(true);
  db.ReopenMyTable();
  EXPECT_TRUE(db.searching());
  EXPECT_EQ(db.MyTable().RecordCount(), 2u);
  db.EndSearch();
  EXPECT_FALSE(db.searching());
  EXPECT_EQ(db.MyTable().RecordCount(), 4u);

  // A switch ends search mode before it leaves.
  db.SetSearchMode(true);
  EXPECT_EQ(db.SwitchTo(b, false), OpenDatabase::SwitchResult::kSwitched);
  EXPECT_FALSE(db.searching());
  EXPECT_FALSE(db.MyTable().Filtered());
  EXPECT_EQ(changes, (std::vector<bool>{true, false, true, false}));
}

}  // namespace
}  // namespace klv::app
