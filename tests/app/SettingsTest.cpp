#include "app/Settings.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/Error.h"
#include "platform/Profile.h"
#include "support/QtText.h"
#include "support/TempDir.h"

namespace klv::app {
namespace {

using namespace klv::db;

using test::Q;

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// The section lines of an INI text, in order.
std::vector<std::string> Sections(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] == '[') out.push_back(line);
  }
  return out;
}

// The lines of one section of an INI text, without its heading.
std::string SectionText(const std::string& text, const std::string& section) {
  const std::string head = "[" + section + "]\n";
  const size_t start = text.find(head);
  if (start == std::string::npos) return "(missing)";
  const size_t body = start + head.size();
  size_t end = text.find("\n[", body);
  end = end == std::string::npos ? text.size() : end + 1;
  std::string out = text.substr(body, end - body);
  while (out.size() >= 2 && out.substr(out.size() - 2) == "\n\n") out.pop_back();
  return out;
}

class SettingsTest : public testing::Test {
 protected:
  SettingsTest() {
    files_.program_ini = ProgramSettingsPath(Q(dir_.File("config")));
    files_.start_dir = "/home/user/coins";
    db_ini_ = DatabaseSettingsPath(Q(dir_.File("MASTER")));
  }
  std::string ProgramFile() const { return dir_.File("config/KLVCOIN.INI"); }
  std::string DatabaseFile() const { return dir_.File("MASTER.INI"); }

  test::TempDir dir_;
  SettingsFiles files_;
  QString db_ini_;
};

