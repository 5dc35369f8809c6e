// The edit form's picture panel on a real coin table, worked as a person
// does: clicks on its buttons, a file dropped on a side, a double-click.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "db/FieldTable.h"
#include "db/dbf/Table.h"
#include "pictures/PicturePanel.h"
#include "pictures/SamplePictures.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"

namespace klv::pictures {
namespace {

using platform::MsgButton;
using test::TestPrompts;

class PicturePanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("MASTER.DBF");
    dbf::Table::CreateTable(path_, CoinFieldDefs());
    dbf::Table t;
    t.SetDirectory(dir_.path() + "/");
    t.SetTableName("MASTER.DBF");
    t.Open();
    for (const char* country : {"Peru", "Chile"}) {
      t.Append();
      t.FieldByName("Country").SetAsString(country);
      t.Post();
    }
    test::WriteFileBytes(dir_.File("coin.jpg"), test::SampleJpeg());
    test::WriteFileBytes(dir_.File("notes.png"), "not a picture\n");
    panel_.OnError = [this](const QString& message) { errors_ << message; };
    panel_.resize(200, 400);
    panel_.show();
    panel_.ShowRow(QString::fromStdString(path_), 2);
  }
  void Click(QPushButton* button) {
    ASSERT_TRUE(button->isEnabled());
    QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
  }
  bool Shows(Side side) { return !panel_.box(side)->pixmap().isNull(); }
  std::vector<Picture> Stored() {
    PictureStore store(path_);
    store.Load();
    return store.pictures();
  }

  test::TempDir dir_;
  std::string path_;
  PicturePanel panel_;
  QStringList errors_;
};

TEST_F(PicturePanelTest, AttachReplaceAndRemoveByTheButtons) {
  EXPECT_EQ(panel_.box(Side::kObverse)->text(), "No picture");
  EXPECT_FALSE(panel_.remove_button(Side::kObverse)->isEnabled());
  TestPrompts().AnswerOpenFile(QString::fromStdString(dir_.File("coin.jpg")));
  Click(panel_.attach_button(Side::kObverse));
  EXPECT_TRUE(Shows(Side::kObverse));
  EXPECT_FALSE(Shows(Side::kReverse));
  EXPECT_EQ(panel_.attach_button(Side::kObverse)->text(), "Replace...");
  EXPECT_EQ(panel_.attach_button(Side::kReverse)->text(), "Attach...");
  ASSERT_EQ(Stored().size(), 1u);
  EXPECT_EQ(Stored()[0].recno, 2u);

  // No: nothing removed; Yes: removed.
  TestPrompts().ExpectMessage("Picture", "Remove the obverse picture of this coin?",
                              MsgButton::kNo);
  Click(panel_.remove_button(Side::kObverse));
  EXPECT_TRUE(Shows(Side::kObverse));
  TestPrompts().ExpectMessage("Picture", "Remove the obverse picture of this coin?",
                              MsgButton::kYes);
  Click(panel_.remove_button(Side::kObverse));
  EXPECT_FALSE(Shows(Side::kObverse));
  EXPECT_EQ(panel_.attach_button(Side::kObverse)->text(), "Attach...");
  EXPECT_TRUE(Stored().empty());
  EXPECT_TRUE(errors_.isEmpty());
}

TEST_F(PicturePanelTest, ALoosePictureIsOfferedFromItsFolderAndAttachedAgainAsItIs) {
  // Another program rewrote the table: the coin of the picture is gone.
  PictureStore store(path_);
  store.Attach(1, Side::kReverse, dir_.File("coin.jpg"));
  {
    dbf::Table t;
    t.SetDirectory(dir_.path() + "/");
    t.SetTableName("MASTER.DBF");
    t.Open();
    ASSERT_TRUE(t.GoTo(1));
    t.Edit();
    t.FieldByName("Country").SetAsString("Bolivia");
    t.Post();
  }
  store.Load();
  ASSERT_EQ(store.Unattached().size(), 1u);
  const std::string loose = store.Unattached()[0].file;
  TestPrompts().AnswerOpenFile(QString::fromStdString(store.PathOf(store.Unattached()[0])));
  Click(panel_.attach_button(Side::kObverse));
  EXPECT_EQ(TestPrompts().asked().back().file.directory, QString::fromStdString(store.folder()));
  EXPECT_TRUE(Shows(Side::kObverse));
  const std::vector<Picture> stored = Stored();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].recno, 2u);
  EXPECT_EQ(stored[0].file, loose);
  // With nothing loose the dialog starts where it would.
  TestPrompts().AnswerOpenFile("");
  Click(panel_.attach_button(Side::kReverse));
  EXPECT_EQ(TestPrompts().asked().back().file.directory, "");
  EXPECT_TRUE(errors_.isEmpty());
}

TEST_F(PicturePanelTest, AFileThatIsNoPictureAttachesNothing) {
  TestPrompts().AnswerOpenFile(QString::fromStdString(dir_.File("notes.png")));
  Click(panel_.attach_button(Side::kReverse));
  EXPECT_EQ(errors_, QStringList{"The file \"notes.png\" is not a picture this program can keep: "
                                 "only JPEG, PNG and WebP pictures can be attached."});
  EXPECT_FALSE(Shows(Side::kReverse));
  EXPECT_TRUE(Stored().empty());
}

TEST_F(PicturePanelTest, ADroppedFileAttachesAndADoubleClickShowsItLarge) {
  PictureBox* box = panel_.box(Side::kReverse);
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir_.File("coin.jpg")))});
  QDragEnterEvent enter(box->rect().center(), Qt::CopyAction, &data, Qt::LeftButton, {});
  QApplication::sendEvent(box, &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(box->rect().center()), Qt::CopyAction, &data, Qt::LeftButton, {});
  QApplication::sendEvent(box, &drop);
  EXPECT_TRUE(Shows(Side::kReverse));
  ASSERT_EQ(Stored().size(), 1u);
  EXPECT_EQ(Stored()[0].side, Side::kReverse);

  QString shown;
  QTimer::singleShot(0, [&] {
    QWidget* large = QApplication::activeModalWidget();
    if (!large) return;
    shown = large->objectName() + " " + large->windowTitle();
    large->close();
  });
  QTest::mouseDClick(box, Qt::LeftButton, {}, box->rect().center());
  EXPECT_EQ(shown, "LargePicture Picture");
}

TEST_F(PicturePanelTest, ANewRowOffersNothingUntilItIsWritten) {
  panel_.ShowRow(QString::fromStdString(path_), 0);
  for (Side side : {Side::kObverse, Side::kReverse}) {
    EXPECT_FALSE(panel_.attach_button(side)->isEnabled());
    EXPECT_FALSE(panel_.remove_button(side)->isEnabled());
  }
}

}  // namespace
}  // namespace klv::pictures
