// Fixed texts of the backup and restore dialogs, kept in one place. They are
// the program's own wording, character for character (double blanks
// included).
#pragma once

namespace klv::backup::texts {

inline constexpr char kBackupCaption[] = "Backup";
inline constexpr char kRestoreCaption[] = "Restore";
inline constexpr char kHelpTopic[] = "Backup and Restore";

inline constexpr char kCaptionError[] = "Error";
inline constexpr char kCaptionWarning[] = "Warning";
inline constexpr char kCaptionNotice[] = "Notice";
// The caption of a plain message box: the program's title.
inline constexpr char kCaptionPlain[] = "Kolvane Coins 97";

// The backup dialog.
inline constexpr char kWhatToBackUp[] = "What To Back Up";
inline constexpr char kBackupDatabase[] = "Current &Database (*.DBF)";
inline constexpr char kBackupLists[] = "Data &Lists of Current Database (*.0xx)";
inline constexpr char kBackupConfig[] = "Config &File of Current Database (*.INI)";
inline constexpr char kReportDefinitions[] = "Global &Report Definitions (*.URP)";
inline constexpr char kWhereTo[] = "Where To Back Up To";
inline constexpr char kStartBackup[] = "&Start Back Up";
inline constexpr char kCancel[] = "&Cancel";
inline constexpr char kClose[] = "&Close";
inline constexpr char kHelp[] = "&Help";

// The restore dialog.
inline constexpr char kWhatToRestore[] = "What To Restore";
inline constexpr char kRestoreDatabase[] = "&Database File (*.DBF)";
inline constexpr char kRestoreLists[] = "Data &Lists of a Database (*.0xx)";
inline constexpr char kRestoreConfig[] = "Config &File of a Database (*.INI)";
inline constexpr char kStartRestore[] = "&Start Restore";

// The open dialogs of the restore.
inline constexpr char kRestoreDatabaseTitle[] = "Restore Database File";
inline constexpr char kRestoreListsTitle[] = "Restore Data List Files";
inline constexpr char kRestoreConfigTitle[] = "Restore Configuration File";
inline constexpr char kRestoreUrpTitle[] = "Restore URP File";
inline constexpr char kDbfSuffix[] = "DBF";
inline constexpr char kDbfFilter[] = "DBase Files (*.DBF) | *.DBF";
inline constexpr char kUrpSuffix[] = "URP";
inline constexpr char kUrpFilter[] = "Reports Files (*.URP) | *.URP";

// The progress box of a long copy.
inline constexpr char kCopying[] = "Copying...";

// Files.
inline constexpr char kReportFile[] = "KLVCOIN.URP";
inline constexpr char kDbfExtension[] = ".DBF";
inline constexpr char kIniExtension[] = ".INI";

// Same-file test.
inline constexpr char kSameFileBackup[] =
    "Destination File and Source File are identical.  You cannot copy a file  over top of "
    "itself.  Please choose a different directory/folder to backup to.";
inline constexpr char kSameFileBackupUrp[] =
    "Destination File and Source File are identical.  You cannot copy a file  over top of "
    "itself.  Please choose a different directory to backup to.";
inline constexpr char kSameFileRestore[] =
    "Destination File and Source File are identical.  You cannot copy a file  over top of "
    "itself.  Please choose a different directory/folder to restore from.";

// Backup.
inline constexpr char kBackupInUse[] =
    "Backing up the database requires exclusive use of the DBase File.  Make sure that the DBase "
    "File is not in use by another program  or that no other users are running the software or "
    "that no other copies of the software are in use.";
inline constexpr char kBackupNoRoom[] =
    "There is not enough room on the destination drive to perform a backup.  If you are already "
    "using blank empty media, then you will need to use the ASCII Delimited Import/Export "
    "functions for backup and restore purposes.";
inline constexpr char kBackupNoRoomUrp[] =
    "There is not enough room on the destination drive to backup this file.  You will need to "
    "free up space on the destination drive or use an alternative method to backup the "
    "\"KLVCOIN.URP\" file.";
inline constexpr char kBackupFailed[] = "An error occurred during backup.  Backup not completed.";
inline constexpr char kBackupDone[] = "Backup completed successfully.";

// Restore.
inline constexpr char kRestoreInUse[] =
    "Unable to restore the database.  Make sure the database is not in use by any other users or "
    "by another copy of the software.";
inline constexpr char kRestoreNoRoom[] =
    "There is not enough room on the destination drive to perform a restore.  You will need to "
    "free up hard drive space before completing the restore.";
inline constexpr char kRestoreFailed[] =
    "An error occurred during restore.  Restore not completed.";
inline constexpr char kRestoreDone[] = "Restore completed successfully.";
// A missing source file: the parts joined around the file's name in quotes.
inline constexpr char kMissing1[] = "The following file ";
inline constexpr char kMissing2[] = " could not be";
inline constexpr char kMissing3[] = " located on the specified source drive.";
inline constexpr char kListsRestored[] = "ALL proper \"Data List\" files restored successfully.";
inline constexpr char kListsIncomplete[] =
    "One or more files were not restored.  Restore may not have completed successfully.";
inline constexpr char kConfigRestored[] = "Configuration File restored successfully.";
inline constexpr char kUrpMissing[] =
    "The Report Definitions file \"KLVCOIN.URP\" could not be  located on the specified source "
    "drive.";

}  // namespace klv::backup::texts
