// The rules of Update without the form: the checks of a typed record in
// their order, which fields a change writes, and the merge with what another
// copy of the program stored meanwhile, on a real coin table.
#include "edit/RecordUpdate.h"

#include <gtest/gtest.h>

#include "db/DbFiles.h"
#include "support/QtText.h"
#include "support/TempDir.h"

namespace klv::edit {
namespace {

using namespace klv::db;

using test::Q;

class RecordUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(MakeNewDB(Q(dir_.File("COINS.DBF"))));
    Open(table_);
  }
  void Open(dbf::Table& t) {
    t.SetDirectory(dir_.path());
    t.SetTableName("COINS.DBF");
    t.Open();
  }
  static TypedRecord Good() {
    TypedRecord r;
    r.date_text = "  /  /    ";
    r.purchase_price = "12.50";
    r.market_value = "";
    r.premium_value = "3";
    r.quantity = "2";
    r.texts[kCountry] = "  Peru ";
    r.texts[kDescriptio] = "Sol";
    return r;
  }

  test::TempDir dir_;
  dbf::Table table_;
  app::NumberFormats formats_;
};

TEST_F(RecordUpdateTest, ChecksReportTheFirstFaultInTheirOrder) {
  const CheckedRecord ok = CheckRecord(Good(), formats_, table_);
  ASSERT_TRUE(ok.ok());
  EXPECT_TRUE(ok.date.IsNull());
  EXPECT_EQ(ok.purchase_price, 12.5);
  EXPECT_EQ(ok.market_value, 0);
  EXPECT_EQ(ok.premium_value, 3);
  EXPECT_EQ(ok.quantity, 2);
  EXPECT_EQ(ok.texts[kCountry], "Peru");

  const struct {
    const char* what;
    void (*change)(TypedRecord&);
    RecordFault fault;
  } cases[] = {
      {"no such date", [](TypedRecord& r) { r.date_text = "13/45/1997"; }, RecordFault::kDate},
      {"half a date", [](TypedRecord& r) { r.date_text = "5 /  /1997"; }, RecordFault::kDate},
      {"date before amounts",
       [](TypedRecord& r) {
         r.date_text = "99/99/99";
         r.purchase_price = "x";
       },
       RecordFault::kDate},
      {"two points", [](TypedRecord& r) { r.purchase_price = "12.3.4"; },
       RecordFault::kPurchasePrice},
      {"a word", [](TypedRecord& r) { r.market_value = "ten"; }, RecordFault::kMarketValue},
      {"too large for the field", [](TypedRecord& r) { r.premium_value = "1e30"; },
       RecordFault::kPremiumValue},
      {"a fraction of a coin", [](TypedRecord& r) { r.quantity = "2.5"; }, RecordFault::kQuantity},
      {"too many coins", [](TypedRecord& r) { r.quantity = "99999999999"; },
       RecordFault::kQuantity},
      {"amounts before texts",
       [](TypedRecord& r) {
         r.quantity = "q";
         r.texts[kComment] = QString::fromUtf8("\xC5\x82");
       },
       RecordFault::kQuantity},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TypedRecord typed = Good();
    c.change(typed);
    EXPECT_EQ(CheckRecord(typed, formats_, table_).fault, c.fault);
  }

  // A character the table's code page cannot hold names its field.
  TypedRecord typed = Good();
  typed.texts[kUserDef3] = QString::fromUtf8("\xC5\x82");
  const CheckedRecord refused = CheckRecord(typed, formats_, table_);
  EXPECT_EQ(refused.fault, RecordFault::kCodePage);
  EXPECT_EQ(refused.field, kUserDef3);
  EXPECT_EQ(refused.bad, QString::fromUtf8("\xC5\x82"));
}

TEST(FieldsToWriteTest, TheUsersChangesWinAndOthersAreKept) {
  auto flags = [](std::initializer_list<int> fields) {
    FieldFlags f{};
    for (int n : fields) f[static_cast<size_t>(n)] = true;
    return f;
  };
  const struct {
    const char* what;
    bool adding;
    FieldFlags by_user, elsewhere;
    std::vector<int> kept;  // fields not written
  } cases[] = {
      {"adding writes all", true, flags({}), flags({kTopic, kQuantity}), {}},
      {"nobody else changed anything", false, flags({}), flags({}), {}},
      {"another copy's change is kept", false, flags({kCountry}), flags({kTopic}), {kTopic}},
      {"the user's change wins", false, flags({kTopic}), flags({kTopic}), {}},
      {"quantity and wanted kept together",
       false,
       flags({}),
       flags({kWanted}),
       {kQuantity, kWanted}},
      {"quantity and wanted written together", false, flags({kQuantity}), flags({kWanted}), {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const FieldFlags writing = FieldsToWrite(c.adding, c.by_user, c.elsewhere);
    for (int n = 1; n <= kFieldCount; ++n) {
      const bool kept = std::find(c.kept.begin(), c.kept.end(), n) != c.kept.end();
      EXPECT_EQ(writing[static_cast<size_t>(n)], !kept) << "field " << n;
    }
  }
}

TEST_F(RecordUpdateTest, AChangeKeepsWhatAnotherCopyStoredInTheFieldsTheUserLeftAlone) {
  table_.Append();
  SetRecordFields(table_, CheckRecord(Good(), formats_, table_), FieldsToWrite(true, {}, {}));
  table_.Post();
  EXPECT_EQ(table_.FieldByName("Country").AsString(), "Peru");
  EXPECT_EQ(table_.FieldByName("Wanted").AsString(), "No");
  const RowBytes loaded = ReadRowBytes(table_);

  // Another copy changes the topic and the quantity meanwhile.
  dbf::Table other;
  Open(other);
  other.First();
  other.Edit();
  other.FieldByName("Topic").SetAsString("Ships");
  other.FieldByName("Quantity").SetAsInteger(7);
  other.Post();

  // This copy's user changed the description only.
  TypedRecord typed = Good();
  typed.texts[kDescriptio] = "Half sol";
  const CheckedRecord record = CheckRecord(typed, formats_, table_);
  table_.Edit();
  const FieldFlags elsewhere = ChangedSince(table_, loaded);
  EXPECT_TRUE(elsewhere[kTopic]);
  EXPECT_TRUE(elsewhere[kQuantity]);
  EXPECT_FALSE(elsewhere[kCountry]);
  FieldFlags by_user{};
  by_user[kDescriptio] = true;
  SetRecordFields(table_, record, FieldsToWrite(false, by_user, elsewhere));
  table_.Post();

  other.Refresh();
  other.First();
  EXPECT_EQ(other.FieldByName("Descriptio").AsString(), "Half sol");
  EXPECT_EQ(other.FieldByName("Topic").AsString(), "Ships");
  EXPECT_EQ(other.FieldByName("Quantity").AsInteger(), 7);
  EXPECT_EQ(other.FieldByName("Country").AsString(), "Peru");
}

}  // namespace
}  // namespace klv::edit
