// Search by example without its window: the criteria one search is made of,
// the conversion of one screen of the search grid into criteria, and the
// level bookkeeping of the form's buttons.
//
// A screen is the 20 rows of the grid, one per field of the coin table. Each
// screen is one level: its criteria must all hold (AND); a record passes the
// search when all criteria of at least one level hold (OR between levels).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include <QList>
#include <QString>

#include "db/FieldTable.h"
#include "db/dbf/Table.h"

namespace klv::find {

constexpr int kMaxCriteria = 75;
constexpr int kMaxLevels = 10;
constexpr int kGridRows = kFieldCount;
constexpr int kMaxCriterionText = 110;

// How a criterion compares the field with its bound. A range is stored as
// two criteria, kGreater then kLess; 4 is never stored.
enum class Comparison : int32_t { kEqual = 1, kGreater = 2, kLess = 3, kContains = 5 };

// The operator chosen for a numeric or date row of the grid.
enum class RowOperator : uint8_t { kEqual = 1, kGreater = 2, kLess = 3, kRange = 4 };

struct SearchCriterion {
  // Character criterion: the search text in upper case. Numeric: the number
  // as typed. Date: the serial day number, with no decimals.
  QString text;
  double number_value = 0;
  double date_value = 0;  // days since 30 December 1899
  int32_t field_no = 0;   // 1 to 20
  Comparison comparison = Comparison::kEqual;
  bool level_end = false;
  bool is_date = false;
};

// The search kind of field n (1 to 20): 'N' numeric, 'D' date, 'C' character.
char SearchKind(int field_no);

// Days since 30 December 1899 (0 for no date), and back.
double DateSerial(const dbf::Date& date);
dbf::Date DateOfSerial(double serial);

// Text upper-cased one character at a time by the simple case mapping, so
// that a text keeps its length (no "SS" for "ß"). Every comparison without
// regard to case in finding uses it.
QString UpperText(const QString& text);

// A number as the search and replace forms read it: plain decimal notation,
// '.' as the point, optional sign and exponent, nothing else.
std::optional<double> ReadPlainNumber(const QString& text);

// The edit mask of column 2 of the grid for field n under its row operator
// (the character rows take field-size "c"s whatever the operator). The
// mask's literals stay in the cell text, which SaveFields expects. The
// notation is the classic edit-mask one (c any character, 9 optional digit,
// 0 digit, backslash a literal, "/" the date separator, ";1" keep literals);
// the form turns it into its widget's.
QString SearchEditMask(int field_no, RowOperator op);

// Whether field n's row shows the grey "..." button of column 1: numeric
// and date rows (the operator picker) and character rows with a value list.
bool HasPickButton(int field_no);

// One row of the grid as the form hands it over.
struct SearchRow {
  char kind = 'C';                       // SearchKind of the row's field
  RowOperator op = RowOperator::kEqual;  // used by 'N' and 'D' rows
  QString text;                          // column 2 as the masked edit leaves it
};
using SearchScreen = std::array<SearchRow, kGridRows>;

// A screen with the kinds of the coin table and empty texts; the operators
// are all kEqual, as the form starts.
SearchScreen EmptyScreen();

// What the form does after converting a screen.
struct SaveOutcome {
  enum class Result {
    kSaved,    // the screen's criteria were added
    kInvalid,  // a row could not be read: message, focus_row; earlier levels kept
    kNothing,  // the screen had no criterion: message; earlier levels kept
    kTooMany,  // the limit was passed: message; everything was cleared
  };
  Result result = Result::kSaved;
  QString message;    // shown with the caption "Error" unless kSaved
  int focus_row = 0;  // 1 to 20: the row to make current; 0: focus the grid
  // Column 2 of every row is to be emptied and the grid repainted.
  bool clear_screen = false;
  bool ok() const { return result == Result::kSaved; }
};

// The criteria list of the search form together with its level and the
// state of the "Find More" button. Promises: at most kMaxCriteria
// criteria; the last criterion of every completed level has level_end set;
// level stays within 1 to kMaxLevels.
class CriteriaList {
 public:
  const std::vector<SearchCriterion>& criteria() const { return items_; }
  int count() const { return static_cast<int>(items_.size()); }
  int level() const { return level_; }
  bool more_enabled() const { return more_enabled_; }
  // The column 2 header of the grid: " SEARCH CRITERIA    (Level n)".
  QString Header() const;

  // Converts one screen (rows 1 to 20 in order) into criteria, reading dates
  // in the given date format (1 to 12). On failure the list is as it was
  // before the call, except after kTooMany, when it is cleared.
  SaveOutcome SaveFields(const SearchScreen& screen, int date_format);

  // "Find More": saves the screen and, when that worked, starts the next
  // level (clear_screen set); "Find More" is disabled at the tenth level.
  // The grid takes the focus in every case.
  SaveOutcome More(const SearchScreen& screen, int date_format);

  // "Ok": enables "Find More" below the tenth level and saves the screen
  // (at the tenth there is no further level to find more in); on kSaved the caller
  // confirms the search with ActiveSearch(criteria()).
  SaveOutcome Confirm(const SearchScreen& screen, int date_format);

  // Empties the list: count 0, level 1, "Find More" enabled. Also what
  // showing the form does. Row operators are not the list's and stay.
  void ClearSearch();

  // "Exit" leaves the list and the active search alone but enables "Find
  // More" below the tenth level.
  void EnableMore() { more_enabled_ = level_ < kMaxLevels; }

 private:
  bool Add(SearchCriterion criterion, SaveOutcome& outcome);
  std::vector<SearchCriterion> items_;
  int level_ = 1;
  bool more_enabled_ = true;
};

// The 75-item limit message.
QString TooManyCriteriaMessage();

}  // namespace klv::find
