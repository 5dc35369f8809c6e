// The prompts service: button-set rules shared by every implementation, the
// scripted double the form tests rely on, and the Qt dialogs on the offscreen
// platform.
#include <functional>
#include <vector>

#include <QApplication>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPrinter>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "platform/Prompts.h"
#include "platform/QtPrompts.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"

namespace klv::platform {
namespace {

using test::PromptKind;
using test::ScriptedPrompts;

TEST(MsgButtonsTest, DefaultButtonFallsBackToFirstOfSet) {
  EXPECT_EQ(EffectiveDefault(MsgButtons::kYesNo, MsgButton::kNo), MsgButton::kNo);
  EXPECT_EQ(EffectiveDefault(MsgButtons::kYesNo, MsgButton::kNone), MsgButton::kYes);
  // A default the box does not have must not become the answer to Enter.
  EXPECT_EQ(EffectiveDefault(MsgButtons::kOk, MsgButton::kNo), MsgButton::kOk);
  EXPECT_EQ(EffectiveDefault(MsgButtons::kAbortRetryIgnore, MsgButton::kIgnore),
            MsgButton::kIgnore);
}

TEST(MsgButtonsTest, DismissingNeverAnswersYesOrOk) {
  EXPECT_EQ(DismissAnswer(MsgButtons::kOk), MsgButton::kOk);
  EXPECT_EQ(DismissAnswer(MsgButtons::kOkCancel), MsgButton::kCancel);
  EXPECT_EQ(DismissAnswer(MsgButtons::kYesNo), MsgButton::kNo);
  EXPECT_EQ(DismissAnswer(MsgButtons::kYesNoCancel), MsgButton::kCancel);
  EXPECT_EQ(DismissAnswer(MsgButtons::kRetryCancel), MsgButton::kCancel);
  EXPECT_EQ(DismissAnswer(MsgButtons::kAbortRetryIgnore), MsgButton::kAbort);
}

TEST(PromptsServiceTest, TestMainInstallsTheScriptedDoubleAndSetReturnsPrevious) {
  EXPECT_EQ(&prompts(), &test::TestPrompts());
  ScriptedPrompts other;
  EXPECT_EQ(SetPrompts(&other), &test::TestPrompts());
  EXPECT_EQ(&prompts(), &other);
  EXPECT_EQ(SetPrompts(&test::TestPrompts()), &other);
}

TEST(ScriptedPromptsTest, AnswersInOrderAndRecordsEveryQuestion) {
  ScriptedPrompts p;
  p.AnswerMessage(MsgButton::kNo);
  p.AnswerOpenFile("/data/COINS.DBF");
  p.AnswerMessage(MsgButton::kCancel);

  p.Beep();
  EXPECT_EQ(p.MessageBox(nullptr, "Warning", "Data has changed.  Do you want to exit?",
                         MsgIcon::kQuestion, MsgButtons::kYesNo, MsgButton::kNo),
            MsgButton::kNo);
  EXPECT_EQ(p.OpenFile(nullptr, {.title = "Open Database File",
                                 .filter = "Database Files (*.DBF)|*.DBF",
                                 .default_suffix = "DBF",
                                 .file_must_exist = true}),
            "/data/COINS.DBF");
  p.Beep();
  p.Beep();
  EXPECT_EQ(p.MessageBox(nullptr, "Confirm", "Update?", MsgIcon::kQuestion,
                         MsgButtons::kYesNoCancel, MsgButton::kYes),
            MsgButton::kCancel);

  ASSERT_EQ(p.asked().size(), 3u);
  const test::AskedPrompt& first = p.asked()[0];
  EXPECT_EQ(first.kind, PromptKind::kMessage);
  EXPECT_EQ(first.caption, "Warning");
  // Double blanks are part of the text and must survive.
  EXPECT_EQ(first.text, "Data has changed.  Do you want to exit?");
  EXPECT_EQ(first.icon, MsgIcon::kQuestion);
  EXPECT_EQ(first.buttons, MsgButtons::kYesNo);
  EXPECT_EQ(first.default_button, MsgButton::kNo);
  EXPECT_EQ(first.beeps_before, 1);

  const test::AskedPrompt& open = p.asked()[1];
  EXPECT_EQ(open.kind, PromptKind::kOpenFile);
  EXPECT_EQ(open.caption, "Open Database File");
  EXPECT_EQ(open.file.filter, "Database Files (*.DBF)|*.DBF");
  EXPECT_EQ(open.file.default_suffix, "DBF");
  EXPECT_TRUE(open.file.file_must_exist);

  EXPECT_EQ(p.asked()[2].beeps_before, 3);
  EXPECT_EQ(p.beeps(), 3);
  EXPECT_EQ(p.Messages().size(), 2u);
  EXPECT_EQ(p.PendingAnswers(), 0);
}

TEST(ScriptedPromptsTest, DialogAnswersAndCancels) {
  ScriptedPrompts p;
  const QFont chosen("Liberation Serif", 14);
  p.AnswerFont(chosen);
  p.AnswerFont(std::nullopt);
  p.AnswerColor(QColor(Qt::red));
  p.AnswerColor(std::nullopt);
  p.AnswerSaveFile("");
  p.AnswerDirectory("/media/backup");
  p.AnswerPrint(true, [](QPrinter& printer) { printer.setCopyCount(3); });
  p.AnswerPrint(false, [](QPrinter& printer) { printer.setCopyCount(9); });
  p.AnswerPrinterSetup(true);

  const QFont initial("DejaVu Sans", 9);
  EXPECT_EQ(p.ChooseFont(nullptr, initial), chosen);
  EXPECT_EQ(p.ChooseFont(nullptr, initial), std::nullopt);
  EXPECT_EQ(p.ChooseColor(nullptr, Qt::blue), QColor(Qt::red));
  EXPECT_EQ(p.ChooseColor(nullptr, Qt::blue), std::nullopt);
  EXPECT_TRUE(p.SaveFile(nullptr, {.title = "Export Data"}).isEmpty());
  EXPECT_EQ(p.ChooseDirectory(nullptr, "Back Up", "/home"), "/media/backup");

  QPrinter printer;
  EXPECT_TRUE(p.PrintDialog(nullptr, printer));
  EXPECT_EQ(printer.copyCount(), 3);
  // A cancelled dialog leaves the printer as it was.
  EXPECT_FALSE(p.PrintDialog(nullptr, printer));
  EXPECT_EQ(printer.copyCount(), 3);
  EXPECT_TRUE(p.PrinterSetup(nullptr, printer));

  ASSERT_EQ(p.asked().size(), 9u);
  EXPECT_EQ(p.asked()[0].font, initial);
  EXPECT_EQ(p.asked()[2].color, QColor(Qt::blue));
  EXPECT_EQ(p.asked()[5].file.directory, "/home");
  EXPECT_EQ(p.asked()[5].caption, "Back Up");
}

TEST(ScriptedPromptsTest, KindsHaveSeparateQueues) {
  ScriptedPrompts p;
  p.AnswerOpenFile("/a.DBF");
  p.AnswerMessage(MsgButton::kYes);
  // Asked in the other order than scripted: each still gets its own answer.
  EXPECT_EQ(p.MessageBox(nullptr, "Confirm", "Sure?", MsgIcon::kQuestion, MsgButtons::kYesNo,
                         MsgButton::kNo),
            MsgButton::kYes);
  EXPECT_EQ(p.OpenFile(nullptr, {}), "/a.DBF");
}

TEST(ScriptedPromptsTest, ReportsUnscriptedQuestionsAndAnswersLikeEnter) {
  ScriptedPrompts p;
  MsgButton answer = MsgButton::kNone;
  EXPECT_NONFATAL_FAILURE(
      answer = p.MessageBox(nullptr, "Warning", "Delete this record?", MsgIcon::kQuestion,
                            MsgButtons::kYesNo, MsgButton::kNo),
      "unscripted message box \"Warning\": \"Delete this record?\"");
  EXPECT_EQ(answer, MsgButton::kNo);
  QString path = "x";
  EXPECT_NONFATAL_FAILURE(path = p.OpenFile(nullptr, {.title = "Import Data"}),
                          "unscripted open file dialog \"Import Data\"");
  EXPECT_TRUE(path.isEmpty());

  p.set_strict(false);
  EXPECT_EQ(p.MessageBox(nullptr, "Notice", "Done.", MsgIcon::kInformation, MsgButtons::kOk,
                         MsgButton::kNone),
            MsgButton::kOk);
  EXPECT_EQ(p.asked().size(), 3u);
}

TEST(ScriptedPromptsTest, ReportsWrongTextsImpossibleAnswersAndUnusedScript) {
  ScriptedPrompts p;
  p.ExpectMessage("Error", "Invalid file type selected.", MsgButton::kOk);
  EXPECT_NONFATAL_FAILURE(p.MessageBox(nullptr, "Error", "Invalid file type selected",
                                       MsgIcon::kError, MsgButtons::kOk, MsgButton::kOk),
                          "expected\n  \"Invalid file type selected.\"");
  p.ExpectMessage("Error", "Invalid file type selected.", MsgButton::kOk);
  EXPECT_NONFATAL_FAILURE(p.MessageBox(nullptr, "Warning", "Invalid file type selected.",
                                       MsgIcon::kError, MsgButtons::kOk, MsgButton::kOk),
                          "caption \"Warning\", expected \"Error\"");

  p.AnswerMessage(MsgButton::kYes);
  MsgButton answer = MsgButton::kNone;
  EXPECT_NONFATAL_FAILURE(answer = p.MessageBox(nullptr, "Error", "Failed.", MsgIcon::kError,
                                                MsgButtons::kOkCancel, MsgButton::kCancel),
                          "scripted answer Yes to a box with buttons OkCancel");
  EXPECT_EQ(answer, MsgButton::kCancel);

  p.AnswerSaveFile("/tmp/never.TXT");
  EXPECT_EQ(p.PendingAnswers(), 1);
  EXPECT_NONFATAL_FAILURE(p.VerifyAllAnswered(),
                          "scripted answer for a save file dialog was never asked for");
  EXPECT_EQ(p.PendingAnswers(), 0);
}

TEST(QtFilterTest, TurnsDescriptionPatternPairsIntoQtFilters) {
  EXPECT_EQ(QtFilterOf("Database Files (*.DBF)|*.DBF"), "Database Files (*.DBF)");
  EXPECT_EQ(QtFilterOf("DBase  (*.DBF)|*.DBF"), "DBase  (*.DBF)");
  EXPECT_EQ(QtFilterOf("Text|*.TXT;*.CSV|All files|*.*"), "Text (*.TXT *.CSV);;All files (*.*)");
  EXPECT_EQ(QtFilterOf("Text (*.TXT;*.CSV)|*.TXT;*.CSV"), "Text (*.TXT;*.CSV) (*.TXT *.CSV)");
  EXPECT_EQ(QtFilterOf(""), "");
}

// Runs each step on the next modal dialog the code under test shows (a step
// runs once the active modal widget is another one than the previous step's).
// A dialog the last step fails to close is rejected, so a test cannot hang.
class WhenModal {
 public:
  using Step = std::function<void(QWidget*)>;
  explicit WhenModal(std::vector<Step> steps) : steps_(std::move(steps)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start(10);
  }
  explicit WhenModal(Step step) : WhenModal(std::vector<Step>{std::move(step)}) {}
  bool done() const { return next_ == steps_.size(); }

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) return;
    if (next_ < steps_.size() && modal != last_) {
      last_ = modal;
      polls_since_ = 0;
      steps_[next_++](modal);
    } else if (++polls_since_ > 200) {
      ADD_FAILURE() << "dialog \"" << modal->windowTitle().toStdString() << "\" stayed open";
      if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
    }
  }

