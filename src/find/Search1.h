// The search form, TMySearch: one criterion per field of the coin table in a
// grid, confirmed into the row filter of search mode. Created once and shown
// modally by the main window's Search command.
//
// Promises:
// - The confirmed search is an ActiveSearch with its own copy of the
//   criteria: showing the form again and leaving it by Exit leaves search
//   mode showing the rows it showed.
// - A search that accepts no row ends search mode and clears the criteria;
//   the form stays open.
// - All messages go through platform::prompts(); an engine error of a button
//   goes to the general error display and ends that button's action.
#pragma once

#include <array>
#include <functional>
#include <memory>

#include <QDialog>
#include <QString>

#include "app/OpenDatabase.h"
#include "find/Criteria.h"
#include "find/Filter.h"
#include "forms/BusyRun.h"
#include "forms/DialogRoutines.h"

class QPushButton;
class QTableWidget;

namespace klv::find {

class SearchMaskDelegate;

// A classic edit mask (SearchEditMask's notation) as a QLineEdit input mask,
// with '/' standing for the date separator given. Blanks are spaces, so the
// edit's displayText() is the cell text SaveFields expects.
QString InputMaskOf(const QString& classic, QChar date_separator);

class TMySearch : public QDialog {
  Q_OBJECT

 public:
  explicit TMySearch(app::OpenDatabase& db, QWidget* parent = nullptr);
  ~TMySearch() override;

  // Shows the form modally (DoSearch's part; the caller refreshes the count).
  void ShowModal();
  void SetGeneralErrorDisplay(std::function<void(const QString&)> display) {
    general_error_ = std::move(display);
  }

  const CriteriaList& list() const { return list_; }
  RowOperator row_operator(int row) const { return ops_[static_cast<size_t>(row - 1)]; }
  // The edit mask of column 2 of a grid row (1 to 20), in the widget's notation.
  QString RowInputMask(int row) const;
  // Text of column 2 of a row (1 to 20), as the cell holds it.
  QString CellText(int row) const;
  void SetCellText(int row, const QString& text);

  // The controls.
  QTableWidget* SearchGrid = nullptr;
  QPushButton* OkButton = nullptr;
  QPushButton* ExitButton = nullptr;
  QPushButton* ClearButton = nullptr;
  QPushButton* MoreButton = nullptr;
  QPushButton* HelpButton = nullptr;

  void OkButtonClick();
  void ExitButtonClick();
  void ClearButtonClick();
  void MoreButtonClick();
  void HelpButtonClick();
  // The button column of a row was clicked (pressed and released on it):
  // the operator picker for numeric and date rows (another operator empties
  // the row's cell, typed under the old mask), the value list otherwise.
  void SearchGridMouseUp(int row, int column);
  void ClearSearch();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // The row filter installed in the open database while this form's search
  // is in force.
  class Filter : public app::RowFilter {
   public:
    bool Accept(dbf::Table& table) override {
      // Every walk through the filter asks here: a long one keeps the
      // window painted.
      forms::BusyRun::Pulse();
      return search && search->Accept(table);
    }
    std::shared_ptr<const ActiveSearch> search;
  };

  void FormShow();
  void SetColors();
  SearchScreen Screen();
  // Shows what a SaveOutcome asks for; true when the screen was saved.
  bool Show(const SaveOutcome& outcome);
  void ClearScreen();
  void FocusRow(int row);
  bool Doit();
  void Guard(const std::function<void()>& fn);
  QString FieldLabel(int row) const;

  app::OpenDatabase& db_;
  CriteriaList list_;
  std::array<RowOperator, kGridRows> ops_{};
  Filter filter_;
  SearchMaskDelegate* delegate_ = nullptr;
  forms::SavedDimensions saved_;
  std::function<void(const QString&)> general_error_;
  int pressed_row_ = -1;
  int pressed_column_ = -1;

  friend class SearchMaskDelegate;
};

}  // namespace klv::find
