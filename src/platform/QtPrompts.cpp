#include "platform/QtPrompts.h"

#include <QApplication>
#include <QColorDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QStringList>

#include "platform/PlatformTexts.h"

namespace klv::platform {
namespace {

QMessageBox::StandardButton ToQt(MsgButton button) {
  switch (button) {
    case MsgButton::kOk:
      return QMessageBox::Ok;
    case MsgButton::kCancel:
      return QMessageBox::Cancel;
    case MsgButton::kYes:
      return QMessageBox::Yes;
    case MsgButton::kNo:
      return QMessageBox::No;
    case MsgButton::kRetry:
      return QMessageBox::Retry;
    case MsgButton::kAbort:
      return QMessageBox::Abort;
    case MsgButton::kIgnore:
      return QMessageBox::Ignore;
    case MsgButton::kNone:
      break;
  }
  return QMessageBox::NoButton;
}

QMessageBox::Icon ToQt(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::kInformation:
      return QMessageBox::Information;
    case MsgIcon::kWarning:
      return QMessageBox::Warning;
    case MsgIcon::kError:
      return QMessageBox::Critical;
    case MsgIcon::kQuestion:
      return QMessageBox::Question;
    case MsgIcon::kNone:
      break;
  }
  return QMessageBox::NoIcon;
}

// Runs a configured file dialog until it yields an acceptable path. Qt's own
// dialog accepts a typed name in a directory that does not exist; callers that
// asked for an existing path get the dialog again instead.
QString RunFileDialog(QFileDialog& dialog, const FileDialogRequest& request) {
  for (;;) {
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return {};
    const QFileInfo chosen(files.front());
    if (request.path_must_exist && !chosen.absoluteDir().exists()) {
      QMessageBox::warning(&dialog, dialog.windowTitle(),
                           QString::fromLatin1(texts::kFolderMissing)
                               .arg(QDir::toNativeSeparators(chosen.absolutePath())));
      continue;
    }
    return chosen.absoluteFilePath();
  }
}

void Configure(QFileDialog& dialog, const FileDialogRequest& request) {
  // Qt's own dialog everywhere: a desktop's native one may match "*.DBF"
  // case-sensitively and hide "coins.dbf" copied from another system.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setWindowTitle(request.title);
  if (!request.directory.isEmpty()) dialog.setDirectory(request.directory);
  if (!request.file_name.isEmpty()) dialog.selectFile(request.file_name);
  const QString filter = QtFilterOf(request.filter);
  if (!filter.isEmpty()) dialog.setNameFilters(filter.split(QStringLiteral(";;")));
  dialog.setDefaultSuffix(request.default_suffix);
}

}  // namespace

QString QtFilterOf(const QString& filter) {
  if (filter.isEmpty()) return {};
  const QStringList parts = filter.split(u'|');
  QStringList out;
  for (qsizetype i = 0; i < parts.size(); i += 2) {
    const QString description = parts[i].trimmed();
    QString patterns = i + 1 < parts.size() ? parts[i + 1].trimmed() : QStringLiteral("*");
    patterns.replace(u';', u' ');
    patterns = patterns.simplified();
    const QString suffix = QStringLiteral("(%1)").arg(patterns);
    if (description.endsWith(suffix)) {
      out << description;
    } else if (description.isEmpty()) {
      out << suffix;
    } else {
      out << description + u' ' + suffix;
    }
  }
  return out.join(QStringLiteral(";;"));
}

MsgButton QtPrompts::MessageBox(QWidget* parent, const QString& caption, const QString& text,
                                MsgIcon icon, MsgButtons buttons, MsgButton default_button) {
  QMessageBox box(ToQt(icon), caption, text, QMessageBox::NoButton, parent);
  // Texts are shown as given: a path with '<' or '&' is no markup.
  box.setTextFormat(Qt::PlainText);
  for (MsgButton b : ButtonsOf(buttons)) box.addButton(ToQt(b));
  box.setDefaultButton(ToQt(EffectiveDefault(buttons, default_button)));
  box.setEscapeButton(box.button(ToQt(DismissAnswer(buttons))));
  box.exec();
  if (QAbstractButton* clicked = box.clickedButton()) {
    for (MsgButton b : ButtonsOf(buttons)) {
      if (box.standardButton(clicked) == ToQt(b)) return b;
    }
  }
  return DismissAnswer(buttons);
}

void QtPrompts::Beep() {
  QApplication::beep();
}

QString QtPrompts::OpenFile(QWidget* parent, const FileDialogRequest& request) {
  QFileDialog dialog(parent);
  Configure(dialog, request);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(request.file_must_exist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  return RunFileDialog(dialog, request);
}

QString QtPrompts::SaveFile(QWidget* parent, const FileDialogRequest& request) {
  QFileDialog dialog(parent);
  Configure(dialog, request);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwrite_prompt);
  return RunFileDialog(dialog, request);
}

QString QtPrompts::ChooseDirectory(QWidget* parent, const QString& title,
                                   const QString& directory) {
  QFileDialog dialog(parent);
  Configure(dialog, {.title = title, .directory = directory});
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  return RunFileDialog(dialog, {});
}

std::optional<QFont> QtPrompts::ChooseFont(QWidget* parent, const QFont& initial) {
  QFontDialog dialog(initial, parent);
  // The dialog lists the installed families only: a font not installed here
  // shows as the family standing in for it.
  const QFont shown = dialog.currentFont();
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  QFont font = dialog.selectedFont();
  // Left as it opened, the font stays as stored; left on the stand-in
  // family, it keeps its own name (and is drawn with the stand-in as before).
  if (font == shown) return initial;
  if (font.family() == shown.family()) font.setFamily(initial.family());
  return font;
}

std::optional<QColor> QtPrompts::ChooseColor(QWidget* parent, const QColor& initial) {
  const QColor color = QColorDialog::getColor(initial, parent);
  if (!color.isValid()) return std::nullopt;
  return color;
}

bool QtPrompts::PrintDialog(QWidget* parent, QPrinter& printer) {
  QPrintDialog dialog(&printer, parent);
  return dialog.exec() == QDialog::Accepted;
}

bool QtPrompts::PrinterSetup(QWidget* parent, QPrinter& printer) {
  QPageSetupDialog dialog(&printer, parent);
  return dialog.exec() == QDialog::Accepted;
}

}  // namespace klv::platform
