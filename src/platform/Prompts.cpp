#include "platform/Prompts.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>

namespace klv::platform {
namespace {

Prompts* g_prompts = nullptr;

constexpr std::array kOk{MsgButton::kOk};
constexpr std::array kOkCancel{MsgButton::kOk, MsgButton::kCancel};
constexpr std::array kYesNo{MsgButton::kYes, MsgButton::kNo};
constexpr std::array kYesNoCancel{MsgButton::kYes, MsgButton::kNo, MsgButton::kCancel};
constexpr std::array kRetryCancel{MsgButton::kRetry, MsgButton::kCancel};
constexpr std::array kAbortRetryIgnore{MsgButton::kAbort, MsgButton::kRetry, MsgButton::kIgnore};

}  // namespace

std::span<const MsgButton> ButtonsOf(MsgButtons buttons) {
  switch (buttons) {
    case MsgButtons::kOk:
      return kOk;
    case MsgButtons::kOkCancel:
      return kOkCancel;
    case MsgButtons::kYesNo:
      return kYesNo;
    case MsgButtons::kYesNoCancel:
      return kYesNoCancel;
    case MsgButtons::kRetryCancel:
      return kRetryCancel;
    case MsgButtons::kAbortRetryIgnore:
      return kAbortRetryIgnore;
  }
  return kOk;
}

bool HasButton(MsgButtons buttons, MsgButton button) {
  const auto set = ButtonsOf(buttons);
  return std::find(set.begin(), set.end(), button) != set.end();
}

MsgButton EffectiveDefault(MsgButtons buttons, MsgButton default_button) {
  return HasButton(buttons, default_button) ? default_button : ButtonsOf(buttons).front();
}

MsgButton DismissAnswer(MsgButtons buttons) {
  for (MsgButton b : {MsgButton::kCancel, MsgButton::kNo, MsgButton::kAbort}) {
    if (HasButton(buttons, b)) return b;
  }
  return ButtonsOf(buttons).front();
}

Prompts& prompts() {
  if (g_prompts == nullptr) {
    std::fputs("klvcoin: the prompts service was used before one was installed\n", stderr);
    std::abort();
  }
  return *g_prompts;
}

Prompts* SetPrompts(Prompts* p) {
  Prompts* previous = g_prompts;
  g_prompts = p;
  return previous;
}

StderrPrompts::StderrPrompts() : previous_(SetPrompts(this)) {}

StderrPrompts::~StderrPrompts() {
  SetPrompts(previous_);
}

MsgButton StderrPrompts::MessageBox(QWidget*, const QString&, const QString& text, MsgIcon,
                                    MsgButtons buttons, MsgButton) {
  std::fprintf(stderr, "klvcoin: %s\n", qPrintable(QString(text).replace('\n', ' ')));
  return DismissAnswer(buttons);
}

int CommandFailure(const QString& message, int status) {
  std::fprintf(stderr, "klvcoin: %s\n", qPrintable(message));
  return status;
}

}  // namespace klv::platform
