// The open collection database as the program's logic sees it, without a
// window: the coin table (MyTable) with its paths and settings file, the sort
// levels and the sort string of the index "NewIndex", search mode with the
// active row filter, the pick lists, the switch to another database, and the
// exclusive use of the table that pack, index rebuild, sort order, search and
// replace and backup need.
//
// One instance lives as long as the main window; the subsystems take it (and
// the prompts service), never the window. The window shows what it announces
// through its signals.
//
// Promises:
// - SwitchTo either opens the new database, with its own settings, pick lists
//   and sort index, or leaves the previous one open as it was (settings,
//   fonts, sort string and pick lists restored). Only when even the previous
//   one cannot be opened again is the result kLost: then no table is open.
// - WithExclusiveUse always reopens the table shared afterwards, whether the
//   action succeeded, threw, or could not run because another copy of the
//   program holds the table; then ViewerSettingsNeeded is emitted.
// - Search mode is one flag: while it is on, the table's filter callback
//   asks the installed RowFilter (none installed: every row is accepted).
#pragma once

#include <array>
#include <functional>

#include <QObject>
#include <QString>

#include "app/AppState.h"
#include "base/Env.h"
#include "db/PickLists.h"
#include "db/dbf/Table.h"
#include "pictures/PictureStore.h"
#include "platform/Paths.h"

class QWidget;

namespace klv::app {

// The index expression of the tag "NewIndex" for up to four sort levels
// (field numbers 1 to 20; 0 or less: the level is unused): the used levels'
// keys joined with "+", texts upper-cased and cut to 80 divided by the number
// of used levels, numbers as STR(field,12,0) or STR(field,12,2), dates as
// DTOS(field); at most 255 characters. Empty when no level is used.
QString BuildSortString(const std::array<int, 4>& levels);

// The search criteria in force, as the table's filter asks them: whether the
// table's current row is one search mode shows. Implemented by the find
// subsystem. The table is the one being filtered, handed over as its filter
// callback has it: reading its fields needs it non-const.
class RowFilter {
 public:
  virtual ~RowFilter() = default;
  virtual bool Accept(dbf::Table& table) = 0;
};

class OpenDatabase : public QObject {
  Q_OBJECT

 public:
  // How the index is set up when the table is opened.
  enum class IndexSetup {
    kSelectOrAdd,  // start-up: select "NewIndex", adding it when missing
    kRebuild,      // the table to ourselves: drop and add it again
    kKeep,         // the table may be in use elsewhere: select it when present
  };
  enum class SwitchResult {
    kRefused,     // not a coin table (the user has been told); nothing changed
    kSwitched,    // the new database is open
    kRolledBack,  // a step failed; the previous database is open again
    kLost,        // a step failed and the previous database cannot be opened
  };
  enum class ExclusiveResult {
    kDone,   // the action ran with the table to itself
    kInUse,  // another program or copy holds the table; the action did not run
  };

  // state is the application-wide state, whose settings record, fonts,
  // database name and paths this object keeps for the open database. env
  // is the file layer of the coin table.
  explicit OpenDatabase(AppState& state, base::Env& env = base::Env::Default(),
                        QObject* parent = nullptr);
  ~OpenDatabase() override;

  AppState& state() { return state_; }
  dbf::Table& MyTable() { return table_; }
  const dbf::Table& MyTable() const { return table_; }
  // What keeps the pictures with the coins of MyTable as they are edited:
  // long runs of changes gather under its Gathering.
  pictures::CoinFollower& pictures_follower() { return pictures_; }
  const QString& name() const { return state_.database_name; }
  const db::DatabasePaths& paths() const { return state_.paths; }
  const QString& sort_string() const { return sort_string_; }
  // Questions and messages of this object's own steps are parented to owner.
  void SetPromptOwner(QWidget* owner) { owner_ = owner; }

