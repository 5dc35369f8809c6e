#include "backup/Operations.h"

#include <algorithm>

#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>

#include "app/AppTexts.h"
#include "backup/BackupTexts.h"
#include "db/DbFiles.h"
#include "pictures/PictureStore.h"
#include "platform/Paths.h"
#include "platform/Prompts.h"

namespace klv::backup {
namespace {

using platform::MsgButton;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::prompts;

using platform::L;

void Show(QWidget* owner, const char* caption, const QString& text, MsgIcon icon) {
  prompts().MessageBox(owner, L(caption), text, icon, MsgButtons::kOk, MsgButton::kOk);
}
void Error(QWidget* owner, const char* text) {
  Show(owner, texts::kCaptionError, L(text), MsgIcon::kError);
}
void Notice(QWidget* owner, const char* text) {
  Show(owner, texts::kCaptionNotice, L(text), MsgIcon::kInformation);
}
void Missing(QWidget* owner, const QString& name) {
  Show(owner, texts::kCaptionWarning,
       L(texts::kMissing1) + '"' + name + '"' + L(texts::kMissing2) + L(texts::kMissing3),
       MsgIcon::kWarning);
}

// The hourglass while a copy runs.
class Hourglass {
 public:
  // Only a GUI application has cursors; the logic also runs under a bare
  // QCoreApplication (qGuiApp would cast that blindly).
  Hourglass() : gui_(qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
    if (gui_) QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  }
  ~Hourglass() {
    if (gui_) QGuiApplication::restoreOverrideCursor();
  }
  Hourglass(const Hourglass&) = delete;
  Hourglass& operator=(const Hourglass&) = delete;

