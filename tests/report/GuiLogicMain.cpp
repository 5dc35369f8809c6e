// main() of the report logic tests: laying out pages measures texts in real
// fonts, which needs a QGuiApplication (offscreen unless QT_QPA_PLATFORM
// says otherwise), but never widgets. Questions go to the scripted prompts.
#include <cstdlib>

#include <QGuiApplication>

#include <gtest/gtest.h>

#include "platform/Prompts.h"
#include "support/ScriptedPrompts.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", /*overwrite=*/0);
  testing::InitGoogleTest(&argc, argv);
  QGuiApplication app(argc, argv);
  klv::test::AnswerEveryTestFromAScript();
  const int result = RUN_ALL_TESTS();
  klv::platform::SetPrompts(nullptr);
  return result;
}
