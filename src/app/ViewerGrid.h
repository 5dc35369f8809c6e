// The viewer grid of the main window: a table view that can finish an
// in-cell edit before a navigator button acts, and draws row and column lines
// separately ("Row Lines", "Column Lines").
#pragma once

#include <QTableView>

namespace klv::app {

class ViewerModel;

class ViewerGridView : public QTableView {
  Q_OBJECT

 public:
  using QTableView::QTableView;
  // Writes and closes the cell editor open on the current cell, if any.
  void CommitEditor();
  // Row and column lines drawn by the delegate ("Row Lines", "Column Lines").
  void SetLines(bool rows, bool columns);
  bool row_lines() const { return row_lines_; }
  bool column_lines() const { return column_lines_; }
  // Gives the grid its cell editors (ViewerDelegate) over model's pick lists,
  // drawing the lines SetLines asks for.
  void InstallDelegate(ViewerModel* model);

 private:
  bool row_lines_ = true;
  bool column_lines_ = true;
};

}  // namespace klv::app
