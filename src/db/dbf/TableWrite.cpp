// Changes: append, edit, post, cancel, delete, the order of the writes that
// keeps every reader off unfinished rows, and batched appends.
#include "db/dbf/TableImpl.h"

#include <numeric>

namespace klv::dbf {

// ---------------------------------------------------------------------------
// Changes

void Table::Impl::RequireWritable() const {
  RequireOpen();
  Require(!table.read_only_, ErrorCode::kReadOnly, "The table is open read-only");
  Require(table.writable_types_, ErrorCode::kUnsupported,
          "This table holds field types that cannot be written");
}

void Table::Impl::ReleaseEditLock() {
  if (edit_lock && dbf) {
    try {
      share.UnlockRecord(edit_lock);
    } catch (...) {
    }
  }
  edit_lock = 0;
}

void Table::Append() {
  impl_->RequireWritable();
  if (state_ != State::kBrowse) Cancel();
  impl_->insert_return = recno_;
  std::fill(buf_.begin(), buf_.end(), ' ');
  state_ = State::kInsert;
  impl_->Notify();
}

void Table::Insert() {
  Append();
}

void Table::Edit() {
  impl_->RequireWritable();
  if (state_ == State::kEdit || state_ == State::kInsert) return;
  Impl& im = *impl_;
  im.EndRun();  // a row still queued gets its number here
  if (recno_ == 0) Fail(ErrorCode::kBadState, "There is no record to edit");
  if (!im.share.TryLockRecord(recno_)) {
    Fail(ErrorCode::kRecordLocked,
         "Record " + std::to_string(recno_) + " is locked by another user.");
  }
  im.edit_lock = recno_;
  try {
    // Start from the row as stored now, not as this cursor last saw it.
    std::vector<uint8_t> rec(im.record_len);
    im.ReadFromDisk(recno_, rec.data());
    if (rec[0] == '*') {
      Fail(ErrorCode::kKeyNotFound,
           "Record " + std::to_string(recno_) + " has been deleted by another user.");
    }
    std::memcpy(buf_.data(), rec.data(), rec.size());
  } catch (...) {
    im.ReleaseEditLock();
    throw;
  }
  state_ = State::kEdit;
  im.Notify();
}

// Posts keep the index's dirty mark on disk from one to the next while
// nobody else changes the table (a run, ended by the next operation that is
// not a post, or by Close): each post then writes the record, the index
// pages it changed, the index header (counter and record count) and the
// table header, and the index is complete whenever the write lock is free.
// Other copies trust the dirty mark only while kRunLock shows its holder
// alive; a process killed in a run leaves an index that is rebuilt.
void Table::Post() {
  impl_->RequireOpen();
  if (state_ == State::kBrowse) return;
  Impl& im = *impl_;
  buf_[0] = ' ';
  if (state_ == State::kInsert && im.batching) return im.QueueAppend();
  if (state_ == State::kEdit) im.FlushAppends();
  LockGuard write_lock(*im.dbf, true);
  bool continuing = im.PrepareWrite();
  // Keys first: a bad expression or value fails before anything is written.
  std::vector<std::string> new_keys;
  for (size_t t = 0; t < im.tags.size(); ++t)
    new_keys.push_back(im.KeyOf(static_cast<int>(t), buf_.data()));

  if (state_ == State::kInsert) {
    bool counted = false;
    try {
      im.WriteAppends(buf_.data(), 1, new_keys, continuing, &counted);
    } catch (const DbfError&) {
      if (counted) {
        state_ = State::kBrowse;
        im.Land(count_, buf_.data());
      }
      throw;
    }
    state_ = State::kBrowse;
    im.Land(count_, buf_.data());
    im.Notify();
    return;
  }

  // Edit: replace the stored row, then move its keys where they changed.
  uint32_t r = recno_;
  std::vector<uint8_t> old(im.record_len);
  if (!im.tags.empty()) im.ReadFromDisk(r, old.data());  // for its keys alone
  std::vector<std::string> old_keys;
  bool keys_change = false;
  for (size_t t = 0; t < im.tags.size(); ++t) {
    old_keys.push_back(im.KeyOf(static_cast<int>(t), old.data()));
    if (old_keys.back() != new_keys[t]) keys_change = true;
  }
  bool began = false, stored = false;
  try {
    if (im.mdx && keys_change) {
      im.BeginIndexChange();
      began = true;
    }
    im.dbf->WriteAt(im.header_len + static_cast<uint64_t>(r - 1) * im.record_len, buf_.data(),
                    buf_.size());
    stored = true;
    for (size_t t = 0; t < im.tags.size() && began; ++t) {
      if (old_keys[t] == new_keys[t]) continue;
      im.mdx->Remove(static_cast<int>(t), old_keys[t], r);
      im.mdx->Insert(static_cast<int>(t), new_keys[t], r);
    }
    im.share.WriteHeader();
    if (began) im.mdx->EndChange(count_, im.share.InRun());
  } catch (const DbfError& e) {
    if (began) im.FailedIndexChange();
    if (!stored) throw;  // nothing written: the edit stays open for a retry
    im.ReleaseEditLock();
    state_ = State::kBrowse;
    im.Land(r, buf_.data());
    im.share.NoteOwnWrite();
    im.DropBatch();
    Fail(ErrorCode::kIndexMismatch,
         std::string("The record was saved, but its index could not be updated (") + e.what() +
             "); the indexes must be regenerated");
  }
  im.share.AfterOwnChange();
  // The rows a walk read ahead stay good when this row changed in place and
  // kept its place in the walk's order: a walk that changes rows as it goes
  // (a replace) then reads each batch once.
  if (im.active < 0 || !keys_change ||
      old_keys[static_cast<size_t>(im.active)] == new_keys[static_cast<size_t>(im.active)])
    im.PatchBatch(r, buf_.data());
  else
    im.DropBatch();
  im.ReleaseEditLock();
  state_ = State::kBrowse;
  im.Land(r, buf_.data());
  im.Notify();
  if (im.after_post_edit) im.after_post_edit(*this);
}

// Under the write lock, before a change: the index synced, the header as
// it is now (unless this copy's run shows nobody else wrote since its last
// post), counts of deleted rows dropped when others changed the file.
// Returns whether the run continues.
bool Table::Impl::PrepareWrite() {
  if (mdx) share.SyncIndex();
  // Within a run the index's counter shows any change by another copy: every
  // copy that appends maintains the index (one that opened before the index
  // existed opens it at its next post, below), so while the counter is ours
  // the header's count is still the one our last post wrote.
  bool continuing = share.RunContinues() && !index_broken;
  if (!continuing) {
    share.ReloadHeader();
    if (!mdx && header[kIndexFlag] != 0) {
      share.OpenIndexCreatedElsewhere();
      if (!mdx) {
        Fail(ErrorCode::kNotFound,
             "The production index \"" + mdx_path + "\" of the table is missing");
      }
      share.SyncIndex();
    }
  }
  share.CheckChangeCounter(continuing);
  if (index_broken) {
    Fail(ErrorCode::kIndexMismatch, "The index \"" + mdx_path +
                                        "\" no longer matches its table; its indexes must be "
                                        "regenerated before records can be saved");
  }
  return continuing;
}

void Table::Impl::BeginIndexChange() {
  share.TryBeginRun();
  mdx->BeginChange(true);
}

void Table::Impl::FailedIndexChange() {
  mdx->AbandonChange();
  index_broken = true;
  share.DropRun();
}

// Appends n records (back to back) with their keys (n * tags, row by row)
// under the write lock, after PrepareWrite. The order of the writes keeps
// every reader, those that go by the header's count and those that read up
// to the end mark, from taking a row that is not complete and counted: the
// rows go after the end mark that closes the counted rows, all of them but
// the first one's flag byte, which stays the end mark; then the index, the
// header count, and last the first row's flag. Killed before the count, the
// file holds an unfinished tail behind the end mark, which the next writer
// cuts; killed after it, the index is still marked in a change, and the
// rebuild that follows completes the flag (RepairRows). *counted tells,
// when this throws, whether the rows made it into the header's count.
void Table::Impl::WriteAppends(const uint8_t* records, uint32_t n,
                               const std::vector<std::string>& keys, bool continuing,
                               bool* counted) {
  *counted = false;
  if (n == 0) return;
  if (table.count_ > kMaxRecords - n)
    Fail(ErrorCode::kBadState, "The table cannot hold more records");
  if (!continuing) CutTail();
  const size_t len = record_len;
  const uint32_t first = table.count_ + 1;
  const uint64_t off = header_len + static_cast<uint64_t>(table.count_) * len;
  const size_t bytes = static_cast<size_t>(n) * len;
  if (n == 1) {
    out.assign(records + 1, records + bytes);
    out.push_back(kEndMark);
    dbf->WriteAt(off + 1, out.data(), out.size());
  } else {
    // A batch is written where it lies; its end mark follows it.
    dbf->WriteAt(off + 1, records + 1, bytes - 1);
    dbf->WriteAt(off + bytes, &kEndMark, 1);
  }
  try {
    if (mdx) {
      BeginIndexChange();
      const size_t tag_count = tags.size();
      // In each tag's order, so that one insert after another finds its
      // path through the tree where the last one left it.
      std::vector<uint32_t> order(n);
      for (size_t t = 0; t < tag_count; ++t) {
        std::iota(order.begin(), order.end(), 0u);
        if (n > 1) {
          // Equal keys keep the rows' order (by record number in the
          // tree); a plain sort with that tie-break is cheaper than a
          // stable one.
          const TagDef& def = tags[t].def;
          std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
            const std::string& ka = keys[a * tag_count + t];
            const std::string& kb = keys[b * tag_count + t];
            int c = def.type == KeyType::kChar ? ka.compare(kb) : CompareKeys(def.type, ka, kb);
            if (def.descending) c = -c;
            return c != 0 ? c < 0 : a < b;
          });
        }
        for (uint32_t i : order)
          mdx->Insert(static_cast<int>(t), keys[i * tag_count + t], first + i);
      }
    }
    table.count_ = first + n - 1;
    share.WriteHeader();
    *counted = true;
    dbf->WriteAt(off, records, 1);
    if (mdx) mdx->EndChange(table.count_, share.InRun());
  } catch (const DbfError& e) {
    if (mdx) FailedIndexChange();
    DropBatch();
    if (!*counted) {
      table.count_ = first - 1;
      // The rows written behind the end mark are cut again where the disk
      // still lets us; else the next writer does it.
      try {
        CutTail();
      } catch (const DbfError&) {
      }
      throw;
    }
    share.NoteOwnWrite();
    Fail(ErrorCode::kIndexMismatch,
         std::string(n == 1 ? "The record was saved" : "The records were saved") +
             ", but the index could not be updated (" + e.what() +
             "); the indexes must be regenerated");
  }
  if (scanned == first - 1) scanned = table.count_;
  share.AfterOwnChange();
  DropBatch();
}

