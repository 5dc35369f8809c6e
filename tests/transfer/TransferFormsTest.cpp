// The export form, the import format dialog and the import form on real
// coin tables, driven as a user would through their handlers, with every
// message checked as the user reads it; and the main window's Export and
// Import as the program wires them.
#include <QApplication>
#include <QCheckBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "app/OpenDatabase.h"
#include "program/Program.h"
#include "support/QtText.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"
#include "transfer/Export1.h"
#include "transfer/Imp1.h"
#include "transfer/Import1.h"
#include "transfer/TransferRows.h"

namespace klv::transfer {
namespace {

using klv::test::Q;
using klv::test::ReadFileBytes;
using klv::test::TestPrompts;
using klv::test::WriteFileBytes;
using platform::MsgButton;

class TransferFormTest : public ::testing::Test {
 protected:
  TransferFormTest() {
    state_.program_dir = Q(dir_.path());
    state_.windows_dir = Q(dir_.path());
    state_.files.program_ini = Q(dir_.File("KLVCOIN.INI"));
    state_.files.start_dir = Q(dir_.path());
    test::WriteCoinTable(dir_.File("COINS.DBF"), test::AwkwardRows());
    db_.OpenAtStart(Q(dir_.File("COINS.DBF")));
  }

  // Runs check on the modal form of type T once it shows.
  template <class T>
  static void WhenShown(bool& seen, std::function<void(T&)> check) {
    QTimer::singleShot(0, [&seen, check] {
      auto* form = qobject_cast<T*>(QApplication::activeModalWidget());
      ASSERT_NE(form, nullptr);
      seen = true;
      check(*form);
    });
  }

