// Fixed texts the platform layer shows to the user, kept in one place. (The
// help file reader's own warnings about a help file's lines stay with it.)
#pragma once

namespace klv::platform::texts {

inline constexpr char kCaptionError[] = "Error";
// The help window's title when the help file has none.
inline constexpr char kHelpTitle[] = "Help";
// %1 the help file's name, %2 the directories looked in, one per line.
inline constexpr char kHelpFileMissing[] =
    "The help file \"%1\" could not be found.  It was looked for in:\n%2";
// A save dialog's chosen folder that is gone; %1 the folder.
inline constexpr char kFolderMissing[] = "The folder \"%1\" does not exist.";
// Why a directory cannot be used; %1 the directory.
inline constexpr char kNotADirectory[] = "\"%1\" exists and is not a directory";
inline constexpr char kCannotCreateDirectory[] = "The directory \"%1\" cannot be created";

}  // namespace klv::platform::texts
