// The application-wide state: one instance, owned by the main window, that
// every form takes by reference. It holds what the whole program shares
// while it runs: where the program's files are, the browse-only flag, the
// edit form's mode, the dialog scale factor and the
// screen, the user fonts, the settings record, and the open database's name
// and derived paths.
//
// Search mode belongs to the open database (OpenDatabase), which also keeps
// the name, paths and settings held here up to date.
//
// The button-bar mode ("Button Bar") and the window-size setting ("Window
// Size") are settings and live in the record; the state adds what is derived
// from them at run time.
#pragma once

#include <vector>

#include <QString>

#include "app/Formats.h"
#include "app/Settings.h"
#include "db/DbFiles.h"
#include "platform/Intl.h"
#include "platform/UserFonts.h"

namespace klv::app {

using platform::UserFonts;

// What the record edit form is asked to do.
enum EditMode : int { kEditAdd = 1, kEditChange = 2, kEditCopy = 3 };

// Size of the report definition buffer.
inline constexpr int kReportDefinitionSize = 20622;

struct AppState {
  // Directories, without a trailing '/' (the root stays "/").
  QString program_dir;  // the default database, report definitions, pick-list defaults
  QString start_dir;    // the current directory at start
  QString windows_dir;  // the program settings file and WIN.INI

  bool browse_only = false;  // "/BROWSE": no adding, copying, deleting or field editing
  int edit_mode = kEditAdd;  // for the record edit form

  double scale_factor = 1.0;  // from "Window Size", for every dialog
  int screen_width = 0;
  int screen_height = 0;

  // Grid title, grid, label, edit and button font. Read from the settings at
  // start and at each database switch; font commands change them here and in
  // the record alike.
  UserFonts fonts;

  Settings settings;
  SettingsFiles files;  // the program settings file and the start directory

  // The open database: its name as the user chose it (also "Last Database")
  // and the paths derived from it.
  QString database_name;
  db::DatabasePaths paths;

  // The international settings read at start, and the number formats in
  // force (from them and the "Numeric Format" and "Currency Format" settings).
  platform::IntlSettings intl;
  NumberFormats formats;

  // "Field Editing" as stored, kept while browse-only mode switches it off,
  // so that closing writes the stored value back.
  bool saved_field_editing = false;

  // The report definition buffer, allocated with the main window.
  std::vector<char> report_definition;

  // The database settings file of the open database.
  const QString& database_ini() const { return paths.ini; }
  int button_bar() const { return settings.button_bar; }
  int window_size() const { return settings.window_size; }
};

// The user fonts the settings record holds.
inline UserFonts UserFontsOf(const Settings& s) {
  return UserFonts{s.grid_title_font, s.grid_font, s.label_font, s.edit_font, s.button_font};
}
inline void StoreUserFonts(Settings& s, const UserFonts& f) {
  s.grid_title_font = f.grid_title;
  s.grid_font = f.grid;
  s.label_font = f.label;
  s.edit_font = f.edit;
  s.button_font = f.button;
}

}  // namespace klv::app