// Under the write lock, before rows are added behind the counted ones:
// bytes there are what an append that never finished left, and the end
// mark must close the counted rows before new ones are written after it.
// The mark is written before the cut, so that a reader going by end marks
// never meets an unfinished row on the way.
void Table::Impl::CutTail() {
  const uint64_t end = header_len + static_cast<uint64_t>(table.count_) * record_len;
  const uint64_t size = dbf->Size();
  uint8_t mark = 0;
  if (size > end) dbf->ReadAt(end, &mark, 1);
  if (mark != kEndMark) {
    mark = kEndMark;
    dbf->WriteAt(end, &mark, 1);
  }
  if (size > end + 1) dbf->Truncate(end + 1);
}

// For a rebuild, with the table to ourselves or under the write lock: cuts
// an unfinished tail and completes rows that an append stopped before their
// flag byte (still the end mark, see WriteAppends); the rows themselves
// were complete before the header counted them.
void Table::Impl::RepairRows() {
  share.ReloadHeader();
  CutTail();
  std::vector<uint32_t> unfinished;
  ScanRecords(*dbf, header_len, record_len, 1, table.count_,
              [&](uint32_t recno, const uint8_t* rec) {
                if (rec[0] == kEndMark) unfinished.push_back(recno);
              });
  const uint8_t live = ' ';
  for (uint32_t r : unfinished)
    dbf->WriteAt(header_len + static_cast<uint64_t>(r - 1) * record_len, &live, 1);
  if (!unfinished.empty()) DropBatch();
}

