// The fixed texts of searching, locating and replacing, character for
// character as the user sees them (double blanks included). The forms show
// them; the logic names which one applies.
#pragma once

namespace klv::find::texts {

// Captions of the message boxes.
constexpr char kError[] = "Error";
constexpr char kWarning[] = "Warning";
constexpr char kNotice[] = "Notice";
constexpr char kConfirm[] = "Confirm";
constexpr char kFinished[] = "Finished";
constexpr char kInformation[] = "Information";

// Search by example.
constexpr char kSearchCaption[] = "Search";
constexpr char kFieldHeader[] = " FIELD";
constexpr char kCriteriaHeader[] = " SEARCH CRITERIA    (Level ";  // + level + ")"
constexpr char kInvalidCriteria[] = "Invalid search criteria entered.  Please correct.";
constexpr char kNoCriteria[] = "No search criteria entered.";
// The limit message: kTooManyStart + the limit + kTooManyMiddle + kTooManyEnd.
constexpr char kTooManyStart[] = "More than ";
constexpr char kTooManyMiddle[] = " search items have been entered.  ";
constexpr char kTooManyEnd[] =
    "This exceeds the maximum allowable.  Search criteria will be cleared.";
constexpr char kNoValidMatches[] = "No valid matches found.  Search criteria will be cleared.";
constexpr char kSearchOptionsCaption[] = "Search Options";
// The operator picker's items, operator codes 1 to 4.
constexpr const char* kOperatorItems[4] = {" = ", " > ", " < ", " > X < "};
constexpr char kYes[] = "YES";
constexpr char kNo[] = "NO";
constexpr char kSearchHelpKeyword[] = "Search Window";
constexpr char kOkButton[] = "&Ok";
constexpr char kCancelButton[] = "&Cancel";
constexpr char kExitButton[] = "E&xit";
constexpr char kClearButton[] = "&Clear Search";
constexpr char kMoreButton[] = "&Find More";
constexpr char kHelpButton[] = "&Help";
constexpr char kPickButton[] = "...";

// Sort order.
constexpr char kSortCaption[] = "Sort Order";
constexpr char kSortNone[] = "<NONE>";
constexpr const char* kSortLabels[4] = {"Primary Sort", "Secondary Sort", "Third Level Sort",
                                        "Fourth Level Sort"};
constexpr char kSortInUse[] =
    "Creating a new sort order requires exclusive use of the DBase File.  Make sure that the "
    "DBase File is not in use by another program  or that no other users are running the "
    "software or that no other copies of the software are in use.";
constexpr char kSortFailed[] = "Error in implementing sort order.  New sort order not implemented.";

// Locate and find next.
constexpr char kLocateCaption[] = "Locate Field Value";
constexpr char kNoMatches[] = "No matches found";
constexpr char kNoMoreMatches[] = "No more matches found";
constexpr char kFieldNotFoundStart[] = "Field ";  // + field name + kFieldNotFoundEnd
constexpr char kFieldNotFoundEnd[] = " not found.";
constexpr char kNoActiveDataSet[] = "DataSource does not reference an active DataSet";
constexpr char kNoActiveTable[] = "DataSource does not refer to an active table!";
// The locate dialog's controls.
constexpr char kLocateFieldGroup[] = "&Field To Search On";
constexpr char kLocateSearchTypeGroup[] = "&Search Type";
constexpr char kLocateCaseSensitive[] = "&Case-sensitive";
constexpr char kLocateExactMatch[] = "&Exact Match";
constexpr char kLocatePartialStart[] = "&Partial Match at Beginning";
constexpr char kLocatePartialAny[] = "Partial Match &Anywhere";
constexpr char kLocateValueGroup[] = "Search &Value";
constexpr char kLocateFirst[] = "Fi&rst";
constexpr char kLocateNext[] = "&Next";
constexpr char kLocateCancel[] = "Cancel";

// Search and replace.
constexpr char kReplaceCaption[] = "Search and Replace";
constexpr char kNoFieldSelected[] = "No field has been selected.";
constexpr char kInvalidSearchValue[] = "Invalid search value entered.  Please correct.";
constexpr char kInvalidReplacementValue[] = "Invalid replacement value entered.  Please correct.";
constexpr char kInvalidSearchDate[] = "Invalid search date entered.  Please correct.";
constexpr char kInvalidReplacementDate[] = "Invalid replacement date entered.  Please correct.";
// A replacement that the field cannot hold as typed: refused rather than cut.
// kReplacementTooLongStart + the field's width + kReplacementTooLongEnd.
constexpr char kReplacementTooLongStart[] =
    "The replacement text is longer than the field allows (at most ";
constexpr char kReplacementTooLongEnd[] = " characters).  Please correct.";
// kReplacementCharacterStart + the character + kReplacementCharacterEnd.
constexpr char kReplacementCharacterStart[] = "The replacement text holds the character \"";
constexpr char kReplacementCharacterEnd[] =
    "\", which this database cannot store.  Please correct.";
constexpr char kReplaceInUse[] =
    "Search and Replace requires exclusive use of the DBase File.  Make sure that the DBase "
    "File is not in use by another program  or that no other users are running the software "
    "or that no other copies of the software are in use.";
constexpr char kReplaceRunError[] =
    "Error in running search and replace.  Search and replace will be aborted.";
// A run that an engine error ended part way: kReplaceRunError, two blanks,
// kReplaceChangedStart + the changed counter + kReplaceChangedEnd, then the
// engine's message on a paragraph of its own.
constexpr char kReplaceChangedStart[] = "Records changed before the error: ";
constexpr char kReplaceChangedEnd[] = ".";
constexpr char kReplaceComplete[] = "Global Search and Replace Complete.";
// The confirmation: kItemStart + '"' + the row's country + '"' + kChangeThisRecord.
constexpr char kItemStart[] = "Item = ";
constexpr char kChangeThisRecord[] = ".  Change this record?";
constexpr char kProcessed[] = "Processed";
constexpr char kFound[] = "Found";
constexpr char kChanged[] = "Changed";
// The search and replace form's controls.
constexpr char kReplaceFieldLabel[] = "Field ";
constexpr char kReplaceSearchLabel[] = "Text To Search For";
constexpr char kReplaceReplacementLabel[] = "Replacement Text";
constexpr char kReplaceConfirmBox[] = "Confirm Before Replacing";
constexpr char kReplaceStart[] = "&Start Search";
constexpr char kReplaceCancel[] = "&Cancel";

}  // namespace klv::find::texts
