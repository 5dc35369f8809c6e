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
    "definition.  They are left out; the next change to the file keeps the file as it is now "
    "beside it first.";
constexpr char kUrpDamagedRecords[] =
    "The report definitions file \"%1\" holds damaged report definitions (number %2).  "
    "Check them before printing with them.";
// After a change that kept the damaged file aside: the file, the copy.
constexpr char kUrpKeptAside[] =
    "The report definitions file \"%1\" was damaged.  It is kept as it was in \"%2\".";
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
constexpr char kPrintObverse[] = "Print &Obverse Pictures";
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

// Report runs: the status form, the chooser, printing and the preview.
constexpr char kStatusCaption[] = "Report Status Screen";
constexpr char kStatusCanceled[] = "Report Canceled!";
constexpr char kStatusCompleted[] = "Report Completed!";
constexpr char kStatusCancelButton[] = "&Cancel";
constexpr char kStatusOkButton[] = "&Ok";

constexpr char kChooserCaption[] = "Reports";
constexpr char kWhatToPrint[] = "What to Print";
constexpr char kPrintEntire[] = "Print Entire Database";
constexpr char kPrintSearch[] = "Print Search Criteria";
constexpr char kCurrentSortOrder[] = "Current Sort Order";
constexpr char kNoSortOrder[] = "No Sort Order Selected";
constexpr char kViewButton[] = "&View";
constexpr char kPrintButton[] = "&Print";
constexpr char kPrintToFileButton[] = "Print To &File";
constexpr char kPrintToPdfButton[] = "Print To P&DF";
constexpr char kExitButton[] = "E&xit";
constexpr char kModifyButton[] = "&Modify Report";
constexpr char kNewButton[] = "&New Report";
constexpr char kMenuFile[] = "&File";
constexpr char kMenuOptions[] = "&Options";
constexpr char kMenuHelp[] = "&Help";
constexpr char kMenuView[] = "View";
constexpr char kMenuPrint[] = "Print";
constexpr char kMenuPrintToFile[] = "Print To File";
constexpr char kMenuPrintToPdf[] = "Print To PDF";
constexpr char kMenuPrinterSetup[] = "Printer Setup";
constexpr char kMenuExit[] = "Exit";
constexpr char kMenuModify[] = "Modify Report";
constexpr char kMenuNew[] = "New Report";
constexpr char kChooserHelpKeyword[] = "Report Window";
constexpr char kNoReportSelected[] = "No Report has been selected.  Please choose one.";
constexpr char kReportNotFound[] = "Report format could not be located.";
constexpr char kSaveTextTitle[] = "Save Report As a Text File";
constexpr char kSaveTextFilter[] = "Text Files (*.TXT)|*.TXT";
constexpr char kSaveTextSuffix[] = "TXT";
constexpr char kSavePdfTitle[] = "Save Report As a PDF File";
constexpr char kSavePdfFilter[] = "PDF Files (*.PDF)|*.PDF";
constexpr char kSavePdfSuffix[] = "PDF";

constexpr char kPrintSelectCaption[] = "Printer Selection";
constexpr char kDefaultPrinter[] = "Default Printer";
constexpr char kOtherPrinter[] = "Other Printer";

constexpr char kPrintRangeCaption[] = "Page Printing";
constexpr char kStartingPage[] = "Starting Page";
constexpr char kEndingPage[] = "Ending Page";
constexpr char kRangePrintButton[] = "&Print";
constexpr char kInvalidStartingPage[] = "Invalid Starting Page specified. Please correct.";
constexpr char kInvalidEndingPage[] = "Invalid Ending Page specified.  Please correct.";

constexpr char kPrintJobBusy[] = "Previous print job has not yet finished.  Try again later.";
constexpr char kPreviewFile[] = "&File";
constexpr char kPreviewNavigate[] = "&Navigate";
constexpr char kPreviewView[] = "&View";
constexpr char kPreviewPrintPage[] = "Print Page";
constexpr char kPreviewPrintReport[] = "Print Report";
constexpr char kPreviewPrintRange[] = "Print Range";
constexpr char kPreviewExit[] = "Exit";
constexpr char kPreviewPrevPage[] = "Previous Page";
constexpr char kPreviewNextPage[] = "Next Page";
constexpr char kPreviewFirstPage[] = "First Page";
constexpr char kPreviewLastPage[] = "Last Page";
constexpr char kPreviewUseColor[] = "Use Color";
constexpr char kPreviewZoomIn[] = "Zoom In";
constexpr char kPreviewZoomOut[] = "Zoom Out";
constexpr char kPreviewZoomPageWidth[] = "Zoom Page Width";
constexpr char kPreviewZoomWholePage[] = "Zoom Whole Page";
constexpr const char* kPreviewZoomInItems[2] = {"1 : 1", "2 : 1"};
constexpr const char* kPreviewZoomOutItems[5] = {"1 : 1", "1 : 2", "1 : 3", "1 : 4", "1 : 5"};
// The tool bar's hints.
constexpr char kHintZoomIn[] = "Zoom In";
constexpr char kHintZoomOut[] = "Zoom Out";
constexpr char kHintZoomPageWidth[] = "Zoom Page Width";
constexpr char kHintZoomWholePage[] = "Zoom Whole Page";
constexpr char kHintPrevPage[] = "Prev Page";
constexpr char kHintNextPage[] = "Next Page";
constexpr char kHintPrintPage[] = "Print Page";
constexpr char kHintDone[] = "Done";
constexpr char kZoomLabel[] = "Zoom %";
constexpr char kPageNumberLabel[] = "Page #";
constexpr char kPageLabelStart[] = "Page ";
constexpr char kPageLabelOf[] = " of ";

// Totals captions of a report run; group totals that open a page carry
// their group's caption (%1) too.
constexpr char kTotalsCaption[] = "TOTALS";
constexpr char kGrandTotalsCaption[] = "GRAND TOTALS";
constexpr char kGroupTotalsNamedCaption[] = "%1 TOTALS";

// The command line's report runs (klvcoin --report).
constexpr char kUnknownReport[] = "no report named \"%1\" in %2";

}  // namespace klv::report::texts
