// Masked edits clicked and typed into as a user does: where the typing lands
// for each kind of mask the forms use.
#include <QApplication>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include "forms/MaskedInput.h"

namespace klv::forms {
namespace {

TEST(MaskedInputTest, TypingAfterAClickLandsAfterWhatWasTypedInThePartClicked) {
  struct Case {
    const char* mask;
    const char* before;  // typed after a click at the left end
    double click;        // then a click this far across the edit
    const char* typed;
    const char* shown;
  };
  const Case cases[] = {
      {"00/00/0000;_", "", 0.95, "05071995", "05/07/1995"},
      {"00/00/0000;_", "05", 0.8, "071995", "05/07/1995"},
      {"xxxxxxxxxx; ", "", 0.9, "usa", "usa       "},
      {"xxxxxxxxxx; ", "us", 0.9, "a", "usa       "},
      {"\\> 00/00/9999; ", "", 0.9, "06012019", "> 06/01/2019"},
      // The second bound of a range is its own part: a click there stays there.
      {"\\> xxxxx \\A\\N\\D \\< xxxxx; ", "5", 0.97, "9", "> 5     AND < 9    "},
      {"\\> xxxxx \\A\\N\\D \\< xxxxx; ", "5", 0.3, "0", "> 50    AND <      "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.mask) + " " + c.before + "|" + c.typed);
    QLineEdit edit;
    edit.setInputMask(QString::fromLatin1(c.mask));
    TakeTypedInput(&edit);
    TakeTypedInput(&edit);  // a second call changes nothing
    edit.resize(400, 24);
    edit.show();
    edit.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&edit));
    QTest::mouseClick(&edit, Qt::LeftButton, {}, QPoint(2, 12));
    QTest::keyClicks(&edit, QString::fromLatin1(c.before));
    // Far enough into a wide edit for the click to land past the mask.
    const int text_width = edit.fontMetrics().horizontalAdvance(edit.displayText());
    QTest::mouseClick(&edit, Qt::LeftButton, {},
                      QPoint(static_cast<int>(text_width * c.click) + 2, 12));
    QTest::keyClicks(&edit, QString::fromLatin1(c.typed));
    EXPECT_EQ(edit.displayText(), QString::fromLatin1(c.shown));
  }
}

}  // namespace
}  // namespace klv::forms
