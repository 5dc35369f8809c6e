// The restore dialog, TMyRestore (caption "Restore"): what to restore (a
// database file, data lists, a settings file, the report definitions); the
// source is asked for with an open dialog when Start Restore is pressed.
// Created for one use and shown modally.
//
// Promises:
// - Cancelling the open dialog does nothing.
// - The chosen file is restored as Operations.h says: beside the open
//   database, or (report definitions) into the program directory; after a
//   success Cancel reads "&Close" and has the focus.
#pragma once

#include <array>

#include <QDialog>

#include "app/OpenDatabase.h"
#include "backup/CopyRules.h"
#include "backup/Operations.h"
#include "platform/Prompts.h"

class QGroupBox;
class QPushButton;
class QRadioButton;

namespace klv::backup {

class TMyRestore : public QDialog {
  Q_OBJECT

 public:
  TMyRestore(app::OpenDatabase& db, const CopyPlace& place, RestoreHooks hooks,
             QWidget* parent = nullptr);

  QGroupBox* WhatGroup = nullptr;
  std::array<QRadioButton*, 4> WhatRadio{};  // database, lists, config, reports
  QPushButton* StartButton = nullptr;
  QPushButton* CancelButton = nullptr;
  QPushButton* HelpButton = nullptr;

  What Choice() const;
  // The open dialog the choice asks with.
  platform::FileDialogRequest SourceDialog(What what) const;

  void StartButtonClick();
  void HelpButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormCreate();
  void FormShow();
  void SetColors();

  app::OpenDatabase& db_;
  CopyPlace place_;
  RestoreHooks hooks_;
  bool shown_ = false;
};

// The main window's "Restore Data" command: the dialog, shown modally.
void DoRestore(app::OpenDatabase& db, const RestoreHooks& hooks, QWidget* owner);

}  // namespace klv::backup
