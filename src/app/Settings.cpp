#include "app/Settings.h"

#include <stdexcept>

#include <QFileInfo>

#include "base/Error.h"
#include "platform/Paths.h"
#include "platform/Profile.h"

namespace klv::app {
namespace {

using db::FieldTable;
using db::kFieldCount;
using db::kMiscellane;

using platform::ProfileFile;

// The section and key texts live in the visit functions below and nowhere
// else: reading and writing both walk them, so the two can never disagree on
// a name, a default or the order in which a new file lists the keys.

struct ColorKey {
  const char* key;
  int value;  // default
};
constexpr std::array<ColorKey, kColorRoleCount> kColorKeys = {{
    {"Main Background", 12632256},
    {"Major Title", 0},
    {"Minor Title", 0},
    {"Edit Background", 16777215},
    {"Edit Text", 0},
    {"Combo Background", 16777215},
    {"Combo Text", 0},
    {"List Box Background", 16777215},
    {"List Box Text", 0},
    {"Radio Background", 12632256},
    {"Radio Text", 0},
    {"Check Background", 12632256},
    {"Check Text", 0},
}};

constexpr std::array<const char*, kColorGroupCount> kColorSections = {
    "Main Window Color",   "Edit Window Color",      "Search Window Color",
    "Report Window Color", "Configure Window Color",
};

constexpr int kGridTitleBackground = 8553090;
constexpr int kGridCellColor = 12632256;
constexpr int kGridTitleFontSize = 12;
constexpr int kGridFontSize = 10;
constexpr char kDefaultFontName[] = "Arial";
constexpr int kFontNameLength = 150;
constexpr int kCaptionLength = 20;

using Check = bool (*)(int);
bool AnyValue(int) {
  return true;
}
bool IsButtonBar(int v) {
  return v >= 1 && v <= 3;
}
bool IsWindowSize(int v) {
  return v == 640 || v == 800 || v == 1024 || v == 1280;
}
bool IsDateFormat(int v) {
  return v >= 1 && v <= 12;
}
bool IsFormatChoice(int v) {
  return v == 1 || v == 2;
}
bool IsSortLevel(int v) {
  return v >= 0 && v <= kFieldCount;
}
// The sizes a font dialog lists: smaller cannot be read, larger leaves no
// room for the rows.
bool IsFontSize(int v) {
  return v >= 6 && v <= 72;
}
bool IsColor(int v) {
  return v >= 0 && v <= 0xFFFFFF;
}

QString Q(const char* text) {
  return QString::fromLatin1(text);
}
QString Q(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// The first n characters of text, never splitting a character made of two
// UTF-16 units.
QString Cut(const QString& text, int n) {
  if (n <= 0 || text.size() <= n) return text;
  qsizetype end = n;
  if (text[end - 1].isHighSurrogate()) --end;
  return text.left(end);
}

// A font as its keys store it.
struct FontParts {
  QColor color;
  QString name = Q(kDefaultFontName);
  int size = 0;
  bool bold = false, italic = false, underline = false, strikeout = false;
};

// grid: a grid font (size, colour, underline and strikeout are stored);
// otherwise a user font of the forms (name, bold and italic only).
QFont FontOf(const FontParts& p, bool grid) {
  QFont font(p.name);
  if (grid) {
    font.setPointSize(p.size);
    font.setUnderline(p.underline);
    font.setStrikeOut(p.strikeout);
  }
  font.setBold(p.bold);
  font.setItalic(p.italic);
  return font;
}

FontParts PartsOf(const QFont& font, const QColor* color, int default_size) {
  FontParts p;
  if (color != nullptr) p.color = *color;
  p.name = font.family();
  p.size = font.pointSize() > 0 ? font.pointSize() : default_size;
  p.bold = font.bold();
  p.italic = font.italic();
  p.underline = font.underline();
  p.strikeout = font.strikeOut();
  return p;
}

template <class P, class V>
void VisitFontKeys(V& v, const QString& section, P& p, bool grid, int default_size) {
  if (grid) v.Color(section, Q("Color"), p.color, 0);
  v.Text(section, Q("Font Name"), p.name, Q(kDefaultFontName), kFontNameLength);
  if (grid) v.Int(section, Q("Size"), p.size, default_size, IsFontSize);
  v.YesNo(section, Q("Bold"), p.bold, false);
  v.YesNo(section, Q("Italic"), p.italic, false);
  if (grid) {
    v.YesNo(section, Q("Underline"), p.underline, false);
    v.YesNo(section, Q("Strikeout"), p.strikeout, false);
  }
}

class Reader {
 public:
  explicit Reader(const ProfileFile& file) : file_(file) {}

  void Int(const QString& section, const QString& key, int& value, int def,
           Check valid = AnyValue) {
    const int read = file_.GetInt(section, key, def);
    value = valid(read) ? read : def;
  }
  void YesNo(const QString& section, const QString& key, bool& value, bool def) {
    const QString text = file_.GetString(section, key, def ? Q("Yes") : Q("No"));
    value = text.toUpper() == Q("YES");
  }
  // keep: the number of characters kept, 0 for all.
  void Text(const QString& section, const QString& key, QString& value, const QString& def,
            int keep) {
    value = Cut(file_.GetString(section, key, def), keep);
  }
  void Color(const QString& section, const QString& key, QColor& value, int def) {
    int read = 0;
    Int(section, key, read, def, IsColor);
    value = ColorFromValue(read);
  }
  void Font(const QString& section, QFont& font, QColor* color, int default_size) {
    FontParts p;
    const bool grid = color != nullptr;
    VisitFontKeys(*this, section, p, grid, default_size);
    if (p.name.trimmed().isEmpty()) p.name = Q(kDefaultFontName);
    font = FontOf(p, grid);
    if (grid) *color = p.color;
  }

 private:
  const ProfileFile& file_;
};

class Writer {
 public:
  explicit Writer(ProfileFile& file) : file_(file) {}

  void Int(const QString& section, const QString& key, const int& value, int /*def*/,
           Check /*valid*/ = AnyValue) {
    file_.SetString(section, key, QString::number(value));
  }
  void YesNo(const QString& section, const QString& key, const bool& value, bool /*def*/) {
    file_.SetString(section, key, value ? Q("Yes") : Q("No"));
  }
  void Text(const QString& section, const QString& key, const QString& value,
            const QString& /*def*/, int /*keep*/) {
    file_.SetString(section, key, value);
  }
  void Color(const QString& section, const QString& key, const QColor& value, int /*def*/) {
    file_.SetString(section, key, QString::number(ColorValue(value)));
  }
  void Font(const QString& section, const QFont& font, const QColor* color, int default_size) {
    const FontParts p = PartsOf(font, color, default_size);
    VisitFontKeys(*this, section, p, color != nullptr, default_size);
  }

 private:
  ProfileFile& file_;
};

// The program settings file, in the order a new file lists the keys.
template <class S, class V>
void VisitProgram(S& s, V& v, const QString& start_dir) {
  const QString misc = Q("Misc");
  v.Int(misc, Q("Button Bar"), s.button_bar, 1, IsButtonBar);
  v.Int(misc, Q("Main Window Left"), s.main_window.left, 0);
  v.Int(misc, Q("Main Window Top"), s.main_window.top, 0);
  v.Int(misc, Q("Main Window Width"), s.main_window.width, 640);
  v.Int(misc, Q("Main Window Height"), s.main_window.height, 480);
  v.Text(misc, Q("Last Import File"), s.last_import_file, start_dir, 0);
  v.Text(misc, Q("Last Export File"), s.last_export_file, start_dir, 0);
  v.Text(misc, Q("Last Database"), s.last_database, QString(), 0);
  for (size_t i = 0; i < s.last_files.size(); ++i) {
    v.Text(misc, Q("Last File ") + QString::number(i + 1), s.last_files[i], QString(), 0);
  }
  v.YesNo(misc, Q("Show Tips"), s.show_tips, true);
  v.Int(misc, Q("Window Size"), s.window_size, 640, IsWindowSize);
  v.Int(misc, Q("Date Format"), s.date_format, 1, IsDateFormat);
  v.YesNo(misc, Q("Date Leading Zeros"), s.date_leading_zeros, false);
  v.Int(misc, Q("Currency Format"), s.currency_format, 1, IsFormatChoice);
  v.Int(misc, Q("Numeric Format"), s.numeric_format, 1, IsFormatChoice);

  const QString sec = Q("Defaults");
  auto& d = s.defaults;
  v.YesNo(sec, Q("Load Defaults With Add"), d.load_with_add, false);
  v.YesNo(sec, Q("Load Defaults With Clear"), d.load_with_clear, false);
  v.Text(sec, Q("Country"), d.country, QString(), 20);
  v.Text(sec, Q("Face Value"), d.face_value, QString(), 20);
  v.Text(sec, Q("Topic"), d.topic, QString(), 20);
  v.Text(sec, Q("Year"), d.year, QString(), 7);
  v.Text(sec, Q("Mint Mark"), d.mint_mark, QString(), 3);
  v.Text(sec, Q("Condition"), d.condition, QString(), 30);
  v.Text(sec, Q("Description"), d.description, QString(), 40);
  v.Text(sec, Q("Comments"), d.comments, QString(), 80);
  v.Text(sec, Q("Miscellaneous"), d.miscellaneous, QString(), 110);
  v.Text(sec, Q("Purchase Date"), d.purchase_date, QString(), 10);
  for (size_t i = 0; i < d.user_defined.size(); ++i) {
    v.Text(sec, Q("User Defined ") + QString::number(i + 1), d.user_defined[i], QString(), 40);
  }
  v.Text(sec, Q("Quantity"), d.quantity, QString(), 10);
  v.Text(sec, Q("Purchase Price"), d.purchase_price, QString(), 20);
  v.Text(sec, Q("Market Value"), d.market_value, QString(), 20);
  v.Text(sec, Q("Premium Value"), d.premium_value, QString(), 20);
  v.YesNo(sec, Q("Approximate Year"), d.approximate_year, false);
  v.YesNo(sec, Q("Wanted"), d.wanted, false);
}

// The database settings file, in the order a new file lists the keys.
template <class S, class V>
void VisitDatabase(S& s, V& v) {
  auto per_field = [&v](const char* section, auto& values, auto visit_one) {
    const QString sec = Q(section);
    for (int i = 1; i <= kFieldCount; ++i) {
      visit_one(v, sec, Q(FieldTable[static_cast<size_t>(i)].name), values[static_cast<size_t>(i)],
                i);
    }
  };
  per_field("Field Names", s.field_names,
            [](V& w, const QString& sec, const QString& key, auto& value, int i) {
              w.Text(sec, key, value, Q(FieldTable[static_cast<size_t>(i)].caption),
                     kCaptionLength);
            });
  auto yes = [](V& w, const QString& sec, const QString& key, auto& value, int) {
    w.YesNo(sec, key, value, true);
  };
  auto own_number = [](V& w, const QString& sec, const QString& key, auto& value, int i) {
    w.Int(sec, key, value, i);
  };
  per_field("Display Fields", s.display_fields, yes);
  per_field("Field Width", s.field_width,
            [](V& w, const QString& sec, const QString& key, auto& value, int) {
              w.Int(sec, key, value, 15);
            });
  per_field("Field Order", s.field_order, own_number);
  per_field("Export Fields", s.export_fields, yes);
  per_field("Export Order", s.export_order, own_number);

  v.YesNo(Q("Export"), Q("First Row"), s.export_first_row, true);
  v.Int(Q("Export"), Q("File Type"), s.export_file_type, 1);
  v.YesNo(Q("Import"), Q("Skip First"), s.import_skip_first, true);
  v.Int(Q("Import"), Q("File Type"), s.import_file_type, 1);

  const QString sort = Q("Sort Order");
  v.Int(sort, Q("Primary Sort"), s.sort_levels[0], kMiscellane, IsSortLevel);
  v.Int(sort, Q("Secondary Sort"), s.sort_levels[1], 0, IsSortLevel);
  v.Int(sort, Q("Third Level Sort"), s.sort_levels[2], 0, IsSortLevel);
  v.Int(sort, Q("Fourth Level Sort"), s.sort_levels[3], 0, IsSortLevel);

  for (size_t g = 0; g < kColorSections.size(); ++g) {
    const QString sec = Q(kColorSections[g]);
    for (size_t c = 0; c < kColorKeys.size(); ++c) {
      v.Color(sec, Q(kColorKeys[c].key), s.colors[g][c], kColorKeys[c].value);
    }
  }

  const QString title = Q("Grid Title");
  v.YesNo(title, Q("Show Titles"), s.grid_show_titles, true);
  v.Color(title, Q("Background Color"), s.grid_title_background, kGridTitleBackground);
  v.Int(title, Q("Alignment"), s.grid_title_alignment, 2);
  v.Font(Q("Grid Title Font"), s.grid_title_font, &s.grid_title_font_color, kGridTitleFontSize);
  v.Font(Q("Grid Font"), s.grid_font, &s.grid_font_color, kGridFontSize);

  const QString options = Q("Grid Options");
  v.Color(options, Q("Cell Color"), s.grid_cell_color, kGridCellColor);
  v.YesNo(options, Q("Column Lines"), s.grid_column_lines, true);
  v.YesNo(options, Q("Row Lines"), s.grid_row_lines, true);
  v.YesNo(options, Q("Row Indicator"), s.grid_row_indicator, true);
  v.YesNo(options, Q("Field Editing"), s.grid_field_editing, false);
  v.YesNo(options, Q("Obverse Pictures"), s.grid_obverse_column, false);

  v.Font(Q("Edit Font"), s.edit_font, nullptr, 0);
  v.Font(Q("Label Font"), s.label_font, nullptr, 0);
  v.Font(Q("Button Font"), s.button_font, nullptr, 0);

  const QString reports = Q("Reports");
  v.Int(reports, Q("Last Report"), s.last_report, 0);
  v.YesNo(reports, Q("Default Printer"), s.default_printer, true);
  v.Int(reports, Q("Printer Index"), s.printer_index, 0);
  v.Int(reports, Q("Report Viewing Window Left"), s.report_window.left, 0);
  v.Int(reports, Q("Report Viewing Window Top"), s.report_window.top, 0);
  v.Int(reports, Q("Report Viewing Window Width"), s.report_window.width, 640);
  v.Int(reports, Q("Report Viewing Window Height"), s.report_window.height, 480);
}

// The existing file that path names, in any letter case of its file name,
// else path itself.
QString Resolve(const QString& path) {
  const QFileInfo info(path);
  return platform::CompanionFile(info.path(), info.fileName());
}

}  // namespace

ColorGroup DefaultColorGroup() {
  ColorGroup group;
  for (size_t c = 0; c < kColorKeys.size(); ++c) group[c] = ColorFromValue(kColorKeys[c].value);
  return group;
}

QColor ColorFromValue(int value) {
  return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

int ColorValue(const QColor& color) {
  const QColor rgb = color.toRgb();
  return rgb.red() + 256 * rgb.green() + 65536 * rgb.blue();
}

Settings::Settings() {
  for (int i = 1; i <= kFieldCount; ++i) {
    const auto n = static_cast<size_t>(i);
    field_names[n] = Q(FieldTable[n].caption);
    display_fields[n] = true;
    field_width[n] = 15;
    field_order[n] = i;
    export_fields[n] = true;
    export_order[n] = i;
  }
  display_fields[0] = export_fields[0] = false;
  field_width[0] = field_order[0] = export_order[0] = 0;
  colors.fill(DefaultColorGroup());
  grid_title_background = ColorFromValue(kGridTitleBackground);
  grid_cell_color = ColorFromValue(kGridCellColor);
  grid_title_font_color = grid_font_color = ColorFromValue(0);
  FontParts p;
  p.size = kGridTitleFontSize;
  grid_title_font = FontOf(p, true);
  p.size = kGridFontSize;
  grid_font = FontOf(p, true);
  edit_font = label_font = button_font = FontOf(FontParts(), false);
}

QString ProgramSettingsPath(const QString& windows_dir) {
  return platform::CompanionFile(windows_dir, Q(kProgramSettingsName));
}

QString DatabaseSettingsPath(const QString& base_path) {
  return Resolve(base_path + Q(".INI"));
}

void ReadSettings(Settings& settings, int part, const SettingsFiles& files,
                  const QString& database_ini) {
  if (part == kProgramSettings) {
    const ProfileFile file(Resolve(files.program_ini));
    Reader reader(file);
    VisitProgram(settings, reader, files.start_dir);
    return;
  }
  if (part != kDatabaseSettings) throw std::invalid_argument("settings part must be 1 or 2");
  QString path = Resolve(files.program_ini);
  if (!database_ini.isEmpty()) {
    const QString own = Resolve(database_ini);
    if (QFileInfo(own).isFile()) path = own;
  }
  const ProfileFile file(path);
  Reader reader(file);
  VisitDatabase(settings, reader);
}

void WriteSettings(const Settings& settings, int part, const SettingsFiles& files,
                   const QString& database_ini) {
  if (part == kProgramSettings) {
    QString error;
    if (!platform::EnsureDirectory(QFileInfo(files.program_ini).path(), &error)) {
      dbf::Fail(dbf::ErrorCode::kIo, error.toStdString());
    }
    ProfileFile file(Resolve(files.program_ini));
    Writer writer(file);
    VisitProgram(settings, writer, files.start_dir);
    file.Save();
    return;
  }
  if (part != kDatabaseSettings) throw std::invalid_argument("settings part must be 1 or 2");
  if (database_ini.isEmpty()) throw std::invalid_argument("no database settings file named");
  ProfileFile file(Resolve(database_ini));
  Writer writer(file);
  VisitDatabase(settings, writer);
  file.Save();
}

}  // namespace klv::app
