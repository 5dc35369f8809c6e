// The record edit form against a real coin table: what Update stores, what
// it refuses, how it behaves when the row cannot be written, and the form's
// questions with their exact texts.
#include "edit/Edit1.h"

#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QStringListModel>
#include <QTest>
#include <QTimer>

#include "base/FaultEnv.h"
#include "edit/EditTestSupport.h"
#include "edit/MyMisc.h"
#include "platform/HelpViewer.h"
#include "support/RecordedColors.h"
#include "support/ScriptedPrompts.h"

namespace klv::edit {
namespace {

using namespace klv::db;

using platform::MsgButton;
using test::Q;
using test::TestPrompts;

QString L(const char* text) {
  return QString::fromUtf8(text);
}

class EditFormTest : public ::testing::Test, public test::EditDatabase {
 protected:
  void SetUp() override { OpenTable(); }
  void TearDown() override {
    if (form_) form_->hide();
    form_.reset();
    lists_.reset();
  }

  TMyEdit& Form() {
    if (!form_) {
      lists_ = std::make_unique<PickLists>(state.program_dir);
      form_ = std::make_unique<TMyEdit>(table, state, *lists_);
    }
    return *form_;
  }
  // Shows the form (not modally) in an edit mode, as the main window would.
  TMyEdit& Show(int mode) {
    state.edit_mode = mode;
    TMyEdit& f = Form();
    f.hide();
    f.show();
    return f;
  }
  PickLists& lists() { return *lists_; }

  // The first row of the table, read through an independent open.
  struct Stored {
    std::string country, face_value, year, mint_mark, condition, topic, description, comment, misc,
        user1, user4, wanted, approx;
    double price = 0, market = 0, premium = 0;
    bool price_null = true;
    int64_t quantity = 0;
    bool quantity_null = true;
    dbf::Date date;
  };
  Stored ReadRow(uint32_t recno = 1) {
    auto other = OpenOther();
    EXPECT_TRUE(other->GoTo(recno));
    Stored s;
    auto text = [&](const char* name) { return other->FieldByName(name).AsString(); };
    s.country = text("COUNTRY");
    s.face_value = text("FACEVALUE");
    s.year = text("YEAR");
    s.mint_mark = text("MINTMARK");
    s.condition = text("CONDITION");
    s.topic = text("TOPIC");
    s.description = text("DESCRIPTIO");
    s.comment = text("COMMENT");
    s.misc = text("MISCELLANE");
    s.user1 = text("USERDEF1");
    s.user4 = text("USERDEF4");
    s.wanted = text("WANTED");
    s.approx = text("YEARAPPROX");
    s.price = other->FieldByName("PURCHASEPR").AsFloat();
    s.price_null = other->FieldByName("PURCHASEPR").IsNull();
    s.market = other->FieldByName("MARKETVALU").AsFloat();
    s.premium = other->FieldByName("PREMIUMVAL").AsFloat();
    s.quantity = other->FieldByName("QUANTITY").AsInteger();
    s.quantity_null = other->FieldByName("QUANTITY").IsNull();
    s.date = other->FieldByName("PURCHDATE").AsDate();
    return s;
  }
  uint64_t Rows() { return OpenOther()->RecordCount(); }

  // Fills every control with a full record (blanks around the texts).
  void Fill(TMyEdit& f) {
    f.Country->setEditText("  Peru ");
    f.FaceValue->setText("1 Sol");
    f.Year->setText("1935");
    f.Approx->setChecked(true);
    f.MintMark->setText("LM");
    f.Condition->setEditText("Fine");
    f.Topic->setEditText(" Animals");
    f.Description->setText("Llama");
    f.Comments->setText("bought at the fair  ");
    f.Misc->setText("Proof, Holed");
    for (int i = 0; i < 4; ++i) f.UserDef[i]->setText(QStringLiteral("user %1").arg(i + 1));
    f.Quantity->setText("3");
  }

  std::unique_ptr<PickLists> lists_;
  std::unique_ptr<TMyEdit> form_;
};

// ---------------------------------------------------------------------------
// Opening

TEST_F(EditFormTest, AddOpensWithTheBlankRecordAndTheCaptionsOfTheDatabase) {
  state.settings.field_names[kUserDef1] = "Catalogue No";
  state.settings.field_names[kWanted] = "On my list";
  test::RecordedColors colors;
  TMyEdit& f = Show(app::kEditAdd);
  EXPECT_EQ(f.windowTitle(), "Edit");
  ASSERT_FALSE(colors.asked.empty());
  EXPECT_EQ(colors.asked.back(), std::make_pair<QWidget*>(&f, forms::ColorGroupId::kEdit));
  for (QComboBox* c : {f.Country, f.Condition, f.Topic}) EXPECT_EQ(c->currentText(), "");
  for (QLineEdit* e : {f.FaceValue, f.Year, f.MintMark, f.Description, f.Comments, f.Misc})
    EXPECT_EQ(e->text(), "");
  EXPECT_EQ(f.DateText(), "  /  /    ");
  EXPECT_EQ(f.Quantity->text(), "1");
  EXPECT_TRUE(f.Quantity->isEnabled());
  for (QLineEdit* e : {f.PurchasePrice, f.MarketValue, f.PremiumValue}) EXPECT_EQ(e->text(), "0");
  EXPECT_FALSE(f.Approx->isChecked());
  EXPECT_FALSE(f.Wanted->isChecked());
  for (QLabel* total : {f.TotalPPriceLabel, f.TotalMValueLabel, f.TotalPValueLabel})
    EXPECT_EQ(total->text(), "0.00 ");
  EXPECT_EQ(f.UserDefLabel[0]->text(), "Catalogue No");
  EXPECT_EQ(f.Wanted->text(), "On my list");
  EXPECT_EQ(f.PurchDateLabel->text(), "Purch Date");
  EXPECT_EQ(f.Approx->text(), "Approx Year");
  EXPECT_FALSE(f.ValuesChanged());
  // The maximum input lengths of the form.
  EXPECT_EQ(f.Country->lineEdit()->maxLength(), 20);
  EXPECT_EQ(f.Condition->lineEdit()->maxLength(), 30);
  EXPECT_EQ(f.Misc->maxLength(), 110);
  EXPECT_EQ(f.Year->maxLength(), 7);
  EXPECT_EQ(f.MintMark->maxLength(), 3);
  EXPECT_EQ(f.Quantity->maxLength(), 5);
  EXPECT_EQ(f.PurchasePrice->maxLength(), 12);
}

TEST_F(EditFormTest, EditStartsFromTheRowAsStoredNowNotAsThisCopyLastReadIt) {
  AddRow("Chile", "1 Peso");
  table.First();
  TMyEdit& f = Show(app::kEditChange);
  EXPECT_EQ(f.Country->currentText(), "Chile");
  f.hide();
  // Another copy of the program changes the row meanwhile.
  auto other = OpenOther();
  other->First();
  other->Edit();
  other->FieldByName("Country").SetAsString("Bolivia");
  other->Post();
  Show(app::kEditChange);
  EXPECT_EQ(f.Country->currentText(), "Bolivia");
  EXPECT_EQ(f.FaceValue->text(), "1 Peso");
}

// ---------------------------------------------------------------------------
// What Update stores is what the form then shows

struct FormatCase {
  const char* name;
  int date_format;
  bool leading_zeros;
  int style;  // "Currency Format" and "Numeric Format"
  QChar decimal, thousand;
  const char* typed_price;
  const char* typed_date;
  double price;
  dbf::Date date;
};

// Shown by the test runner (and so in the test list) instead of the bytes.
void PrintTo(const FormatCase& c, std::ostream* os) {
  *os << "date format " << c.date_format << (c.leading_zeros ? " with" : " without")
      << " leading zeros, number style " << c.style;
}

std::string FormatCaseName(const ::testing::TestParamInfo<FormatCase>& info) {
  return info.param.name;
}

class EditFormatTest : public EditFormTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(EditFormatTest, TheFormShowsAfterUpdateWhatTheTableHolds) {
  const FormatCase& c = GetParam();
  platform::IntlSettings intl;
  intl.decimal = c.decimal;
  intl.thousand = c.thousand;
  SetFormats(c.date_format, c.leading_zeros, c.style, c.style, intl);
  TMyEdit& f = Show(app::kEditAdd);
  Fill(f);
  f.PurchasePrice->setText(c.typed_price);
  f.MarketValue->setText("");
  f.PremiumValue->setText("7");
  f.Quantity->setText("");
  f.PurchDate->setText(c.typed_date);
  ASSERT_TRUE(f.DoAnUpdate());
  ASSERT_EQ(Rows(), 1u);

