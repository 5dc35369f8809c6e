// Locate and find next: field texts, the matching rules, the walk on real
// tables, the remembered search, and results against a naive scan.
#include "find/Locate.h"

#include <gtest/gtest.h>

#include <random>

#include "find/CoinRows.h"
#include "find/Filter.h"

namespace klv::find {
namespace {

using test::CoinRow;
using MT = TMyLocateMatchType;

CoinRow Coin(const char* country, std::optional<double> market = {}) {
  CoinRow r;
  r.country = country;
  r.market = market;
  return r;
}

TEST(LocateTest, FieldTextsAndMatching) {
  klv::test::TempDir dir;
  const std::string path = dir.File("ODD.DBF");
  dbf::Table::CreateTable(path, {{"NAME", 'C', 10, 0},
                                 {"AMOUNT", 'N', 12, 2},
                                 {"RATE", 'F', 20, 6},
                                 {"QTY", 'N', 5, 0},
                                 {"DAY", 'D', 8, 0},
                                 {"OK", 'L', 1, 0}});
  dbf::Table t;
  t.SetDirectory(dir.path());
  t.SetTableName("ODD.DBF");
  t.Open();
  t.Append();
  t.FieldByName("NAME").SetAsString("Abbey  ");
  t.FieldByName("AMOUNT").SetAsFloat(12.5);
  t.FieldByName("RATE").SetAsFloat(0.000001);
  t.FieldByName("QTY").SetAsInteger(-7);
  t.FieldByName("DAY").SetAsDate({1990, 1, 2});
  t.FieldByName("OK").SetAsBoolean(false);
  t.Post();
  t.Append();
  t.Post();  // a row of blanks
  const std::vector<std::pair<const char*, const char*>> texts = {
      {"NAME", "Abbey"}, {"AMOUNT", "12.5"},  {"RATE", "1E-6"},
      {"QTY", "-7"},     {"DAY", "1/2/1990"}, {"OK", "False"}};
  for (const auto& [field, text] : texts) {
    t.First();
    EXPECT_EQ(LocateFieldText(t.FieldByName(field)).toStdString(), text) << field;
    t.Last();
    EXPECT_EQ(LocateFieldText(t.FieldByName(field)).toStdString(), "") << field;
  }
  EXPECT_TRUE(LocateMatches(t.FieldByName("NAME"), "", MT::mtExactMatch, false));
  t.First();
  struct Match {
    const char* field;
    const char* value;
    MT type;
    bool case_sensitive;
    bool want;
  };
  const auto kExact = MT::mtExactMatch, kStart = MT::mtPartialMatchStart,
             kAny = MT::mtPartialMatchAny;
  // clang-format off
  const std::vector<Match> matches = {
      {"NAME", "ab", kStart, false, true},     {"NAME", "ab", kStart, true, false},
      {"NAME", "Ab", kStart, true, true},      {"NAME", "bey", kStart, false, false},
      {"NAME", "BEY", kAny, false, true},      {"NAME", "abbey", kExact, false, true},
      {"NAME", "abbe", kExact, false, false},  {"NAME", "", kAny, false, false},
      {"AMOUNT", "12.50", kExact, false, true}, {"AMOUNT", "12.5x", kExact, false, false},
      {"AMOUNT", "12.", kStart, false, true},  {"QTY", "-7", kExact, false, true},
      {"QTY", "-7.0", kExact, false, false},   {"DAY", "1/2/1990", kExact, false, true},
      {"OK", "fal", kStart, false, true},
  };
  // clang-format on
  for (const Match& c : matches) {
    EXPECT_EQ(
        LocateMatches(t.FieldByName(c.field), QString::fromUtf8(c.value), c.type, c.case_sensitive),
        c.want)
        << c.field << " " << c.value;
  }
}

// A dialog that is never expected to open.
LocateDialogResult NoDialog(const LocateDialogSetup&) {
  ADD_FAILURE() << "the dialog opened";
  return {};
}

TEST(LocateTest, FindNextWalksAndStays) {
  klv::test::TempDir dir;
  dbf::Table table;
  test::MakeCoinTable(dir,
                      {Coin("Abbey", 12.5), Coin("USA"), Coin("ABBOT", 3), Coin("Canada", 12.5),
                       Coin("abbey road")},
                      table);
  TMyLocateDialog locate;
  EXPECT_EQ(locate.Caption.toStdString(), "Locate Field Value");

  // Find Next before any search opens the dialog, with Next as the default.
  locate.DefaultButton = TMyDefaultButtonType::dbFindFirst;
  int dialogs = 0;
  LocateResult r = locate.FindNext(&table, [&](const LocateDialogSetup& setup) {
    ++dialogs;
    EXPECT_EQ(setup.default_button, TMyDefaultButtonType::dbFindNext);
    EXPECT_EQ(setup.selected, -1);
    EXPECT_EQ(setup.fields.size(), 20u);
    EXPECT_EQ(setup.fields.front().label.toStdString(), "COMMENT");  // sorted by label
    LocateDialogResult controls{false, "COUNTRY", "ab", MT::mtPartialMatchStart, false};
    // "First" finds row 1, where the table stood already.
    EXPECT_TRUE(LocateFromDialog(table, true, setup, controls).found);
    EXPECT_EQ(table.RecNo(), 1u);
    controls.found = true;
    return controls;
  });
  EXPECT_EQ(dialogs, 1);
  EXPECT_TRUE(r.found);
  EXPECT_EQ(locate.SearchField.toStdString(), "COUNTRY");
  EXPECT_EQ(locate.search_value().toStdString(), "ab");

  std::vector<uint32_t> visited;
  for (int i = 0; i < 3; ++i) {
    r = locate.FindNext(&table, NoDialog);
    if (r.found) visited.push_back(table.RecNo());
  }
  EXPECT_EQ(visited, std::vector<uint32_t>({3, 5}));
  // From the last match: "No more matches found", and the table stays on it.
  EXPECT_FALSE(r.found);
  EXPECT_EQ(r.message.box, LocateMessage::Box::kInformation);
  EXPECT_EQ(r.message.text.toStdString(), "No more matches found");
  EXPECT_EQ(table.RecNo(), 5u);
  table.Next();  // past the end, still on the last row
  EXPECT_FALSE(locate.FindNext(&table, NoDialog).found);
  EXPECT_EQ(table.RecNo(), 5u);

  // The next opening shows the remembered search.
  const LocateDialogSetup setup = locate.PrepareDialog(table);
  ASSERT_GE(setup.selected, 0);
  EXPECT_EQ(setup.fields[static_cast<size_t>(setup.selected)].name.toStdString(), "COUNTRY");
  EXPECT_EQ(setup.value.toStdString(), "ab");
  // "First" with nothing to find: "No matches found", back on the row.
  r = LocateFromDialog(table, true, setup, {false, "COUNTRY", "zz", MT::mtPartialMatchAny, false});
  EXPECT_EQ(r.message.text.toStdString(), "No matches found");
  EXPECT_EQ(table.RecNo(), 5u);

  // An exact search for 12.5 on MARKETVALU finds 12.50; in search mode only
  // the rows the filter accepts are visited.
  table.First();
  EXPECT_TRUE(LocateSearch(table, false, "MarketValu", false, MT::mtExactMatch, "12.5").found);
  EXPECT_EQ(table.RecNo(), 4u);
  CriteriaList list;
  SearchScreen screen = EmptyScreen();
  screen[0].text = "a";
  ASSERT_TRUE(list.Confirm(screen, 7).ok());
  table.SetOnFilterRecord(RowFilter(std::make_shared<const ActiveSearch>(list.criteria())));
  table.SetFiltered(true);  // every country holds an "A"
  table.First();
  EXPECT_TRUE(LocateSearch(table, true, "Country", false, MT::mtExactMatch, "usa").found);
  screen[0].text = "b";
  list.ClearSearch();
  ASSERT_TRUE(list.Confirm(screen, 7).ok());
  table.SetOnFilterRecord(RowFilter(std::make_shared<const ActiveSearch>(list.criteria())));
  table.Refresh();
  table.First();
  EXPECT_FALSE(LocateSearch(table, true, "Country", false, MT::mtExactMatch, "usa").found);
  table.SetFiltered(false);

  // The messages without a field or a table.
  r = LocateSearch(table, true, "Bogus", false, MT::mtExactMatch, "x");
  EXPECT_EQ(r.message.box, LocateMessage::Box::kWarning);
  EXPECT_EQ(r.message.text.toStdString(), "Field Bogus not found.");
  dbf::Table closed;
  r = locate.FindNext(&closed, NoDialog);
  EXPECT_EQ(r.message.text.toStdString(), "DataSource does not refer to an active table!");
  r = locate.Execute(nullptr, NoDialog);
  EXPECT_EQ(r.message.box, LocateMessage::Box::kError);
  EXPECT_EQ(r.message.text.toStdString(), "DataSource does not reference an active DataSet");
}

TEST(LocateTest, RepeatedFindNextAgreesWithANaiveScan) {
  std::mt19937 rng(4711);
  const std::vector<std::string> words = {"Abbey",   "abbot", "USA", "usa east", "Österreich",
                                          "östlich", "",      "Cab", "CABBAGE",  "b"};
  std::vector<CoinRow> rows(800);
  for (CoinRow& r : rows) r.country = words[rng() % words.size()];
  klv::test::TempDir dir;
  dbf::Table table;
  test::MakeCoinTable(dir, rows, table);
  table.AddIndex("BYCOUNTRY", "UPPER(COUNTRY)");
  for (const bool indexed : {false, true}) {
    table.SetIndexName(indexed ? "BYCOUNTRY" : "");
    const std::vector<uint32_t> order = test::Walk(table);
    for (int round = 0; round < 30; ++round) {
      const MT type = static_cast<MT>(rng() % 3);
      const bool case_sensitive = rng() % 2;
      QString word = QString::fromStdString(words[rng() % words.size()]);
      if (word.isEmpty()) word = "b";  // an empty value makes Find Next open the dialog
      const QString value = word.left(1 + static_cast<qsizetype>(rng() % 3));
      std::vector<uint32_t> want;
      for (uint32_t recno : order) {
        QString t = QString::fromStdString(rows[recno - 1].country), v = value;
        if (!case_sensitive) t = t.toUpper(), v = v.toUpper();
        const bool hit = type == MT::mtExactMatch          ? t == v
                         : type == MT::mtPartialMatchStart ? !v.isEmpty() && t.startsWith(v)
                                                           : !v.isEmpty() && t.contains(v);
        if (hit) want.push_back(recno);
      }
      TMyLocateDialog locate;
      locate.ShowMessages = false;
      std::vector<uint32_t> got;
      LocateResult r = locate.Execute(&table, [&](const LocateDialogSetup& setup) {
        LocateDialogResult controls{false, "COUNTRY", value, type, case_sensitive};
        controls.found = LocateFromDialog(table, true, setup, controls).found;
        return controls;
      });
      if (r.found) got.push_back(table.RecNo());
      while (r.found) {
        r = locate.FindNext(&table, NoDialog);
        if (r.found) got.push_back(table.RecNo());
      }
      EXPECT_EQ(got, want) << value.toStdString() << " " << static_cast<int>(type);
      EXPECT_EQ(r.message.box, LocateMessage::Box::kNone);
    }
  }
}

}  // namespace
}  // namespace klv::find
