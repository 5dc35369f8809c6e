// The prompts service of the real program: every question is a modal Qt
// dialog (QMessageBox, QFileDialog, QFontDialog, QColorDialog, QPrintDialog,
// QPageSetupDialog). File and directory dialogs are always Qt's own, whose
// name filters ignore letter case. Needs a QApplication.
#pragma once

#include "platform/Prompts.h"

namespace klv::platform {

class QtPrompts final : public Prompts {
 public:
  MsgButton MessageBox(QWidget* parent, const QString& caption, const QString& text, MsgIcon icon,
                       MsgButtons buttons, MsgButton default_button) override;
  void Beep() override;
  QString OpenFile(QWidget* parent, const FileDialogRequest& request) override;
  QString SaveFile(QWidget* parent, const FileDialogRequest& request) override;
  QString ChooseDirectory(QWidget* parent, const QString& title, const QString& directory) override;
  std::optional<QFont> ChooseFont(QWidget* parent, const QFont& initial) override;
  std::optional<QColor> ChooseColor(QWidget* parent, const QColor& initial) override;
  bool PrintDialog(QWidget* parent, QPrinter& printer) override;
  bool PrinterSetup(QWidget* parent, QPrinter& printer) override;
};

// Turns "Description|pattern|..." into a Qt name filter list such as
// "Description (pattern);;...". A description that already ends in its
// pattern in parentheses is kept as it is; ';' between patterns becomes ' '.
QString QtFilterOf(const QString& filter);

}  // namespace klv::platform
