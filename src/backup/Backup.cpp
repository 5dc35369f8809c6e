#include "backup/Backup.h"

#include <QComboBox>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QHeaderView>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QTreeView>

#include "backup/BackupTexts.h"
#include "forms/ColorGroups.h"
#include "forms/DialogRoutines.h"
#include "platform/HelpViewer.h"
#include "platform/Prompts.h"

namespace klv::backup {
namespace {

using platform::L;

}  // namespace

void PaintConfigureGroup(QWidget* form, const app::AppState& state) {
  const app::ColorGroup& c = state.settings.colors[app::kConfigureColors];
  auto paint = [](QWidget* w, const QColor& background, const QColor& text) {
    forms::SetControlColors(w, background, text);
    if (background.isValid()) w->setAutoFillBackground(true);
  };
  paint(form, c[app::kMainBackground], QColor());
  for (QGroupBox* box : form->findChildren<QGroupBox*>())
    paint(box, c[app::kMainBackground], c[app::kMinorTitle]);
  for (QRadioButton* radio : form->findChildren<QRadioButton*>())
    paint(radio, c[app::kRadioBackground], c[app::kRadioText]);
  for (QComboBox* combo : form->findChildren<QComboBox*>())
    paint(combo, c[app::kComboBackground], c[app::kComboText]);
  for (QTreeView* list : form->findChildren<QTreeView*>())
    paint(list, c[app::kListBoxBackground], c[app::kListBoxText]);
  forms::ApplyColorGroup(form, forms::ColorGroupId::kConfigure);
}

TMyBackup::TMyBackup(app::OpenDatabase& db, const CopyPlace& place, QWidget* parent)
    : QDialog(parent), db_(db), place_(place) {
  setObjectName(QStringLiteral("MyBackup"));
  setWindowTitle(L(texts::kBackupCaption));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  setFont(font);
  FormCreate();
}

void TMyBackup::FormCreate() {
  WhatGroup = new QGroupBox(L(texts::kWhatToBackUp), this);
  WhatGroup->setObjectName(QStringLiteral("WhatGroup"));
  WhatGroup->setGeometry(8, 8, 320, 132);
  const char* const choices[] = {texts::kBackupDatabase, texts::kBackupLists, texts::kBackupConfig,
                                 texts::kReportDefinitions};
  for (size_t i = 0; i < WhatRadio.size(); ++i) {
    WhatRadio[i] = new QRadioButton(L(choices[i]), WhatGroup);
    WhatRadio[i]->setObjectName(QStringLiteral("WhatRadio%1").arg(i + 1));
    WhatRadio[i]->setGeometry(12, 22 + static_cast<int>(i) * 26, 300, 22);
  }
  WhatRadio[0]->setChecked(true);

  WhereGroup = new QGroupBox(L(texts::kWhereTo), this);
  WhereGroup->setObjectName(QStringLiteral("WhereGroup"));
  WhereGroup->setGeometry(8, 148, 320, 230);
  DriveCombo = new QComboBox(WhereGroup);
  DriveCombo->setObjectName(QStringLiteral("DriveCombo"));
  DriveCombo->setGeometry(12, 22, 296, 24);
  DirectoryList = new QTreeView(WhereGroup);
  DirectoryList->setObjectName(QStringLiteral("DirectoryList"));
  DirectoryList->setGeometry(12, 52, 296, 166);
  model_ = new QFileSystemModel(this);
  model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
  model_->setReadOnly(true);
  DirectoryList->setModel(model_);
  for (int column = 1; column < model_->columnCount(); ++column) DirectoryList->hideColumn(column);
  DirectoryList->header()->hide();

  StartButton = new QPushButton(L(texts::kStartBackup), this);
  StartButton->setObjectName(QStringLiteral("StartButton"));
  StartButton->setGeometry(336, 16, 112, 27);
  StartButton->setDefault(true);
  CancelButton = new QPushButton(L(texts::kCancel), this);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  CancelButton->setGeometry(336, 52, 112, 27);
  CancelButton->setAutoDefault(false);
  HelpButton = new QPushButton(L(texts::kHelp), this);
  HelpButton->setObjectName(QStringLiteral("HelpButton"));
  HelpButton->setGeometry(336, 88, 112, 27);
  HelpButton->setAutoDefault(false);
  resize(456, 386);

  drives_ = MountedDrives();
  for (const Drive& d : drives_)
    DriveCombo->addItem(QStringLiteral("%1  [%2]").arg(d.mount_point, d.device));
  SetDirectory(db_.state().program_dir);

  connect(model_, &QFileSystemModel::directoryLoaded, this, [this] {
    const QModelIndex current = DirectoryList->currentIndex();
    if (current.isValid()) DirectoryList->scrollTo(current, QAbstractItemView::PositionAtCenter);
  });
  connect(DriveCombo, &QComboBox::activated, this, &TMyBackup::DriveComboChange);
  connect(StartButton, &QPushButton::clicked, this,
          [this] { RunGuarded(this, [this] { StartButtonClick(); }); });
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(HelpButton, &QPushButton::clicked, this, &TMyBackup::HelpButtonClick);
}

void TMyBackup::SetDirectory(const QString& dir) {
  const int drive = DriveOf(drives_, dir);
  if (drive < static_cast<int>(drives_.size())) {
    DriveCombo->setCurrentIndex(drive);
    const QString root = drives_[static_cast<size_t>(drive)].mount_point;
    DirectoryList->setRootIndex(model_->setRootPath(root));
  }
  const QModelIndex index = model_->index(dir);
  if (!index.isValid()) return;
  // The list opens down to the directory, which stays in view while the
  // model reads the directories around it.
  for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) DirectoryList->expand(up);
  DirectoryList->setCurrentIndex(index);
  DirectoryList->scrollTo(index, QAbstractItemView::PositionAtCenter);
}

