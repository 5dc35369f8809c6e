// The main window's creation steps and the start-up choice of database: the
// one named on the command line, else the last one, else the default
// "MASTER.DBF" (created when missing), asking for another until one can be
// opened.
#include "app/MainWin.h"

#include <algorithm>
#include <cstdio>

#include <QAction>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

#include "app/AppTexts.h"
#include "app/MainWinParts.h"
#include "db/Conversion.h"
#include "db/DbTexts.h"
#include "forms/DialogRoutines.h"
#include "platform/Paths.h"
#include "platform/Prompts.h"

namespace klv::app {

using db::CheckDBaseFormat;
using db::CheckForConversion;
using db::HasDbfExtension;
using db::MakeNewDB;

using forms::kScreenSizes;
using forms::ScreenSize;
using forms::ScreenSizeInForce;
using namespace mainwin;

// ---------------------------------------------------------------------------
// Start-up

bool TMain::FormCreate(const StartOptions& options) {
  const CommandLine line = ParseCommandLine(options.arguments);

  // 1.
  state_.report_definition.assign(kReportDefinitionSize, 0);
  DisableEndSearch();
  setWindowTitle(Latin(klv::db::texts::kTitle));
  ViewerLabel->setText(Latin(texts::kViewerLabel));
  ViewerLabel->adjustSize();

  // 2.
  const platform::Directories dirs = UseProgramDirectories(state_);

  // 5. (the user fonts of step 3 come with the settings)
  ReadSettings(state_.settings, kProgramSettings, state_.files, QString());
  const WindowPlace& w = state_.settings.main_window;
  move(w.left, w.top);
  resize(std::max(w.width, 100), std::max(w.height, 100));

  // 6. The formats need the international settings of step 11; read them first.
  state_.intl = platform::ReadIntlSettings(dirs.windows);
  ApplyFormats(/*refresh=*/false);

  // 7. and 8.
  const QString chosen = ChooseStartDatabase(line);
  if (chosen.isEmpty()) return false;
  bool opened = false;
  QString candidate = chosen;
  while (!opened) {
    opened = RunCommand([&] { db_.OpenAtStart(candidate); });
    if (!opened) {
      db_.Close();
      candidate = AskForValidDatabase();
      if (candidate.isEmpty()) return false;
    }
  }

  // 9. and 10.
  if (options.screen) {
    state_.screen_width = options.screen->width();
    state_.screen_height = options.screen->height();
  } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
    state_.screen_width = screen->geometry().width();
    state_.screen_height = screen->geometry().height();
  }
  const ScreenSize& size =
      ScreenSizeInForce(state_.settings.window_size, state_.screen_width, state_.screen_height);
  state_.settings.window_size = size.setting;
  state_.scale_factor = size.factor;
  for (size_t i = 0; i < MenuScreenSizes.size(); ++i)
    MenuScreenSizes[i]->setChecked(kScreenSizes[i].setting == size.setting);

  // 12.
  SetMenuLastFiles();

  // 13. The tables of the earlier versions; a failure has been shown and
  // the program goes on.
  RunCommand([&] { CheckForConversion(this, state_.program_dir, MyTable()); });

  // 15.
  if (line.browse) {
    state_.browse_only = true;
    state_.saved_field_editing = state_.settings.grid_field_editing;
    state_.settings.grid_field_editing = false;
    Navigator->SetReduced(true);
  }
  SetButtonBar();
  created_ = true;
  if (model_->table() != &MyTable()) model_->SetTable(&MyTable());
  DoFileSpecific();
  return true;
}

QString TMain::ChooseStartDatabase(const CommandLine& line) {
  const QString master = state_.program_dir + '/' + Latin(texts::kDefaultDatabase);
  QString path = line.database.isEmpty() ? state_.settings.last_database : line.database;
  const bool from_ini = line.database.isEmpty();
  if (path.isEmpty() || !QFileInfo(path).isFile()) {
    if (!from_ini && !path.isEmpty()) {
      std::fprintf(stderr, "klvcoin: %s does not exist; opening the default database\n",
                   qPrintable(path));
    }
    path = master;
    if (!QFileInfo(path).isFile() && !CreateDefaultDatabase(path)) return {};
  }
  if (IsValidDatabase(path)) return path;
  if (from_ini) {
    prompts().MessageBox(this, Latin(klv::db::texts::kCaptionError),
                         Latin(texts::kLastDatabaseInvalid), MsgIcon::kError, MsgButtons::kOk,
                         MsgButton::kOk);
  }
  return AskForValidDatabase();
}

bool TMain::CreateDefaultDatabase(const QString& path) {
  QString reason;
  bool made = false;
  if (!platform::EnsureDirectory(state_.program_dir, &reason)) {
    made = false;
  } else {
    try {
      made = MakeNewDB(path);
      if (!made) reason = Latin(texts::kCannotStart);
    } catch (const dbf::DbfError& e) {
      reason = QString::fromStdString(e.what());
    }
  }
  if (!made) {
    prompts().MessageBox(
        this, Latin(klv::db::texts::kCaptionError),
        Latin(texts::kCannotCreateDefault1) + path + Latin(texts::kCannotCreateDefault2) + reason,
        MsgIcon::kError, MsgButtons::kOk, MsgButton::kOk);
  }
  return made;
}

bool TMain::IsValidDatabase(const QString& path) {
  bool valid = false;
  RunCommand([&] { valid = OpenDatabase::CheckOrRepair(this, path); });
  return valid;
}

// The open dialog again and again until the user picks a collection
// database. Cancelling falls back to the default database, so that a user
// who has none to offer still gets a window; when even that cannot be used
// the program gives up.
QString TMain::AskForValidDatabase() {
  const QString master = state_.program_dir + '/' + Latin(texts::kDefaultDatabase);
  for (;;) {
    platform::FileDialogRequest request = DatabaseDialog(texts::kOpenDialogTitle);
    request.file_must_exist = true;
    const QString path = prompts().OpenFile(this, request);
    if (path.isEmpty()) {
      if (!QFileInfo(master).isFile() && !CreateDefaultDatabase(master)) return {};
      if (IsValidDatabase(master)) return master;
      prompts().MessageBox(this, Latin(klv::db::texts::kCaptionError), Latin(texts::kCannotStart),
                           MsgIcon::kError, MsgButtons::kOk, MsgButton::kOk);
      return {};
    }
    if (!HasDbfExtension(path)) {
      prompts().MessageBox(this, Latin(klv::db::texts::kCaptionError),
                           Latin(klv::db::texts::kInvalidFileType), MsgIcon::kError,
                           MsgButtons::kOk, MsgButton::kOk);
      continue;
    }
    if (IsValidDatabase(path)) return path;
  }
}

platform::FileDialogRequest TMain::DatabaseDialog(const char* title) const {
  platform::FileDialogRequest r;
  r.title = Latin(title);
  r.directory = state_.paths.dir.isEmpty() ? state_.program_dir : state_.paths.dir;
  r.filter = Latin(texts::kDatabaseFilter);
  r.default_suffix = Latin(texts::kDatabaseSuffix);
  return r;
}

void TMain::ShowDatabaseName() {
  setWindowTitle(Latin(klv::db::texts::kTitle) + QStringLiteral(" (") + state_.paths.table_name +
                 QStringLiteral(")"));
}

}  // namespace klv::app