  klv::test::TempDir dir_;
  app::AppState state_;
  app::OpenDatabase db_{state_};
};

TEST_F(TransferFormTest, EveryFormTakesTheUserFonts) {
  WriteFileBytes(dir_.File("in.txt"), "\"Land\",\"Era\"\r\n\"Chile\",\"1900\"\r\n");
  state_.fonts.label = QFont(QStringLiteral("DejaVu Serif"));
  state_.fonts.edit = QFont(QStringLiteral("DejaVu Sans Mono"));
  state_.fonts.button = QFont(QStringLiteral("DejaVu Sans"));
  state_.fonts.button.setItalic(true);
  std::vector<std::unique_ptr<QDialog>> forms;
  forms.push_back(std::make_unique<TMyExport>(db_));
  forms.push_back(std::make_unique<TImportFormat>(db_));
  forms.push_back(std::make_unique<TMyImport>(db_, SourceKind::kAscii, Q(dir_.File("in.txt"))));
  for (const auto& form : forms) {
    SCOPED_TRACE(form->metaObject()->className());
    form->show();
    int checked = 0;
    for (QPushButton* b : form->findChildren<QPushButton*>()) {
      EXPECT_EQ(b->font().family(), "DejaVu Sans") << b->text().toStdString();
      EXPECT_TRUE(b->font().italic()) << b->text().toStdString();
      ++checked;
    }
    for (QAbstractButton* b : form->findChildren<QAbstractButton*>()) {
      if (!qobject_cast<QRadioButton*>(b) && !qobject_cast<QCheckBox*>(b)) continue;
      EXPECT_EQ(b->font().family(), "DejaVu Serif") << b->text().toStdString();
      ++checked;
    }
    for (QTableWidget* g : form->findChildren<QTableWidget*>()) {
      EXPECT_EQ(g->font().family(), "DejaVu Sans Mono");
      ++checked;
    }
    EXPECT_GT(checked, 1);
    form->hide();
  }
}

TEST_F(TransferFormTest, ExportFormEndToEnd) {
  TMyExport form(db_);
  form.show();
  EXPECT_EQ(form.windowTitle(), "Export");
  EXPECT_EQ(form.ExportGrid->rowCount(), 21);
  EXPECT_EQ(form.ExportGrid->item(0, 0)->text(), "FIELD");
  EXPECT_EQ(form.ExportGrid->item(0, 1)->text(), "EXPORT IT");
  EXPECT_EQ(form.ExportGrid->columnWidth(0), 200);
  EXPECT_EQ(form.ExportGrid->item(1, 0)->text(), state_.settings.field_names[db::kCountry]);
  EXPECT_FALSE(form.ExportSearch->isEnabled());
  EXPECT_TRUE(form.ExportEntire->isChecked());
  EXPECT_TRUE(form.AsciiFile->isChecked());

  // Everything off: nothing to export.
  for (int r = 1; r <= 20; ++r) form.ExportGridDblClick(r, 1);
  EXPECT_EQ(form.ExportGrid->item(5, 1)->text(), "No");
  TestPrompts().ExpectMessage("Error", "No fields selected for export.", MsgButton::kOk);
  form.StartExportButtonClick();
  TestPrompts().ExpectMessage("Re-Order",
                              "This will set the order of fields to the program defaults.  "
                              "Continue?",
                              MsgButton::kYes);
  form.DefaultsButtonClick();
  EXPECT_EQ(form.ExportGrid->item(5, 1)->text(), "Yes");

  // Topic to the top, only it and Country out.
  form.ExportGrid->setCurrentCell(db::kTopic, 0);
  for (int i = 0; i < 8; ++i) form.UpButtonClick();
  EXPECT_EQ(form.ExportGrid->currentRow(), 1);
  for (int r = 3; r <= 20; ++r) form.ExportGridDblClick(r, 1);
  form.DBaseFile->click();
  EXPECT_TRUE(form.FirstRow->isHidden());
  TestPrompts().AnswerSaveFile(Q(dir_.File("out.txt")));
  TestPrompts().ExpectMessage("Error", "Invalid file type selected.", MsgButton::kOk);
  form.StartExportButtonClick();
  EXPECT_EQ(TestPrompts().asked()[2].file.filter, "DBase (*.DBF)|*.DBF");

  form.AsciiFile->click();
  TestPrompts().AnswerSaveFile(Q(dir_.File("out.txt")));
  TestPrompts().ExpectMessage("Ok", "Export Complete.", MsgButton::kOk);
  form.StartExportButtonClick();
  EXPECT_FALSE(form.isVisible());
  const platform::FileDialogRequest asked = TestPrompts().asked()[4].file;
  EXPECT_EQ(asked.title, "Export Data");
  EXPECT_EQ(asked.filter, "Ascii Delimited Text (*.TXT)|*.TXT");
  EXPECT_TRUE(asked.overwrite_prompt);
  EXPECT_EQ(ReadFileBytes(dir_.File("out.txt")),
            "\"Topic\",\"Country\"\r\n\"\",\"\"\r\n\"\",\"Peru\"\r\n"
            "\"Ships, sails\",\"C\xF4te d'Ivoire\"\r\n");
  EXPECT_EQ(state_.settings.export_order[db::kTopic], 1);
  EXPECT_FALSE(state_.settings.export_fields[db::kYear]);
  EXPECT_EQ(state_.settings.export_file_type, 1);
  EXPECT_EQ(form.MyGauge->value(), 0);
}

TEST_F(TransferFormTest, ImportFormsLineUpAndImport) {
  WriteFileBytes(dir_.File("in.txt"),
                 "\"Land\",\"Era\",\"Land\"\r\n\"Chile\",\"1900\",\"x\"\r\n\r\n\"Cuba\",\"1950\","
                 "\"Cuba\"\r\n");
  test::WriteCoinTable(dir_.File("EMPTY.DBF"), {});
  db_.Close();
  db_.OpenAtStart(Q(dir_.File("EMPTY.DBF")));
  db_.MyTable().SetIndexName("");
  TImportFormat format(db_);
  bool seen = false;
  WhenShown<TImportFormat>(seen, [&](TImportFormat& f) {
    EXPECT_EQ(f.windowTitle(), "Import Format");
    EXPECT_TRUE(f.AsciiDelimited->isChecked());
    bool import_seen = false;
    WhenShown<TMyImport>(import_seen, [&](TMyImport& m) {
      EXPECT_EQ(m.windowTitle(), "Ascii Delimited Text Import");
      QTableWidget& g = *m.ImportGrid;
      EXPECT_EQ(g.rowCount(), 21);
      EXPECT_EQ(g.item(0, 0)->text(), "KOLVANE FIELDS");
      EXPECT_EQ(g.item(0, 2)->text(), "USE");
      EXPECT_EQ(g.item(2, 1)->text(), "Era");
      EXPECT_EQ(g.item(4, 1)->text(), "<EMPTY>");
      EXPECT_EQ(g.item(4, 2)->text(), "");
      EXPECT_EQ(g.columnWidth(2), 38);
      // Era lined up with Year (row 3); Skip First drops the names.
      g.setCurrentCell(2, 1);
      m.DownButtonClick();
      EXPECT_EQ(g.item(3, 1)->text(), "Era");
      EXPECT_EQ(g.item(3, 0)->text(), state_.settings.field_names[db::kYear]);
      EXPECT_TRUE(m.SkipFirst->isChecked());
      TestPrompts().ExpectMessage("Ok", "Import Complete.", MsgButton::kOk);
      m.StartButtonClick();
      EXPECT_EQ(m.count(), 2u);
      EXPECT_EQ(m.CountPosition(), QPoint(540, 96));
    });
    TestPrompts().AnswerOpenFile(Q(dir_.File("in.txt")));
    f.FileButtonClick();
    EXPECT_TRUE(import_seen);
    EXPECT_FALSE(f.isVisible());
  });
  format.exec();
  EXPECT_TRUE(seen);
  const platform::FileDialogRequest asked = TestPrompts().asked()[0].file;
  EXPECT_EQ(asked.filter, "Ascii Delimited Text (*.TXT)|*.TXT");
  EXPECT_TRUE(asked.file_must_exist);
  const std::vector<test::Row> rows = test::RowsOf(db_.MyTable());
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][0], "x");  // both Land values go to the first row named Land
  EXPECT_EQ(rows[0][2], "1900");
  EXPECT_EQ(rows[1][0], "Cuba");
}

