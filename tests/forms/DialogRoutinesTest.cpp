// The routines every form uses when shown: user fonts by kind of control,
// saving and restoring design dimensions, scaling and centring.
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTextEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include "forms/DialogRoutines.h"
#include "platform/Prompts.h"
#include "support/ScriptedPrompts.h"

namespace klv::forms {
namespace {

QFont Sized(const char* family, qreal points) {
  QFont font(QString::fromLatin1(family));
  font.setPointSizeF(points);
  return font;
}

TEST(ApplyUserFontsTest, EachKindTakesItsFontsFamilyAndStyleButKeepsItsSize) {
  QWidget form;
  auto* label = new QLabel("Country", &form);
  auto* list = new QListWidget(&form);
  auto* check = new QCheckBox("Wanted", &form);
  auto* radio = new QRadioButton("Left", &form);
  auto* group = new QGroupBox("What to Export", &form);
  auto* grouped_edit = new QLineEdit(group);
  auto* grid = new QTableWidget(2, 2, &form);
  auto* data_grid = new QTableView(&form);  // a grid over a table keeps its grid font
  auto* masked = new QLineEdit(&form);
  masked->setInputMask("99/99/9999;_");
  auto* combo = new QComboBox(&form);
  combo->setEditable(true);
  auto* button = new QPushButton("&Ok", &form);
  auto* speed = new QToolButton(&form);
  auto* spin = new QSpinBox(&form);
  auto* memo = new QTextEdit(&form);
  int size = 9;
  for (QWidget* w :
       std::initializer_list<QWidget*>{label, list, check, radio, group, grouped_edit, grid,
                                       data_grid, masked, combo, button, speed, spin, memo}) {
    w->setFont(Sized("Original", size++));
  }

  UserFonts fonts;
  fonts.label = Sized("LabelFace", 30);
  fonts.label.setBold(true);
  fonts.edit = Sized("EditFace", 31);
  fonts.edit.setItalic(true);
  fonts.button = Sized("ButtonFace", 32);
  fonts.button.setUnderline(true);
  fonts.grid = Sized("GridFace", 33);  // grid fonts belong to the viewer grid only
  ApplyUserFonts(&form, fonts);

  size = 9;
  auto expect = [&](QWidget* w, const char* family, bool bold, bool italic, bool underline) {
    SCOPED_TRACE(w->metaObject()->className());
    EXPECT_EQ(w->font().family(), family);
    EXPECT_EQ(w->font().bold(), bold);
    EXPECT_EQ(w->font().italic(), italic);
    EXPECT_EQ(w->font().underline(), underline);
    EXPECT_EQ(w->font().pointSizeF(), size++);
  };
  expect(label, "LabelFace", true, false, false);
  expect(list, "LabelFace", true, false, false);
  expect(check, "LabelFace", true, false, false);
  expect(radio, "LabelFace", true, false, false);
  expect(group, "LabelFace", true, false, false);
  expect(grouped_edit, "EditFace", false, true, false);
  expect(grid, "EditFace", false, true, false);
  expect(data_grid, "Original", false, false, false);
  expect(masked, "EditFace", false, true, false);
  expect(combo, "EditFace", false, true, false);
  expect(button, "ButtonFace", false, false, true);
  expect(speed, "Original", false, false, false);
  expect(spin, "Original", false, false, false);
  expect(memo, "Original", false, false, false);
  // A control's working parts are not controls of the form.
  EXPECT_EQ(spin->findChild<QLineEdit*>()->font().family(), "Original");
}

TEST(FormControlsTest, SearchesContainersButNotControlsOrOtherWindows) {
  QWidget form;
  auto* tabs = new QTabWidget(&form);
  auto* page = new QWidget;
  auto* on_page = new QPushButton("On page", page);
  tabs->addTab(page, "&Title");
  auto* scroll = new QScrollArea(&form);
  auto* inner = new QWidget;
  auto* in_scroll = new QLabel("In scroll", inner);
  scroll->setWidget(inner);
  auto* panel = new QFrame(&form);
  auto* in_panel = new QCheckBox("In panel", panel);
  auto* line = new QFrame(&form);
  line->setFrameShape(QFrame::HLine);
  auto* combo = new QComboBox(&form);
  combo->setEditable(true);
  auto* table = new QTableWidget(3, 3, &form);
  auto* other_window = new QDialog(&form);
  new QPushButton("Elsewhere", other_window);

  const std::vector<QWidget*> controls = FormControls(&form);
  const std::vector<QWidget*> expected{tabs,     on_page, in_scroll, panel,
                                       in_panel, line,    combo,     table};
  EXPECT_EQ(controls, expected);
  EXPECT_EQ(KindOf(tabs), ControlKind::kNotebook);
  EXPECT_EQ(KindOf(panel), ControlKind::kPanel);
  EXPECT_EQ(KindOf(line), ControlKind::kBevel);
  EXPECT_EQ(KindOf(new QFrame(&form)), ControlKind::kBevel);  // a frame holding nothing
  EXPECT_EQ(KindOf(table), ControlKind::kGrid);
  EXPECT_EQ(KindOf(combo->lineEdit()), ControlKind::kEdit);  // yet not listed above
}

// A form laid out by hand, as the design gives it.
class ScaleTest : public testing::Test {
 protected:
  void SetUp() override {
    form_.resize(300, 200);
    form_.setFont(Sized("Arial", 8));
    button_ = new QPushButton("&Ok", &form_);
    button_->setGeometry(10, 20, 80, 30);
    button_->setFont(Sized("Arial", 10));
    label_ = new QLabel("Totals", &form_);
    label_->setGeometry(101, 7, 33, 11);
    QFont pixels("Arial");
    pixels.setPixelSize(12);
    label_->setFont(pixels);
    bevel_ = new QFrame(&form_);
    bevel_->setFrameShape(QFrame::HLine);
    bevel_->setGeometry(0, 100, 300, 2);
  }

