// The appearance forms behind the main window's commands, as the program
// puts them together: every form taking its own colour group, the colour
// dialog with its targets and presets, the viewer configuration applied to
// the grid and kept per database across a restart, the tip of the day with
// its switch, and the user fonts leaving the viewer grid alone.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <set>
#include <tuple>

#include "appearance/ColorCfg.h"
#include "appearance/ColorSets.h"
#include "appearance/GroupColors.h"
#include "appearance/Tips.h"
#include "appearance/View1.h"
#include "db/DbFiles.h"
#include "find/Search1.h"
#include "find/SrchMask.h"
#include "forms/ColorGroups.h"
#include "forms/DialogRoutines.h"
#include "program/Program.h"
#include "support/QtText.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"

namespace klv::appearance {
namespace {

using app::TMain;
using forms::ControlKind;
using platform::MsgButton;
using program::Program;
using test::Q;
using test::TestPrompts;

class AppearanceFormsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (program_) program_->main().close();
    program_.reset();
  }
  Program& Start(QStringList args = {}, bool tips = false) {
    if (program_) program_->main().close();
    program_.reset();
    program_ = std::make_unique<Program>(QString());
    program_->SetTipsAtStart(tips);
    app::StartOptions o;
    o.arguments = args;
    o.screen = QSize(1280, 1024);
    EXPECT_TRUE(program_->Start(o));
    return *program_;
  }
  TMain& Main() { return program_->main(); }
  app::Settings& S() { return Main().state().settings; }

  // Runs command; while its modal form is up, act runs on it, and the form
  // is closed afterwards if act left it open. False when no Form showed.
  template <class Form>
  bool WithModal(TMain::Command command, const std::function<void(Form&)>& act) {
    bool shown = false;
    QTimer::singleShot(0, [&] {
      auto* form = qobject_cast<Form*>(QApplication::activeModalWidget());
      if (form == nullptr) return;
      shown = true;
      act(*form);
      if (form->isVisible()) form->reject();
    });
    Main().Trigger(command);
    return shown;
  }

  test::TempDir home_, windir_, other_;
  test::ProgramDirsInEnvironment dirs_{home_, windir_};
  std::unique_ptr<Program> program_;
};

// Distinct colours in every group and role: a colour tells which group and
// role painted it.
void PaintEveryGroupApart(app::Settings& s) {
  for (int g = 0; g < app::kColorGroupCount; ++g)
    for (int r = 0; r < app::kColorRoleCount; ++r)
      s.colors[static_cast<size_t>(g)][static_cast<size_t>(r)] =
          QColor(20 + 15 * r, 30 + 40 * g, 100 + 5 * r);
}

// The colour a control of this kind shows for text, and for its background.
std::pair<QColor, QColor> ShownColors(QWidget* w) {
  const QPalette& p = w->palette();
  switch (forms::KindOf(w)) {
    case ControlKind::kLabel:
    case ControlKind::kGroupBox:
      return {p.color(QPalette::WindowText), QColor()};
    case ControlKind::kEdit:
    case ControlKind::kListBox:
    case ControlKind::kGrid:
      return {p.color(QPalette::Text), p.color(QPalette::Base)};
    case ControlKind::kComboBox:
      return qobject_cast<QComboBox*>(w)->isEditable()
                 ? std::pair{p.color(QPalette::Text), p.color(QPalette::Base)}
                 : std::pair{p.color(QPalette::ButtonText), p.color(QPalette::Button)};
    case ControlKind::kCheckBox:
    case ControlKind::kRadioButton:
      return {p.color(QPalette::WindowText), p.color(QPalette::Window)};
    default:
      return {};
  }
}

