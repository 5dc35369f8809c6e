#include "app/OpenDatabase.h"

#include <QFileInfo>

#include "app/AppTexts.h"
#include "app/Formats.h"
#include "app/Settings.h"
#include "db/DbFiles.h"
#include "db/DbTexts.h"
#include "db/FieldTable.h"
#include "db/Maintenance.h"
#include "platform/Intl.h"
#include "platform/Paths.h"
#include "platform/Prompts.h"

namespace klv::app {

using db::CheckDBaseFormat;
using db::DatabasePaths;
using db::DBaseInUse;
using db::DoLastFiles;
using db::FieldInfo;
using db::FieldKind;
using db::FieldTable;
using db::kFieldCount;

using platform::MsgButton;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::prompts;

namespace {

const dbf::TagInfo* FindTag(const std::vector<dbf::TagInfo>& tags, const char* name) {
  for (const dbf::TagInfo& t : tags) {
    if (QString::fromStdString(t.name).compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
      return &t;
  }
  return nullptr;
}

bool HasTag(dbf::Table& table, const char* name) {
  return FindTag(table.Tags(), name) != nullptr;
}

// Whether the tag name exists with another key than expression (written by
// an earlier sort order, or by another program).
bool TagKeyDiffers(dbf::Table& table, const char* name, const std::string& expression) {
  const std::vector<dbf::TagInfo> tags = table.Tags();
  const dbf::TagInfo* tag = FindTag(tags, name);
  return tag && QString::fromStdString(tag->expression)
                        .trimmed()
                        .compare(QString::fromStdString(expression), Qt::CaseInsensitive) != 0;
}

}  // namespace

QString BuildSortString(const std::array<int, 4>& levels) {
  int n = 0;
  for (int level : levels) {
    if (level > 0) ++n;
  }
  const int width = n == 0 ? 0 : 80 / n;
  QString s;
  for (int level : levels) {
    if (level <= 0 || level > kFieldCount) continue;
    const FieldInfo& f = FieldTable[static_cast<size_t>(level)];
    const QString name = QString::fromLatin1(f.name.data(), static_cast<int>(f.name.size()));
    switch (f.kind) {
      case FieldKind::kText:
        s += QStringLiteral("Upper(Left(%1,%2))+").arg(name).arg(width);
        break;
      case FieldKind::kWhole:
        s += QStringLiteral("STR(%1,12,0)+").arg(name);
        break;
      case FieldKind::kDecimal:
        s += QStringLiteral("STR(%1,12,2)+").arg(name);
        break;
      case FieldKind::kDate:
        s += QStringLiteral("DTOS(%1)+").arg(name);
        break;
    }
  }
  s.chop(1);
  return s.left(255);
}

OpenDatabase::OpenDatabase(AppState& state, base::Env& env, QObject* parent)
    : QObject(parent), state_(state), table_(env), pictures_(env), lists_(QString()) {
  table_.SetOnFilterRecord([this](dbf::Table& table) { return AcceptRow(table); });
  // However a coin is changed (the edit form, a grid cell, the navigator, a
  // replace), its pictures follow what names it.
  pictures_.Follow(table_);
}

OpenDatabase::~OpenDatabase() {
  table_.Close();
}

bool OpenDatabase::AcceptRow(dbf::Table& table) {
  return !searching_ || !filter_ || filter_->Accept(table);
}

void OpenDatabase::Bind(const QString& name) {
  state_.database_name = name;
  state_.settings.last_database = name;
  state_.paths = DatabasePaths::From(name);
  table_.Close();
  table_.SetDirectory(state_.paths.dir.toStdString());
  table_.SetTableName(QFileInfo(state_.paths.dbf).fileName().toStdString());
  emit DatabaseBound();
}

void OpenDatabase::ReadDatabaseSettings(const QString& ini) {
  ReadSettings(state_.settings, kDatabaseSettings, state_.files, ini);
  if (state_.browse_only) {
    // The stored value is kept for writing; the grid stays read-only.
    state_.saved_field_editing = state_.settings.grid_field_editing;
    state_.settings.grid_field_editing = false;
  }
  state_.fonts = UserFontsOf(state_.settings);
}

void OpenDatabase::WriteDatabaseSettings(const QString& ini) {
  StoreUserFonts(state_.settings, state_.fonts);
  if (!state_.browse_only)
    return WriteSettings(state_.settings, kDatabaseSettings, state_.files, ini);
  Settings stored = state_.settings;
  stored.grid_field_editing = state_.saved_field_editing;
  WriteSettings(stored, kDatabaseSettings, state_.files, ini);
}

void OpenDatabase::BuildSortString() {
  sort_string_ = app::BuildSortString(state_.settings.sort_levels);
}

void OpenDatabase::OpenMyTable(IndexSetup setup) {
  table_.Close();
  table_.SetExclusive(false);
  table_.SetReadOnly(false);
  table_.SetRepairIndex(true);
  table_.Open();
  if (sort_string_.isEmpty()) {
    table_.SetIndexName("");
  } else {
    const std::string expr = sort_string_.toStdString();
    const bool has = HasTag(table_, texts::kIndexTag);
    // A tag keyed by another order than the stored levels would show the rows
    // in that order while Sort Order shows the levels: it is built again.
    if (setup == IndexSetup::kRebuild || (setup == IndexSetup::kSelectOrAdd && has &&
                                          TagKeyDiffers(table_, texts::kIndexTag, expr))) {
      if (has) {
        table_.SetIndexName("");
        table_.DeleteIndex(texts::kIndexTag);
      }
      table_.AddIndex(texts::kIndexTag, expr);
    } else if (setup == IndexSetup::kSelectOrAdd && !has) {
      // An index file without the tag (made by another program, or a tag
      // lost to damage): add it rather than fail to select it.
      table_.AddIndex(texts::kIndexTag, expr);
    }
    // In use elsewhere and without the tag: record order, rather than fail.
    table_.SetIndexName(HasTag(table_, texts::kIndexTag) ? texts::kIndexTag : "");
  }
  table_.SetFiltered(searching_);
  table_.First();
}

void OpenDatabase::ReopenMyTable() {
  const uint32_t recno = table_.RecNo();
  OpenMyTable(IndexSetup::kKeep);
  if (recno != 0 && !table_.GoTo(recno)) table_.First();
}

void OpenDatabase::OpenAtStart(const QString& name) {
  Bind(name);
  ReadDatabaseSettings(state_.paths.ini);
  BuildSortString();
  OpenMyTable(IndexSetup::kSelectOrAdd);
}

void OpenDatabase::Close() {
  table_.Close();
}

void OpenDatabase::LoadAllList() {
  lists_.SetProgramDir(state_.program_dir);
  lists_.SetDatabaseBase(state_.paths.base);
  lists_.LoadAllList();
}

void OpenDatabase::LoadDefaultList() {
  // A new database: its own files are written by its first SaveAllLists.
  lists_.SetProgramDir(state_.program_dir);
  lists_.SetDatabaseBase(state_.paths.base);
  lists_.LoadDefaultList();
}

OpenDatabase::SwitchResult OpenDatabase::SwitchTo(const QString& path, bool is_new) {
  // 1.
  if (!is_new && !CheckOrRepair(owner_, path)) return SwitchResult::kRefused;
  // 2.
  if (searching_) EndSearch();
  if (table_.IsOpen() && table_.state() != dbf::Table::State::kBrowse) table_.Cancel();

  // What to go back to when the switch fails part way.
  const QString previous = state_.database_name;
  const DatabasePaths previous_paths = state_.paths;
  const Settings previous_settings = state_.settings;
  const QString previous_sort = sort_string_;
  const UserFonts previous_fonts = state_.fonts;
  const bool previous_saved_editing = state_.saved_field_editing;

  try {
    // 3. and 4.
    Bind(path);
    // 5.
    WriteDatabaseSettings(previous_paths.ini);
    if (lists_in_use_) lists_.SaveAllLists();
    // 6. and 7.
    if (is_new) {
      if (lists_in_use_) LoadDefaultList();
      ReadDatabaseSettings(QString());
    } else {
      if (lists_in_use_) LoadAllList();
      ReadDatabaseSettings(state_.paths.ini);
    }
    // 8.
    BuildSortString();
    // 9. and 10.
    const bool alone = is_new || !DBaseInUse(state_.paths.dbf);
    OpenMyTable(alone ? IndexSetup::kRebuild : IndexSetup::kKeep);
  } catch (const std::exception& e) {
    const QString what = QString::fromStdString(e.what());
    table_.Close();
    state_.settings = previous_settings;
    state_.fonts = previous_fonts;
    state_.saved_field_editing = previous_saved_editing;
    sort_string_ = previous_sort;
    Bind(previous);
    state_.paths = previous_paths;
    if (lists_in_use_) LoadAllList();
    bool back = true;
    try {
      OpenMyTable(IndexSetup::kKeep);
    } catch (const dbf::DbfError& e) {
      back = false;
      table_.Close();
      emit EngineError(QString::fromStdString(e.what()));
    } catch (const std::exception& e) {
      back = false;
      table_.Close();
      emit EngineError(QString::fromLocal8Bit(e.what()));
    }
    QString message = QLatin1String(texts::kSwitchFailed) + what;
    if (back) message += QStringLiteral("\n\n") + QLatin1String(texts::kPreviousReopened);
    prompts().MessageBox(owner_, QLatin1String(klv::db::texts::kCaptionError), message,
                         MsgIcon::kError, MsgButtons::kOk, MsgButton::kOk);
    return back ? SwitchResult::kRolledBack : SwitchResult::kLost;
  }
  // 12. (11. is the window's: it shows the new database.)
  DoLastFiles(state_.settings.last_files, previous, path);
  return SwitchResult::kSwitched;
}

void OpenDatabase::SetSearchMode(bool on) {
  searching_ = on;
  emit SearchModeChanged(on);
}

void OpenDatabase::EndSearch() {
  SetSearchMode(false);
  ReopenMyTable();
  emit ViewerSettingsNeeded();
}

bool OpenDatabase::CheckOrRepair(QWidget* owner, const QString& path) {
  try {
    return CheckDBaseFormat(owner, path);
  } catch (const dbf::DbfError& e) {
    if (!db::IsDamage(e, path)) throw;
    // Declined or failed: the user has been told what is wrong.
    if (!db::OfferRepair(owner, path, e)) return false;
  }
  return CheckDBaseFormat(owner, path);
}

OpenDatabase::ExclusiveResult OpenDatabase::WithExclusiveUse(
    const std::function<void(dbf::Table&)>& action) {
  const uint32_t recno = table_.RecNo();
  if (table_.IsOpen() && table_.state() != dbf::Table::State::kBrowse) table_.Cancel();
  // Whatever happens below, the table ends open shared, as every other
  // command expects it.
  auto reopen_shared = [&] {
    table_.Close();
    OpenMyTable(IndexSetup::kKeep);
    if (recno != 0 && !table_.GoTo(recno)) table_.First();
    emit ViewerSettingsNeeded();
  };
  ExclusiveResult result = ExclusiveResult::kDone;
  try {
    table_.Close();
    table_.SetExclusive(true);
    try {
      table_.Open();
    } catch (const dbf::DbfError& e) {
      if (e.code() != dbf::ErrorCode::kInUse) throw;
      result = ExclusiveResult::kInUse;
    }
    if (result == ExclusiveResult::kDone) action(table_);
  } catch (...) {
    reopen_shared();
    throw;
  }
  reopen_shared();
  return result;
}

platform::Directories UseProgramDirectories(AppState& state) {
  const platform::Directories dirs = platform::LocateDirectories();
  state.program_dir = dirs.program;
  state.start_dir = dirs.start;
  state.windows_dir = dirs.windows;
  state.files.program_ini = ProgramSettingsPath(dirs.windows);
  state.files.start_dir = dirs.start;
  return dirs;
}

QString PrepareCommandRun(AppState& state, const QString& database) {
  const platform::Directories dirs = UseProgramDirectories(state);
  ReadSettings(state.settings, kProgramSettings, state.files, QString());
  state.intl = platform::ReadIntlSettings(dirs.windows);
  state.formats = MakeNumberFormats(state.settings, state.intl);

  QString path = database;
  if (path.isEmpty()) path = state.settings.last_database;
  if (path.isEmpty() || !QFileInfo(path).isFile())
    path = state.program_dir + QStringLiteral("/MASTER.DBF");
  return path;
}

}  // namespace klv::app