TEST_F(TransferFormTest, FirstLineProblemsAndTheDBaseSource) {
  struct Case {
    std::string bytes;
    const char* ending;
  } cases[] = {
      {"\"" + std::string(256, 'x') + "\"\r\n",
       "The selected file has a field that is greater than 255 characters."},
      {"\"a\",b\r\n",
       "The selected file had an unexpected end of a line most likely due to an unmatched "
       "quote."},
  };
  for (const Case& c : cases) {
    WriteFileBytes(dir_.File("bad.txt"), c.bytes);
    TImportFormat format(db_);
    format.show();
    TestPrompts().AnswerOpenFile(Q(dir_.File("bad.txt")));
    TestPrompts().ExpectMessage(
        "Error",
        QStringLiteral("The file selected does not appear to be an ASCII delimited text file.  "
                       "An ASCII delimited file requires a unique format of each field being "
                       "surrounded by double quotes and separated by a comma.  ") +
            c.ending,
        MsgButton::kOk);
    format.FileButtonClick();
    EXPECT_TRUE(format.isVisible());
  }

  TImportFormat format(db_);
  format.show();
  format.DBFFormat->click();
  TestPrompts().AnswerOpenFile(Q(dir_.File("in.txt")));
  TestPrompts().ExpectMessage("Error", "Invalid file type selected.", MsgButton::kOk);
  format.FileButtonClick();
  EXPECT_EQ(TestPrompts().asked().back().caption, "Error");
  EXPECT_EQ(TestPrompts().asked()[TestPrompts().asked().size() - 2].file.filter,
            "DBase  (*.DBF)|*.DBF");
  // A table of the coin table's fields lines up row for row.
  bool seen = false;
  WhenShown<TMyImport>(seen, [&](TMyImport& m) {
    EXPECT_EQ(m.windowTitle(), "DBase File Import");
    EXPECT_TRUE(m.SkipFirst->isHidden());
    EXPECT_EQ(m.ImportGrid->item(20, 1)->text(), "USERDEF4");
    TestPrompts().ExpectMessage("Ok", "Import Complete.", MsgButton::kOk);
    m.StartButtonClick();
  });
  TestPrompts().AnswerOpenFile(Q(dir_.File("COINS.DBF")));
  format.FileButtonClick();
  EXPECT_TRUE(seen);
  format.close();
  EXPECT_EQ(state_.settings.import_file_type, 2);
  db_.MyTable().SetIndexName("");
  const std::vector<test::Row> rows = test::RowsOf(db_.MyTable());
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(std::vector<test::Row>(rows.begin() + 3, rows.end()), test::AwkwardRows());
}

TEST_F(TransferFormTest, TheProgramOffersExportAndImport) {
  klv::test::TempDir home, windir, lists;
  klv::test::ProgramDirsInEnvironment dirs(home, windir);
  program::Program p(Q(lists.path()));
  app::StartOptions o;
  o.screen = QSize(1280, 1024);
  TestPrompts().set_strict(false);
  ASSERT_TRUE(p.Start(o));
  EXPECT_TRUE(p.main().CommandAvailable(app::TMain::kExport));
  EXPECT_TRUE(p.main().CommandAvailable(app::TMain::kImport));
  EXPECT_TRUE(p.main().CommandSpeed(app::TMain::kImport)->isEnabled());
  p.main().close();
}

}  // namespace
}  // namespace klv::transfer
