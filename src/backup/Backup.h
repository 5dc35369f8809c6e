// The backup dialog, TMyBackup (caption "Backup"): what to back up (the
// open database's .DBF, its data lists, its settings file, or the report
// definitions) and where to (a drive: one of the mounted file systems, and
// a directory on it). Created for one use and shown modally.
//
// Promises:
// - The drive box and the directory list start on the file system and
//   directory of the program directory; choosing another drive shows its
//   directories from its mount point.
// - Start Back Up runs the choice (Operations.h) into the list's directory;
//   after a success Cancel reads "&Close" and has the focus.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <vector>

#include <QDialog>

#include "app/OpenDatabase.h"
#include "backup/CopyRules.h"
#include "backup/Operations.h"

class QComboBox;
class QFileSystemModel;
class QGroupBox;
class QProgressDialog;
class QPushButton;
class QRadioButton;
class QTreeView;

namespace klv::backup {

class TMyBackup : public QDialog {
  Q_OBJECT

 public:
  // place: where the copies go (tests give a fault layer or a free space).
  TMyBackup(app::OpenDatabase& db, const CopyPlace& place, QWidget* parent = nullptr);

  QGroupBox* WhatGroup = nullptr;
  std::array<QRadioButton*, 4> WhatRadio{};  // database, lists, config, reports
  QGroupBox* WhereGroup = nullptr;
  QComboBox* DriveCombo = nullptr;
  QTreeView* DirectoryList = nullptr;
  QPushButton* StartButton = nullptr;
  QPushButton* CancelButton = nullptr;
  QPushButton* HelpButton = nullptr;

  // The destination directory: the one selected in the list.
  QString Directory() const;
  // Shows dir (its drive chosen in the drive box) as the selected directory.
  void SetDirectory(const QString& dir);
  What Choice() const;
  const std::vector<Drive>& drives() const { return drives_; }

  void StartButtonClick();
  void DriveComboChange(int index);
  void HelpButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormCreate();
  void FormShow();
  void SetColors();

  app::OpenDatabase& db_;
  CopyPlace place_;
  std::vector<Drive> drives_;
  QFileSystemModel* model_ = nullptr;
  bool shown_ = false;
};

// A progress box over parent for the copies of one operation, made when a
// copy first reports progress and shown once it has run a while.
class CopyProgress {
 public:
  explicit CopyProgress(QWidget* parent);
  ~CopyProgress();
  CopyProgress(const CopyProgress&) = delete;
  CopyProgress& operator=(const CopyProgress&) = delete;
  // place, its copies reporting to this box.
  CopyPlace Around(const CopyPlace& place);

 private:
  QWidget* parent_;
  std::unique_ptr<QProgressDialog> box_;
};

// Runs a button's handler: an engine or I/O error it lets through is shown
// as the general error display shows it, never passed through the event
// loop.
void RunGuarded(QWidget* owner, const std::function<void()>& handler);

// The colours both dialogs take: the configuration group.
void PaintConfigureGroup(QWidget* form, const app::AppState& state);

// The main window's "Back Up Data" command: the dialog, shown modally.
void DoBackup(app::OpenDatabase& db, QWidget* owner);

}  // namespace klv::backup
