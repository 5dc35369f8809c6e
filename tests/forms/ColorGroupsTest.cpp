// The colour-group hook: without colours installed a form keeps its palette;
// installed colours are asked for each form's group until they are removed.
#include "forms/ColorGroups.h"

#include <gtest/gtest.h>

#include <QPalette>
#include <QWidget>

#include "support/RecordedColors.h"

namespace klv::forms {
namespace {

TEST(ColorGroupsTest, FormsAskTheInstalledColoursOrKeepTheirPalette) {
  QWidget form;
  QPalette palette = form.palette();
  palette.setColor(QPalette::Window, Qt::darkCyan);
  form.setPalette(palette);
  ApplyColorGroup(&form, ColorGroupId::kSearch);
  EXPECT_EQ(form.palette().color(QPalette::Window), QColor(Qt::darkCyan));
  {
    test::RecordedColors colors;
    ApplyColorGroup(&form, ColorGroupId::kReport);
    ApplyColorGroup(nullptr, ColorGroupId::kMain);
    ASSERT_EQ(colors.asked.size(), 1u);
    EXPECT_EQ(colors.asked[0].first, &form);
    EXPECT_EQ(colors.asked[0].second, ColorGroupId::kReport);
  }
  EXPECT_EQ(InstalledFormColors(), nullptr);
  ApplyColorGroup(&form, ColorGroupId::kEdit);  // nobody to ask any more
  EXPECT_EQ(form.palette().color(QPalette::Window), QColor(Qt::darkCyan));
}

}  // namespace
}  // namespace klv::forms
