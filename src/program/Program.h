// The program as it runs: the main window and the forms that live as long as
// it does, created in start-up order, with the main window's commands handed
// to the forms that carry them out. main() and the start-up tests both build
// the program through this class, so what the tests drive is what users get.
//
// Promises:
// - Start creates the main window first (its creation steps open the
//   database); only then the record edit form, which loads the pick lists of
//   the database open at that moment.
// - Commands whose forms exist here are enabled on the main window; the
//   others stay as the main window leaves them (disabled).
// - The forms are destroyed before the main window and the pick lists they
//   use.
#pragma once

#include <memory>

#include <QString>

#include "app/MainWin.h"
#include "db/Maintenance.h"

namespace klv::appearance {
class GroupColors;
}  // namespace klv::appearance
namespace klv::db {
class PickLists;
}  // namespace klv::db
namespace klv::edit {
class TMyEdit;
}  // namespace klv::edit
namespace klv::find {
class TMyLocateDialog;
class TMySearch;
}  // namespace klv::find
namespace klv::report {
class TMyReport;
class TPrintSelect;
}  // namespace klv::report

namespace klv::stats {
class TStatsWindow;
}  // namespace klv::stats

namespace klv::program {

class Program {
 public:
  // list_source: where the program's own default pick lists are ("" for
  // none): they are copied into the program directory at start when missing.
  explicit Program(QString list_source);
  Program();  // the lists found beside the program or its installation
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // The start-up: false when the program cannot run (the reason has been
  // shown); nothing else may be called then but the destructor.
  bool Start(const app::StartOptions& options);
  // Whether the first activation of the main window shows the tip of the day
  // (when the "Show Tips" setting is on). main() asks for it; tests of other
  // forms leave it off, so that no tip comes between them and their forms.
  void SetTipsAtStart(bool on) { tips_at_start_ = on; }

  app::TMain& main() { return *main_; }
  edit::TMyEdit& edit() { return *edit_; }
  find::TMySearch& search() { return *search_; }
  db::PickLists& lists();
  // The locate component: the last field, value, match type and case flag.
  find::TMyLocateDialog& locate() { return *locate_; }
  // The report chooser and the printer selection form.
  report::TMyReport& reports() { return *report_; }
  report::TPrintSelect& print_select() { return *print_select_; }
  // The statistics window, once Statistics has opened it (else nullptr).
  stats::TStatsWindow* statistics() { return stats_.get(); }

 private:
  // Shows the edit form for Add, Edit or Copy, then brings the count and the
  // grid up to date.
  void ShowEditForm(int edit_mode);
  // Shows the search form, then the count of the rows it lets through.
  void DoSearch();
  void InstallCommands();
  // Import, then the count and the grid of the rows it added.
  void DoImport();
  // Pack and index rebuild: the command, told of its progress, with a
  // progress box over the main window.
  void RunMaintenance(const char* label, const std::function<void(const db::Progress&)>& command);
  static db::ExclusiveUse ExclusiveUseOf(app::OpenDatabase& db);
  // Locate and Locate Next: the dialog or the search again, then the grid
  // shows the row the table stands on.
  void DoFind();
  void DoFindNext();
  // The Color menu and speed button: target 1 to 6.
  void DoColorConfig(int target);
  void DoViewerConfig();
  void DoTipOfDay();
  // Statistics: the window, made at its first use, shown and raised.
  void DoStatistics();
  // Want List: the form whose buttons run the list as a report.
  void DoWantList();

  QString list_source_;
  bool tips_at_start_ = false;
  std::unique_ptr<app::TMain> main_;
  std::unique_ptr<edit::TMyEdit> edit_;
  std::unique_ptr<find::TMyLocateDialog> locate_;
  std::unique_ptr<find::TMySearch> search_;
  // The colour groups every form takes, installed while the window lives.
  std::unique_ptr<appearance::GroupColors> colors_;
  std::unique_ptr<report::TPrintSelect> print_select_;
  std::unique_ptr<report::TMyReport> report_;
  std::unique_ptr<stats::TStatsWindow> stats_;
};

}  // namespace klv::program
