#include "app/ViewerModel.h"

#include <algorithm>
#include <cmath>

#include <QTimer>

#include "forms/BusyRun.h"

namespace klv::app {
namespace {

using db::FieldInfo;
using db::FieldInfoOf;
using db::FieldKind;
using db::kFieldCount;
using db::kWanted;
using db::kYearApprox;

bool IsNumericField(int field) {
  FieldKind k = FieldInfoOf(field).kind;
  return k == FieldKind::kWhole || k == FieldKind::kDecimal;
}

bool IsYes(const QString& text) {
  return text.trimmed().toUpper() == QLatin1String("YES");
}

}  // namespace

std::vector<int> ViewerFieldOrder(const std::array<int, kFieldCount + 1>& field_order,
                                  const std::array<bool, kFieldCount + 1>& display) {
  std::vector<int> shown;
  for (int f = 1; f <= kFieldCount; ++f) {
    if (display[static_cast<size_t>(f)]) shown.push_back(f);
  }
  size_t next = 0;
  for (int p = 1; p <= kFieldCount; ++p) {
    int field = 1;
    for (int f = 1; f <= kFieldCount; ++f) {
      if (field_order[static_cast<size_t>(f)] == p) {
        field = f;
        break;
      }
    }
    if (!display[static_cast<size_t>(field)]) continue;
    auto at = std::find(shown.begin(), shown.end(), field);
    shown.erase(at);
    shown.insert(shown.begin() + static_cast<std::ptrdiff_t>(std::min(next, shown.size())), field);
    ++next;
  }
  return shown;
}

// Remembers the cursor and silences the table's observers while the model
// reads rows; puts the cursor back when the reading is done, also after an
// error.
class ViewerModel::CursorKeeper {
 public:
  explicit CursorKeeper(const ViewerModel& model) : model_(model), table_(*model.table_) {
    model_.reading_ = true;
    recno_ = table_.RecNo();
    table_.DisableControls();
  }
  ~CursorKeeper() {
    try {
      if (recno_ != 0 && table_.RecNo() != recno_) table_.GoTo(recno_);
    } catch (const dbf::DbfError&) {
      // The row vanished under us; the cursor stays where reading left it.
    }
    table_.EnableControls();
    model_.reading_ = false;
  }
  CursorKeeper(const CursorKeeper&) = delete;
  CursorKeeper& operator=(const CursorKeeper&) = delete;

 private:
  const ViewerModel& model_;
  dbf::Table& table_;
  uint32_t recno_ = 0;
};

ViewerModel::ViewerModel(QObject* parent) : QAbstractTableModel(parent) {}

ViewerModel::~ViewerModel() {
  if (table_) table_->RemoveObserver(this);
}

void ViewerModel::SetTable(dbf::Table* table) {
  if (table_ == table) return Reload();
  if (table_) table_->RemoveObserver(this);
  table_ = table;
  if (table_) table_->AddObserver(this);
  Reload();
}

void ViewerModel::SetColumns(std::vector<ViewerColumn> columns) {
  beginResetModel();
  columns_ = std::move(columns);
  endResetModel();
}

int ViewerModel::ColumnOf(int field) const {
  for (size_t c = 0; c < columns_.size(); ++c) {
    if (columns_[c].field == field) return static_cast<int>(c);
  }
  return -1;
}

void ViewerModel::SetFieldEditing(bool on) {
  if (field_editing_ == on) return;
  field_editing_ = on;
  if (rowCount() > 0 && columnCount() > 0)
    emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

void ViewerModel::SetPickList(int field, const QStringList& items) {
  if (field >= 1 && field <= kFieldCount) pick_lists_[static_cast<size_t>(field)] = items;
}

QStringList ViewerModel::PickList(int field) const {
  if (field < 1 || field > kFieldCount) return {};
  return pick_lists_[static_cast<size_t>(field)];
}

void ViewerModel::SetCellColor(const QColor& color) {
  cell_color_ = color;
  if (rowCount() > 0 && columnCount() > 0)
    emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1), {Qt::BackgroundRole});
}