// A fresh install reads every default; what the first close writes shows
// them all, with every key of both files.
TEST_F(SettingsTest, AFreshInstallWritesEveryKeyWithItsDefaultAtTheFirstClose) {
  Settings s;
  s.field_names[kCountry] = "Land";  // read must put the default back
  ReadSettings(s, kProgramSettings, files_, db_ini_);
  ReadSettings(s, kDatabaseSettings, files_, db_ini_);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("config")));  // reading creates nothing
  EXPECT_FALSE(std::filesystem::exists(DatabaseFile()));
  EXPECT_EQ(s.grid_title_font.pointSize(), 12);
  EXPECT_EQ(s.colors[kSearchColors][kEditBackground], QColor(255, 255, 255));
  WriteSettings(s, kProgramSettings, files_, db_ini_);
  WriteSettings(s, kDatabaseSettings, files_, db_ini_);

  EXPECT_EQ(test::ReadFileBytes(ProgramFile()),
            "[Misc]\n"
            "Button Bar=1\n"
            "Main Window Left=0\n"
            "Main Window Top=0\n"
            "Main Window Width=640\n"
            "Main Window Height=480\n"
            "Last Import File=/home/user/coins\n"
            "Last Export File=/home/user/coins\n"
            "Last Database=\n"
            "Last File 1=\n"
            "Last File 2=\n"
            "Last File 3=\n"
            "Last File 4=\n"
            "Last File 5=\n"
            "Show Tips=Yes\n"
            "Window Size=640\n"
            "Date Format=1\n"
            "Date Leading Zeros=No\n"
            "Currency Format=1\n"
            "Numeric Format=1\n"
            "\n"
            "[Defaults]\n"
            "Load Defaults With Add=No\n"
            "Load Defaults With Clear=No\n"
            "Country=\n"
            "Face Value=\n"
            "Topic=\n"
            "Year=\n"
            "Mint Mark=\n"
            "Condition=\n"
            "Description=\n"
            "Comments=\n"
            "Miscellaneous=\n"
            "Purchase Date=\n"
            "User Defined 1=\n"
            "User Defined 2=\n"
            "User Defined 3=\n"
            "User Defined 4=\n"
            "Quantity=\n"
            "Purchase Price=\n"
            "Market Value=\n"
            "Premium Value=\n"
            "Approximate Year=No\n"
            "Wanted=No\n");

  const std::string db = test::ReadFileBytes(DatabaseFile());
  EXPECT_EQ(Sections(db), (std::vector<std::string>{"[Field Names]",
                                                    "[Display Fields]",
                                                    "[Field Width]",
                                                    "[Field Order]",
                                                    "[Export Fields]",
                                                    "[Export Order]",
                                                    "[Export]",
                                                    "[Import]",
                                                    "[Sort Order]",
                                                    "[Main Window Color]",
                                                    "[Edit Window Color]",
                                                    "[Search Window Color]",
                                                    "[Report Window Color]",
                                                    "[Configure Window Color]",
                                                    "[Grid Title]",
                                                    "[Grid Title Font]",
                                                    "[Grid Font]",
                                                    "[Grid Options]",
                                                    "[Edit Font]",
                                                    "[Label Font]",
                                                    "[Button Font]",
                                                    "[Reports]"}));
  EXPECT_EQ(SectionText(db, "Field Names"),
            "Country=Country\nFaceValue=Face Value\nYear=Year\nCondition=Condition\n"
            "MintMark=Mint Mark\nPurchasePr=Purchase Price\nMarketValu=Market Value\n"
            "PremiumVal=Premium Value\nTopic=Topic\nDescriptio=Description\n"
            "PurchDate=Purch Date\nMiscellane=Miscellaneous\nQuantity=Quantity\n"
            "Comment=Comment\nYearApprox=Approx Year\nWanted=Wanted\n"
            "UserDef1=User Defined 1\nUserDef2=User Defined 2\nUserDef3=User Defined 3\n"
            "UserDef4=User Defined 4\n");
  EXPECT_PRED2(StartsWith, SectionText(db, "Export Order"), "Country=1\nFaceValue=2\nYear=3\n");
  EXPECT_NE(SectionText(db, "Field Order").find("UserDef4=20\n"), std::string::npos);
  EXPECT_NE(SectionText(db, "Display Fields").find("Wanted=Yes\n"), std::string::npos);
  EXPECT_NE(SectionText(db, "Field Width").find("Miscellane=15\n"), std::string::npos);
  EXPECT_EQ(SectionText(db, "Export"), "First Row=Yes\nFile Type=1\n");
  EXPECT_EQ(SectionText(db, "Import"), "Skip First=Yes\nFile Type=1\n");
  EXPECT_EQ(SectionText(db, "Sort Order"),
            "Primary Sort=12\nSecondary Sort=0\nThird Level Sort=0\nFourth Level Sort=0\n");
  EXPECT_EQ(SectionText(db, "Configure Window Color"),
            "Main Background=12632256\nMajor Title=0\nMinor Title=0\n"
            "Edit Background=16777215\nEdit Text=0\nCombo Background=16777215\nCombo Text=0\n"
            "List Box Background=16777215\nList Box Text=0\nRadio Background=12632256\n"
            "Radio Text=0\nCheck Background=12632256\nCheck Text=0\n");
  EXPECT_EQ(SectionText(db, "Grid Title"),
            "Show Titles=Yes\nBackground Color=8553090\nAlignment=2\n");
  EXPECT_EQ(SectionText(db, "Grid Title Font"),
            "Color=0\nFont Name=Arial\nSize=12\nBold=No\nItalic=No\nUnderline=No\n"
            "Strikeout=No\n");
  EXPECT_EQ(SectionText(db, "Grid Font"),
            "Color=0\nFont Name=Arial\nSize=10\nBold=No\nItalic=No\nUnderline=No\n"
            "Strikeout=No\n");
  EXPECT_EQ(SectionText(db, "Grid Options"),
            "Cell Color=12632256\nColumn Lines=Yes\nRow Lines=Yes\nRow Indicator=Yes\n"
            "Field Editing=No\nObverse Pictures=No\n");
  EXPECT_EQ(SectionText(db, "Label Font"), "Font Name=Arial\nBold=No\nItalic=No\n");
  EXPECT_EQ(SectionText(db, "Reports"),
            "Last Report=0\nDefault Printer=Yes\nPrinter Index=0\n"
            "Report Viewing Window Left=0\nReport Viewing Window Top=0\n"
            "Report Viewing Window Width=640\nReport Viewing Window Height=480\n");

  // Writing the same values again leaves both files untouched.
  const auto stamp = std::filesystem::last_write_time(DatabaseFile());
  WriteSettings(s, kDatabaseSettings, files_, db_ini_);
  EXPECT_EQ(std::filesystem::last_write_time(DatabaseFile()), stamp);
}

