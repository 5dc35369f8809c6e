#include "program/Program.h"

#include <functional>
#include <optional>
#include <utility>

#include <QProgressDialog>

#include "app/RecallDeleted.h"
#include "appearance/ColorCfg.h"
#include "appearance/ColorSets.h"
#include "appearance/GroupColors.h"
#include "appearance/Tips.h"
#include "appearance/View1.h"
#include "backup/Backup.h"
#include "backup/Restore.h"
#include "db/DbTexts.h"
#include "db/Maintenance.h"
#include "db/PickLists.h"
#include "edit/Edit1.h"
#include "find/Locate.h"
#include "find/Mylocate.h"
#include "find/Search1.h"
#include "find/Sort1.h"
#include "find/SrchRep.h"
#include "forms/BusyRun.h"
#include "pictures/PicturePanel.h"
#include "platform/Paths.h"
#include "report/MyRep1.h"
#include "report/PrtSel.h"
#include "report/TableRun.h"
#include "report/UrpFile.h"
#include "stats/StatsWindow.h"
#include "stats/WantForm.h"
#include "stats/WantList.h"
#include "transfer/Export1.h"
#include "transfer/Imp1.h"

namespace klv::program {

using db::DefaultListSourceDir;
using db::FieldOfList;
using db::InstallDefaultLists;
using db::ListKind;
using db::PickLists;

using app::kEditAdd;
using app::kEditChange;
using app::kEditCopy;
using app::StartOptions;
using app::TMain;
using app::ViewerModel;
using edit::TMyEdit;

Program::Program(QString list_source)
    : list_source_(std::move(list_source)),
      main_(std::make_unique<TMain>()),
      locate_(std::make_unique<find::TMyLocateDialog>()) {}

Program::Program() : Program(DefaultListSourceDir()) {}

Program::~Program() {
  // The form refers to the window's table and to the lists; it goes first.
  if (main_) main_->database().SetListsInUse(false);
  // The colours read the window's settings: they are uninstalled first.
  colors_.reset();
  stats_.reset();
  report_.reset();
  print_select_.reset();
  search_.reset();
  edit_.reset();
  main_.reset();
}

bool Program::Start(const StartOptions& options) {
  // The report definitions file is made ready before the main window reads
  // its settings; a failure is shown and the program goes on without it.
  const QString home = platform::LocateDirectories().program;
  if (platform::EnsureDirectory(home)) {
    try {
      report::PrepareDefinitionsFile(home);
    } catch (const std::exception& e) {
      main_->ShowGeneralError(QString::fromLocal8Bit(e.what()));
    }
  }
  // Before the window's creation steps: they show its colours the first time.
  colors_ = std::make_unique<appearance::GroupColors>(main_->state().settings);
  if (!main_->FormCreate(options)) return false;
  const QString& program_dir = main_->state().program_dir;
  // A first start brings the program's own lists; a user's are never replaced.
  if (!list_source_.isEmpty()) InstallDefaultLists(program_dir, list_source_);
  PickLists& lists = main_->database().lists();
  lists.SetProgramDir(program_dir);
  edit_ = std::make_unique<TMyEdit>(main_->MyTable(), main_->state(), lists, main_.get());
  edit_->SetGeneralErrorDisplay(
      [this](const QString& message) { main_->ShowGeneralError(message); });
  // The coin's pictures beside the edit form's fields.
  auto* pictures = new pictures::PicturePanel;
  pictures->OnError = [this](const QString& message) { main_->ShowGeneralError(message); };
  edit_->SetSidePanel(pictures, [this, pictures](uint32_t recno) {
    pictures->ShowRow(QString::fromStdString(main_->MyTable().DbfPath()), recno);
  });
  search_ = std::make_unique<find::TMySearch>(main_->database(), main_.get());
  search_->SetGeneralErrorDisplay(
      [this](const QString& message) { main_->ShowGeneralError(message); });
  // The report chooser and the printer selection form live as long as the
  // window.
  print_select_ = std::make_unique<report::TPrintSelect>(main_->state(), main_.get());
  report_ = std::make_unique<report::TMyReport>(main_->database(), *print_select_, main_.get());
  report_->OnError = [this](const QString& message) { main_->ShowGeneralError(message); };
  // The lists now move with every database switch.
  main_->database().SetListsInUse(true);
  // The grid keeps its own copy of each field list for its in-cell combos.
  ViewerModel* model = main_->viewer_model();
  lists.OnGridListChanged(model, [model](ListKind kind, const QStringList& items) {
    model->SetPickList(FieldOfList(kind), items);
  });
  InstallCommands();
  return true;
}

PickLists& Program::lists() {
  return main_->database().lists();
}

void Program::ShowEditForm(int edit_mode) {
  edit_->ShowModalFor(edit_mode);
  main_->DisplayCount();
}

void Program::DoSearch() {
  search_->ShowModal();
  // A confirmed search has shown its rows and their count already.
  if (search_->result() != QDialog::Accepted) main_->DisplayCount();
}

void Program::InstallCommands() {
  TMain& m = *main_;
  m.SetCommandHandler(TMain::kAdd, [this] { ShowEditForm(kEditAdd); });
  m.SetCommandHandler(TMain::kEdit, [this] { ShowEditForm(kEditChange); });
  m.SetCommandHandler(TMain::kCopy, [this] { ShowEditForm(kEditCopy); });
  m.SetCommandHandler(TMain::kListSaveDefaults,
                      [this] { edit_->MenuListSaveDefaultsClick(main_.get()); });
  m.SetCommandHandler(TMain::kListLoadDefaults,
                      [this] { edit_->MenuListLoadDefaultsClick(main_.get()); });
  const std::pair<TMain::Command, ListKind> lists[] = {
      {TMain::kListCountry, ListKind::kCountry},
      {TMain::kListTopic, ListKind::kTopic},
      {TMain::kListCondition, ListKind::kCondition},
      {TMain::kListMiscellaneous, ListKind::kMiscellaneous}};
  for (const auto& [command, kind] : lists) {
    m.SetCommandHandler(command, [this, kind] { edit_->MenuListEditClick(main_.get(), kind); });
  }

  // Search by example and the sort order; both stay in browse-only mode.
  m.SetCommandHandler(TMain::kSearch, [this] { DoSearch(); });
  m.SetCommandHandler(TMain::kSortOrder,
                      [this] { find::DoSortOrder(main_->database(), main_.get()); });
  // Reports (and Print under File, the same command).
  m.SetCommandHandler(TMain::kReports, [this] {
    report_->ShowModal();
    main_->DisplayCount();
  });
  // Locate, Locate Next and Search and Replace (the last is unavailable in
  // browse-only mode, as the main window marks it).
  m.SetCommandHandler(TMain::kLocate, [this] { DoFind(); });
  m.SetCommandHandler(TMain::kLocateNext, [this] { DoFindNext(); });
  m.SetCommandHandler(TMain::kSearchReplace,
                      [this] { find::ShowSearchAndReplace(main_->database(), main_.get()); });

  // Export stays in browse-only mode; Import does not (the window marks it).
  m.SetCommandHandler(TMain::kExport,
                      [this] { transfer::DoExport(main_->database(), main_.get()); });
  m.SetCommandHandler(TMain::kImport, [this] { DoImport(); });
  // The colour groups, the viewer grid (unavailable in browse-only mode, as
  // the main window marks it) and the tip of the day.
  for (int target = appearance::kTargetMain; target <= appearance::kTargetAll; ++target) {
    m.SetCommandHandler(static_cast<TMain::Command>(TMain::kColorMain + target - 1),
                        [this, target] { DoColorConfig(target); });
  }
  m.SetCommandHandler(TMain::kViewer, [this] { DoViewerConfig(); });
  m.SetCommandHandler(TMain::kReviewTips, [this] { DoTipOfDay(); });
  m.SetFirstActivationHandler([this] {
    if (tips_at_start_ && main_->state().settings.show_tips) DoTipOfDay();
  });
  // Backup and restore (unavailable in browse-only mode, as the main window
  // marks them), pack, index rebuild and the recall of deleted rows.
  m.SetCommandHandler(TMain::kBackup, [this] { backup::DoBackup(main_->database(), main_.get()); });
  m.SetCommandHandler(TMain::kRestore, [this] {
    backup::RestoreHooks hooks;
    hooks.switch_to = [this](const QString& path) { main_->OpenSaveFile(path); };
    hooks.settings_read = [this] { main_->DoFileSpecific(); };
    hooks.reports_replaced = [this] { report_->LoadReports(); };
    backup::DoRestore(main_->database(), hooks, main_.get());
    main_->DisplayCount();
  });
  m.SetCommandHandler(TMain::kPackDatabase, [this] {
    RunMaintenance(db::texts::kPackProgress, [this](const db::Progress& progress) {
      app::OpenDatabase& db = main_->database();
      db::MenuPackClick(main_.get(), db.paths().dbf, ExclusiveUseOf(db), progress);
    });
  });
  m.SetCommandHandler(TMain::kRebuildIndexes, [this] {
    RunMaintenance(db::texts::kRebuildProgress, [this](const db::Progress& progress) {
      db::MenuRebuildClick(main_.get(), ExclusiveUseOf(main_->database()), progress);
    });
  });
  m.SetCommandHandler(TMain::kRecallDeleted,
                      [this] { app::DoRecallDeleted(main_->database(), main_.get()); });
  // The statistics window and the want list; both read the table only.
  m.SetCommandHandler(TMain::kStatistics, [this] { DoStatistics(); });
  m.SetCommandHandler(TMain::kWantList, [this] { DoWantList(); });
}

void Program::DoStatistics() {
  if (!stats_) {
    stats_ = std::make_unique<stats::TStatsWindow>(main_->database(), main_.get());
    stats_->OnError = [this](const QString& message) { main_->ShowGeneralError(message); };
  }
  if (stats_->isVisible()) {
    stats_->RefreshButtonClick();
  } else {
    stats_->show();
  }
  stats_->raise();
  stats_->activateWindow();
}

void Program::DoWantList() {
  app::OpenDatabase& db = main_->database();
  const auto run = [this, &db](int mode, const QString& pdf) {
    std::optional<stats::WantList> list;
    try {
      forms::BusyRun busy;
      list.emplace(db.MyTable(), [](uint64_t, uint64_t) {
        forms::BusyRun::Pulse();
        return true;
      });
    } catch (const std::exception& e) {
      main_->ShowGeneralError(QString::fromUtf8(e.what()));
      return;
    }
    report::RunReportOnTable(
        stats::WantListDef(), list->table(), report::MakeRunSetup(db, mode, QString()), db.state(),
        pdf, main_.get(), [this](const QString& message) { main_->ShowGeneralError(message); });
  };
  stats::TWantForm form(db.state(), run, main_.get());
  form.exec();
}

void Program::DoColorConfig(int target) {
  if (appearance::DoColorConfig(main_->state(), target, main_.get())) main_->SetColors();
}

void Program::DoViewerConfig() {
  TMain& m = *main_;
  appearance::DoViewerConfig(m.state(), &m, [&m] { m.SetViewerOptions(); });
}

void Program::DoTipOfDay() {
  appearance::ShowTipOfDay(main_->state(), main_.get());
}

void Program::DoImport() {
  // The count and the grid show the rows that came in, also when the
  // import ended by an error.
  try {
    transfer::DoImport(main_->database(), main_.get());
  } catch (...) {
    main_->DisplayCount();
    throw;
  }
  main_->DisplayCount();
}

db::ExclusiveUse Program::ExclusiveUseOf(app::OpenDatabase& db) {
  return [&db](const std::function<void(dbf::Table&)>& action) { return db.RunExclusive(action); };
}

void Program::RunMaintenance(const char* label,
                             const std::function<void(const db::Progress&)>& command) {
  // Made at the first report of progress, after the question was answered;
  // shown only once the operation has run a while.
  std::unique_ptr<QProgressDialog> box;
  command([&](double f) {
    if (!box) {
      box = std::make_unique<QProgressDialog>(QString::fromLatin1(label), QString(), 0, 1000,
                                              main_.get());
      box->setWindowModality(Qt::WindowModal);
      box->setMinimumDuration(500);
    }
    box->setValue(static_cast<int>(f * 1000));
  });
}

namespace {

using LocateRun = std::function<find::LocateDialogResult(const find::LocateDialogSetup&)>;
using LocateLabelOf = std::function<QString(const dbf::Field&)>;

}  // namespace

void Program::DoFind() {
  TMain& m = *main_;
  const LocateRun run = [&m](const find::LocateDialogSetup& setup) {
    return find::RunLocateDialog(m.MyTable(), setup, m.state(), &m);
  };
  const LocateLabelOf label = [&m](const dbf::Field& field) {
    return find::LocateLabel(m.state(), m.MyTable(), field);
  };
  const find::LocateResult result = locate_->Execute(&m.MyTable(), run, label);
  m.ShowCurrentRow();
  find::ShowLocateMessage(&m, result.message);
}

void Program::DoFindNext() {
  TMain& m = *main_;
  const LocateRun run = [&m](const find::LocateDialogSetup& setup) {
    return find::RunLocateDialog(m.MyTable(), setup, m.state(), &m);
  };
  const LocateLabelOf label = [&m](const dbf::Field& field) {
    return find::LocateLabel(m.state(), m.MyTable(), field);
  };
  find::LocateResult result;
  {
    // The hourglass while the table is walked (not over the dialog the
    // first Locate Next opens); the windows repaint meanwhile.
    std::optional<forms::BusyRun> busy;
    if (!locate_->search_value().isEmpty()) busy.emplace();
    locate_->Progress = &forms::BusyRun::Pulse;
    result = locate_->FindNext(&m.MyTable(), run, label);
  }
  m.ShowCurrentRow();
  find::ShowLocateMessage(&m, result.message);
}

}  // namespace klv::program
