// The viewer grid's model: the column order rules, and the row window over
// tables in record order and in index order, with deleted and filtered rows,
// checked row by row against the table's own cursor walk.
#include "app/ViewerModel.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QSignalSpy>
#include <set>

#include "db/FieldTable.h"
#include "db/dbf/Table.h"
#include "support/TempDir.h"

namespace klv::app {
namespace {

using namespace klv::db;

using Order = std::array<int, kFieldCount + 1>;
using Shown = std::array<bool, kFieldCount + 1>;

Order DefaultOrder() {
  Order o{};
  for (int f = 1; f <= kFieldCount; ++f) o[static_cast<size_t>(f)] = f;
  return o;
}
Shown AllShown() {
  Shown s{};
  s.fill(true);
  return s;
}

TEST(ViewerFieldOrderTest, DefaultsShowEveryFieldInTableOrder) {
  std::vector<int> expected;
  for (int f = 1; f <= kFieldCount; ++f) expected.push_back(f);
  EXPECT_EQ(ViewerFieldOrder(DefaultOrder(), AllShown()), expected);
}

TEST(ViewerFieldOrderTest, AnUnassignedPositionShowsFieldOneThere) {
  Order o = DefaultOrder();
  o[kFaceValue] = 21;  // nobody has position 2
  std::vector<int> got = ViewerFieldOrder(o, AllShown());
  ASSERT_EQ(got.size(), 20u);
  EXPECT_EQ(got[1], kCountry);    // position 2 takes field 1 again
  EXPECT_EQ(got[0], kFaceValue);  // never placed: keeps its place among the others
  EXPECT_EQ(got[2], kYear);
  EXPECT_EQ(std::set<int>(got.begin(), got.end()).size(), 20u);
}

TEST(ViewerFieldOrderTest, HiddenFieldsAreLeftOutWhateverTheirOrder) {
  Order o = DefaultOrder();
  std::swap(o[kCountry], o[kComment]);  // Comment first, Country at 14
  Shown s = AllShown();
  s[kYear] = false;
  s[kWanted] = false;
  std::vector<int> got = ViewerFieldOrder(o, s);
  ASSERT_EQ(got.size(), 18u);
  EXPECT_EQ(got.front(), kComment);
  EXPECT_EQ(std::count(got.begin(), got.end(), kYear), 0);
  EXPECT_EQ(std::count(got.begin(), got.end(), kWanted), 0);
  // Country sits where Comment was, counting shown columns only.
  EXPECT_EQ(got[12], kCountry);
}

// A coin table with n rows: Country "C00000".."C<n-1>" in record order, Topic
// counting down so that an index on it reverses the order, every seventh row
// wanted.
class ModelFixture : public ::testing::Test {
 protected:
  void Make(int n) {
    path_ = dir_.File("COINS.DBF");
    dbf::Table::CreateTable(path_, CoinFieldDefs());
    table_.SetDirectory(dir_.path());
    table_.SetTableName("COINS");
    table_.Open();
    table_.DisableControls();
    for (int i = 0; i < n; ++i) {
      table_.Append();
      table_.FieldByName("Country").SetAsString(Name(i));
      table_.FieldByName("Topic").SetAsString(Name(n - 1 - i));
      table_.FieldByName("Wanted").SetAsString(i % 7 == 0 ? "Yes" : "No");
      table_.FieldByName("Quantity").SetAsInteger(i);
      table_.Post();
    }
    table_.EnableControls();
    table_.First();
  }
  static std::string Name(int i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "C%06d", i);
    return buf;
  }
  void Columns() {
    std::vector<ViewerColumn> cols;
    for (int f : {kCountry, kTopic, kWanted, kQuantity})
      cols.push_back(
          {f, QString::fromLatin1(FieldTable[static_cast<size_t>(f)].caption.data()), 15});
    model_.SetColumns(cols);
  }
  QString Cell(int row, int column = 0) {
    return model_.data(model_.index(row, column)).toString();
  }
  // Every visible record's Country, in the table's current order and filter.
  std::vector<std::string> Walk() {
    std::vector<std::string> all;
    for (table_.First(); !table_.Eof(); table_.Next())
      all.push_back(table_.FieldByName("Country").AsString());
    return all;
  }
  // Reads every row top to bottom as a view scrolling down would.
  std::vector<std::string> Scroll() {
    std::vector<std::string> seen;
    for (int r = 0; r < model_.rowCount(); ++r) seen.push_back(Cell(r).toStdString());
    return seen;
  }

