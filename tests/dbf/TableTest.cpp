// Behaviour of the table engine through its public cursor API.
#include "db/dbf/Table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "base/FaultEnv.h"
#include "db/FieldTable.h"
#include "support/IsoDates.h"
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
  std::string Path(const std::string& name = "T.DBF") { return dir_.File(name); }

  void Bind(Table& t, const std::string& name = "T.DBF") {
    t.SetTextFormat(test::IsoTextFormat());
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

// Recall undoes a delete: the row shows again in record and index order, in
// the counts of this open and of another, and a pack keeps it.
TEST_F(TableTest, RecalledRowIsLiveEverywhere) {
  Table::CreateTable(Path(), SmallFields());
  Table t;
  Bind(t);
  t.Open();
  Fill(t, {"carl", "anna", "bert"});
  t.AddIndex("BYNAME", "NAME");
  t.SetIndexName("BYNAME");
  ASSERT_TRUE(t.FindKey("bert"));
  t.Delete();
  Table other;
  Bind(other);
  other.Open();
  EXPECT_EQ(other.RecordCount(), 2u);
  t.SetShowDeleted(true);
  ASSERT_TRUE(t.GoTo(3));
  ASSERT_TRUE(t.IsDeleted());
  t.Recall();
  EXPECT_FALSE(t.IsDeleted());
  t.Recall();  // a live row stays as it is
  t.SetShowDeleted(false);
  EXPECT_EQ(t.RecordCount(), 3u);
  EXPECT_EQ(Walk(t), (std::vector<std::string>{"anna", "bert", "carl"}));
  other.Refresh();
  EXPECT_EQ(other.RecordCount(), 3u);
  EXPECT_TRUE(t.Check().empty());
  other.Close();
  t.Close();
  t.SetExclusive(true);
  t.Open();
  t.Pack();
  EXPECT_EQ(t.PhysicalCount(), 3u);
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

TEST_F(TableTest, TextFollowsTheTablesOwnFormat) {
  Table::CreateTable(Path(), SmallFields());
  Table t, other;
  Bind(t);
  Bind(other);
  t.Open();
  other.Open();
  TextFormat de;
  de.short_date = "dd/MM/yyyy";
  de.date_separator = '.';
  de.decimal_separator = ',';
  t.SetTextFormat(de);
  t.Append();
  t.FieldByName("AMOUNT").SetAsString("1234,5");
  t.FieldByName("BOUGHT").SetAsString("3.4.2021");
  t.Post();
  EXPECT_EQ(t.FieldByName("AMOUNT").AsString(), "1234,50");
  EXPECT_EQ(t.FieldByName("BOUGHT").AsString(), "03.04.2021");
  EXPECT_EQ(t.FieldByName("BOUGHT").Raw(), "20210403");
  // Another open of the table keeps its own format.
  other.Refresh();
  ASSERT_TRUE(other.GoTo(1));
  EXPECT_EQ(other.FieldByName("BOUGHT").AsString(), "2021-04-03");
  EXPECT_EQ(other.FieldByName("AMOUNT").AsString(), "1234.50");
  EXPECT_EQ(FormatDateText(Date{2021, 4, 3}, de), "03.04.2021");
  EXPECT_EQ(ParseDateText("3.4.2021", de), (Date{2021, 4, 3}));
  EXPECT_EQ(ParseNumberText("1234,5", de), 1234.5);
  TextFormat us;
  us.short_date = "M/d/yy";
  t.SetTextFormat(us);
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

// A walk that changes rows as it goes (a replace) meets each row once, in
// record order and in index order alike, and reads the changes afterwards.
TEST_F(TableTest, AWalkChangingRowsAsItGoesMeetsEachRowOnce) {
  Table::CreateTable(Path(), SmallFields());
  Table t;
  Bind(t);
  t.SetExclusive(true);
  t.Open();
  std::vector<std::string> names;
  for (int i = 0; i < 1500; ++i) names.push_back("N" + std::to_string(10000 + i));
  Fill(t, names);
  t.AddIndex("BYNAME", "NAME");
  int pass = 0;
  for (const char* order : {"", "BYNAME"}) {
    SCOPED_TRACE(order);
    ++pass;
    t.SetIndexName(order);
    std::vector<uint32_t> before, met;
    for (t.First(); !t.Eof(); t.Next()) before.push_back(t.RecNo());
    for (t.First(); !t.Eof(); t.Next()) {
      met.push_back(t.RecNo());
      if (t.RecNo() % 3 != 0) continue;
      t.Edit();
      t.FieldByName("QTY").SetAsInteger(t.FieldByName("QTY").AsInteger() + 1000);
      t.Post();
      EXPECT_GE(t.FieldByName("QTY").AsInteger(), 1000);
    }
    EXPECT_EQ(met, before);
    for (t.First(); !t.Eof(); t.Next()) {
      const int64_t qty = int64_t(t.RecNo()) - 1 + (t.RecNo() % 3 == 0 ? 1000 * pass : 0);
      EXPECT_EQ(t.FieldByName("QTY").AsInteger(), qty) << t.RecNo();
    }
  }
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
  expect_corrupt("truncated records",
                 [](auto& b) { b.resize(std::max<size_t>(b.size(), 30) - 30); });
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
// A walk reads rows ahead in batches. What another open changes shows from
// the walk's next batch on: appended rows at the end, deleted rows gone,
// edited rows as stored, in record order and by the index, both ways and
// through a filter; a walk restarted by GoTo shows such changes at once.
TEST_F(TableTest, WalksShowOtherOpensChangesFromTheirNextBatchOn) {
  Table::CreateTable(Path(), SmallFields());
  Table a, b;
  Bind(a);
  Bind(b);
  a.Open();
  b.Open();
  std::vector<std::string> names;
  for (int i = 0; i < 300; ++i) {
    char n[8];
    std::snprintf(n, sizeof n, "r%03d", i);
    names.push_back(n);
  }
  Fill(a, names);
  a.AddIndex("BYNAME", "NAME");
  b.Refresh();
  int round = 0;
  for (const char* order : {"", "BYNAME"}) {
    for (bool backwards : {false, true}) {
      for (bool filtered : {false, true}) {
        SCOPED_TRACE(std::string("order \"") + order + "\"" + (backwards ? ", backwards" : "") +
                     (filtered ? ", filtered" : ""));
        a.SetIndexName(order);
        a.SetOnFilterRecord([](Table& t) { return t.FieldByName("QTY").AsInteger() % 2 == 0; });
        a.SetFiltered(filtered);
        // Row 150 is edited, row 200 deleted and one row appended after the
        // walk's first row was read; the walk has not got near them yet.
        std::vector<std::string> walked;
        backwards ? a.Last() : a.First();
        walked.push_back(a.FieldByName("NAME").AsString());
        std::string edited = "r150" + std::string(1, static_cast<char>('a' + round));
        std::string added = "s" + std::to_string(round) + "x";
        ASSERT_TRUE(b.GoTo(151));
        b.Edit();
        b.FieldByName("NAME").SetAsString(edited);
        b.Post();
        if (round == 0) {
          ASSERT_TRUE(b.GoTo(201));
          b.Delete();
        }
        b.Append();
        b.FieldByName("NAME").SetAsString(added);
        b.FieldByName("QTY").SetAsInteger(1000 + round);
        b.Post();
        for (backwards ? a.Prior() : a.Next(); !(backwards ? a.Bof() : a.Eof());
             backwards ? a.Prior() : a.Next())
          walked.push_back(a.FieldByName("NAME").AsString());
        if (backwards) std::reverse(walked.begin(), walked.end());
        // What a fresh walk of another open shows now.
        Table c;
        Bind(c);
        c.Open();
        c.SetIndexName(order);
        c.SetOnFilterRecord([](Table& t) { return t.FieldByName("QTY").AsInteger() % 2 == 0; });
        c.SetFiltered(filtered);
        std::vector<std::string> now = Walk(c);
        // A backward walk read the last row before the append: it cannot
        // show it, and shows everything else as it is now.
        if (backwards) now.erase(std::remove(now.begin(), now.end(), added), now.end());
        EXPECT_EQ(walked, now);
        EXPECT_EQ(std::count(walked.begin(), walked.end(), edited), 1);
        EXPECT_EQ(std::count(walked.begin(), walked.end(), "r200"), 0);
        EXPECT_GE(walked.size(), filtered ? 149u : 299u);
        ++round;
      }
    }
  }
  // The grid reads a screen as GoTo and Next: each such read is fresh.
  a.SetFiltered(false);
  a.SetIndexName("");
  ASSERT_TRUE(a.GoTo(5));
  a.Next();
  ASSERT_TRUE(b.GoTo(7));
  b.Edit();
  b.FieldByName("NAME").SetAsString("fresh");
  b.Post();
  ASSERT_TRUE(a.GoTo(6));
  a.Next();
  EXPECT_EQ(a.FieldByName("NAME").AsString(), "fresh");
  EXPECT_TRUE(a.Check().empty());
}

// Rows of a batched append reach the file a whole batch at a time: another
// open sees none of a batch or all of it, with the index complete, and
// every operation other than a post writes the rows still queued.
TEST_F(TableTest, BatchedAppendsShowWholeBatchesToOtherOpens) {
  Table::CreateTable(Path(), SmallFields());
  Table a, b;
  Bind(a);
  Bind(b);
  a.Open();
  a.AddIndex("BYNAME", "NAME");
  b.Open();
  b.SetIndexName("BYNAME");
  Table::AppendBatchOptions by100;
  by100.rows = 100;
  by100.milliseconds = 1000000;
  a.BeginAppendBatch(by100);
  EXPECT_TRUE(a.InAppendBatch());
  std::vector<std::string> names;
  for (int i = 0; i < 350; ++i) {
    char n[8];
    std::snprintf(n, sizeof n, "n%03d", (i * 37) % 350);
    names.push_back(n);
    a.Append();
    a.FieldByName("NAME").SetAsString(n);
    a.FieldByName("QTY").SetAsInteger(i);
    a.Post();
    EXPECT_EQ(a.QueuedRows(), static_cast<size_t>((i + 1) % 100));
    if (a.QueuedRows() > 0) {
      EXPECT_EQ(a.RecNo(), 0u);
      EXPECT_EQ(a.FieldByName("NAME").AsString(), n);
    } else {
      EXPECT_EQ(a.RecNo(), static_cast<uint32_t>(i + 1));
    }
    if (i % 30 == 0) {
      b.Refresh();
      EXPECT_EQ(b.PhysicalCount(), static_cast<uint32_t>((i + 1) / 100 * 100));
      EXPECT_EQ(b.RecordCount(), b.PhysicalCount());
      auto problems = b.Check();
      EXPECT_TRUE(problems.empty()) << problems.front();
    }
  }
  b.Refresh();
  EXPECT_EQ(b.PhysicalCount(), 300u);
  a.EndAppendBatch();
  EXPECT_FALSE(a.InAppendBatch());
  EXPECT_EQ(a.RecNo(), 350u);
  EXPECT_EQ(a.FieldByName("QTY").AsInteger(), 349);
  b.Refresh();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(Walk(b), names);

  // A move writes what is queued; so does Close. A batch of no time at all
  // writes each row at its post.
  a.BeginAppendBatch(by100);
  Fill(a, {"q1", "q2"});
  EXPECT_EQ(a.QueuedRows(), 2u);
  a.First();
  EXPECT_EQ(a.QueuedRows(), 0u);
  EXPECT_EQ(a.PhysicalCount(), 352u);
  // An edit of the row just queued writes it and edits it.
  Fill(a, {"q3"});
  EXPECT_EQ(a.RecNo(), 0u);
  a.Edit();
  EXPECT_EQ(a.RecNo(), 353u);
  a.FieldByName("NAME").SetAsString("q3e");
  a.Post();
  Fill(a, {"q5"});
  a.Close();
  b.Refresh();
  EXPECT_EQ(b.PhysicalCount(), 354u);
  ASSERT_TRUE(b.GoTo(353));
  EXPECT_EQ(b.FieldByName("NAME").AsString(), "q3e");
  a.Open();
  Table::AppendBatchOptions at_once;
  at_once.milliseconds = 0;
  a.BeginAppendBatch(at_once);
  Fill(a, {"q4"});
  EXPECT_EQ(a.QueuedRows(), 0u);
  EXPECT_EQ(a.RecNo(), 355u);
  a.EndAppendBatch();
  auto problems = a.Check();
  EXPECT_TRUE(problems.empty()) << problems.front();
}

// A batched append that the disk fails at its Nth write, for every N: the
// batches written before stay, the failed one is not counted (or, when it
// failed after its count, is complete once the index is rebuilt), nothing
// past the counted rows looks like a row, and a batch that failed before
// it was counted can be written again.
TEST_F(TableTest, BatchedAppendStoppedAtAnyWriteLosesAtMostThatBatch) {
  int n = 1;
  for (;; ++n) {
    SCOPED_TRACE("fault " + std::to_string(n));
    test::TempDir dir;
    Table::CreateTable(dir.File("T.DBF"), SmallFields());
    {
      Table t;
      t.SetDirectory(dir.path());
      t.SetTableName("T");
      t.Open();
      Fill(t, {"s1", "s2", "s3"});
      t.AddIndex("BYNAME", "NAME");
    }
    base::FaultEnv faults(Env::Default());
    bool fired = false;
    uint32_t written = 3;  // rows known to be counted
    {
      Table t(faults);
      t.SetDirectory(dir.path());
      t.SetTableName("T");
      t.Open();
      Table::AppendBatchOptions four;
      four.rows = 4;
      four.milliseconds = 1000000;
      t.BeginAppendBatch(four);
      faults.FailAt(n);
      int posted = 0;
      try {
        for (int i = 0; i < 10; ++i) {
          Fill(t, {"a" + std::to_string(i)});
          ++posted;
          if (t.QueuedRows() == 0) written = 3 + static_cast<uint32_t>(posted);
        }
        t.EndAppendBatch();
        written = 13;
      } catch (const DbfError& e) {
        fired = faults.fired();
        EXPECT_TRUE(fired) << e.what();
      }
      if (fired && t.QueuedRows() > 0) {
        // Not counted: the queue is kept and goes out once the disk works.
        faults.FailAt(0);
        try {
          t.EndAppendBatch();
          written = t.PhysicalCount();
        } catch (const DbfError& e) {
          EXPECT_EQ(e.code(), ErrorCode::kIndexMismatch) << e.what();
        }
      }
      faults.FailAt(0);
    }
    // No reader going by the end mark meets a row past the count.
    auto bytes = ReadBytes(dir.File("T.DBF"));
    uint32_t count = bytes[4] | bytes[5] << 8 | bytes[6] << 16 | bytes[7] << 24;
    size_t end =
        (bytes[8] | bytes[9] << 8) + static_cast<size_t>(count) * (bytes[10] | bytes[11] << 8);
    ASSERT_LE(end, bytes.size());
    if (end < bytes.size()) {
      EXPECT_EQ(bytes[end], 0x1A);
    }
    EXPECT_GE(count, written);

    Table check;
    check.SetDirectory(dir.path());
    check.SetTableName("T");
    try {
      check.Open();
    } catch (const DbfError& e) {
      ASSERT_EQ(e.code(), ErrorCode::kIndexMismatch) << e.what();
      check.SetRepairIndex(true);
      check.Open();
    }
    check.RegenerateIndexes();
    auto problems = check.Check();
    EXPECT_TRUE(problems.empty()) << problems.front();
    EXPECT_EQ(ReadBytes(dir.File("T.DBF")).size(), end + 1) << "the tail was not cut";
    // The rows are the seeds and a0, a1, ... without a gap, in whole batches.
    std::vector<std::string> rows;
    for (check.First(); !check.Eof(); check.Next())
      rows.push_back(check.FieldByName("NAME").AsString());
    EXPECT_EQ(rows.size(), count);
    EXPECT_TRUE(count == 3 || count == 7 || count == 11 || count == 13) << count;
    for (size_t i = 3; i < rows.size(); ++i) EXPECT_EQ(rows[i], "a" + std::to_string(i - 3));
    check.Close();
    if (!fired) break;
    ASSERT_LT(n, 300);
  }
  EXPECT_GT(n, 15);
}

// Bytes an unfinished append left past the counted rows are reported and
// cut by a rebuild; so is a row counted before its flag was written.
TEST_F(TableTest, UnfinishedAppendsAreReportedAndMended) {
  Table::CreateTable(Path(), SmallFields());
  {
    Table t;
    Bind(t);
    t.Open();
    Fill(t, {"a", "b", "c"});
  }
  auto bytes = ReadBytes(Path());
  const size_t header = bytes[8] | bytes[9] << 8, len = bytes[10] | bytes[11] << 8;
  ASSERT_EQ(bytes.size(), header + 3 * len + 1);
  // A fourth row written after the end mark, its flag still the mark.
  std::vector<uint8_t> row(bytes.end() - 1 - static_cast<ptrdiff_t>(len), bytes.end() - 1);
  std::vector<uint8_t> torn = bytes;
  torn.insert(torn.end(), row.begin() + 1, row.end());
  torn.push_back(0x1A);
  WriteBytes(Path(), torn);
  {
    Table t;
    Bind(t);
    t.Open();
    EXPECT_EQ(t.RecordCount(), 3u);
    auto problems = t.Check();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0], "the file holds " + std::to_string(len) +
                               " bytes past its last counted record, left by an append that "
                               "did not finish");
    // The next append cuts the tail first.
    Fill(t, {"d"});
    EXPECT_TRUE(t.Check().empty());
    EXPECT_EQ(Walk(t), (std::vector<std::string>{"a", "b", "c", "d"}));
  }
  EXPECT_EQ(ReadBytes(Path()).size(), header + 4 * len + 1);
  // The same row, counted but with the end mark still as its flag.
  torn = bytes;
  torn[4] = 4;
  torn.back() = 0x1A;
  torn.insert(torn.end(), row.begin() + 1, row.end());
  torn.push_back(0x1A);
  torn.push_back(0x1A);  // and one byte too many
  WriteBytes(Path(), torn);
  Table t;
  Bind(t);
  t.Open();
  auto problems = t.Check();
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems[0],
            "the file holds 1 bytes past its last counted record, left by an append that did not "
            "finish");
  EXPECT_EQ(problems[1],
            "record 4 was counted before its append finished (its flag is the end mark)");
  t.RegenerateIndexes();
  EXPECT_TRUE(t.Check().empty());
  EXPECT_EQ(Walk(t), (std::vector<std::string>{"a", "b", "c", "c"}));
  auto mended = ReadBytes(Path());
  ASSERT_EQ(mended.size(), header + 4 * len + 1);
  EXPECT_EQ(mended[header + 3 * len], ' ');
  EXPECT_EQ(mended.back(), 0x1A);
}

// The index flag of a table whose index is gone is cleared under the
// table's locks, through the file layer: never while another open holds the
// table exclusively, never in a file that is no table, and a failed write
// leaves the flag either set or clear, the rest of the header untouched.
TEST_F(TableTest, IndexFlagIsRemovedUnderTheTablesLocks) {
  Table::CreateTable(Path(), SmallFields());
  {
    Table t;
    Bind(t);
    t.Open();
    Fill(t, {"a"});
    t.AddIndex("BYNAME", "NAME");
  }
  fs::remove(dir_.File("T.MDX"));
  const auto before = ReadBytes(Path());
  ASSERT_EQ(before[28], 1);
  for (int n = 1;; ++n) {
    WriteBytes(Path(), before);
    base::FaultEnv faults(Env::Default());
    faults.FailAt(n);
    bool cleared = false;
    try {
      cleared = Table::RemoveIndexFlag(faults, Path());
    } catch (const DbfError& e) {
      EXPECT_TRUE(faults.fired()) << e.what();
    }
    auto after = ReadBytes(Path());
    EXPECT_EQ(after[28], cleared ? 0 : 1);
    after[28] = 1;
    EXPECT_EQ(after, before) << "fault " << n;
    if (!faults.fired()) {
      EXPECT_TRUE(cleared);
      break;
    }
    ASSERT_LT(n, 10);
  }
  {
    Table t;
    Bind(t);
    t.Open();
    EXPECT_TRUE(t.Tags().empty());
    EXPECT_EQ(Walk(t), (std::vector<std::string>{"a"}));
  }
  WriteBytes(Path(), before);
  {
    // Held exclusively by another open.
    fs::copy_file(Path(), dir_.File("U.DBF"));
    auto u = ReadBytes(dir_.File("U.DBF"));
    u[28] = 0;
    WriteBytes(dir_.File("U.DBF"), u);
    Table held;
    Bind(held, "U.DBF");
    held.SetExclusive(true);
    held.Open();
    u[28] = 1;
    WriteBytes(dir_.File("U.DBF"), u);
    EXPECT_FALSE(Table::RemoveIndexFlag(Env::Default(), dir_.File("U.DBF")));
    EXPECT_EQ(ReadBytes(dir_.File("U.DBF"))[28], 1);
  }
  EXPECT_TRUE(Table::RemoveIndexFlag(Env::Default(), dir_.File("U.DBF")));
  EXPECT_FALSE(Table::RemoveIndexFlag(Env::Default(), dir_.File("U.DBF")));  // already clear
  EXPECT_FALSE(Table::RemoveIndexFlag(Env::Default(), dir_.File("NONE.DBF")));
  const std::vector<uint8_t> letter(64, 'x');
  WriteBytes(dir_.File("NOTES.DBF"), letter);
  EXPECT_FALSE(Table::RemoveIndexFlag(Env::Default(), dir_.File("NOTES.DBF")));
  EXPECT_EQ(ReadBytes(dir_.File("NOTES.DBF")), letter);
}

// A table whose index is gone opens without it only when asked, and only
// for reading: then its rows read in record order, the file as it was.
TEST_F(TableTest, AMissingIndexIsDoneWithoutOnlyWhenAskedForReading) {
  Table::CreateTable(Path(), SmallFields());
  {
    Table t;
    Bind(t);
    t.Open();
    Fill(t, {"b", "a", "c"});
    t.AddIndex("BYNAME", "NAME");
  }
  fs::remove(dir_.File("T.MDX"));
  const auto before = ReadBytes(Path());
  struct Case {
    bool optional, read_only, opens;
  };
  for (const Case c :
       {Case{false, true, false}, Case{true, false, false}, Case{true, true, true}}) {
    SCOPED_TRACE(std::to_string(c.optional) + std::to_string(c.read_only));
    Table t;
    Bind(t);
    t.SetIndexOptional(c.optional);
    t.SetReadOnly(c.read_only);
    try {
      t.Open();
      EXPECT_TRUE(c.opens);
      EXPECT_TRUE(t.Tags().empty());
      EXPECT_EQ(Walk(t), (std::vector<std::string>{"b", "a", "c"}));
      ASSERT_TRUE(t.GoTo(2));
      t.Refresh();
      EXPECT_EQ(t.FieldByName("NAME").AsString(), "a");
    } catch (const DbfError& e) {
      EXPECT_FALSE(c.opens) << e.what();
      EXPECT_EQ(e.code(), ErrorCode::kNotFound);
    }
  }
  EXPECT_EQ(ReadBytes(Path()), before);
  EXPECT_FALSE(fs::exists(dir_.File("T.MDX")));
}

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
