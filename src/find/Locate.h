// Locate and find next without their dialog: the remembered search of the
// locate component, how a field reads for the search, the matching rules,
// and the walk that moves the table's cursor to the next match.
//
// The walk follows the table's current order and sees only the rows its
// filter accepts; when nothing matches, the cursor goes back to the row it
// stood on. Nothing here filters or changes a row.
#pragma once

#include <functional>
#include <vector>

#include <QString>

#include "db/dbf/Table.h"

namespace klv::find {

enum class TMyLocateMatchType { mtExactMatch, mtPartialMatchStart, mtPartialMatchAny };
enum class TMyFieldSortType { fsSortByFieldNo, fsSortByFieldName };
enum class TMyDefaultButtonType { dbFindFirst, dbFindNext };
enum class TMyFieldSelection { fsAllFields, fsVisibleFields };

constexpr int kMaxLocateValue = 255;

// A message the form shows, with its kind of box.
struct LocateMessage {
  enum class Box { kNone, kError, kWarning, kInformation };
  Box box = Box::kNone;
  QString text;
};

// The text a field reads as for locating: character fields as stored
// (without trailing blanks), whole numbers in decimal, logical fields
// "True" or "False", decimal numbers in general format (up to 15
// significant digits, no trailing zeros, the configured decimal separator),
// dates in the short date format. Blank fields read as "".
QString LocateFieldText(const dbf::Field& field);

// Whether a field of this kind compares as a floating-point value in an
// exact match: 'F', and 'N' with decimals.
bool IsFloatField(const dbf::FieldDef& def);

// Whether the current row's field matches the value under the match type.
// Without case_sensitive both sides compare in upper case.
bool LocateMatches(const dbf::Field& field, const QString& value, TMyLocateMatchType match_type,
                   bool case_sensitive);

struct LocateResult {
  bool found = false;
  LocateMessage message;  // what the form shows, if anything
};

// One search. from_start: from the first row (the first row itself
// included); else onwards, beginning with the row after the current one. A
// change in progress on the table is posted first. On a match the table
// stands on the matching row; otherwise on the row it stood on before.
// Observers of the table hear of the move once, not for every row passed.
// Not found gives no message here; the caller chooses "No matches found"
// or "No more matches found". An unknown field gives "Field " + name +
// " not found." (warning). progress, when set, is called for every row
// passed (to keep a window painted during a long walk).
LocateResult LocateSearch(dbf::Table& table, bool from_start, const QString& field_name,
                          bool case_sensitive, TMyLocateMatchType match_type, const QString& value,
                          const std::function<void()>& progress = {});

struct LocateDialogSetup;
struct LocateDialogResult;

// What the dialog's "First" (from_start) and "Next" buttons do with its
// controls: nothing without a field in the list; not found gives "No
// matches found" or "No more matches found" (information). On found the
// dialog closes.
LocateResult LocateFromDialog(dbf::Table& table, bool from_start, const LocateDialogSetup& setup,
                              const LocateDialogResult& controls,
                              const std::function<void()>& progress = {});

// One entry of the dialog's field list.
struct LocateFieldItem {
  QString label;  // as listed ("~" shown as a space)
  QString name;   // the field's name in the table
};

// How the dialog starts.
struct LocateDialogSetup {
  QString caption;
  std::vector<LocateFieldItem> fields;  // in list order
  int selected = -1;                    // index into fields, -1: none
  QString value;
  TMyLocateMatchType match_type = TMyLocateMatchType::mtPartialMatchStart;
  bool case_sensitive = false;
  TMyDefaultButtonType default_button = TMyDefaultButtonType::dbFindNext;
};

// How the dialog ended: its controls, and whether it closed on a found row.
struct LocateDialogResult {
  bool found = false;
  QString field_label;  // the list's text
  QString value;
  TMyLocateMatchType match_type = TMyLocateMatchType::mtPartialMatchStart;
  bool case_sensitive = false;
};

// The locate component of the main window: remembers the last field, value,
// match type and case flag between uses. The dialog itself is the form's;
// Execute hands it a setup and takes its controls back.
class TMyLocateDialog {
 public:
  QString Caption = QStringLiteral("Locate Field Value");
  QString SearchField;  // the name of the field last searched
  TMyLocateMatchType MatchType = TMyLocateMatchType::mtPartialMatchStart;
  bool CaseSensitive = false;
  TMyFieldSortType SortFields = TMyFieldSortType::fsSortByFieldName;
  TMyDefaultButtonType DefaultButton = TMyDefaultButtonType::dbFindNext;
  TMyFieldSelection FieldSelection = TMyFieldSelection::fsAllFields;
  bool ShowMessages = true;
  // Called for every row a search passes (LocateSearch's progress).
  std::function<void()> Progress;

  const QString& search_value() const { return value_; }

  // The dialog's starting state for a table (nullptr or closed: none).
  // label_of gives a field's display label; without it the field's name.
  LocateDialogSetup PrepareDialog(
      dbf::Table& table, const std::function<QString(const dbf::Field&)>& label_of = {}) const;
  // Takes the dialog's controls back: match type, case flag, value, and the
  // field whose label the list shows (none when no label matches).
  void TakeDialogResult(const LocateDialogSetup& setup, const LocateDialogResult& result);

  // Shows the dialog through run_dialog, which searches as its buttons ask
  // (with LocateSearch) and returns its controls when it closes. Without an
  // open table: the "DataSource does not reference an active DataSet"
  // error, and no dialog. found tells whether it closed on a found row.
  LocateResult Execute(
      dbf::Table* table,
      const std::function<LocateDialogResult(const LocateDialogSetup&)>& run_dialog,
      const std::function<QString(const dbf::Field&)>& label_of = {});

  // Searches again from the row after the current one with what was last
  // searched. Without an open table: the "DataSource does not refer to an
  // active table!" warning. Before any search (no value yet) it runs
  // Execute instead, with Next as the default button. Not found: "No more
  // matches found" (information) when ShowMessages is set.
  LocateResult FindNext(
      dbf::Table* table,
      const std::function<LocateDialogResult(const LocateDialogSetup&)>& run_dialog,
      const std::function<QString(const dbf::Field&)>& label_of = {});

 private:
  QString value_;  // the last search value, at most kMaxLocateValue characters
};

}  // namespace klv::find
