#include "transfer/Imp1.h"

#include <QFileInfo>
#include <QFrame>
#include <QShowEvent>

#include "forms/DialogRoutines.h"
#include "platform/Prompts.h"
#include "transfer/FormParts.h"
#include "transfer/Import1.h"
#include "transfer/TransferTexts.h"

namespace klv::transfer {

using platform::MsgIcon;
using platform::prompts;

TImportFormat::TImportFormat(app::OpenDatabase& db, QWidget* parent)
    : QDialog(parent), db_(db), state_(db.state()) {
  setObjectName(QStringLiteral("ImportFormat"));
  setWindowTitle(L(texts::kImportFormatCaption));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  setFont(font);

  MyPanel = new QFrame(this);
  MyPanel->setObjectName(QStringLiteral("MyPanel"));
  MyPanel->setFrameShape(QFrame::Panel);
  MyPanel->setFrameShadow(QFrame::Raised);
  MyPanel->setGeometry(8, 8, 260, 84);
  AsciiDelimited = MakeRadio(MyPanel, texts::kAsciiDelimited, "AsciiDelimited", {12, 8, 240, 20});
  DBFFormat = MakeRadio(MyPanel, texts::kDBFFormat, "DBFFormat", {12, 32, 240, 20});
  CsvFormat = MakeRadio(MyPanel, texts::kCsvFormat, "CsvFormat", {12, 56, 240, 20});
  FileButton = MakeButton(this, texts::kFileButton, "FileButton", {28, 102, 100, 27});
  CancelButton = MakeButton(this, texts::kCancelButton, "CancelButton", {148, 102, 100, 27});
  FileButton->setDefault(true);
  resize(276, 138);

  connect(FileButton, &QPushButton::clicked, this, &TImportFormat::FileButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &TImportFormat::CancelButtonClick);
}

void TImportFormat::showEvent(QShowEvent* event) {
  if (!event->spontaneous() && !shown_) {
    FormShow();
    shown_ = true;
  }
  QDialog::showEvent(event);
}

void TImportFormat::FormShow() {
  forms::ScaleAndCentre(this, state_.scale_factor);
  forms::ApplyUserFonts(this, state_.fonts);
  switch (state_.settings.import_file_type) {
    case static_cast<int>(SourceKind::kDbf):
      DBFFormat->setChecked(true);
      break;
    case static_cast<int>(SourceKind::kCsv):
      CsvFormat->setChecked(true);
      break;
    default:
      AsciiDelimited->setChecked(true);
      break;
  }
  SetColors();
}

void TImportFormat::SetColors() {
  const app::ColorGroup& c = state_.settings.colors[app::kConfigureColors];
  Paint(this, c[app::kMainBackground], c[app::kMinorTitle]);
  Paint(MyPanel, c[app::kMainBackground], c[app::kMinorTitle]);
  for (QRadioButton* r : {AsciiDelimited, DBFFormat, CsvFormat})
    Paint(r, c[app::kRadioBackground], c[app::kRadioText]);
  forms::ApplyColorGroup(this, forms::ColorGroupId::kConfigure);
}

void TImportFormat::done(int result) {
  if (!closed_) {
    closed_ = true;
    FormClose();
  }
  QDialog::done(result);
}

void TImportFormat::FormClose() {
  if (DBFFormat->isChecked() && !AsciiDelimited->isChecked()) {
    state_.settings.import_file_type = static_cast<int>(SourceKind::kDbf);
  } else if (CsvFormat->isChecked()) {
    state_.settings.import_file_type = static_cast<int>(SourceKind::kCsv);
  } else {
    state_.settings.import_file_type = static_cast<int>(SourceKind::kAscii);
  }
}

void TImportFormat::FileButtonClick() {
  // A source that cannot be read ends the command through its guard.
  try {
    if (AsciiDelimited->isChecked()) {
      kind_ = SourceKind::kAscii;
      DoAscii();
    } else if (CsvFormat->isChecked()) {
      kind_ = SourceKind::kCsv;
      DoCsv();
    } else {
      kind_ = SourceKind::kDbf;
      DoDBF();
    }
  } catch (const base::Error&) {
    error_ = std::current_exception();
    reject();
  }
}

QString TImportFormat::AskForFile(SourceKind kind) {
  platform::FileDialogRequest request;
  request.title = L(texts::kImportTitle);
  switch (kind) {
    case SourceKind::kAscii:
      request.filter = L(texts::kAsciiFilter);
      request.default_suffix = L(texts::kAsciiExtension);
      break;
    case SourceKind::kCsv:
      request.filter = L(texts::kCsvFilter);
      request.default_suffix = L(texts::kCsvExtension);
      break;
    case SourceKind::kDbf:
      request.filter = L(texts::kDBFOpenFilter);
      request.default_suffix = L(texts::kDBaseExtension);
      break;
  }
  const QFileInfo last(state_.settings.last_import_file);
  request.directory = last.isDir() ? last.filePath() : last.path();
  request.file_must_exist = true;
  request.path_must_exist = true;
  const QString path = prompts().OpenFile(this, request);
  if (!path.isEmpty()) state_.settings.last_import_file = path;
  return path;
}

void TImportFormat::DoAscii() {
  const QString path = AskForFile(SourceKind::kAscii);
  if (path.isEmpty()) return;
  TMyImport form(db_, SourceKind::kAscii, path, this);
  const FirstLine::Problem problem = form.GetFirstLine();
  if (problem != FirstLine::kNone) {
    prompts().Notify(this, L(texts::kError), FirstLineMessage(problem), MsgIcon::kError);
    return;
  }
  form.exec();
  error_ = form.error();
  accept();
}

void TImportFormat::DoCsv() {
  const QString path = AskForFile(SourceKind::kCsv);
  if (path.isEmpty()) return;
  TMyImport form(db_, SourceKind::kCsv, path, this);
  form.GetCsvInfo();
  form.exec();
  error_ = form.error();
  accept();
}

void TImportFormat::DoDBF() {
  const QString path = AskForFile(SourceKind::kDbf);
  if (path.isEmpty()) return;
  if (!path.right(4).toUpper().endsWith(QStringLiteral(".DBF"))) {
    prompts().Notify(this, L(texts::kError), L(texts::kInvalidFileType), MsgIcon::kError);
    return;
  }
  TMyImport form(db_, SourceKind::kDbf, QFileInfo(path).absoluteFilePath(), this);
  form.GetDBFInfo();
  form.exec();
  error_ = form.error();
  accept();
}

void TImportFormat::CancelButtonClick() {
  reject();
}

void DoImport(app::OpenDatabase& db, QWidget* owner) {
  TImportFormat form(db, owner);
  form.exec();
  if (form.error()) std::rethrow_exception(form.error());
}

}  // namespace klv::transfer