Settings Changed() {
  Settings s;
  s.button_bar = 3;
  s.main_window = {-8, 20, 1024, 700};
  s.last_import_file = "/data/in.txt";
  s.last_export_file = "/data/out.dbf";
  s.last_database = "/data/Coins.dbf";
  s.last_files = {"/a/1.dbf", "/a/2.dbf", "", "/a/4.dbf", ""};
  s.show_tips = false;
  s.window_size = 1280;
  s.date_format = 11;
  s.date_leading_zeros = true;
  s.currency_format = 2;
  s.numeric_format = 2;
  s.defaults.load_with_add = true;
  s.defaults.country = "Peru";
  s.defaults.description = "  padded, as typed ";
  s.defaults.user_defined[3] = "four";
  s.defaults.quantity = "0";
  s.defaults.purchase_price = "1,234.50";
  s.defaults.wanted = true;
  s.field_names[kUserDef1] = "Grade";
  s.display_fields[kComment] = false;
  s.field_width[kYear] = 4;
  s.field_order[kCountry] = 2;
  s.field_order[kFaceValue] = 1;
  s.export_fields[kWanted] = false;
  s.export_order[kTopic] = 1;
  s.export_first_row = false;
  s.export_file_type = 2;
  s.import_skip_first = false;
  s.import_file_type = 2;
  s.sort_levels = {9, 7, 3, 0};
  s.colors[kEditColors][kEditBackground] = QColor(255, 255, 0);
  s.colors[kConfigureColors][kCheckText] = QColor(1, 2, 3);
  s.grid_show_titles = false;
  s.grid_title_background = QColor(10, 20, 30);
  s.grid_title_alignment = 3;
  s.grid_title_font = QFont("Courier New");
  s.grid_title_font.setPointSize(14);
  s.grid_title_font.setBold(true);
  s.grid_title_font.setStrikeOut(true);
  s.grid_title_font_color = QColor(255, 0, 0);
  s.grid_font.setItalic(true);
  s.grid_font.setUnderline(true);
  s.grid_cell_color = QColor(0, 255, 255);
  s.grid_row_lines = false;
  s.grid_field_editing = true;
  s.label_font = QFont("Times New Roman");
  s.label_font.setItalic(true);
  s.button_font.setBold(true);
  s.last_report = 4;
  s.default_printer = false;
  s.printer_index = 2;
  s.report_window = {5, 6, 700, 500};
  return s;
}

TEST_F(SettingsTest, EverySettingSurvivesARestart) {
  const Settings before = Changed();
  WriteSettings(before, kProgramSettings, files_, db_ini_);
  WriteSettings(before, kDatabaseSettings, files_, db_ini_);
  Settings after;
  ReadSettings(after, kProgramSettings, files_, db_ini_);
  ReadSettings(after, kDatabaseSettings, files_, db_ini_);
  EXPECT_EQ(after.defaults, before.defaults);
  EXPECT_EQ(after.grid_title_font, before.grid_title_font);
  EXPECT_EQ(after.grid_font, before.grid_font);
  EXPECT_EQ(after.label_font, before.label_font);
  EXPECT_TRUE(after == before);
}

TEST_F(SettingsTest, EachPartWritesOnlyItsOwnSectionsAndKeepsTheRest) {
  std::filesystem::create_directories(dir_.File("config"));
  test::WriteFileBytes(
      ProgramFile(),
      "; my notes\r\n[Misc]\r\nButton Bar=2\r\nMy Own Key=kept\r\n\r\n[Sort Order]\r\n"
      "Primary Sort=3\r\n");
  Settings s;
  ReadSettings(s, kProgramSettings, files_, db_ini_);
  EXPECT_EQ(s.button_bar, 2);
  s.button_bar = 1;
  WriteSettings(s, kProgramSettings, files_, db_ini_);
  const std::string program = test::ReadFileBytes(ProgramFile());
  EXPECT_PRED2(StartsWith, program,
               "; my notes\r\n[Misc]\r\nButton Bar=1\r\nMy Own Key=kept\r\nMain Window Left=0\r\n");
  EXPECT_NE(program.find("\r\n[Sort Order]\r\nPrimary Sort=3\r\n"), std::string::npos);
  EXPECT_EQ(program.find("Field Names"), std::string::npos);
  EXPECT_EQ(program.find('\n', 0), program.find("\r\n", 0) + 1);  // still CRLF

  WriteSettings(s, kDatabaseSettings, files_, db_ini_);
  EXPECT_EQ(test::ReadFileBytes(ProgramFile()), program);
  EXPECT_EQ(test::ReadFileBytes(DatabaseFile()).find("[Misc]"), std::string::npos);
}

