// The Recall Deleted Rows form, TRecallDeleted: the rows of the open coin
// table that are marked deleted but not yet packed away, each with its
// values, and a tick to bring it back. Created for one use, shown modally.
//
// Promises:
// - Only ticked rows change; a row another copy recalled or packed away
//   meanwhile is left alone. The main window's table shows the recalled
//   rows afterwards.
#pragma once

#include <cstdint>
#include <vector>

#include <QDialog>

#include "app/OpenDatabase.h"
#include "db/Maintenance.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace klv::app {

class TRecallDeleted : public QDialog {
  Q_OBJECT

 public:
  TRecallDeleted(OpenDatabase& db, std::vector<db::DeletedRow> rows, const QStringList& names,
                 QWidget* parent = nullptr);

  QLabel* RecallLabel = nullptr;
  QTableWidget* RowGrid = nullptr;
  QPushButton* RecallButton = nullptr;
  QPushButton* CancelButton = nullptr;

  // The record numbers ticked.
  std::vector<uint32_t> Picked() const;
  void RecallButtonClick();
  int recalled() const { return recalled_; }
  // The error that ended the form, or "".
  const QString& error() const { return error_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  OpenDatabase& db_;
  std::vector<db::DeletedRow> rows_;
  int recalled_ = 0;
  QString error_;
  bool shown_ = false;
};

// The Tools menu's "Recall Deleted Rows": the deleted rows looked for (with
// progress), "no deleted rows" said when there are none, else the form.
void DoRecallDeleted(OpenDatabase& db, QWidget* owner);

}  // namespace klv::app
