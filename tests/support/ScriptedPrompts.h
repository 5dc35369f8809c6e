// The prompts service of the tests. Every question is answered from a script
// set up by the test beforehand and recorded, so a test can check each
// caption, text, icon, button set and default button exactly as the user would
// have seen it.
//
// Answers are queued per kind of question (message box, open file, ...) and
// used in order. A question with no answer scripted is a test failure
// (ADD_FAILURE naming the question) and gets the answer a user pressing Enter
// would give: the default button of a message box, "cancel" for a dialog. A
// test that does not care about some boxes can turn that failure off with
// set_strict(false). Answers scripted but never asked for are reported by
// VerifyAllAnswered(); the GUI test main calls it after every test.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <vector>

#include <QColor>
#include <QFont>
#include <QString>

#include "platform/Prompts.h"

// Test failure messages show QString values as text.
inline void PrintTo(const QString& s, std::ostream* os) {
  *os << '"' << s.toStdString() << '"';
}

namespace klv::platform {

// Readable names in test failure messages.
const char* NameOf(MsgButton button);
const char* NameOf(MsgButtons buttons);
const char* NameOf(MsgIcon icon);
inline void PrintTo(MsgButton button, std::ostream* os) {
  *os << NameOf(button);
}
inline void PrintTo(MsgButtons buttons, std::ostream* os) {
  *os << NameOf(buttons);
}
inline void PrintTo(MsgIcon icon, std::ostream* os) {
  *os << NameOf(icon);
}

}  // namespace klv::platform

namespace klv::test {

enum class PromptKind {
  kMessage,
  kOpenFile,
  kSaveFile,
  kDirectory,
  kFont,
  kColor,
  kPrint,
  kPrinterSetup
};
const char* NameOf(PromptKind kind);
inline void PrintTo(PromptKind kind, std::ostream* os) {
  *os << NameOf(kind);
}

// One question as it was asked.
struct AskedPrompt {
  PromptKind kind = PromptKind::kMessage;
  QString caption{};  // message box caption or dialog title
  QString text{};     // message box text
  platform::MsgIcon icon = platform::MsgIcon::kNone;
  platform::MsgButtons buttons = platform::MsgButtons::kOk;
  platform::MsgButton default_button = platform::MsgButton::kNone;  // as the caller passed it
  platform::FileDialogRequest file{};  // file dialogs; the directory chooser fills title, directory
  QFont font{};                        // font dialog: the initial font
  QColor color{};                      // colour dialog: the initial colour
  int beeps_before = 0;                // beeps sounded before this question, in all
};

class ScriptedPrompts : public platform::Prompts {
 public:
  using PrinterSetter = std::function<void(QPrinter&)>;

  // Scripting: each call queues the answer to the next question of its kind.
  void AnswerMessage(platform::MsgButton answer);
  // Also checks that the box answered has exactly this caption and text.
  void ExpectMessage(const QString& caption, const QString& text, platform::MsgButton answer);
  void AnswerOpenFile(const QString& path);       // "" = cancelled
  void AnswerSaveFile(const QString& path);       // "" = cancelled
  void AnswerDirectory(const QString& path);      // "" = cancelled
  void AnswerFont(std::optional<QFont> font);     // nullopt = cancelled
  void AnswerColor(std::optional<QColor> color);  // nullopt = cancelled
  // accept = false cancels; configure, when given, sets up the printer as the
  // user would have in the dialog (copies, page range, output file).
  void AnswerPrint(bool accept, PrinterSetter configure = {});
  void AnswerPrinterSetup(bool accept, PrinterSetter configure = {});

  // What was asked, in order (beeps are counted, not listed).
  const std::vector<AskedPrompt>& asked() const { return asked_; }
  // The message boxes among them.
  std::vector<AskedPrompt> Messages() const;
  int beeps() const { return beeps_; }
  // Scripted answers not used yet.
  int PendingAnswers() const;

  // Reports every scripted answer not asked for as a test failure.
  void VerifyAllAnswered();
  // Forgets script, record and beep count; strict again.
  void Reset();
  void set_strict(bool strict) { strict_ = strict; }

  // Prompts
  platform::MsgButton MessageBox(QWidget* parent, const QString& caption, const QString& text,
                                 platform::MsgIcon icon, platform::MsgButtons buttons,
                                 platform::MsgButton default_button) override;
  void Beep() override { ++beeps_; }
  QString OpenFile(QWidget* parent, const platform::FileDialogRequest& request) override;
  QString SaveFile(QWidget* parent, const platform::FileDialogRequest& request) override;
  QString ChooseDirectory(QWidget* parent, const QString& title, const QString& directory) override;
  std::optional<QFont> ChooseFont(QWidget* parent, const QFont& initial) override;
  std::optional<QColor> ChooseColor(QWidget* parent, const QColor& initial) override;
  bool PrintDialog(QWidget* parent, QPrinter& printer) override;
  bool PrinterSetup(QWidget* parent, QPrinter& printer) override;

 private:
  struct Answer {
    platform::MsgButton button = platform::MsgButton::kNone;
    std::optional<QString> expect_caption{};
    std::optional<QString> expect_text{};
    QString path{};
    std::optional<QFont> font{};
    std::optional<QColor> color{};
    bool accept = false;
    PrinterSetter configure{};
  };

  // Records the question; returns its scripted answer, or nothing (after
  // reporting it when strict) when none is queued.
  std::optional<Answer> Ask(AskedPrompt question);
  void Queue(PromptKind kind, Answer answer) { script_[kind].push_back(std::move(answer)); }

  std::map<PromptKind, std::deque<Answer>> script_;
  std::vector<AskedPrompt> asked_;
  int beeps_ = 0;
  bool strict_ = true;
};

// The scripted prompts service the GUI test main installs for the whole run
// and resets before every test.
ScriptedPrompts& TestPrompts();

// Makes TestPrompts() the prompts service, empty at the start of every test
// and checked at its end for answers never asked for. The test mains call it.
void AnswerEveryTestFromAScript();

}  // namespace klv::test