  void ExpectDesign() {
    EXPECT_EQ(form_.size(), QSize(300, 200));
    EXPECT_EQ(form_.font().pointSizeF(), 8);
    EXPECT_EQ(button_->geometry(), QRect(10, 20, 80, 30));
    EXPECT_EQ(button_->font().pointSizeF(), 10);
    EXPECT_EQ(label_->geometry(), QRect(101, 7, 33, 11));
    EXPECT_EQ(label_->font().pixelSize(), 12);
  }

  QWidget form_;
  QPushButton* button_ = nullptr;
  QLabel* label_ = nullptr;
  QFrame* bevel_ = nullptr;
};

TEST_F(ScaleTest, ScalingFromSavedDimensionsNeverCompounds) {
  const SavedDimensions saved = SaveDimensions(&form_);
  EXPECT_TRUE(saved.complete);
  ASSERT_EQ(saved.controls.size(), 3u);
  EXPECT_FALSE(saved.controls[2].has_font);  // the bevel

  for (int show = 0; show < 3; ++show) {
    ScaleDialog(&form_, saved, 1.25);
    EXPECT_EQ(form_.size(), QSize(375, 250));
    EXPECT_EQ(form_.font().pointSizeF(), 10);
    // Edges are scaled, so 10..90 becomes 13..113 (rounding half away).
    EXPECT_EQ(button_->geometry(), QRect(13, 25, 100, 38));
    EXPECT_EQ(button_->font().pointSizeF(), 12.5);
    EXPECT_EQ(label_->font().pixelSize(), 15);
    EXPECT_EQ(bevel_->geometry(), QRect(0, 125, 375, 3));
  }
  ScaleDialog(&form_, saved, 1.0);
  ExpectDesign();
  ScaleDialog(&form_, saved, 2.0);
  EXPECT_EQ(button_->geometry(), QRect(20, 40, 160, 60));
  EXPECT_EQ(form_.size(), QSize(600, 400));
}

TEST_F(ScaleTest, FactorIsAWholePercentage) {
  EXPECT_DOUBLE_EQ(EffectiveScaleFactor(1.254), 1.25);
  EXPECT_DOUBLE_EQ(EffectiveScaleFactor(1.6), 1.6);
  EXPECT_DOUBLE_EQ(EffectiveScaleFactor(1.999), 2.0);
  const SavedDimensions saved = SaveDimensions(&form_);
  ScaleDialog(&form_, saved, 1.254);
  EXPECT_EQ(form_.size(), QSize(375, 250));
  EXPECT_EQ(button_->font().pointSizeF(), 12.5);
}

TEST_F(ScaleTest, FormIsCentredAndALargeOneKeepsItsTitleBarOnScreen) {
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  const SavedDimensions saved = SaveDimensions(&form_);
  ScaleDialog(&form_, saved, 1.0);
  EXPECT_EQ(form_.pos(), QPoint(screen.x() + (screen.width() - 300) / 2,
                                screen.y() + (screen.height() - 200) / 2));

  ScaleDialog(&form_, saved, 10.0);  // far larger than any test screen
  EXPECT_EQ(form_.pos(), screen.topLeft());

  form_.move(screen.x() + 40, screen.y() + 100);
  MoveUpTenPixels(&form_);
  EXPECT_EQ(form_.pos(), QPoint(screen.x() + 40, screen.y() + 90));
  form_.move(screen.x() + 40, screen.y() + 10);
  MoveUpTenPixels(&form_);
  EXPECT_EQ(form_.pos(), QPoint(screen.x() + 40, screen.y() + 10));
}

TEST_F(ScaleTest, OneUseDialogsScaleFromWhatTheyShowAndGoneControlsAreSkipped) {
  ScaleAndCentre(&form_, 1.5);
  EXPECT_EQ(form_.size(), QSize(450, 300));
  EXPECT_EQ(button_->geometry(), QRect(15, 30, 120, 45));

  SavedDimensions saved = SaveDimensions(&form_);
  delete label_;
  ScaleDialog(&form_, saved, 2.0);
  EXPECT_EQ(button_->geometry(), QRect(30, 60, 240, 90));
}

TEST(ScaleDialogTest, FixedSizeAndLaidOutFormsScaleToo) {
  QWidget fixed;
  fixed.setFixedSize(200, 100);
  ScaleDialog(&fixed, SaveDimensions(&fixed), 2.0);
  EXPECT_EQ(fixed.size(), QSize(400, 200));
  ScaleDialog(&fixed, SaveDimensions(&fixed), 0.5);
  EXPECT_EQ(fixed.size(), QSize(200, 100));

  QWidget laid_out;
  auto* layout = new QVBoxLayout(&laid_out);
  auto* edit = new QLineEdit(&laid_out);
  edit->setFont(Sized("Arial", 10));
  layout->addWidget(edit);
  laid_out.resize(320, 240);
  const SavedDimensions saved = SaveDimensions(&laid_out);
  ScaleDialog(&laid_out, saved, 1.6);
  EXPECT_EQ(edit->font().pointSizeF(), 16);
  EXPECT_EQ(laid_out.size(), QSize(512, 384));
}

TEST(SaveDimensionsTest, MoreThan101ControlsSaysSoAndRecordsOnly101) {
  QWidget form;
  for (int i = 0; i < 101; ++i) new QLabel(QString::number(i), &form);
  const SavedDimensions exact = SaveDimensions(&form);  // no message
  EXPECT_TRUE(exact.complete);
  EXPECT_EQ(exact.controls.size(), 101u);

  auto* extra = new QLabel("one too many", &form);
  extra->setGeometry(10, 10, 50, 20);
  test::TestPrompts().ExpectMessage("Error", "Too many compenents to save dimensions.",
                                    platform::MsgButton::kOk);
  const SavedDimensions saved = SaveDimensions(&form);
  EXPECT_FALSE(saved.complete);
  EXPECT_EQ(saved.controls.size(), 101u);
  ASSERT_EQ(test::TestPrompts().Messages().size(), 1u);
  EXPECT_EQ(test::TestPrompts().Messages()[0].icon, platform::MsgIcon::kError);

  // What was recorded scales; the unrecorded control keeps its size.
  ScaleDialog(&form, saved, 2.0);
  EXPECT_EQ(extra->geometry(), QRect(10, 10, 50, 20));

  // One-use dialogs have no such limit and say nothing.
  ScaleAndCentre(&form, 2.0);
  EXPECT_EQ(extra->geometry(), QRect(20, 20, 100, 40));
}

TEST(ScreenSizeTest, SettingsFactorsAndTheScreensThatCanShowThem) {
  ASSERT_NE(FindScreenSize(1024), nullptr);
  EXPECT_DOUBLE_EQ(FindScreenSize(640)->factor, 1.0);
  EXPECT_DOUBLE_EQ(FindScreenSize(800)->factor, 1.25);
  EXPECT_DOUBLE_EQ(FindScreenSize(1024)->factor, 1.6);
  EXPECT_DOUBLE_EQ(FindScreenSize(1280)->factor, 2.0);
  EXPECT_EQ(FindScreenSize(900), nullptr);

  EXPECT_TRUE(ScreenCanShow(*FindScreenSize(640), 320, 200));
  EXPECT_TRUE(ScreenCanShow(*FindScreenSize(800), 800, 600));
  EXPECT_FALSE(ScreenCanShow(*FindScreenSize(800), 800, 599));
  EXPECT_FALSE(ScreenCanShow(*FindScreenSize(1280), 1280, 1000));

  EXPECT_EQ(ScreenSizeInForce(1280, 1280, 1024).setting, 1280);
  EXPECT_EQ(ScreenSizeInForce(1024, 800, 600).setting, 640);   // screen too small
  EXPECT_EQ(ScreenSizeInForce(900, 1920, 1080).setting, 640);  // not a setting
}

}  // namespace
}  // namespace klv::forms