void Table::Impl::QueueAppend() {
  for (size_t t = 0; t < tags.size(); ++t)
    queue_keys.push_back(KeyOf(static_cast<int>(t), table.buf_.data()));
  // The clock is read for every 16th row: a row waits at most that much
  // longer than the batch's time bound, and reading it costs a row's worth.
  const bool look = queued % 16 == 0;
  const auto now = look ? std::chrono::steady_clock::now() : queue_since;
  if (queued == 0) {
    queue_since = now;
    queue_tags_gen = tags_gen;
  }
  queue.insert(queue.end(), table.buf_.begin(), table.buf_.end());
  ++queued;
  // The row has no number until its batch is written.
  table.state_ = State::kBrowse;
  table.recno_ = 0;
  table.eof_ = table.bof_ = false;
  Notify();
  if (queued >= batch_options.rows ||
      now - queue_since >= std::chrono::milliseconds(batch_options.milliseconds))
    FlushAppends();
}

void Table::Impl::EndRun() {
  FlushAppends();
  share.EndRun();
}

void Table::Impl::FlushAppends() {
  if (queued == 0) return;
  bool counted = false;
  {
    LockGuard write_lock(*dbf, true);
    bool continuing = PrepareWrite();
    if (tags_gen != queue_tags_gen) {
      // Another copy changed the tags since the rows were queued.
      queue_keys.clear();
      for (uint32_t i = 0; i < queued; ++i)
        for (size_t t = 0; t < tags.size(); ++t)
          queue_keys.push_back(
              KeyOf(static_cast<int>(t), queue.data() + static_cast<size_t>(i) * record_len));
      queue_tags_gen = tags_gen;
    }
    try {
      WriteAppends(queue.data(), queued, queue_keys, continuing, &counted);
    } catch (const DbfError&) {
      if (counted) {
        queue.clear();
        queue_keys.clear();
        queued = 0;
      }
      throw;
    }
  }
  if (table.state_ == State::kBrowse)
    Land(table.count_, queue.data() + static_cast<size_t>(queued - 1) * record_len);
  queue.clear();
  queue_keys.clear();
  queued = 0;
}

