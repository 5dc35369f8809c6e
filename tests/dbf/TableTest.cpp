// Behaviour of the table engine through its public cursor API.
#include "db/dbf/Table.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "db/FieldTable.h"
#include "base/FaultEnv.h"
#include "support/TempDir.h"

namespace klv::dbf {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::vector<FieldDef> SmallFields() {
  return {{"NAME", 'C', 12, 0},
          {"AMOUNT", 'N', 8, 2},
          {"QTY", 'N', 5, 0},
          {"BOUGHT", 'D', 8, 0},
          {"OK", 'L', 1, 0}};
}

class TableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TextFormat iso;
    iso.short_date = "yyyy/MM/dd";
    iso.date_separator = '-';
    SetTextFormat(iso);
  }
  void TearDown() override { SetTextFormat(TextFormat{}); }

  std::string Path(const std::string& name = "T.DBF") { return dir_.File(name); }

  void Bind(Table& t, const std::string& name = "T.DBF") {
    t.SetDirectory(dir_.path());
    t.SetTableName(name);
  }

  // A table with rows NAME = names[i], AMOUNT = i + 0.5, QTY = i.
  void Fill(Table& t, const std::vector<std::string>& names) {
    int i = 0;
    for (const auto& n : names) {
      t.Append();
      t.FieldByName("name").SetAsString(n);
      t.FieldByName("AMOUNT").SetAsFloat(i + 0.5);
      t.FieldByName("QTY").SetAsInteger(i);
      t.Post();
      ++i;
    }
  }

  std::vector<std::string> Walk(Table& t, bool backwards = false) {
    std::vector<std::string> out;
    if (!backwards) {
      for (t.First(); !t.Eof(); t.Next()) out.push_back(t.FieldByName("NAME").AsString());
    } else {
      for (t.Last(); !t.Bof(); t.Prior()) out.push_back(t.FieldByName("NAME").AsString());
    }
    return out;
  }

  test::TempDir dir_;
};

TEST_F(TableTest, CreatedFileHasTheDbaseLayout) {
  Table::CreateTable(Path(), SmallFields());
  auto b = ReadBytes(Path());
  ASSERT_EQ(b.size(), 32u + 5 * 32 + 1 + 1);
  EXPECT_EQ(b[0], 0x03);
  EXPECT_EQ(b[4] | b[5] << 8 | b[6] << 16 | b[7] << 24, 0);
  EXPECT_EQ(b[8] | b[9] << 8, 32 + 5 * 32 + 1);
  EXPECT_EQ(b[10] | b[11] << 8, 1 + 12 + 8 + 5 + 8 + 1);
  EXPECT_EQ(b[28], 0);     // no production index yet
  EXPECT_EQ(b[29], 0x57);  // Windows-1252
  EXPECT_EQ(b[32 + 5 * 32], 0x0D);
  EXPECT_EQ(b.back(), 0x1A);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&b[32]), 4), "NAME");
  EXPECT_EQ(b[32 + 32 + 11], 'N');
  EXPECT_EQ(b[32 + 32 + 16], 8);
  EXPECT_EQ(b[32 + 32 + 17], 2);
}

TEST_F(TableTest, CreateRejectsBadDefinitions) {
  auto code = [&](std::vector<FieldDef> f) {
    try {
      Table::CreateTable(Path(), f);
    } catch (const DbfError& e) {
      return e.code();
    }
    return ErrorCode::kIo;
  };
  EXPECT_EQ(code({}), ErrorCode::kBadDefinition);
  EXPECT_EQ(code({{"A", 'C', 5, 0}, {"a", 'C', 5, 0}}), ErrorCode::kBadDefinition);
  EXPECT_EQ(code({{"TOOLONGNAME1", 'C', 5, 0}}), ErrorCode::kBadDefinition);
  EXPECT_EQ(code({{"A", 'C', 255, 0}}), ErrorCode::kBadDefinition);
  EXPECT_EQ(code({{"A", 'N', 5, 4}}), ErrorCode::kBadDefinition);
  EXPECT_EQ(code({{"A", 'M', 10, 0}}), ErrorCode::kUnsupported);
  EXPECT_FALSE(fs::exists(Path()));
}

TEST_F(TableTest, CoinTableHasTwentyFieldsThatRoundTrip) {
  Table::CreateTable(Path(), CoinFieldDefs());
  Table t;
  Bind(t);
  t.Open();
  ASSERT_EQ(t.FieldCount(), kFieldCount);
  for (int i = 1; i <= kFieldCount; ++i) {
    std::string want(FieldTable[static_cast<size_t>(i)].name);
    for (char& c : want) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(t.Fields(i - 1).name(), want);
  }
  EXPECT_EQ(t.FieldByName("Quantity").def().decimals, 0);
  EXPECT_EQ(t.FieldByName("MarketValu").def().decimals, 2);
  t.Append();
  // The largest amounts and quantities the forms accept survive storage.
  t.FieldByName("PurchasePr").SetAsFloat(999999999999.0);
  t.FieldByName("MarketValu").SetAsFloat(-99999999999.99);
  t.FieldByName("PremiumVal").SetAsFloat(0.01);
  t.FieldByName("Quantity").SetAsInteger(2147483647);
  t.FieldByName("PurchDate").SetAsString("1999-12-31");
  t.Post();
  t.Close();
  t.Open();
  EXPECT_DOUBLE_EQ(t.FieldByName("PurchasePr").AsFloat(), 999999999999.0);
  EXPECT_DOUBLE_EQ(t.FieldByName("MarketValu").AsFloat(), -99999999999.99);
  EXPECT_EQ(t.FieldByName("PremiumVal").AsString(), "0.01");
  EXPECT_EQ(t.FieldByName("Quantity").AsInteger(), 2147483647);
  EXPECT_EQ(t.FieldByName("PurchDate").AsString(), "1999-12-31");
}

