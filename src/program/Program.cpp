#include "program/Program.h"

#include <functional>
#include <utility>

#include "db/PickLists.h"
#include "edit/Edit1.h"
#include "find/Locate.h"
#include "find/Mylocate.h"
#include "find/Search1.h"
#include "find/Sort1.h"
#include "find/SrchRep.h"
#include "platform/Paths.h"
#include "report/MyRep1.h"
#include "report/PrtSel.h"
#include "report/UrpFile.h"

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
  if (!main_->FormCreate(options)) return false;
  const QString& program_dir = main_->state().program_dir;
  // A first start brings the program's own lists; a user's are never replaced.
  if (!list_source_.isEmpty()) InstallDefaultLists(program_dir, list_source_);
  PickLists& lists = main_->database().lists();
  lists.SetProgramDir(program_dir);
  edit_ = std::make_unique<TMyEdit>(main_->MyTable(), main_->state(), lists, main_.get());
  edit_->SetGeneralErrorDisplay(
      [this](const QString& message) { main_->ShowGeneralError(message); });
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
  main_->DisplayCount();
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
  find::ShowLocateMessage(&m, result.message);
  // The grid follows the cursor through its model once the event loop runs.
}

void Program::DoFindNext() {
  TMain& m = *main_;
  const LocateRun run = [&m](const find::LocateDialogSetup& setup) {
    return find::RunLocateDialog(m.MyTable(), setup, m.state(), &m);
  };
  const LocateLabelOf label = [&m](const dbf::Field& field) {
    return find::LocateLabel(m.state(), m.MyTable(), field);
  };
  const find::LocateResult result = locate_->FindNext(&m.MyTable(), run, label);
  find::ShowLocateMessage(&m, result.message);
  // The grid follows the cursor through its model once the event loop runs.
}

}  // namespace klv::program
