// Appearance without windows: the colour groups and grid settings through
// the database settings file (round trip, damaged values, other keys kept),
// the predefined combinations and where a confirmed group goes, the viewer
// configuration's grids and their closing, and the tips.
#include <gtest/gtest.h>

#include <set>

#include "app/Settings.h"
#include "appearance/ColorSets.h"
#include "appearance/GridConfig.h"
#include "appearance/TipTable.h"
#include "support/QtText.h"
#include "support/TempDir.h"

namespace klv::appearance {
namespace {

using namespace klv::app;
using db::kCountry;
using db::kTopic;
using db::kUserDef1;
using test::Q;

class AppearanceSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    files_.program_ini = Q(dir_.File("KLVCOIN.INI"));
    files_.start_dir = Q(dir_.path());
  }
  QString Ini(const char* name) const { return Q(dir_.File(name)); }
  test::TempDir dir_;
  SettingsFiles files_;
};

TEST_F(AppearanceSettingsTest, ColoursFontsAndGridSurviveTheFileAndKeepItsOtherLines) {
  test::WriteFileBytes(dir_.File("A.INI"),
                       "; kept comment\n[Own Section]\nMine=1\n[Grid Options]\nCell Color=5\n"
                       "Extra Key=x\n");
  Settings before;
  ReadSettings(before, kDatabaseSettings, files_, Ini("A.INI"));
  for (int g = 0; g < kColorGroupCount; ++g)
    for (int r = 0; r < kColorRoleCount; ++r)
      before.colors[static_cast<size_t>(g)][static_cast<size_t>(r)] = QColor(g * 50, r * 19, 7);
  before.grid_title_background = QColor(1, 2, 3);
  before.grid_cell_color = QColor(255, 255, 0);
  before.grid_title_alignment = 3;
  before.grid_title_font = QFont("Courier New");
  before.grid_title_font.setPointSize(14);
  before.grid_title_font.setItalic(true);
  before.grid_font_color = QColor(0, 0, 128);
  before.grid_row_lines = before.grid_show_titles = false;
  before.grid_field_editing = true;
  before.field_width[kTopic] = 255;
  before.field_order[kCountry] = 2;
  before.display_fields[kTopic] = false;
  before.field_names[kUserDef1] = "Grade";
  WriteSettings(before, kDatabaseSettings, files_, Ini("A.INI"));

  Settings after;
  ReadSettings(after, kDatabaseSettings, files_, Ini("A.INI"));
  EXPECT_EQ(after, before);
  const std::string file = test::ReadFileBytes(dir_.File("A.INI"));
  EXPECT_EQ(file.rfind("; kept comment\n[Own Section]\nMine=1\n[Grid Options]\nCell Color=65535\n"
                       "Extra Key=x\n",
                       0),
            0u)
      << file;
  EXPECT_NE(file.find("[Edit Window Color]\nMain Background=458802\n"), std::string::npos);
  EXPECT_NE(file.find("[Grid Title]\nShow Titles=No\nBackground Color=197121\nAlignment=3\n"),
            std::string::npos);

  // Another database keeps its own: none yet, so the defaults.
  Settings other;
  ReadSettings(other, kDatabaseSettings, files_, Ini("B.INI"));
  EXPECT_EQ(other, Settings());
}

TEST_F(AppearanceSettingsTest, DamagedColoursAndFontsReadAsTheirDefaults) {
  struct Case {
    const char* section;
    const char* key;
    const char* value;
  };
  const Case cases[] = {
      {"Edit Window Color", "Edit Background", "white"},
      {"Edit Window Color", "Edit Text", "-1"},
      {"Edit Window Color", "Main Background", "99999999999"},
      {"Report Window Color", "List Box Text", "16777216"},
      {"Grid Options", "Cell Color", ""},
      {"Grid Title", "Background Color", "#FF0000"},
      {"Grid Font", "Color", "-255"},
      {"Grid Font", "Size", "2"},
      {"Grid Font", "Font Name", "  "},
      {"Grid Title Font", "Size", "400"},
      {"Label Font", "Font Name", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.section) + "/" + c.key + "=" + c.value);
    test::WriteFileBytes(dir_.File("D.INI"),
                         std::string("[") + c.section + "]\n" + c.key + "=" + c.value + "\n");
    Settings s;
    ReadSettings(s, kDatabaseSettings, files_, Ini("D.INI"));
    EXPECT_EQ(s, Settings());
  }
}

