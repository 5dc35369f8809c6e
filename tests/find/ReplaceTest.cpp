// Search and replace: the input checks and their messages, the counters'
// text, and runs on real tables against a reference.
#include "find/Replace.h"

#include <gtest/gtest.h>

#include <random>

#include "find/CoinRows.h"

namespace klv::find {
namespace {

using test::CoinRow;
using Focus = ReplaceCheck::Focus;

TEST(ReplaceInputTest, ChecksInOrder) {
  klv::test::TempDir dir;
  dbf::Table table;
  test::MakeCoinTable(dir, {}, table);
  struct Case {
    int field;
    const char* search;
    const char* replace;
    const char* message;  // "" when accepted
    Focus focus;
  };
  const std::vector<Case> cases = {
      {0, "usa", "x", "No field has been selected.", Focus::kFieldBox},
      {6, "", "1", "Invalid search value entered.  Please correct.", Focus::kSearchText},
      {6, "12,5", "1", "Invalid search value entered.  Please correct.", Focus::kSearchText},
      {6, "12.5", "", "Invalid replacement value entered.  Please correct.", Focus::kReplaceText},
      {6, "x", "", "Invalid search value entered.  Please correct.", Focus::kSearchText},
      {11, "  /  /    ", "01/02/1990", "Invalid search date entered.  Please correct.",
       Focus::kSearchText},
      {11, "02/30/1990", "01/02/1990", "Invalid search date entered.  Please correct.",
       Focus::kSearchText},
      {11, "01/02/1990", "  /  /    ", "Invalid replacement date entered.  Please correct.",
       Focus::kReplaceText},
      {11, "01/02/1990", "-  -", "Invalid replacement date entered.  Please correct.",
       Focus::kReplaceText},
      {1, "", "", "", Focus::kNone},
      {1, " usa ", " United States ", "", Focus::kNone},
      {6, " 12.5 ", "99999999.99", "", Focus::kNone},
      // What the field cannot hold as typed is refused, not cut or rounded.
      {5, "D", "ABCD",
       "The replacement text is longer than the field allows (at most 3 characters).  "
       "Please correct.",
       Focus::kReplaceText},
      {1, "usa", "Ελλάδα",
       "The replacement text holds the character \"Ε\", which this database cannot store.  "
       "Please correct.",
       Focus::kReplaceText},
      {13, "1", "2.5", "Invalid replacement value entered.  Please correct.", Focus::kReplaceText},
      {7, "1", "1e20", "Invalid replacement value entered.  Please correct.", Focus::kReplaceText},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.field) + " " + c.search + " " + c.replace);
    const ReplaceCheck check = CheckReplaceInput(c.field, QString::fromUtf8(c.search),
                                                 QString::fromUtf8(c.replace), 7, &table);
    EXPECT_EQ(check.ok, std::string(c.message).empty());
    EXPECT_EQ(check.message.toStdString(), c.message);
    EXPECT_EQ(check.focus, c.focus);
  }
  const ReplaceCheck check = CheckReplaceInput(1, " usa ", " United States ", 7);
  EXPECT_EQ(check.plan.search_upper.toStdString(), "USA");
  EXPECT_EQ(check.plan.replacement.toStdString(), "United States");
}

TEST(ReplaceInputTest, TextsDrawnAndAsked) {
  for (const auto& [value, text] : std::vector<std::pair<int64_t, const char*>>{
           {0, "0"}, {999, "999"}, {1000, "1,000"}, {1234567, "1,234,567"}, {-1234, "-1,234"}})
    EXPECT_EQ(FormatCount(value).toStdString(), text);
  EXPECT_EQ(ConfirmPrompt("USA").toStdString(), "Item = \"USA\".  Change this record?");
  EXPECT_EQ(ReplaceEdit(6).mask.toStdString(), "ccccccccc;1");
  EXPECT_EQ(ReplaceEdit(11).mask.toStdString(), "99/99/0000;1");
  EXPECT_EQ(ReplaceEdit(12).mask.toStdString(), "");
  EXPECT_EQ(ReplaceEdit(12).max_length, 110);
}

CoinRow Row(const char* country, const char* year = "", std::optional<double> price = {},
            dbf::Date bought = {}) {
  CoinRow r;
  r.country = country;
  r.year = year;
  r.price = price;
  r.bought = bought;
  return r;
}

std::vector<std::string> Countries(dbf::Table& table) {
  std::vector<std::string> out;
  for (table.First(); !table.Eof(); table.Next())
    out.push_back(table.FieldByName("Country").AsString());
  return out;
}

