// Search by example: one screen of the grid into criteria, the levels and
// the limit, and the reading of typed dates.
#include "find/Criteria.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "app/Formats.h"

namespace klv::find {
namespace {

struct Cell {
  int row;
  RowOperator op;
  const char* text;
};

SearchScreen Screen(const std::vector<Cell>& cells) {
  SearchScreen screen = EmptyScreen();
  for (const Cell& c : cells) {
    screen[static_cast<size_t>(c.row - 1)].op = c.op;
    screen[static_cast<size_t>(c.row - 1)].text = QString::fromUtf8(c.text);
  }
  return screen;
}

// A criterion as "field cmp text value [date] [end]".
std::string Describe(const SearchCriterion& c) {
  std::string s = std::to_string(c.field_no) + " " +
                  std::to_string(static_cast<int>(c.comparison)) + " " + c.text.toStdString() +
                  " " + std::to_string(c.is_date ? c.date_value : c.number_value);
  if (c.is_date) s += " date";
  if (c.level_end) s += " end";
  return s;
}

constexpr auto N1 = RowOperator::kEqual;
constexpr auto N2 = RowOperator::kGreater;
constexpr auto N3 = RowOperator::kLess;
constexpr auto N4 = RowOperator::kRange;
constexpr char kBad[] = "Invalid search criteria entered.  Please correct.";
constexpr char kNone[] = "No search criteria entered.";

struct SaveCase {
  std::vector<Cell> cells;
  int date_format;
  const char* message;  // "" when saved
  int focus_row;
  std::vector<std::string> criteria;
};

TEST(SaveFieldsTest, OneScreen) {
  // clang-format off
  const std::vector<SaveCase> cases = {
      {{{6, N1, "= 12.5      "}}, 7, "", 0, {"6 1 12.5 12.500000 end"}},
      {{{13, N2, ">  10   "}}, 7, "", 0, {"13 2 10 10.000000 end"}},
      {{{7, N3, "< -3.25"}}, 7, "", 0, {"7 3 -3.25 -3.250000 end"}},
      {{{8, N4, "> 10        AND < 20      "}}, 7, "", 0, {"8 2 10 10.000000", "8 3 20 20.000000 end"}},
      {{{8, N4, "> 10        AND <         "}}, 7, kBad, 8, {}},
      {{{6, N4, ">           AND < 5"}}, 7, kBad, 6, {}},
      {{{8, N4, ">           AND <         "}, {1, N1, "usa"}}, 7, "", 0, {"1 5 USA 0.000000 end"}},
      {{{6, N1, "= 12,5"}}, 7, kBad, 6, {}},
      {{{6, N1, "> 12"}}, 7, kBad, 6, {}},  // the text of another operator
      {{{11, N1, "=   /  /    "}}, 7, kNone, 0, {}},
      {{{11, N2, ">   -  -    "}}, 8, kNone, 0, {}},
      {{{11, N3, "<   .  .    "}}, 9, kNone, 0, {}},
      {{{11, N4, ">   /  /     AND <   /  /    "}}, 7, kNone, 0, {}},
      {{{11, N3, "< 01/02/1990"}}, 7, "", 0, {"11 3 32875 32875.000000 date end"}},
      {{{11, N1, "= 31.12.1999"}}, 12, "", 0, {"11 1 36525 36525.000000 date end"}},
      {{{11, N4, "> 01/02/1990 AND < 03/04/1995"}}, 7, "", 0,
       {"11 2 32875 32875.000000 date", "11 3 34762 34762.000000 date end"}},
      {{{11, N4, "> 01/02/1990 AND <   /  /    "}}, 7, kBad, 11, {}},
      {{{11, N1, "= 13/45/1990"}}, 7, kBad, 11, {}},
      {{{1, N4, "  ab  "}, {9, N2, "Ships"}}, 7, "", 0, {"1 5 AB 0.000000", "9 5 SHIPS 0.000000 end"}},
      {{{10, N1, "österreich"}}, 7, "", 0, {"10 5 ÖSTERREICH 0.000000 end"}},
      {{}, 7, kNone, 0, {}},
      // A bad row drops the screen's earlier criteria and keeps the earlier level's.
      {{{1, N1, "usa"}, {13, N1, "= x"}}, 7, kBad, 13, {"2 5 OLD 0.000000 end"}},
  };
  // clang-format on
  for (size_t i = 0; i < cases.size(); ++i) {
    const SaveCase& c = cases[i];
    SCOPED_TRACE("case " + std::to_string(i));
    CriteriaList list;
    if (i + 1 == cases.size()) {
      ASSERT_TRUE(list.More(Screen({{2, N1, "old"}}), 7).ok());
    }
    const SaveOutcome out = list.SaveFields(Screen(c.cells), c.date_format);
    EXPECT_EQ(out.ok(), std::string(c.message).empty());
    EXPECT_EQ(out.message.toStdString(), c.message);
    EXPECT_EQ(out.focus_row, c.focus_row);
    std::vector<std::string> got;
    for (const SearchCriterion& k : list.criteria()) got.push_back(Describe(k));
    EXPECT_EQ(got, c.criteria);
  }
}

TEST(SaveFieldsTest, LongTextIsCutTo110Characters) {
  CriteriaList list;
  const std::string typed(130, 'x');
  ASSERT_TRUE(list.SaveFields(Screen({{12, N1, typed.c_str()}}), 7).ok());
  EXPECT_EQ(list.criteria()[0].text, QString(110, u'X'));
}

// A screen with 25 criteria: four numeric ranges, the date range and the 15
// character rows.
SearchScreen FullScreen() {
  std::vector<Cell> cells = {{6, N4, "> 1 AND < 2"},
                             {7, N4, "> 1 AND < 2"},
                             {8, N4, "> 1 AND < 2"},
                             {13, N4, "> 1 AND < 2"},
                             {11, N4, "> 01/01/1990 AND < 01/01/1991"}};
  for (int row = 1; row <= 20; ++row)
    if (SearchKind(row) == 'C') cells.push_back({row, N1, "a"});
  return Screen(cells);
}

TEST(CriteriaListTest, LevelsLimitAndClear) {
  CriteriaList list;
  EXPECT_EQ(list.Header().toStdString(), " SEARCH CRITERIA    (Level 1)");
  ASSERT_TRUE(list.More(FullScreen(), 7).ok());
  ASSERT_TRUE(list.More(FullScreen(), 7).ok());
  EXPECT_EQ(list.count(), 50);
  EXPECT_EQ(list.Header().toStdString(), " SEARCH CRITERIA    (Level 3)");
  EXPECT_TRUE(list.criteria()[24].level_end);
  EXPECT_FALSE(list.criteria()[23].level_end);

  // A level without entries is refused and keeps the earlier levels.
  SaveOutcome out = list.Confirm(EmptyScreen(), 7);
  EXPECT_EQ(out.message.toStdString(), "No search criteria entered.");
  EXPECT_EQ(list.count(), 50);
  EXPECT_EQ(list.level(), 3);

  // 75 fit; the 76th (the first of a range) clears everything.
  ASSERT_TRUE(list.More(FullScreen(), 7).ok());
  EXPECT_EQ(list.count(), 75);
  out = list.Confirm(Screen({{6, N4, "> 1 AND < 2"}}), 7);
  EXPECT_EQ(out.result, SaveOutcome::Result::kTooMany);
  EXPECT_EQ(out.message.toStdString(),
            "More than 75 search items have been entered.  This exceeds the maximum allowable.  "
            "Search criteria will be cleared.");
  EXPECT_TRUE(out.clear_screen);
  EXPECT_EQ(list.count(), 0);
  EXPECT_EQ(list.level(), 1);
  EXPECT_TRUE(list.more_enabled());
  EXPECT_EQ(list.Header().toStdString(), " SEARCH CRITERIA    (Level 1)");

  // Ten levels at most: "Find More" is off at the tenth, Ok and Exit there
  // included, until Clear.
  const SearchScreen one = Screen({{1, N1, "a"}});
  for (int level = 2; level <= 10; ++level) {
    out = list.More(one, 7);
    ASSERT_TRUE(out.ok());
    EXPECT_TRUE(out.clear_screen);
    EXPECT_EQ(list.level(), level);
    EXPECT_EQ(list.more_enabled(), level < 10);
  }
  EXPECT_EQ(list.Header().toStdString(), " SEARCH CRITERIA    (Level 10)");
  EXPECT_EQ(list.Confirm(Screen({}), 7).result, SaveOutcome::Result::kNothing);
  EXPECT_FALSE(list.more_enabled());
  list.EnableMore();
  EXPECT_FALSE(list.more_enabled());
  ASSERT_TRUE(list.Confirm(one, 7).ok());
  EXPECT_FALSE(list.more_enabled());
  EXPECT_EQ(list.count(), 10);
  list.ClearSearch();
  EXPECT_EQ(list.count(), 0);
  EXPECT_EQ(list.level(), 1);
}

TEST(SearchGridTest, MasksAndPickButtons) {
  const std::vector<std::tuple<int, RowOperator, const char*>> masks = {
      {5, N4, "ccc"},
      {6, N1, "= ccccccccc;1"},
      {7, N2, "\\> ccccccccc;1"},
      {8, N3, "\\< ccccccccc;1"},
      {13, N4, "\\> ccccccccc \\A\\ND \\< cccccccc"},
      {11, N1, "= 99/99/0000;1"},
      {11, N2, "\\> 99/99/0000;1"},
      {11, N3, "\\< 99/99/0000;1"},
      {11, N4, "\\> 99/99/0000 \\A\\ND \\< 99/99/0000;1"},
  };
  for (const auto& [row, op, mask] : masks)
    EXPECT_EQ(SearchEditMask(row, op).toStdString(), mask) << row;
  EXPECT_EQ(SearchEditMask(12, N1).size(), 110);
  std::string buttons;
  for (int row = 1; row <= 20; ++row) buttons += HasPickButton(row) ? '+' : '.';
  EXPECT_EQ(buttons, "+..+.++++.+.+.++....");
}

TEST(ReadDateTest, Formats) {
  struct Case {
    int format;
    const char* text;
    dbf::Date want;  // null: refused
  };
  // clang-format off
  const std::vector<Case> cases = {
      {7, "01/02/1990", {1990, 1, 2}}, {7, " 1/ 2/1990", {1990, 1, 2}}, {1, "12/31/99", {1999, 12, 31}},
      {1, "01/01/29", {2029, 1, 1}}, {1, "01/01/30", {1930, 1, 1}}, {10, "31/12/1999", {1999, 12, 31}},
      {11, "29-02-2024", {2024, 2, 29}}, {9, "02.29.2023", {}}, {7, "01-02-1990", {}},
      {7, "/  /", {}}, {7, "1/2", {}}, {7, "1/2/3/4", {}}, {7, "aa/02/1990", {}},
      {0, "01/02/1990", {1990, 1, 2}},
  };
  // clang-format on

  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.format) + " " + c.text);
    const std::optional<dbf::Date> got = app::ReadDate(c.format, QString::fromUtf8(c.text));
    EXPECT_EQ(got.value_or(dbf::Date{}), c.want);
  }
}

TEST(DateSerialTest, DaysSince30December1899) {
  EXPECT_EQ(DateSerial({}), 0);
  EXPECT_EQ(DateSerial({1899, 12, 30}), 0);
  EXPECT_EQ(DateSerial({1900, 3, 1}), 61);
  EXPECT_EQ(DateSerial({2024, 2, 29}), 45351);
  for (const dbf::Date d : {dbf::Date{1, 1, 1}, dbf::Date{1999, 12, 31}, dbf::Date{9999, 12, 31}})
    EXPECT_EQ(DateOfSerial(DateSerial(d)), d);
}

}  // namespace
}  // namespace klv::find