void ExpectTakesGroup(QWidget* form, const app::ColorGroup& group, const char* name) {
  SCOPED_TRACE(name);
  EXPECT_EQ(form->palette().color(QPalette::Window), group[app::kMainBackground]);
  const std::set<QRgb> own = [&] {
    std::set<QRgb> set;
    for (const QColor& c : group) set.insert(c.rgb());
    return set;
  }();
  int checked = 0;
  for (QWidget* w : forms::FormControls(form)) {
    const auto [text, back] = ShownColors(w);
    if (!text.isValid()) continue;
    ++checked;
    EXPECT_TRUE(own.count(text.rgb()))
        << w->metaObject()->className() << " " << w->objectName().toStdString();
    if (back.isValid()) {
      EXPECT_TRUE(own.count(back.rgb()))
          << w->metaObject()->className() << " " << w->objectName().toStdString();
    }
  }
  EXPECT_GT(checked, 0);
  // Menus keep the system colours.
  for (QMenuBar* bar : form->findChildren<QMenuBar*>())
    EXPECT_EQ(bar->palette().color(QPalette::WindowText),
              QApplication::palette(bar).color(QPalette::WindowText));
}

// The largest difference in lightness between the pixels inside the
// indicator of button and the button's own background.
int IndicatorContrast(QAbstractButton* button, QStyle::SubElement indicator) {
  QStyleOptionButton option;
  option.initFrom(button);
  const QRect box = button->style()->subElementRect(indicator, &option, button);
  const QImage shot = button->grab().toImage();
  const int background = shot.pixelColor(shot.width() - 2, shot.height() / 2).lightness();
  int most = 0;
  for (int y = box.top(); y <= box.bottom(); ++y)
    for (int x = box.left(); x <= box.right(); ++x)
      most = std::max(most, std::abs(shot.pixelColor(x, y).lightness() - background));
  return most;
}

TEST_F(AppearanceFormsTest, UntickedBoxesShowUnderEveryColourCombination) {
  for (int entry = 1; entry <= kColorPresetCount; ++entry) {
    SCOPED_TRACE(entry);
    app::ColorGroup colors{};
    ApplyColorPreset(entry, colors);
    QDialog form;
    auto* check = new QCheckBox(QStringLiteral("Confirm Before Replacing"), &form);
    auto* radio = new QRadioButton(QStringLiteral("Ascii Delimited Text"), &form);
    check->setGeometry(10, 10, 300, 24);
    radio->setGeometry(10, 40, 300, 24);
    // As the forms paint them before the colour group reaches them.
    forms::SetControlColors(check, colors[app::kCheckBackground], colors[app::kCheckText]);
    forms::SetControlColors(radio, colors[app::kRadioBackground], colors[app::kRadioText]);
    PaintByConvention(&form, colors);
    form.show();
    EXPECT_GE(IndicatorContrast(check, QStyle::SE_CheckBoxIndicator), 40);
    EXPECT_GE(IndicatorContrast(radio, QStyle::SE_RadioButtonIndicator), 40);
  }
}

TEST_F(AppearanceFormsTest, EveryFormTakesItsOwnColourGroup) {
  Start();
  PaintEveryGroupApart(S());
  TMain& m = Main();
  m.SetColors();
  const app::ColorGroup& main = S().colors[app::kMainColors];
  EXPECT_EQ(m.client()->palette().color(QPalette::Window), main[app::kMainBackground]);
  EXPECT_EQ(m.ViewerLabel->palette().color(QPalette::WindowText), main[app::kMajorTitle]);
  EXPECT_EQ(m.NavigatorLabel->palette().color(QPalette::WindowText), main[app::kMinorTitle]);
  EXPECT_EQ(m.CountLabel->palette().color(QPalette::WindowText), main[app::kMinorTitle]);
  // The menus and the viewer grid keep their own colours.
  EXPECT_EQ(m.menuBar()->palette().color(QPalette::Window),
            QApplication::palette(m.menuBar()).color(QPalette::Window));
  EXPECT_EQ(m.ViewerGrid->palette().color(QPalette::Base), S().grid_cell_color);

  const std::tuple<TMain::Command, int, const char*> forms[] = {
      {TMain::kAdd, app::kEditColors, "edit form"},
      {TMain::kSearch, app::kSearchColors, "search form"},
      {TMain::kListCountry, app::kConfigureColors, "list editor"},
      {TMain::kSortOrder, app::kConfigureColors, "sort order"},
      {TMain::kLocate, app::kConfigureColors, "locate"},
      {TMain::kSearchReplace, app::kConfigureColors, "search and replace"},
      {TMain::kViewer, app::kConfigureColors, "viewer configuration"},
  };
  for (const auto& [command, group, name] : forms) {
    EXPECT_TRUE(WithModal<QDialog>(command, [&, group = group, name = name](QDialog& form) {
      ExpectTakesGroup(&form, S().colors[static_cast<size_t>(group)], name);
    })) << name;
  }
  // The search form's value picker, opened from the row of Purchase Price.
  bool picked = false;
  EXPECT_TRUE(WithModal<find::TMySearch>(TMain::kSearch, [&](find::TMySearch& search) {
    QTimer::singleShot(0, [&] {
      auto* picker = qobject_cast<find::TSearchOptions*>(QApplication::activeModalWidget());
      ASSERT_NE(picker, nullptr);
      picked = true;
      ExpectTakesGroup(picker, S().colors[app::kSearchColors], "value picker");
      picker->reject();
    });
    search.SearchGridMouseUp(6, 1);
  }));
  EXPECT_TRUE(picked);
}

