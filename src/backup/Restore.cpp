#include "backup/Restore.h"

#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>

#include "backup/Backup.h"
#include "backup/BackupTexts.h"
#include "forms/DialogRoutines.h"
#include "platform/HelpViewer.h"
#include "platform/Prompts.h"

namespace klv::backup {
namespace {

using platform::L;

}  // namespace

TMyRestore::TMyRestore(app::OpenDatabase& db, const CopyPlace& place, RestoreHooks hooks,
                       QWidget* parent)
    : QDialog(parent), db_(db), place_(place), hooks_(std::move(hooks)) {
  setObjectName(QStringLiteral("MyRestore"));
  setWindowTitle(L(texts::kRestoreCaption));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  setFont(font);
  FormCreate();
}

void TMyRestore::FormCreate() {
  WhatGroup = new QGroupBox(L(texts::kWhatToRestore), this);
  WhatGroup->setObjectName(QStringLiteral("WhatGroup"));
  WhatGroup->setGeometry(8, 8, 300, 132);
  const char* const choices[] = {texts::kRestoreDatabase, texts::kRestoreLists,
                                 texts::kRestoreConfig, texts::kReportDefinitions};
  for (size_t i = 0; i < WhatRadio.size(); ++i) {
    WhatRadio[i] = new QRadioButton(L(choices[i]), WhatGroup);
    WhatRadio[i]->setObjectName(QStringLiteral("WhatRadio%1").arg(i + 1));
    WhatRadio[i]->setGeometry(12, 22 + static_cast<int>(i) * 26, 280, 22);
  }
  WhatRadio[0]->setChecked(true);
  StartButton = new QPushButton(L(texts::kStartRestore), this);
  StartButton->setObjectName(QStringLiteral("StartButton"));
  StartButton->setGeometry(316, 16, 112, 27);
  StartButton->setDefault(true);
  CancelButton = new QPushButton(L(texts::kCancel), this);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  CancelButton->setGeometry(316, 52, 112, 27);
  CancelButton->setAutoDefault(false);
  HelpButton = new QPushButton(L(texts::kHelp), this);
  HelpButton->setObjectName(QStringLiteral("HelpButton"));
  HelpButton->setGeometry(316, 88, 112, 27);
  HelpButton->setAutoDefault(false);
  resize(436, 148);
  connect(StartButton, &QPushButton::clicked, this,
          [this] { RunGuarded(this, [this] { StartButtonClick(); }); });
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(HelpButton, &QPushButton::clicked, this, &TMyRestore::HelpButtonClick);
}

What TMyRestore::Choice() const {
  for (size_t i = 0; i < WhatRadio.size(); ++i) {
    if (WhatRadio[i]->isChecked()) return static_cast<What>(i);
  }
  return What::kDatabase;
}

platform::FileDialogRequest TMyRestore::SourceDialog(What what) const {
  platform::FileDialogRequest r;
  r.file_must_exist = true;
  r.directory = db_.paths().dir;
  r.default_suffix = L(texts::kDbfSuffix);
  r.filter = L(texts::kDbfFilter);
  switch (what) {
    case What::kDatabase:
      r.title = L(texts::kRestoreDatabaseTitle);
      break;
    case What::kLists:
      r.title = L(texts::kRestoreListsTitle);
      break;
    case What::kConfig:
      r.title = L(texts::kRestoreConfigTitle);
      break;
    case What::kReports:
      r.title = L(texts::kRestoreUrpTitle);
      r.default_suffix = L(texts::kUrpSuffix);
      r.filter = L(texts::kUrpFilter);
      r.file_name = L(texts::kReportFile);
      break;
  }
  return r;
}

void TMyRestore::showEvent(QShowEvent* event) {
  if (!shown_) {
    shown_ = true;
    FormShow();
  }
  QDialog::showEvent(event);
}

void TMyRestore::FormShow() {
  forms::ApplyUserFonts(this, db_.state().fonts);
  forms::ScaleAndCentre(this, db_.state().scale_factor);
  SetColors();
}

void TMyRestore::SetColors() {
  PaintConfigureGroup(this, db_.state());
}

void TMyRestore::StartButtonClick() {
  const What what = Choice();
  const QString chosen = platform::prompts().OpenFile(this, SourceDialog(what));
  if (chosen.isEmpty()) return;
  CopyProgress progress(this);
  if (Restore(what, db_, chosen, this, progress.Around(place_), hooks_)) {
    CancelButton->setText(L(texts::kClose));
    CancelButton->setFocus();
  }
}

void TMyRestore::HelpButtonClick() {
  platform::ShowHelp(this, L(texts::kHelpTopic));
}

void DoRestore(app::OpenDatabase& db, const RestoreHooks& hooks, QWidget* owner) {
  TMyRestore dialog(db, RealPlace(), hooks, owner);
  dialog.exec();
}

}  // namespace klv::backup
