// The report designer and its forms on a real definitions file: the width
// questions, the enablings, Update of a new, a modified and a renamed
// definition, Delete, the item form's checks, the layout grid's boxes and
// the fonts form, with every question's text as the user reads it.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFontMetricsF>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "report/RepFonts.h"
#include "report/UrpFile.h"
#include "report/UserRep1.h"
#include "report/UserRep2.h"
#include "report/UserRep3.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"

namespace klv::report {
namespace {

using platform::MsgButton;
using test::TestPrompts;

class DesignerTest : public ::testing::Test {
 protected:
  DesignerTest() : file_(QString::fromStdString(dir_.File("KLVCOIN.URP"))) {
    file_.CreateIfMissing();
  }
  std::vector<int> Widths(const ReportLine& line, size_t n) {
    std::vector<int> out;
    for (size_t i = 0; i < n; ++i) out.push_back(line[i].width);
    return out;
  }

  test::TempDir dir_;
  UrpFile file_;
  app::AppState state_;
};

TEST_F(DesignerTest, WidthChangesAskTruncateAndResetTheBodyFont) {
  TUserReport designer(nullptr, state_, file_);
  ASSERT_TRUE(designer.PrepareExisting(1));  // "Simple List Plus Values Report", 120
  EXPECT_EQ(designer.windowTitle(), QStringLiteral("Report Definition"));
  const char* to90 =
      "Switching to 90 characters from 120 or 150 will truncate the current defined lines.  In "
      "addition, the font size will be reset to a 10 point as a default.  Are you sure you wish "
      "to do this?";
  TestPrompts().ExpectMessage("Warning", to90, MsgButton::kNo);
  designer.Width90->click();
  EXPECT_TRUE(designer.Width120->isChecked());
  EXPECT_FALSE(designer.Width90->isChecked());
  EXPECT_EQ(designer.working_copy().width, 120);
  EXPECT_EQ(TestPrompts().asked().back().default_button, MsgButton::kNo);

  TestPrompts().ExpectMessage("Warning", to90, MsgButton::kYes);
  designer.Width90->click();
  EXPECT_TRUE(designer.Width90->isChecked());
  const ReportDef& def = designer.working_copy();
  EXPECT_EQ(def.width, 90);
  EXPECT_EQ(def.body_font.size, 10);
  EXPECT_EQ(Widths(def.record_lines[0], 9), (std::vector<int>{20, 7, 3, 7, 22, 30, 1, 0, 4}));
  EXPECT_EQ(def.totals, BuiltInReportDefs()[1].totals);

  TestPrompts().ExpectMessage("Notice",
                              "The Report Body font size has been set to a 6 Point default size "
                              "as a result of switching to 150 characters per line.",
                              MsgButton::kOk);
  designer.Width150->click();
  EXPECT_EQ(def.body_font.size, 6);
  EXPECT_EQ(designer.BodyFontText->text(), QStringLiteral("Arial 6pt"));
  EXPECT_EQ(Widths(def.record_lines[0], 9), (std::vector<int>{20, 7, 3, 7, 22, 30, 1, 60, 0}));

  TestPrompts().ExpectMessage(
      "Warning",
      "Switching to 120 characters from 150 will truncate the current defined lines.  In "
      "addition, the font size will be reset to a 8 point as a default.  Are you sure you wish "
      "to do this?",
      MsgButton::kYes);
  TestPrompts().ExpectMessage(
      "Notice", "The Report Body font size has been set to a 8 Point default size as.",
      MsgButton::kOk);
  designer.Width120->click();
  EXPECT_EQ(def.width, 120);
  EXPECT_EQ(def.body_font.size, 8);
  EXPECT_EQ(TestPrompts().Messages().size(), 5u);
  // Nothing is written before Update.
  EXPECT_EQ(file_.Read(1), BuiltInReportDefs()[1]);
}

TEST_F(DesignerTest, NewDefinitionIsAppendedWithItsControlsStored) {
  TUserReport designer(nullptr, state_, file_);
  designer.PrepareNew();
  EXPECT_FALSE(designer.DeleteButton->isEnabled());
  EXPECT_EQ(designer.TopMargin->text(), QStringLiteral("0.50"));
  EXPECT_EQ(designer.TitlesFontText->text(), QStringLiteral("Courier New 10pt"));
  EXPECT_TRUE(designer.ColumnHeaders->isEnabled());

  designer.NumLines->setText(QStringLiteral("2"));
  designer.NumLinesExit();
  EXPECT_FALSE(designer.ColumnHeaders->isEnabled());
  EXPECT_FALSE(designer.HorizontalLines->isEnabled());
  EXPECT_FALSE(designer.VerticalLines->isEnabled());
  designer.GroupLevel2->setChecked(true);
  designer.GroupLevel1->click();  // off
  EXPECT_FALSE(designer.GroupLevel2->isEnabled());

  designer.NumLines->setText(QStringLiteral("13"));
  TestPrompts().ExpectMessage(
      "Notice", "Number of lines must be in range of 0 to 12.  Please correct.", MsgButton::kOk);
  designer.UpdateButtonClick();
  EXPECT_FALSE(designer.result().changed);

  designer.NumLines->setText(QStringLiteral("2"));
  designer.ReportName->setText(QStringLiteral("   My Own Report   "));
  designer.Titles[0]->setText(QStringLiteral(" Coins of the North "));
  designer.LeftMargin->setText(QStringLiteral("1.25"));
  designer.UpdateButtonClick();
  EXPECT_TRUE(designer.result().changed);
  EXPECT_EQ(designer.result().select_index, 5);
  const ReportDef stored = file_.Read(5);
  EXPECT_EQ(stored.name, QStringLiteral("My Own Report"));
  EXPECT_EQ(stored.titles[0], QStringLiteral("Coins of the North"));
  EXPECT_EQ(stored.lines, 2);
  EXPECT_EQ(stored.left_margin, 1.25);
  EXPECT_FALSE(stored.group_level1);
  EXPECT_FALSE(stored.group_level2);
}

TEST_F(DesignerTest, RenamedDefinitionAsksHowToSaveIt) {
  const char* renamed =
      "Report Title has changed!  Do you wish to save this as a new report?   (YES saves as new "
      "report.  NO overwrites old report.  CANCEL aborts.)";
  {
    TUserReport designer(nullptr, state_, file_);
    ASSERT_TRUE(designer.PrepareExisting(2));
    EXPECT_TRUE(designer.DeleteButton->isEnabled());
    designer.ReportName->setText(QStringLiteral("Renamed"));
    designer.ReportNameExit();
    EXPECT_FALSE(designer.DeleteButton->isEnabled());

    TestPrompts().ExpectMessage("Confirm", renamed, MsgButton::kCancel);
    designer.UpdateButtonClick();
    EXPECT_FALSE(designer.result().changed);
    EXPECT_EQ(file_.Names().size(), 5);
    EXPECT_EQ(TestPrompts().asked().back().buttons, platform::MsgButtons::kYesNoCancel);

    TestPrompts().ExpectMessage("Confirm", renamed, MsgButton::kNo);
    designer.UpdateButtonClick();
    EXPECT_EQ(designer.result().select_index, 2);
  }
  EXPECT_EQ(file_.Names(), (QStringList{"Simple List Report", "Simple List Plus Values Report",
                                        "Renamed", "Complete Report", "Statistic/Summary Report"}));
  ReportDef expected = BuiltInReportDefs()[2];
  expected.name = QStringLiteral("Renamed");
  EXPECT_EQ(file_.Read(2), expected);

  TUserReport designer(nullptr, state_, file_);
  ASSERT_TRUE(designer.PrepareExisting(2));
  designer.ReportName->setText(QStringLiteral("Copy of it"));
  TestPrompts().ExpectMessage("Confirm", renamed, MsgButton::kYes);
  designer.UpdateButtonClick();
  EXPECT_EQ(designer.result().select_index, 5);
  EXPECT_EQ(file_.Names().size(), 6);
  EXPECT_EQ(file_.Read(2).name, QStringLiteral("Renamed"));
  EXPECT_EQ(file_.Read(5).name, QStringLiteral("Copy of it"));
}

TEST_F(DesignerTest, DeleteAsksThenRemovesTheRecord) {
  TUserReport designer(nullptr, state_, file_);
  ASSERT_TRUE(designer.PrepareExisting(0));
  designer.ReportName->setText(QStringLiteral("Other"));
  designer.ReportNameExit();
  EXPECT_FALSE(designer.DeleteButton->isEnabled());
  designer.ReportName->setText(QStringLiteral(" Simple List Report "));
  designer.ReportNameExit();
  EXPECT_TRUE(designer.DeleteButton->isEnabled());

  const char* question = "Are you sure you want to delete this report?";
  TestPrompts().ExpectMessage("Confirm", question, MsgButton::kNo);
  designer.DeleteButton->click();
  EXPECT_EQ(TestPrompts().asked().back().default_button, MsgButton::kNo);
  EXPECT_EQ(file_.Names().size(), 5);
  TestPrompts().ExpectMessage("Confirm", question, MsgButton::kYes);
  designer.DeleteButton->click();
  EXPECT_TRUE(designer.result().changed);
  EXPECT_EQ(designer.result().select_index, -1);
  EXPECT_EQ(file_.Names().first(), QStringLiteral("Simple List Plus Values Report"));
  EXPECT_EQ(file_.Names().size(), 4);
}

TEST_F(DesignerTest, ItemFormRefusesBadInputAndStoresAnItem) {
  ReportDef def = BuiltInReportDefs()[2];  // "Three Line Report", 120
  const ReportDef before = def;
  TReportPart part(nullptr, state_, def, 3, 2);
  EXPECT_EQ(part.windowTitle(), QStringLiteral("Select Report Part"));
  EXPECT_EQ(part.SelectedPart->text(), QStringLiteral("Line 3, Item 2"));
  EXPECT_TRUE(part.FillerRadio->isChecked());
  EXPECT_FALSE(part.LabelName->isEnabled());
  EXPECT_FALSE(part.FieldList->isEnabled());
  ASSERT_EQ(part.FieldList->count(), 20);
  EXPECT_EQ(part.FieldList->item(6)->text(), QStringLiteral("Market Value"));

  part.FieldRadio->click();
  EXPECT_TRUE(part.FieldList->isEnabled());
  TestPrompts().ExpectMessage("Error", "No field selected.  Please choose a field from the list.",
                              MsgButton::kOk);
  part.OkButtonClick();
  EXPECT_EQ(def, before);

  part.FieldList->setCurrentRow(6);
  part.FieldWidth->setText(QString());
  TestPrompts().ExpectMessage("Error", "Invalid width entered.  Please correct.", MsgButton::kOk);
  part.OkButtonClick();
  EXPECT_EQ(def, before);

  part.FieldWidth->setText(QStringLiteral("30"));
  part.OkButtonClick();
  EXPECT_EQ(part.result(), QDialog::Accepted);
  EXPECT_EQ(def.record_lines[2][1], (ReportItem{"MarketValu", 7, 30, ""}));
  int sum = 0;
  for (const ReportItem& item : def.record_lines[2]) sum += std::max<int>(0, item.width);
  EXPECT_EQ(sum, 120);

  TReportPart totals(nullptr, state_, def, kTotalsLine, 3);
  EXPECT_EQ(totals.SelectedPart->text(), QStringLiteral("Totals Line, Item 3"));
  EXPECT_EQ(totals.FieldList->count(), 4);
  EXPECT_EQ(totals.FieldList->currentItem()->text(), QStringLiteral("Quantity"));
  EXPECT_EQ(totals.FieldWidth->text(), QStringLiteral("12"));
}

TEST_F(DesignerTest, LayoutGridBoxesFollowTheItemWidths) {
  const ReportDef def = BuiltInReportDefs()[0];  // 90, one line of 89, totals of 88
  const std::vector<LayoutBox> boxes = LayoutBoxes(def);
  ASSERT_EQ(boxes.size(), 7u + 12u);
  EXPECT_EQ(boxes[0].rect, QRectF(4, 75, 625.0 * 20 / 90, 20));
  EXPECT_EQ(boxes[6].item_no, 7);
  EXPECT_EQ(boxes[6].rect.right(), 629);  // the last box runs to the row's end
  EXPECT_EQ(boxes[7].line_no, kTotalsLine);
  EXPECT_EQ(boxes[7].rect.top(), 355);
  EXPECT_EQ(boxes[18].rect.bottom(), 375);

  TRepLayout layout(nullptr, state_, def);
  EXPECT_EQ(layout.windowTitle(), QStringLiteral("Specify Report Layout"));
  const QStringList& captions = layout.field_captions();
  const BoxText field = BoxTextOf(def.record_lines[0][3], false, captions);
  EXPECT_EQ(field.text, QStringLiteral("Approx Year"));
  EXPECT_EQ(field.color, Qt::black);
  const BoxText label = BoxTextOf(def.totals[0], true, captions);
  EXPECT_EQ(label.text, QStringLiteral("Quantity:"));
  EXPECT_EQ(label.color, Qt::red);
  EXPECT_TRUE(label.alignment & Qt::AlignRight);
  EXPECT_EQ(BoxTextOf(def.totals[1], true, captions).text, QStringLiteral("Filler"));
  EXPECT_EQ(BoxTextOf(def.totals[2], true, captions).text, QStringLiteral("Quantity"));
  const QFontMetricsF metrics(QFont(QStringLiteral("Arial"), 8));
  const QString cut = CutToWidth(QStringLiteral("Description of the coin"), metrics, 30);
  EXPECT_TRUE(QStringLiteral("Description of the coin").startsWith(cut));
  EXPECT_LE(metrics.horizontalAdvance(cut), 30);
  EXPECT_LT(cut.size(), 10);

  const std::optional<LayoutBox> hit = layout.Grid->BoxAt(QPointF(150, 80));
  ASSERT_TRUE(hit);
  EXPECT_EQ(hit->line_no, 1);
  EXPECT_EQ(hit->item_no, 2);
  EXPECT_FALSE(layout.Grid->BoxAt(QPointF(150, 120)));
}

TEST_F(DesignerTest, FontsFormTakesTheChosenFontAndColour) {
  ReportDef def = BuiltInReportDefs()[0];
  TReportFonts fonts(nullptr, state_, def);
  EXPECT_EQ(fonts.windowTitle(), QStringLiteral("Report Fonts"));
  EXPECT_EQ(fonts.FontTexts[0]->text(), QStringLiteral("Arial 10pt"));
  QFont chosen(QStringLiteral("DejaVu Serif"), 14);
  chosen.setItalic(true);
  chosen.setUnderline(true);
  TestPrompts().AnswerFont(chosen);
  TestPrompts().AnswerColor(QColor(0x12, 0x34, 0x56));
  fonts.NewFontButtons[TReportFonts::kFootnote]->click();
  EXPECT_EQ(TestPrompts().asked()[0].font.family(), QStringLiteral("Arial"));
  EXPECT_EQ(def.footnote_font,
            (ReportFont{"DejaVu Serif", 14, false, true, true, false, 0x563412}));
  EXPECT_EQ(fonts.FontTexts[3]->text(), QStringLiteral("DejaVu Serif 14pt"));

  // Cancel in the font dialog: no colour is asked, nothing changes. Cancel
  // in the colour dialog keeps the colour.
  fonts.show();
  const ReportDef before = def;
  const size_t asked = TestPrompts().asked().size();
  TestPrompts().AnswerFont(std::nullopt);
  QPushButton* titles = fonts.NewFontButtons[TReportFonts::kTitles];
  QTest::mouseClick(titles, Qt::LeftButton, {}, titles->rect().center());
  EXPECT_EQ(TestPrompts().asked().size(), asked + 1);
  EXPECT_EQ(def, before);
  TestPrompts().AnswerFont(chosen);
  TestPrompts().AnswerColor(std::nullopt);
  QTest::mouseClick(titles, Qt::LeftButton, {}, titles->rect().center());
  EXPECT_EQ(def.titles_font.name, QStringLiteral("DejaVu Serif"));
  EXPECT_EQ(def.titles_font.color, before.titles_font.color);
}

// The user's own clicks and keys on the designer, shown as the chooser shows it.
void Click(QWidget* w) {
  QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center());
}
void TypeLines(TUserReport& designer, const char* lines) {
  Click(designer.NumLines);
  QTest::keyClick(designer.NumLines, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(designer.NumLines, QLatin1String(lines));
  QTest::keyClick(designer.NumLines, Qt::Key_Tab);
}

TEST_F(DesignerTest, ObversePicturesBoxIsStoredAndWantsRecordLines) {
  TUserReport designer(nullptr, state_, file_);
  ASSERT_TRUE(designer.PrepareExisting(3));
  ASSERT_EQ(designer.working_copy().name, QStringLiteral("Complete Report"));
  designer.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&designer));
  QCheckBox* box = designer.PrintObverse;
  EXPECT_EQ(box->text(), QStringLiteral("Print &Obverse Pictures"));
  EXPECT_TRUE(box->isChecked());
  // Wide enough for its text.
  EXPECT_GE(box->width(), box->sizeHint().width());
  EXPECT_FALSE(TUserReport(nullptr, state_, file_).PrintObverse->isChecked());  // a new one

  // Enabled while a record has lines to stand beside.
  struct Case {
    const char* lines;
    bool enabled;
  };
  for (const Case& c :
       {Case{"0", false}, Case{"1", true}, Case{"12", true}, Case{"0", false}, Case{"8", true}}) {
    SCOPED_TRACE(c.lines);
    TypeLines(designer, c.lines);
    EXPECT_EQ(box->isEnabled(), c.enabled);
  }

  // Off by a click (and Alt+O back on and off again), stored by Update.
  Click(box);
  EXPECT_FALSE(box->isChecked());
  QTest::keyClick(&designer, Qt::Key_O, Qt::AltModifier);
  EXPECT_TRUE(QTest::qWaitFor([&] { return box->isChecked(); }, 2000));
  QTest::keyClick(&designer, Qt::Key_O, Qt::AltModifier);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !box->isChecked(); }, 2000));
  Click(designer.UpdateButton);
  ASSERT_TRUE(designer.result().changed);
  EXPECT_FALSE(file_.Read(3).print_obverse);
}

}  // namespace
}  // namespace klv::report
