// main() of the test programs for logic that links no widgets: a
// QCoreApplication (for signals and Qt's file classes) and the scripted
// prompts service, as the form tests have it.
#include <QCoreApplication>

#include <gtest/gtest.h>

#include "platform/Prompts.h"
#include "support/ScriptedPrompts.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  QCoreApplication app(argc, argv);
  klv::test::AnswerEveryTestFromAScript();
  const int result = RUN_ALL_TESTS();
  klv::platform::SetPrompts(nullptr);
  return result;
}
