#include "support/ScriptedPrompts.h"

#include <string>

#include <gtest/gtest.h>

namespace klv::platform {

const char* NameOf(MsgButton button) {
  switch (button) {
    case MsgButton::kNone:
      return "None";
    case MsgButton::kOk:
      return "Ok";
    case MsgButton::kCancel:
      return "Cancel";
    case MsgButton::kYes:
      return "Yes";
    case MsgButton::kNo:
      return "No";
    case MsgButton::kRetry:
      return "Retry";
    case MsgButton::kAbort:
      return "Abort";
    case MsgButton::kIgnore:
      return "Ignore";
  }
  return "?";
}

const char* NameOf(MsgButtons buttons) {
  switch (buttons) {
    case MsgButtons::kOk:
      return "Ok";
    case MsgButtons::kOkCancel:
      return "OkCancel";
    case MsgButtons::kYesNo:
      return "YesNo";
    case MsgButtons::kYesNoCancel:
      return "YesNoCancel";
    case MsgButtons::kRetryCancel:
      return "RetryCancel";
    case MsgButtons::kAbortRetryIgnore:
      return "AbortRetryIgnore";
  }
  return "?";
}

const char* NameOf(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::kNone:
      return "None";
    case MsgIcon::kInformation:
      return "Information";
    case MsgIcon::kWarning:
      return "Warning";
    case MsgIcon::kError:
      return "Error";
    case MsgIcon::kQuestion:
      return "Question";
  }
  return "?";
}

}  // namespace klv::platform