void TMyBackup::DriveComboChange(int index) {
  if (index < 0 || index >= static_cast<int>(drives_.size())) return;
  SetDirectory(drives_[static_cast<size_t>(index)].mount_point);
}

QString TMyBackup::Directory() const {
  const QModelIndex index = DirectoryList->currentIndex();
  if (index.isValid()) return model_->filePath(index);
  const int drive = DriveCombo->currentIndex();
  if (drive >= 0 && drive < static_cast<int>(drives_.size()))
    return drives_[static_cast<size_t>(drive)].mount_point;
  return db_.state().program_dir;
}

What TMyBackup::Choice() const {
  for (size_t i = 0; i < WhatRadio.size(); ++i) {
    if (WhatRadio[i]->isChecked()) return static_cast<What>(i);
  }
  return What::kDatabase;
}

void TMyBackup::showEvent(QShowEvent* event) {
  if (!shown_) {
    shown_ = true;
    FormShow();
  }
  QDialog::showEvent(event);
}

void TMyBackup::FormShow() {
  forms::ApplyUserFonts(this, db_.state().fonts);
  forms::ScaleAndCentre(this, db_.state().scale_factor);
  SetColors();
}

void TMyBackup::SetColors() {
  PaintConfigureGroup(this, db_.state());
}

void RunGuarded(QWidget* owner, const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    platform::prompts().MessageBox(owner, L(texts::kCaptionPlain), QString::fromStdString(e.what()),
                                   platform::MsgIcon::kError, platform::MsgButtons::kOk,
                                   platform::MsgButton::kOk);
  }
}

CopyProgress::CopyProgress(QWidget* parent) : parent_(parent) {}
CopyProgress::~CopyProgress() = default;

CopyPlace CopyProgress::Around(const CopyPlace& place) {
  CopyPlace shown = place;
  shown.progress = [this, next = place.progress](double f) {
    if (!box_) {
      box_ = std::make_unique<QProgressDialog>(L(texts::kCopying), QString(), 0, 1000, parent_);
      box_->setWindowModality(Qt::WindowModal);
      box_->setMinimumDuration(500);
    }
    box_->setValue(static_cast<int>(f * 1000));
    if (next) next(f);
  };
  return shown;
}

void TMyBackup::StartButtonClick() {
  CopyProgress progress(this);
  if (Backup(Choice(), db_, Directory(), this, progress.Around(place_))) {
    CancelButton->setText(L(texts::kClose));
    CancelButton->setFocus();
  }
}

void TMyBackup::HelpButtonClick() {
  platform::ShowHelp(this, L(texts::kHelpTopic));
}

void DoBackup(app::OpenDatabase& db, QWidget* owner) {
  TMyBackup dialog(db, RealPlace(), owner);
  dialog.exec();
}

}  // namespace klv::backup
