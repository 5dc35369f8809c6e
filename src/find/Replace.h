// Search and replace without its window: the checks of what the user typed,
// the test of a row, and the run that sets the field of every matching row.
//
// The run needs the table to itself. The caller (the open database) closes
// the shared table, opens it exclusively, drops the sort index, ends search
// mode, hands the table to RunReplace, and afterwards re-adds the sort index
// "NewIndex" from the sort string, reopens the table shared and turns search
// mode back on when it was on, whether the run ended normally or by an
// engine error.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include <QString>

#include "db/dbf/Table.h"

namespace klv::find {

// How both edits are set up when field n is chosen: character fields take
// no mask and at most their width in characters; the date field takes
// "99/99/0000;1", numeric fields "ccccccccc;1" (the mask sets the length).
struct ReplaceEditSetup {
  QString mask;
  int max_length = 0;  // 0: as the mask allows
};
ReplaceEditSetup ReplaceEdit(int field_no);

// A request checked and read, ready to run.
struct ReplacePlan {
  int field_no = 0;           // 1 to 20
  char kind = 'C';            // 'C', 'N' or 'D', as the search form's kinds
  QString search_upper;       // 'C': the search text in upper case
  QString replacement;        // 'C': the replacement, trimmed
  double search_number = 0;   // 'N'
  double replace_number = 0;  // 'N'
  dbf::Date search_date;      // 'D'
  dbf::Date replace_date;     // 'D'
};

struct ReplaceCheck {
  enum class Focus { kNone, kFieldBox, kSearchText, kReplaceText };
  bool ok = false;
  QString message;  // shown with the caption "Error" when not ok
  Focus focus = Focus::kNone;
  ReplacePlan plan;  // when ok
};

// The checks of "Start Search", in order: a field chosen; for a numeric
// field a search number and a replacement number; for the date field a
// search date and a replacement date (in date format date_format, 1 to 12);
// character fields take any texts, empty ones included. Then, when the open
// coin table is given, the replacement must fit its field as typed: a text
// no longer than the field's width whose characters the table's code page
// holds, a number within the field's digits (a whole one for a whole-number
// field). Nothing is cut or rounded silently.
ReplaceCheck CheckReplaceInput(int field_no, const QString& search_text,
                               const QString& replace_text, int date_format,
                               dbf::Table* open_table = nullptr);

// Whether the table's current row matches: character fields as a whole value
// without regard to case, numbers as float equal, dates as equal dates.
bool ReplaceMatches(const ReplacePlan& plan, dbf::Table& table);

struct ReplaceCounters {
  int32_t processed = 0, found = 0, changed = 0;
  bool operator==(const ReplaceCounters&) const = default;
};

// A counter as drawn under its caption: decimal with comma thousands
// separators ("1,234,567").
QString FormatCount(int64_t value);

// The confirmation asked before changing a row: "Item = " + '"' + country +
// '"' + ".  Change this record?".
QString ConfirmPrompt(const QString& country);

struct ReplaceHooks {
  // When set ("Confirm Before Replacing"), asked with ConfirmPrompt of the
  // row's COUNTRY before each change; true is Yes.
  std::function<bool(const QString& prompt)> confirm;
  // Called after every change of a counter, to redraw it.
  std::function<void(const ReplaceCounters&)> counters;
};

struct ReplaceRun {
  bool ran = false;
  QString message;  // why it did not run (caption "Error"); the table is untouched
  ReplaceCounters counters;
};

// Visits every row of the table in record order and sets the field of each
// matching row (after confirmation when asked), posting each change. The
// table must be open exclusively, in record order and without a filter
// (kBadState otherwise). The replacement is checked against this table's
// field before the first row is visited. An engine error ends the run and
// reaches the caller; the changes posted before it remain, and the counters
// hook has seen each of them.
ReplaceRun RunReplace(dbf::Table& table, const ReplacePlan& plan, const ReplaceHooks& hooks = {});

}  // namespace klv::find
