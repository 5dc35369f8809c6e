// The pick lists: their files per database and the defaults, the two copies
// in memory, the list editor and the default-list commands.
#include "db/PickLists.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QStringListModel>
#include <QTimer>

#include "edit/EditBox1.h"
#include "edit/EditTestSupport.h"
#include "support/RecordedColors.h"
#include "support/ScriptedPrompts.h"

namespace klv::edit {
namespace {

using namespace klv::db;

using platform::MsgButton;
using test::ReadBytes;
using test::TestPrompts;
using test::WriteLines;

class PickListsTest : public ::testing::Test, public test::EditDatabase {
 protected:
  PickListsTest() : lists(state.program_dir, state.paths.base) {}

  void WriteDefaults() {
    WriteLines(ProgramFile("COUNTRY.LST"), {"Canada", "Mexico"});
    WriteLines(ProgramFile("TOPIC.LST"), {"Ships"});
    WriteLines(ProgramFile("CONDTION.LST"), {"Fine", "Proof"});
  }

  PickLists lists;
};

TEST_F(PickListsTest, ReadingTrimsEveryLineAndSkipsEmptyOnes) {
  QFile f(DataFile("COINS.001"));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("  Peru \r\n\r\n   \r\nChile\nBolivia\t\r\n  Costa Rica");
  f.close();
  lists.LoadAllList();
  EXPECT_EQ(lists.FormList(ListKind::kCountry),
            QStringList({"Peru", "Chile", "Bolivia", "Costa Rica"}));
  EXPECT_EQ(lists.GridList(ListKind::kCountry), lists.FormList(ListKind::kCountry));
  // ".002" and ".003" are missing: those lists are empty, not the defaults.
  EXPECT_TRUE(lists.FormList(ListKind::kTopic).isEmpty());
  lists.SaveAllLists();
  EXPECT_EQ(ReadBytes(DataFile("COINS.001")), "Peru\r\nChile\r\nBolivia\r\nCosta Rica\r\n");
  EXPECT_EQ(ReadBytes(DataFile("COINS.002")), "");
}

TEST_F(PickListsTest, ListsFromWindowsInTheirCodePageReadAndWriteBackUnchanged) {
  QFile f(DataFile("COINS.001"));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(
      "Cura\xE7"
      "ao\r\nR\xE9union\r\n");  // Windows-1252
  f.close();
  lists.LoadAllList();
  EXPECT_EQ(lists.FormList(ListKind::kCountry),
            QStringList({QString::fromUtf8("Curaçao"), QString::fromUtf8("Réunion")}));
  lists.SaveAllLists();
  EXPECT_EQ(ReadBytes(DataFile("COINS.001")),
            "Cura\xE7"
            "ao\r\nR\xE9union\r\n");
  // An entry outside that code page makes the file UTF-8, which reads back too.
  lists.AddToList(ListKind::kCountry, QString::fromUtf8("Łódź"));
  lists.SaveAllLists();
  lists.LoadAllList();
  EXPECT_EQ(lists.FormList(ListKind::kCountry).last(), QString::fromUtf8("Łódź"));
}

TEST_F(PickListsTest, EveryListReadsBackAsWritten) {
  const QString path = DataFile("COINS.002");
  // Windows-1252 bytes of "CafÃ©" are the UTF-8 of "Café"; a leading U+FEFF
  // is what a byte-order mark decodes to.
  const QStringList cases[] = {
      {QString::fromUtf8("CafÃ©"), "Proof"},
      {QChar(0xFEFF) + QStringLiteral("First"), QString::fromUtf8("Łódź")}};
  for (const QStringList& entries : cases) {
    ASSERT_TRUE(WriteListFile(path, entries));
    EXPECT_EQ(ReadListFile(path), entries);
  }
  EXPECT_EQ(ReadBytes(path),
            "\xEF\xBB\xBF\xEF\xBB\xBF"
            "First\r\n\xC5\x81\xC3\xB3"
            "d\xC5\xBA\r\n");
}

TEST_F(PickListsTest, ANewDatabaseStartsWithTheDefaultsAndThenKeepsItsOwnLists) {
  WriteDefaults();
  lists.LoadAllList();  // no ".001": the defaults
  EXPECT_EQ(lists.FormList(ListKind::kCountry), QStringList({"Canada", "Mexico"}));
  EXPECT_EQ(lists.FormList(ListKind::kCondition), QStringList({"Fine", "Proof"}));
  lists.AddToList(ListKind::kCountry, "Peru");
  lists.SaveAllLists();
  for (const char* ext : {"001", "002", "003"})
    EXPECT_TRUE(QFile::exists(DataFile(std::string("COINS.") + ext))) << ext;
  // The defaults are untouched, and the database keeps its own lists.
  EXPECT_EQ(ReadBytes(ProgramFile("COUNTRY.LST")), "Canada\r\nMexico\r\n");
  WriteLines(ProgramFile("COUNTRY.LST"), {"Japan"});
  lists.LoadAllList();
  EXPECT_EQ(lists.FormList(ListKind::kCountry), QStringList({"Canada", "Mexico", "Peru"}));

  // Without its ".001" a database takes all three defaults, even though
  // ".002" and ".003" are there.
  WriteLines(DataFile("COINS.002"), {"Own topic"});
  QFile::remove(DataFile("COINS.001"));
  lists.LoadAllList();
  EXPECT_EQ(lists.FormList(ListKind::kCountry), QStringList({"Japan"}));
  EXPECT_EQ(lists.FormList(ListKind::kTopic), QStringList({"Ships"}));
}

TEST_F(PickListsTest, ListFilesCopiedFromWindowsAreFoundInAnyLetterCase) {
  WriteLines(DataFile("coins.001"), {"Peru"});
  WriteLines(DataFile("Coins.002"), {"Ships"});
  lists.LoadAllList();
  EXPECT_EQ(lists.FormList(ListKind::kCountry), QStringList({"Peru"}));
  EXPECT_EQ(lists.FormList(ListKind::kTopic), QStringList({"Ships"}));
  lists.SaveAllLists();
  EXPECT_EQ(ReadBytes(DataFile("coins.001")), "Peru\r\n");
  EXPECT_FALSE(QFile::exists(DataFile("COINS.001")));
  EXPECT_TRUE(QFile::exists(DataFile("COINS.003")));  // a new file: the program's spelling
}

TEST_F(PickListsTest, AdditionsAreTrimmedCaseSensitiveAndGoToTheEndOfEachCopy) {
  lists.Replace(ListKind::kCountry, {"FRANCE", "Peru"});
  EXPECT_TRUE(lists.AddToList(ListKind::kCountry, "France"));
  EXPECT_FALSE(lists.AddToList(ListKind::kCountry, "  France "));
  EXPECT_FALSE(lists.AddToList(ListKind::kCountry, "   "));
  EXPECT_EQ(lists.FormList(ListKind::kCountry), QStringList({"FRANCE", "Peru", "France"}));
  // The grid's copy is apart: it grows only through its own call.
  EXPECT_EQ(lists.GridList(ListKind::kCountry), QStringList({"FRANCE", "Peru"}));
  EXPECT_TRUE(lists.AddToListTwwDB(ListKind::kCountry, " France"));
  EXPECT_EQ(lists.GridList(ListKind::kCountry), lists.FormList(ListKind::kCountry));

  QStringList told;
  lists.OnGridListChanged(nullptr, [&](ListKind kind, const QStringList& items) {
    if (kind == ListKind::kTopic) told = items;
  });
  EXPECT_TRUE(told.isEmpty());
  lists.AddToListTwwDB(ListKind::kTopic, "Ships");
  EXPECT_EQ(told, QStringList({"Ships"}));
  lists.Replace(ListKind::kTopic, {"Birds"});
  EXPECT_EQ(told, QStringList({"Birds"}));
}

TEST_F(PickListsTest, SwitchingSavesTheListsOfTheDatabaseLeft) {
  lists.LoadAllList();
  lists.AddToList(ListKind::kCountry, "Peru");
  UseDatabase("OTHER");
  WriteDefaults();
  lists.SwitchDatabase(state.paths.base, /*new_database=*/true);
  EXPECT_EQ(ReadBytes(DataFile("COINS.001")), "Peru\r\n");
  EXPECT_EQ(lists.FormList(ListKind::kCountry), QStringList({"Canada", "Mexico"}));
  EXPECT_FALSE(QFile::exists(DataFile("OTHER.001")));
  lists.SwitchDatabase(DataFile("COINS"), /*new_database=*/false);
  EXPECT_EQ(lists.FormList(ListKind::kCountry), QStringList({"Peru"}));
  EXPECT_EQ(ReadBytes(DataFile("OTHER.001")), "Canada\r\nMexico\r\n");
}

TEST_F(PickListsTest, DefaultListCommandsAskFirst) {
  const char* const save_question =
      "Your current Data Lists will become your default list values.  These values will be used "
      "when new databases are created.  Previous default values will be lost.  Do you want to "
      "proceed?";
  WriteDefaults();
  lists.Replace(ListKind::kCountry, {"Peru"});
  TestPrompts().ExpectMessage("Warning", save_question, MsgButton::kNo);
  EXPECT_FALSE(MenuSaveAsDefaultsClick(nullptr, lists));
  EXPECT_EQ(ReadBytes(ProgramFile("COUNTRY.LST")), "Canada\r\nMexico\r\n");
  TestPrompts().ExpectMessage("Warning", save_question, MsgButton::kYes);
  EXPECT_TRUE(MenuSaveAsDefaultsClick(nullptr, lists));
  EXPECT_EQ(ReadBytes(ProgramFile("COUNTRY.LST")), "Peru\r\n");

  WriteLines(ProgramFile("COUNTRY.LST"), {"Japan"});
  TestPrompts().ExpectMessage("Warning",
                              "Your current Data Lists will be overridden with your default list "
                              "values. Previous  values will be lost.  Do you want to proceed?",
                              MsgButton::kYes);
  EXPECT_TRUE(MenuLoadInDefaultsClick(nullptr, lists));
  EXPECT_EQ(lists.FormList(ListKind::kCountry), QStringList({"Japan"}));
  EXPECT_EQ(lists.GridList(ListKind::kCountry), QStringList({"Japan"}));
  EXPECT_EQ(TestPrompts().beeps(), 3);
  for (const auto& asked : TestPrompts().Messages()) {
    EXPECT_EQ(asked.buttons, platform::MsgButtons::kYesNo);
    EXPECT_EQ(asked.default_button, MsgButton::kNo);
    EXPECT_EQ(asked.icon, platform::MsgIcon::kQuestion);
  }
}

TEST_F(PickListsTest, InstallDefaultListsNeverReplacesAUsersOwnLists) {
  test::TempDir source;
  for (const char* name : {"COUNTRY.LST", "TOPIC.LST", "CONDTION.LST", "MISC.LST"})
    WriteLines(test::Q(source.File(name)), {"shipped"});
  WriteLines(ProgramFile("country.lst"), {"mine"});
  EXPECT_EQ(InstallDefaultLists(state.program_dir, test::Q(source.path())), 3);
  EXPECT_EQ(ReadBytes(ProgramFile("country.lst")), "mine\r\n");
  EXPECT_FALSE(QFile::exists(ProgramFile("COUNTRY.LST")));
  EXPECT_EQ(ReadBytes(ProgramFile("MISC.LST")), "shipped\r\n");
  EXPECT_EQ(InstallDefaultLists(state.program_dir, test::Q(source.path())), 0);
  // A copied list can be saved over: it is the user's from now on.
  lists.Replace(ListKind::kTopic, {"Birds"});
  lists.SaveDefaultLists();
  EXPECT_EQ(ReadBytes(ProgramFile("TOPIC.LST")), "Birds\r\n");
}

TEST_F(PickListsTest, TheShippedListsAreWellFormed) {
  const struct {
    const char* name;
    int width;
  } shipped[] = {{"COUNTRY.LST", 20}, {"TOPIC.LST", 20}, {"CONDTION.LST", 30}, {"MISC.LST", 25}};
  for (const auto& list : shipped) {
    const QString path = test::Q(std::string(KLV_DATA_DIR) + "/" + list.name);
    const QByteArray bytes = ReadBytes(path);
    ASSERT_FALSE(bytes.isEmpty()) << list.name;
    EXPECT_TRUE(bytes.endsWith("\r\n")) << list.name;
    EXPECT_EQ(bytes.count("\r\n"), bytes.count('\n')) << list.name;
    QStringList entries = ReadListFile(path);
    EXPECT_EQ(entries.size(), bytes.count('\n')) << list.name;  // no blank lines
    EXPECT_EQ(entries.removeDuplicates(), 0) << list.name;
    for (const QString& entry : entries) EXPECT_LE(entry.size(), list.width) << entry.toStdString();
  }
  EXPECT_TRUE(
      ReadListFile(test::Q(std::string(KLV_DATA_DIR) + "/COUNTRY.LST")).contains("United States"));
  const QStringList grades = ReadListFile(test::Q(std::string(KLV_DATA_DIR) + "/CONDTION.LST"));
  EXPECT_TRUE(grades.first().startsWith("Poor"));
  EXPECT_TRUE(grades.last().startsWith("Proof"));
}

// ---------------------------------------------------------------------------
// The list editor

class ListEditorTest : public PickListsTest {
 protected:
  ListEditorTest() { lists.Replace(ListKind::kCountry, {"Peru", "chile", "Bolivia"}); }
  int saves = 0;
  std::function<void()> save_all = [this] {
    ++saves;
    lists.SaveAllLists();
  };
};

TEST_F(ListEditorTest, CancelLeavesBothCopiesAsTheyWere) {
  test::RecordedColors colors;
  TMyEditBox box(nullptr, state, lists, ListKind::kCountry, save_all);
  box.show();
  ASSERT_EQ(colors.asked.size(), 1u);
  EXPECT_EQ(colors.asked[0].second, forms::ColorGroupId::kConfigure);
  box.hide();
  EXPECT_EQ(box.windowTitle(), "Edit \"Country\" List");
  EXPECT_EQ(box.AddInfo->maxLength(), 20);
  box.AddInfo->setText("Ecuador");
  box.AddButtonClick();
  TestPrompts().ExpectMessage("Confirm",
                              "Are you sure you want to sort the data?  Sorting cannot be undone.",
                              MsgButton::kYes);
  box.SortButtonClick();
  box.CancelButtonClick();
  EXPECT_EQ(lists.FormList(ListKind::kCountry), QStringList({"Peru", "chile", "Bolivia"}));
  EXPECT_EQ(lists.GridList(ListKind::kCountry), QStringList({"Peru", "chile", "Bolivia"}));
  EXPECT_EQ(saves, 0);
  EXPECT_FALSE(QFile::exists(DataFile("COINS.001")));
}

TEST_F(ListEditorTest, OkReplacesBothCopiesAndSavesAllThreeFiles) {
  TMyEditBox box(nullptr, state, lists, ListKind::kCountry, save_all);
  box.show();
  EXPECT_EQ(box.TheList->currentRow(), 0);
  box.AddInfo->setText("  Ecuador ");
  box.AddButtonClick();
  box.AddInfo->setText("Peru");  // no duplicate test
  box.AddButtonClick();
  box.AddInfo->setText("   ");
  box.AddButtonClick();
  EXPECT_EQ(box.AddInfo->text(), "");
  EXPECT_EQ(box.Entries(), QStringList({"Peru", "chile", "Bolivia", "Ecuador", "Peru"}));

  TestPrompts().ExpectMessage("Confirm",
                              "Are you sure you want to sort the data?  Sorting cannot be undone.",
                              MsgButton::kNo);
  box.SortButtonClick();
  EXPECT_EQ(box.Entries().first(), "Peru");
  TestPrompts().ExpectMessage("Confirm",
                              "Are you sure you want to sort the data?  Sorting cannot be undone.",
                              MsgButton::kYes);
  box.SortButtonClick();
  EXPECT_EQ(box.Entries(), QStringList({"Bolivia", "chile", "Ecuador", "Peru", "Peru"}));

  // Deleting the last entry selects the new last one.
  box.TheList->setCurrentRow(4);
  box.DeleteButtonClick();
  EXPECT_EQ(box.TheList->currentRow(), 3);
  box.TheList->setCurrentRow(1);
  box.DeleteButtonClick();
  EXPECT_EQ(box.TheList->currentItem()->text(), "Ecuador");
  // Later additions go to the end again.
  box.AddInfo->setText("Argentina");
  box.AddButtonClick();

  box.OkButtonClick();
  const QStringList expected = {"Bolivia", "Ecuador", "Peru", "Argentina"};
  EXPECT_EQ(lists.FormList(ListKind::kCountry), expected);
  EXPECT_EQ(lists.GridList(ListKind::kCountry), expected);
  EXPECT_EQ(saves, 1);
  EXPECT_EQ(ReadBytes(DataFile("COINS.001")), "Bolivia\r\nEcuador\r\nPeru\r\nArgentina\r\n");
  EXPECT_TRUE(QFile::exists(DataFile("COINS.002")));
  EXPECT_TRUE(QFile::exists(DataFile("COINS.003")));
}

TEST_F(ListEditorTest, TheMiscellaneousListIsEditedInItsFile) {
  WriteLines(ProgramFile("MISC.LST"), {"Proof", "", " Holed "});
  bool accepted = false;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<TMyEditBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), "Edit \"Miscellaneous\" List");
    EXPECT_EQ(box->AddInfo->maxLength(), 25);
    EXPECT_EQ(box->Entries(), QStringList({"Proof", "Holed"}));
    box->AddInfo->setText("Cleaned");
    box->AddButtonClick();
    box->OkButtonClick();
  });
  accepted = EditSpecList(nullptr, state, lists, save_all);
  EXPECT_TRUE(accepted);
  EXPECT_EQ(ReadBytes(ProgramFile("MISC.LST")), "Proof\r\nHoled\r\nCleaned\r\n");
  EXPECT_EQ(saves, 1);
  EXPECT_EQ(lists.FormList(ListKind::kCountry), QStringList({"Peru", "chile", "Bolivia"}));
}

}  // namespace
}  // namespace klv::edit
