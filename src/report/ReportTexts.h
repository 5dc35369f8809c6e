// The fixed texts of the report definitions and their designer, character for
// character as the user sees them (double blanks included).
#pragma once

namespace klv::report::texts {

// The report definitions file and the older file merged into it, both in
// the program directory.
constexpr char kUrpFileName[] = "KLVCOIN.URP";
constexpr char kOldUrpFileName[] = "RADER.URP";

// Captions of the message boxes.
constexpr char kError[] = "Error";
constexpr char kWarning[] = "Warning";
constexpr char kNotice[] = "Notice";
constexpr char kConfirm[] = "Confirm";

// Input/output errors of the report definitions file: path, reason.
constexpr char kUrpReadError[] = "Input/output error reading \"%1\":  %2";
constexpr char kUrpWriteError[] = "Input/output error writing \"%1\":  %2";
// A damaged file: what Load says, joined into one text.
constexpr char kUrpShortRecord[] =
    "The report definitions file \"%1\" ends in %2 bytes that are not a whole report "
    "definition.  They are left out, and the next change to the file drops them.";
constexpr char kUrpDamagedRecords[] =
    "The report definitions file \"%1\" holds damaged report definitions (number %2).  "
    "Check them before printing with them.";
// A text the file's character set cannot hold: what, the character.
constexpr char kUnstorableText[] =
    "The %1 contains the character \"%2\", which cannot be stored in the report "
    "definitions file.  Please correct.";
constexpr char kWhatName[] = "report name";
constexpr char kWhatTitle[] = "title line %1";
constexpr char kWhatLabel[] = "label of line %1, item %2";
constexpr char kWhatTotalsLabel[] = "label of the totals line, item %1";

// Item kinds and totals fields as the file names them.
constexpr char kFontTextSuffix[] = "pt";
constexpr const char* kTotalsFieldNames[4] = {"Market Value", "Purchase Price", "Premium Value",
                                              "Quantity"};

// The designer, TUserReport.
constexpr char kUserReportCaption[] = "Report Definition";
constexpr char kReportNameLabel[] = "Report Name";
constexpr char kTitlesLabel[] = "Report Titles";
constexpr char kWidthGroup[] = "Report Width";
constexpr char k90Chars[] = "90 Chars";
constexpr char k120Chars[] = "120 Chars";
constexpr char k150Chars[] = "150 Chars";
constexpr char kNumLinesLabel[] = "Lines per Record";
constexpr char kMarginsGroup[] = "Margins (inches)";
constexpr char kTopMarginLabel[] = "Top";
constexpr char kBottomMarginLabel[] = "Bottom";
constexpr char kLeftMarginLabel[] = "Left";
constexpr char kRightMarginLabel[] = "Right";
constexpr char kOptionsGroup[] = "Options";
constexpr char kColumnHeaders[] = "Column Headers";
constexpr char kPageNumbers[] = "Page Numbers";
constexpr char kPrintLandscape[] = "Print Landscape";
constexpr char kDateOnPages[] = "Date On Pages";
constexpr char kUseTotals[] = "Use Totals";
constexpr char kHorizontalLines[] = "Horizontal Lines";
constexpr char kVerticalLines[] = "Vertical Lines";
constexpr char kGroupLevel1[] = "Group by Level 1 Sort";
constexpr char kGroupLevel2[] = "Group by Level 2 Sort";
constexpr char kFontsGroup[] = "Fonts";
constexpr char kSetFontsButton[] = "&Set Fonts";
constexpr char kSpecifyContentButton[] = "&Specify Report Content";
constexpr char kUpdateButton[] = "&Update";
constexpr char kDeleteButton[] = "&Delete";
constexpr char kCancelButton[] = "&Cancel";
constexpr char kHelpButton[] = "&Help";
constexpr char kOkButton[] = "&Ok";
constexpr char kHelpKeyword[] = "User Defined Reports";

constexpr char kTo90Question[] =
    "Switching to 90 characters from 120 or 150 will truncate the current defined lines.  In "
    "addition, the font size will be reset to a 10 point as a default.  Are you sure you wish to "
    "do this?";
constexpr char kTo120Question[] =
    "Switching to 120 characters from 150 will truncate the current defined lines.  In addition, "
    "the font size will be reset to a 8 point as a default.  Are you sure you wish to do this?";
constexpr char kTo120Notice[] =
    "The Report Body font size has been set to a 8 Point default size as.";
constexpr char kTo150Notice[] =
    "The Report Body font size has been set to a 6 Point default size as a result of switching to "
    "150 characters per line.";
constexpr char kBadNumLines[] = "Number of lines must be in range of 0 to 12.  Please correct.";
constexpr char kBadMargin[] = "Invalid margin entered.  Please correct.";
constexpr char kRenamedQuestion[] =
    "Report Title has changed!  Do you wish to save this as a new report?   (YES saves as new "
    "report.  NO overwrites old report.  CANCEL aborts.)";
constexpr char kDeleteQuestion[] = "Are you sure you want to delete this report?";

// TReportFonts.
constexpr char kReportFontsCaption[] = "Report Fonts";
constexpr char kTitlesFont[] = "Titles Font";
constexpr char kColumnHeaderFont[] = "Column Header Font";
constexpr char kReportBodyFont[] = "Report Body Font";
constexpr char kFootnoteFont[] = "Footnote Font";
constexpr char kNewFontButton[] = "New Font";
constexpr char kCloseButton[] = "&Close";

// TRepLayout.
constexpr char kRepLayoutCaption[] = "Specify Report Layout";
constexpr char kReportHeading[] = "Report: ";
constexpr char kReportBodyBand[] = "Report Body";
constexpr char kReportTotalsBand[] = "Report Totals";
constexpr char kFillerBox[] = "Filler";
constexpr char kGridFont[] = "Arial";

// TReportPart.
constexpr char kReportPartCaption[] = "Select Report Part";
constexpr char kSelectedPart[] = "Selected Part";
constexpr char kPartLine[] = "Line ";
constexpr char kPartItem[] = ", Item ";
constexpr char kPartTotalsItem[] = "Totals Line, Item ";
constexpr char kFillerRadio[] = "Filler (empty space)";
constexpr char kLabelRadio[] = "Label (constant value)";
constexpr char kFieldRadio[] = "Field (database value)";
constexpr char kLabelTextLabel[] = "Label Text";
constexpr char kFieldListLabel[] = "Field";
constexpr char kFieldWidthLabel[] = "Width (characters)";
constexpr char kInvalidWidth[] = "Invalid width entered.  Please correct.";
constexpr char kNoFieldChosen[] = "No field selected.  Please choose a field from the list.";

}  // namespace klv::report::texts
