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

}  // namespace klv::db::texts
