// Reading: the walks and their batches (see Table.h), the cursor's moves,
// counts, bookmarks and scroll positions.
#include "db/dbf/TableImpl.h"

namespace klv::dbf {

// ---------------------------------------------------------------------------
// Reading records

void Table::Impl::ReadFromDisk(uint32_t recno, uint8_t* out) {
  uint64_t off = header_len + static_cast<uint64_t>(recno - 1) * record_len;
  if (dbf->ReadAt(off, out, record_len) != record_len) {
    Fail(ErrorCode::kCorruptTable,
         "The table \"" + dbf_path + "\" is truncated at record " + std::to_string(recno));
  }
}

// Whether a row shows: not deleted and, with the filter on, accepted. The
// candidate is loaded into the record buffer so the filter sees its fields.
bool Table::Impl::Accept(const uint8_t* record) {
  if (record[0] == '*' && !show_deleted) return false;
  if (!table.filtered_ || !filter) return true;
  std::memcpy(table.buf_.data(), record, table.buf_.size());
  return filter(table);
}

void Table::Impl::Land(uint32_t recno, const uint8_t* record, const std::string* key) {
  if (record != table.buf_.data()) std::memcpy(table.buf_.data(), record, table.buf_.size());
  table.recno_ = recno;
  table.eof_ = table.bof_ = false;
  if (active >= 0) this->key = key ? *key : KeyOf(active, table.buf_.data());
}

void Table::Impl::DropBatch() {
  Impl::Batch& b = batch;
  b.live = false;
  b.recnos.clear();
  b.keys.clear();
  b.next = 0;
}

void Table::Impl::PatchBatch(uint32_t recno, const uint8_t* record) {
  Impl::Batch& b = batch;
  if (!b.live) return;
  // The row is most often the one the walk took last.
  for (size_t i = b.next; i-- > 0;) {
    if (b.recnos[i] == recno) {
      std::memcpy(b.bytes.data() + i * record_len, record, record_len);
      return;
    }
  }
  for (size_t i = b.next; i < b.recnos.size(); ++i) {
    if (b.recnos[i] == recno) {
      std::memcpy(b.bytes.data() + i * record_len, record, record_len);
      return;
    }
  }
}

bool Table::Impl::SeekNatural(uint32_t from, int dir) {
  Impl::Batch& b = batch;
  DropBatch();
  if (from == 0) return false;
  b.live = true;
  b.dir = dir;
  b.edge = false;
  b.inclusive = true;
  b.from_recno = from;
  b.size = kFirstBatchRows;
  b.at = table.recno_;
  return Step(dir);
}

bool Table::Impl::SeekIndexed(Seek mode, std::string key, uint32_t recno) {
  Impl::Batch& b = batch;
  DropBatch();
  b.live = true;
  b.dir = mode == Seek::kFirst || mode == Seek::kGE || mode == Seek::kGT ? +1 : -1;
  b.edge = mode == Seek::kFirst || mode == Seek::kLast;
  b.inclusive = mode == Seek::kGE || mode == Seek::kLE;
  b.from_key = std::move(key);
  b.from_recno = recno;
  b.size = kFirstBatchRows;
  b.at = table.recno_;
  return Step(b.dir);
}

bool Table::Impl::Step(int dir) {
  Impl::Batch& b = batch;
  if (!b.live || b.dir != dir || b.at != table.recno_) {
    // A walk from the cursor, as the last move left it.
    DropBatch();
    b.live = true;
    b.dir = dir;
    b.edge = false;
    b.inclusive = false;
    b.from_key = key;
    b.from_recno = table.recno_;
    b.size = kFirstBatchRows;
  }
  const size_t len = record_len;
  for (;;) {
    if (b.next == b.recnos.size() && !FillBatch()) {
      DropBatch();
      return false;
    }
    size_t i = b.next++;
    const uint8_t* rec = b.bytes.data() + i * len;
    if (Accept(rec)) {
      Land(b.recnos[i], rec, active >= 0 ? &b.keys[i] : nullptr);
      b.at = table.recno_;
      return true;
    }
  }
}

// Reads the walk's next batch of candidates: one hold of the read lock, one
// look at the index's and the table's headers, then the rows. What another
// copy changed shows from here on; within a batch every row and key is as
// the table held them together.
bool Table::Impl::FillBatch() {
  Impl::Batch& b = batch;
  const size_t len = record_len;
  uint32_t want = std::max<uint32_t>(
      1, std::min<uint32_t>(b.size ? b.size : kFirstBatchRows, kMaxBatchBytes / len));
  b.size = std::min(want * 2, kMaxBatchRows);
  b.recnos.clear();
  b.keys.clear();
  b.next = 0;
  if (active >= 0) {
    if (index_broken) {
      Fail(ErrorCode::kIndexMismatch, "The index \"" + mdx_path +
                                          "\" no longer matches its table after a failed change; "
                                          "its indexes must be regenerated");
    }
    LockGuard lock(*dbf, false);
    share.SyncActiveTag();
    entries.clear();
    IndexEntry from{b.from_key, b.from_recno};
    mdx->Scan(active, b.dir < 0, b.edge ? nullptr : &from, b.inclusive, want, &entries);
    if (entries.empty()) return false;
    bool reloaded = false;
    b.bytes.resize(entries.size() * len);
    for (size_t i = 0; i < entries.size(); ++i) {
      uint32_t r = entries[i].recno;
      if ((r == 0 || r > table.count_) && !reloaded) {
        share.ReloadHeader();  // another copy may have appended since we looked
        reloaded = true;
      }
      if (r == 0 || r > table.count_) {
        Fail(ErrorCode::kIndexMismatch, "The index \"" + mdx_path + "\" points at record " +
                                            std::to_string(r) + " beyond the table's " +
                                            std::to_string(table.count_) +
                                            " records; its indexes must be regenerated");
      }
      ReadFromDisk(r, b.bytes.data() + i * len);
      b.recnos.push_back(r);
      b.keys.push_back(std::move(entries[i].key));
    }
    b.from_key = b.keys.back();
    b.from_recno = b.recnos.back();
  } else {
    LockGuard lock(*dbf, false);
    share.ReloadHeader();  // rows other copies appended show from this batch on
    uint32_t first, last;
    if (b.dir > 0) {
      first = b.edge ? 1 : b.from_recno + (b.inclusive ? 0 : 1);
      if (first == 0 || first > table.count_) return false;
      last = first + std::min(want, table.count_ - first + 1) - 1;
    } else {
      if (!b.edge && b.from_recno <= (b.inclusive ? 0u : 1u)) return false;
      last = b.edge ? table.count_
                    : std::min<uint32_t>(b.from_recno - (b.inclusive ? 0 : 1), table.count_);
      if (last == 0) return false;
      first = last - std::min(want, last) + 1;
    }
    uint32_t n = last - first + 1;
    b.bytes.resize(static_cast<size_t>(n) * len);
    uint64_t off = header_len + static_cast<uint64_t>(first - 1) * len;
    if (dbf->ReadAt(off, b.bytes.data(), b.bytes.size()) != b.bytes.size()) {
      Fail(ErrorCode::kCorruptTable,
           "The table \"" + dbf_path + "\" is truncated at record " + std::to_string(first));
    }
    if (b.dir < 0) {
      // Backwards, the rows are taken from the end of the chunk.
      for (uint32_t i = 0; i < n / 2; ++i)
        std::swap_ranges(b.bytes.begin() + static_cast<ptrdiff_t>(i * len),
                         b.bytes.begin() + static_cast<ptrdiff_t>((i + 1) * len),
                         b.bytes.begin() + static_cast<ptrdiff_t>((n - 1 - i) * len));
      for (uint32_t i = 0; i < n; ++i) b.recnos.push_back(last - i);
    } else {
      for (uint32_t i = 0; i < n; ++i) b.recnos.push_back(first + i);
    }
    b.from_recno = b.recnos.back();
  }
  b.edge = false;
  b.inclusive = false;
  return true;
}

// ---------------------------------------------------------------------------
// Cursor

void Table::First() {
  impl_->GoToEnd(false);
}

void Table::Last() {
  impl_->GoToEnd(true);
}

void Table::Impl::GoToEnd(bool last) {
  RequireOpen();
  if (table.state_ != State::kBrowse) table.Cancel();
  EndRun();
  bool found = active >= 0 ? SeekIndexed(last ? Seek::kLast : Seek::kFirst, {}, 0)
                           : SeekNatural(last ? kMaxRecords : 1, last ? -1 : +1);
  if (!found) ClearPosition();
  (last ? table.eof_ : table.bof_) = true;
  Notify();
}

void Table::Impl::ClearPosition() {
  table.recno_ = 0;
  table.eof_ = table.bof_ = true;
  std::fill(table.buf_.begin(), table.buf_.end(), ' ');
}

void Table::Next() {
  impl_->RequireOpen();
  if (state_ != State::kBrowse) Cancel();
  impl_->EndRun();
  if (recno_ == 0) return First();
  std::vector<uint8_t> keep = buf_;
  bool found = impl_->Step(+1);
  if (!found) {
    buf_ = std::move(keep);  // stay on the last row, as dBase cursors do
    eof_ = true;
  }
  impl_->Notify();
}

void Table::Prior() {
  impl_->RequireOpen();
  if (state_ != State::kBrowse) Cancel();
  impl_->EndRun();
  if (recno_ == 0) return Last();
  std::vector<uint8_t> keep = buf_;
  bool found = impl_->Step(-1);
  if (!found) {
    buf_ = std::move(keep);
    bof_ = true;
  }
  impl_->Notify();
}

int64_t Table::MoveBy(int64_t n) {
  int64_t moved = 0;
  DisableControls();
  try {
    while (n > 0 && !eof_) {
      Next();
      if (!eof_) ++moved, --n;
    }
    while (n < 0 && !bof_) {
      Prior();
      if (!bof_) ++moved, ++n;
    }
  } catch (...) {
    EnableControls();
    throw;
  }
  EnableControls();
  return moved;
}

bool Table::IsEmpty() {
  impl_->RequireOpen();
  return recno_ == 0 && eof_ && bof_;
}

bool Table::GoTo(uint32_t recno) {
  impl_->RequireOpen();
  if (state_ != State::kBrowse) Cancel();
  impl_->EndRun();
  impl_->DropBatch();
  std::vector<uint8_t> rec(impl_->record_len);
  {
    LockGuard lock(*impl_->dbf, false);
    if (recno == 0 || recno > count_) impl_->share.ReloadHeader();
    if (recno == 0 || recno > count_) return false;
    impl_->ReadFromDisk(recno, rec.data());
  }
  std::vector<uint8_t> keep = buf_;
  if (!impl_->Accept(rec.data())) {
    buf_ = std::move(keep);
    return false;
  }
  impl_->Land(recno, rec.data());
  impl_->Notify();
  return true;
}

void Table::Impl::ScanDeleted() {
  if (scanned > table.count_) scanned = 0, deleted = 0;
  if (scanned == table.count_) return;
  ScanRecords(*dbf, header_len, record_len, scanned + 1, table.count_,
              [&](uint32_t, const uint8_t* rec) {
                if (rec[0] == '*') ++deleted;
              });
  scanned = table.count_;
  // Noted for the next open, unless someone is writing (the count may then
  // be out of date already) or the file changed since we last looked.
  share.NoteCountedRows();
}

uint64_t Table::RecordCount() {
  impl_->RequireOpen();
  Impl& im = *impl_;
  im.EndRun();
  if (!filtered_ || !im.filter) {
    if (im.show_deleted) return count_;
    im.ScanDeleted();
    return count_ - im.deleted;
  }
  std::vector<uint8_t> keep = buf_;
  uint64_t accepted = 0;
  try {
    ScanRecords(
        *im.dbf, im.header_len, im.record_len, 1, count_,
        [&](uint32_t, const uint8_t* rec) {
          if (im.Accept(rec)) ++accepted;
        },
        true);
  } catch (...) {
    buf_ = std::move(keep);
    throw;
  }
  buf_ = std::move(keep);
  return accepted;
}

Bookmark Table::GetBookmark() const {
  return Bookmark{recno_, impl_->active >= 0 ? impl_->key : std::string()};
}

void Table::GotoBookmark(const Bookmark& bookmark) {
  if (!GoTo(bookmark.recno)) {
    Fail(ErrorCode::kKeyNotFound, "Record " + std::to_string(bookmark.recno) + " no longer exists");
  }
}

double Table::Fraction() {
  impl_->RequireOpen();
  if (recno_ == 0) return 0;
  Impl& im = *impl_;
  if (im.active >= 0) {
    im.EndRun();
    LockGuard lock(*im.dbf, false);
    im.share.SyncIndex();
    if (im.active < 0) return 0;
    return im.mdx->Fraction(im.active, im.key, recno_);
  }
  return count_ <= 1 ? 0 : static_cast<double>(recno_ - 1) / (count_ - 1);
}

void Table::GoToFraction(double fraction) {
  impl_->RequireOpen();
  if (state_ != State::kBrowse) Cancel();
  impl_->EndRun();
  fraction = std::clamp(fraction, 0.0, 1.0);
  Impl& im = *impl_;
  bool found = false;
  if (im.active >= 0) {
    std::optional<IndexEntry> e;
    {
      LockGuard lock(*im.dbf, false);
      im.share.SyncActiveTag();
      e = im.mdx->AtFraction(im.active, fraction);
    }
    if (e)
      found = im.SeekIndexed(Impl::Seek::kGE, e->key, e->recno) ||
              im.SeekIndexed(Impl::Seek::kLT, e->key, e->recno);
  } else if (count_ > 0) {
    auto r = static_cast<uint32_t>(1 + fraction * (count_ - 1));
    found = im.SeekNatural(r, +1) || im.SeekNatural(r, -1);
  }
  if (!found) im.ClearPosition();
  im.Notify();
}

}  // namespace klv::dbf
