// The fixed texts of the record edit form, the pick-list dialogs and the
// default values: captions, labels, menu items and button texts with their
// accelerators, and every message, character for character (double blanks
// included). Kept in one place so that the forms and their tests agree.
#pragma once

#include "db/DbTexts.h"

namespace klv::edit::texts {

// Message box captions and the program's title: the ones every window shares.
using klv::db::texts::kCaptionConfirm;
using klv::db::texts::kCaptionError;
using klv::db::texts::kCaptionWarning;
using klv::db::texts::kTitle;

// ---------------------------------------------------------------------------
// The record edit form.

inline constexpr char kEditCaption[] = "Edit";
inline constexpr char kNewRecordCaption[] = "Edit (New Record)";
inline constexpr char kNewCopiedRecordCaption[] = "Edit (New Copied Record)";

inline constexpr char kApprox[] = "Approx";
inline constexpr char kWanted[] = "Wanted";
inline constexpr char kTotals[] = "Totals";
inline constexpr char kBlankDate[] = "Blank Date";
inline constexpr char kSelect[] = "Select";

inline constexpr char kUpdateExitButton[] = "&Update && Exit";
inline constexpr char kUpdateButton[] = "Upd&ate";
inline constexpr char kClearButton[] = "C&lear";
inline constexpr char kExitButton[] = "E&xit";
inline constexpr char kPrevButton[] = "&Previous";
inline constexpr char kNextButton[] = "&Next";

// Menus.
inline constexpr char kFileMenu[] = "&File";
inline constexpr char kNewRecord[] = "N&ew Record";
inline constexpr char kCopyRecord[] = "Cop&y Record";
inline constexpr char kClearRecord[] = "&Clear Record";
inline constexpr char kUpdateRecord[] = "Up&date Record";
inline constexpr char kUpdateAndExit[] = "&Update && Exit";
inline constexpr char kPrintRecord[] = "Prin&t Record";
inline constexpr char kPreviousRecord[] = "&Previous Record";
inline constexpr char kNextRecord[] = "&Next Record";
inline constexpr char kExit[] = "E&xit";
inline constexpr char kEditMenu[] = "&Edit";
inline constexpr char kCut[] = "Cu&t";
inline constexpr char kCopy[] = "&Copy";
inline constexpr char kPaste[] = "&Paste";
inline constexpr char kDelete[] = "&Delete";
inline constexpr char kDefaultsMenu[] = "&Defaults";
inline constexpr char kLoadSavedDefaults[] = "&Load In Saved Defaults";
inline constexpr char kSaveCurrentAsDefaults[] = "&Save Current Values As Defaults";
inline constexpr char kLoadDefaultsWithClear[] = "Load Defaults With &Clear";
inline constexpr char kLoadDefaultsWithAdd[] = "Load Defaults With &Add";
inline constexpr char kHelpMenu[] = "&Help";

// The text the date control holds when nothing is typed, with the date
// separator "/" (the control shows the separator of the date format).
inline constexpr char kEmptyDateText[] = "  /  /    ";

// Validation failures of Update.
inline constexpr char kInvalidDate[] = "Invalid acquired date specified.  Please correct.";
inline constexpr char kInvalidPurchasePrice[] =
    "Invalid purchase price specified.  Please correct.";
inline constexpr char kInvalidMarketValue[] = "Invalid market value specified.  Please correct.";
inline constexpr char kInvalidPremiumValue[] = "Invalid premium value specified.  Please correct.";
inline constexpr char kInvalidQuantity[] = "Invalid quantity specified.  Please correct.";

// Questions.
inline constexpr char kExitWithoutUpdating[] =
    "Data has changed.  Do you want to exit without updating?";
inline constexpr char kNotUpdatedPrevious[] =
    "This record has not been updated yet.  Update this record before moving to the previous "
    "record?";
inline constexpr char kNotUpdatedNext[] =
    "This record has not been updated yet.  Update this record before moving to the next "
    "record?";
inline constexpr char kChangedPrevious[] =
    "Data has changed.  Update this record before moving to the previous record?";
inline constexpr char kChangedNext[] =
    "Data has changed.  Update this record before moving to the next record?";
inline constexpr char kChangedNew[] =
    "Data has changed.  Update this record before creating new one?";
inline constexpr char kChangedCopy[] =
    "Data has changed.  Update this record before creating new one with the current data?";

// Printing.
inline constexpr char kPrintBusy[] = "Other print job currently in progress.";
inline constexpr char kPrintFont[] = "Arial";
inline constexpr char kPrintYes[] = ": Yes";
inline constexpr char kPrintNo[] = ": No";
inline constexpr char kPrintCaptionSeparator[] = ": ";

// Failures of writing the row that the table engine reports. %1 is the
// field's caption; %2 the engine's own explanation.
inline constexpr char kCodePageRefused[] =
    "The %1 field contains a character that cannot be stored in this database:  %2.  Please "
    "correct.";
inline constexpr char kRecordLocked[] =
    "This record is being changed by another user.  Your changes have not been saved; they are "
    "still shown so that you can update again later.";
inline constexpr char kRecordGone[] =
    "This record has been deleted by another user.  Your changes have not been saved; they are "
    "still shown, so that Copy Record and Update can save them as a new record.";
inline constexpr char kNotSaved[] = "The record could not be saved:  %1";

// Yes/No texts of the coin table.
inline constexpr char kYes[] = "Yes";
inline constexpr char kNo[] = "No";

// ---------------------------------------------------------------------------
// Pick lists.

// The list editor.
inline constexpr char kEditListCaption[] = "Edit \"%1\" List";
inline constexpr char kAddButton[] = "&Add";
inline constexpr char kDeleteButton[] = "&Delete";
inline constexpr char kSortButton[] = "&Sort";
inline constexpr char kOkButton[] = "&Ok";
inline constexpr char kCancelButton[] = "&Cancel";
inline constexpr char kSortQuestion[] =
    "Are you sure you want to sort the data?  Sorting cannot be undone.";

// The Miscellaneous picker.
inline constexpr char kMiscCaption[] = "Miscellaneous";

// The main menu's "List Maintenance" questions about the default lists.
inline constexpr char kSaveAsDefaultsQuestion[] =
    "Your current Data Lists will become your default list values.  These values will be used "
    "when new databases are created.  Previous default values will be lost.  Do you want to "
    "proceed?";
inline constexpr char kLoadDefaultsQuestion[] =
    "Your current Data Lists will be overridden with your default list values. Previous  values "
    "will be lost.  Do you want to proceed?";

}  // namespace klv::edit::texts