void Table::BeginAppendBatch(const AppendBatchOptions& options) {
  impl_->RequireWritable();
  Impl& im = *impl_;
  im.batching = true;
  im.batch_options = options;
  im.batch_options.rows = std::max<size_t>(1, options.rows);
  im.batch_options.milliseconds = std::max<int64_t>(0, options.milliseconds);
  // Many rows land in leaves all over each tree: a larger cache keeps the
  // leaves of a table of a few hundred thousand rows from being written
  // and read again for each batch.
  if (im.mdx) im.mdx->SetCacheLimit(kAppendCacheBlocks);
}

void Table::EndAppendBatch() {
  impl_->RequireOpen();
  impl_->FlushAppends();
  impl_->batching = false;
}

void Table::DropAppendBatch() {
  Impl& im = *impl_;
  im.queue.clear();
  im.queue_keys.clear();
  im.queued = 0;
  im.batching = false;
}

bool Table::InAppendBatch() const {
  return impl_->batching;
}

size_t Table::QueuedRows() const {
  return impl_->queued;
}

void Table::Cancel() {
  impl_->RequireOpen();
  Impl& im = *impl_;
  if (state_ == State::kEdit) {
    im.ReleaseEditLock();
    state_ = State::kBrowse;
    im.ReadFromDisk(recno_, buf_.data());
    if (im.active >= 0) im.key = im.KeyOf(im.active, buf_.data());
  } else if (state_ == State::kInsert) {
    state_ = State::kBrowse;
    uint32_t back = im.insert_return;
    if (!back || !GoTo(back)) {
      if (recno_ == 0) {
        First();
        return;
      }
      im.ReadFromDisk(recno_, buf_.data());
    }
  }
  im.Notify();
}

