// The settings record: every value the program keeps in its two settings
// files, and the reading and writing of those files.
//
// - The program settings file, KLVCOIN.INI in the Windows directory, holds the
//   sections "Misc" and "Defaults" (part 1).
// - The database settings file, the database's base path + ".INI", holds all
//   other sections (part 2): field captions and grid columns, export and
//   import choices, the sort order, the five colour groups, the grid's look,
//   the user fonts and the report choices.
//
// Reading takes every value from its key, or the key's default when the key
// is missing, so a record read from an empty file holds the defaults. Yes/no
// values are written "Yes" and "No" and read as true exactly when the text in
// upper case is "YES". Integers are decimal; a text without leading digits
// reads as the default, and so does a value outside the range a key can take
// where using it would go wrong (a date format other than 1 to 12, a sort
// level other than 0 to 20, a colour outside 0 to 0xFFFFFF, ...). Texts are cut
// to the length the record keeps; paths are kept whole.
#pragma once

#include <array>

#include <QColor>
#include <QFont>
#include <QString>

#include "db/FieldTable.h"

namespace klv::app {

// Colours of one colour group, in their stored order.
enum ColorRole : int {
  kMainBackground,
  kMajorTitle,
  kMinorTitle,
  kEditBackground,
  kEditText,
  kComboBackground,
  kComboText,
  kListBoxBackground,
  kListBoxText,
  kRadioBackground,
  kRadioText,
  kCheckBackground,
  kCheckText,
  kColorRoleCount
};
using ColorGroup = std::array<QColor, kColorRoleCount>;

// The five colour groups.
enum ColorGroupId : int {
  kMainColors,
  kEditColors,
  kSearchColors,
  kReportColors,
  kConfigureColors,
  kColorGroupCount
};

// Light grey backgrounds, black texts, white edit, combo and list backgrounds.
ColorGroup DefaultColorGroup();

// Colours as the settings store them: red + 256 * green + 65536 * blue.
QColor ColorFromValue(int value);
int ColorValue(const QColor& color);

// Per-field settings, indexed by field number 1 to 20; entry 0 is unused.
template <class T>
using PerField = std::array<T, db::kFieldCount + 1>;

// The default values for new records (section "Defaults"), texts as the edit
// form showed them.
struct DefaultValues {
  bool load_with_add = false;
  bool load_with_clear = false;
  QString country, face_value, topic;                   // cut to 20
  QString year;                                         // 7
  QString mint_mark;                                    // 3
  QString condition;                                    // 30
  QString description;                                  // 40
  QString comments;                                     // 80
  QString miscellaneous;                                // 110
  QString purchase_date;                                // 10
  std::array<QString, 4> user_defined;                  // 40 each
  QString quantity;                                     // 10
  QString purchase_price, market_value, premium_value;  // 20
  bool approximate_year = false;
  bool wanted = false;
  bool operator==(const DefaultValues&) const = default;
};

// Window position and size in pixels.
struct WindowPlace {
  int left = 0;
  int top = 0;
  int width = 640;
  int height = 480;
  bool operator==(const WindowPlace&) const = default;
};

struct Settings {
  Settings();

  // Program settings file, "Misc".
  int button_bar = 1;  // 1 speed buttons, 2 lettered buttons, 3 none
  WindowPlace main_window;
  QString last_import_file;  // default: the start directory
  QString last_export_file;  // default: the start directory
  QString last_database;
  std::array<QString, 5> last_files;  // recent files, entry 1 first
  bool show_tips = true;
  int window_size = 640;  // 640, 800, 1024 or 1280
  int date_format = 1;    // 1 to 12
  bool date_leading_zeros = false;
  int currency_format = 1;  // 1 U.S. dollars, 2 Windows setting
  int numeric_format = 1;   // 1 U.S. format, 2 Windows setting

  // Program settings file, "Defaults".
  DefaultValues defaults;

  // Database settings file, per field.
  PerField<QString> field_names;  // the field caption table, cut to 20
  PerField<bool> display_fields;
  PerField<int> field_width;
  PerField<int> field_order;
  PerField<bool> export_fields;
  PerField<int> export_order;

  // "Export", "Import".
  bool export_first_row = true;
  int export_file_type = 1;  // 1 ASCII, 2 dBase
  bool import_skip_first = true;
  int import_file_type = 1;  // 1 text, 2 dBase

  // "Sort Order": primary, secondary, third and fourth level; 0 none, else a
  // field number.
  std::array<int, 4> sort_levels = {db::kMiscellane, 0, 0, 0};

  // The colour group sections.
  std::array<ColorGroup, kColorGroupCount> colors;

  // "Grid Title", "Grid Title Font", "Grid Font", "Grid Options". The grid
  // fonts keep name, size and the four styles; their colours are apart,
  // since a font has none.
  bool grid_show_titles = true;
  QColor grid_title_background;
  int grid_title_alignment = 2;  // 1 left, 2 centre, 3 right
  QFont grid_title_font;
  QColor grid_title_font_color;
  QFont grid_font;
  QColor grid_font_color;
  QColor grid_cell_color;
  bool grid_column_lines = true;
  bool grid_row_lines = true;
  bool grid_row_indicator = true;
  bool grid_field_editing = false;
  bool grid_obverse_column = false;  // a column of small obverse pictures

  // "Edit Font", "Label Font", "Button Font": name, bold and italic only; the
  // size is each form's own.
  QFont edit_font;
  QFont label_font;
  QFont button_font;

  // "Reports".
  int last_report = 0;
  bool default_printer = true;
  int printer_index = 0;
  WindowPlace report_window;

  bool operator==(const Settings&) const = default;
};

// The two settings files of the open database.
enum SettingsPart : int { kProgramSettings = 1, kDatabaseSettings = 2 };

struct SettingsFiles {
  QString program_ini;  // the program settings file, see ProgramSettingsPath
  QString start_dir;    // the start directory: default of the last import and export files
};

// Name of the program settings file.
inline constexpr char kProgramSettingsName[] = "KLVCOIN.INI";

// KLVCOIN.INI in the Windows directory (a file of any letter case there).
QString ProgramSettingsPath(const QString& windows_dir);
// The database settings file of the database whose base path (directory and
// table name, no extension) is given: base + ".INI", or the existing file of
// that name in any letter case.
QString DatabaseSettingsPath(const QString& base_path);

// kProgramSettings reads "Misc" and "Defaults" from the program settings
// file (database_ini is not used). kDatabaseSettings reads the database
// sections from database_ini when that file exists, else from the program
// settings file (a new database, or one whose file is missing; an empty
// database_ini reads the program settings file too). Values of the other
// part are left as they are. A file that cannot be read gives the defaults.
void ReadSettings(Settings& settings, int part, const SettingsFiles& files,
                  const QString& database_ini);

// kProgramSettings writes "Misc" and "Defaults" to the program settings
// file, creating the Windows directory when it is missing; kDatabaseSettings
// writes all database sections to database_ini (created when missing; must
// not be empty). Each key changes only its own line, and the file is
// replaced as a whole, so a failure leaves the previous file intact: then
// klv::dbf::DbfError is thrown. A part other than 1 or 2 throws
// std::invalid_argument.
void WriteSettings(const Settings& settings, int part, const SettingsFiles& files,
                   const QString& database_ini);

}  // namespace klv::app
