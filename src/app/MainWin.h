// The main window, TMain: start-up, the command table (menus, lettered
// buttons, speed buttons), the three button-bar layouts, the viewer grid over
// the open coin table, the record count and search-mode indicator, and close.
// The open database itself (table, settings, sort order, search mode, the
// switch between databases) is the window's OpenDatabase; the window shows
// what it announces and wires the commands to it.
//
// Its code is split by job: MainWin.cpp (creation, controls, layout, grid,
// close), MainWinMenus.cpp (the command table), MainWinStart.cpp (the
// creation steps and the start-up choice of database), MainWinCommands.cpp
// (the window's own commands).
//
// Promises:
// - While the window exists a database is open: start-up fails (FormCreate
//   returns false after saying why) rather than show a window without one,
//   and a database switch that fails part way opens the previous database
//   again.
// - Every command runs inside RunCommand: an engine error it does not catch
//   is shown in the general error display and ends that command.
// - All questions and messages go through platform::prompts().
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include <QMainWindow>
#include <QSize>
#include <QStringList>

#include "app/AppState.h"
#include "app/CommandLine.h"
#include "app/Commands.h"
#include "app/MyNavigator.h"
#include "app/OpenDatabase.h"
#include "app/ViewerGrid.h"
#include "app/ViewerModel.h"
#include "db/dbf/Table.h"
#include "platform/Prompts.h"

class QAction;
class QActionGroup;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QToolButton;

namespace klv::pictures {
class ObverseThumbnails;
}

namespace klv::platform {
class HelpWindow;
}

namespace klv::app {

class TMain : public QMainWindow {
  Q_OBJECT

 public:
  // The commands (Commands.h), named TMain::kNew etc. here as well.
  using Command = app::Command;
  using enum app::Command;

  explicit TMain(QWidget* parent = nullptr);
  ~TMain() override;

  // The creation steps, in order. False when the program cannot run without
  // a database; the reason has been shown.
  bool FormCreate(const StartOptions& options);

  AppState& state() { return state_; }
  const AppState& state() const { return state_; }
  OpenDatabase& database() { return db_; }
  dbf::Table& MyTable() { return db_.MyTable(); }
  const QString& sort_string() const { return db_.sort_string(); }
  ViewerModel* viewer_model() const { return model_; }

  // Gives a command its action (the window then offers it) or takes it away
  // (nullptr: the command is shown disabled). Later forms register theirs.
  void SetCommandHandler(Command command, std::function<void()> handler);
  bool CommandAvailable(Command command) const;
  QAction* CommandAction(Command command) const { return slots_[command].action; }
  QPushButton* CommandButton(Command command) const { return slots_[command].button; }
  QToolButton* CommandSpeed(Command command) const { return slots_[command].speed; }
  // Runs the command as the user would (nothing when it is not available).
  void Trigger(Command command);

  // Runs fn as one command: an engine or I/O error it lets through is shown
  // in the general error display, ending the command. Returns false then.
  bool RunCommand(const std::function<void()>& fn);
  // Runs handler once, soon after the window first becomes active once its
  // creation steps are done (the tip of the day at start-up).
  void SetFirstActivationHandler(std::function<void()> handler);
  // The general error display.
  void ShowGeneralError(const QString& message);

  // Operations the other forms call.
  void DisplayCount();
  // Puts the grid on the table's current row (selected and in view) after a
  // command that moved the cursor without changing rows, such as a locate.
  void ShowCurrentRow();
  void SetViewerOptions();
  void SetPictureColumn(bool on, int side);
  void EnableEndSearch();
  void DisableEndSearch();
  void DoEndSearch();
  void DoFileSpecific();
  void SetColors();
  void SetButtonBar();
  void SetMenuLastFiles();

  // Commands.
  void DoNew();
  void DoOpen();
  void OpenSaveFile(const QString& path);
  void DoUpdate();
  void DoDelete();
  void DoAbout();
  void DoHelpContents();
  // Open Sample Collection: the shipped sample copied into the program
  // directory unless a SAMPLE.DBF is there already, then opened.
  void DoOpenSample();
  // Where the sample is copied from; a null string (the default) means the
  // program's shipped files (platform::ShippedFilesDir).
  void SetSampleSource(QString dir) { sample_source_ = std::move(dir); }
  void SetButtonBarMode(int mode);
  void SetScreenSize(int setting);
  void SetDateFormat(int format);
  void ToggleLeadingZeros();
  void SetNumericFormat(int format);
  void SetCurrencyFormat(int format);
  // which: 0 label, 1 edit, 2 button font.
  void ChooseUserFont(int which);
  void NavigatorClick(int button);

  // Controls, named as the window names them.
  QWidget* client() const { return client_; }
  QFrame* SpeedPanel = nullptr;
  QFrame* ViewerBevel = nullptr;
  std::array<QFrame*, 4> Bevels{};
  QLabel* ViewerLabel = nullptr;
  QLabel* NavigatorLabel = nullptr;
  QLabel* SearchOnLabel = nullptr;
  QLabel* CountLabel = nullptr;
  QLabel* Count2Label = nullptr;
  ViewerGridView* ViewerGrid = nullptr;
  MyNavigator* Navigator = nullptr;  // MyNavigator
  std::array<QAction*, 5> MenuLastFiles{};
  QAction* MenuLastFilesSeparator = nullptr;
  std::array<QAction*, 4> MenuScreenSizes{};
  std::array<QAction*, 3> MenuScreenAccess{};
  std::array<QAction*, 12> MenuDateFormats{};
  QAction* MenuLeadingZeros = nullptr;
  std::array<QAction*, 2> MenuNumericFormat{};
  std::array<QAction*, 2> MenuCurrencyFormat{};
  std::array<QAction*, 3> MenuFonts{};
  QMenu* MenuListMaintenance = nullptr;
  QMenu* MenuColor = nullptr;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Slot {
    QAction* action = nullptr;
    QPushButton* button = nullptr;
    QToolButton* speed = nullptr;
    std::function<void()> handler;
    bool browse_locked = false;  // unavailable in browse-only mode
  };

  void BuildMenus();
  void BuildControls();
  void UpdateCommandStates();
  void FormResize();
  void ApplyFormats(bool refresh);
  QString ChooseStartDatabase(const CommandLine& line);
  QString AskForValidDatabase();
  bool IsValidDatabase(const QString& path);
  bool CreateDefaultDatabase(const QString& path);
  void SwitchTo(const QString& path, bool is_new);
  // Views of the open database's changes.
  void ShowDatabaseName();
  void SearchModeShown(bool on);
  void SyncGridToCursor();
  void SyncGridToRow(int row);
  void GridCurrentRowChanged(int row);
  void UpdateNavigator();
  platform::FileDialogRequest DatabaseDialog(const char* title) const;
  void CloseForm();

  AppState state_;
  OpenDatabase db_{state_};  // holds MyTable
  ViewerModel* model_ = nullptr;
  // The small pictures of the grid's obverse column, made once.
  std::shared_ptr<pictures::ObverseThumbnails> thumbnails_;
  QWidget* client_ = nullptr;
  std::array<Slot, kCommandCount> slots_{};
  bool created_ = false;
  bool shown_ = false;
  bool closed_ = false;
  bool syncing_grid_ = false;
  std::function<void()> first_activation_;
  bool activated_ = false;
  QString sample_source_;
};

}  // namespace klv::app