void ViewerModel::SetTitleFont(const QFont& font) {
  title_font_ = font;
  has_title_font_ = true;
  if (columnCount() > 0) emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

void ViewerModel::SetTitleAlignment(Qt::Alignment alignment) {
  title_alignment_ = alignment;
  if (columnCount() > 0) emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

void ViewerModel::SetTitleColor(const QColor& color) {
  title_color_ = color;
  if (columnCount() > 0) emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

void ViewerModel::Reload() {
  // Counted before the reset: a long count may let the window repaint
  // (forms::BusyRun), and the views then still show the rows they had.
  uint64_t count = 0;
  uint32_t physical = 0;
  bool exact_natural = false;
  bool failed = false;
  if (table_ && table_->IsOpen()) {
    const bool was_reading = reading_;
    reading_ = true;
    // Counting through a search filter visits every row.
    forms::BusyRun busy;
    try {
      count = table_->RecordCount();
      physical = table_->PhysicalCount();
      exact_natural = table_->IndexName().empty() && !table_->Filtered() && count == physical;
    } catch (const dbf::DbfError& e) {
      count = 0;
      failed = true;
      error_reported_ = false;
      Failed(e);
    }
    reading_ = was_reading;
  }
  beginResetModel();
  rows_.clear();
  base_ = 0;
  count_ = count;
  physical_ = physical;
  exact_natural_ = exact_natural;
  if (!failed) error_reported_ = false;
  cursor_row_ = -1;
  last_state_ = table_ ? table_->state() : dbf::Table::State::kClosed;
  endResetModel();
}

bool ViewerModel::CanRead() const {
  // While a long run lets the window repaint, the run owns the cursor.
  return table_ && table_->IsOpen() && table_->state() == dbf::Table::State::kBrowse && !reading_ &&
         !forms::BusyRun::Delivering();
}

bool ViewerModel::IsCheckField(int field) const {
  return field == kYearApprox || field == kWanted;
}

int ViewerModel::FieldAt(int column) const {
  if (column < 0 || column >= static_cast<int>(columns_.size())) return 0;
  return columns_[static_cast<size_t>(column)].field;
}

int ViewerModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  auto n = static_cast<int64_t>(std::min<uint64_t>(count_, INT32_MAX - 1));
  if (table_ && table_->state() == dbf::Table::State::kInsert) ++n;
  return static_cast<int>(n);
}

int ViewerModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

int ViewerModel::EditRow() const {
  if (!table_) return -1;
  if (table_->state() == dbf::Table::State::kInsert) return static_cast<int>(count_);
  if (table_->state() != dbf::Table::State::kEdit) return -1;
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].recno == table_->RecNo()) return base_ + static_cast<int>(i);
  }
  return -1;
}

QString ViewerModel::LiveValue(int field) const {
  try {
    return QString::fromStdString(table_->Fields(field - 1).AsString());
  } catch (const dbf::DbfError&) {
    return {};
  }
}

QVariant ViewerModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || !checkIndex(index, CheckIndexOption::IndexIsValid)) return {};
  const int field = FieldAt(index.column());
  if (field == 0) return {};
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
    case Qt::CheckStateRole:
      break;
    case Qt::TextAlignmentRole:
      if (IsCheckField(field)) return QVariant::fromValue(Qt::AlignCenter);
      return QVariant::fromValue(Qt::AlignVCenter |
                                 (IsNumericField(field) ? Qt::AlignRight : Qt::AlignLeft));
    case Qt::BackgroundRole:
      return cell_color_.isValid() ? QVariant(cell_color_) : QVariant();
    default:
      return {};
  }
  if (role == Qt::CheckStateRole && !IsCheckField(field)) return {};
  if (role != Qt::CheckStateRole && IsCheckField(field)) return {};

  QString text;
  if (index.row() == EditRow()) {
    text = LiveValue(field);
  } else {
    const Row* r = RowAt(index.row());
    if (!r) return role == Qt::CheckStateRole ? QVariant(Qt::Unchecked) : QVariant(QString());
    text = r->values[static_cast<size_t>(field - 1)];
  }
  if (role == Qt::CheckStateRole) return IsYes(text) ? Qt::Checked : Qt::Unchecked;
  return text;
}

QVariant ViewerModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Vertical) {
    if (role != Qt::DisplayRole || section != cursor_row_) return {};
    // The row indicator: which row the cursor is on and whether it is being
    // changed.
    if (table_ && table_->state() == dbf::Table::State::kInsert) return QStringLiteral("*");
    if (table_ && table_->state() == dbf::Table::State::kEdit) return QStringLiteral("I");
    return QString(QChar(0x25B6));
  }
  if (section < 0 || section >= columnCount()) return {};
  const ViewerColumn& c = columns_[static_cast<size_t>(section)];
  switch (role) {
    case Qt::DisplayRole:
      return c.caption;
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(title_alignment_);
    case Qt::FontRole:
      return has_title_font_ ? QVariant(title_font_) : QVariant();
    case Qt::BackgroundRole:
      return title_color_.isValid() ? QVariant(title_color_) : QVariant();
    default:
      return {};
  }
}

