// Reading: the walks and their batches (see Table.h), the cursor's moves,
// counts, bookmarks and scroll positions.
#include "db/dbf/TableImpl.h"

namespace klv::dbf {

// ---------------------------------------------------------------------------
// Reading records

void Table::ReadFromDisk(uint32_t recno, uint8_t* out) {
  Impl& im = *impl_;
  uint64_t off = im.header_len + static_cast<uint64_t>(recno - 1) * im.record_len;
  if (im.dbf->ReadAt(off, out, im.record_len) != im.record_len) {
    Fail(ErrorCode::kCorruptTable,
         "The table \"" + im.dbf_path + "\" is truncated at record " + std::to_string(recno));
  }
}

// Whether a row shows: not deleted and, with the filter on, accepted. The
// candidate is loaded into the record buffer so the filter sees its fields.
bool Table::Accept(const uint8_t* record) {
  if (record[0] == '*' && !show_deleted_) return false;
  if (!filtered_ || !filter_) return true;
  std::memcpy(buf_.data(), record, buf_.size());
  return filter_(*this);
}

void Table::Land(uint32_t recno, const uint8_t* record, const std::string* key) {
  if (record != buf_.data()) std::memcpy(buf_.data(), record, buf_.size());
  recno_ = recno;
  eof_ = bof_ = false;
  if (impl_->active >= 0) impl_->key = key ? *key : KeyOf(impl_->active, buf_.data());
}

void Table::DropBatch() {
  Impl::Batch& b = impl_->batch;
  b.live = false;
  b.recnos.clear();
  b.keys.clear();
  b.next = 0;
}

bool Table::SeekNatural(uint32_t from, int dir) {
  Impl::Batch& b = impl_->batch;
  DropBatch();
  if (from == 0) return false;
  b.live = true;
  b.dir = dir;
  b.edge = false;
  b.inclusive = true;
  b.from_recno = from;
  b.size = kFirstBatchRows;
  b.at = recno_;
  return Step(dir);
}

bool Table::SeekIndexed(Seek mode, std::string key, uint32_t recno) {
  Impl& im = *impl_;
  Impl::Batch& b = im.batch;
  DropBatch();
  b.live = true;
  b.dir = mode == Seek::kFirst || mode == Seek::kGE || mode == Seek::kGT ? +1 : -1;
  b.edge = mode == Seek::kFirst || mode == Seek::kLast;
  b.inclusive = mode == Seek::kGE || mode == Seek::kLE;
  b.from_key = std::move(key);
  b.from_recno = recno;
  b.size = kFirstBatchRows;
  b.at = recno_;
  return Step(b.dir);
}

bool Table::Step(int dir) {
  Impl& im = *impl_;
  Impl::Batch& b = im.batch;
  if (!b.live || b.dir != dir || b.at != recno_) {
    // A walk from the cursor, as the last move left it.
    DropBatch();
    b.live = true;
    b.dir = dir;
    b.edge = false;
    b.inclusive = false;
    b.from_key = im.key;
    b.from_recno = recno_;
    b.size = kFirstBatchRows;
  }
  const size_t len = im.record_len;
  for (;;) {
    if (b.next == b.recnos.size() && !FillBatch()) {
      DropBatch();
      return false;
    }
    size_t i = b.next++;
    const uint8_t* rec = b.bytes.data() + i * len;
    if (Accept(rec)) {
      Land(b.recnos[i], rec, im.active >= 0 ? &b.keys[i] : nullptr);
      b.at = recno_;
      return true;
    }
  }
}

// Reads the walk's next batch of candidates: one hold of the read lock, one
// look at the index's and the table's headers, then the rows. What another
// copy changed shows from here on; within a batch every row and key is as
// the table held them together.
bool Table::FillBatch() {
  Impl& im = *impl_;
  Impl::Batch& b = im.batch;
  const size_t len = im.record_len;
  uint32_t want = std::max<uint32_t>(
      1, std::min<uint32_t>(b.size ? b.size : kFirstBatchRows, kMaxBatchBytes / len));
  b.size = std::min(want * 2, kMaxBatchRows);
  b.recnos.clear();
  b.keys.clear();
  b.next = 0;
  if (im.active >= 0) {
    if (im.index_broken) {
      Fail(ErrorCode::kIndexMismatch, "The index \"" + im.mdx_path +
                                          "\" no longer matches its table after a failed change; "
                                          "its indexes must be regenerated");
    }
    LockGuard lock(*im.dbf, false);
    SyncActiveTag();
    im.entries.clear();
    IndexEntry from{b.from_key, b.from_recno};
    im.mdx->Scan(im.active, b.dir < 0, b.edge ? nullptr : &from, b.inclusive, want, &im.entries);
    if (im.entries.empty()) return false;
    bool reloaded = false;
    b.bytes.resize(im.entries.size() * len);
    for (size_t i = 0; i < im.entries.size(); ++i) {
      uint32_t r = im.entries[i].recno;
      if ((r == 0 || r > count_) && !reloaded) {
        ReloadHeader();  // another copy may have appended since we looked
        reloaded = true;
      }
      if (r == 0 || r > count_) {
        Fail(ErrorCode::kIndexMismatch, "The index \"" + im.mdx_path + "\" points at record " +
                                            std::to_string(r) + " beyond the table's " +
                                            std::to_string(count_) +
                                            " records; its indexes must be regenerated");
      }
      ReadFromDisk(r, b.bytes.data() + i * len);
      b.recnos.push_back(r);
      b.keys.push_back(std::move(im.entries[i].key));
    }
    b.from_key = b.keys.back();
    b.from_recno = b.recnos.back();
  } else {
    LockGuard lock(*im.dbf, false);
    ReloadHeader();  // rows other copies appended show from this batch on
    uint32_t first, last;
    if (b.dir > 0) {
      first = b.edge ? 1 : b.from_recno + (b.inclusive ? 0 : 1);
      if (first == 0 || first > count_) return false;
      last = first + std::min(want, count_ - first + 1) - 1;
    } else {
      if (!b.edge && b.from_recno <= (b.inclusive ? 0u : 1u)) return false;
      last = b.edge ? count_ : std::min<uint32_t>(b.from_recno - (b.inclusive ? 0 : 1), count_);
      if (last == 0) return false;
      first = last - std::min(want, last) + 1;
    }
    uint32_t n = last - first + 1;
    b.bytes.resize(static_cast<size_t>(n) * len);
    uint64_t off = im.header_len + static_cast<uint64_t>(first - 1) * len;
    if (im.dbf->ReadAt(off, b.bytes.data(), b.bytes.size()) != b.bytes.size()) {
      Fail(ErrorCode::kCorruptTable,
           "The table \"" + im.dbf_path + "\" is truncated at record " + std::to_string(first));
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
  GoToEnd(false);
}

void Table::Last() {
  GoToEnd(true);
}

void Table::GoToEnd(bool last) {
  RequireOpen();
  if (state_ != State::kBrowse) Cancel();
  EndRun();
  bool found = impl_->active >= 0 ? SeekIndexed(last ? Seek::kLast : Seek::kFirst, {}, 0)
                                  : SeekNatural(last ? kMaxRecords : 1, last ? -1 : +1);
  if (!found) ClearPosition();
  (last ? eof_ : bof_) = true;
  Notify();
}

void Table::ClearPosition() {
  recno_ = 0;
  eof_ = bof_ = true;
  std::fill(buf_.begin(), buf_.end(), ' ');
}

void Table::Next() {
  RequireOpen();
  if (state_ != State::kBrowse) Cancel();
  EndRun();
  if (recno_ == 0) return First();
  std::vector<uint8_t> keep = buf_;
  bool found = Step(+1);
  if (!found) {
    buf_ = std::move(keep);  // stay on the last row, as dBase cursors do
    eof_ = true;
  }
  Notify();
}

void Table::Prior() {
  RequireOpen();
  if (state_ != State::kBrowse) Cancel();
  EndRun();
  if (recno_ == 0) return Last();
  std::vector<uint8_t> keep = buf_;
  bool found = Step(-1);
  if (!found) {
    buf_ = std::move(keep);
    bof_ = true;
  }
  Notify();
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
  RequireOpen();
  return recno_ == 0 && eof_ && bof_;
}

bool Table::GoTo(uint32_t recno) {
  RequireOpen();
  if (state_ != State::kBrowse) Cancel();
  EndRun();
  DropBatch();
  std::vector<uint8_t> rec(impl_->record_len);
  {
    LockGuard lock(*impl_->dbf, false);
    if (recno == 0 || recno > count_) ReloadHeader();
    if (recno == 0 || recno > count_) return false;
    ReadFromDisk(recno, rec.data());
  }
  std::vector<uint8_t> keep = buf_;
  if (!Accept(rec.data())) {
    buf_ = std::move(keep);
    return false;
  }
  Land(recno, rec.data());
  Notify();
  return true;
}

void Table::ScanDeleted() {
  Impl& im = *impl_;
  if (im.scanned > count_) im.scanned = 0, im.deleted = 0;
  if (im.scanned == count_) return;
  ScanRecords(*im.dbf, im.header_len, im.record_len, im.scanned + 1, count_,
              [&](uint32_t, const uint8_t* rec) {
                if (rec[0] == '*') ++im.deleted;
              });
  im.scanned = count_;
  // Noted for the next open, unless someone is writing (the count may then
  // be out of date already) or the file changed since we last looked.
  if (!im.mdx || read_only_ || !im.dbf->TryLock(kWriteLock, 1, true)) return;
  try {
    File::Status st = im.dbf->Stat();
    if (st.modified_ns == im.seen_mtime) NoteDeletedCount(st);
  } catch (const DbfError&) {
  }
  im.dbf->Unlock(kWriteLock, 1);
}

uint64_t Table::RecordCount() {
  RequireOpen();
  Impl& im = *impl_;
  EndRun();
  if (!filtered_ || !filter_) {
    if (show_deleted_) return count_;
    ScanDeleted();
    return count_ - im.deleted;
  }
  std::vector<uint8_t> keep = buf_;
  uint64_t accepted = 0;
  try {
    ScanRecords(
        *im.dbf, im.header_len, im.record_len, 1, count_,
        [&](uint32_t, const uint8_t* rec) {
          if (Accept(rec)) ++accepted;
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
  RequireOpen();
  if (recno_ == 0) return 0;
  Impl& im = *impl_;
  if (im.active >= 0) {
    EndRun();
    LockGuard lock(*im.dbf, false);
    SyncIndex();
    if (im.active < 0) return 0;
    return im.mdx->Fraction(im.active, im.key, recno_);
  }
  return count_ <= 1 ? 0 : static_cast<double>(recno_ - 1) / (count_ - 1);
}

void Table::GoToFraction(double fraction) {
  RequireOpen();
  if (state_ != State::kBrowse) Cancel();
  EndRun();
  fraction = std::clamp(fraction, 0.0, 1.0);
  Impl& im = *impl_;
  bool found = false;
  if (im.active >= 0) {
    std::optional<IndexEntry> e;
    {
      LockGuard lock(*im.dbf, false);
      SyncActiveTag();
      e = im.mdx->AtFraction(im.active, fraction);
    }
    if (e)
      found = SeekIndexed(Seek::kGE, e->key, e->recno) || SeekIndexed(Seek::kLT, e->key, e->recno);
  } else if (count_ > 0) {
    auto r = static_cast<uint32_t>(1 + fraction * (count_ - 1));
    found = SeekNatural(r, +1) || SeekNatural(r, -1);
  }
  if (!found) ClearPosition();
  Notify();
}

}  // namespace klv::dbf