TEST_F(AppearanceFormsTest, TheColourDialogEditsItsTargetsGroupOnly) {
  Start();
  TMain& m = Main();
  const char* const items[] = {"&Main Window Color",      "&Edit Window Color",
                               "&Search Window Color",    "&Report Window Color",
                               "&Configure Window Color", "&ALL Windows Color"};
  for (int i = 0; i < 6; ++i) {
    QAction* a = m.CommandAction(static_cast<TMain::Command>(TMain::kColorMain + i));
    EXPECT_EQ(a->text(), items[i]);
    EXPECT_EQ(a->shortcut(), QKeySequence(QStringLiteral("Ctrl+F%1").arg(4 + i)));
    EXPECT_TRUE(a->isEnabled());
  }
  const app::Settings before = S();
  const QColor main_back = m.client()->palette().color(QPalette::Window);

  EXPECT_TRUE(WithModal<TColorConfig>(TMain::kColorEdit, [&](TColorConfig& d) {
    EXPECT_EQ(d.windowTitle(), "Color Configuration");
    ASSERT_EQ(d.ColorSets->count(), 13);
    EXPECT_EQ(d.ColorSets->itemText(0), "");
    EXPECT_EQ(d.ColorSets->itemText(3), "Midnight Black");
    EXPECT_EQ(d.ColorSets->itemText(12), "Camouflage");
    d.ColorSetsChange(3);
    EXPECT_EQ(d.palette().color(QPalette::Window), QColor(0, 0, 0));
    EXPECT_EQ(d.Headings[3]->text(), "Edit Box");
    EXPECT_EQ(d.Headings[3]->palette().color(QPalette::WindowText), QColor(192, 192, 192));
    EXPECT_EQ(d.PresetLabel->palette().color(QPalette::WindowText), QColor(255, 255, 255));
    EXPECT_EQ(d.ListBox->palette().color(QPalette::Base), QColor(127, 127, 127));
    EXPECT_EQ(d.ColorSets->palette().color(QPalette::Button), QColor(127, 127, 127));
    TestPrompts().AnswerColor(QColor(10, 20, 30));
    d.EditBoxBack->click();
    EXPECT_EQ(TestPrompts().asked().back().color, QColor(127, 127, 127));
    EXPECT_EQ(d.EditBox->palette().color(QPalette::Base), QColor(10, 20, 30));
    TestPrompts().AnswerColor(std::nullopt);
    d.CheckText->click();  // cancelled: nothing changes
    d.OkButton->click();
  }));
  EXPECT_EQ(S().colors[app::kEditColors][app::kEditBackground], QColor(10, 20, 30));
  EXPECT_EQ(S().colors[app::kEditColors][app::kMainBackground], QColor(0, 0, 0));
  EXPECT_EQ(S().colors[app::kEditColors][app::kCheckText], QColor(255, 255, 255));
  EXPECT_EQ(S().colors[app::kMainColors], before.colors[app::kMainColors]);
  EXPECT_EQ(S().colors[app::kSearchColors], before.colors[app::kSearchColors]);
  EXPECT_EQ(m.client()->palette().color(QPalette::Window), main_back);
  // The edit form shows them when next opened.
  EXPECT_TRUE(WithModal<QDialog>(TMain::kAdd, [&](QDialog& form) {
    EXPECT_EQ(form.palette().color(QPalette::Window), QColor(0, 0, 0));
    EXPECT_EQ(form.findChild<QLineEdit*>(QStringLiteral("Year"))->palette().color(QPalette::Base),
              QColor(10, 20, 30));
  }));

  // A preset and Cancel: nothing changes.
  const app::Settings edited = S();
  EXPECT_TRUE(WithModal<TColorConfig>(TMain::kColorReport, [&](TColorConfig& d) {
    d.ColorSetsChange(11);
    d.CancelButton->click();
  }));
  EXPECT_EQ(S(), edited);

  // The speed button is all windows, from the Main group: confirmed as it
  // starts, the Main group goes over the four others.
  QToolButton* speed = m.CommandSpeed(TMain::kColorAll);
  EXPECT_EQ(speed->toolTip(), "Color Setup");
  bool shown = false;
  QTimer::singleShot(0, [&] {
    auto* d = qobject_cast<TColorConfig*>(QApplication::activeModalWidget());
    ASSERT_NE(d, nullptr);
    shown = true;
    EXPECT_EQ(d->target(), kTargetAll);
    EXPECT_EQ(d->working(), before.colors[app::kMainColors]);
    d->OkButton->click();
  });
  speed->click();
  EXPECT_TRUE(shown);
  for (const app::ColorGroup& g : S().colors) EXPECT_EQ(g, before.colors[app::kMainColors]);

  // The groups stay with their database: through a restart, not into
  // another database, and back again.
  S().colors[app::kSearchColors][app::kListBoxText] = QColor(1, 2, 3);
  const auto chosen = S().colors;
  Start();
  EXPECT_EQ(S().colors, chosen);
  const QString master = Main().state().database_name;
  const QString other = Q(other_.File("OTHER.DBF"));
  ASSERT_TRUE(db::MakeNewDB(other));
  Main().OpenSaveFile(other);
  EXPECT_EQ(S().colors, app::Settings().colors);
  Main().OpenSaveFile(master);
  EXPECT_EQ(S().colors, chosen);
}