TEST_F(TableTest, FieldValuesAreCheckedOnWrite) {
  Table::CreateTable(Path(), SmallFields());
  Table t;
  Bind(t);
  t.Open();
  t.Append();
  Field& name = t.FieldByName("NAME");
  name.SetAsString("Österreich – Schilling");  // en dash exists in cp1252
  EXPECT_EQ(name.AsString(), "Österreich –");  // cut to 12 characters
  try {
    name.SetAsString("Ελλάδα");
    FAIL() << "a Greek letter fits no Windows-1252 byte";
  } catch (const DbfError& e) {
    EXPECT_EQ(e.code(), ErrorCode::kCodePage);
    EXPECT_NE(std::string(e.what()).find("NAME"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("Ε"), std::string::npos);
  }
  EXPECT_EQ(name.AsString(), "Österreich –");  // the refused value changed nothing

  Field& amount = t.FieldByName("AMOUNT");
  amount.SetAsFloat(12.345);
  EXPECT_EQ(amount.Raw(), "   12.35");  // half away from zero, not binary rounding
  amount.SetAsFloat(99999.99);
  EXPECT_EQ(amount.Raw(), "99999.99");
  EXPECT_THROW(amount.SetAsFloat(100000), DbfError);
  EXPECT_EQ(amount.Raw(), "99999.99");
  EXPECT_THROW(amount.SetAsString("12a"), DbfError);
  amount.SetAsString("");
  EXPECT_TRUE(amount.IsNull());
  EXPECT_EQ(amount.AsFloat(), 0);

  Field& qty = t.FieldByName("QTY");
  EXPECT_THROW(qty.SetAsInteger(123456), DbfError);
  qty.SetAsInteger(-9999);
  EXPECT_EQ(qty.AsInteger(), -9999);

  Field& date = t.FieldByName("BOUGHT");
  EXPECT_THROW(date.SetAsString("2023-02-29"), DbfError);
  date.SetAsString("2024-02-29");
  EXPECT_EQ(date.Raw(), "20240229");
  date.Clear();
  EXPECT_TRUE(date.AsDate().IsNull());

  Field& ok = t.FieldByName("OK");
  ok.SetAsBoolean(true);
  EXPECT_EQ(ok.Raw(), "T");
  EXPECT_THROW(ok.SetAsString("maybe"), DbfError);
  t.Cancel();
  EXPECT_EQ(t.RecordCount(), 0u);
}

TEST_F(TableTest, TextFollowsTheProcessFormat) {
  Table::CreateTable(Path(), SmallFields());
  Table t;
  Bind(t);
  t.Open();
  TextFormat de;
  de.short_date = "dd/MM/yyyy";
  de.date_separator = '.';
  de.decimal_separator = ',';
  SetTextFormat(de);
  t.Append();
  t.FieldByName("AMOUNT").SetAsString("1234,5");
  t.FieldByName("BOUGHT").SetAsString("3.4.2021");
  t.Post();
  EXPECT_EQ(t.FieldByName("AMOUNT").AsString(), "1234,50");
  EXPECT_EQ(t.FieldByName("BOUGHT").AsString(), "03.04.2021");
  EXPECT_EQ(t.FieldByName("BOUGHT").Raw(), "20210403");
  TextFormat us;
  us.short_date = "M/d/yy";
  SetTextFormat(us);
  EXPECT_EQ(t.FieldByName("BOUGHT").AsString(), "4/3/21");
  EXPECT_EQ(t.FieldByName("AMOUNT").AsString(), "1234.50");
}

TEST_F(TableTest, CursorHidesDeletedRowsAndPackRemovesThem) {
  Table::CreateTable(Path(), SmallFields());
  Table t;
  Bind(t);
  t.SetExclusive(true);
  t.Open();
  EXPECT_TRUE(t.IsEmpty());
  Fill(t, {"a", "b", "c", "d", "e"});
  EXPECT_EQ(t.RecordCount(), 5u);
  ASSERT_TRUE(t.GoTo(2));
  t.Delete();
  EXPECT_EQ(t.RecNo(), 3u);  // the cursor moves on to the next row
  ASSERT_TRUE(t.GoTo(5));
  t.Delete();
  EXPECT_EQ(t.RecNo(), 4u);  // the last row: the cursor moves back
  EXPECT_FALSE(t.GoTo(2));
  EXPECT_EQ(t.RecordCount(), 3u);
  EXPECT_EQ(t.PhysicalCount(), 5u);
  EXPECT_EQ(Walk(t), (std::vector<std::string>{"a", "c", "d"}));
  EXPECT_EQ(Walk(t, true), (std::vector<std::string>{"d", "c", "a"}));

  t.Pack();
  EXPECT_EQ(t.PhysicalCount(), 3u);
  EXPECT_EQ(t.RecordCount(), 3u);
  EXPECT_EQ(Walk(t), (std::vector<std::string>{"a", "c", "d"}));
  t.Close();
  auto b = ReadBytes(Path());
  size_t header = b[8] | b[9] << 8, reclen = b[10] | b[11] << 8;
  EXPECT_EQ(b.size(), header + 3 * reclen + 1);
  EXPECT_EQ(b.back(), 0x1A);
  for (const auto& e : fs::directory_iterator(dir_.path()))
    EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
}

// Counts the bytes read from table files, to show what an operation reads.
class ReadCountingEnv final : public Env {
 public:
  std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override {
    return std::make_unique<Counted>(Env::Default().Open(path, mode), path,
                                     path.ends_with(".DBF") ? &dbf_bytes : nullptr);
  }
  bool Exists(const std::string& path) override { return Env::Default().Exists(path); }
  void Rename(const std::string& from, const std::string& to) override {
    Env::Default().Rename(from, to);
  }
  void Remove(const std::string& path) override { Env::Default().Remove(path); }
  void SyncDir(const std::string& path) override { Env::Default().SyncDir(path); }

  uint64_t dbf_bytes = 0;

 private:
  class Counted final : public File {
   public:
    Counted(std::unique_ptr<File> f, const std::string& path, uint64_t* counter)
        : File(path), f_(std::move(f)), counter_(counter) {}
    size_t ReadAt(uint64_t off, void* buf, size_t n) override {
      size_t got = f_->ReadAt(off, buf, n);
      if (counter_) *counter_ += got;
      return got;
    }
    void WriteAt(uint64_t off, const void* buf, size_t n) override { f_->WriteAt(off, buf, n); }
    uint64_t Size() override { return f_->Size(); }
    void Truncate(uint64_t size) override { f_->Truncate(size); }
    void Sync() override { f_->Sync(); }
    bool TryLock(uint64_t off, uint64_t len, bool ex) override { return f_->TryLock(off, len, ex); }
    void Lock(uint64_t off, uint64_t len, bool ex) override { f_->Lock(off, len, ex); }
    void Unlock(uint64_t off, uint64_t len) override { f_->Unlock(off, len); }
    int64_t ModifiedNs() override { return f_->ModifiedNs(); }
    Status Stat() override { return f_->Stat(); }

   private:
    std::unique_ptr<File> f_;
    uint64_t* counter_;
  };
};

TEST_F(TableTest, TheDeletedRowsAreCountedOnceAndNotedForTheNextOpen) {
  Table::CreateTable(Path(), SmallFields());
  std::vector<std::string> names;
  for (int i = 0; i < 6000; ++i) names.push_back("n" + std::to_string(i));
  {
    Table t;
    Bind(t);
    t.Open();
    t.AddIndex("NAMES", "UPPER(NAME)");
    Fill(t, names);
    for (uint32_t r : {7u, 100u, 5999u}) {
      ASSERT_TRUE(t.GoTo(r));
      t.Delete();
    }
    EXPECT_EQ(t.RecordCount(), 5997u);
  }
  const uint64_t table_bytes = ReadBytes(Path()).size();
  auto open_and_count = [&](uint64_t* read) {
    ReadCountingEnv env;
    Table t(env);
    Bind(t);
    t.Open();
    uint64_t n = t.RecordCount();
    *read = env.dbf_bytes;
    return n;
  };
  uint64_t read = 0;
  EXPECT_EQ(open_and_count(&read), 5997u);
  EXPECT_LT(read, table_bytes / 2) << "the open counted the rows again";

  // Another program marks a row deleted: the table file is not as noted, so
  // the rows are counted again, and the new count is noted.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));  // a later file time
  auto bytes = ReadBytes(Path());
  size_t header = bytes[8] | bytes[9] << 8, reclen = bytes[10] | bytes[11] << 8;
  {
    std::fstream f(Path(), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(header + 49 * reclen));
    f.put('*');
  }
  EXPECT_EQ(open_and_count(&read), 5996u);
  EXPECT_GT(read, table_bytes * 9 / 10);
  EXPECT_EQ(open_and_count(&read), 5996u);
  EXPECT_LT(read, table_bytes / 2);

  // A torn note is no note.
  {
    std::fstream f(Path("T.MDX"), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(264 + 4);
    f.put('\x07');
  }
  EXPECT_EQ(open_and_count(&read), 5996u);
  EXPECT_GT(read, table_bytes * 9 / 10);

  // A second open's delete reaches the first through a refresh.
  Table a, b;
  Bind(a);
  Bind(b);
  a.Open();
  b.Open();
  EXPECT_EQ(a.RecordCount(), 5996u);
  ASSERT_TRUE(b.GoTo(200));
  b.Delete();
  a.Refresh();
  EXPECT_EQ(a.RecordCount(), 5995u);
  b.Close();
  a.Close();
  EXPECT_EQ(open_and_count(&read), 5995u);
  EXPECT_LT(read, table_bytes / 2);
}

TEST_F(TableTest, PackNeedsExclusiveUse) {
  Table::CreateTable(Path(), SmallFields());
  Table t;
  Bind(t);
  t.Open();
  try {
    t.Pack();
    FAIL();
  } catch (const DbfError& e) {
    EXPECT_EQ(e.code(), ErrorCode::kInUse);
  }
}

TEST_F(TableTest, EditPostAndCancel) {
  Table::CreateTable(Path(), SmallFields());
  Table t;
  Bind(t);
  t.Open();
  Fill(t, {"one", "two"});
  t.First();
  t.Edit();
  t.FieldByName("NAME").SetAsString("uno");
  t.Cancel();
  EXPECT_EQ(t.FieldByName("NAME").AsString(), "one");
  t.Edit();
  t.FieldByName("NAME").SetAsString("uno");
  t.Post();
  t.Close();
  t.Open();
  EXPECT_EQ(Walk(t), (std::vector<std::string>{"uno", "two"}));
  // Fields cannot change outside an edit.
  EXPECT_THROW(t.FieldByName("NAME").SetAsString("x"), DbfError);
  // Cancelling an append returns to where the cursor was.
  t.Last();
  t.Append();
  t.Cancel();
  EXPECT_EQ(t.RecNo(), 2u);
  EXPECT_EQ(t.RecordCount(), 2u);
}

TEST_F(TableTest, IndexOrdersTheCursorAndFollowsChanges) {
  Table::CreateTable(Path(), SmallFields());
  Table t;
  Bind(t);
  t.Open();
  Fill(t, {"pear", "Apple", "fig", "apple", "banana"});
  t.AddIndex("NewIndex", "Upper(Left(Name,8))");
  auto tags = t.Tags();
  ASSERT_EQ(tags.size(), 1u);
  EXPECT_EQ(tags[0].name, "NEWINDEX");
  EXPECT_EQ(tags[0].key_length, 8);
  t.SetIndexName("newindex");
  // Equal keys keep record order.
  EXPECT_EQ(Walk(t), (std::vector<std::string>{"Apple", "apple", "banana", "fig", "pear"}));
  EXPECT_EQ(Walk(t, true), (std::vector<std::string>{"pear", "fig", "banana", "apple", "Apple"}));

  ASSERT_TRUE(t.FindKey("FI"));
  EXPECT_EQ(t.FieldByName("NAME").AsString(), "fig");
  t.Edit();
  t.FieldByName("NAME").SetAsString("zucchini");
  t.Post();
  Fill(t, {"cherry"});
  EXPECT_EQ(Walk(t),
            (std::vector<std::string>{"Apple", "apple", "banana", "cherry", "pear", "zucchini"}));
  ASSERT_TRUE(t.FindKey("BANANA"));
  t.Delete();
  EXPECT_EQ(t.FieldByName("NAME").AsString(), "cherry");
  EXPECT_FALSE(t.FindKey("BANANA"));
  EXPECT_EQ(t.FieldByName("NAME").AsString(), "cherry");  // a miss does not move
  t.FindNearest("C");
  EXPECT_EQ(t.FieldByName("NAME").AsString(), "cherry");
  t.FindNearest("ZZ");
  EXPECT_TRUE(t.Eof());
  EXPECT_EQ(t.RecordCount(), 5u);

  t.SetIndexName("");
  EXPECT_EQ(Walk(t), (std::vector<std::string>{"pear", "Apple", "zucchini", "apple", "cherry"}));
  t.Close();
  // The index is there after reopening, and matches.
  t.Open();
  t.SetIndexName("NEWINDEX");
  EXPECT_EQ(Walk(t).front(), "Apple");
  EXPECT_TRUE(t.Check().empty());
  auto b = ReadBytes(Path());
  EXPECT_EQ(b[28], 1);
  t.DeleteIndex("NEWINDEX");
  EXPECT_TRUE(t.IndexName().empty());
  EXPECT_TRUE(t.Tags().empty());
  EXPECT_THROW(t.SetIndexName("NEWINDEX"), DbfError);
}

TEST_F(TableTest, LargeIndexStaysRightThroughManyChanges) {
  Table::CreateTable(Path(), SmallFields());
  Table t;
  Bind(t);
  t.SetExclusive(true);
  t.Open();
  std::mt19937 rng(7);
  std::vector<std::string> names;
  for (int i = 0; i < 3000; ++i) names.push_back("k" + std::to_string(rng() % 1000));
  Fill(t, names);
  t.AddIndex("BYNAME", "NAME");
  t.AddIndex("BYQTY", "STR(QTY,5)");
  t.SetIndexName("BYNAME");
  std::multimap<std::string, uint32_t> model;
  for (uint32_t r = 1; r <= names.size(); ++r) model.emplace(names[r - 1], r);
  // Move keys around and delete some, against a model of the live rows.
  for (int i = 0; i < 1500; ++i) {
    uint32_t r = 1 + rng() % static_cast<uint32_t>(names.size());
    if (!t.GoTo(r)) continue;
    auto range = model.equal_range(names[r - 1]);
    for (auto it = range.first; it != range.second; ++it)
      if (it->second == r) {
        model.erase(it);
        break;
      }
    if (i % 5 == 0) {
      t.Delete();
      continue;
    }
    names[r - 1] = "k" + std::to_string(rng() % 1000);
    t.Edit();
    t.FieldByName("NAME").SetAsString(names[r - 1]);
    t.Post();
    model.emplace(names[r - 1], r);
  }
  std::vector<std::pair<std::string, uint32_t>> want(model.begin(), model.end());
  std::sort(want.begin(), want.end());
  std::vector<std::pair<std::string, uint32_t>> got;
  for (t.First(); !t.Eof(); t.Next()) got.emplace_back(t.FieldByName("NAME").AsString(), t.RecNo());
  EXPECT_EQ(got, want);
  EXPECT_EQ(t.RecordCount(), want.size());
  EXPECT_TRUE(t.Check().empty());
  t.Pack();
  EXPECT_EQ(t.PhysicalCount(), want.size());
  EXPECT_TRUE(t.Check().empty());
  t.SetIndexName("BYNAME");
  std::vector<std::string> after;
  for (t.First(); !t.Eof(); t.Next()) after.push_back(t.FieldByName("NAME").AsString());
  ASSERT_EQ(after.size(), want.size());
  for (size_t i = 0; i < after.size(); ++i) EXPECT_EQ(after[i], want[i].first);
}

TEST_F(TableTest, FilterHidesRowsFromCursorAndCount) {
  Table::CreateTable(Path(), SmallFields());
  Table t;
  Bind(t);
  t.Open();
  Fill(t, {"a1", "b1", "a2", "b2", "a3"});
  t.AddIndex("BYNAME", "UPPER(NAME)");
  t.SetIndexName("BYNAME");
  t.SetOnFilterRecord([](Table& tt) { return tt.FieldByName("NAME").AsString()[0] == 'b'; });
  EXPECT_EQ(t.RecordCount(), 5u);  // the flag is still off
  t.SetFiltered(true);
  EXPECT_EQ(t.RecordCount(), 2u);
  EXPECT_EQ(Walk(t), (std::vector<std::string>{"b1", "b2"}));
  EXPECT_FALSE(t.GoTo(1));
  t.SetIndexName("");
  EXPECT_EQ(Walk(t, true), (std::vector<std::string>{"b2", "b1"}));
  t.SetFiltered(false);
  EXPECT_EQ(t.RecordCount(), 5u);
}

TEST_F(TableTest, BookmarksAndFractions) {
  Table::CreateTable(Path(), SmallFields());
  Table t;
  Bind(t);
  t.Open();
  std::vector<std::string> names;
  for (int i = 0; i < 400; ++i) names.push_back("n" + std::to_string(1000 + i));
  Fill(t, names);
  t.AddIndex("BYNAME", "NAME");
  t.SetIndexName("BYNAME");
  t.GoToFraction(0.5);
  uint32_t mid = t.RecNo();
  EXPECT_NEAR(static_cast<double>(mid), 200, 40);
  Bookmark b = t.GetBookmark();
  t.First();
  t.GotoBookmark(b);
  EXPECT_EQ(t.RecNo(), mid);
  EXPECT_NEAR(t.Fraction(), 0.5, 0.1);
  t.Delete();
  EXPECT_THROW(t.GotoBookmark(b), DbfError);
  t.First();
  EXPECT_EQ(t.MoveBy(10), 10);
  EXPECT_EQ(t.FieldByName("NAME").AsString(), "n1010");
  EXPECT_EQ(t.MoveBy(-20), 10);
  EXPECT_TRUE(t.Bof());
}

TEST_F(TableTest, ObserversHearNothingWhileControlsAreDisabled) {
  struct Counter : TableObserver {
    int n = 0;
    void TableChanged(Table&) override { ++n; }
  } counter;
  Table::CreateTable(Path(), SmallFields());
  Table t;
  Bind(t);
  t.Open();
  Fill(t, {"a", "b", "c"});
  t.AddObserver(&counter);
  t.DisableControls();
  t.DisableControls();
  for (t.First(); !t.Eof(); t.Next()) {
  }
  t.EnableControls();
  EXPECT_EQ(counter.n, 0);
  t.EnableControls();
  EXPECT_EQ(counter.n, 1);
  t.First();
  EXPECT_EQ(counter.n, 2);
  t.RemoveObserver(&counter);
}

TEST_F(TableTest, OpensAreLockedAgainstEachOther) {
  Table::CreateTable(Path(), SmallFields());
  Table a, b;
  Bind(a);
  Bind(b);
  a.Open();
  b.SetExclusive(true);
  try {
    b.Open();
    FAIL() << "an exclusive open beside a shared one";
  } catch (const DbfError& e) {
    EXPECT_EQ(e.code(), ErrorCode::kInUse);
  }
  a.Close();
  b.Open();
  Table c;
  Bind(c);
  EXPECT_THROW(c.Open(), DbfError);
  b.Close();
  c.Open();
}

TEST_F(TableTest, SharedOpensSeeEachOthersChangesAndLockRowsInEdit) {
  Table::CreateTable(Path(), SmallFields());
  Table a, b;
  Bind(a);
  Bind(b);
  a.Open();
  b.Open();
  a.AddIndex("BYNAME", "NAME");
  Fill(a, {"m", "c"});
  b.Refresh();
  b.SetIndexName("BYNAME");
  EXPECT_EQ(b.RecordCount(), 2u);
  EXPECT_EQ(Walk(b), (std::vector<std::string>{"c", "m"}));
  Fill(b, {"a"});
  a.Refresh();
  a.SetIndexName("BYNAME");
  EXPECT_EQ(Walk(a), (std::vector<std::string>{"a", "c", "m"}));

  a.First();
  a.Edit();
  b.First();
  try {
    b.Edit();
    FAIL() << "two edits of one row";
  } catch (const DbfError& e) {
    EXPECT_EQ(e.code(), ErrorCode::kRecordLocked);
    EXPECT_NE(std::string(e.what()).find("locked by another user"), std::string::npos);
  }
  EXPECT_THROW(b.Delete(), DbfError);
  a.FieldByName("NAME").SetAsString("z");
  a.Post();
  b.Refresh();
  EXPECT_EQ(b.FieldByName("NAME").AsString(), "z");  // b stays on its row, now changed
  EXPECT_EQ(Walk(b), (std::vector<std::string>{"c", "m", "z"}));
  // The edit starts from the row as stored, even before a refresh.
  b.Last();
  a.Last();
  a.Edit();
  a.FieldByName("NAME").SetAsString("y");
  a.Post();
  b.Edit();
  EXPECT_EQ(b.FieldByName("NAME").AsString(), "y");
  b.Cancel();
  a.Last();
  a.Delete();
  b.Refresh();
  EXPECT_EQ(b.RecordCount(), 2u);
  EXPECT_TRUE(a.Check().empty());
}

// Posts in a row keep the index marked dirty between them (a run). Another
// open must still trust the index while the run's owner lives, see every
// row, and its own changes in the middle of the run must neither be lost
// nor undo the run's, deleted rows included.
// One open keeps the headers through shared views, the other (through the
// fault layer, which offers none) reads and writes them: each sees every
// count and key the other leaves, within runs of posts and between them.
TEST_F(TableTest, OpensWithAndWithoutHeaderViewsShareTheTable) {
  Table::CreateTable(Path(), SmallFields());
  base::FaultEnv plain(Env::Default());
  Table a, b(plain);
  Bind(a);
  Bind(b);
  a.Open();
  a.AddIndex("BYNAME", "UPPER(NAME)");
  b.Open();
  b.SetIndexName("BYNAME");
  for (int round = 0; round < 3; ++round) {
    std::string n = std::to_string(round);
    Fill(a, {"a" + n, "c" + n});
    Fill(b, {"b" + n, "d" + n});
    a.Refresh();  // a's run ends and it looks again
    EXPECT_EQ(a.RecordCount(), 4u * (round + 1));
  }
  b.Refresh();
  EXPECT_EQ(b.RecordCount(), 12u);
  EXPECT_EQ(Walk(b), (std::vector<std::string>{"a0", "a1", "a2", "b0", "b1", "b2", "c0", "c1", "c2",
                                               "d0", "d1", "d2"}));
  ASSERT_TRUE(b.GoTo(5));
  b.Delete();
  Fill(a, {"e"});
  EXPECT_EQ(a.RecordCount(), 12u);
  a.Close();
  EXPECT_TRUE(b.Check().empty());
  b.Close();
  std::vector<uint8_t> dbf = ReadBytes(Path());
  EXPECT_EQ(dbf[4], 13) << "the header counts every record";
}

TEST_F(TableTest, RunsOfPostsShareTheTableWithOtherOpens) {
  Table::CreateTable(Path(), SmallFields());
  Table a, b;
  Bind(a);
  Bind(b);
  a.Open();
  a.AddIndex("BYNAME", "UPPER(NAME)");
  Fill(a, {"m", "c", "x"});
  b.Open();  // while a's run holds the dirty mark
  b.SetIndexName("BYNAME");
  EXPECT_EQ(Walk(b), (std::vector<std::string>{"c", "m", "x"}));
  EXPECT_TRUE(b.Check().empty());
  Fill(b, {"b"});  // b's post in the middle of a's run
  Fill(a, {"k", "a"});
  b.Refresh();
  EXPECT_EQ(Walk(b), (std::vector<std::string>{"a", "b", "c", "k", "m", "x"}));
  // A delete by b while a goes on appending: a's count follows.
  ASSERT_TRUE(a.GoTo(1));
  EXPECT_EQ(a.RecordCount(), 6u);
  Fill(a, {"q"});
  ASSERT_TRUE(b.GoTo(2));
  b.Delete();
  Fill(a, {"r"});
  EXPECT_EQ(a.RecordCount(), 7u);
  EXPECT_EQ(a.PhysicalCount(), 8u);
  a.SetIndexName("BYNAME");
  EXPECT_EQ(Walk(a), (std::vector<std::string>{"a", "b", "k", "m", "q", "r", "x"}));
  // The run ends with the clean stamp for the table as it is.
  Fill(a, {"s"});
  a.Close();
  auto problems = b.Check();
  EXPECT_TRUE(problems.empty()) << problems.front();
  b.Close();
  std::vector<uint8_t> mdx = ReadBytes(Path("T.MDX"));
  ASSERT_GT(mdx.size(), 64u);
  EXPECT_EQ(mdx[52], 0) << "the index is still marked dirty after close";
  Table c;
  Bind(c);
  c.Open();
  EXPECT_EQ(c.RecordCount(), 8u);
  EXPECT_TRUE(c.Check().empty());
}

TEST_F(TableTest, MissingOrStaleIndexIsReported) {
  Table::CreateTable(Path(), SmallFields());
  {
    Table t;
    Bind(t);
    t.Open();
    Fill(t, {"x", "y"});
    t.AddIndex("BYNAME", "NAME");
  }
  // Another program appends a row without touching the index.
  auto b = ReadBytes(Path());
  size_t header = b[8] | b[9] << 8, reclen = b[10] | b[11] << 8;
  std::vector<uint8_t> row(b.begin() + static_cast<long>(header),
                           b.begin() + static_cast<long>(header + reclen));
  b.pop_back();
  b.insert(b.end(), row.begin(), row.end());
  b.push_back(0x1A);
  b[4] = 3;
  WriteBytes(Path(), b);
  Table t;
  Bind(t);
  try {
    t.Open();
    FAIL() << "a stale index was trusted";
  } catch (const DbfError& e) {
    EXPECT_EQ(e.code(), ErrorCode::kIndexMismatch);
  }
  t.SetRepairIndex(true);
  t.Open();
  t.SetIndexName("BYNAME");
  EXPECT_EQ(Walk(t), (std::vector<std::string>{"x", "x", "y"}));
  EXPECT_TRUE(t.Check().empty());
  t.Close();

  fs::remove(dir_.File("T.MDX"));
  try {
    t.Open();
    FAIL() << "opened without its production index";
  } catch (const DbfError& e) {
    EXPECT_EQ(e.code(), ErrorCode::kNotFound);
    EXPECT_NE(std::string(e.what()).find("T.MDX"), std::string::npos);
  }
}

TEST_F(TableTest, CompanionFilesAreFoundWithoutRegardToCase) {
  Table::CreateTable(dir_.File("coins.dbf"), SmallFields());
  {
    Table t;
    Bind(t, "COINS.DBF");
    t.Open();
    Fill(t, {"q"});
    t.AddIndex("BYNAME", "NAME");
  }
  fs::rename(dir_.File("coins.MDX"), dir_.File("coins.mdx"));
  Table t;
  Bind(t, "Coins");
  t.Open();
  t.SetIndexName("BYNAME");
  EXPECT_EQ(Walk(t), std::vector<std::string>{"q"});
}

TEST_F(TableTest, ForeignTableWithTwoTagsIsReadAndMaintained) {
  fs::copy(std::string(KLV_SAMPLES_DIR) + "/dbase4-two-tags/TEST.DBF", dir_.File("TEST.DBF"));
  fs::copy(std::string(KLV_SAMPLES_DIR) + "/dbase4-two-tags/TEST.MDX", dir_.File("TEST.MDX"));
  fs::permissions(dir_.File("TEST.DBF"), fs::perms::owner_write, fs::perm_options::add);
  fs::permissions(dir_.File("TEST.MDX"), fs::perms::owner_write, fs::perm_options::add);
  Table t;
  Bind(t, "TEST");
  t.Open();
  auto order = [&](const char* tag, bool backwards = false) {
    t.SetIndexName(tag);
    std::vector<uint32_t> r;
    if (backwards)
      for (t.Last(); !t.Bof(); t.Prior()) r.push_back(t.RecNo());
    else
      for (t.First(); !t.Eof(); t.Next()) r.push_back(t.RecNo());
    return r;
  };
  EXPECT_EQ(order("TEST1"), (std::vector<uint32_t>{3, 1, 2}));
  EXPECT_EQ(order("TEST1", true), (std::vector<uint32_t>{2, 1, 3}));
  EXPECT_EQ(order("TEST2"), (std::vector<uint32_t>{1, 3, 2}));
  EXPECT_EQ(order("TEST2", true), (std::vector<uint32_t>{2, 3, 1}));
  t.SetIndexName("TEST2");
  ASSERT_TRUE(t.FindKey("15"));
  EXPECT_EQ(t.RecNo(), 3u);

  t.Append();
  t.FieldByName("TEST1").SetAsString("atest4");
  t.FieldByName("TEST2").SetAsInteger(-5);
  t.Post();
  ASSERT_TRUE(t.GoTo(2));
  t.Edit();
  t.FieldByName("TEST2").SetAsInteger(12);
  t.Post();
  EXPECT_EQ(order("TEST1"), (std::vector<uint32_t>{3, 4, 1, 2}));
  EXPECT_EQ(order("TEST2"), (std::vector<uint32_t>{4, 1, 2, 3}));
  EXPECT_TRUE(t.Check().empty());
  t.Close();
  t.Open();
  EXPECT_EQ(order("TEST2"), (std::vector<uint32_t>{4, 1, 2, 3}));
}

// Damaged files give an engine error with a message, never a crash.
TEST_F(TableTest, DamagedTablesAreRefused) {
  Table::CreateTable(Path(), SmallFields());
  {
    Table t;
    Bind(t);
    t.Open();
    Fill(t, {"a", "b"});
  }
  const auto good = ReadBytes(Path());
  auto expect_corrupt = [&](const char* what,
                            const std::function<void(std::vector<uint8_t>&)>& damage) {
    auto b = good;
    damage(b);
    WriteBytes(Path(), b);
    Table t;
    Bind(t);
    try {
      t.Open();
      ADD_FAILURE() << what << ": opened";
    } catch (const DbfError& e) {
      EXPECT_EQ(e.code(), ErrorCode::kCorruptTable) << what << ": " << e.what();
      EXPECT_GT(std::strlen(e.what()), 20u);
    }
  };
  expect_corrupt("truncated header", [](auto& b) { b.resize(20); });
  expect_corrupt("truncated records", [](auto& b) { b.resize(b.size() - 30); });
  expect_corrupt("count beyond file", [](auto& b) { b[5] = 1; });
  expect_corrupt("record length", [](auto& b) { b[10] = static_cast<uint8_t>(b[10] + 1); });
  expect_corrupt("header length", [](auto& b) { b[8] = 40, b[9] = 0; });
  expect_corrupt("header past end", [](auto& b) { b[9] = 0x7F; });
  expect_corrupt("zero-length field", [](auto& b) { b[32 + 16] = 0; });
  expect_corrupt("duplicate names", [](auto& b) { std::memcpy(&b[64], "NAME\0\0\0\0\0\0", 10); });
  expect_corrupt("no terminator", [](auto& b) { b[32 + 5 * 32] = 'X'; });
  expect_corrupt("not a dbf", [](auto& b) { b[0] = 0x42; });
  expect_corrupt("bad date width", [](auto& b) { b[32 + 3 * 32 + 16] = 9; });
}

TEST_F(TableTest, TablesWithMemoFieldsOpenReadOnly) {
  Table::CreateTable(Path(), SmallFields());
  auto b = ReadBytes(Path());
  b[32 + 32 * 0 + 11] = 'M';
  b[32 + 32 * 0 + 16] = 10;
  b[10] = static_cast<uint8_t>(b[10] - 2);
  b[0] = 0x83;
  WriteBytes(Path(), b);
  Table t;
  Bind(t);
  try {
    t.Open();
    FAIL();
  } catch (const DbfError& e) {
    EXPECT_EQ(e.code(), ErrorCode::kUnsupported);
  }
  t.SetReadOnly(true);
  t.Open();
  EXPECT_FALSE(t.Writable());
  EXPECT_EQ(t.FieldByName("AMOUNT").def().type, 'N');
  EXPECT_THROW(t.Append(), DbfError);
}

// A failed write anywhere in a change leaves a table that opens, whose header
// never counts an incomplete record, and an index that is right or reported.
TEST_F(TableTest, InjectedWriteFailuresNeverCorrupt) {
  int n = 1;
  for (;; ++n) {
    test::TempDir dir;
    Table::CreateTable(dir.File("T.DBF"), SmallFields());
    {
      Table t;
      t.SetDirectory(dir.path());
      t.SetTableName("T");
      t.Open();
      Fill(t, {"b", "d"});
      t.AddIndex("BYNAME", "NAME");
    }
    base::FaultEnv faults(Env::Default());
    bool fired = false;
    {
      Table t(faults);
      t.SetDirectory(dir.path());
      t.SetTableName("T");
      t.SetExclusive(true);
      t.Open();
      faults.FailAt(n);
      try {
        Fill(t, {"a", "c"});
        t.SetIndexName("BYNAME");
        t.First();
        t.Edit();
        t.FieldByName("NAME").SetAsString("e");
        t.Post();
        ASSERT_TRUE(t.GoTo(4));
        t.Delete();
        t.AddIndex("BYQTY", "STR(QTY,5)");
        t.Pack();
      } catch (const DbfError& e) {
        fired = faults.fired();
        EXPECT_TRUE(fired) << e.what();
      }
      faults.FailAt(0);
    }
    Table check;
    check.SetDirectory(dir.path());
    check.SetTableName("T");
    try {
      check.Open();
    } catch (const DbfError& e) {
      ASSERT_EQ(e.code(), ErrorCode::kIndexMismatch) << "fault " << n << ": " << e.what();
      check.SetRepairIndex(true);
      check.Open();
    }
    auto problems = check.Check();
    EXPECT_TRUE(problems.empty()) << "fault " << n << ": " << problems.front();
    // The rows committed before the change are all still there.
    std::set<std::string> names;
    for (check.First(); !check.Eof(); check.Next())
      names.insert(check.FieldByName("NAME").AsString());
    EXPECT_TRUE(names.count("b") && names.count("d")) << "fault " << n;
    check.Close();
    if (!fired) break;
    ASSERT_LT(n, 500);
  }
  EXPECT_GT(n, 20);  // the change really went through many writes
}

}  // namespace
}  // namespace klv::dbf
