// Fixed texts the collection-database code shows to the user, kept in one
// place. They are the program's own wording, character for character
// (double blanks included).
#pragma once

namespace klv::db::texts {

// The program's title, also the caption of the general error display; the
// message box captions every window shares.
inline constexpr char kTitle[] = "Kolvane Coins 97";
inline constexpr char kCaptionError[] = "Error";
inline constexpr char kCaptionWarning[] = "Warning";
inline constexpr char kCaptionConfirm[] = "Confirm";

// Creating a coin table over a file someone else holds: the path in double
// quotes goes between the two parts.
inline constexpr char kTableInUse1[] = "The table ";
inline constexpr char kTableInUse2[] =
    " is currently in use by another program.  New table creation will be aborted.";

inline constexpr char kNotACoinTable[] =
    "This DBase file was not created with Kolvane Coins 97.  It cannot be opened.  You may, "
    "however, import data from this file using the import function.";
inline constexpr char kInvalidFileType[] = "Invalid file type selected.";

// The sample collection shipped with the program; %1 is where it was looked
// for (kSampleMissing), the program directory and the system's reason
// (kSampleCopyError).
inline constexpr char kSampleTableFile[] = "SAMPLE.DBF";
inline constexpr char kSampleIndexFile[] = "SAMPLE.MDX";
inline constexpr char kSampleMissing[] =
    "The sample collection is not installed.  SAMPLE.DBF and SAMPLE.MDX were looked for in:\n%1";
inline constexpr char kSampleCopyError[] = "The sample collection could not be copied into %1:  %2";

// Pick lists: the program directory's default list files.
inline constexpr char kCountryListFile[] = "COUNTRY.LST";
inline constexpr char kTopicListFile[] = "TOPIC.LST";
inline constexpr char kConditionListFile[] = "CONDTION.LST";  // spelled so
inline constexpr char kMiscListFile[] = "MISC.LST";

// The list names of the list editor's caption, by list kind 1 to 4.
inline constexpr char kCountryListName[] = "Country";
inline constexpr char kTopicListName[] = "Topic";
inline constexpr char kConditionListName[] = "Condition";
inline constexpr char kMiscListName[] = "Miscellaneous";

// A list file that was opened but could not be read or written to the end.
// %1 is the file's path, %2 the system's reason.
inline constexpr char kListReadError[] = "Input/output error reading \"%1\":  %2";
inline constexpr char kListWriteError[] = "Input/output error writing \"%1\":  %2";

// Conversion of the tables of the two earlier versions, kept in the program
// directory under these names.
inline constexpr char kCaptionConvert[] = "Convert";
inline constexpr char kOldTableV2[] = "C2LOG.DBF";
inline constexpr char kOldTableV1[] = "CLOG.DBF";
inline constexpr char kConvertV2Question[] =
    "A database from a previous version (2.X) has been detected.  Would you like to convert it "
    "now?  NOTE: After conversion the old file will be deleted.  You may wish to make a copy of "
    "\"C2LOG.DBF\" first.";
inline constexpr char kConvertV1Question[] =
    "A database from a previous version (1.X) has been detected.  Would you like to convert it "
    "now?  NOTE: After conversion the old file will be deleted.  You may wish to make a copy of "
    "\"CLOG.DBF\" first.";
// A version 1 purchase date that is no date; %1 is the text as built.
inline constexpr char kNotAValidDate[] = "'%1' is not a valid date";
// A failed conversion takes its rows back; said after the error's own text.
inline constexpr char kConversionUndone[] =
    "No rows of the old table were added, and the old file was kept.";

// Maintenance: pack and index rebuild.
inline constexpr char kPackQuestion[] =
    "Deleted items are not permanently removed from the database until packing occurs.  Packing "
    "simply removes them to free up space.  Continue?";
// Said below the question: %1 is the number of deleted rows.
inline constexpr char kPackCount[] = "Deleted rows that packing will remove: %1.";
inline constexpr char kRebuildQuestion[] =
    "It is possible for your index files to become corrupted.  As a result, some items may not "
    "show up in the viewer or in reports.  This will rebuild your index files correctly.  "
    "Continue?";
inline constexpr char kPackInUse[] =
    "Unable to pack table.  Packing requires exclusive use of the DBase File.  Make sure that the "
    "DBase File is not in use by another program  or that no other users are running the "
    "software or that no other copies of the software are in use.";
inline constexpr char kRebuildInUse[] =
    "Unable to reindex table.  Reindexing requires exclusive use of the DBase File.  Make sure "
    "that the DBase File is not in use by another program  or that no other users are running "
    "the software or that no other copies of the software are in use.";
// The operation itself failed; the engine's reason follows.
inline constexpr char kPackFailed[] = "Packing the table failed.\n\n";
inline constexpr char kRebuildFailed[] = "Rebuilding the index failed.\n\n";
inline constexpr char kPackProgress[] = "Packing the database...";
inline constexpr char kRebuildProgress[] = "Rebuilding the indexes...";

// Recalling deleted rows.
inline constexpr char kRecallCaption[] = "Recall Deleted Rows";
inline constexpr char kRecallNone[] = "The database holds no deleted rows.";
inline constexpr char kRecallDone[] = "Rows brought back: %1.";
inline constexpr char kRecallScanning[] = "Looking for deleted rows...";

// Repair of a damaged table: %1 the file, %2 what is wrong with it.
inline constexpr char kRepairQuestion[] =
    "The table \"%1\" is damaged:\n\n%2\n\nRepair it now?  The damaged file is kept aside "
    "unchanged, and a new table with every whole row takes its name.";
// %1 rows kept (of them %2 deleted), %3 where the damaged file now is.
inline constexpr char kRepairDone[] =
    "The table was repaired: %1 rows were kept (%2 of them deleted rows).  The damaged file is "
    "kept as \"%3\".";
inline constexpr char kRepairLost[] = "  %1 rows could not be saved.";
inline constexpr char kRepairFailed[] = "The table could not be repaired:\n\n";
inline constexpr char kCaptionNotice[] = "Notice";

}  // namespace klv::db::texts