namespace klv::test {

using platform::FileDialogRequest;
using platform::MsgButton;
using platform::MsgButtons;
using platform::MsgIcon;

namespace {

std::string Describe(const AskedPrompt& q) {
  std::string out = NameOf(q.kind);
  out += " \"" + q.caption.toStdString() + "\"";
  if (q.kind == PromptKind::kMessage) {
    out += ": \"" + q.text.toStdString() + "\" (" + NameOf(q.buttons) + ", default " +
           NameOf(q.default_button) + ")";
  }
  return out;
}

}  // namespace

const char* NameOf(PromptKind kind) {
  switch (kind) {
    case PromptKind::kMessage:
      return "message box";
    case PromptKind::kOpenFile:
      return "open file dialog";
    case PromptKind::kSaveFile:
      return "save file dialog";
    case PromptKind::kDirectory:
      return "directory dialog";
    case PromptKind::kFont:
      return "font dialog";
    case PromptKind::kColor:
      return "colour dialog";
    case PromptKind::kPrint:
      return "print dialog";
    case PromptKind::kPrinterSetup:
      return "printer setup dialog";
  }
  return "?";
}

void ScriptedPrompts::AnswerMessage(MsgButton answer) {
  Queue(PromptKind::kMessage, {.button = answer});
}

void ScriptedPrompts::ExpectMessage(const QString& caption, const QString& text, MsgButton answer) {
  Queue(PromptKind::kMessage, {.button = answer, .expect_caption = caption, .expect_text = text});
}

void ScriptedPrompts::AnswerOpenFile(const QString& path) {
  Queue(PromptKind::kOpenFile, {.path = path});
}

void ScriptedPrompts::AnswerSaveFile(const QString& path) {
  Queue(PromptKind::kSaveFile, {.path = path});
}

void ScriptedPrompts::AnswerDirectory(const QString& path) {
  Queue(PromptKind::kDirectory, {.path = path});
}

void ScriptedPrompts::AnswerFont(std::optional<QFont> font) {
  Queue(PromptKind::kFont, {.font = std::move(font)});
}

void ScriptedPrompts::AnswerColor(std::optional<QColor> color) {
  Queue(PromptKind::kColor, {.color = color});
}

void ScriptedPrompts::AnswerPrint(bool accept, PrinterSetter configure) {
  Queue(PromptKind::kPrint, {.accept = accept, .configure = std::move(configure)});
}

void ScriptedPrompts::AnswerPrinterSetup(bool accept, PrinterSetter configure) {
  Queue(PromptKind::kPrinterSetup, {.accept = accept, .configure = std::move(configure)});
}

std::vector<AskedPrompt> ScriptedPrompts::Messages() const {
  std::vector<AskedPrompt> out;
  for (const AskedPrompt& q : asked_) {
    if (q.kind == PromptKind::kMessage) out.push_back(q);
  }
  return out;
}

int ScriptedPrompts::PendingAnswers() const {
  int n = 0;
  for (const auto& [kind, queue] : script_) n += static_cast<int>(queue.size());
  return n;
}

void ScriptedPrompts::VerifyAllAnswered() {
  for (const auto& [kind, queue] : script_) {
    for (const Answer& a : queue) {
      std::string what = NameOf(kind);
      if (a.expect_text) what += " \"" + a.expect_text->toStdString() + "\"";
      ADD_FAILURE() << "scripted answer for a " << what << " was never asked for";
    }
  }
  script_.clear();
}

void ScriptedPrompts::Reset() {
  script_.clear();
  asked_.clear();
  beeps_ = 0;
  strict_ = true;
}

std::optional<ScriptedPrompts::Answer> ScriptedPrompts::Ask(AskedPrompt question) {
  question.beeps_before = beeps_;
  asked_.push_back(question);
  auto& queue = script_[question.kind];
  if (queue.empty()) {
    if (strict_) ADD_FAILURE() << "unscripted " << Describe(question);
    return std::nullopt;
  }
  Answer answer = std::move(queue.front());
  queue.pop_front();
  return answer;
}

MsgButton ScriptedPrompts::MessageBox(QWidget* /*parent*/, const QString& caption,
                                      const QString& text, MsgIcon icon, MsgButtons buttons,
                                      MsgButton default_button) {
  AskedPrompt q{.kind = PromptKind::kMessage,
                .caption = caption,
                .text = text,
                .icon = icon,
                .buttons = buttons,
                .default_button = default_button};
  const std::optional<Answer> answer = Ask(q);
  if (!answer) return platform::EffectiveDefault(buttons, default_button);
  if (answer->expect_caption && *answer->expect_caption != caption) {
    ADD_FAILURE() << "message box caption \"" << caption.toStdString() << "\", expected \""
                  << answer->expect_caption->toStdString() << "\" (text \"" << text.toStdString()
                  << "\")";
  }
  if (answer->expect_text && *answer->expect_text != text) {
    ADD_FAILURE() << "message box text\n  \"" << text.toStdString() << "\"\nexpected\n  \""
                  << answer->expect_text->toStdString() << "\"";
  }
  if (!platform::HasButton(buttons, answer->button)) {
    // A user cannot press a button the box does not have.
    ADD_FAILURE() << "scripted answer " << NameOf(answer->button) << " to a box with buttons "
                  << NameOf(buttons) << ": " << Describe(q);
    return platform::EffectiveDefault(buttons, default_button);
  }
  return answer->button;
}

QString ScriptedPrompts::OpenFile(QWidget* /*parent*/, const FileDialogRequest& request) {
  const auto answer =
      Ask({.kind = PromptKind::kOpenFile, .caption = request.title, .file = request});
  return answer ? answer->path : QString();
}

QString ScriptedPrompts::SaveFile(QWidget* /*parent*/, const FileDialogRequest& request) {
  const auto answer =
      Ask({.kind = PromptKind::kSaveFile, .caption = request.title, .file = request});
  return answer ? answer->path : QString();
}

QString ScriptedPrompts::ChooseDirectory(QWidget* /*parent*/, const QString& title,
                                         const QString& directory) {
  const auto answer = Ask({.kind = PromptKind::kDirectory,
                           .caption = title,
                           .file = {.title = title, .directory = directory}});
  return answer ? answer->path : QString();
}

std::optional<QFont> ScriptedPrompts::ChooseFont(QWidget* /*parent*/, const QFont& initial) {
  const auto answer = Ask({.kind = PromptKind::kFont, .font = initial});
  return answer ? answer->font : std::nullopt;
}

std::optional<QColor> ScriptedPrompts::ChooseColor(QWidget* /*parent*/, const QColor& initial) {
  const auto answer = Ask({.kind = PromptKind::kColor, .color = initial});
  return answer ? answer->color : std::nullopt;
}

bool ScriptedPrompts::PrintDialog(QWidget* /*parent*/, QPrinter& printer) {
  const auto answer = Ask({.kind = PromptKind::kPrint});
  if (!answer || !answer->accept) return false;
  if (answer->configure) answer->configure(printer);
  return true;
}

bool ScriptedPrompts::PrinterSetup(QWidget* /*parent*/, QPrinter& printer) {
  const auto answer = Ask({.kind = PromptKind::kPrinterSetup});
  if (!answer || !answer->accept) return false;
  if (answer->configure) answer->configure(printer);
  return true;
}

ScriptedPrompts& TestPrompts() {
  static ScriptedPrompts instance;
  return instance;
}

namespace {

class ScriptedPromptsListener : public testing::EmptyTestEventListener {
 public:
  void OnTestStart(const testing::TestInfo& /*info*/) override {
    TestPrompts().Reset();
    platform::SetPrompts(&TestPrompts());
  }
  // End events reach listeners in reverse order, so a failure added here
  // still shows in the result line of the test it belongs to.
  void OnTestEnd(const testing::TestInfo& /*info*/) override { TestPrompts().VerifyAllAnswered(); }
};

}  // namespace

void AnswerEveryTestFromAScript() {
  platform::SetPrompts(&TestPrompts());
  testing::UnitTest::GetInstance()->listeners().Append(new ScriptedPromptsListener);
}

}  // namespace klv::test