Qt::ItemFlags ViewerModel::flags(const QModelIndex& index) const {
  if (!index.isValid() || !checkIndex(index, CheckIndexOption::IndexIsValid))
    return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
  if (!field_editing_ || !table_ || !table_->IsOpen() || !table_->Writable() || table_->read_only())
    return f;
  if (IsCheckField(FieldAt(index.column())))
    f |= Qt::ItemIsUserCheckable;
  else
    f |= Qt::ItemIsEditable;
  return f;
}

bool ViewerModel::StoreValue(int field, const QVariant& value, int role) {
  dbf::Field& f = table_->Fields(field - 1);
  if (role == Qt::CheckStateRole) {
    bool on = value.toInt() == Qt::Checked;
    f.SetAsString(on ? "Yes" : "No");
  } else {
    f.SetAsString(value.toString().toStdString());
  }
  return true;
}

bool ViewerModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || !checkIndex(index, CheckIndexOption::IndexIsValid)) return false;
  const int field = FieldAt(index.column());
  if (field == 0 || !(flags(index) & (Qt::ItemIsEditable | Qt::ItemIsUserCheckable))) return false;
  if (IsCheckField(field) ? role != Qt::CheckStateRole : role != Qt::EditRole) return false;

  const int row = index.row();
  try {
    if (row == EditRow()) {
      // An edit or insert begun at the navigator: change the buffer only;
      // the navigator's Post writes it.
      StoreValue(field, value, role);
      emit dataChanged(this->index(row, 0), this->index(row, columnCount() - 1));
      return true;
    }
    if (table_->state() != dbf::Table::State::kBrowse) return false;
    if (!MoveCursorTo(row)) return false;
    table_->Edit();
    try {
      StoreValue(field, value, role);
      table_->Post();
    } catch (...) {
      table_->Cancel();
      throw;
    }
  } catch (const dbf::DbfError& e) {
    Failed(e);
    return false;
  }
  // The value is written while the view's editor is still open: resetting
  // the model now would take the editor and the current cell away from the
  // view. A row that keeps its place shows its new values at once.
  if (RefreshInPlace(row)) {
    emit RowsChanged();
    return true;
  }
  // A changed key moved the row in the sort order, or in search mode the
  // filter now hides it: read everything again around the cursor, once the
  // view has closed its editor.
  QTimer::singleShot(0, this, [this] {
    Reload();
    emit RowsChanged();
    const int r = CursorRow();
    if (r >= 0) emit CursorMoved(r);
  });
  return true;
}

bool ViewerModel::RefreshInPlace(int row) {
  if (!WindowHolds(row)) return false;
  const auto at = static_cast<size_t>(row - base_);
  const uint32_t before = row > 0 && WindowHolds(row - 1) ? rows_[at - 1].recno : 0;
  const uint32_t after = WindowHolds(row + 1) ? rows_[at + 1].recno : 0;
  if ((row > 0 && before == 0) || (static_cast<uint64_t>(row) + 1 < count_ && after == 0))
    return false;
  Row fresh;
  try {
    CursorKeeper keep(*this);
    const uint32_t recno = rows_[at].recno;
    if (table_->RecNo() != recno && !table_->GoTo(recno)) return false;
    fresh = ReadCurrent();
    table_->Prior();
    if ((table_->Bof() ? 0 : table_->RecNo()) != before) return false;
    if (!table_->GoTo(recno)) return false;
    table_->Next();
    if ((table_->Eof() ? 0 : table_->RecNo()) != after) return false;
  } catch (const dbf::DbfError& e) {
    Failed(e);
    return false;
  }
  rows_[at] = std::move(fresh);
  emit dataChanged(index(row, 0), index(row, columnCount() - 1));
  return true;
}

void ViewerModel::Failed(const dbf::DbfError& e) const {
  // One report per reload: a damaged table would otherwise report on every
  // paint.
  if (error_reported_) return;
  error_reported_ = true;
  QString message = QString::fromStdString(e.what());
  auto* self = const_cast<ViewerModel*>(this);
  QMetaObject::invokeMethod(
      self, [self, message] { self->ReportError(message); }, Qt::QueuedConnection);
}

void ViewerModel::ReportError(const QString& message) {
  // The message box must not open while a long run lets the window repaint.
  if (forms::BusyRun::Delivering()) {
    QTimer::singleShot(forms::BusyRun::kPulseInterval, this,
                       [this, message] { ReportError(message); });
    return;
  }
  emit EngineError(message);
}

// ---------------------------------------------------------------------------
// Reading rows

bool ViewerModel::WindowHolds(int row) const {
  return row >= base_ && row < base_ + static_cast<int>(rows_.size());
}