TEST_F(SettingsTest, YesNoReadsTrueOnlyForYesInAnyCase) {
  test::WriteFileBytes(
      DatabaseFile(),
      "[Display Fields]\nCountry=yes\nFaceValue=YES\nYear=Yes\nCondition=Y\nMintMark=1\n"
      "PurchasePr=\nMarketValu=true\nPremiumVal= yEs \n");
  Settings s;
  ReadSettings(s, kDatabaseSettings, files_, db_ini_);
  EXPECT_TRUE(s.display_fields[kCountry]);
  EXPECT_TRUE(s.display_fields[kFaceValue]);
  EXPECT_TRUE(s.display_fields[kYear]);
  EXPECT_FALSE(s.display_fields[kCondition]);
  EXPECT_FALSE(s.display_fields[kMintMark]);
  EXPECT_FALSE(s.display_fields[kPurchasePr]);
  EXPECT_FALSE(s.display_fields[kMarketValu]);
  EXPECT_TRUE(s.display_fields[kPremiumVal]);
  EXPECT_TRUE(s.display_fields[kTopic]);  // missing: the default
}

TEST_F(SettingsTest, TextsAreCutToWhatTheRecordKeepsButPathsAreNot) {
  const std::string long_path = "/" + std::string(300, 'p') + ".dbf";
  std::filesystem::create_directories(dir_.File("config"));
  test::WriteFileBytes(ProgramFile(),
                       "[Misc]\nLast Database=" + long_path +
                           "\n[Defaults]\nYear=1997-1998\nMint Mark=ABCD\nMiscellaneous=" +
                           std::string(120, 'm') + "\nPurchase Price=12345678901234567890123\n");
  test::WriteFileBytes(DatabaseFile(), "[Field Names]\nUserDef1=A caption of thirty characters\n");
  Settings s;
  ReadSettings(s, kProgramSettings, files_, db_ini_);
  ReadSettings(s, kDatabaseSettings, files_, db_ini_);
  EXPECT_EQ(s.last_database, Q(long_path));
  EXPECT_EQ(s.defaults.year, "1997-19");
  EXPECT_EQ(s.defaults.mint_mark, "ABC");
  EXPECT_EQ(s.defaults.miscellaneous, QString(110, u'm'));
  EXPECT_EQ(s.defaults.purchase_price, "12345678901234567890");
  EXPECT_EQ(s.field_names[kUserDef1], "A caption of thirty ");
}

TEST_F(SettingsTest, ValuesThatCannotBeUsedReadAsTheirDefaults) {
  std::filesystem::create_directories(dir_.File("config"));
  test::WriteFileBytes(ProgramFile(),
                       "[Misc]\nButton Bar=4\nWindow Size=700\nDate Format=13\nCurrency Format=0\n"
                       "Numeric Format=two\nMain Window Left=-8\n");
  test::WriteFileBytes(
      DatabaseFile(),
      "[Sort Order]\nPrimary Sort=21\nSecondary Sort=-1\nThird Level Sort=20\n"
      "[Main Window Color]\nMain Background=-16777201\nMajor Title=16777216\nMinor Title=255\n"
      "[Grid Font]\nSize=0\nBold=Yes\n[Grid Title]\nAlignment=7\n");
  Settings s;
  ReadSettings(s, kProgramSettings, files_, db_ini_);
  ReadSettings(s, kDatabaseSettings, files_, db_ini_);
  EXPECT_EQ(s.button_bar, 1);
  EXPECT_EQ(s.window_size, 640);
  EXPECT_EQ(s.date_format, 1);
  EXPECT_EQ(s.currency_format, 1);
  EXPECT_EQ(s.numeric_format, 1);
  EXPECT_EQ(s.main_window.left, -8);
  EXPECT_EQ(s.sort_levels, (std::array<int, 4>{12, 0, 20, 0}));
  EXPECT_EQ(s.colors[kMainColors][kMainBackground], QColor(192, 192, 192));
  EXPECT_EQ(s.colors[kMainColors][kMajorTitle], QColor(0, 0, 0));
  EXPECT_EQ(s.colors[kMainColors][kMinorTitle], QColor(255, 0, 0));
  EXPECT_EQ(s.grid_font.pointSize(), 10);
  EXPECT_TRUE(s.grid_font.bold());
  // The grid decides what an alignment outside 1 to 3 means.
  EXPECT_EQ(s.grid_title_alignment, 7);
}