  test::TempDir dir_;
  std::string path_;
  dbf::Table table_;
  ViewerModel model_;
};

TEST_F(ModelFixture, PassesTheItemModelTester) {
  Make(300);
  Columns();
  model_.SetTable(&table_);
  QAbstractItemModelTester tester(&model_, QAbstractItemModelTester::FailureReportingMode::Fatal);
  model_.SetFieldEditing(true);
  model_.Reload();
  EXPECT_EQ(model_.rowCount(), 300);
  EXPECT_EQ(model_.columnCount(), 4);
  EXPECT_EQ(model_.headerData(1, Qt::Horizontal).toString(), "Topic");
}

TEST_F(ModelFixture, ScrollsEveryRowOnceInRecordOrderAndKeepsTheCursor) {
  Make(2000);
  Columns();
  model_.SetTable(&table_);
  table_.MoveBy(5);
  const uint32_t cursor = table_.RecNo();
  ASSERT_EQ(model_.rowCount(), 2000);
  std::vector<std::string> seen = Scroll();
  EXPECT_EQ(seen, Walk());
  table_.GoTo(cursor);
  // Reading rows never moves the program's current record.
  Cell(1500);
  Cell(20);
  EXPECT_EQ(table_.RecNo(), cursor);
  // Scrolling reads each row about once, not a window per row.
  EXPECT_LT(model_.rows_read(), 2000u + 4 * ViewerModel::kAhead + 2 * ViewerModel::kBehind);
}

TEST_F(ModelFixture, IndexOrderWithDeletedAndFilteredRowsIsCompleteAndExact) {
  Make(3000);
  table_.AddIndex("NewIndex", "Upper(Left(Topic,80))");
  table_.SetIndexName("NewIndex");
  // Delete every fifth row, hide every third through the filter.
  table_.DisableControls();
  table_.First();
  int i = 0;
  while (!table_.Eof()) {
    if (i++ % 5 == 0)
      table_.Delete();
    else
      table_.Next();
  }
  table_.EnableControls();
  table_.SetOnFilterRecord(
      [](dbf::Table& t) { return t.FieldByName("Quantity").AsInteger() % 3 != 0; });
  table_.SetFiltered(true);
  const std::vector<std::string> expected = Walk();
  Columns();
  model_.SetTable(&table_);
  ASSERT_EQ(model_.rowCount(), static_cast<int>(expected.size()));
  EXPECT_EQ(model_.RecordCount(), table_.RecordCount());
  EXPECT_EQ(Scroll(), expected);
  // Bottom to top as well.
  for (int r = model_.rowCount() - 1; r >= 0; --r)
    ASSERT_EQ(Cell(r).toStdString(), expected[static_cast<size_t>(r)]) << "row " << r;
}

TEST_F(ModelFixture, AJumpReadsOneScreenAndTheEndsStayExact) {
  Make(20000);
  table_.AddIndex("NewIndex", "Upper(Left(Topic,80))");
  table_.SetIndexName("NewIndex");
  const std::vector<std::string> expected = Walk();
  Columns();
  model_.SetTable(&table_);
  const uint64_t before = model_.rows_read();
  const int middle = model_.rowCount() / 2;
  const QString at_middle = Cell(middle);
  EXPECT_FALSE(at_middle.isEmpty());
  EXPECT_LE(model_.rows_read() - before,
            static_cast<uint64_t>(ViewerModel::kAhead + ViewerModel::kBehind + 1));
  // Rows next to the jump follow the active order exactly.
  auto at = std::find(expected.begin(), expected.end(), at_middle.toStdString());
  ASSERT_NE(at, expected.end());
  for (int k = 1; k < 40; ++k) EXPECT_EQ(Cell(middle + k).toStdString(), *(at + k));
  // And the ends are the first and last records, whatever the jump guessed.
  EXPECT_EQ(Cell(model_.rowCount() - 1).toStdString(), expected.back());
  EXPECT_EQ(Cell(0).toStdString(), expected.front());
  // Scrolling from a jump down to the end: the last rows are the last
  // records, in order, whatever the jump guessed.
  model_.Reload();
  for (int r = middle; r < model_.rowCount(); ++r) Cell(r);
  EXPECT_EQ(Cell(model_.rowCount() - 1).toStdString(), expected.back());
  for (int k = 0; k < 300; ++k) {
    const int r = model_.rowCount() - 1 - k;
    ASSERT_EQ(Cell(r).toStdString(), expected[expected.size() - 1 - static_cast<size_t>(k)])
        << "row " << r;
  }
}

TEST_F(ModelFixture, ThePictureColumnShowsEachRowsPictureAndIsNeverEdited) {
  Make(300);
  Columns();
  model_.SetTable(&table_);
  model_.SetFieldEditing(true);
  QPixmap odd(4, 4);
  odd.fill(Qt::red);
  std::vector<uint32_t> asked;
  model_.SetPictureColumn(
      [&](uint32_t recno) {
        asked.push_back(recno);
        return recno % 2 ? odd : QPixmap();
      },
      "Obverse");
  QAbstractItemModelTester tester(&model_, QAbstractItemModelTester::FailureReportingMode::Fatal);
  ASSERT_EQ(model_.columnCount(), 5);
  EXPECT_EQ(model_.PictureColumn(), 4);
  EXPECT_EQ(model_.headerData(4, Qt::Horizontal).toString(), "Obverse");
  EXPECT_EQ(model_.headerData(3, Qt::Horizontal).toString(), "Quantity");
  asked.clear();
  // Rows far apart: each asks for its own record's picture.
  for (int row : {0, 1, 150, 299}) {
    SCOPED_TRACE(row);
    const QVariant picture = model_.data(model_.index(row, 4), Qt::DecorationRole);
    ASSERT_FALSE(asked.empty());
    ASSERT_TRUE(model_.MoveCursorTo(row));
    EXPECT_EQ(asked.back(), table_.RecNo());
    EXPECT_EQ(picture.value<QPixmap>().isNull(), table_.RecNo() % 2 == 0);
    EXPECT_FALSE(model_.data(model_.index(row, 4), Qt::DisplayRole).isValid());
    EXPECT_FALSE(model_.flags(model_.index(row, 4)) & Qt::ItemIsEditable);
    EXPECT_FALSE(model_.setData(model_.index(row, 4), "x"));
    EXPECT_TRUE(model_.flags(model_.index(row, 0)) & Qt::ItemIsEditable);
  }
  // A picture made later shows on its row.
  QSignalSpy changed(&model_, &QAbstractItemModel::dataChanged);
  model_.PictureReady(1);
  ASSERT_EQ(changed.size(), 1);
  EXPECT_EQ(changed[0][0].value<QModelIndex>(), model_.index(0, 4));
  model_.SetPictureColumn({}, {});
  EXPECT_EQ(model_.columnCount(), 4);
}

TEST_F(ModelFixture, CheckBoxesEditingAndTheCursorRow) {
  Make(50);
  Columns();
  model_.SetTable(&table_);
  const QModelIndex wanted0 = model_.index(0, 2);
  const QModelIndex wanted1 = model_.index(1, 2);
  EXPECT_EQ(model_.data(wanted0, Qt::CheckStateRole).toInt(), Qt::Checked);
  EXPECT_EQ(model_.data(wanted1, Qt::CheckStateRole).toInt(), Qt::Unchecked);
  EXPECT_FALSE(model_.data(wanted0, Qt::DisplayRole).isValid());
  EXPECT_EQ(model_.data(model_.index(3, 3), Qt::TextAlignmentRole).value<Qt::Alignment>() &
                Qt::AlignRight,
            Qt::AlignRight);

  // Read-only unless field editing is on.
  EXPECT_FALSE(model_.flags(model_.index(0, 0)) & Qt::ItemIsEditable);
  EXPECT_FALSE(model_.setData(model_.index(0, 0), "Peru"));
  model_.SetFieldEditing(true);
  EXPECT_TRUE(model_.flags(model_.index(0, 0)) & Qt::ItemIsEditable);
  EXPECT_TRUE(model_.flags(wanted1) & Qt::ItemIsUserCheckable);
  EXPECT_FALSE(model_.flags(wanted1) & Qt::ItemIsEditable);

  QSignalSpy changed(&model_, &ViewerModel::RowsChanged);
  ASSERT_TRUE(model_.setData(wanted1, Qt::Checked, Qt::CheckStateRole));
  ASSERT_TRUE(model_.setData(model_.index(2, 0), "Peru", Qt::EditRole));
  EXPECT_EQ(changed.count(), 2);
  table_.GoTo(2);
  EXPECT_EQ(table_.FieldByName("Wanted").AsString(), "Yes");
  table_.GoTo(3);
  EXPECT_EQ(table_.FieldByName("Country").AsString(), "Peru");
  EXPECT_EQ(model_.rowCount(), 50);

  // The cursor row follows the table, the row indicator with it.
  table_.Last();
  EXPECT_EQ(model_.CursorRow(), 49);
  EXPECT_FALSE(model_.headerData(49, Qt::Vertical).toString().isEmpty());
  EXPECT_TRUE(model_.headerData(0, Qt::Vertical).toString().isEmpty());
  ASSERT_TRUE(model_.MoveCursorTo(10));
  EXPECT_EQ(table_.RecNo(), 11u);
  EXPECT_FALSE(model_.MoveCursorTo(50));
}

TEST_F(ModelFixture, AnInsertShowsAnExtraRowUntilPosted) {
  Make(10);
  Columns();
  model_.SetTable(&table_);
  model_.SetFieldEditing(true);
  QSignalSpy moved(&model_, &ViewerModel::CursorMoved);
  table_.Append();
  QCoreApplication::processEvents();
  ASSERT_EQ(model_.rowCount(), 11);
  ASSERT_TRUE(model_.setData(model_.index(10, 0), "Chile", Qt::EditRole));
  EXPECT_EQ(model_.data(model_.index(10, 0)).toString(), "Chile");
  table_.Post();
  QCoreApplication::processEvents();
  EXPECT_EQ(model_.rowCount(), 11);
  EXPECT_EQ(model_.data(model_.index(10, 0)).toString(), "Chile");
  ASSERT_FALSE(moved.isEmpty());
  EXPECT_EQ(moved.last().at(0).toInt(), 10);
}

TEST_F(ModelFixture, AnEngineErrorIsReportedOnceAndNotThrownIntoThePaint) {
  Make(10);
  Columns();
  model_.SetTable(&table_);
  QSignalSpy errors(&model_, &ViewerModel::EngineError);
  bool fail = false;
  table_.SetOnFilterRecord([&fail](dbf::Table&) -> bool {
    if (fail) throw dbf::DbfError(dbf::ErrorCode::kIo, "disk gone");
    return true;
  });
  table_.SetFiltered(true);
  fail = true;
  model_.Reload();
  EXPECT_NO_THROW(Cell(3));
  EXPECT_NO_THROW(Cell(4));
  QCoreApplication::processEvents();
  ASSERT_EQ(errors.count(), 1);
  EXPECT_EQ(errors.at(0).at(0).toString(), "disk gone");
}

}  // namespace
}  // namespace klv::app
