#include "transfer/Import1.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include <QCheckBox>
#include <QPainter>
#include <QShowEvent>

#include "db/FieldTable.h"
#include "forms/DialogRoutines.h"
#include "platform/HelpViewer.h"
#include "platform/Prompts.h"
#include "transfer/FormParts.h"
#include "transfer/TransferTexts.h"

namespace klv::transfer {

using platform::MsgIcon;
using platform::prompts;

namespace {

constexpr int kRowHeight = 17;
// Where the running count is drawn at factor 1.
constexpr int kCountX = 540;
constexpr int kCountY = 96;

}  // namespace

TMyImport::TMyImport(app::OpenDatabase& db, SourceKind kind, QString path, QWidget* parent)
    : QDialog(parent), db_(db), state_(db.state()), kind_(kind), path_(std::move(path)) {
  setObjectName(QStringLiteral("MyImport"));
  setWindowTitle(L(texts::kImportCaption));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  setFont(font);

  FieldLabel = MakeLabel(this, texts::kFieldLabel, "FieldLabel", {450, 8, 80, 16});
  AlignmentLabel = MakeLabel(this, texts::kAlignmentLabel, "AlignmentLabel", {450, 24, 80, 16});
  UpButton = MakeButton(this, texts::kUpButton, "UpButton", {450, 46, 75, 27});
  DownButton = MakeButton(this, texts::kDownButton, "DownButton", {450, 78, 75, 27});
  ImportLabel = MakeLabel(this, texts::kImportLabel, "ImportLabel", {kCountX, 62, 80, 16});
  CountLabel = MakeLabel(this, texts::kCountLabel, "CountLabel", {kCountX, 78, 80, 16});
  SkipFirst = new QCheckBox(L(texts::kSkipFirst), this);
  SkipFirst->setObjectName(QStringLiteral("SkipFirst"));
  SkipFirst->setGeometry(450, 128, 180, 20);
  StartButton = MakeButton(this, texts::kStartImport, "StartButton", {450, 160, 110, 27});
  ExitButton = MakeButton(this, texts::kExitButton, "ExitButton", {450, 194, 110, 27});
  HelpButton = MakeButton(this, texts::kHelpButton, "HelpButton", {450, 228, 110, 27});
  NoteLabel = MakeLabel(this, texts::kImportNote, "NoteLabel", {440, 266, 190, 96});
  NoteLabel->setWordWrap(true);
  NoteLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  connect(UpButton, &QPushButton::clicked, this, &TMyImport::UpButtonClick);
  connect(DownButton, &QPushButton::clicked, this, &TMyImport::DownButtonClick);
  connect(SkipFirst, &QCheckBox::clicked, this, &TMyImport::SkipFirstClick);
  connect(StartButton, &QPushButton::clicked, this, &TMyImport::StartButtonClick);
  connect(ExitButton, &QPushButton::clicked, this, &TMyImport::ExitButtonClick);
  connect(HelpButton, &QPushButton::clicked, this, &TMyImport::HelpButtonClick);
  resize(640, 377);
  FormCreate();
}

void TMyImport::FormCreate() {
  SkipFirst->setChecked(state_.settings.import_skip_first);
}

FirstLine::Problem TMyImport::GetFirstLine() {
  const std::string path = path_.toStdString();
  const TextEncoding encoding = DetectTextEncoding(path);
  ByteReader in(path);
  const FirstLine line = ScanFirstLine(in, encoding);
  names_.clear();
  if (line.problem == FirstLine::kNone)
    for (const std::string& v : line.values) names_ << SourceFieldName(v);
  list_ = ImportList(names_);
  return line.problem;
}

void TMyImport::GetDBFInfo() {
  names_ = DbfSourceNames(path_);
  list_ = ImportList(names_);
}

void TMyImport::GetCsvInfo() {
  names_ = CsvSourceNames(path_);
  list_ = ImportList(names_);
}

void TMyImport::showEvent(QShowEvent* event) {
  if (!event->spontaneous() && !shown_) {
    FormShow();
    shown_ = true;
  }
  QDialog::showEvent(event);
}

void TMyImport::FormShow() {
  const double factor = forms::EffectiveScaleFactor(state_.scale_factor);
  switch (kind_) {
    case SourceKind::kAscii:
      setWindowTitle(L(texts::kAsciiImportCaption));
      break;
    case SourceKind::kCsv:
      setWindowTitle(L(texts::kCsvImportCaption));
      break;
    case SourceKind::kDbf:
      setWindowTitle(L(texts::kDBaseImportCaption));
      SkipFirst->hide();
      SkipFirst->setEnabled(false);
      break;
  }
  ImportGrid = MakeGrid(this, "ImportGrid", list_.rows() + 1, 3);
  ImportGrid->setGeometry(8, 8, 420, (db::kFieldCount + 1) * kRowHeight + 4);
  connect(ImportGrid, &QTableWidget::cellDoubleClicked, this,
          [this](int row, int column) { ImportGridDblClick(row, column); });
  ImportGrid->show();
  forms::ScaleAndCentre(this, state_.scale_factor);
  forms::ApplyUserFonts(this, state_.fonts);
  forms::MoveUpTenPixels(this);
  const int widths[3] = {179, 179, 38};
  for (int c = 0; c < 3; ++c) ImportGrid->setColumnWidth(c, static_cast<int>(widths[c] * factor));
  ImportGrid->resize(static_cast<int>((400 + 20) * factor), ImportGrid->height());
  for (int r = 0; r <= list_.rows(); ++r)
    ImportGrid->setRowHeight(r, static_cast<int>(kRowHeight * factor));
  ImportGrid->item(0, 0)->setText(L(texts::kKolvaneFields));
  ImportGrid->item(0, 1)->setText(L(texts::kImportFields));
  ImportGrid->item(0, 2)->setText(L(texts::kUse));
  const app::PerField<QString> labels = DisplayLabels(state_.settings);
  for (int r = 1; r <= db::kFieldCount; ++r)
    ImportGrid->item(r, 0)->setText(labels[static_cast<size_t>(r)]);
  FillGrid();
  ImportGrid->setCurrentCell(1, 1);
  SetColors();
}

void TMyImport::SetColors() {
  const app::ColorGroup& c = state_.settings.colors[app::kConfigureColors];
  Paint(this, c[app::kMainBackground], c[app::kMinorTitle]);
  for (QLabel* l : {FieldLabel, AlignmentLabel, ImportLabel, CountLabel, NoteLabel})
    Paint(l, c[app::kMainBackground], c[app::kMinorTitle], false);
  if (ImportGrid) Paint(ImportGrid, c[app::kListBoxBackground], c[app::kListBoxText]);
  Paint(SkipFirst, c[app::kCheckBackground], c[app::kCheckText]);
  forms::ApplyColorGroup(this, forms::ColorGroupId::kConfigure);
}

void TMyImport::FillGrid() {
  if (!ImportGrid) return;
  for (int r = 1; r <= list_.rows(); ++r) {
    ImportGrid->item(r, 1)->setText(list_.row(r).source);
    ImportGrid->item(r, 2)->setText(list_.row(r).use);
  }
}

void TMyImport::UpButtonClick() {
  const int row = ImportGrid ? ImportGrid->currentRow() : -1;
  if (!list_.Up(row)) return;
  FillGrid();
  ImportGrid->setCurrentCell(row - 1, std::max(0, ImportGrid->currentColumn()));
}

void TMyImport::DownButtonClick() {
  const int row = ImportGrid ? ImportGrid->currentRow() : -1;
  if (!list_.Down(row)) return;
  FillGrid();
  ImportGrid->setCurrentCell(row + 1, std::max(0, ImportGrid->currentColumn()));
}

void TMyImport::SkipFirstClick() {
  state_.settings.import_skip_first = SkipFirst->isChecked();
}

void TMyImport::ImportGridDblClick(int row, int column) {
  if (column != 2 || row < 1) return;
  list_.Toggle(row);
  FillGrid();
}

QPoint TMyImport::CountPosition() const {
  const double factor = shown_ ? forms::EffectiveScaleFactor(state_.scale_factor) : 1.0;
  return {static_cast<int>(std::lround(kCountX * factor)),
          static_cast<int>(std::lround(kCountY * factor))};
}

void TMyImport::paintEvent(QPaintEvent* event) {
  QDialog::paintEvent(event);
  QPainter painter(this);
  painter.setFont(font());
  painter.setPen(palette().color(QPalette::WindowText));
  const QPoint at = CountPosition();
  painter.drawText(QRect(at, QSize(width() - at.x(), fontMetrics().height() + 2)),
                   Qt::AlignLeft | Qt::AlignTop, FormatCount(count_));
}

void TMyImport::StartButtonClick() {
  ImportRequest request;
  request.kind = kind_;
  request.path = path_;
  request.skip_first = kind_ != SourceKind::kDbf && state_.settings.import_skip_first;
  request.field_map = list_.FieldMap();
  request.batch = batch_;
  count_ = 0;
  request.progress = [this](uint64_t rows, double) {
    count_ = rows;
    repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  };
  ImportResult result;
  try {
    WaitCursor wait;
    result = RunImport(db_, request);
  } catch (const base::Error&) {
    error_ = std::current_exception();
    reject();
    return;
  }
  count_ = result.rows;
  repaint();
  if (result.stop == ImportResult::Stop::kNone) {
    prompts().Notify(this, L(texts::kOk), ImportMessage(result, kind_), MsgIcon::kInformation);
  } else {
    prompts().Notify(this, L(texts::kError), ImportMessage(result, kind_), MsgIcon::kError);
  }
  accept();
}

void TMyImport::ExitButtonClick() {
  reject();
}

void TMyImport::HelpButtonClick() {
  platform::ShowHelp(this, L(texts::kImportHelpKeyword));
}

}  // namespace klv::transfer