TEST(ColorSetsTest, PresetsSetSixColoursAndDeriveTheOthers) {
  ColorGroup g = DefaultColorGroup();
  ApplyColorPreset(0, g);
  ApplyColorPreset(13, g);
  EXPECT_EQ(g, DefaultColorGroup());

  struct Case {
    int entry;
    QColor main, major, minor, edit_back, edit_text, radio_text;
  };
  const Case cases[] = {
      {3, {0, 0, 0}, {192, 192, 192}, {255, 255, 255}, {127, 127, 127}, {0, 0, 0}, {255, 255, 255}},
      {8, {0, 255, 0}, {255, 255, 255}, {255, 0, 0}, {255, 0, 0}, {255, 255, 255}, {255, 0, 0}},
      {12,
       {128, 128, 0},
       {0, 128, 0},
       {127, 127, 127},
       {0, 128, 128},
       {192, 192, 192},
       {127, 127, 127}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry);
    ApplyColorPreset(c.entry, g);
    const ColorGroup want = {c.main,       c.major,     c.minor,     c.edit_back, c.edit_text,
                             c.edit_back,  c.edit_text, c.edit_back, c.edit_text, c.main,
                             c.radio_text, c.main,      c.radio_text};
    EXPECT_EQ(g, want);
  }
}

TEST(GridConfigTest, ClosingReadsWidthsFlagsOrderAndCaptionsAsTyped) {
  Settings s;
  s.field_order[kCountry] = 2;
  s.field_order[2] = 1;
  s.field_order[3] = 40;  // out of range: left out of the order rows
  GridPages pages = FillGridPages(s);
  EXPECT_EQ(pages.order[0], "Face Value");
  EXPECT_EQ(pages.order[2], "");
  EXPECT_EQ(FontText(s.grid_title_font), "12pt Arial");
  const std::pair<const char*, int> widths[] = {{"0", 10},      {"256", 10}, {"abc", 10},
                                                {" 255 ", 255}, {"1", 1},    {"", 10}};
  for (const auto& [cell, width] : widths) EXPECT_EQ(ReadWidth(cell), width) << cell;

  pages.display[1] = "yes";  // only "Yes" shows a field
  pages.names[kUserDef1] = "Grade of the coin, as graded";
  pages.names[kCountry] = "Nation";
  pages.names[kTopic] = "Nation ";  // a blank makes it another caption
  EXPECT_FALSE(FirstDuplicateCaption(pages.names));
  ApplyGridPages(pages, s);
  EXPECT_FALSE(s.display_fields[1]);
  // Positions follow the order rows by the captions before the renaming.
  EXPECT_EQ(s.field_order[kCountry], 2);
  EXPECT_EQ(s.field_order[2], 1);
  EXPECT_EQ(s.field_order[3], 40);
  EXPECT_EQ(s.field_names[kCountry], "Nation");
  EXPECT_EQ(s.field_names[kUserDef1], "Grade of the coin, a");
  pages.names[12] = "Nation";
  EXPECT_EQ(FirstDuplicateCaption(pages.names), "Nation");
}

TEST(TipTableTest, TwentyFourNextTipsComeBackAndStartsAreUniform) {
  EXPECT_EQ(TipText(1), "You can rename database fields to your liking.");
  EXPECT_EQ(TipText(24),
            "A \"Browse Mode\" is available where a user has access to the data, but cannot "
            "change it.");
  EXPECT_EQ(TipText(0), "");
  EXPECT_EQ(TipText(25), "");
  std::set<QString> seen;
  int tip = 17;
  for (int i = 0; i < kTipCount; ++i) {
    EXPECT_LE(TipText(tip).size(), 130);
    seen.insert(TipText(tip));
    tip = NextTip(tip);
  }
  EXPECT_EQ(tip, 17);
  EXPECT_EQ(seen.size(), 24u);
  std::set<int> starts;
  for (int i = 0; i < 2000; ++i) {
    const int n = RandomTip();
    ASSERT_GE(n, 1);
    ASSERT_LE(n, 24);
    starts.insert(n);
  }
  EXPECT_EQ(starts.size(), 24u);
}

}  // namespace
}  // namespace klv::appearance
