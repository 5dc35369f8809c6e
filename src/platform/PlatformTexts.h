// Fixed texts the platform layer shows to the user, kept in one place. (The
// help file reader's own warnings about a help file's lines stay with it.)
//
// kHelpFileMissing: %1 the help file's name, %2 the directories looked in,
// one per line. kFolderMissing: a save dialog's chosen folder that is gone.
// kNotADirectory, kCannotCreateDirectory: why a directory cannot be used.
#pragma once

namespace klv::platform::texts {

inline constexpr char kCaptionError[] = "Error", kHelpTitle[] = "Help";
inline constexpr char kHelpFileMissing[] =
    "The help file \"%1\" could not be found.  It was looked for in:\n%2";
inline constexpr char kFolderMissing[] = "The folder \"%1\" does not exist.",
                      kNotADirectory[] = "\"%1\" exists and is not a directory",
                      kCannotCreateDirectory[] = "The directory \"%1\" cannot be created";

}  // namespace klv::platform::texts