const ViewerModel::Row* ViewerModel::RowAt(int row) const {
  if (row < 0 || static_cast<uint64_t>(row) >= count_) return nullptr;
  if (!WindowHolds(row)) {
    if (!CanRead() || error_reported_) return nullptr;
    try {
      Fetch(row);
    } catch (const dbf::DbfError& e) {
      rows_.clear();
      Failed(e);
      return nullptr;
    }
  }
  return WindowHolds(row) ? &rows_[static_cast<size_t>(row - base_)] : nullptr;
}

ViewerModel::Row ViewerModel::ReadCurrent() const {
  Row r;
  r.recno = table_->RecNo();
  const int n = std::min(table_->FieldCount(), kFieldCount);
  for (int i = 0; i < n; ++i) {
    r.values[static_cast<size_t>(i)] = QString::fromStdString(table_->Fields(i).AsString());
  }
  ++rows_read_;
  return r;
}

void ViewerModel::Fetch(int row) const {
  CursorKeeper keep(*this);
  const int near = kAhead;
  if (!rows_.empty() && row >= base_ - near && row < base_ + static_cast<int>(rows_.size()) + near)
    Extend(row);
  else
    Jump(row);
}

void ViewerModel::Extend(int row) const {
  const int last_row = static_cast<int>(count_) - 1;
  if (row >= base_ + static_cast<int>(rows_.size())) {
    if (!table_->GoTo(rows_.back().recno)) return Jump(row);
    const int target = std::min(row + kAhead / 2, last_row);
    while (base_ + static_cast<int>(rows_.size()) - 1 < target) {
      table_->Next();
      if (table_->Eof()) {
        // The table ended early: its last record belongs at the last row.
        Rebase(last_row - static_cast<int>(rows_.size()) + 1);
        return;
      }
      rows_.push_back(ReadCurrent());
      Trim(/*keep_back=*/true);
    }
    if (base_ + static_cast<int>(rows_.size()) - 1 == last_row) {
      // The window reached the last row: make sure it is the last record.
      table_->Next();
      if (!table_->Eof()) Jump(row);
    }
  } else {
    if (!table_->GoTo(rows_.front().recno)) return Jump(row);
    const int target = std::max(row - kAhead / 2, 0);
    while (base_ > target) {
      table_->Prior();
      if (table_->Bof()) {
        Rebase(0);
        return;
      }
      rows_.push_front(ReadCurrent());
      --base_;
      Trim(/*keep_back=*/false);
    }
    if (base_ == 0) {
      table_->Prior();
      if (!table_->Bof()) Jump(row);
    }
  }
}

void ViewerModel::Jump(int row) const {
  rows_.clear();
  const int last_row = static_cast<int>(count_) - 1;
  if (row <= kEdge) {
    table_->First();
    table_->MoveBy(row);
  } else if (row >= last_row - kEdge) {
    table_->Last();
    table_->MoveBy(row - last_row);
  } else if (exact_natural_) {
    if (!table_->GoTo(static_cast<uint32_t>(row) + 1))
      table_->GoToFraction(static_cast<double>(row) / last_row);
  } else {
    table_->GoToFraction(static_cast<double>(row) / last_row);
  }
  if (table_->RecNo() == 0) return;
  AnchorAtCursor(row);
}

void ViewerModel::AnchorAtCursor(int hint) const {
  rows_.clear();
  const uint32_t origin = table_->RecNo();
  if (origin == 0) return;
  Row here = ReadCurrent();
  std::vector<Row> before;
  while (static_cast<int>(before.size()) < kBehind) {
    table_->Prior();
    if (table_->Bof()) break;
    before.push_back(ReadCurrent());
  }
  const bool at_start = static_cast<int>(before.size()) < kBehind;
  table_->GoTo(origin);
  std::vector<Row> after;
  while (static_cast<int>(after.size()) < kAhead) {
    table_->Next();
    if (table_->Eof()) break;
    after.push_back(ReadCurrent());
  }
  const bool at_end = static_cast<int>(after.size()) < kAhead;
  const int last_row = static_cast<int>(count_) - 1;
  const auto nb = static_cast<int>(before.size());
  const auto na = static_cast<int>(after.size());
  int row = hint;
  if (at_start)
    row = nb;
  else if (at_end)
    row = last_row - na;
  else
    row = std::clamp(hint, nb, std::max(nb, last_row - na));
  for (auto it = before.rbegin(); it != before.rend(); ++it) rows_.push_back(std::move(*it));
  rows_.push_back(std::move(here));
  for (Row& r : after) rows_.push_back(std::move(r));
  base_ = row - nb;
}

