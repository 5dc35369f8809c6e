// What the backup and restore dialogs do once the user has chosen: each
// choice of "what" as one function on the open database, with every test
// and message of its own. The dialogs only pick the choice and the place.
//
// Promises:
// - Every copy is one of CopyFile (CopyRules.h): a failed or interrupted
//   copy leaves the file it would have replaced as it was.
// - The database is copied while this copy of the program holds the table
//   exclusively, so no other copy changes it mid-copy; it is open shared
//   again afterwards in every case, with search mode as before.
// - A restore puts files beside the open database (the database into its
//   directory, data lists and settings beside it), where the program reads
//   them; the report definitions go to the program directory. A failed
//   restore leaves the open database open, shared and unchanged.
// - Each function returns true when it completed its copy (its success
//   message shown), false after a refusal or failure (its message shown).
#pragma once

#include <functional>

#include <QString>

#include "app/OpenDatabase.h"
#include "backup/CopyRules.h"

class QWidget;

namespace klv::backup {

// The four things the dialogs copy, in the order of their radio buttons.
enum class What { kDatabase, kLists, kConfig, kReports };

// What a restore needs from the program beyond the open database.
struct RestoreHooks {
  // Opens the restored database at path as the user's Open would (the
  // window's switch); empty: the open database's own switch.
  std::function<void(const QString& path)> switch_to;
  // The open database's settings were read again.
  std::function<void()> settings_read;
  // The report definitions file was replaced.
  std::function<void()> reports_replaced;
};

bool BackupDatabase(app::OpenDatabase& db, const QString& dest_dir, QWidget* owner,
                    const CopyPlace& place);
bool BackupLists(app::OpenDatabase& db, const QString& dest_dir, QWidget* owner,
                 const CopyPlace& place);
bool BackupConfig(app::OpenDatabase& db, const QString& dest_dir, QWidget* owner,
                  const CopyPlace& place);
bool BackupReports(app::OpenDatabase& db, const QString& dest_dir, QWidget* owner,
                   const CopyPlace& place);
bool Backup(What what, app::OpenDatabase& db, const QString& dest_dir, QWidget* owner,
            const CopyPlace& place);

// chosen: the file picked in the restore's open dialog.
bool RestoreDatabase(app::OpenDatabase& db, const QString& chosen, QWidget* owner,
                     const CopyPlace& place, const RestoreHooks& hooks);
bool RestoreLists(app::OpenDatabase& db, const QString& chosen, QWidget* owner,
                  const CopyPlace& place);
bool RestoreConfig(app::OpenDatabase& db, const QString& chosen, QWidget* owner,
                   const CopyPlace& place, const RestoreHooks& hooks);
bool RestoreReports(app::OpenDatabase& db, const QString& chosen, QWidget* owner,
                    const CopyPlace& place, const RestoreHooks& hooks);
bool Restore(What what, app::OpenDatabase& db, const QString& chosen, QWidget* owner,
             const CopyPlace& place, const RestoreHooks& hooks);

}  // namespace klv::backup