 private:
  bool gui_;
};

bool Copy(const CopyPlace& place, const QString& from, const QString& dest) {
  Hourglass wait;
  return CopyFile(*place.env, from, dest, nullptr, place.progress);
}

// The pictures of the table at from_dbf copied beside the table at to_dbf.
bool CopyPictures(const CopyPlace& place, const QString& from_dbf, const QString& to_dbf) {
  const std::string from = pictures::FolderOf(from_dbf.toStdString());
  const QString to = QString::fromStdString(pictures::FolderOf(to_dbf.toStdString()));
  for (const std::string& name : pictures::FilesToCopy(from_dbf.toStdString())) {
    if (!QDir().mkpath(to)) return false;
    if (!Copy(place, QString::fromStdString(from + name), to + QString::fromStdString(name)))
      return false;
  }
  return true;
}

uint64_t SizeOf(const QString& path) {
  return static_cast<uint64_t>(std::max<qint64>(QFileInfo(path).size(), 0));
}

QString Dir(const QString& path) {
  return QFileInfo(path).absolutePath();
}

// The existing file of that name in dir in any letter case, else the name
// as the program spells it.
QString Companion(const QString& dir, const QString& name) {
  return platform::CompanionFile(dir, name);
}

QString ReportFile(app::OpenDatabase& db) {
  return Companion(db.state().program_dir, L(texts::kReportFile));
}

// The restored table has no index of its own: the old one is dropped, and
// "NewIndex" is built on the current sort string. The table is open
// exclusively, also afterwards.
void FreshIndex(dbf::Table& table, app::OpenDatabase& db, const QString& dbf_path) {
  table.Close();
  const db::DatabasePaths p = db::DatabasePaths::From(dbf_path);
  if (QFileInfo::exists(p.mdx)) QFile::remove(p.mdx);
  db::RemoveMDXByte(p.dbf);
  table.Open();
  if (db.sort_string().isEmpty()) return;
  table.AddIndex(app::texts::kIndexTag, db.sort_string().toStdString());
  table.SetIndexName(app::texts::kIndexTag);
}

}  // namespace

bool BackupDatabase(app::OpenDatabase& db, const QString& dest_dir, QWidget* owner,
                    const CopyPlace& place) {
  const QString source = db.paths().dbf;
  const QString dest = JoinPath(dest_dir, db.paths().table_name + L(texts::kDbfExtension));
  if (SameFile(source, dest)) {
    Error(owner, texts::kSameFileBackup);
    return false;
  }
  // Held exclusively for the copy; the messages wait until it is shared
  // again.
  const char* failure = nullptr;
  const bool ran = db.RunExclusive([&](dbf::Table&) {
    if (!CopyFits(place, dest_dir, SizeOf(source))) {
      failure = texts::kBackupNoRoom;
    } else if (!Copy(place, source, dest) || !CopyPictures(place, source, dest)) {
      failure = texts::kBackupFailed;
    }
  });
  if (!ran) failure = texts::kBackupInUse;
  if (failure) {
    Error(owner, failure);
    return false;
  }
  Notice(owner, texts::kBackupDone);
  return true;
}

bool BackupLists(app::OpenDatabase& db, const QString& dest_dir, QWidget* owner,
                 const CopyPlace& place) {
  if (db.lists_in_use()) db.lists().SaveAllLists();
  for (int list = 1; list <= 3; ++list) {
    const QString name = db.paths().table_name + ListExtension(list);
    const QString source = Companion(db.paths().dir, name);
    if (!QFileInfo::exists(source)) continue;
    const QString dest = JoinPath(dest_dir, name);
    if (SameFile(source, dest)) {
      Error(owner, texts::kSameFileBackup);
      return false;
    }
    if (!Copy(place, source, dest)) {
      Error(owner, texts::kBackupFailed);
      return false;
    }
  }
  Notice(owner, texts::kBackupDone);
  return true;
}

bool BackupConfig(app::OpenDatabase& db, const QString& dest_dir, QWidget* owner,
                  const CopyPlace& place) {
  db.WriteDatabaseSettings(db.paths().ini);
  const QString source = db.paths().ini;
  if (QFileInfo::exists(source)) {
    const QString dest = JoinPath(dest_dir, db.paths().table_name + L(texts::kIniExtension));
    if (SameFile(source, dest)) {
      Error(owner, texts::kSameFileBackup);
      return false;
    }
    if (!Copy(place, source, dest)) {
      Error(owner, texts::kBackupFailed);
      return false;
    }
  }
  Notice(owner, texts::kBackupDone);
  return true;
}

bool BackupReports(app::OpenDatabase& db, const QString& dest_dir, QWidget* owner,
                   const CopyPlace& place) {
  const QString source = ReportFile(db);
  const QString dest = JoinPath(dest_dir, L(texts::kReportFile));
  if (SameFile(source, dest)) {
    Error(owner, texts::kSameFileBackupUrp);
    return false;
  }
  if (!CopyFits(place, dest_dir, SizeOf(source))) {
    Error(owner, texts::kBackupNoRoomUrp);
    return false;
  }
  if (!Copy(place, source, dest)) {
    Error(owner, texts::kBackupFailed);
    return false;
  }
  Notice(owner, texts::kBackupDone);
  return true;
}

bool Backup(What what, app::OpenDatabase& db, const QString& dest_dir, QWidget* owner,
            const CopyPlace& place) {
  switch (what) {
    case What::kDatabase:
      return BackupDatabase(db, dest_dir, owner, place);
    case What::kLists:
      return BackupLists(db, dest_dir, owner, place);
    case What::kConfig:
      return BackupConfig(db, dest_dir, owner, place);
    case What::kReports:
      return BackupReports(db, dest_dir, owner, place);
  }
  return false;
}

bool RestoreDatabase(app::OpenDatabase& db, const QString& chosen, QWidget* owner,
                     const CopyPlace& place, const RestoreHooks& hooks) {
  // 1. and 2.
  if (db.searching()) db.EndSearch();
  const QString open = db.paths().dbf;
  // 3. Beside the open database, where its own files are.
  const QString dest_dir = db.paths().dir;
  const QString dest = Companion(dest_dir, QFileInfo(chosen).fileName());
  if (SameFile(chosen, open) || SameFile(chosen, dest)) {
    Error(owner, texts::kSameFileRestore);
    return false;
  }
  // 4.
  if (!db::CheckDBaseFormat(owner, chosen)) return false;
  const uint64_t size = SizeOf(chosen);
  if (SameFile(dest, open)) {
    // 5. to 8. over the open database, held for the copy.
    const char* failure = nullptr;
    const bool ran = db.RunExclusive([&](dbf::Table& table) {
      if (!CopyFits(place, dest_dir, size)) {
        failure = texts::kRestoreNoRoom;
      } else if (!Copy(place, chosen, open)) {
        failure = texts::kRestoreFailed;
      } else {
        FreshIndex(table, db, open);
        if (!CopyPictures(place, chosen, open)) failure = texts::kRestoreFailed;
      }
    });
    if (!ran) {
      Show(owner, texts::kCaptionPlain, L(texts::kRestoreInUse), MsgIcon::kNone);
      return false;
    }
    if (failure) {
      Error(owner, failure);
      return false;
    }
    Notice(owner, texts::kRestoreDone);
    return true;
  }
  // Another database: a file of its name that another copy has open is not
  // replaced under it.
  if (QFileInfo::exists(dest) && db::DBaseInUse(dest)) {
    Show(owner, texts::kCaptionPlain, L(texts::kRestoreInUse), MsgIcon::kNone);
    return false;
  }
  if (!CopyFits(place, dest_dir, size)) {
    Error(owner, texts::kRestoreNoRoom);
    return false;
  }
  if (!Copy(place, chosen, dest) || !CopyPictures(place, chosen, dest)) {
    Error(owner, texts::kRestoreFailed);
    return false;
  }
  const db::DatabasePaths p = db::DatabasePaths::From(dest);
  if (QFileInfo::exists(p.mdx)) QFile::remove(p.mdx);
  db::RemoveMDXByte(p.dbf);
  if (hooks.switch_to) {
    hooks.switch_to(dest);
  } else {
    db.SwitchTo(dest, /*is_new=*/false);
  }
  if (!SameFile(db.paths().dbf, dest)) return false;  // the switch said why
  Notice(owner, texts::kRestoreDone);
  return true;
}

bool RestoreLists(app::OpenDatabase& db, const QString& chosen, QWidget* owner,
                  const CopyPlace& place) {
  bool missing = false;
  for (int list = 1; list <= 3; ++list) {
    const QString name = db.paths().table_name + ListExtension(list);
    const QString source = Companion(Dir(chosen), name);
    const QString dest = Companion(db.paths().dir, name);
    if (SameFile(source, dest)) {
      Error(owner, texts::kSameFileRestore);
      return false;
    }
    if (!QFileInfo::exists(source)) {
      Missing(owner, name);
      missing = true;
      continue;
    }
    if (!Copy(place, source, dest)) {
      Error(owner, texts::kRestoreFailed);
      return false;
    }
  }
  Notice(owner, missing ? texts::kListsIncomplete : texts::kListsRestored);
  if (db.lists_in_use()) db.LoadAllList();
  return !missing;
}

bool RestoreConfig(app::OpenDatabase& db, const QString& chosen, QWidget* owner,
                   const CopyPlace& place, const RestoreHooks& hooks) {
  const QString name = TableNameOf(chosen);
  const QString source = Companion(Dir(chosen), name + L(texts::kIniExtension));
  const QString dest = Companion(db.paths().dir, name + L(texts::kIniExtension));
  if (SameFile(source, dest)) {
    Error(owner, texts::kSameFileRestore);
    return false;
  }
  if (!QFileInfo::exists(source)) {
    Missing(owner, name + L(texts::kIniExtension));
    return false;
  }
  if (!Copy(place, source, dest)) {
    Error(owner, texts::kRestoreFailed);
    return false;
  }
  if (name.compare(db.paths().table_name, Qt::CaseInsensitive) == 0) {
    db.ReadDatabaseSettings(db.paths().ini);
    db.BuildSortString();
    const QString sort = db.sort_string();
    // The sort order may have changed with the settings: its index is built
    // again when the table can be had alone.
    db.RunExclusive([&](dbf::Table& table) {
      if (sort.isEmpty()) return;
      for (const dbf::TagInfo& tag : table.Tags()) {
        if (QString::fromStdString(tag.name).compare(L(app::texts::kIndexTag),
                                                     Qt::CaseInsensitive) == 0) {
          table.SetIndexName("");
          table.DeleteIndex(app::texts::kIndexTag);
          break;
        }
      }
      table.AddIndex(app::texts::kIndexTag, sort.toStdString());
    });
    if (hooks.settings_read) hooks.settings_read();
  }
  Notice(owner, texts::kConfigRestored);
  return true;
}

bool RestoreReports(app::OpenDatabase& db, const QString& chosen, QWidget* owner,
                    const CopyPlace& place, const RestoreHooks& hooks) {
  const QString source = Companion(Dir(chosen), L(texts::kReportFile));
  const QString dest = ReportFile(db);
  if (SameFile(source, dest)) {
    Error(owner, texts::kSameFileRestore);
    return false;
  }
  if (!QFileInfo::exists(source)) {
    Error(owner, texts::kUrpMissing);
    return false;
  }
  if (!CopyFits(place, Dir(dest), SizeOf(source))) {
    Error(owner, texts::kRestoreNoRoom);
    return false;
  }
  if (!Copy(place, source, dest)) {
    Error(owner, texts::kRestoreFailed);
    return false;
  }
  if (hooks.reports_replaced) hooks.reports_replaced();
  Notice(owner, texts::kRestoreDone);
  return true;
}

bool Restore(What what, app::OpenDatabase& db, const QString& chosen, QWidget* owner,
             const CopyPlace& place, const RestoreHooks& hooks) {
  switch (what) {
    case What::kDatabase:
      return RestoreDatabase(db, chosen, owner, place, hooks);
    case What::kLists:
      return RestoreLists(db, chosen, owner, place);
    case What::kConfig:
      return RestoreConfig(db, chosen, owner, place, hooks);
    case What::kReports:
      return RestoreReports(db, chosen, owner, place, hooks);
  }
  return false;
}

}  // namespace klv::backup