TEST(ReplaceRunTest, CharacterNumericAndDateRuns) {
  klv::test::TempDir dir;
  dbf::Table table;
  test::MakeCoinTable(
      dir,
      {Row("USA", "1950", 10, {1990, 1, 2}), Row("Usa", "", {}, {}),
       Row("USA East", "", 10, {1990, 1, 2}), Row("", "1950", 10), Row("usa", "", 0)},
      table, true);
  // Whole values only, case ignored; the counters are drawn at every change.
  std::vector<ReplaceCounters> drawn;
  ReplaceHooks hooks;
  hooks.counters = [&](const ReplaceCounters& n) { drawn.push_back(n); };
  ReplaceCheck check = CheckReplaceInput(1, "usa", "United States", 7, &table);
  ASSERT_TRUE(check.ok);
  ReplaceRun run = RunReplace(table, check.plan, hooks);
  EXPECT_TRUE(run.ran);
  EXPECT_EQ(run.counters, (ReplaceCounters{5, 3, 3}));
  EXPECT_EQ(Countries(table), std::vector<std::string>({"United States", "United States",
                                                        "USA East", "", "United States"}));
  EXPECT_EQ(drawn.size(), 5u + 3u);
  EXPECT_EQ(drawn[0], (ReplaceCounters{0, 1, 1}));
  EXPECT_EQ(drawn.back(), run.counters);

  // Answering No to every question: found counts, nothing changes; the
  // question names the row's country whatever the field.
  std::vector<std::string> asked;
  hooks.confirm = [&](const QString& prompt) {
    asked.push_back(prompt.toStdString());
    return false;
  };
  check = CheckReplaceInput(3, "1950", "1951", 7, &table);
  run = RunReplace(table, check.plan, hooks);
  EXPECT_EQ(run.counters, (ReplaceCounters{5, 2, 0}));
  EXPECT_EQ(asked, std::vector<std::string>({"Item = \"United States\".  Change this record?",
                                             "Item = \"\".  Change this record?"}));
  // An empty search text replaces the empty values; Yes to each.
  hooks.confirm = [](const QString&) { return true; };
  run = RunReplace(table, CheckReplaceInput(3, "", "1900", 7, &table).plan, hooks);
  EXPECT_EQ(run.counters, (ReplaceCounters{5, 3, 3}));

  // Numbers compare as floats (a blank reads 0); dates as dates.
  run = RunReplace(table, CheckReplaceInput(6, "0", "1.5", 7, &table).plan);
  EXPECT_EQ(run.counters.changed, 2);
  run = RunReplace(table, CheckReplaceInput(11, "01/02/1990", "12/31/1999", 7, &table).plan);
  EXPECT_EQ(run.counters.changed, 2);
  table.First();
  EXPECT_EQ(table.FieldByName("PurchDate").AsDate(), (dbf::Date{1999, 12, 31}));
  table.Next();
  EXPECT_EQ(table.FieldByName("PurchasePr").AsFloat(), 1.5);
  EXPECT_TRUE(table.FieldByName("PurchDate").IsNull());

  // A replacement the field cannot hold leaves every row as it was.
  check.plan.field_no = 5;
  check.plan.kind = 'C';
  check.plan.search_upper = "";
  check.plan.replacement = "TOO LONG";
  run = RunReplace(table, check.plan, hooks);
  EXPECT_FALSE(run.ran);
  EXPECT_EQ(run.message.toStdString(),
            "The replacement text is longer than the field allows (at most 3 characters).  "
            "Please correct.");
  for (table.First(); !table.Eof(); table.Next())
    EXPECT_EQ(table.FieldByName("MintMark").AsString(), "");

  // The run needs the table to itself, in record order, without a filter.
  table.AddIndex("BYCOUNTRY", "UPPER(COUNTRY)");
  table.SetIndexName("BYCOUNTRY");
  EXPECT_THROW(RunReplace(table, CheckReplaceInput(1, "x", "y", 7).plan), dbf::DbfError);
  table.SetIndexName("");
  table.Close();
  table.SetExclusive(false);
  table.Open();
  EXPECT_THROW(RunReplace(table, CheckReplaceInput(1, "x", "y", 7).plan), dbf::DbfError);
}

TEST(ReplaceRunTest, RandomRunsAgreeWithAReference) {
  std::mt19937 rng(97);
  const std::vector<std::string> values = {"USA", "usa",        "Usa",        "USA East",
                                           "",    "Österreich", "ÖSTERREICH", "Canada"};
  for (int round = 0; round < 8; ++round) {
    std::vector<CoinRow> rows(400);
    for (CoinRow& r : rows) r.country = values[rng() % values.size()];
    klv::test::TempDir dir;
    dbf::Table table;
    test::MakeCoinTable(dir, rows, table, true);
    const std::string search = values[rng() % values.size()];
    const std::string replacement = round % 2 ? "Replaced" : "";
    std::vector<bool> answers;
    ReplaceHooks hooks;
    if (round % 3) {
      hooks.confirm = [&](const QString&) {
        answers.push_back(rng() % 2);
        return answers.back();
      };
    }
    const ReplaceCheck check = CheckReplaceInput(1, QString::fromStdString(search),
                                                 QString::fromStdString(replacement), 7, &table);
    ASSERT_TRUE(check.ok);
    const ReplaceRun run = RunReplace(table, check.plan, hooks);

    ReplaceCounters want;
    size_t asked = 0;
    const QString key = QString::fromStdString(search).toUpper();
    for (CoinRow& r : rows) {
      ++want.processed;
      if (QString::fromStdString(r.country).toUpper() != key) continue;
      ++want.found;
      if (!hooks.confirm || answers.at(asked++)) {
        ++want.changed;
        r.country = replacement;
      }
    }
    EXPECT_EQ(run.counters, want);
    EXPECT_EQ(asked, answers.size());
    std::vector<std::string> expected;
    for (const CoinRow& r : rows) expected.push_back(r.country);
    EXPECT_EQ(Countries(table), expected);
  }
}

}  // namespace
}  // namespace klv::find
