// The main window's command table: the menus with their shortcuts, which
// command each item, lettered button and speed button runs, when a command is
// available, and the guard every command runs in.
#include "app/MainWin.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QToolButton>

#include "app/AppTexts.h"
#include "app/MainWinParts.h"
#include "forms/DialogRoutines.h"
#include "platform/Prompts.h"

namespace klv::app {

using forms::kScreenSizes;
using namespace mainwin;

void TMain::BuildMenus() {
  QMenuBar* bar = menuBar();
  auto add = [this](QMenu* menu, Command c, const char* text, QKeySequence key = {},
                    bool browse_locked = false) {
    QAction* a = menu->addAction(Latin(text));
    if (!key.isEmpty()) a->setShortcut(key);
    connect(a, &QAction::triggered, this, [this, c] { Trigger(c); });
    slots_[c].action = a;
    slots_[c].browse_locked = browse_locked;
    return a;
  };
  const auto ctrl = [](int key) { return QKeySequence(Qt::CTRL | key); };
  const auto shift = [](int key) { return QKeySequence(Qt::SHIFT | key); };

  QMenu* file = bar->addMenu(Latin(texts::kMenuFile));
  add(file, kNew, texts::kMenuNew, ctrl(Qt::Key_W));
  add(file, kOpen, texts::kMenuOpen, ctrl(Qt::Key_O));
  add(file, kUpdate, texts::kMenuUpdate, ctrl(Qt::Key_Z));
  add(file, kBackup, texts::kMenuBackup, ctrl(Qt::Key_B), true);
  add(file, kRestore, texts::kMenuRestore, ctrl(Qt::Key_Y), true);
  add(file, kPrint, texts::kMenuPrint, ctrl(Qt::Key_P));
  add(file, kWantList, texts::kMenuWantList);
  add(file, kExit, texts::kMenuExit, ctrl(Qt::Key_X));
  MenuLastFilesSeparator = file->addSeparator();
  for (int i = 0; i < 5; ++i) {
    QAction* a = file->addAction(QStringLiteral("&%1").arg(i + 1));
    connect(a, &QAction::triggered, this, [this, i] {
      const QString path = state_.settings.last_files[static_cast<size_t>(i)];
      RunCommand([&] { OpenSaveFile(path); });
    });
    MenuLastFiles[static_cast<size_t>(i)] = a;
  }

  QMenu* records = bar->addMenu(Latin(texts::kMenuRecords));
  add(records, kAdd, texts::kMenuAdd, ctrl(Qt::Key_A), true);
  add(records, kEdit, texts::kMenuEdit, ctrl(Qt::Key_E));
  add(records, kCopy, texts::kMenuCopy, ctrl(Qt::Key_C), true);
  add(records, kDelete, texts::kMenuDelete, ctrl(Qt::Key_D), true);
  add(records, kImport, texts::kMenuImport, ctrl(Qt::Key_M), true);
  add(records, kExport, texts::kMenuExport, ctrl(Qt::Key_T));

  QMenu* navigate = bar->addMenu(Latin(texts::kMenuNavigate));
  add(navigate, kSearch, texts::kMenuSearch, ctrl(Qt::Key_S));
  add(navigate, kEndSearch, texts::kMenuEndSearch, ctrl(Qt::Key_I));
  add(navigate, kLocate, texts::kMenuLocate, ctrl(Qt::Key_L));
  add(navigate, kLocateNext, texts::kMenuLocateNext, ctrl(Qt::Key_N));
  add(navigate, kReports, texts::kMenuReports, ctrl(Qt::Key_R));
  add(navigate, kViewer, texts::kMenuViewer, ctrl(Qt::Key_V), true);

  QMenu* options = bar->addMenu(Latin(texts::kMenuOptions));
  add(options, kSortOrder, texts::kMenuSortOrder, ctrl(Qt::Key_Q));

  QMenu* sizes = options->addMenu(Latin(texts::kMenuScreenSize));
  auto* size_group = new QActionGroup(this);
  for (int i = 0; i < 4; ++i) {
    QAction* a = sizes->addAction(Latin(texts::kMenuScreenSizes[i]));
    a->setCheckable(true);
    a->setShortcut(shift(Qt::Key_F1 + i));
    size_group->addAction(a);
    const int setting = kScreenSizes[static_cast<size_t>(i)].setting;
    connect(a, &QAction::triggered, this,
            [this, setting] { RunCommand([&] { SetScreenSize(setting); }); });
    MenuScreenSizes[static_cast<size_t>(i)] = a;
  }
  // Ticks are set by the code alone: a refused size must stay unticked.
  size_group->setExclusionPolicy(QActionGroup::ExclusionPolicy::None);

  QMenu* access = options->addMenu(Latin(texts::kMenuScreenAccess));
  const char* const access_texts[] = {texts::kMenuSpeedButtons, texts::kMenuLetteredButtons,
                                      texts::kMenuNoButtons};
  for (int i = 0; i < 3; ++i) {
    QAction* a = access->addAction(Latin(access_texts[i]));
    a->setCheckable(true);
    a->setShortcut(ctrl(Qt::Key_F1 + i));
    connect(a, &QAction::triggered, this,
            [this, i] { RunCommand([&] { SetButtonBarMode(i + 1); }); });
    MenuScreenAccess[static_cast<size_t>(i)] = a;
  }

  MenuColor = options->addMenu(Latin(texts::kMenuColor));
  for (int i = 0; i < 6; ++i) {
    add(MenuColor, static_cast<Command>(kColorMain + i), texts::kMenuColors[i],
        ctrl(Qt::Key_F4 + i));
  }

  MenuListMaintenance = options->addMenu(Latin(texts::kMenuListMaintenance));
  for (int i = 0; i < 6; ++i) {
    add(MenuListMaintenance, static_cast<Command>(kListSaveDefaults + i), texts::kMenuLists[i], {},
        true);
  }

  QMenu* currency = options->addMenu(Latin(texts::kMenuCurrencyFormat));
  MenuCurrencyFormat[0] = currency->addAction(Latin(texts::kMenuUSDollars));
  MenuCurrencyFormat[1] = currency->addAction(Latin(texts::kMenuWindowsSetting));
  QMenu* numeric = options->addMenu(Latin(texts::kMenuNumericFormat));
  MenuNumericFormat[0] = numeric->addAction(Latin(texts::kMenuUSFormat));
  MenuNumericFormat[1] = numeric->addAction(Latin(texts::kMenuWindowsSetting));
  for (int i = 0; i < 2; ++i) {
    MenuCurrencyFormat[static_cast<size_t>(i)]->setCheckable(true);
    MenuNumericFormat[static_cast<size_t>(i)]->setCheckable(true);
    connect(MenuCurrencyFormat[static_cast<size_t>(i)], &QAction::triggered, this,
            [this, i] { RunCommand([&] { SetCurrencyFormat(i + 1); }); });
    connect(MenuNumericFormat[static_cast<size_t>(i)], &QAction::triggered, this,
            [this, i] { RunCommand([&] { SetNumericFormat(i + 1); }); });
  }

  QMenu* dates = options->addMenu(Latin(texts::kMenuDateFormat));
  MenuLeadingZeros = dates->addAction(Latin(texts::kMenuLeadingZeros));
  MenuLeadingZeros->setCheckable(true);
  connect(MenuLeadingZeros, &QAction::triggered, this,
          [this] { RunCommand([&] { ToggleLeadingZeros(); }); });
  dates->addSeparator();
  for (int i = 0; i < kDateFormatCount; ++i) {
    QAction* a = dates->addAction(DateFormatItem(i + 1));
    a->setCheckable(true);
    connect(a, &QAction::triggered, this, [this, i] { RunCommand([&] { SetDateFormat(i + 1); }); });
    MenuDateFormats[static_cast<size_t>(i)] = a;
  }

  const char* const font_texts[] = {texts::kMenuLabelFont, texts::kMenuEditFont,
                                    texts::kMenuButtonFont};
  for (int i = 0; i < 3; ++i) {
    QAction* a = options->addAction(Latin(font_texts[i]));
    a->setShortcut(shift(Qt::Key_F8 + i));
    connect(a, &QAction::triggered, this, [this, i] { RunCommand([&] { ChooseUserFont(i); }); });
    MenuFonts[static_cast<size_t>(i)] = a;
  }

  QMenu* tools = bar->addMenu(Latin(texts::kMenuTools));
  add(tools, kSearchReplace, texts::kMenuSearchReplace, ctrl(Qt::Key_F), true);
  add(tools, kRebuildIndexes, texts::kMenuRebuild);
  add(tools, kPackDatabase, texts::kMenuPack);
  add(tools, kRecallDeleted, texts::kMenuRecall, {}, true);
  add(tools, kStatistics, texts::kMenuStatistics);

  QMenu* help = bar->addMenu(Latin(texts::kMenuHelp));
  add(help, kHelpContents, texts::kMenuContents, ctrl(Qt::Key_H));
  add(help, kReviewTips, texts::kMenuTips);
  add(help, kOpenSample, texts::kMenuOpenSample);
  add(help, kAbout, texts::kMenuAbout);

  // What this window does itself; the other commands belong to forms that
  // register their handlers when they exist.
  slots_[kNew].handler = [this] { DoNew(); };
  slots_[kOpen].handler = [this] { DoOpen(); };
  slots_[kUpdate].handler = [this] { DoUpdate(); };
  slots_[kExit].handler = [this] { close(); };
  slots_[kDelete].handler = [this] { DoDelete(); };
  slots_[kEndSearch].handler = [this] { DoEndSearch(); };
  slots_[kHelpContents].handler = [this] { DoHelpContents(); };
  slots_[kAbout].handler = [this] { DoAbout(); };
  slots_[kOpenSample].handler = [this] { DoOpenSample(); };
}

void TMain::SetCommandHandler(Command command, std::function<void()> handler) {
  slots_[command].handler = std::move(handler);
  UpdateCommandStates();
}

bool TMain::CommandAvailable(Command command) const {
  // Print under File is the Reports command by another name.
  if (command == kPrint) return CommandAvailable(kReports);
  const Slot& s = slots_[command];
  if (!s.handler) return false;
  if (state_.browse_only && s.browse_locked) return false;
  if (command == kEndSearch && !db_.searching()) return false;
  return true;
}

void TMain::Trigger(Command command) {
  if (command == kPrint) command = kReports;
  if (!CommandAvailable(command)) return;
  // The handler may replace itself (a form registering another); run a copy.
  std::function<void()> handler = slots_[command].handler;
  RunCommand(handler);
}

void TMain::UpdateCommandStates() {
  const int mode = state_.settings.button_bar;
  for (int c = 0; c < kCommandCount; ++c) {
    const bool on = CommandAvailable(static_cast<Command>(c));
    Slot& s = slots_[static_cast<size_t>(c)];
    if (s.action) s.action->setEnabled(on);
    if (s.speed) s.speed->setEnabled(on);
    if (s.button) s.button->setEnabled(on && mode == 2);
  }
  // Browse-only mode closes the whole list maintenance menu.
  if (MenuListMaintenance) MenuListMaintenance->menuAction()->setEnabled(!state_.browse_only);
}

bool TMain::RunCommand(const std::function<void()>& fn) {
  try {
    fn();
    return true;
  } catch (const dbf::DbfError& e) {
    ShowGeneralError(QString::fromStdString(e.what()));
  } catch (const std::exception& e) {
    ShowGeneralError(QString::fromLocal8Bit(e.what()));
  }
  UpdateNavigator();
  return false;
}

void TMain::ShowGeneralError(const QString& message) {
  prompts().MessageBox(this, Latin(texts::kGeneralErrorCaption), message, MsgIcon::kError,
                       MsgButtons::kOk, MsgButton::kOk);
}

}  // namespace klv::app
