// The viewer grid's model over the open coin table.
//
// ViewerModel never loads the table: it keeps a window of a few hundred
// consecutive rows around what the view asks for and reads more as the view
// scrolls. Its row count is the engine's exact count of visible rows (deleted
// and filtered rows excluded), taken once per Reload, never per paint.
//
// Row numbers and records: near either end of the table a row number is the
// record's exact rank (reached from First or Last). Elsewhere a jump places
// the record found at fraction row / (count - 1) of the active order at that
// row, and rows next to it follow by moving the cursor, so scrolling is
// continuous and complete; when scrolling reaches a real end of the table
// before the row count says it should (or the other way round), the window
// is re-based on that end so the first and last records always show at rows
// 0 and count - 1.
//
// The table's cursor is the program's current record (the navigator, the
// edit form and Delete work on it). Reading rows moves the cursor, so every
// read puts it back where it was, with the table's observers silenced. The
// model reads only while the table is open and browsing: during an edit or
// insert it shows what it holds and the row being changed from the table's
// own buffer.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <vector>

#include <QAbstractTableModel>
#include <QColor>
#include <QFont>
#include <QStringList>

#include "db/FieldTable.h"
#include "db/dbf/Table.h"

namespace klv::app {

// One column of the grid: a field shown under a caption.
struct ViewerColumn {
  int field = 1;      // 1 to 20
  QString caption{};  // from the field caption table
  int width = 15;     // display width in characters
};

// The fields the grid shows, in column order, from the "Field Order" and
// "Display Fields" values (indexed 1 to 20 by field number; entry 0 unused).
// Display positions 1 to 20 are taken in turn: the field shown at position p
// is the first field whose order value is p, field 1 when none has it; a
// shown field is moved to the next column index. A field placed twice ends at
// the later place; a shown field never placed keeps its place among the
// others; hidden fields are left out.
std::vector<int> ViewerFieldOrder(const std::array<int, db::kFieldCount + 1>& field_order,
                                  const std::array<bool, db::kFieldCount + 1>& display);

class ViewerModel : public QAbstractTableModel, private dbf::TableObserver {
  Q_OBJECT

 public:
  // Rows read after (and before) the row a jump lands on, and the most rows
  // the window keeps.
  static constexpr int kAhead = 72;
  static constexpr int kBehind = 24;
  static constexpr int kMaxWindow = 600;
  // Rows this close to either end are reached by exact moves from that end.
  static constexpr int kEdge = 200;

  explicit ViewerModel(QObject* parent = nullptr);
  ~ViewerModel() override;

  // Binds the model to table (not owned; nullptr detaches) and reloads.
  void SetTable(dbf::Table* table);
  dbf::Table* table() const { return table_; }

  void SetColumns(std::vector<ViewerColumn> columns);
  const std::vector<ViewerColumn>& columns() const { return columns_; }
  // The column showing field, or -1.
  int ColumnOf(int field) const;

  // In-place editing of cells ("Field Editing").
  void SetFieldEditing(bool on);
  bool field_editing() const { return field_editing_; }

  // The items the in-cell combo box of Country, Topic or Condition offers.
  void SetPickList(int field, const QStringList& items);
  QStringList PickList(int field) const;

  void SetCellColor(const QColor& color);
  void SetTitleFont(const QFont& font);
  void SetTitleAlignment(Qt::Alignment alignment);
  void SetTitleColor(const QColor& color);

  // Re-counts the rows (one exact count), forgets every row read and tells
  // the views. Call after anything that can change the rows or their order.
  void Reload();
  // The count taken by the last Reload.
  uint64_t RecordCount() const { return count_; }

  // Moves the table's cursor to the record at row. False when the row has no
  // record (or the table is not browsing); the cursor then stays.
  bool MoveCursorTo(int row);
  // The row of the table's current record, reading the rows around it when
  // it is not in the window; -1 when there is none.
  int CursorRow();

  // Number of rows read from the table since the model was made (for tests
  // and benchmarks: a paint must not read the whole table).
  uint64_t rows_read() const { return rows_read_; }

  // QAbstractTableModel
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

 signals:
  // The table's cursor now stands on row (-1: none), moved by someone other
  // than the grid.
  void CursorMoved(int row);
  // The rows changed through the grid (a cell posted); the record count may
  // need showing again.
  void RowsChanged();
  // An engine error while reading or writing rows; the operation was given
  // up. Shown by the general error display.
  void EngineError(const QString& message);

 private:
  struct Row {
    uint32_t recno = 0;
    std::array<QString, db::kFieldCount> values{};  // field i + 1 as text
  };
  class CursorKeeper;

  void TableChanged(dbf::Table& table) override;
  void SyncWithCursor();
  bool CanRead() const;
  bool IsCheckField(int field) const;
  int FieldAt(int column) const;
  // The row, read if need be; nullptr when it cannot be had.
  const Row* RowAt(int row) const;
  Row ReadCurrent() const;
  void Fetch(int row) const;
  void Extend(int row) const;
  void Jump(int row) const;
  // Fills the window around the cursor's record, which is placed at row hint
  // unless an end of the table is near enough to give its exact row.
  void AnchorAtCursor(int hint) const;
  void Trim(bool keep_back) const;
  void Rebase(int new_base) const;
  bool WindowHolds(int row) const;
  int EditRow() const;
  QString LiveValue(int field) const;
  bool StoreValue(int field, const QVariant& value, int role);
  // After a post through the grid: when the record at row still stands
  // between the same neighbours (and the filter still shows it), reads it
  // again and tells the views; false when the rows must be read again.
  bool RefreshInPlace(int row);
  void Failed(const dbf::DbfError& e) const;
  void ReportError(const QString& message);

  dbf::Table* table_ = nullptr;
  std::vector<ViewerColumn> columns_;
  bool field_editing_ = false;
  std::array<QStringList, db::kFieldCount + 1> pick_lists_{};
  QColor cell_color_;
  QFont title_font_;
  bool has_title_font_ = false;
  Qt::Alignment title_alignment_ = Qt::AlignHCenter | Qt::AlignVCenter;
  QColor title_color_;
  uint64_t count_ = 0;
  uint32_t physical_ = 0;
  bool exact_natural_ = false;  // record order, no filter, no deleted row
  bool sync_queued_ = false;
  int cursor_row_ = -1;
  dbf::Table::State last_state_ = dbf::Table::State::kClosed;

  // The window: rows_[i] is row base_ + i. Mutable because the view reads it
  // through the const data().
  mutable std::deque<Row> rows_;
  mutable int base_ = 0;
  mutable bool reading_ = false;
  mutable uint64_t rows_read_ = 0;
  mutable bool error_reported_ = false;
};

}  // namespace klv::app