void ViewerModel::Trim(bool keep_back) const {
  while (static_cast<int>(rows_.size()) > kMaxWindow) {
    if (keep_back) {
      rows_.pop_front();
      ++base_;
    } else {
      rows_.pop_back();
    }
  }
}

void ViewerModel::Rebase(int new_base) const {
  new_base = std::max(new_base, 0);
  if (new_base == base_) return;
  base_ = new_base;
  // Rows already painted now show other records; let the views know, after
  // the paint that asked.
  auto* self = const_cast<ViewerModel*>(this);
  QMetaObject::invokeMethod(
      self,
      [self] {
        if (self->rowCount() > 0 && self->columnCount() > 0)
          emit self->dataChanged(self->index(0, 0),
                                 self->index(self->rowCount() - 1, self->columnCount() - 1));
      },
      Qt::QueuedConnection);
}

// ---------------------------------------------------------------------------
// The cursor

bool ViewerModel::MoveCursorTo(int row) {
  if (!CanRead() || row < 0 || static_cast<uint64_t>(row) >= count_) return false;
  try {
    const Row* r = RowAt(row);
    if (!r) return false;
    const uint32_t recno = r->recno;
    reading_ = true;
    bool moved = table_->RecNo() == recno || table_->GoTo(recno);
    reading_ = false;
    if (!moved) return false;
  } catch (const dbf::DbfError& e) {
    reading_ = false;
    Failed(e);
    return false;
  }
  if (cursor_row_ != row) {
    int old = cursor_row_;
    cursor_row_ = row;
    if (old >= 0 && old < rowCount()) emit headerDataChanged(Qt::Vertical, old, old);
    emit headerDataChanged(Qt::Vertical, row, row);
  }
  return true;
}

int ViewerModel::CursorRow() {
  int row = -1;
  if (table_ && table_->IsOpen()) {
    if (table_->state() == dbf::Table::State::kInsert) {
      row = static_cast<int>(count_);
    } else if (const uint32_t recno = table_->RecNo(); recno != 0 && count_ > 0) {
      for (size_t i = 0; i < rows_.size() && row < 0; ++i) {
        if (rows_[i].recno == recno) row = base_ + static_cast<int>(i);
      }
      if (row < 0 && CanRead()) {
        try {
          // Reading the rows around it moves the cursor until the keeper
          // puts it back: the row sought is the one it stood on.
          CursorKeeper keep(*this);
          const int last_row = static_cast<int>(count_) - 1;
          int hint = static_cast<int>(std::llround(table_->Fraction() * last_row));
          AnchorAtCursor(std::clamp(hint, 0, last_row));
          for (size_t i = 0; i < rows_.size() && row < 0; ++i) {
            if (rows_[i].recno == recno) row = base_ + static_cast<int>(i);
          }
        } catch (const dbf::DbfError& e) {
          rows_.clear();
          Failed(e);
        }
        if (rowCount() > 0 && columnCount() > 0)
          emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
      }
    }
  }
  if (row != cursor_row_) {
    int old = cursor_row_;
    cursor_row_ = row;
    if (old >= 0 && old < rowCount()) emit headerDataChanged(Qt::Vertical, old, old);
    if (row >= 0 && row < rowCount()) emit headerDataChanged(Qt::Vertical, row, row);
  }
  return row;
}

void ViewerModel::TableChanged(dbf::Table& /*table*/) {
  if (reading_ || sync_queued_) return;
  // Run after the operation that moved the cursor has finished, once for a
  // burst of notices.
  sync_queued_ = true;
  QTimer::singleShot(0, this, [this] { SyncWithCursor(); });
}

void ViewerModel::SyncWithCursor() {
  if (forms::BusyRun::Delivering() || reading_) {
    // A long run is under way: catch up once it lets go of the table.
    QTimer::singleShot(forms::BusyRun::kPulseInterval, this, [this] { SyncWithCursor(); });
    return;
  }
  sync_queued_ = false;
  if (!table_) return;
  const dbf::Table::State state = table_->state();
  if (state != last_state_) {
    if (state == dbf::Table::State::kBrowse || state == dbf::Table::State::kClosed) {
      // A post, a cancel, a close: the rows may have changed.
      Reload();
      emit RowsChanged();
    } else {
      // An edit or insert begins: the insert row appears, the indicator changes.
      beginResetModel();
      last_state_ = state;
      endResetModel();
    }
  } else if (table_->IsOpen() && table_->PhysicalCount() != physical_) {
    Reload();
    emit RowsChanged();
  }
  emit CursorMoved(CursorRow());
}

}  // namespace klv::app
