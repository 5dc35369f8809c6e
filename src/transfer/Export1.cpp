#include "transfer/Export1.h"

#include <algorithm>
#include <cstdint>

#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QTableWidget>

#include "forms/ColorGroups.h"
#include "forms/DialogRoutines.h"
#include "platform/HelpViewer.h"
#include "platform/Prompts.h"
#include "transfer/FormParts.h"
#include "transfer/TransferTexts.h"

namespace klv::transfer {

using platform::MsgButton;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::prompts;

namespace {

constexpr int kRowHeight = 17;

}  // namespace

TMyExport::TMyExport(app::OpenDatabase& db, QWidget* parent)
    : QDialog(parent), db_(db), state_(db.state()) {
  setObjectName(QStringLiteral("MyExport"));
  setWindowTitle(L(texts::kExportCaption));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  setFont(font);

  ExportGrid = MakeGrid(this, "ExportGrid", ExportList::kRows + 1, 2);
  ExportGrid->setGeometry(8, 8, 320, (ExportList::kRows + 1) * kRowHeight + 4);
  UpButton = MakeButton(this, texts::kUpButton, "UpButton", {340, 8, 90, 27});
  DownButton = MakeButton(this, texts::kDownButton, "DownButton", {340, 40, 90, 27});
  DefaultsButton = MakeButton(this, texts::kDefaultsButton, "DefaultsButton", {340, 72, 90, 27});
  NoteLabel = MakeLabel(this, texts::kExportNote, "NoteLabel", {440, 8, 190, 90});
  NoteLabel->setWordWrap(true);
  NoteLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  WhatPanel = new QGroupBox(L(texts::kWhatToExport), this);
  WhatPanel->setObjectName(QStringLiteral("WhatPanel"));
  WhatPanel->setGeometry(340, 106, 290, 66);
  ExportEntire = MakeRadio(WhatPanel, texts::kExportEntire, "ExportEntire", {10, 20, 270, 20});
  ExportSearch = MakeRadio(WhatPanel, texts::kExportSearch, "ExportSearch", {10, 42, 270, 20});

  HowPanel = new QGroupBox(L(texts::kHowToExport), this);
  HowPanel->setObjectName(QStringLiteral("HowPanel"));
  HowPanel->setGeometry(340, 178, 290, 132);
  AsciiFile = MakeRadio(HowPanel, texts::kAsciiFile, "AsciiFile", {10, 20, 270, 20});
  DBaseFile = MakeRadio(HowPanel, texts::kDBaseFile, "DBaseFile", {10, 42, 270, 20});
  CsvFile = MakeRadio(HowPanel, texts::kCsvFile, "CsvFile", {10, 64, 270, 20});
  Csv1252File = MakeRadio(HowPanel, texts::kCsv1252File, "Csv1252File", {10, 86, 270, 20});
  XlsxFile = MakeRadio(HowPanel, texts::kXlsxFile, "XlsxFile", {10, 108, 270, 20});

  FirstRow = new QCheckBox(L(texts::kFirstRow), this);
  FirstRow->setObjectName(QStringLiteral("FirstRow"));
  FirstRow->setGeometry(340, 316, 290, 20);
  StartExportButton =
      MakeButton(this, texts::kStartExport, "StartExportButton", {340, 342, 90, 27});
  ExitButton = MakeButton(this, texts::kExitButton, "ExitButton", {440, 342, 90, 27});
  HelpButton = MakeButton(this, texts::kHelpButton, "HelpButton", {540, 342, 90, 27});

  GaugeLabel = MakeLabel(this, texts::kExportProgress, "GaugeLabel", {8, 378, 200, 16});
  MyGauge = new QProgressBar(this);
  MyGauge->setObjectName(QStringLiteral("MyGauge"));
  MyGauge->setGeometry(8, 396, 622, 18);
  MyGauge->setTextVisible(false);
  MyGauge->setRange(0, 1);
  MyGauge->setValue(0);
  MyGauge->setStyleSheet(QStringLiteral("QProgressBar::chunk { background-color: red; }"));
  resize(640, 424);

  connect(ExportGrid, &QTableWidget::cellDoubleClicked, this,
          [this](int row, int column) { ExportGridDblClick(row, column); });
  connect(UpButton, &QPushButton::clicked, this, &TMyExport::UpButtonClick);
  connect(DownButton, &QPushButton::clicked, this, &TMyExport::DownButtonClick);
  connect(DefaultsButton, &QPushButton::clicked, this, &TMyExport::DefaultsButtonClick);
  connect(FirstRow, &QCheckBox::clicked, this, &TMyExport::FirstRowClick);
  connect(AsciiFile, &QRadioButton::clicked, this, &TMyExport::AsciiFileClick);
  connect(CsvFile, &QRadioButton::clicked, this, &TMyExport::AsciiFileClick);
  connect(Csv1252File, &QRadioButton::clicked, this, &TMyExport::AsciiFileClick);
  connect(XlsxFile, &QRadioButton::clicked, this, &TMyExport::AsciiFileClick);
  connect(DBaseFile, &QRadioButton::clicked, this, &TMyExport::DBaseFileClick);
  connect(StartExportButton, &QPushButton::clicked, this, &TMyExport::StartExportButtonClick);
  connect(ExitButton, &QPushButton::clicked, this, &TMyExport::ExitButtonClick);
  connect(HelpButton, &QPushButton::clicked, this, &TMyExport::HelpButtonClick);
  FormCreate();
}

void TMyExport::FormCreate() {
  FirstRow->setChecked(state_.settings.export_first_row);
  labels_ = DisplayLabels(state_.settings);
  list_ = ExportList::FromSettings(state_.settings, labels_);
}

void TMyExport::showEvent(QShowEvent* event) {
  if (!event->spontaneous() && !shown_) {
    FormShow();
    shown_ = true;
  }
  QDialog::showEvent(event);
}

void TMyExport::FormShow() {
  const double factor = forms::EffectiveScaleFactor(state_.scale_factor);
  forms::ScaleAndCentre(this, state_.scale_factor);
  forms::ApplyUserFonts(this, state_.fonts);
  forms::MoveUpTenPixels(this);
  ExportGrid->setColumnWidth(0, static_cast<int>(200 * factor));
  ExportGrid->setColumnWidth(1, static_cast<int>(100 * factor));
  ExportGrid->resize(static_cast<int>((300 + 20) * factor), ExportGrid->height());
  for (int r = 0; r <= ExportList::kRows; ++r)
    ExportGrid->setRowHeight(r, static_cast<int>(kRowHeight * factor));
  ExportGrid->item(0, 0)->setText(L(texts::kExportFieldHeader));
  ExportGrid->item(0, 1)->setText(L(texts::kExportItHeader));
  FillGrid();
  ExportGrid->setCurrentCell(1, 0);
  SetColors();
  if (db_.searching()) {
    ExportSearch->setEnabled(true);
    ExportSearch->setChecked(true);
  } else {
    ExportSearch->setEnabled(false);
    ExportEntire->setChecked(true);
  }
  switch (state_.settings.export_file_type) {
    case static_cast<int>(ExportKind::kDbf):
      DBaseFile->setChecked(true);
      DBaseFileClick();
      break;
    case static_cast<int>(ExportKind::kCsv):
      CsvFile->setChecked(true);
      break;
    case static_cast<int>(ExportKind::kCsv1252):
      Csv1252File->setChecked(true);
      break;
    case static_cast<int>(ExportKind::kXlsx):
      XlsxFile->setChecked(true);
      break;
    default:
      AsciiFile->setChecked(true);
      break;
  }
}

void TMyExport::SetColors() {
  const app::ColorGroup& c = state_.settings.colors[app::kConfigureColors];
  Paint(this, c[app::kMainBackground], c[app::kMinorTitle]);
  for (QWidget* w : {static_cast<QWidget*>(NoteLabel), static_cast<QWidget*>(GaugeLabel),
                     static_cast<QWidget*>(WhatPanel), static_cast<QWidget*>(HowPanel)})
    Paint(w, c[app::kMainBackground], c[app::kMinorTitle], false);
  Paint(ExportGrid, c[app::kListBoxBackground], c[app::kListBoxText]);
  Paint(FirstRow, c[app::kCheckBackground], c[app::kCheckText]);
  for (QRadioButton* r :
       {ExportEntire, ExportSearch, AsciiFile, DBaseFile, CsvFile, Csv1252File, XlsxFile})
    Paint(r, c[app::kRadioBackground], c[app::kRadioText]);
  forms::ApplyColorGroup(this, forms::ColorGroupId::kConfigure);
}

void TMyExport::FillGrid() {
  for (int r = 1; r <= ExportList::kRows; ++r) {
    ExportGrid->item(r, 0)->setText(list_.row(r).label);
    ExportGrid->item(r, 1)->setText(list_.row(r).use);
  }
}

void TMyExport::ExportGridDblClick(int row, int column) {
  if (column != 1 || row < 1 || row > ExportList::kRows) return;
  list_.Toggle(row);
  FillGrid();
}

void TMyExport::UpButtonClick() {
  const int row = ExportGrid->currentRow();
  if (!list_.Up(row)) return;
  FillGrid();
  ExportGrid->setCurrentCell(row - 1, std::max(0, ExportGrid->currentColumn()));
}

void TMyExport::DownButtonClick() {
  const int row = ExportGrid->currentRow();
  if (!list_.Down(row)) return;
  FillGrid();
  ExportGrid->setCurrentCell(row + 1, std::max(0, ExportGrid->currentColumn()));
}

void TMyExport::DefaultsButtonClick() {
  if (prompts().MessageBox(this, L(texts::kReOrder), L(texts::kReOrderQuestion), MsgIcon::kQuestion,
                           MsgButtons::kYesNo) != MsgButton::kYes)
    return;
  list_.Defaults(labels_);
  FillGrid();
}

void TMyExport::FirstRowClick() {
  state_.settings.export_first_row = FirstRow->isChecked();
}

void TMyExport::AsciiFileClick() {
  FirstRow->show();
  FirstRow->setEnabled(true);
}

void TMyExport::DBaseFileClick() {
  FirstRow->hide();
  FirstRow->setEnabled(false);
}

ExportKind TMyExport::ChosenKind() const {
  if (DBaseFile->isChecked()) return ExportKind::kDbf;
  if (CsvFile->isChecked()) return ExportKind::kCsv;
  if (Csv1252File->isChecked()) return ExportKind::kCsv1252;
  if (XlsxFile->isChecked()) return ExportKind::kXlsx;
  return ExportKind::kAscii;
}

void TMyExport::UpdateConfigs() {
  list_.StoreIn(state_.settings, labels_);
}

std::vector<ExportColumn> TMyExport::CalcIndexOrder() {
  UpdateConfigs();
  return ExportColumns(state_.settings, labels_, db_.MyTable());
}

void TMyExport::StartExportButtonClick() {
  const std::vector<ExportColumn> columns = CalcIndexOrder();
  if (columns.empty()) {
    prompts().Notify(this, L(texts::kError), L(texts::kNoFieldsSelected), MsgIcon::kError);
    return;
  }
  DoExport(ChosenKind(), columns);
}

void TMyExport::DoExport(ExportKind kind, const std::vector<ExportColumn>& columns) {
  platform::FileDialogRequest request;
  request.title = L(texts::kExportTitle);
  switch (kind) {
    case ExportKind::kDbf:
      request.filter = L(texts::kDBaseFilter);
      request.default_suffix = L(texts::kDBaseExtension);
      break;
    case ExportKind::kCsv:
    case ExportKind::kCsv1252:
      request.filter = L(texts::kCsvFilter);
      request.default_suffix = L(texts::kCsvExtension);
      break;
    case ExportKind::kXlsx:
      request.filter = L(texts::kXlsxFilter);
      request.default_suffix = L(texts::kXlsxExtension);
      break;
    case ExportKind::kAscii:
      request.filter = L(texts::kAsciiFilter);
      request.default_suffix = L(texts::kAsciiExtension);
      break;
  }
  const QFileInfo last(state_.settings.last_export_file);
  request.directory = last.isDir() ? last.filePath() : last.path();
  request.overwrite_prompt = true;
  request.path_must_exist = true;
  const QString path = prompts().SaveFile(this, request);
  if (path.isEmpty()) return;
  if (kind == ExportKind::kDbf && !path.right(4).toUpper().endsWith(QStringLiteral(".DBF"))) {
    prompts().Notify(this, L(texts::kError), L(texts::kInvalidFileType), MsgIcon::kError);
    return;
  }
  state_.settings.last_export_file = path;

  ExportRequest run;
  run.kind = kind;
  run.search_set = !ExportEntire->isChecked();
  run.header = kind != ExportKind::kDbf && state_.settings.export_first_row;
  run.path = path;
  MyGauge->setRange(0, 1);
  MyGauge->setValue(0);
  run.progress = [this](uint64_t done, uint64_t total) {
    MyGauge->setMaximum(
        static_cast<int>(std::min<uint64_t>(std::max<uint64_t>(total, 1), INT32_MAX)));
    MyGauge->setValue(
        static_cast<int>(std::min<uint64_t>(done, static_cast<uint64_t>(MyGauge->maximum()))));
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  };
  try {
    WaitCursor wait;
    RunExport(db_, columns, run);
  } catch (const base::Error&) {
    error_ = std::current_exception();
    MyGauge->setValue(0);
    reject();
    return;
  }
  prompts().Notify(this, L(texts::kOk), L(texts::kExportComplete), MsgIcon::kInformation);
  MyGauge->setValue(0);
  accept();
}

void TMyExport::done(int result) {
  if (!closed_) {
    closed_ = true;
    FormClose();
  }
  QDialog::done(result);
}

void TMyExport::FormClose() {
  state_.settings.export_file_type = static_cast<int>(ChosenKind());
  UpdateConfigs();
}

void TMyExport::ExitButtonClick() {
  reject();
}

void TMyExport::HelpButtonClick() {
  platform::ShowHelp(this, L(texts::kExportHelpKeyword));
}

void DoExport(app::OpenDatabase& db, QWidget* owner) {
  TMyExport form(db, owner);
  form.exec();
  if (form.error()) std::rethrow_exception(form.error());
}

}  // namespace klv::transfer