TEST_F(AppearanceFormsTest, ViewerSettingsReachTheGridAndStayWithTheirDatabase) {
  Start();
  EXPECT_TRUE(Main().CommandAction(TMain::kViewer)->isEnabled());
  EXPECT_TRUE(Main().CommandSpeed(TMain::kViewer)->isEnabled());
  Main().SetButtonBarMode(2);
  EXPECT_TRUE(Main().CommandButton(TMain::kViewer)->isEnabled());

  EXPECT_TRUE(WithModal<TViewConfig>(TMain::kViewer, [&](TViewConfig& d) {
    EXPECT_EQ(d.windowTitle(), "Viewer Configuration");
    const char* const pages[] = {"&Title",        "&Look and Feel", "Fields to &Show",
                                 "Field &Widths", "Field &Order",   "Field &Names"};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(d.MyTabbedPage->tabText(i), pages[i]);
    EXPECT_EQ(d.TitleFont->text(), "12pt Arial");
    EXPECT_TRUE(d.TitleCenter->isChecked());
    EXPECT_EQ(d.FieldNameGrid->item(13, 0)->text(), "Comment");
    // Immediate changes.
    d.RowLines->setChecked(false);
    d.TitleLeft->click();
    TestPrompts().AnswerFont(QFont("Courier New", 14));
    d.TitleFontButton->click();
    EXPECT_EQ(d.TitleFont->text(), "14pt Courier New");
    TestPrompts().AnswerColor(QColor(255, 255, 0));
    d.NewColorBUtton->click();
    // Each font's colour beside its font.
    for (auto [button, color] :
         {std::pair{d.TitleFontColor, QColor(0x80, 0, 0)}, {d.GridFontColor, QColor(0, 0, 0x80)}}) {
      EXPECT_EQ(button->text(), "Font Colo&r");
      TestPrompts().AnswerColor(color);
      QTest::mouseClick(button, Qt::LeftButton);
    }
    // The grids.
    d.FieldsToDisplayDblClick(8, 1);  // Topic
    EXPECT_EQ(d.FieldsToDisplay->item(8, 1)->text(), "No");
    d.FieldWidthGrid->item(0, 1)->setText("0");
    d.FieldWidthGrid->item(2, 1)->setText("255");
    d.FieldOrderGrid->setCurrentCell(0, 0);
    d.OrderUpClick();  // the first row stays
    d.OrderDownClick();
    EXPECT_EQ(d.FieldOrderGrid->item(0, 0)->text(), "Face Value");
    EXPECT_EQ(d.FieldOrderGrid->currentRow(), 1);
    d.FieldNameGrid->item(16, 1)->setText("Grade");
    d.FieldNameGrid->item(17, 1)->setText("Grade");
    d.MyTabbedPage->setCurrentIndex(0);
    TestPrompts().ExpectMessage("Error",
                                "Two field names have the same name \"Grade\".  Please change one.",
                                MsgButton::kOk);
    d.ExitButton->click();
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(d.MyTabbedPage->currentIndex(), TViewConfig::kNamesPage);
    EXPECT_FALSE(S().grid_row_lines);  // already in force
    d.FieldNameGrid->item(17, 1)->setText("grade");
    d.ExitButton->click();
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.FieldWidthGrid->item(0, 1)->text(), "10");
  }));
  EXPECT_EQ(S().grid_title_font_color, QColor(0x80, 0, 0));
  EXPECT_EQ(S().grid_font_color, QColor(0, 0, 0x80));
  EXPECT_EQ(Main().ViewerGrid->palette().color(QPalette::Text), QColor(0, 0, 0x80));

  auto expect_configured = [&] {
    TMain& m = Main();
    const std::vector<app::ViewerColumn>& columns = m.viewer_model()->columns();
    ASSERT_EQ(columns.size(), 19u);
    EXPECT_EQ(columns[0].field, 2);
    EXPECT_EQ(columns[1].field, 1);
    EXPECT_EQ(columns[1].width, 10);
    EXPECT_EQ(columns[2].width, 255);
    for (const app::ViewerColumn& c : columns) EXPECT_NE(c.field, 9);
    EXPECT_EQ(columns[15].caption, "Grade");
    EXPECT_FALSE(m.ViewerGrid->row_lines());
    EXPECT_TRUE(m.ViewerGrid->column_lines());
    EXPECT_EQ(m.ViewerGrid->palette().color(QPalette::Base), QColor(255, 255, 0));
    const QVariant align = m.viewer_model()->headerData(0, Qt::Horizontal, Qt::TextAlignmentRole);
    EXPECT_TRUE(align.value<Qt::Alignment>().testFlag(Qt::AlignLeft));
    EXPECT_EQ(m.ViewerGrid->horizontalHeader()->font().family(), "Courier New");
    EXPECT_EQ(m.ViewerGrid->horizontalHeader()->font().pointSize(), 14);
  };
  expect_configured();
  Start();  // closing wrote both settings files
  expect_configured();

  // Another database has its own grid; coming back brings this one again.
  const QString other = Q(other_.File("OTHER.DBF"));
  ASSERT_TRUE(db::MakeNewDB(other));
  const QString master = Main().state().database_name;
  Main().OpenSaveFile(other);
  EXPECT_EQ(Main().viewer_model()->columns().size(), 20u);
  EXPECT_TRUE(Main().ViewerGrid->row_lines());
  Main().OpenSaveFile(master);
  expect_configured();
}

