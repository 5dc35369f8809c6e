// The fixed texts of export and import, character for character as the
// user sees them (double blanks included). The forms show them; the logic
// names which one applies.
#pragma once

namespace klv::transfer::texts {

// Captions of the message boxes.
constexpr char kError[] = "Error";
constexpr char kOk[] = "Ok";
constexpr char kReOrder[] = "Re-Order";

constexpr char kYes[] = "Yes";
constexpr char kNo[] = "No";

// Export.
constexpr char kExportCaption[] = "Export";
constexpr char kExportFieldHeader[] = "FIELD";
constexpr char kExportItHeader[] = "EXPORT IT";
constexpr char kUpButton[] = "&Up";
constexpr char kDownButton[] = "&Down";
constexpr char kDefaultsButton[] = "D&efaults";
constexpr char kWhatToExport[] = "What to Export";
constexpr char kExportEntire[] = "Export Entire Database";
constexpr char kExportSearch[] = "Export Search Criteria";
constexpr char kHowToExport[] = "How To Export";
constexpr char kAsciiFile[] = "Ascii Delimited Text File";
constexpr char kDBaseFile[] = "DBase File (DBF)";
constexpr char kCsvFile[] = "CSV File (UTF-8)";
constexpr char kCsv1252File[] = "CSV File (Windows-1252)";
constexpr char kXlsxFile[] = "Excel Workbook (XLSX)";
// The caption of a workbook's column of the coins' obverse pictures.
constexpr char kPictureColumn[] = "Obverse";
constexpr char kFirstRow[] = "&First Record Contains Field Names";
constexpr char kStartExport[] = "&Start Export";
constexpr char kExitButton[] = "E&xit";
constexpr char kHelpButton[] = "&Help";
constexpr char kExportProgress[] = "Export Progress";
constexpr char kExportNote[] = "Double click on a field to toggle it between Yes and No.";
constexpr char kExportTitle[] = "Export Data";
constexpr char kAsciiFilter[] = "Ascii Delimited Text (*.TXT)|*.TXT";
constexpr char kAsciiExtension[] = "TXT";
constexpr char kDBaseFilter[] = "DBase (*.DBF)|*.DBF";
constexpr char kDBaseExtension[] = "DBF";
constexpr char kCsvFilter[] = "CSV Text (*.CSV)|*.CSV";
constexpr char kCsvExtension[] = "CSV";
constexpr char kXlsxFilter[] = "Excel Workbook (*.XLSX)|*.XLSX";
constexpr char kXlsxExtension[] = "XLSX";
constexpr char kReOrderQuestion[] =
    "This will set the order of fields to the program defaults.  Continue?";
constexpr char kNoFieldsSelected[] = "No fields selected for export.";
constexpr char kInvalidFileType[] = "Invalid file type selected.";
constexpr char kExportComplete[] = "Export Complete.";
constexpr char kExportHelpKeyword[] = "Export Window";

// Import format.
constexpr char kImportFormatCaption[] = "Import Format";
constexpr char kAsciiDelimited[] = "Ascii Delimited File";
constexpr char kDBFFormat[] = "DBase File (DBF)";
constexpr char kCsvFormat[] = "CSV File from a Spreadsheet";
constexpr char kFileButton[] = "Select &File";
constexpr char kCancelButton[] = "&Cancel";
constexpr char kImportTitle[] = "Import Data";
constexpr char kDBFOpenFilter[] = "DBase  (*.DBF)|*.DBF";

// The first-line message: kNotDelimited1 + kNotDelimited2 + kNotDelimited3
// + the problem's text.
constexpr char kNotDelimited1[] =
    "The file selected does not appear to be an ASCII delimited text file.  ";
constexpr char kNotDelimited2[] =
    "An ASCII delimited file requires a unique format of each field being ";
constexpr char kNotDelimited3[] = "surrounded by double quotes and separated by a comma.  ";
constexpr char kProblemTooLong[] =
    "The selected file has a field that is greater than 255 characters.";
constexpr char kProblemUnmatched[] =
    "The selected file had an unexpected end of a line most likely due to an unmatched quote.";
constexpr char kProblemTooMany1[] = "The selected file has too many fields.  ";
constexpr char kProblemTooMany2[] =
    "There are at least 10 more fields than are required by Kolvane.";

// Import.
constexpr char kImportCaption[] = "ASCII Delimited Import";
constexpr char kAsciiImportCaption[] = "Ascii Delimited Text Import";
constexpr char kDBaseImportCaption[] = "DBase File Import";
constexpr char kCsvImportCaption[] = "CSV File Import";
constexpr char kKolvaneFields[] = "KOLVANE FIELDS";
constexpr char kImportFields[] = "IMPORT FIELDS";
constexpr char kUse[] = "USE";
constexpr char kEmpty[] = "<EMPTY>";
constexpr char kBlankField[] = "<BLANK FIELD>";
constexpr char kSkipFirst[] = "Skip First Record";
constexpr char kStartImport[] = "&Start Import";
constexpr char kFieldLabel[] = "Field";
constexpr char kAlignmentLabel[] = "Alignment";
constexpr char kImportLabel[] = "Import";
constexpr char kCountLabel[] = "Count";
constexpr char kImportNote[] =
    "Line up the import fields with the Kolvane fields using Up and Down.  Double click a USE "
    "cell to switch it between Yes and No.";
constexpr char kImportComplete[] = "Import Complete.";
constexpr char kImportHelpKeyword[] = "Import Window";

// The closing message's additions and the message of an import that stopped.
// When any value was cut, not read or changed, or a row or column left out,
// kImportComplete is followed by the rows imported and each count that is
// not 0, in this order: "  " + count + the count's end; then the columns
// not imported, "  " + kColumnsNotRead + their names joined by ", " + ".".
constexpr char kCountStart[] = "  ";
constexpr char kRowsImportedEnd[] = " record(s) were imported.";
constexpr char kCutEnd[] = " value(s) were cut to the size of their fields.";
constexpr char kUnreadEnd[] = " number or date value(s) could not be read and were left blank.";
constexpr char kReplacedEnd[] =
    " character(s) that Windows-1252 cannot hold were stored as the nearest letters.";
constexpr char kEmptyRowsEnd[] = " record(s) of only empty values were skipped.";
constexpr char kColumnsNotRead[] = "Source columns past 30 were not imported: ";
// kStoppedAtLine / kStoppedAtRow + the line (row) + ": " + the reason +
// kStoppedCountStart + the count + kStoppedCountEnd.
constexpr char kStoppedAtLine[] = "The import stopped at line ";
constexpr char kStoppedAtRow[] = "The import stopped at record ";
constexpr char kStoppedMalformed[] =
    "a closing quote is followed by a character that is neither a comma nor a quote.";
constexpr char kStoppedCountStart[] = "  ";
constexpr char kStoppedCountEnd[] = " record(s) were imported before it.";

}  // namespace klv::transfer::texts