  // Names the database (also "Last Database") and derives its paths; closes
  // the table and binds it to the new file without opening it.
  void Bind(const QString& name);
  // Reads the open database's settings from ini (empty: the defaults a new
  // database gets) and takes the user fonts from them; browse-only mode keeps
  // the grid read-only while the stored "Field Editing" is kept for writing.
  void ReadDatabaseSettings(const QString& ini);
  // Writes the settings record, with the user fonts and the stored "Field
  // Editing", to ini.
  void WriteDatabaseSettings(const QString& ini);
  // Builds the sort string from the settings' sort levels.
  void BuildSortString();
  // Opens the bound table shared, with the index set up as asked and the
  // filter as search mode says, on its first row.
  void OpenMyTable(IndexSetup setup);
  // Opens the table again shared on the row it stood on (the first row when
  // that one is gone).
  void ReopenMyTable();
  // Bind, read its settings, build the sort string and open it as at start.
  void OpenAtStart(const QString& name);
  void Close();

  // The pick lists of the open database. They move with a switch once
  // SetListsInUse(true) said that someone loaded them (the record edit form).
  db::PickLists& lists() { return lists_; }
  void SetListsInUse(bool in_use) { lists_in_use_ = in_use; }
  bool lists_in_use() const { return lists_in_use_; }
  // The open database's lists, or the defaults for a database just created.
  void LoadAllList();
  void LoadDefaultList();

  // The switch to the database at path (is_new: just created, so it is not
  // validated and gets the default lists and settings). On kRolledBack the
  // failure has been shown.
  SwitchResult SwitchTo(const QString& path, bool is_new);

  // Search mode and the criteria it applies (filter not owned; nullptr
  // removes it). SetSearchMode announces SearchModeChanged.
  bool searching() const { return searching_; }
  void SetRowFilter(RowFilter* filter) { filter_ = filter; }
  RowFilter* row_filter() const { return filter_; }
  void SetSearchMode(bool on);
  // Ends search mode and reopens the table without the filter.
  void EndSearch();

  // The validity test of a database about to be opened (CheckDBaseFormat);
  // a table too damaged to open is offered for repair (Maintenance.h) and,
  // once repaired, tested again; false when the repair is declined or
  // fails (the user has been told). Other engine errors propagate.
  static bool CheckOrRepair(QWidget* owner, const QString& path);

  // Closes the table, opens it exclusively, runs action on it and reopens it
  // shared; then ViewerSettingsNeeded. An exception of the action or of the
  // exclusive open (other than "in use") propagates after the shared reopen.
  ExclusiveResult WithExclusiveUse(const std::function<void(dbf::Table&)>& action);
  // The same for a caller of the maintenance commands, which speak of the
  // table alone: true when the action ran.
  bool RunExclusive(const std::function<void(dbf::Table&)>& action) {
    return WithExclusiveUse(action) == ExclusiveResult::kDone;
  }
  // Says that the settings in force changed under the window (a restored
  // settings file): ViewerSettingsNeeded.
  void AnnounceViewerSettings() { emit ViewerSettingsNeeded(); }

 signals:
  // Another database is bound (its name in state().database_name).
  void DatabaseBound();
  void SearchModeChanged(bool on);
  // An engine or I/O error of a step that goes on regardless (reopening the
  // previous database after a failed switch), for the general error display.
  void EngineError(const QString& message);
  // The table was reopened: the grid, fonts and count must be applied again.
  void ViewerSettingsNeeded();

 private:
  bool AcceptRow(dbf::Table& table);

  AppState& state_;
  dbf::Table table_;  // MyTable
  // Its coins' pictures follow their edits (the table calls it after a post).
  pictures::CoinFollower pictures_;
  QString sort_string_;
  db::PickLists lists_;
  bool lists_in_use_ = false;
  bool searching_ = false;
  RowFilter* filter_ = nullptr;
  QWidget* owner_ = nullptr;
};

// Locates the program, start and Windows directories and points state and
// its settings files at them, as every start does; returns them.
platform::Directories UseProgramDirectories(AppState& state);

// Readies state as a run without a window needs it (klvcoin --report and
// the like): the program directories, the program settings, the
// international settings and number formats. Returns the database to run
// on: database when given, else the last database, else MASTER.DBF in the
// program directory; the caller checks that it exists. Throws base::Error
// when the settings cannot be read.
QString PrepareCommandRun(AppState& state, const QString& database);

}  // namespace klv::app
