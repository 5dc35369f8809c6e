#include "app/RecallDeleted.h"

#include <stdexcept>

#include <QHeaderView>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QShowEvent>
#include <QTableWidget>

#include "app/AppTexts.h"
#include "db/DbTexts.h"
#include "forms/ColorGroups.h"
#include "forms/DialogRoutines.h"
#include "platform/Prompts.h"

namespace klv::app {

using platform::MsgButton;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::prompts;

namespace {

QString Latin(const char* s) {
  return QString::fromLatin1(s);
}

}  // namespace

TRecallDeleted::TRecallDeleted(OpenDatabase& db, std::vector<db::DeletedRow> rows,
                               const QStringList& names, QWidget* parent)
    : QDialog(parent), db_(db), rows_(std::move(rows)) {
  setObjectName(QStringLiteral("RecallDeleted"));
  setWindowTitle(Latin(klv::db::texts::kRecallCaption));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  RecallLabel = new QLabel(Latin(texts::kRecallLabel), this);
  RecallLabel->setObjectName(QStringLiteral("RecallLabel"));
  RecallLabel->setGeometry(8, 8, 400, 18);
  RowGrid = new QTableWidget(static_cast<int>(rows_.size()), names.size() + 1, this);
  RowGrid->setObjectName(QStringLiteral("RowGrid"));
  RowGrid->setGeometry(8, 30, 624, 300);
  RowGrid->setHorizontalHeaderLabels(QStringList{Latin(texts::kRecallRecord)} + names);
  RowGrid->verticalHeader()->hide();
  RowGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  for (int r = 0; r < static_cast<int>(rows_.size()); ++r) {
    const db::DeletedRow& row = rows_[static_cast<size_t>(r)];
    auto* number = new QTableWidgetItem(QString::number(row.recno));
    number->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    number->setCheckState(Qt::Unchecked);
    RowGrid->setItem(r, 0, number);
    for (int c = 0; c < row.values.size(); ++c)
      RowGrid->setItem(r, c + 1, new QTableWidgetItem(row.values[c]));
  }
  RecallButton = new QPushButton(Latin(texts::kRecallButton), this);
  RecallButton->setObjectName(QStringLiteral("RecallButton"));
  RecallButton->setGeometry(432, 338, 96, 27);
  RecallButton->setDefault(true);
  CancelButton = new QPushButton(Latin(texts::kRecallCancel), this);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  CancelButton->setGeometry(536, 338, 96, 27);
  CancelButton->setAutoDefault(false);
  resize(640, 373);
  connect(RecallButton, &QPushButton::clicked, this, [this] {
    // An engine error ends the form and reaches the command's general
    // error display, not the event loop.
    try {
      RecallButtonClick();
    } catch (const std::exception& e) {
      error_ = QString::fromStdString(e.what());
      reject();
    }
  });
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void TRecallDeleted::showEvent(QShowEvent* event) {
  if (!shown_) {
    shown_ = true;
    forms::ApplyUserFonts(this, db_.state().fonts);
    forms::ScaleAndCentre(this, db_.state().scale_factor);
    forms::ApplyColorGroup(this, forms::ColorGroupId::kConfigure);
  }
  QDialog::showEvent(event);
}

std::vector<uint32_t> TRecallDeleted::Picked() const {
  std::vector<uint32_t> picked;
  for (int r = 0; r < RowGrid->rowCount(); ++r) {
    if (RowGrid->item(r, 0)->checkState() == Qt::Checked)
      picked.push_back(rows_[static_cast<size_t>(r)].recno);
  }
  return picked;
}

void TRecallDeleted::RecallButtonClick() {
  const std::vector<uint32_t> picked = Picked();
  if (!picked.empty()) {
    recalled_ = db::RecallRows(db_.paths().dbf, picked, db_.MyTable());
    db_.AnnounceViewerSettings();
    prompts().MessageBox(this, Latin(klv::db::texts::kCaptionNotice),
                         Latin(klv::db::texts::kRecallDone).arg(recalled_), MsgIcon::kInformation,
                         MsgButtons::kOk, MsgButton::kOk);
  }
  accept();
}

void DoRecallDeleted(OpenDatabase& db, QWidget* owner) {
  QStringList names;
  std::vector<db::DeletedRow> rows;
  {
    QProgressDialog progress(Latin(klv::db::texts::kRecallScanning), QString(), 0, 1000, owner);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(400);
    rows = db::ListDeletedRows(db.paths().dbf, db.MyTable().text_format(), &names,
                               [&](double f) { progress.setValue(static_cast<int>(f * 1000)); });
  }
  // The user's captions of the coin table's fields, when it has them all.
  const auto& captions = db.state().settings.field_names;
  if (names.size() + 1 == static_cast<qsizetype>(captions.size())) {
    for (qsizetype i = 0; i < names.size(); ++i) names[i] = captions[static_cast<size_t>(i + 1)];
  }
  if (rows.empty()) {
    prompts().MessageBox(owner, Latin(klv::db::texts::kCaptionNotice),
                         Latin(klv::db::texts::kRecallNone), MsgIcon::kInformation, MsgButtons::kOk,
                         MsgButton::kOk);
    return;
  }
  TRecallDeleted form(db, std::move(rows), names, owner);
  form.exec();
  if (!form.error().isEmpty()) throw std::runtime_error(form.error().toStdString());
}

}  // namespace klv::app
