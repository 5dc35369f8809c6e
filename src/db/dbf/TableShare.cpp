// What copies of the program that share a table keep in step, under the
// table's locks (see TableImpl.h for the lock bytes):
// - The header: re-read under the lock before anything depends on the
//   count (ReloadHeader), written after the records it counts.
// - The index: synced after taking a lock (SyncIndex), which re-reads it
//   when another copy changed it and refuses one left half changed.
// - A run of posts keeps the index's dirty mark on disk from one post to
//   the next while kRunLock is held; others trust such a mark only while
//   its holder lives (DirtyMarkIsLive), and EndRun writes the clean stamp.
// - The deleted-row note in the index header lets an open skip counting
//   deleted rows while the table file is exactly as the note describes.
#include "db/dbf/TableImpl.h"

namespace klv::dbf {

void Table::Impl::ReloadHeader() {
  uint8_t h[kHeaderSize];
  if (dbf->ReadStart(kHeaderSize, 0, h, kHeaderSize) != kHeaderSize)
    Fail(ErrorCode::kCorruptTable, "The table \"" + dbf_path + "\" lost its header");
  uint32_t count = Get32(h + kRecordCount);
  // The count as we last knew it was checked then, or written by us after
  // its records: only a new count needs a look at the file's size.
  if (count != table.count_ &&
      (count > kMaxRecords ||
       header_len + static_cast<uint64_t>(count) * record_len > dbf->Size())) {
    Fail(ErrorCode::kCorruptTable, "The table \"" + dbf_path + "\" is damaged: its header counts " +
                                       std::to_string(count) +
                                       " records, more than the file holds");
  }
  std::memcpy(header, h, kHeaderSize);
  if (count < table.count_) scanned = std::min(scanned, count);
  table.count_ = count;
}

void Table::Impl::WriteHeader() {
  TodayHeaderDate(header + kLastUpdate);
  Put32(header + 4, table.count_);
  // The date and the count, which lie side by side.
  dbf->WriteStart(kHeaderSize, kLastUpdate, header + kLastUpdate, kRecordCount + 4 - kLastUpdate);
}

// After a write of ours, under the write lock: the file as we left it, and
// the deleted rows we know of noted in the index for the next open.
void Table::Impl::NoteOwnWrite() {
  File::Status st = dbf->Stat();
  seen_mtime = st.modified_ns;
  NoteDeletedCount(st);
}

// The note is a shortcut for the next open, not part of the table: when it
// cannot be written the next open counts the rows itself.
void Table::Impl::NoteDeletedCount(const File::Status& st) {
  if (!mdx || table.read_only_ || scanned != table.count_) return;
  try {
    mdx->WriteTableNote(
        MdxTableNote{static_cast<uint32_t>(deleted), table.count_, st.size, st.modified_ns});
  } catch (const DbfError&) {
  }
}

// Takes the count of deleted rows from the index's note when the table file
// is exactly as it was when the note was written.
void Table::Impl::AdoptDeletedCount(const File::Status& st) {
  if (!mdx || scanned == table.count_) return;
  std::optional<MdxTableNote> note = mdx->TableNote();
  if (!note || note->record_count != table.count_ || note->deleted > table.count_ ||
      note->table_size != st.size || note->table_modified_ns != st.modified_ns)
    return;
  deleted = note->deleted;
  scanned = table.count_;
}

void Table::Impl::SyncIndex() {
  mdx->Sync();
  if (mdx->Generation() != tags_gen) LoadTags();
  // Another copy changed the index since our run's last post: the dirty
  // mark on disk is no longer ours to hold.
  if (run && !mdx->HoldsDirty()) DropRun();
  MdxStamp st = mdx->Stamp();
  if (st.present && st.dirty && !mdx->HoldsDirty() && !DirtyMarkIsLive()) {
    Fail(ErrorCode::kIndexMismatch, "The index \"" + mdx_path +
                                        "\" was left half changed by a program that stopped; "
                                        "its indexes must be regenerated");
  }
}

void Table::Impl::SyncActiveTag() {
  SyncIndex();
  if (active < 0) Fail(ErrorCode::kNoSuchTag, "The active index tag was deleted");
}

// Whether the dirty mark of the index belongs to a live copy in a run of
// posts. Such a copy leaves the index complete whenever it lets go of the
// write lock, so whoever holds that lock may trust it. Called under the
// write lock, by a copy that holds no run itself.
bool Table::Impl::DirtyMarkIsLive() {
  if (run) return mdx && mdx->HoldsDirty();
  // A change under way marks the index 1, which nobody sees but after the
  // writer stopped or failed; only the mark a run keeps between changes
  // can be a live writer's.
  if (!mdx || !mdx->Stamp().kept) return false;
  if (!dbf->TryLock(kRunLock, 1, false)) return true;
  dbf->Unlock(kRunLock, 1);
  return false;
}

void Table::Impl::OpenIndexCreatedElsewhere() {
  mdx_path = table.MdxPath();
  if (env.Exists(mdx_path)) mdx = MdxFile::Open(env, mdx_path, !table.read_only_);
}

// Ends a run of posts: the index gets its clean stamp. Never called with the
// write lock held.
void Table::Impl::EndRun() {
  FlushAppends();
  if (!run) return;
  struct Release {
    Impl& im;
    ~Release() { im.DropRun(); }
  } release{*this};
  if (!mdx) return;
  LockGuard lock(*dbf, true);
  mdx->Sync();
  if (!mdx->HoldsDirty()) {
    // Another copy changed the table during the run, perhaps deleting rows
    // this one counted.
    scanned = 0, deleted = 0;
    return;
  }
  // The count our own last post left, not the header's now: should anything
  // have added rows behind our back, the index must not claim them.
  mdx->FinishRun(run_count);
  if (mdx->Stamp().table_changes == seen_table_changes)
    NoteOwnWrite();
  else
    scanned = 0, deleted = 0;
}

void Table::Impl::DropRun() noexcept {
  if (!run) return;
  run = false;
  // Unlocking a range of a descriptor we hold open does not fail; should it,
  // the lock goes with the descriptor at the latest.
  try {
    if (dbf) dbf->Unlock(kRunLock, 1);
  } catch (...) {
  }
}

}  // namespace klv::dbf