TEST_F(AppearanceFormsTest, ViewerIsUnavailableInBrowseOnlyMode) {
  Start({"/BROWSE"});
  EXPECT_FALSE(Main().CommandAction(TMain::kViewer)->isEnabled());
  EXPECT_FALSE(Main().CommandSpeed(TMain::kViewer)->isEnabled());
  Main().SetButtonBarMode(2);
  EXPECT_FALSE(Main().CommandButton(TMain::kViewer)->isEnabled());
  EXPECT_TRUE(Main().CommandAction(TMain::kColorAll)->isEnabled());
  EXPECT_TRUE(Main().CommandAction(TMain::kReviewTips)->isEnabled());
}

TEST_F(AppearanceFormsTest, TipsCycleAndTheirSwitchDecidesTheStartUp) {
  Start();
  EXPECT_EQ(Main().CommandAction(TMain::kReviewTips)->text(), "&Review \"Tips of the Day\"");
  EXPECT_TRUE(WithModal<TTipOfDay>(TMain::kReviewTips, [&](TTipOfDay& d) {
    EXPECT_EQ(d.windowTitle(), "Tip of the Day");
    EXPECT_EQ(d.Label1->text(), "Did you know?");
    EXPECT_EQ(d.ShowTips->text(), "&Show Tips at Startup");
    EXPECT_EQ(d.NextTipButton->text(), "&Next Tip");
    EXPECT_EQ(d.CloseButton->text(), "&Close");
    EXPECT_TRUE(d.ShowTips->isChecked());
    const int first = d.current();
    const QString text = d.TipComment->text();
    std::set<QString> seen;
    for (int i = 0; i < 24; ++i) {
      seen.insert(d.TipComment->text());
      d.NextTipButton->click();
    }
    EXPECT_EQ(seen.size(), 24u);
    EXPECT_EQ(d.current(), first);
    EXPECT_EQ(d.TipComment->text(), text);
    d.ShowTips->setChecked(false);
    d.CloseButton->click();
  }));
  EXPECT_FALSE(S().show_tips);
  // Off: the box starts clear, and closing without ticking keeps it off.
  EXPECT_TRUE(WithModal<TTipOfDay>(TMain::kReviewTips, [&](TTipOfDay& d) {
    EXPECT_FALSE(d.ShowTips->isChecked());
    d.close();
  }));
  EXPECT_FALSE(S().show_tips);

  // The next start shows no tip; once switched on again, the next one does.
  int tips_shown = 0;
  QTimer watch;
  watch.setInterval(10);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (auto* d = qobject_cast<TTipOfDay*>(QApplication::activeModalWidget())) {
      ++tips_shown;
      d->ShowTips->setChecked(true);
      d->CloseButton->click();
    }
  });
  watch.start();
  Start({}, /*tips=*/true);
  Main().show();
  QTest::qWait(200);
  EXPECT_EQ(tips_shown, 0);
  S().show_tips = true;
  Start({}, /*tips=*/true);
  Main().show();
  EXPECT_TRUE(QTest::qWaitFor([&] { return tips_shown == 1; }, 2000));
  QTest::qWait(100);
  EXPECT_EQ(tips_shown, 1);  // the first activation only
}

TEST_F(AppearanceFormsTest, TheEditFontGoesToStringGridsButNotTheViewerGrid) {
  Start();
  TMain& m = Main();
  const QString grid_family = m.ViewerGrid->font().family();
  TestPrompts().AnswerFont(QFont("Courier New", 11));
  m.MenuFonts[1]->trigger();
  EXPECT_EQ(m.ViewerGrid->font().family(), grid_family);
  m.DisplayCount();
  EXPECT_EQ(m.ViewerGrid->font().family(), grid_family);
  EXPECT_TRUE(WithModal<TViewConfig>(TMain::kViewer, [&](TViewConfig& d) {
    EXPECT_EQ(d.FieldNameGrid->font().family(), "Courier New");
    EXPECT_EQ(d.GridFont->font().family(), "Courier New");
  }));
}

}  // namespace
}  // namespace klv::appearance