void Table::Delete() {
  impl_->RequireWritable();
  if (state_ == State::kInsert) return Cancel();
  if (state_ == State::kEdit) Cancel();
  Impl& im = *impl_;
  im.EndRun();  // a row still queued gets its number here
  if (recno_ == 0) Fail(ErrorCode::kBadState, "There is no record to delete");
  uint32_t r = recno_;
  if (!im.share.TryLockRecord(r)) {
    Fail(ErrorCode::kRecordLocked, "Record " + std::to_string(r) + " is locked by another user.");
  }
  try {
    LockGuard write_lock(*im.dbf, true);
    // The header is rewritten below: it must carry the count as it is now,
    // with other processes' appends, not as this open last saw it.
    im.share.ReloadHeader();
    im.share.ForgetCountsIfChanged();
    uint8_t flag = 0;
    im.dbf->ReadAt(im.header_len + static_cast<uint64_t>(r - 1) * im.record_len, &flag, 1);
    if (flag != '*') {
      if (im.mdx) {
        // Copies in a run learn of others' changes from the index's counter
        // alone; bumped first, so that a failure leaves the row as it was.
        im.mdx->Sync();
        im.mdx->NoteTableChange();
      }
      flag = '*';
      im.dbf->WriteAt(im.header_len + static_cast<uint64_t>(r - 1) * im.record_len, &flag, 1);
      im.share.WriteHeader();
      if (r <= im.scanned) ++im.deleted;
      im.share.NoteOwnWrite();
    }
  } catch (...) {
    im.share.UnlockRecord(r);
    throw;
  }
  im.share.UnlockRecord(r);
  im.DropBatch();
  buf_[0] = '*';
  // Go to the next row, or the one before when the deleted row was last.
  std::string key = im.key;
  bool found = im.active >= 0 ? im.SeekIndexed(Impl::Seek::kGT, key, r) : im.SeekNatural(r + 1, +1);
  if (!found)
    found = im.active >= 0 ? im.SeekIndexed(Impl::Seek::kLT, key, r) : im.SeekNatural(r - 1, -1);
  if (!found) im.ClearPosition();
  im.Notify();
}

void Table::Recall() {
  impl_->RequireWritable();
  if (state_ == State::kEdit || state_ == State::kInsert) Cancel();
  Impl& im = *impl_;
  im.EndRun();
  if (recno_ == 0) Fail(ErrorCode::kBadState, "There is no record to recall");
  uint32_t r = recno_;
  if (!im.share.TryLockRecord(r)) {
    Fail(ErrorCode::kRecordLocked, "Record " + std::to_string(r) + " is locked by another user.");
  }
  try {
    LockGuard write_lock(*im.dbf, true);
    im.share.ReloadHeader();
    im.share.ForgetCountsIfChanged();
    uint8_t flag = 0;
    im.dbf->ReadAt(im.header_len + static_cast<uint64_t>(r - 1) * im.record_len, &flag, 1);
    if (flag == '*') {
      // A deleted row keeps its keys in every tag, so only its flag and the
      // counters others watch change.
      if (im.mdx) {
        im.mdx->Sync();
        im.mdx->NoteTableChange();
      }
      flag = ' ';
      im.dbf->WriteAt(im.header_len + static_cast<uint64_t>(r - 1) * im.record_len, &flag, 1);
      im.share.WriteHeader();
      if (r <= im.scanned && im.deleted > 0) --im.deleted;
      im.share.NoteOwnWrite();
    }
  } catch (...) {
    im.share.UnlockRecord(r);
    throw;
  }
  im.share.UnlockRecord(r);
  im.DropBatch();
  buf_[0] = ' ';
  im.Notify();
}

}  // namespace klv::dbf