  const Stored s = ReadRow();
  EXPECT_EQ(s.country, "Peru");
  EXPECT_EQ(s.topic, "Animals");
  EXPECT_EQ(s.comment, "bought at the fair");
  EXPECT_EQ(s.face_value, "1 Sol");
  EXPECT_EQ(s.mint_mark, "LM");
  EXPECT_EQ(s.misc, "Proof, Holed");
  EXPECT_EQ(s.user4, "user 4");
  EXPECT_EQ(s.approx, "Yes");
  EXPECT_EQ(s.wanted, "No");
  EXPECT_DOUBLE_EQ(s.price, c.price);
  EXPECT_DOUBLE_EQ(s.market, 0);
  EXPECT_DOUBLE_EQ(s.premium, 7);
  EXPECT_EQ(s.quantity, 0);  // an empty quantity is stored as 0
  EXPECT_FALSE(s.quantity_null);
  EXPECT_EQ(s.date, c.date);

  // The controls now show the stored row, field by field.
  EXPECT_EQ(f.Country->currentText(), Q(s.country));
  EXPECT_EQ(f.Topic->currentText(), Q(s.topic));
  EXPECT_EQ(f.Comments->text(), Q(s.comment));
  EXPECT_EQ(f.PurchasePrice->text(), app::FormatAmount(state.formats, 1, s.price));
  EXPECT_EQ(f.MarketValue->text(), app::FormatAmount(state.formats, 1, 0));
  EXPECT_EQ(f.Quantity->text(), "0");
  if (s.date.IsNull()) {
    EXPECT_EQ(TrimBlanks(f.DateText()), "/  /");
  } else {
    EXPECT_EQ(f.DateText().remove(u' '), Q(dbf::FormatDateText(s.date, table.text_format())));
  }
  EXPECT_FALSE(f.ValuesChanged());
  EXPECT_EQ(state.edit_mode, app::kEditChange);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, EditFormatTest,
    ::testing::Values(
        FormatCase{
            "UsMonthFirst", 7, false, 1, u'.', u',', "1,234.50", "5/7/1997", 1234.5, {1997, 5, 7}},
        FormatCase{
            "UsTwoDigitYear", 1, true, 1, u'.', u',', " 12.5 ", "05/07/97", 12.5, {1997, 5, 7}},
        FormatCase{"WindowsDotThousands",
                   12,
                   false,
                   2,
                   u',',
                   u'.',
                   "1.234,50",
                   "7.5.1997",
                   1234.5,
                   {1997, 5, 7}},
        FormatCase{"WindowsBlankThousands",
                   11,
                   true,
                   2,
                   u',',
                   u' ',
                   "1 234,5",
                   "07-05-1997",
                   1234.5,
                   {1997, 5, 7}},
        FormatCase{"BlankDate", 4, false, 1, u'.', u',', "0", "", 0, {}}),
    FormatCaseName);

TEST_F(EditFormTest, AnAllBlankDateIsAnEmptyDateWhateverTheSeparatorAndAHalfTypedOneIsRefused) {
  for (int format : {7, 8, 9}) {  // "/", "-" and "."
    SetFormats(format, false, 1, 1, platform::IntlSettings{});
    TMyEdit& f = Show(app::kEditAdd);
    EXPECT_EQ(TrimBlanks(f.DateText()).size(), 4) << format;  // the two separators and blanks
    f.Country->setEditText("Peru");
    ASSERT_TRUE(f.DoUpdate()) << format;
  }
  EXPECT_EQ(Rows(), 3u);
  for (uint32_t r = 1; r <= 3; ++r) EXPECT_TRUE(ReadRow(r).date.IsNull());

  SetFormats(10, false, 1, 1, platform::IntlSettings{});
  TMyEdit& f = Show(app::kEditAdd);
  f.PurchDate->setText("12");  // day typed, month and year left blank
  TestPrompts().ExpectMessage("Error", "Invalid acquired date specified.  Please correct.",
                              MsgButton::kOk);
  EXPECT_FALSE(f.DoUpdate());
  EXPECT_EQ(f.focusWidget(), f.PurchDate);
  f.PurchDate->setText("31/02/1997");
  TestPrompts().ExpectMessage("Error", "Invalid acquired date specified.  Please correct.",
                              MsgButton::kOk);
  EXPECT_FALSE(f.DoUpdate());
  EXPECT_EQ(Rows(), 3u);
}

TEST_F(EditFormTest, APurchDateTypedAfterAClickAnywhereInTheBoxIsStored) {
  struct Case {
    const char* name;
    const char* before;  // typed after a click at the left end
    double click;        // then a click this far across the box
    const char* typed;
    dbf::Date stored;
  };
  const Case cases[] = {
      {"past the blanks", "", 0.95, "05071995", {1995, 5, 7}},
      {"in the year", "", 0.7, "05071995", {1995, 5, 7}},
      {"past a typed month", "05", 0.95, "071995", {1995, 5, 7}},
      {"past a typed day", "0517", 0.95, "1999", {1999, 5, 17}},
  };
  uint32_t row = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TMyEdit& f = Show(app::kEditAdd);
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    QTest::mouseClick(f.Country->lineEdit(), Qt::LeftButton);
    QTest::keyClicks(QApplication::focusWidget(), "Peru");
    const int middle = f.PurchDate->height() / 2;
    QTest::mouseClick(f.PurchDate, Qt::LeftButton, {}, QPoint(2, middle));
    QTest::keyClicks(f.PurchDate, c.before);
    const int x = static_cast<int>(f.PurchDate->width() * c.click);
    QTest::mouseClick(f.PurchDate, Qt::LeftButton, {}, QPoint(x, middle));
    QTest::keyClicks(QApplication::focusWidget(), c.typed);
    QTest::mouseClick(f.UpdateExitButton, Qt::LeftButton);
    EXPECT_FALSE(f.isVisible());
    ASSERT_EQ(Rows(), ++row);
    EXPECT_EQ(ReadRow(row).date, c.stored);
    EXPECT_EQ(ReadRow(row).country, "Peru");
  }
}

// ---------------------------------------------------------------------------
// Numbers

TEST_F(EditFormTest, LeavingANumberEditReformatsItAndTheTotalsFollow) {
  TMyEdit& f = Show(app::kEditAdd);
  f.Quantity->setText("2");
  f.QuantityExit();
  f.PurchasePrice->setText("1,234.5");
  f.PurchasePriceExit();
  EXPECT_EQ(f.PurchasePrice->text(), "1234.50");
  EXPECT_EQ(f.TotalPPriceLabel->text(), "2469.00 ");
  // A text that reads as no number stays for Update to report; it counts 0.
  f.MarketValue->setText("abc");
  f.MarketValueExit();
  EXPECT_EQ(f.MarketValue->text(), "abc");
  EXPECT_EQ(f.TotalMValueLabel->text(), "0.00 ");

  // The Windows style groups; the edit shows the whole grouped text even
  // where it is longer than may be typed.
  platform::IntlSettings intl;
  intl.decimal = u',';
  intl.thousand = u'.';
  SetFormats(7, false, 2, 2, intl);
  f.Quantity->setText("12345");
  f.QuantityExit();
  EXPECT_EQ(f.Quantity->text(), "12.345");
  EXPECT_EQ(f.saved_quantity(), "12.345");
  f.PurchasePrice->setText("123456789,5");
  f.PurchasePriceExit();
  EXPECT_EQ(f.PurchasePrice->text(), "123.456.789,50");
}

TEST_F(EditFormTest, UpdateRefusesEachBadNumberWithItsMessageAndFocus) {
  TMyEdit& f = Show(app::kEditAdd);
  f.Country->setEditText("Peru");
  struct Case {
    QLineEdit* edit;
    const char* text;
    const char* message;
  } cases[] = {{f.PurchasePrice, "12.3.4", "Invalid purchase price specified.  Please correct."},
               {f.MarketValue, "ten", "Invalid market value specified.  Please correct."},
               {f.PremiumValue, "1e30",
                "Invalid premium value specified.  Please correct."},  // too large for the field
               {f.Quantity, "2.5", "Invalid quantity specified.  Please correct."}};
  for (const Case& c : cases) {
    const QString before = c.edit->text();
    c.edit->setText(c.text);
    TestPrompts().ExpectMessage("Error", c.message, MsgButton::kOk);
    EXPECT_FALSE(f.DoUpdate()) << c.text;
    EXPECT_EQ(f.focusWidget(), c.edit) << c.text;
    c.edit->setText(before);
  }
  EXPECT_EQ(Rows(), 0u);
  // A refused update leaves the pick lists as they were.
  EXPECT_TRUE(lists().FormList(ListKind::kCountry).isEmpty());
  EXPECT_TRUE(lists().GridList(ListKind::kCountry).isEmpty());
  EXPECT_EQ(state.edit_mode, app::kEditAdd);
}

TEST_F(EditFormTest, WantedStoresQuantityZeroAndClearingItBringsTheQuantityBack) {
  TMyEdit& f = Show(app::kEditAdd);
  f.Quantity->setText("7");
  f.Wanted->click();
  EXPECT_EQ(f.Quantity->text(), "0");
  EXPECT_FALSE(f.Quantity->isEnabled());
  f.Wanted->click();
  EXPECT_EQ(f.Quantity->text(), "7");
  EXPECT_TRUE(f.Quantity->isEnabled());

  f.Wanted->click();
  ASSERT_TRUE(f.DoAnUpdate());
  const Stored s = ReadRow();
  EXPECT_EQ(s.quantity, 0);
  EXPECT_EQ(s.wanted, "Yes");
  EXPECT_EQ(f.Quantity->text(), "0");
  EXPECT_FALSE(f.Quantity->isEnabled());
  f.Wanted->click();
  EXPECT_EQ(f.Quantity->text(), "7");
}

// ---------------------------------------------------------------------------
// Rows written

TEST_F(EditFormTest, UpdateTwiceInAddModeRewritesTheSameRow) {
  TMyEdit& f = Show(app::kEditAdd);
  f.Country->setEditText("Peru");
  ASSERT_TRUE(f.DoAnUpdate());
  f.FaceValue->setText("5 Soles");
  ASSERT_TRUE(f.DoAnUpdate());
  ASSERT_TRUE(f.DoAnUpdate());
  EXPECT_EQ(Rows(), 1u);
  EXPECT_EQ(ReadRow().face_value, "5 Soles");
  // The same through the plain update, which takes no new snapshot.
  f.DoNewRecord();
  f.Country->setEditText("Chile");
  ASSERT_TRUE(f.DoUpdate());
  f.Year->setText("1990");
  ASSERT_TRUE(f.DoUpdate());
  EXPECT_EQ(Rows(), 2u);
  EXPECT_EQ(ReadRow(2).year, "1990");
  EXPECT_EQ(ReadRow(1).country, "Peru");
}

TEST_F(EditFormTest, CopyThenUpdateAddsARowAndLeavesTheCopiedOneAlone) {
  AddRow("Chile", "1 Peso", 2.5);
  table.First();
  TMyEdit& f = Show(app::kEditCopy);
  EXPECT_EQ(f.Country->currentText(), "Chile");
  EXPECT_EQ(f.PurchasePrice->text(), "2.50");
  f.Year->setText("1942");
  ASSERT_TRUE(f.DoUpdateAndExit());
  EXPECT_FALSE(f.isVisible());
  ASSERT_EQ(Rows(), 2u);
  EXPECT_EQ(ReadRow(1).year, "");
  EXPECT_EQ(ReadRow(2).year, "1942");
  EXPECT_EQ(ReadRow(2).country, "Chile");
  EXPECT_DOUBLE_EQ(ReadRow(2).price, 2.5);
}

TEST_F(EditFormTest, CopyRecordAndNewRecordSetTheCaptionAndAskAboutChanges) {
  AddRow("Chile", "1 Peso");
  table.First();
  TMyEdit& f = Show(app::kEditChange);
  f.FaceValue->setText("2 Pesos");
  TestPrompts().ExpectMessage(
      "Warning",
      "Data has changed.  Update this record before creating new one with the current data?",
      MsgButton::kCancel);
  f.DoCopyRecord();
  EXPECT_EQ(f.windowTitle(), "Edit");
  EXPECT_EQ(state.edit_mode, app::kEditChange);

  TestPrompts().ExpectMessage(
      "Warning",
      "Data has changed.  Update this record before creating new one with the current data?",
      MsgButton::kNo);
  f.DoCopyRecord();
  EXPECT_EQ(f.windowTitle(), "Edit (New Copied Record)");
  EXPECT_EQ(state.edit_mode, app::kEditAdd);
  EXPECT_EQ(f.FaceValue->text(), "2 Pesos");
  ASSERT_TRUE(f.DoAnUpdate());
  EXPECT_EQ(Rows(), 2u);
  EXPECT_EQ(ReadRow(1).face_value, "1 Peso");

  f.Year->setText("1990");
  TestPrompts().ExpectMessage(
      "Warning", "Data has changed.  Update this record before creating new one?", MsgButton::kYes);
  f.DoNewRecord();
  EXPECT_EQ(ReadRow(2).year, "1990");
  EXPECT_EQ(f.windowTitle(), "Edit (New Record)");
  EXPECT_EQ(f.Quantity->text(), "1");
  EXPECT_EQ(state.edit_mode, app::kEditAdd);
  const auto asked = TestPrompts().Messages();
  ASSERT_EQ(asked.size(), 3u);
  EXPECT_EQ(asked[2].buttons, platform::MsgButtons::kYesNoCancel);
  EXPECT_EQ(asked[2].default_button, MsgButton::kNo);
  EXPECT_EQ(asked[2].icon, platform::MsgIcon::kQuestion);
  EXPECT_EQ(TestPrompts().beeps(), 3);
}

TEST_F(EditFormTest, PreviousAndNextAskFirstAndStopAtTheEnds) {
  AddRow("Chile", "1 Peso");
  AddRow("Peru", "1 Sol");
  table.First();
  TMyEdit& f = Show(app::kEditChange);
  // On the first row, Previous loads the same row again.
  f.DoPreviousRecord();
  EXPECT_EQ(f.Country->currentText(), "Chile");

  f.FaceValue->setText("changed");
  TestPrompts().ExpectMessage(
      "Warning", "Data has changed.  Update this record before moving to the previous record?",
      MsgButton::kNo);
  f.DoPreviousRecord();
  EXPECT_EQ(f.FaceValue->text(), "1 Peso");  // reloaded, nothing written
  EXPECT_EQ(ReadRow(1).face_value, "1 Peso");

  f.FaceValue->setText("changed");
  TestPrompts().ExpectMessage(
      "Warning", "Data has changed.  Update this record before moving to the next record?",
      MsgButton::kYes);
  f.DoNextRecord();
  EXPECT_EQ(ReadRow(1).face_value, "changed");
  EXPECT_EQ(f.Country->currentText(), "Peru");
  f.DoNextRecord();
  EXPECT_EQ(f.Country->currentText(), "Peru");

  // With a record not written yet, the question says so; Cancel stays.
  f.DoNewRecord();
  TestPrompts().ExpectMessage("Warning",
                              "This record has not been updated yet.  Update this record before "
                              "moving to the previous record?",
                              MsgButton::kCancel);
  f.DoPreviousRecord();
  EXPECT_EQ(state.edit_mode, app::kEditAdd);
  EXPECT_EQ(f.Country->currentText(), "");
  TestPrompts().ExpectMessage(
      "Warning",
      "This record has not been updated yet.  Update this record before moving to the next record?",
      MsgButton::kNo);
  f.DoNextRecord();
  EXPECT_EQ(state.edit_mode, app::kEditChange);
  EXPECT_EQ(Rows(), 2u);
}

TEST_F(EditFormTest, ExitAsksOnlyWhenSomethingChangedBlanksIncluded) {
  AddRow("Chile", "1 Peso");
  table.First();
  TMyEdit& f = Show(app::kEditChange);
  f.DoExit();
  EXPECT_FALSE(f.isVisible());

  Show(app::kEditChange);
  f.Country->setEditText("Chile ");
  TestPrompts().ExpectMessage("Warning", "Data has changed.  Do you want to exit without updating?",
                              MsgButton::kNo);
  f.DoExit();
  EXPECT_TRUE(f.isVisible());
  TestPrompts().ExpectMessage("Warning", "Data has changed.  Do you want to exit without updating?",
                              MsgButton::kYes);
  f.DoExit();
  EXPECT_FALSE(f.isVisible());
  EXPECT_EQ(TestPrompts().Messages()[0].buttons, platform::MsgButtons::kYesNo);
  EXPECT_EQ(TestPrompts().Messages()[0].default_button, MsgButton::kNo);

  // Changing only the blanks is a change, but what is stored is trimmed.
  Show(app::kEditChange);
  f.Country->setEditText("  Chile  ");
  EXPECT_TRUE(f.ValuesChanged());
  ASSERT_TRUE(f.DoAnUpdate());
  EXPECT_EQ(ReadRow().country, "Chile");
}

TEST_F(EditFormTest, BrowseOnlyShowsAndWalksButNeverWritesOrAsks) {
  state.browse_only = true;
  AddRow("Chile", "1 Peso");
  AddRow("Peru", "1 Sol");
  table.First();
  TMyEdit& f = Show(app::kEditChange);
  for (QPushButton* b : {f.UpdateExitButton, f.UpdateButton, f.ClearButton})
    EXPECT_FALSE(b->isEnabled());
  for (QAction* a : {f.MenuNewRecord, f.MenuClearRecord, f.MenuUpdateRecord, f.MenuUpdateAndExit,
                     f.MenuCut, f.MenuCopy, f.MenuPaste, f.MenuDelete, f.MenuLoadDefaults})
    EXPECT_FALSE(a->isEnabled());
  EXPECT_FALSE(f.DefaultsMenu->menuAction()->isEnabled());
  EXPECT_TRUE(f.PrevButton->isEnabled());
  EXPECT_TRUE(f.MenuPrintRecord->isEnabled());

  f.FaceValue->setText("changed");
  f.DoNextRecord();  // no question
  EXPECT_EQ(f.Country->currentText(), "Peru");
  f.FaceValue->setText("changed");
  EXPECT_FALSE(f.DoUpdate());
  f.DoExit();
  EXPECT_FALSE(f.isVisible());
  EXPECT_EQ(ReadRow(2).face_value, "1 Sol");
  EXPECT_TRUE(TestPrompts().asked().empty());
}

// ---------------------------------------------------------------------------
// Rows that cannot be written

TEST_F(EditFormTest, ATextTheCodePageCannotHoldIsRefusedBeforeAnythingIsWritten) {
  TMyEdit& f = Show(app::kEditAdd);
  f.Country->setEditText("Polska");
  f.Description->setText("Złoty");  // "ł" is not in Windows-1252
  TestPrompts().ExpectMessage("Error",
                              L("The %1 field contains a character that cannot be stored in this "
                                "database:  %2.  Please correct.")
                                  .arg("Description", QString::fromUtf8("\"ł\"")),
                              MsgButton::kOk);
  EXPECT_FALSE(f.DoUpdate());
  EXPECT_EQ(f.focusWidget(), f.Description);
  EXPECT_EQ(Rows(), 0u);
  EXPECT_TRUE(lists().FormList(ListKind::kCountry).isEmpty());
  EXPECT_EQ(table.state(), dbf::Table::State::kBrowse);
  // Characters of the code page are stored as typed.
  f.Description->setText("Złote → Zlote, Curaçao");
  TestPrompts().ExpectMessage("Error",
                              L("The %1 field contains a character that cannot be stored in this "
                                "database:  %2.  Please correct.")
                                  .arg("Description", QString::fromUtf8("\"ł\"")),
                              MsgButton::kOk);
  EXPECT_FALSE(f.DoUpdate());
  f.Description->setText(QString::fromUtf8("Curaçao Gulden"));
  ASSERT_TRUE(f.DoUpdate());
  EXPECT_EQ(ReadRow().description, "Curaçao Gulden");
}

TEST_F(EditFormTest, AMiscellaneousTextLongerThanItsFieldIsCutAndShownAsStored) {
  QStringList phrases;
  for (int i = 0; i < 12; ++i)
    phrases.append(QStringLiteral("Phrase number %1").arg(i, 2, 10, QChar(u'0')));
  test::WriteLines(ProgramFile("MISC.LST"), phrases);
  TMyEdit& f = Show(app::kEditAdd);
  QTimer::singleShot(0, [] {
    auto* picker = qobject_cast<TMyMiscellaneous*>(QApplication::activeModalWidget());
    ASSERT_NE(picker, nullptr);
    for (int i = 0; i < picker->MiscList->count(); ++i)
      picker->MiscList->item(i)->setSelected(true);
    picker->OkButtonClick();
  });
  f.MiscSelectClick();
  const QString joined = phrases.join(", ");
  ASSERT_GT(joined.size(), 110);
  ASSERT_TRUE(f.DoAnUpdate());
  const std::string stored = ReadRow().misc;
  EXPECT_EQ(Q(stored), TrimBlanks(joined.left(110)));
  EXPECT_EQ(f.Misc->text(), Q(stored));
  EXPECT_FALSE(f.ValuesChanged());
}

TEST_F(EditFormTest, AFailedPostKeepsTheModeSoARetryNeitherOverwritesNorLoses) {
  // The form's table goes through a file layer that fails on demand.
  base::FaultEnv faults(dbf::Env::Default());
  table.Close();
  dbf::Table faulty(faults);
  faulty.SetDirectory(data_dir());
  faulty.SetTableName("COINS");
  faulty.Open();
  faulty.Append();
  faulty.FieldByName("Country").SetAsString("Chile");
  faulty.Post();

  auto lists = std::make_unique<PickLists>(state.program_dir);
  TMyEdit f(faulty, state, *lists);
  state.edit_mode = app::kEditAdd;
  f.show();
  f.Country->setEditText("Peru");
  faults.FailAt(1);
  TestPrompts().set_strict(false);
  EXPECT_FALSE(f.DoUpdate());
  ASSERT_EQ(TestPrompts().Messages().size(), 1u);
  EXPECT_TRUE(TestPrompts().Messages()[0].text.startsWith("The record could not be saved:  "));
  EXPECT_EQ(state.edit_mode, app::kEditAdd);
  EXPECT_EQ(faulty.state(), dbf::Table::State::kBrowse);
  EXPECT_EQ(f.Country->currentText(), "Peru");
  EXPECT_EQ(Rows(), 1u);

  faults.FailAt(0);
  ASSERT_TRUE(f.DoAnUpdate());
  ASSERT_EQ(Rows(), 2u);
  EXPECT_EQ(ReadRow(1).country, "Chile");
  EXPECT_EQ(ReadRow(2).country, "Peru");

  // In Edit mode the retry changes the same row again.
  f.FaceValue->setText("1 Sol");
  faults.FailAt(1);
  EXPECT_FALSE(f.DoUpdate());
  EXPECT_EQ(state.edit_mode, app::kEditChange);
  faults.FailAt(0);
  ASSERT_TRUE(f.DoUpdate());
  EXPECT_EQ(Rows(), 2u);
  EXPECT_EQ(ReadRow(2).face_value, "1 Sol");
  EXPECT_EQ(ReadRow(1).face_value, "");
  f.hide();
}

// The rows a .DBF file's header counts, read from the file itself, so that
// the count shows even while the index is known to be broken.
uint32_t HeaderCount(const QString& dbf_path) {
  const QByteArray head = test::ReadBytes(dbf_path).left(8);
  if (head.size() < 8) return 0;
  uint32_t n = 0;
  for (int i = 7; i >= 4; --i) n = (n << 8) | static_cast<uint8_t>(head[i]);
  return n;
}

// The Country field (the first) of row recno, read from the file itself.
std::string CountryOf(const QString& dbf_path, uint32_t recno) {
  const QByteArray bytes = test::ReadBytes(dbf_path);
  if (bytes.size() < 12) return {};
  const int header = static_cast<uint8_t>(bytes[8]) | static_cast<uint8_t>(bytes[9]) << 8;
  const int length = static_cast<uint8_t>(bytes[10]) | static_cast<uint8_t>(bytes[11]) << 8;
  const QByteArray field = bytes.mid(header + static_cast<int>(recno - 1) * length + 1, 20);
  return field.trimmed().toStdString();
}

TEST_F(EditFormTest, AWriteFailingAtAnyPointIsReportedAsWhatHappened) {
  TestPrompts().set_strict(false);
  table.Close();
  int fired = 0;
  for (int mode : {app::kEditAdd, app::kEditChange}) {
    for (int n = 1; n < 40; ++n) {
      SCOPED_TRACE(testing::Message() << "mode " << mode << ", fault " << n);
      const QString path = UseDatabase("F" + std::to_string(mode) + "_" + std::to_string(n));
      OpenTable();
      table.AddIndex("NewIndex", "UPPER(COUNTRY)");
      AddRow("Chile", "1 Peso");
      table.Close();

      base::FaultEnv faults(dbf::Env::Default());
      dbf::Table faulty(faults);
      faulty.SetDirectory(data_dir());
      faulty.SetTableName(state.paths.table_name.toStdString());
      faulty.Open();
      faulty.SetIndexName("NewIndex");
      faulty.First();
      PickLists lists(state.program_dir);
      TMyEdit f(faulty, state, lists);
      state.edit_mode = mode;
      f.show();
      f.Country->setEditText("Peru");
      const size_t asked = TestPrompts().Messages().size();
      faults.FailAt(n);
      const bool ok = f.DoUpdate();
      const bool fault = faults.fired();
      faults.FailAt(0);
      const auto messages = TestPrompts().Messages();
      const QString said = messages.size() > asked ? messages.back().text : QString();
      const uint32_t rows = HeaderCount(path);
      const bool adding = mode == app::kEditAdd;
      if (ok) {
        EXPECT_EQ(rows, adding ? 2u : 1u);
        // A row that was written is never reported as not saved.
        EXPECT_FALSE(said.startsWith("The record could not be saved")) << said.toStdString();
        if (!said.isEmpty()) {
          EXPECT_TRUE(said.startsWith("The record was saved")) << said.toStdString();
        }
        EXPECT_EQ(state.edit_mode, app::kEditChange);
      } else {
        EXPECT_EQ(rows, 1u);
        EXPECT_TRUE(said.startsWith("The record could not be saved:  ")) << said.toStdString();
        EXPECT_EQ(state.edit_mode, mode);
        EXPECT_EQ(f.Country->currentText(), "Peru");
        EXPECT_EQ(faulty.state(), dbf::Table::State::kBrowse);
        // A retry adds the one row or changes the one row, or fails again.
        const bool retried = f.DoUpdate();
        EXPECT_EQ(HeaderCount(path), adding && retried ? 2u : 1u);
        if (!adding) {
          EXPECT_EQ(CountryOf(path, 1), retried ? "Peru" : "Chile");
        }
      }
      if (ok) {
        EXPECT_EQ(CountryOf(path, adding ? 2 : 1), "Peru");
      }
      if (adding) {
        EXPECT_EQ(CountryOf(path, 1), "Chile");
      }
      f.hide();
      if (!fault) break;
      ++fired;
    }
  }
  EXPECT_GT(fired, 4);
}

TEST_F(EditFormTest, ARowAnotherCopyIsEditingIsReportedAndNothingIsLost) {
  AddRow("Chile", "1 Peso");
  table.First();
  TMyEdit& f = Show(app::kEditChange);
  auto other = OpenOther();
  other->First();
  other->Edit();  // the other copy holds the row
  other->FieldByName("Year").SetAsString("1950");

  f.FaceValue->setText("2 Pesos");
  TestPrompts().ExpectMessage(
      "Error",
      "This record is being changed by another user.  Your changes have not been saved; they are "
      "still shown so that you can update again later.",
      MsgButton::kOk);
  EXPECT_FALSE(f.DoUpdate());
  EXPECT_EQ(f.FaceValue->text(), "2 Pesos");
  EXPECT_EQ(state.edit_mode, app::kEditChange);

  other->Post();
  ASSERT_TRUE(f.DoAnUpdate());
  EXPECT_EQ(f.Year->text(), "1950");
  const Stored s = ReadRow();
  EXPECT_EQ(s.face_value, "2 Pesos");
  // The other copy's change to a field the form did not touch survives, and
  // the form now shows it.
  EXPECT_EQ(s.year, "1950");
  EXPECT_EQ(Rows(), 1u);
}

TEST_F(EditFormTest, UpdateStoresWhatTheFormShowsForFieldsLeftAloneToo) {
  // Rows as other software may leave them: blanks before a text, a Wanted
  // row with a quantity, "yes" in the wrong case, an empty Approx.
  table.Append();
  table.FieldByName("Country").SetAsString("  Chile");
  table.FieldByName("Quantity").SetAsInteger(5);
  table.FieldByName("Wanted").SetAsString("Yes");
  table.Post();
  table.Append();
  table.FieldByName("Country").SetAsString("Peru");
  table.FieldByName("Quantity").SetAsInteger(5);
  table.FieldByName("Wanted").SetAsString("yes");
  table.Post();
  table.First();

  TMyEdit& f = Show(app::kEditChange);
  EXPECT_TRUE(f.Wanted->isChecked());
  EXPECT_EQ(f.Quantity->text(), "0");
  f.Year->setText("1950");
  ASSERT_TRUE(f.DoAnUpdate());
  Stored s = ReadRow(1);
  EXPECT_EQ(s.country, "Chile");
  EXPECT_EQ(s.quantity, 0);
  EXPECT_EQ(s.wanted, "Yes");
  EXPECT_EQ(s.approx, "No");
  EXPECT_EQ(f.Country->currentText(), "Chile");

  f.DoNextRecord();
  EXPECT_FALSE(f.Wanted->isChecked());  // only "Yes" ticks the box
  EXPECT_EQ(f.Quantity->text(), "5");
  ASSERT_TRUE(f.DoAnUpdate());
  s = ReadRow(2);
  EXPECT_EQ(s.wanted, "No");
  EXPECT_EQ(s.approx, "No");
  EXPECT_EQ(s.quantity, 5);
  EXPECT_FALSE(f.ValuesChanged());
}

TEST_F(EditFormTest, UpdateKeepsWhatAnotherCopyChangedInFieldsLeftAlone) {
  AddRow("Chile", "1 Peso", 2.5);
  table.First();
  TMyEdit& f = Show(app::kEditChange);
  f.Quantity->setText("3");
  ASSERT_TRUE(f.DoAnUpdate());
  auto other = OpenOther();
  auto change = [&](const std::function<void(dbf::Table&)>& fn) {
    other->Refresh();
    other->First();
    other->Edit();
    fn(*other);
    other->Post();
  };

  change([](dbf::Table& t) {
    t.FieldByName("Year").SetAsString("1950");
    t.FieldByName("PurchasePr").SetAsFloat(9);
  });
  f.FaceValue->setText("2 Pesos");
  f.PurchasePrice->setText("3");  // changed here too: this copy's value wins
  ASSERT_TRUE(f.DoAnUpdate());
  Stored s = ReadRow();
  EXPECT_EQ(s.face_value, "2 Pesos");
  EXPECT_EQ(s.year, "1950");
  EXPECT_DOUBLE_EQ(s.price, 3);
  EXPECT_EQ(f.Year->text(), "1950");  // the form shows the row as stored

  // Quantity and Wanted go together: the other copy ticked Wanted, this one
  // changes the quantity, and the row stays a consistent pair.
  change([](dbf::Table& t) {
    t.FieldByName("Wanted").SetAsString("Yes");
    t.FieldByName("Quantity").SetAsInteger(0);
  });
  f.Quantity->setText("4");
  ASSERT_TRUE(f.DoAnUpdate());
  s = ReadRow();
  EXPECT_EQ(s.quantity, 4);
  EXPECT_EQ(s.wanted, "No");
  EXPECT_FALSE(f.Wanted->isChecked());

  // Left alone here, the other copy's Wanted survives, quantity 0 with it.
  change([](dbf::Table& t) {
    t.FieldByName("Wanted").SetAsString("Yes");
    t.FieldByName("Quantity").SetAsInteger(0);
  });
  f.Description->setText("Condor");
  ASSERT_TRUE(f.DoAnUpdate());
  s = ReadRow();
  EXPECT_EQ(s.wanted, "Yes");
  EXPECT_EQ(s.quantity, 0);
  EXPECT_EQ(s.description, "Condor");
  EXPECT_TRUE(f.Wanted->isChecked());
  EXPECT_EQ(f.Quantity->text(), "0");
  EXPECT_FALSE(f.Quantity->isEnabled());
  EXPECT_EQ(Rows(), 1u);
}

TEST_F(EditFormTest, UpdateChangesTheLoadedRowOrNoneWhereverTheCursorWent) {
  AddRow("Chile", "1 Peso");
  AddRow("Peru", "1 Sol");
  AddRow("Bolivia", "1 Boliviano");
  table.First();
  TMyEdit& f = Show(app::kEditChange);
  // The main window's grid reads rows through the same cursor.
  table.Next();
  f.FaceValue->setText("2 Pesos");
  ASSERT_TRUE(f.DoAnUpdate());
  EXPECT_EQ(ReadRow(1).face_value, "2 Pesos");
  EXPECT_EQ(ReadRow(2).face_value, "1 Sol");

  // Another copy deletes the row being edited.
  auto other = OpenOther();
  other->First();
  other->Delete();
  f.FaceValue->setText("3 Pesos");
  TestPrompts().ExpectMessage(
      "Error",
      "This record has been deleted by another user.  Your changes have not been saved; they are "
      "still shown, so that Copy Record and Update can save them as a new record.",
      MsgButton::kOk);
  EXPECT_FALSE(f.DoUpdate());
  // ... also when the cursor was moved on to a row that is there.
  table.Next();
  TestPrompts().ExpectMessage(
      "Error",
      "This record has been deleted by another user.  Your changes have not been saved; they are "
      "still shown, so that Copy Record and Update can save them as a new record.",
      MsgButton::kOk);
  EXPECT_FALSE(f.DoUpdate());
  EXPECT_EQ(ReadRow(2).face_value, "1 Sol");
  EXPECT_EQ(ReadRow(3).face_value, "1 Boliviano");
  EXPECT_EQ(Rows(), 2u);
  EXPECT_EQ(state.edit_mode, app::kEditChange);

  // Nothing typed is lost: Copy Record and Update save it as a new row.
  TestPrompts().ExpectMessage(
      "Warning",
      "Data has changed.  Update this record before creating new one with the current data?",
      MsgButton::kNo);
  f.DoCopyRecord();
  ASSERT_TRUE(f.DoAnUpdate());
  EXPECT_EQ(Rows(), 3u);
  const Stored s = ReadRow(4);
  EXPECT_EQ(s.country, "Chile");
  EXPECT_EQ(s.face_value, "3 Pesos");
}

// ---------------------------------------------------------------------------
// Pick lists, defaults, the picker

TEST_F(EditFormTest, UpdateAddsTypedValuesToBothListsCaseSensitively) {
  test::WriteLines(ProgramFile("COUNTRY.LST"), {"FRANCE", "Peru"});
  TMyEdit& f = Show(app::kEditAdd);
  EXPECT_EQ(lists().FormList(ListKind::kCountry), QStringList({"FRANCE", "Peru"}));
  f.Country->setEditText("France");
  f.Topic->setEditText("  Ships ");
  ASSERT_TRUE(f.DoAnUpdate());
  EXPECT_EQ(lists().FormList(ListKind::kCountry), QStringList({"FRANCE", "Peru", "France"}));
  EXPECT_EQ(lists().GridList(ListKind::kCountry), QStringList({"FRANCE", "Peru", "France"}));
  EXPECT_EQ(lists().FormList(ListKind::kTopic), QStringList({"Ships"}));
  EXPECT_TRUE(lists().FormList(ListKind::kCondition).isEmpty());  // empty texts never join

  f.DoNewRecord();
  f.Country->setEditText(" France ");
  ASSERT_TRUE(f.DoAnUpdate());
  EXPECT_EQ(lists().FormList(ListKind::kCountry).size(), 3);
  // Closing saves the lists to the database's files.
  f.DoExit();
  EXPECT_EQ(test::ReadBytes(DataFile("COINS.001")), "FRANCE\r\nPeru\r\nFrance\r\n");
  EXPECT_EQ(test::ReadBytes(DataFile("COINS.002")), "Ships\r\n");
}

TEST_F(EditFormTest, DefaultsApplyWhenAskedAndAreSharedByAllDatabases) {
  TMyEdit& f = Show(app::kEditAdd);
  Fill(f);
  f.PurchasePrice->setText("12.50");
  f.Wanted->click();
  f.MenuSaveDefaults->trigger();
  EXPECT_EQ(state.settings.defaults.quantity, "0");
  EXPECT_TRUE(state.settings.defaults.wanted);
  EXPECT_EQ(state.settings.defaults.country, "  Peru ");  // as the control showed it

  // Both switches off: Add and Clear give the blank record.
  f.DoClear(2);
  EXPECT_EQ(f.Country->currentText(), "");
  EXPECT_EQ(f.Quantity->text(), "1");
  f.MenuLoadDefaults->trigger();
  EXPECT_EQ(f.Country->currentText(), "  Peru ");
  EXPECT_EQ(f.PurchasePrice->text(), "12.50");
  EXPECT_TRUE(f.Wanted->isChecked());
  EXPECT_FALSE(f.Quantity->isEnabled());

  // The set was written to the program settings file, which every database
  // reads: another database opened afresh starts from the same defaults.
  app::AppState second;
  second.files = state.files;
  app::ReadSettings(second.settings, app::kProgramSettings, second.files, QString());
  EXPECT_EQ(second.settings.defaults, state.settings.defaults);

  f.MenuLoadWithAdd->trigger();
  EXPECT_TRUE(state.settings.defaults.load_with_add);
  f.hide();
  UseDatabase("OTHER");
  OpenTable();
  TMyEdit& g = Show(app::kEditAdd);
  EXPECT_EQ(g.Country->currentText(), "  Peru ");
  EXPECT_EQ(g.Description->text(), "Llama");
  // Edit never applies defaults, and a cleared form is blank while only the
  // Add switch is on.
  g.DoClear(2);
  EXPECT_EQ(g.Description->text(), "");
}

TEST_F(EditFormTest, TheSwitchesAreTickedAtCreationAndReachTheFileAtItsNextSaving) {
  state.settings.defaults.load_with_clear = true;
  TMyEdit& f = Show(app::kEditAdd);
  EXPECT_TRUE(f.MenuLoadWithClear->isChecked());
  EXPECT_FALSE(f.MenuLoadWithAdd->isChecked());
  auto stored = [this] {
    app::Settings read;
    app::ReadSettings(read, app::kProgramSettings, state.files, QString());
    return read.defaults;
  };

  f.PurchDate->setText("05/07/1997");
  f.Quantity->setText("2");
  f.MenuSaveDefaults->trigger();
  EXPECT_TRUE(stored().load_with_clear);
  EXPECT_EQ(stored().purchase_date, "05/07/1997");
  EXPECT_EQ(stored().quantity, "2");

  // A toggled switch waits for the next saving of the file.
  f.MenuLoadWithClear->trigger();
  EXPECT_FALSE(state.settings.defaults.load_with_clear);
  EXPECT_TRUE(stored().load_with_clear);
  f.MenuLoadWithClear->trigger();

  // Clear now loads the defaults, the date included, and Update stores them.
  f.PurchDate->clear();
  f.Quantity->setText("9");
  f.DoClear(2);
  EXPECT_EQ(f.DateText(), "05/07/1997");
  EXPECT_EQ(f.Quantity->text(), "2");
  ASSERT_TRUE(f.DoAnUpdate());
  EXPECT_EQ(ReadRow().date, (dbf::Date{1997, 5, 7}));
  EXPECT_EQ(ReadRow().quantity, 2);

  f.MenuLoadWithClear->trigger();
  f.MenuSaveDefaults->trigger();
  EXPECT_FALSE(stored().load_with_clear);
}

TEST_F(EditFormTest, MiscellaneousPickerRoundTrip) {
  test::WriteLines(ProgramFile("MISC.LST"), {"Proof", "holed", "  ", "Cleaned"});
  TMyEdit& f = Show(app::kEditAdd);
  f.Misc->setText("Proof, Error coin");
  QStringList items, selected;
  QTimer::singleShot(0, [&] {
    auto* picker = qobject_cast<TMyMiscellaneous*>(QApplication::activeModalWidget());
    ASSERT_NE(picker, nullptr);
    EXPECT_EQ(picker->windowTitle(), "Miscellaneous");
    items = picker->Items();
    selected = picker->SelectedItems();
    picker->OkButtonClick();
  });
  f.MiscSelectClick();
  EXPECT_EQ(items, QStringList({"Cleaned", "Error coin", "holed", "Proof"}));
  EXPECT_EQ(selected, QStringList({"Error coin", "Proof"}));
  EXPECT_EQ(f.Misc->text(), "Error coin, Proof");
  // The phrase added for the showing is not written to MISC.LST.
  EXPECT_EQ(test::ReadBytes(ProgramFile("MISC.LST")), "Proof\r\nholed\r\n  \r\nCleaned\r\n");

  QTimer::singleShot(0, [&] {
    auto* picker = qobject_cast<TMyMiscellaneous*>(QApplication::activeModalWidget());
    ASSERT_NE(picker, nullptr);
    picker->MiscList->item(0)->setSelected(true);
    picker->CancelButtonClick();
  });
  f.MiscSelectClick();
  EXPECT_EQ(f.Misc->text(), "Error coin, Proof");
}

TEST(MiscTextTest, SplitsAtCommasTrimmingWhatFollowsEachComma) {
  EXPECT_EQ(SplitMiscText("Proof, Error coin"), QStringList({"Proof", "Error coin"}));
  EXPECT_EQ(SplitMiscText("Proof ,  Holed ,Cleaned  "),
            QStringList({"Proof ", "Holed ", "Cleaned"}));
  EXPECT_EQ(SplitMiscText("a,, b,"), QStringList({"a", "b"}));
  EXPECT_TRUE(SplitMiscText("").isEmpty());
  EXPECT_EQ(JoinMiscText({"a", "b", "c"}), "a, b, c");
  EXPECT_EQ(JoinMiscText({}), "");
}

// ---------------------------------------------------------------------------
// Keys, clipboard, printing

TEST_F(EditFormTest, EnterMovesAlongTheRingPassingOverADisabledQuantity) {
  TMyEdit& f = Show(app::kEditAdd);
  f.activateWindow();
  f.Country->setFocus();
  QTest::keyClick(f.Country->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(f.focusWidget(), f.FaceValue);
  QTest::keyClick(f.FaceValue, Qt::Key_Enter);
  EXPECT_EQ(f.focusWidget(), f.Year);
  f.Wanted->click();
  f.UserDef[3]->setFocus();
  QTest::keyClick(f.UserDef[3], Qt::Key_Return);
  EXPECT_EQ(f.focusWidget(), f.PurchasePrice);
  f.PremiumValue->setFocus();
  QTest::keyClick(f.PremiumValue, Qt::Key_Return);
  EXPECT_EQ(f.focusWidget(), f.Country);
  EXPECT_TRUE(f.isVisible());
  EXPECT_EQ(Rows(), 0u);
}

TEST_F(EditFormTest, ClipboardCommandsWorkOnPlainEditsAndCombosOnly) {
  TMyEdit& f = Show(app::kEditAdd);
  f.FaceValue->setText("5 Soles");
  f.FaceValue->setFocus();
  f.FaceValue->selectAll();
  f.MenuCut->trigger();
  EXPECT_EQ(f.FaceValue->text(), "");
  f.Country->setFocus();
  f.MenuPaste->trigger();
  EXPECT_EQ(f.Country->currentText(), "5 Soles");
  f.Country->lineEdit()->setSelection(0, 2);
  f.MenuDelete->trigger();
  EXPECT_EQ(f.Country->currentText(), "Soles");
  f.PurchDate->setFocus();
  f.MenuPaste->trigger();  // the date control is a masked edit: nothing
  EXPECT_EQ(f.DateText(), "  /  /    ");
}

TEST_F(EditFormTest, TheFormsShortcutsWinOverTheEditsOwnKeys) {
  TMyEdit& f = Show(app::kEditAdd);
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  f.FaceValue->setFocus();
  f.FaceValue->setText("5 Soles");
  // Ctrl+A is "Load Defaults With Add" here, not select-all.
  QTest::keyClick(f.FaceValue, Qt::Key_A, Qt::ControlModifier);
  EXPECT_TRUE(f.MenuLoadWithAdd->isChecked());
  EXPECT_TRUE(state.settings.defaults.load_with_add);
  EXPECT_FALSE(f.FaceValue->hasSelectedText());
  QTest::keyClick(f.FaceValue, Qt::Key_A, Qt::ControlModifier);
  EXPECT_FALSE(state.settings.defaults.load_with_add);
  // Ctrl+D deletes the selection through the Edit menu.
  f.FaceValue->setSelection(0, 2);
  QTest::keyClick(f.FaceValue, Qt::Key_D, Qt::ControlModifier);
  EXPECT_EQ(f.FaceValue->text(), "Soles");
  // Ctrl+R updates, Ctrl+L clears, from inside an edit.
  f.Country->setFocus();
  f.Country->setEditText("Peru");
  QTest::keyClick(f.Country->lineEdit(), Qt::Key_R, Qt::ControlModifier);
  EXPECT_EQ(Rows(), 1u);
  EXPECT_EQ(state.edit_mode, app::kEditChange);
  QTest::keyClick(f.Country->lineEdit(), Qt::Key_L, Qt::ControlModifier);
  EXPECT_EQ(f.Country->currentText(), "");
  EXPECT_EQ(f.Quantity->text(), "1");
  // Clearing the row loaded after the update is a change Next asks about.
  TestPrompts().ExpectMessage(
      "Warning", "Data has changed.  Update this record before moving to the next record?",
      MsgButton::kCancel);
  QTest::keyClick(f.Country->lineEdit(), Qt::Key_N, Qt::ControlModifier);
  EXPECT_EQ(f.Quantity->text(), "1");
}

TEST_F(EditFormTest, HelpOpensTheHelpFileAtInputWindow) {
  ASSERT_TRUE(
      QFile::copy(Q(std::string(KLV_DATA_DIR) + "/KLVCOIN.HLP"), ProgramFile("KLVCOIN.HLP")));
  const QByteArray home = qgetenv("KLVCOIN_HOME");
  qputenv("KLVCOIN_HOME", state.program_dir.toUtf8());
  TMyEdit& f = Show(app::kEditAdd);
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  f.Year->setFocus();
  QTest::keyClick(f.Year, Qt::Key_H, Qt::ControlModifier);
  auto* help = f.findChild<platform::HelpWindow*>();
  ASSERT_NE(help, nullptr);
  EXPECT_EQ(help->current_keyword(), "Input Window");
  EXPECT_FALSE(help->showing_contents());
  help->close();
  if (home.isNull()) {
    qunsetenv("KLVCOIN_HOME");
  } else {
    qputenv("KLVCOIN_HOME", home);
  }
}

TEST_F(EditFormTest, PrintRecordPrintsWhatTheControlsShowOnTheChosenPrinter) {
  TMyEdit& f = Show(app::kEditAdd);
  Fill(f);
  f.Country->setEditText("Peru");
  const QString pdf = DataFile("record.pdf");
  TestPrompts().AnswerPrint(false);
  f.DoPrintRecord();
  EXPECT_FALSE(QFile::exists(pdf));

  TestPrompts().AnswerPrint(true, [&](QPrinter& printer) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    printer.setCopyCount(2);
  });
  f.DoPrintRecord();
  ASSERT_TRUE(QFile::exists(pdf));
  const QString pdftotext = QStandardPaths::findExecutable("pdftotext");
  if (pdftotext.isEmpty()) GTEST_SKIP() << "pdftotext is not installed";
  QProcess p;
  p.start(pdftotext, {pdf, "-"});
  ASSERT_TRUE(p.waitForFinished());
  const QString text = QString::fromUtf8(p.readAllStandardOutput());
  EXPECT_EQ(text.count("Country: Peru"), 2) << text.toStdString();  // two copies
  EXPECT_TRUE(text.contains("Approx Year: Yes"));
  EXPECT_TRUE(text.contains("Wanted: No"));
  EXPECT_TRUE(text.contains("User Defined 4: user 4"));
}

}  // namespace
}  // namespace klv::edit
