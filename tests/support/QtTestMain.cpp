// main() of the test programs that need a QApplication (forms, dialogs,
// painting). Runs on the offscreen platform unless QT_QPA_PLATFORM says
// otherwise (set it to "xcb" under Xvfb to look at the windows), and answers
// every question through the scripted prompts service, which starts each test
// empty and must have used all its answers when the test ends.
#include <cstdlib>

#include <QApplication>

#include <gtest/gtest.h>

#include "platform/Prompts.h"
#include "support/ScriptedPrompts.h"

namespace {

// The offscreen platform warns about a window feature it lacks every time a
// dialog is shown; that says nothing about the code under test.
QtMessageHandler g_previous_handler = nullptr;
void FilterQtMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message == QLatin1String("This plugin does not support propagateSizeHints()")) return;
  g_previous_handler(type, context, message);
}

}  // namespace

int main(int argc, char** argv) {
  // Before QApplication: it reads the platform once, at construction.
  setenv("QT_QPA_PLATFORM", "offscreen", /*overwrite=*/0);
  testing::InitGoogleTest(&argc, argv);
  g_previous_handler = qInstallMessageHandler(FilterQtMessages);
  QApplication app(argc, argv);
  klv::platform::SetPrompts(&klv::test::TestPrompts());
  klv::test::AnswerEveryTestFromAScript();
  const int result = RUN_ALL_TESTS();
  klv::platform::SetPrompts(nullptr);
  return result;
}