TEST_F(SettingsTest, DatabaseSettingsComeFromTheProgramFileWhenTheDatabaseHasNone) {
  std::filesystem::create_directories(dir_.File("config"));
  test::WriteFileBytes(ProgramFile(),
                       "[Field Names]\nCountry=Nation\n[Sort Order]\nPrimary Sort=1\n");
  test::WriteFileBytes(dir_.File("OTHER.INI"), "[Field Names]\nCountry=Land\nTopic=Thema\n");
  Settings s;
  ReadSettings(s, kDatabaseSettings, files_, DatabaseSettingsPath(Q(dir_.File("OTHER"))));
  EXPECT_EQ(s.field_names[kCountry], "Land");
  EXPECT_EQ(s.field_names[kTopic], "Thema");
  EXPECT_EQ(s.sort_levels[0], 12);

  // A database without its own file, and a new database (no file named),
  // start from the program file, never from the database open before.
  for (const QString& ini : {db_ini_, QString()}) {
    Settings t = s;
    ReadSettings(t, kDatabaseSettings, files_, ini);
    EXPECT_EQ(t.field_names[kCountry], "Nation");
    EXPECT_EQ(t.field_names[kTopic], "Topic");
    EXPECT_EQ(t.sort_levels[0], 1);
  }
  EXPECT_THROW(WriteSettings(s, kDatabaseSettings, files_, QString()), std::invalid_argument);
  EXPECT_THROW(ReadSettings(s, 3, files_, db_ini_), std::invalid_argument);
}

TEST_F(SettingsTest, FilesOfAnotherLetterCaseAreFoundAndUpdatedInPlace) {
  std::filesystem::create_directories(dir_.File("config"));
  test::WriteFileBytes(dir_.File("config/klvcoin.ini"), "[MISC]\nbutton bar=2\n");
  test::WriteFileBytes(dir_.File("coins.ini"), "[field names]\ncountry=Pays\n");
  SettingsFiles files = files_;
  files.program_ini = ProgramSettingsPath(Q(dir_.File("config")));
  const QString db_ini = DatabaseSettingsPath(Q(dir_.File("COINS")));
  EXPECT_EQ(db_ini, Q(dir_.File("coins.ini")));
  Settings s;
  ReadSettings(s, kProgramSettings, files, db_ini);
  ReadSettings(s, kDatabaseSettings, files, Q(dir_.File("COINS.INI")));
  EXPECT_EQ(s.button_bar, 2);
  EXPECT_EQ(s.field_names[kCountry], "Pays");
  s.button_bar = 3;
  WriteSettings(s, kProgramSettings, files, db_ini);
  WriteSettings(s, kDatabaseSettings, files, Q(dir_.File("COINS.INI")));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("config/KLVCOIN.INI")));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("COINS.INI")));
  EXPECT_PRED2(StartsWith, test::ReadFileBytes(dir_.File("config/klvcoin.ini")),
               "[MISC]\nbutton bar=3\nMain Window Left=0\n");
  EXPECT_PRED2(StartsWith, test::ReadFileBytes(dir_.File("coins.ini")),
               "[field names]\ncountry=Pays\nFaceValue=Face Value\n");
}

TEST_F(SettingsTest, AFailedWriteIsReportedAndChangesNothing) {
  test::WriteFileBytes(dir_.File("config"), "a file where the Windows directory should be");
  Settings s;
  EXPECT_THROW(WriteSettings(s, kProgramSettings, files_, db_ini_), dbf::DbfError);
  EXPECT_EQ(test::ReadFileBytes(dir_.File("config")),
            "a file where the Windows directory should be");

  const QString missing_dir = Q(dir_.File("no/such/dir/COINS.INI"));
  EXPECT_THROW(WriteSettings(s, kDatabaseSettings, files_, missing_dir), dbf::DbfError);
}

TEST(ColorValueTest, ColoursAreRedPlus256GreenPlus65536Blue) {
  EXPECT_EQ(ColorValue(QColor(1, 2, 3)), 1 + 2 * 256 + 3 * 65536);
  EXPECT_EQ(ColorFromValue(8553090), QColor(130, 130, 130));
  EXPECT_EQ(ColorFromValue(255), QColor(255, 0, 0));
  EXPECT_EQ(ColorFromValue(0xFF0000), QColor(0, 0, 255));
}

}  // namespace
}  // namespace klv::app
