// The main window's own commands: new, open and update database with the
// switch between databases, delete record, the options menu and help.
#include "app/MainWin.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QFileInfo>

#include "app/AboutBox.h"
#include "app/AppTexts.h"
#include "app/MainWinParts.h"
#include "db/DbTexts.h"
#include "forms/DialogRoutines.h"
#include "platform/HelpViewer.h"
#include "platform/Prompts.h"

namespace klv::app {

using db::HasDbfExtension;
using db::MakeNewDB;

using forms::ApplyUserFonts;
using forms::FindScreenSize;
using forms::kScreenSizes;
using forms::ScreenCanShow;
using forms::ScreenSize;
using namespace mainwin;

// ---------------------------------------------------------------------------
// Database commands

namespace {

// The record count is shown again however a database command ends: after a
// cancelled dialog, a refused file or an engine error alike. Showing it never
// throws (the model reports its own errors).
class CountWhenDone {
 public:
  explicit CountWhenDone(TMain& main) : main_(main) {}
  ~CountWhenDone() { main_.DisplayCount(); }
  CountWhenDone(const CountWhenDone&) = delete;
  CountWhenDone& operator=(const CountWhenDone&) = delete;

 private:
  TMain& main_;
};

}  // namespace

void TMain::DoOpen() {
  CountWhenDone count(*this);
  const QString path = prompts().OpenFile(this, [&] {
    platform::FileDialogRequest r = DatabaseDialog(texts::kOpenDialogTitle);
    r.file_must_exist = true;
    return r;
  }());
  if (!path.isEmpty()) {
    if (!HasDbfExtension(path)) {
      prompts().MessageBox(this, Latin(klv::db::texts::kCaptionError),
                           Latin(klv::db::texts::kInvalidFileType), MsgIcon::kError,
                           MsgButtons::kOk, MsgButton::kOk);
    } else {
      SwitchTo(path, /*is_new=*/false);
    }
  }
}

void TMain::OpenSaveFile(const QString& path) {
  CountWhenDone count(*this);
  if (!path.isEmpty()) SwitchTo(path, /*is_new=*/false);
}

void TMain::DoNew() {
  CountWhenDone count(*this);
  const QString path = prompts().SaveFile(this, [&] {
    platform::FileDialogRequest r = DatabaseDialog(texts::kNewDialogTitle);
    r.path_must_exist = true;
    r.overwrite_prompt = true;
    return r;
  }());
  if (!path.isEmpty()) {
    if (db_.searching()) DoEndSearch();
    if (!HasDbfExtension(path)) {
      prompts().MessageBox(this, Latin(klv::db::texts::kCaptionError),
                           Latin(klv::db::texts::kInvalidFileType), MsgIcon::kError,
                           MsgButtons::kOk, MsgButton::kOk);
    } else if (path == state_.paths.dbf || QFileInfo(path) == QFileInfo(state_.paths.dbf)) {
      // Replacing the open database: close it first so that it is not "in
      // use" by ourselves; the switch below opens the new, empty one.
      model_->SetTable(nullptr);
      MyTable().Close();
      bool made = false;
      try {
        made = MakeNewDB(path);
      } catch (...) {
        db_.ReopenMyTable();
        model_->SetTable(&MyTable());
        throw;
      }
      if (made) {
        SwitchTo(path, /*is_new=*/true);
      } else {
        db_.ReopenMyTable();
      }
      model_->SetTable(&MyTable());
    } else if (MakeNewDB(path)) {
      SwitchTo(path, /*is_new=*/true);
    }
  }
}

void TMain::SwitchTo(const QString& path, bool is_new) {
  ViewerGrid->CommitEditor();
  switch (db_.SwitchTo(path, is_new)) {
    case OpenDatabase::SwitchResult::kRefused:
      return;
    case OpenDatabase::SwitchResult::kSwitched:
      // 11. and 12.
      DoFileSpecific();
      SetMenuLastFiles();
      return;
    case OpenDatabase::SwitchResult::kRolledBack:
      DoFileSpecific();
      return;
    case OpenDatabase::SwitchResult::kLost:
      break;
  }
  UpdateNavigator();
  // Not even the database open before can be had: the window cannot go on
  // without one.
  QString fallback = AskForValidDatabase();
  bool ok = !fallback.isEmpty() && RunCommand([&] { db_.OpenAtStart(fallback); });
  if (!ok) {
    created_ = false;
    QApplication::exit(1);
    return;
  }
  DoFileSpecific();
}

void TMain::SetMenuLastFiles() {
  const auto& files = state_.settings.last_files;
  const bool any =
      std::any_of(files.begin(), files.end(), [](const QString& f) { return !f.isEmpty(); });
  MenuLastFilesSeparator->setVisible(any);
  for (size_t i = 0; i < files.size(); ++i) {
    QAction* a = MenuLastFiles[i];
    a->setVisible(!files[i].isEmpty());
    a->setText(QStringLiteral("&%1").arg(i + 1) + Latin(texts::kLastFileGap) + files[i]);
  }
}

void TMain::DoUpdate() {
  db_.WriteDatabaseSettings(state_.paths.ini);
  const bool searching = db_.searching();
  db_.ReopenMyTable();
  if (searching) EnableEndSearch();
  SetViewerOptions();
  DisplayCount();
}

// ---------------------------------------------------------------------------
// Record commands

void TMain::DoDelete() {
  if (!MyTable().IsOpen()) return;
  if (MyTable().state() != dbf::Table::State::kBrowse) MyTable().Cancel();
  if (MyTable().RecNo() == 0) return;  // nothing to delete
  const MsgButton answer =
      prompts().MessageBox(this, Latin(texts::kCaptionConfirm), Latin(texts::kDeleteRecord),
                           MsgIcon::kQuestion, MsgButtons::kYesNo, MsgButton::kNo);
  if (answer == MsgButton::kYes) MyTable().Delete();
  DisplayCount();
}

// ---------------------------------------------------------------------------
// Options

void TMain::SetScreenSize(int setting) {
  // A menu item toggles its own tick when chosen; the ticks always show the
  // setting in force.
  auto tick = [this] {
    for (size_t i = 0; i < MenuScreenSizes.size(); ++i)
      MenuScreenSizes[i]->setChecked(kScreenSizes[i].setting == state_.settings.window_size);
  };
  const ScreenSize* size = FindScreenSize(setting);
  tick();
  if (!size || setting == state_.settings.window_size) return;
  if (!ScreenCanShow(*size, state_.screen_width, state_.screen_height)) {
    const int i = static_cast<int>(size - kScreenSizes.data());
    prompts().MessageBox(this, Latin(klv::db::texts::kCaptionError),
                         Latin(texts::kScreenTooSmall1) + Latin(texts::kMenuScreenSizes[i]) +
                             Latin(texts::kScreenTooSmall2),
                         MsgIcon::kError, MsgButtons::kOk, MsgButton::kOk);
    return;
  }
  state_.settings.window_size = size->setting;
  state_.scale_factor = size->factor;
  tick();
}

void TMain::SetDateFormat(int format) {
  if (format == state_.settings.date_format) {
    MenuDateFormats[static_cast<size_t>(format - 1)]->setChecked(true);
    return;
  }
  state_.settings.date_format = format;
  ApplyFormats(/*refresh=*/true);
}

void TMain::ToggleLeadingZeros() {
  state_.settings.date_leading_zeros = !state_.settings.date_leading_zeros;
  ApplyFormats(/*refresh=*/true);
}

void TMain::SetNumericFormat(int format) {
  state_.settings.numeric_format = format;
  ApplyFormats(/*refresh=*/false);
}

void TMain::SetCurrencyFormat(int format) {
  state_.settings.currency_format = format;
  ApplyFormats(/*refresh=*/false);
}

void TMain::ChooseUserFont(int which) {
  QFont* font = which == 0   ? &state_.fonts.label
                : which == 1 ? &state_.fonts.edit
                             : &state_.fonts.button;
  std::optional<QFont> chosen = prompts().ChooseFont(this, *font);
  if (!chosen) return;
  *font = *chosen;
  StoreUserFonts(state_.settings, state_.fonts);
  ApplyUserFonts(this, state_.fonts);
  // The title takes the new font's size at once.
  FormResize();
}

// ---------------------------------------------------------------------------
// Help

void TMain::DoHelpContents() {
  platform::ShowHelpContents(this);
}

void TMain::DoAbout() {
  TAboutBox box(this, QCoreApplication::applicationVersion(), state_.scale_factor);
  box.exec();
}

}  // namespace klv::app
