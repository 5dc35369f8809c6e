// The prompts service: the one way any part of the program asks the user
// something. Message boxes, beeps and the standard dialogs all go through the
// process-wide Prompts object, so that the real program shows Qt dialogs
// (QtPrompts) while tests answer from a script and check every text asked.
//
// This header pulls in no QtWidgets: logic code that only needs to ask a
// question can include it without linking the widget library. Parents are
// passed as QWidget pointers (declared, never dereferenced here); nullptr is
// always allowed.
#pragma once

#include <optional>
#include <span>

#include <QColor>
#include <QFont>
#include <QString>

class QPrinter;
class QWidget;

namespace klv::platform {

// One of the program's fixed texts (a texts header's literal, UTF-8) as the
// QString a prompt or a control takes.
inline QString L(const char* text) {
  return QString::fromUtf8(text);
}

enum class MsgIcon { kNone, kInformation, kWarning, kError, kQuestion };

// The button sets a message box can offer, buttons in the order shown.
enum class MsgButtons { kOk, kOkCancel, kYesNo, kYesNoCancel, kRetryCancel, kAbortRetryIgnore };

// A button of a message box; also the answer. kNone as a default button means
// "the first button of the set".
enum class MsgButton { kNone, kOk, kCancel, kYes, kNo, kRetry, kAbort, kIgnore };

// What a file dialog is asked to do.
struct FileDialogRequest {
  QString title{};
  QString directory{};  // start directory; empty = current directory
  QString file_name{};  // name preset in the dialog; may be empty
  // Filters as pairs "Description|pattern", several joined by '|', e.g.
  // "Database Files (*.DBF)|*.DBF". Patterns match without regard to case.
  QString filter{};
  QString default_suffix{};       // without the dot, added when the user types none
  bool file_must_exist = false;   // open dialogs: only existing files are accepted
  bool path_must_exist = false;   // the chosen file's directory must exist
  bool overwrite_prompt = false;  // save dialogs: ask before replacing a file
};

class Prompts {
 public:
  virtual ~Prompts() = default;

  // Shows a modal message box and returns the button the user chose. The
  // default button is the one Enter presses; when it is not in the set (or
  // kNone) the first button is the default. A box closed without a choice
  // answers kCancel when the set has Cancel, else kNo when it has No, else kOk
  // (Abort for Abort/Retry/Ignore), so callers never see kNone.
  virtual MsgButton MessageBox(QWidget* parent, const QString& caption, const QString& text,
                               MsgIcon icon, MsgButtons buttons,
                               MsgButton default_button = MsgButton::kNone) = 0;

  // The alert sound played before many questions.
  virtual void Beep() = 0;

  // Return the chosen absolute path, or an empty string when cancelled.
  virtual QString OpenFile(QWidget* parent, const FileDialogRequest& request) = 0;
  virtual QString SaveFile(QWidget* parent, const FileDialogRequest& request) = 0;
  virtual QString ChooseDirectory(QWidget* parent, const QString& title,
                                  const QString& directory) = 0;

  // Return the chosen value, or nothing when cancelled.
  virtual std::optional<QFont> ChooseFont(QWidget* parent, const QFont& initial) = 0;
  virtual std::optional<QColor> ChooseColor(QWidget* parent, const QColor& initial) = 0;

  // The print dialog on printer: returns true when the user asked to print,
  // with printer configured as chosen (printer, copies, page range, file).
  virtual bool PrintDialog(QWidget* parent, QPrinter& printer) = 0;
  // The printer setup (page setup) dialog on printer; true when accepted.
  virtual bool PrinterSetup(QWidget* parent, QPrinter& printer) = 0;

  // Convenience for the commonest box: a text with only an OK button.
  void Notify(QWidget* parent, const QString& caption, const QString& text,
              MsgIcon icon = MsgIcon::kNone) {
    MessageBox(parent, caption, text, icon, MsgButtons::kOk, MsgButton::kOk);
  }
};

// The buttons of a set, in the order shown.
std::span<const MsgButton> ButtonsOf(MsgButtons buttons);
// True when button belongs to the set.
bool HasButton(MsgButtons buttons, MsgButton button);
// The button Enter presses: default_button when it is in the set, else the
// first button.
MsgButton EffectiveDefault(MsgButtons buttons, MsgButton default_button);
// The answer of a box closed without a choice (see Prompts::MessageBox).
MsgButton DismissAnswer(MsgButtons buttons);

// The process-wide prompts service. The program installs a QtPrompts at start,
// tests a ScriptedPrompts. Asking before anything is installed is a
// programming error: it stops the process with a message rather than guess an
// answer on the user's behalf.
Prompts& prompts();
// Installs p (not owned; nullptr uninstalls) and returns the previous one.
Prompts* SetPrompts(Prompts* p);

// The prompts of a run without a window (klvcoin --report and the like):
// nobody can answer, so every message goes to standard error as one line,
// every question takes its dismissal answer and every dialog cancels. It
// is installed for its lifetime and puts the previous service back after.
class StderrPrompts : public Prompts {
 public:
  StderrPrompts();
  ~StderrPrompts() override;
  StderrPrompts(const StderrPrompts&) = delete;
  StderrPrompts& operator=(const StderrPrompts&) = delete;

  MsgButton MessageBox(QWidget*, const QString&, const QString& text, MsgIcon, MsgButtons buttons,
                       MsgButton) override;
  void Beep() override {}
  QString OpenFile(QWidget*, const FileDialogRequest&) override { return {}; }
  QString SaveFile(QWidget*, const FileDialogRequest&) override { return {}; }
  QString ChooseDirectory(QWidget*, const QString&, const QString&) override { return {}; }
  std::optional<QFont> ChooseFont(QWidget*, const QFont&) override { return std::nullopt; }
  std::optional<QColor> ChooseColor(QWidget*, const QColor&) override { return std::nullopt; }
  bool PrintDialog(QWidget*, QPrinter&) override { return false; }
  bool PrinterSetup(QWidget*, QPrinter&) override { return false; }

 private:
  Prompts* previous_;
};

// Writes "klvcoin: message" to standard error and returns status, the exit
// status of a run without a window that failed.
int CommandFailure(const QString& message, int status = 1);

}  // namespace klv::platform
