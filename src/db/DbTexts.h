// Fixed texts the collection-database code shows to the user, kept in one
// place. They are the program's own wording, character for character
// (double blanks included).
#pragma once

namespace klv::texts {

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

}  // namespace klv::texts