  std::vector<Step> steps_;
  size_t next_ = 0;
  QWidget* last_ = nullptr;
  int polls_since_ = 0;
  QTimer timer_;
};

TEST(QtPromptsTest, MessageBoxShowsTextAsGivenAndEnterPressesTheDefault) {
  QtPrompts qt;
  const QString text = "The table \"/tmp/<b>A&B</b>.DBF\" is in use.  Abort?";
  WhenModal press([&](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), "Warning");
    EXPECT_EQ(box->text(), text);
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    EXPECT_EQ(box->icon(), QMessageBox::Question);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
    ASSERT_NE(box->defaultButton(), nullptr);
    EXPECT_EQ(box->standardButton(box->defaultButton()), QMessageBox::No);
    QTest::keyClick(box, Qt::Key_Return);
  });
  EXPECT_EQ(qt.MessageBox(nullptr, "Warning", text, MsgIcon::kQuestion, MsgButtons::kYesNo,
                          MsgButton::kNo),
            MsgButton::kNo);
  EXPECT_TRUE(press.done());
}

TEST(QtPromptsTest, MessageBoxEscapeAndClickAnswers) {
  QtPrompts qt;
  {
    WhenModal escape([](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
    EXPECT_EQ(qt.MessageBox(nullptr, "Confirm", "Update?", MsgIcon::kQuestion,
                            MsgButtons::kYesNoCancel, MsgButton::kYes),
              MsgButton::kCancel);
  }
  {
    WhenModal click([](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      ASSERT_NE(box, nullptr);
      box->button(QMessageBox::Ignore)->click();
    });
    EXPECT_EQ(qt.MessageBox(nullptr, "Error", "Disk error.", MsgIcon::kError,
                            MsgButtons::kAbortRetryIgnore, MsgButton::kNone),
              MsgButton::kIgnore);
  }
}

TEST(QtPromptsTest, FileDialogsFilterWithoutCaseAddSuffixAndRefuseMissingFolders) {
  QtPrompts qt;
  test::TempDir dir;
  const QString folder = QString::fromStdString(dir.path());
  {
    WhenModal accept([](QWidget* w) {
      auto* dialog = qobject_cast<QFileDialog*>(w);
      ASSERT_NE(dialog, nullptr);
      EXPECT_EQ(dialog->windowTitle(), "New Database File");
      EXPECT_EQ(dialog->nameFilters(), QStringList{"Database Files (*.DBF)"});
      dialog->selectFile("COINS");
      // QFileDialog::accept is protected; QDialog's is the same virtual.
      static_cast<QDialog*>(dialog)->accept();
    });
    const QString path = qt.SaveFile(nullptr, {.title = "New Database File",
                                               .directory = folder,
                                               .filter = "Database Files (*.DBF)|*.DBF",
                                               .default_suffix = "DBF",
                                               .path_must_exist = true,
                                               .overwrite_prompt = true});
    EXPECT_EQ(path, QFileInfo(folder + "/COINS.DBF").absoluteFilePath());
  }
  {
    // A name in a directory that does not exist is refused and the dialog
    // comes back; cancelling it then answers nothing.
    WhenModal steps({[&](QWidget* w) {
                       auto* dialog = qobject_cast<QFileDialog*>(w);
                       ASSERT_NE(dialog, nullptr);
                       // Typed, as a user would: selectFile() ignores missing folders.
                       auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
                       ASSERT_NE(name, nullptr);
                       name->setText(folder + "/missing/COINS.TXT");
                       static_cast<QDialog*>(dialog)->accept();
                     },
                     [&](QWidget* w) {
                       auto* box = qobject_cast<QMessageBox*>(w);
                       ASSERT_NE(box, nullptr);
                       EXPECT_TRUE(box->text().contains(folder + "/missing"));
                       QTest::keyClick(box, Qt::Key_Return);
                     },
                     [](QWidget* w) {
                       ASSERT_NE(qobject_cast<QFileDialog*>(w), nullptr);
                       static_cast<QDialog*>(w)->reject();
                     }});
    EXPECT_TRUE(qt.SaveFile(nullptr, {.title = "Export Data",
                                      .directory = folder,
                                      .filter = "Ascii Delimited Text (*.TXT)|*.TXT",
                                      .default_suffix = "TXT",
                                      .path_must_exist = true})
                    .isEmpty());
    EXPECT_TRUE(steps.done());
  }
  {
    // Tables copied from other systems may be spelt in lower case.
    for (const char* name : {"coins.dbf", "OTHER.DBF", "notes.txt"}) {
      QFile(folder + "/" + name).open(QIODevice::WriteOnly);
    }
    QStringList listed;
    WhenModal open([&](QWidget* w) {
      auto* list = w->findChild<QListView*>("listView");
      ASSERT_NE(list, nullptr);
      // The directory is read in the background.
      EXPECT_TRUE(
          QTest::qWaitFor([&] { return list->model()->rowCount(list->rootIndex()) >= 2; }, 3000));
      for (int row = 0; row < list->model()->rowCount(list->rootIndex()); ++row) {
        listed << list->model()->index(row, 0, list->rootIndex()).data().toString();
      }
      auto* name = w->findChild<QLineEdit*>("fileNameEdit");
      ASSERT_NE(name, nullptr);
      name->setText("coins.dbf");
      static_cast<QDialog*>(w)->accept();
    });
    EXPECT_EQ(qt.OpenFile(nullptr, {.title = "Open Database File",
                                    .directory = folder,
                                    .filter = "Database Files (*.DBF)|*.DBF",
                                    .default_suffix = "DBF",
                                    .file_must_exist = true}),
              folder + "/coins.dbf");
    listed.sort();
    EXPECT_EQ(listed, (QStringList{"OTHER.DBF", "coins.dbf"}));
  }
  {
    QDir(folder).mkdir("backup");
    WhenModal choose([&](QWidget* w) {
      auto* name = w->findChild<QLineEdit*>("fileNameEdit");
      ASSERT_NE(name, nullptr);
      name->setText(folder + "/backup");
      static_cast<QDialog*>(w)->accept();
    });
    EXPECT_EQ(qt.ChooseDirectory(nullptr, "Back Up", folder), folder + "/backup");
  }
  {
    WhenModal cancel([](QWidget* w) {
      auto* dialog = qobject_cast<QDialog*>(w);
      ASSERT_NE(dialog, nullptr);
      dialog->reject();
    });
    EXPECT_TRUE(
        qt.OpenFile(nullptr,
                    {.title = "Open Database File", .directory = folder, .file_must_exist = true})
            .isEmpty());
  }
}

TEST(QtPromptsTest, AFontDialogLeftOnItsFamilyKeepsTheStoredName) {
  QtPrompts qt;
  for (const char* family : {"Arial", "DejaVu Sans", "No Such Family 97"}) {
    SCOPED_TRACE(family);
    WhenModal ok([](QWidget* w) {
      auto* box = w->findChild<QDialogButtonBox*>();
      ASSERT_NE(box, nullptr);
      QTest::mouseClick(box->button(QDialogButtonBox::Ok), Qt::LeftButton);
    });
    QFont stored(QString::fromLatin1(family), 12);
    stored.setBold(true);
    const std::optional<QFont> chosen = qt.ChooseFont(nullptr, stored);
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(chosen->family(), family);
    EXPECT_TRUE(chosen->bold());
    EXPECT_EQ(chosen->pointSize(), 12);
  }
}

TEST(QtPromptsTest, FontAndColourDialogsReturnNothingWhenCancelled) {
  QtPrompts qt;
  {
    WhenModal accept([](QWidget* w) {
      auto* dialog = qobject_cast<QColorDialog*>(w);
      ASSERT_NE(dialog, nullptr);
      dialog->accept();
    });
    EXPECT_EQ(qt.ChooseColor(nullptr, QColor(0x12, 0x34, 0x56)), QColor(0x12, 0x34, 0x56));
  }
  {
    WhenModal cancel([](QWidget* w) {
      auto* dialog = qobject_cast<QFontDialog*>(w);
      ASSERT_NE(dialog, nullptr);
      dialog->reject();
    });
    EXPECT_EQ(qt.ChooseFont(nullptr, QFont("DejaVu Sans", 10)), std::nullopt);
  }
}

}  // namespace
}  // namespace klv::platform
